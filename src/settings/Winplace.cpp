#include "settings/Winplace.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include <QEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QTimer>
#include <QWindow>

#include "settings/PlayerSettings.h"
#include "ui/X11.h"

namespace {

Q_LOGGING_CATEGORY(lcPlacement, "zarncd.placement", QtWarningMsg)

// Show states of the placement record.
constexpr std::uint32_t SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3,
                        SW_SHOW = 5, SW_MINIMIZE = 6, SW_SHOWMINNOACTIVE = 7, SW_SHOWNA = 8,
                        SW_FORCEMINIMIZE = 11;

// The frame a window manager reports for a mapped window, nothing while it reports none. Under
// X11 only its own word counts (_NET_FRAME_EXTENTS): while it frames a window, Qt's measure of
// the window tree gives sides of -1279 or a frame whose client has not moved into it yet.
std::optional<QMargins> Reported_Frame(QWindow* handle) {
  if (!X11::Available()) {
    const QMargins m = handle->frameMargins();
    if (m.left() < 0 || m.top() < 0 || m.right() < 0 || m.bottom() < 0) return std::nullopt;
    return m;
  }
  const auto v = X11::Property32(handle, X11::Intern("_NET_FRAME_EXTENTS"), X11::kCardinal, 4);
  if (!v || v->size() != 4) return std::nullopt;
  // No real frame is wider; a garbled value must not make the window vast. The window manager
  // counts the screen's pixels, the window's geometry is in Qt's scaled ones.
  const qreal ratio = handle->devicePixelRatio();
  const auto side = [ratio](std::uint32_t s) {
    return qRound(std::min<std::uint32_t>(s, 1000) / ratio);
  };
  const auto& e = *v;  // left, right, top, bottom
  return QMargins(side(e[0]), side(e[2]), side(e[1]), side(e[3]));
}

constexpr Qt::WindowStates kNotNormal =
    Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

void Set_State(QWidget* window, Qt::WindowStates state);

// What a window's placement needs beyond what Qt holds: the fields X11 has no use for, the frame
// seen last, and the outer geometry asked for before the frame was known.
class TFrameTracker : public QObject {
 public:
  explicit TFrameTracker(QWidget* window) : QObject(window), window_(window) {
    setObjectName(QStringLiteral("zarncd-frame-tracker"));
    window->installEventFilter(this);
    Watch_Window();
  }

  static TFrameTracker* Of(const QWidget* window) {
    return window->findChild<TFrameTracker*>(QStringLiteral("zarncd-frame-tracker"),
                                             Qt::FindDirectChildrenOnly);
  }
  static TFrameTracker& For(QWidget* window) {
    TFrameTracker* tracker = Of(window);
    return tracker ? *tracker : *new TFrameTracker(window);
  }

  TWindowPlacement stored;  // as last read; its flags and positions are written back unchanged
  QMargins frame;           // of the normal state: the normal rectangle is measured with it
  // The stored minimised or maximised state waits until the window is framed and in its normal
  // place: applied earlier, the window would be framed, sized and placed in that state, and the
  // show-time sizing would undo it.
  std::optional<Qt::WindowStates> pendingState;
  // Waiting for the frame: the outer top-left, and the outer sizes asked for.
  std::optional<QPoint> pendingPos;
  std::optional<int> pendingWidth, pendingHeight;
  // The client rectangle of the normal state, as last seen in it: minimised, Qt's geometry follows
  // whatever the window manager reports on the way to the icon.
  std::optional<QRect> normal;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (watched == window_ && (type == QEvent::Show || type == QEvent::WinIdChange)) {
      Watch_Window();
      Check_Frame();
    } else if (watched == window_ && (type == QEvent::Move || type == QEvent::Resize) &&
               window_->isVisible() && !(window_->windowState() & kNotNormal)) {
      normal = window_->geometry();
    } else if (watched != window_ &&
               (type == QEvent::Expose || type == QEvent::Move || type == QEvent::Resize)) {
      Check_Frame();
    }
    return false;
  }

 private:
  void Watch_Window() {
    QWindow* handle = window_->windowHandle();
    if (!handle || handle == watched_) return;
    if (watched_) watched_->removeEventFilter(this);
    handle->installEventFilter(this);
    watched_ = handle;
  }

  void Check_Frame() {
    QWindow* handle = window_->windowHandle();
    if (!handle || !window_->isVisible()) return;
    // A window manager may frame a maximised window otherwise; the normal rectangle is not hers.
    if (window_->windowState() & kNotNormal) return;
    // An unmapped window, and one shown again but not yet framed again, reports no frame: the
    // frame seen last still holds for it.
    const std::optional<QMargins> seen = Reported_Frame(handle);
    if (seen && !seen->isNull() && *seen != frame) {
      frame = *seen;
      Place_Framed();
    }
    // The state waits until the window stands where it was sent: minimised or maximised before
    // the window manager has moved it, it would keep the place it was framed at as its normal
    // rectangle. A window manager that never moves it is given a second.
    if (pendingState && !frame.isNull() && (!placedAt_ || window_->geometry() == *placedAt_))
      Apply_Pending_State();
  }

  void Apply_Pending_State() {
    placedAt_.reset();
    if (pendingState) Set_State(window_, *std::exchange(pendingState, std::nullopt));
  }

  // The outer geometry asked for before the frame was known.
  void Place_Framed() {
    if (!pendingPos) return;
    // The whole client rectangle, position included: while the window manager frames the window,
    // Qt may still hold a position it reported on the way, and a plain resize would send the
    // window there.
    const QPoint client = *pendingPos + QPoint(frame.left(), frame.top());
    const int width =
        pendingWidth ? *pendingWidth - frame.left() - frame.right() : window_->width();
    const int height =
        pendingHeight ? *pendingHeight - frame.top() - frame.bottom() : window_->height();
    pendingPos.reset();
    pendingWidth.reset();
    pendingHeight.reset();
    placedAt_ = QRect(client.x(), client.y(), std::max(1, width), std::max(1, height));
    window_->setGeometry(*placedAt_);
    if (pendingState)
      QTimer::singleShot(1000, this, [this] {
        if (placedAt_) Apply_Pending_State();
      });
  }

  QWidget* window_;
  QPointer<QWindow> watched_;
  std::optional<QRect> placedAt_;  // the client rectangle sent once the frame was known
};

// A window not framed yet is shown normal, and takes the state once it is.
void Set_Stored_State(QWidget* window, TFrameTracker& tracker, Qt::WindowStates state) {
  if (tracker.frame.isNull()) {
    tracker.pendingState = state;
    Set_State(window, Qt::WindowNoState);
  } else {
    tracker.pendingState.reset();
    Set_State(window, state);
  }
}

QMargins Frame_Of(const QWidget* window) {
  const TFrameTracker* tracker = TFrameTracker::Of(window);
  return tracker ? tracker->frame : QMargins();
}

// Resizes the client area. Before the frame is known the outer top-left is remembered for when it
// is; and since Qt positions a window that is created but not framed yet by its client area once
// it has been resized, which would put the client where the frame belongs, the frame is put back
// in place.
void Resize_Client(QWidget* window, const QSize& size) {
  TFrameTracker& tracker = TFrameTracker::For(window);
  const QPoint outer = window->pos();
  window->resize(size);
  if (!tracker.frame.isNull()) return;
  tracker.pendingPos = outer;
  if (QWindow* handle = window->windowHandle()) handle->setFramePosition(outer);
}

void Set_State(QWidget* window, Qt::WindowStates state) {
  const Qt::WindowStates kept = window->windowState() & ~kNotNormal;
  if (window->windowState() == (kept | state)) return;
  if (TFrameTracker* tracker = TFrameTracker::Of(window);
      tracker && !(window->windowState() & kNotNormal))
    tracker->normal = window->geometry();
  window->setWindowState(kept | state);
}

// The outer rectangle the window returns to when neither minimised nor maximised.
QRect Outer_Normal_Rect(const QWidget* window) {
  const TFrameTracker* tracker = TFrameTracker::Of(window);
  const QRect client = window->isMaximized() || window->isFullScreen() ? window->normalGeometry()
                       : window->isMinimized() && tracker && tracker->normal ? *tracker->normal
                                                                             : window->geometry();
  return client.marginsAdded(Frame_Of(window));
}

// The signed fields, in the order of the file after PlaceFlags and PlaceShowCmd.
struct TPositionKey {
  const char* name;
  std::int32_t TWindowPlacement::*field;
};
const TPositionKey kPositionKeys[] = {
    {"PlaceMinPos.X", &TWindowPlacement::minX},
    {"PlaceMinPos.Y", &TWindowPlacement::minY},
    {"PlaceMaxPos.X", &TWindowPlacement::maxX},
    {"PlaceMaxPos.Y", &TWindowPlacement::maxY},
    {"PlaceNormalPos.Left", &TWindowPlacement::left},
    {"PlaceNormalPos.Top", &TWindowPlacement::top},
    {"PlaceNormalPos.Right", &TWindowPlacement::right},
    {"PlaceNormalPos.Bottom", &TWindowPlacement::bottom},
};

std::int32_t As_Int(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}

std::vector<QRect> Screens() {
  std::vector<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens.push_back(screen->geometry());
  return screens;
}

int Largest_Height() {
  return Largest_Window_Size(Screens()).height();
}

}  // namespace

TWindowPlacement Read_Window_Placement(const ProfileFile::Snapshot& file,
                                       const std::string& section, bool show,
                                       const TWindowPlacement& current) {
  TWindowPlacement p = current;
  p.flags = static_cast<std::uint32_t>(
      file.Profile_Read_Integer(section, "PlaceFlags", As_Int(current.flags)));
  p.showCmd = show ? static_cast<std::uint32_t>(file.Profile_Read_Integer(section, "PlaceShowCmd",
                                                                          As_Int(current.showCmd)))
                   : SW_HIDE;
  for (const TPositionKey& key : kPositionKeys)
    p.*key.field = file.Profile_Read_Integer(section, key.name, current.*key.field);
  return p;
}

ProfileFile::Update Window_Placement_Update(const std::string& section, const TWindowPlacement& p) {
  ProfileFile::Update u;
  u.Profile_Write_Integer(section, "PlaceFlags", As_Int(p.flags));
  u.Profile_Write_Integer(section, "PlaceShowCmd", As_Int(p.showCmd));
  for (const TPositionKey& key : kPositionKeys)
    u.Profile_Write_Integer(section, key.name, p.*key.field);
  return u;
}

QSize Largest_Window_Size(const std::vector<QRect>& screens) {
  QRect desktop;
  for (const QRect& s : screens) desktop |= s;
  if (desktop.isEmpty()) return QSize(kLargestExtent, kLargestExtent);
  return QSize(std::min(desktop.width(), kLargestExtent),
               std::min(desktop.height(), kLargestExtent));
}

QRect Usable_Normal_Rect(const TWindowPlacement& p, const std::vector<QRect>& screens) {
  using i64 = std::int64_t;
  const QSize largest = Largest_Window_Size(screens);
  const i64 w = std::clamp<i64>(i64{p.right} - p.left, 1, largest.width());
  const i64 h = std::clamp<i64>(i64{p.bottom} - p.top, 1, largest.height());
  i64 x = p.left, y = p.top;
  // Distance between [a0, a1) and [b0, b1) along one axis; 0 where they meet or overlap.
  const auto gap = [](i64 a0, i64 a1, i64 b0, i64 b1) {
    return std::max<i64>({0, b0 - a1, a0 - b1});
  };
  const QRect* nearest = nullptr;
  double best = 0;
  for (const QRect& s : screens) {
    const i64 sx0 = s.x(), sx1 = sx0 + s.width(), sy0 = s.y(), sy1 = sy0 + s.height();
    if (x < sx1 && sx0 < x + w && y < sy1 && sy0 < y + h) {
      nearest = nullptr;
      break;
    }
    const double dx = static_cast<double>(gap(x, x + w, sx0, sx1));
    const double dy = static_cast<double>(gap(y, y + h, sy0, sy1));
    if (!nearest || dx * dx + dy * dy < best) nearest = &s, best = dx * dx + dy * dy;
  }
  if (nearest) {
    const i64 sx0 = nearest->x(), sy0 = nearest->y();
    x = std::clamp<i64>(x, sx0, std::max<i64>(sx0, sx0 + nearest->width() - w));
    y = std::clamp<i64>(y, sy0, std::max<i64>(sy0, sy0 + nearest->height() - h));
  }
  return QRect(static_cast<int>(std::clamp<i64>(x, -kLargestExtent, kLargestExtent)),
               static_cast<int>(std::clamp<i64>(y, -kLargestExtent, kLargestExtent)),
               static_cast<int>(w), static_cast<int>(h));
}

TWindowPlacement Get_Window_Placement(const QWidget* window) {
  const TFrameTracker* tracker = TFrameTracker::Of(window);
  TWindowPlacement p = tracker ? tracker->stored : TWindowPlacement{};
  // As on Windows, a hidden window reports the state it would be shown in.
  p.showCmd = window->isMinimized()   ? SW_SHOWMINIMIZED
              : window->isMaximized() ? SW_SHOWMAXIMIZED
                                      : SW_SHOWNORMAL;
  const QRect r = Outer_Normal_Rect(window);
  p.left = r.x();
  p.top = r.y();
  p.right = r.x() + r.width();
  p.bottom = r.y() + r.height();
  return p;
}

void Set_Window_Placement(QWidget* window, const TWindowPlacement& p) {
  TFrameTracker& tracker = TFrameTracker::For(window);
  tracker.stored = p;
  // A window of a fixed size keeps it, whatever the file says, and is placed by it: placed by a
  // stored size of 1, it could stay on the screen by a sliver.
  TWindowPlacement sized = p;
  if (window->minimumSize() == window->maximumSize()) {
    const QSize fixed = window->maximumSize().grownBy(tracker.frame);
    sized.left = std::min(p.left, INT32_MAX - fixed.width());
    sized.top = std::min(p.top, INT32_MAX - fixed.height());
    sized.right = sized.left + fixed.width();
    sized.bottom = sized.top + fixed.height();
  }
  const QRect outer = Usable_Normal_Rect(sized, Screens());
  if (outer.topLeft() != QPoint(p.left, p.top))
    qCInfo(lcPlacement) << "stored position" << p.left << p.top << "lies off every screen; shown at"
                        << outer.topLeft();

  // Applying the placement a window already has changes nothing, and leaves the size the window
  // was designed with in client terms.
  if (outer != Outer_Normal_Rect(window)) {
    if (window->windowState() & kNotNormal) Set_State(window, Qt::WindowNoState);
    window->move(outer.topLeft());
    const QMargins frame = tracker.frame;
    if (frame.isNull()) {
      tracker.pendingWidth = outer.width();
      tracker.pendingHeight = outer.height();
    }
    Resize_Client(window, QSize(std::max(1, outer.width() - frame.left() - frame.right()),
                                std::max(1, outer.height() - frame.top() - frame.bottom())));
  }

  // Showing is left to the program, which shows its windows in their own order; the state is
  // what they come up in.
  switch (p.showCmd) {
    case SW_HIDE:
      tracker.pendingState.reset();
      window->hide();
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      Set_Stored_State(window, tracker, Qt::WindowMinimized);
      break;
    case SW_SHOWMAXIMIZED:
      Set_Stored_State(window, tracker, Qt::WindowMaximized);
      break;
    case SW_SHOW:
    case SW_SHOWNA:
      break;
    default:  // the normal ones, and values of no meaning
      tracker.pendingState.reset();
      Set_State(window, Qt::WindowNoState);
      break;
  }
}

void Restore_Window_Placement(QWidget* window, const std::string& section, bool show) {
  const ProfileFile::Snapshot file = ProfileFile(Settings_File_Path()).Read_Snapshot();
  Set_Window_Placement(window,
                       Read_Window_Placement(file, section, show, Get_Window_Placement(window)));
}

void Save_Window_Placement(QWidget* window, const std::string& section) {
  Write_Settings(Settings_File_Path(),
                 Window_Placement_Update(section, Get_Window_Placement(window)));
}

int Frame_Height(const QWidget* window) {
  const QMargins frame = Frame_Of(window);
  return frame.top() + frame.bottom();
}

int Outer_Height(const QWidget* window) {
  return window->height() + Frame_Height(window);
}

void Set_Outer_Height(QWidget* window, int height) {
  TFrameTracker& tracker = TFrameTracker::For(window);
  const int outer = std::clamp(height, 1, Largest_Height());
  if (tracker.frame.isNull()) tracker.pendingHeight = outer;
  Resize_Client(window, QSize(window->width(), std::max(1, outer - Frame_Height(window))));
}

void Set_Client_Height(QWidget* window, int height) {
  TFrameTracker::For(window).pendingHeight.reset();
  Resize_Client(window,
                QSize(window->width(),
                      std::clamp(height, 1, std::max(1, Largest_Height() - Frame_Height(window)))));
}

int Display_Panel_Height(int points) {
  return std::clamp(points, 1, kLargestDisplayPoints) + 20;
}

QFont Display_Panel_Font(QFont font) {
  if (Font_Points(font) > kLargestDisplayPoints)
    font.setPixelSize(Font_Points_To_Pixels(kLargestDisplayPoints));
  return font;
}
