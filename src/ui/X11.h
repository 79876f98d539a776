#pragma once
// The X11 connection Qt opened, for what Qt offers no way to do: window properties the window
// manager reads or writes, the pointer's buttons while the window manager holds the pointer, and
// a window taken off the screen behind Qt's back. Every call goes through Qt's own connection,
// so that it arrives in order with Qt's requests. Under any other platform (Wayland, offscreen)
// there is no connection, and each call does nothing and answers nothing.
#include <cstdint>
#include <optional>
#include <vector>

#include <QImage>
#include <QRect>
#include <QRegion>

class QScreen;
class QWindow;

namespace X11 {

using Atom = std::uint32_t;
// Atoms every server predefines.
constexpr Atom kCardinal = 6, kWmHints = 35;

// Whether Qt runs on an X server: its xcb platform, with a connection.
bool Available();

// The atom of a name, interned once per name and kept; 0 (None) without a connection.
Atom Intern(const char* name);

// A 32-bit property of a window, at most `count` items; nothing while the window has none of
// that type.
std::optional<std::vector<std::uint32_t>> Property32(const QWindow* window, Atom property,
                                                     Atom type, std::uint32_t count);
// Replaces a property of a window with `count` items of `format` bits (8, 16 or 32) each.
void Set_Property(const QWindow* window, Atom property, Atom type, int format, std::uint32_t count,
                  const void* data);

// Whether some client owns a selection, such as the compositing manager's _NET_WM_CM_S0.
bool Selection_Owned(const char* selection);

// Whether the left button is held, asked of the server: during the window manager's move the
// pointer belongs to the window manager, and no release reaches this program.
bool Left_Button_Held();

// Takes a window off the screen that another program mapped while Qt holds it hidden, where
// hiding it through Qt would do nothing: unmapped, and withdrawn as the window manager expects.
void Withdraw(const QWindow* window);

// Whether Put_Picture can put pixels of Format_RGB32 on a window as they are: the window is 24
// bits deep and stores them in 32 bits in this machine's byte order. Asks the server each time.
bool Can_Put_Picture(const QWindow* window);
// Puts parts of a window's picture (Format_RGB32, in the window's own pixels) on a window that
// Can_Put_Picture accepted, as requests that wait for no answer; false, and not all put, without
// a connection or for a part too large for one request.
bool Put_Picture(const QWindow* window, const QImage& picture, const QRegion& parts);

// What the screen shows in `area` (in the screen's own coordinates), read from the root window,
// at `size` pixels however the screen is scaled; a null picture where the screen cannot be read.
QImage Root_Picture(QScreen* screen, const QRect& area, QSize size);

}  // namespace X11
