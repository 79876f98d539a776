#pragma once
// Where the two top-level windows stood, kept in ZarnCD.ini across runs, and the outer (frame)
// sizes the main window's tall and compact modes are measured in.
//
// The file holds the ten stored fields of the Windows placement record, so that a file written
// by either platform keeps its meaning. On X11 the normal rectangle is the window's outer frame
// rectangle (the client area when no window manager frames it) and the show state is hidden,
// normal, minimised or maximised; the flags and the minimised and maximised positions mean
// nothing here and are written back as they were read.
//
// X11 tells a client its frame only once the window manager has framed the mapped window, after
// the program has already sized it. An outer size asked for before that is therefore remembered
// and the client area corrected when the frame becomes known; the frame seen last in the normal
// state is kept while the window is unmapped, minimised or maximised. A stored minimised or
// maximised state is taken only then, once the window stands framed in its normal rectangle;
// without a window manager that reports frames the window stays normal. Frames are counted in
// the screen's pixels and converted to Qt's scaled ones. All of it runs on the GUI thread.
#include <cstdint>
#include <string>
#include <vector>

#include <QFont>
#include <QRect>

#include "profile/ProfileFile.h"

class QWidget;

// The stored fields of the platform's placement record, with the values a window that was never
// minimised or maximised reports.
struct TWindowPlacement {
  std::uint32_t flags = 0;    // WPF_SETMINPOSITION 1, WPF_RESTORETOMAXIMIZED 2
  std::uint32_t showCmd = 1;  // SW_HIDE 0, SW_SHOWNORMAL 1, SW_SHOWMINIMIZED 2, SW_SHOWMAXIMIZED 3
  std::int32_t minX = -1, minY = -1, maxX = -1, maxY = -1;
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive

  bool operator==(const TWindowPlacement&) const = default;
};

// Reads the window's placement from `section` and applies it. Without the show flag the stored
// show state is not read and the window is hidden. A window not shown yet comes up in the
// restored state when the program shows it (minimised or maximised once it is framed). A window
// of a fixed size keeps it; the stored rectangle gives its place.
void Restore_Window_Placement(QWidget* window, const std::string& section, bool show);
// Writes the window's current placement into `section`, the ten keys as one update. Raises
// EProfileError, writing none of them, when the file cannot be written.
void Save_Window_Placement(QWidget* window, const std::string& section);

// The placement as the window holds it now, and applying one; used by the two routines above.
TWindowPlacement Get_Window_Placement(const QWidget* window);
void Set_Window_Placement(QWidget* window, const TWindowPlacement& placement);

// The ten keys in the order they are read and written; each missing key keeps `current`.
TWindowPlacement Read_Window_Placement(const ProfileFile::Snapshot& file,
                                       const std::string& section, bool show,
                                       const TWindowPlacement& current);
ProfileFile::Update Window_Placement_Update(const std::string& section,
                                            const TWindowPlacement& placement);

// The largest width or height X11 accepts.
constexpr int kLargestExtent = 32767;
// The largest outer size of a window: no larger than the desktop, as Windows keeps its windows
// (the maximum tracking size), nor than X11 accepts. A window of 32767 x 32767 pixels would need
// a 4 GiB back buffer, and window managers place one that is larger than the screen so that the
// controls at its top-left end up off the screen.
QSize Largest_Window_Size(const std::vector<QRect>& screens);
// The outer rectangle to show for a stored normal rectangle: each side clamped to 1 to the
// largest size, and a rectangle that lies wholly outside every screen moved onto the nearest one,
// keeping its size. One that is partly on a screen stays where it is.
QRect Usable_Normal_Rect(const TWindowPlacement& placement, const std::vector<QRect>& screens);

// Outer sizes: the client area plus the frame, the frame being outer minus client.
int Frame_Height(const QWidget* window);
int Outer_Height(const QWidget* window);
// Sets the outer height (clamped to 1 to the largest height); the client takes what the frame
// leaves.
void Set_Outer_Height(QWidget* window, int height);
// Sets the client height (clamped likewise), the frame staying as it is.
void Set_Client_Height(QWidget* window, int height);

// The main window's display panel is its font size in points plus 20 pixels high. A font whose
// glyphs are taller than that panel shows only their middle, and one of a thousand points pushed
// every control out of the window; the panel shows at most this size.
constexpr int kLargestDisplayPoints = 54;  // 72-pixel glyphs inside the 74-pixel panel's bevel
int Display_Panel_Height(int points);
QFont Display_Panel_Font(QFont font);
