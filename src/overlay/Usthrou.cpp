#include "overlay/Usthrou.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "log/Log.h"
#include "overlay/Artwork.h"
#include "settings/PlayerSettings.h"
#include "settings/Winplace.h"
#include "ui/Guarded.h"
#include "ui/X11.h"

namespace {

TSeeThroughUnitState State;

constexpr int kSaveLeft = 3, kSaveTop = 3;
constexpr int kInfoWidth = 185;
const QPoint kLogoAt(16, 8);
// Where the scratch pictures of the two lines go in imageBack, which lies at (3, 3).
const QPoint kInfoAt(56, 20), kInfoTimeAt(60, 7);

// Black in a picture: opaque in the capture's pictures, transparent in the translucent window's.
QRgb Black_Of(const QImage& picture) {
  return picture.hasAlphaChannel() ? 0x00000000 : 0xFF000000;
}

QImage Picture(int width, int height, bool live) {
  QImage picture(width, height, live ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  picture.fill(Black_Of(picture));
  return picture;
}

// Antialiased edges would be blends that the two passes of a text line turn into stray colours;
// glyphs drawn whole are what makes the text exactly the font's colour.
QFont Crisp(QFont font) {
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

bool Wayland_Session() {
  return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         qgetenv("XDG_SESSION_TYPE") == "wayland";
}

// Marks a window to be mapped in its normal state. Qt marks a window it minimises to be mapped
// minimised, and leaves the mark when the window manager restores the window, so that the next
// hide and show would put the window back in the taskbar.
void Map_Normal_Next_Time(QWindow* window) {
  if (!X11::Available()) return;
  // WM_HINTS: flags, input, initial_state, then six fields this leaves alone.
  constexpr std::uint32_t kStateHint = 1U << 1, kNormalState = 1;
  std::array<std::uint32_t, 9> hints{};
  if (const auto stored = X11::Property32(window, X11::kWmHints, X11::kWmHints, hints.size()))
    std::copy(stored->begin(), stored->end(), hints.begin());
  hints[0] |= kStateHint;
  hints[2] = kNormalState;
  X11::Set_Property(window, X11::kWmHints, X11::kWmHints, 32, hints.size(), hints.data());
}

bool Use_Translucent_Window(bool asked) {
  if (Wayland_Session()) return true;
  if (!asked) return false;
  // A compositing manager owns the selection _NET_WM_CM_S<screen>.
  if (X11::Selection_Owned("_NET_WM_CM_S0")) return true;
  static bool told = false;
  if (!told)
    qCWarning(lcOverlay) << "[SeeThrough] Live=1 needs a compositing manager, and none runs; "
                            "the see-through window reads the screen behind it instead";
  told = true;
  return false;
}

}  // namespace

const TSeeThroughUnitState& SeeThrough_Unit_State() {
  return State;
}

// ---------------------------------------------------------------------------------------------
// Drawing steps

void Darken_Panel(QImage& surface) {
  if (surface.hasAlphaChannel()) {
    QPainter painter(&surface);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(6, 6, 245, 37), QColor(0, 0, 0, 128));
    return;
  }
  for (int y = 6; y <= 42; ++y) {
    auto* line = reinterpret_cast<QRgb*>(surface.scanLine(y));
    for (int x = 6; x <= 250; ++x) line[x] = 0xFF000000 | ((line[x] >> 1) & 0x7F7F7F);
  }
}

namespace {

// destination := destination OP source, bit by bit over all 32 bits of a pixel, for the source's
// rectangle `from` placed at `at`, cut to the target. Qt's own AND raster operation makes every
// pixel it touches opaque, which would put black squares on the translucent window.
template <typename Op>
void Raster_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from, Op op) {
  Q_ASSERT(target.format() == source.format() && target.depth() == 32);
  const QPoint shift = from.topLeft() - at;  // from target to source coordinates
  const QRect area = QRect(at, from.size()) & target.rect();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* to = reinterpret_cast<QRgb*>(target.scanLine(y));
    const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y + shift.y()));
    for (int x = area.left(); x <= area.right(); ++x) to[x] = op(to[x], row[x + shift.x()]);
  }
}

// The smallest rectangle of `area` in which `now` differs from `before`, whose pixel (x, y) is
// `before`'s pixel at (x, y) + offset; nothing where they are the same.
QRect Differing(const QImage& now, const QImage& before, QPoint offset, const QRect& area) {
  int left = area.right() + 1, right = area.left() - 1, top = -1, bottom = -1;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const auto* a = reinterpret_cast<const QRgb*>(now.constScanLine(y));
    const auto* b =
        reinterpret_cast<const QRgb*>(before.constScanLine(y + offset.y())) + offset.x();
    int l = area.left(), r = area.right();
    while (l <= r && a[l] == b[l]) ++l;
    if (l > r) continue;
    while (a[r] == b[r]) --r;
    if (top < 0) top = y;
    bottom = y;
    left = std::min(left, l);
    right = std::max(right, r);
  }
  return top < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

void Plain_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from) {
  Raster_Copy(target, at, source, from, [](QRgb, QRgb from) { return from; });
}

void Or_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from) {
  Raster_Copy(target, at, source, from, [](QRgb to, QRgb from) { return to | from; });
}

void And_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from) {
  Raster_Copy(target, at, source, from, [](QRgb to, QRgb from) { return to & from; });
}

void Put_Masked(QImage& target, QPoint at, const QImage& mask, const QImage& picture) {
  Or_Copy(target, at, mask, mask.rect());
  And_Copy(target, at, picture, picture.rect());
}

TTextLine::TTextLine(QSize field, bool live) : field_(field), live_(live) {}

void TTextLine::Prepare(const TFontHolder& holder, const QString& text) {
  if (!rendered_ || text != text_ || holder.font != font_ || holder.color.rgb() != color_)
    Render(holder, text);
}

QRect TTextLine::Place(int x, QPoint at, int* column) const {
  // The field shows the strip's columns from margin_ - x on.
  const QPoint origin(margin_ - x, 0);
  const QRect shown = QRect(origin, field_) & glyphs_.rect();
  *column = shown.left();
  return QRect(at + shown.topLeft() - origin, shown.size());
}

void TTextLine::Draw(const TFontHolder& holder, const QString& text, int x, QImage& back, QPoint at,
                     const QRect& clip) {
  Prepare(holder, text);
  int column = 0;
  const QRect place = Place(x, at, &column);
  drawn_ = true;
  drawnPlace_ = place;
  drawnX_ = x;
  drawnAt_ = at;
  const QRect area = clip.isNull() ? place : place & clip;
  if (area.isEmpty()) return;
  const QRect from(QPoint(column, 0) + area.topLeft() - place.topLeft(), area.size());
  Or_Copy(back, area.topLeft(), glyphs_, from);
  And_Copy(back, area.topLeft(), ink_, from);
}

QRegion TTextLine::Change(const TFontHolder& holder, const QString& text, int x, QPoint at) {
  const bool same = drawn_ && rendered_ && text == text_ && holder.font == font_ &&
                    holder.color.rgb() == color_ && x == drawnX_ && at == drawnAt_;
  if (same) return {};
  QRegion change = drawn_ ? QRegion(drawnPlace_) : QRegion();
  Prepare(holder, text);
  int column = 0;
  return change + Place(x, at, &column);
}

void TTextLine::Render(const TFontHolder& holder, const QString& text) {
  rendered_ = true;
  text_ = text;
  font_ = holder.font;
  color_ = holder.color.rgb();
  const QFont font = Crisp(font_);
  width_ = Text_Line_Width(holder, text);
  // Room for glyphs that reach past their advance on either side, such as italics.
  margin_ = QFontMetrics(font).height();
  glyphs_ = Picture(std::max(1, width_ + 2 * margin_), field_.height(), live_);
  {
    QPainter painter(&glyphs_);
    painter.setFont(font);
    painter.setPen(Qt::white);
    // The text's cell starts at the field's top.
    painter.drawText(margin_, painter.fontMetrics().ascent(), text);
  }
  // The same glyphs in the font's colour on white: unsmoothed, a glyph covers the same pixels
  // whatever its colour.
  ink_ = QImage(glyphs_.size(), glyphs_.format());
  const QRgb ink = 0xFF000000 | color_;
  for (int y = 0; y < glyphs_.height(); ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(glyphs_.constScanLine(y));
    auto* to = reinterpret_cast<QRgb*>(ink_.scanLine(y));
    for (int x = 0; x < glyphs_.width(); ++x) to[x] = from[x] == 0xFFFFFFFF ? ink : 0xFFFFFFFF;
  }
}

int Text_Line_Width(const TFontHolder& holder, const QString& text) {
  static const QImage device(1, 1, QImage::Format_RGB32);
  return QFontMetrics(Crisp(holder.font), &device).horizontalAdvance(text);
}

// ---------------------------------------------------------------------------------------------
// The window

TfrmSeeThrough::TfrmSeeThrough(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      live_(Use_Translucent_Window(PlayerSettings.SeeThrough_Live)),
      imageInfo(QSize(kInfoWidth, 25), live_),
      imageInfoTime(QSize(kInfoWidth, 17), live_) {
  setWindowTitle(QStringLiteral("Information"));
  // The window is one picture; a screen reader can at least say what it is for.
  setAccessibleDescription(QStringLiteral(
      "What plays, floating over the desktop: the track, its time and the disc's names as chosen "
      "in the options, and the track and time below them"));
  move(40, 15);
  // The window shows only what this unit puts on it: nothing may clear it first.
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(live_ ? Qt::WA_TranslucentBackground : Qt::WA_OpaquePaintEvent);
  PopupMenu = new QMenu(this);
  const auto item = [this](const char* caption, void (TfrmSeeThrough::*handler)()) {
    return PopupMenu->addAction(QString::fromLatin1(caption), this, handler);
  };
  pupPlay = item("Play", &TfrmSeeThrough::pupPlayClick);
  pupNext = item("Next", &TfrmSeeThrough::pupNextClick);
  pupPrevious = item("Previous", &TfrmSeeThrough::pupPreviousClick);
  pupEject = item("Eject CD", &TfrmSeeThrough::pupEjectClick);
  PopupMenu->addSeparator();
  pupMinimized = item("Minimized", &TfrmSeeThrough::pupMinimizedClick);
  // The two check items act by the mark they showed, which Qt has already flipped by the time
  // they are triggered; the handlers set the marks themselves.
  const auto checkItem = [this](const char* caption, void (TfrmSeeThrough::*handler)()) {
    QAction* action = PopupMenu->addAction(QString::fromLatin1(caption));
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, action, handler](bool checked) {
      action->setChecked(!checked);
      (this->*handler)();
    });
    return action;
  };
  pupRepeadDisc = checkItem("Repeat Disc", &TfrmSeeThrough::pupRepeadDiscClick);
  pupViewMain = checkItem("Disp Control", &TfrmSeeThrough::pupViewMainClick);
  pupPowerOff = item("Power Off", &TfrmSeeThrough::pupPowerOffClick);
  connect(PopupMenu, &QMenu::aboutToShow, this, &TfrmSeeThrough::PopupMenuPopup);
  moveWatch_ = new QTimer(this);
  moveWatch_->setInterval(20);
  connect(moveWatch_, &QTimer::timeout, this, [this] {
    if (X11::Left_Button_Held()) return;
    moveWatch_->stop();
    Move_Done();
  });

  fontTrackTitle.font = QFont(QStringLiteral("ＭＳ 明朝"));
  fontTrackTitle.font.setPixelSize(16);
  fontTrackTitle.font.setBold(true);
  fontTrackTitle.color = QColor(255, 255, 0);
  fontTime.font = QFont(QStringLiteral("ＭＳ ゴシック"));
  fontTime.font.setPixelSize(12);
  fontTime.font.setBold(true);
  fontTime.color = QColor(255, 255, 0);

  Timer = new QTimer(this);
  Timer->setInterval(100);
  connect(Timer, &QTimer::timeout, this, &TfrmSeeThrough::TimerTimer);

  const auto take = [this](TMaskedPicture art, QImage& picture, QImage& mask) {
    if (live_) art = Translucent(art);
    picture = art.picture;
    mask = art.mask;
  };
  take(Logo_Artwork(), imageLOGO, imageLOGOmsk);
  take(Bracket_Artwork(TCorner::TopLeft), imageCRT, imageCRTmsk);
  take(Bracket_Artwork(TCorner::BottomLeft), imageCRB, imageCRBmsk);
  take(Bracket_Artwork(TCorner::TopRight), imageCLT, imageCLTmsk);
  take(Bracket_Artwork(TCorner::BottomRight), imageCLB, imageCLBmsk);
  surface_ = Picture(256, 48, live_);
  imageSave = Picture(250, 42, live_);
  imageBack = Picture(250, 42, live_);

  FormCreate();
}

TfrmSeeThrough::~TfrmSeeThrough() {
  Run_Guarded([this] { FormDestroy(); });
}

void TfrmSeeThrough::FormCreate() {
  State.Title_X = 0;
  State.Grab_Next_Paint = false;
  State.Background_Ready = false;
  setFixedSize(256, 48);
  // Moved to where it stood even when it is not in use, so that it comes back there. It never
  // comes up minimised: without a taskbar nothing would bring it back, and it is the program's
  // control surface while the main window is hidden.
  Restore_Window_Placement(this, "SHWindow", PlayerSettings.SeeThrough_Use);
  setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
}

void TfrmSeeThrough::FormDestroy() {
  Save_Window_Placement(this, "SHWindow");
}

void TfrmSeeThrough::Draw_Info(const QString& displayText, const QString& timeText, bool playing) {
  if (!isVisible() || !State.Background_Ready) return;
  if (!playing) State.Title_X = 0;
  // Only what changed is drawn again over the kept picture and put on the screen: the display
  // line while it scrolls, the time line once a second. Both lines are drawn within each changed
  // part, in their order, which gives the pixels that drawing the whole face would give.
  QRegion changed = imageInfo.Change(fontTrackTitle, displayText, State.Title_X, kInfoAt) +
                    imageInfoTime.Change(fontTime, timeText, 0, kInfoTimeAt);
  if (!faceDrawn_) changed = imageBack.rect();
  changed &= imageBack.rect();
  // Of those, the screen gets only the pixels that differ from what it shows.
  const QPoint save(kSaveLeft, kSaveTop);
  QRegion shown;
  for (const QRect& area : changed) {
    Plain_Copy(imageBack, area.topLeft(), imageSave, area);
    imageInfo.Draw(fontTrackTitle, displayText, State.Title_X, imageBack, kInfoAt, area);
    imageInfoTime.Draw(fontTime, timeText, 0, imageBack, kInfoTimeAt, area);
    const QRect differing = Differing(imageBack, surface_, save, area);
    Plain_Copy(surface_, differing.topLeft() + save, imageBack, differing);
    shown += differing.translated(save);
  }
  faceDrawn_ = true;
  if (--State.Title_X <= -imageInfo.Text_Width()) State.Title_X = kInfoWidth;
  if (!shown.isEmpty()) Put_On_Screen(shown);
  if (frmMain && frmMain->isVisible() != PlayerSettings.MainForm)
    frmMain->setVisible(PlayerSettings.MainForm);
  else if (frmMain && !PlayerSettings.MainForm && frmMain->windowHandle() &&
           frmMain->windowHandle()->isExposed())
    X11::Withdraw(frmMain->windowHandle());
}

void TfrmSeeThrough::Paint_Overlay() {
  State.Background_Ready = false;
  if (live_ || State.Grab_Next_Paint)
    Compose();
  else
    Capture();
}

// The capture's first step: the window leaves the screen, and its timer counts the ticks the
// windows beneath have to repaint themselves. Meanwhile the program goes on as ever; the window
// being hidden, nothing draws on it, and paint requests and moves wait for the capture's end.
void TfrmSeeThrough::Capture() {
  State.Grab_Next_Paint = true;
  capturing_ = true;
  backAfterCapture_ = true;
  hide();
  State.Wait_Ticks = 5;
  Timer->start();
}

void TfrmSeeThrough::TimerTimer() {
  if (!capturing_) {
    Timer->stop();
    return;
  }
  if (--State.Wait_Ticks > 0) return;
  Timer->stop();
  End_Capture();
}

// The last step: the screen is read where the window stands, and the window comes back over
// it; its showing is the paint request that composes the face.
void TfrmSeeThrough::End_Capture() {
  capturing_ = false;
  // Hidden meanwhile for good: the next showing captures afresh.
  if (!backAfterCapture_) {
    State.Grab_Next_Paint = false;
    return;
  }
  Grab_Screen();
  show();
  activateWindow();
}

void TfrmSeeThrough::Grab_Screen() {
  QScreen* screen = this->screen();
  if (!screen) return;
  const QPoint at = geometry().topLeft() - screen->geometry().topLeft();
  const QImage shot = X11::Root_Picture(screen, QRect(at, surface_.size()), surface_.size());
  if (shot.isNull()) {
    qCWarning(lcOverlay) << "the screen behind the see-through window could not be read";
    return;
  }
  surface_ = shot;
}

void TfrmSeeThrough::Compose() {
  State.Grab_Next_Paint = false;
  if (live_) surface_.fill(Qt::transparent);
  Darken_Panel(surface_);
  Put_Masked(surface_, kLogoAt, imageLOGOmsk, imageLOGO);
  const int w = width(), h = height();
  Put_Masked(surface_, {0, 0}, imageCRTmsk, imageCRT);
  Put_Masked(surface_, {0, h - 16}, imageCRBmsk, imageCRB);
  Put_Masked(surface_, {w - 16, 0}, imageCLTmsk, imageCLT);
  Put_Masked(surface_, {w - 16, h - 16}, imageCLBmsk, imageCLB);
  imageSave = surface_.copy(QRect(QPoint(kSaveLeft, kSaveTop), imageSave.size()));
  faceDrawn_ = false;
  Flush(rect());
  putDirect_ =
      !live_ && windowHandle() && devicePixelRatio() == 1 && X11::Can_Put_Picture(windowHandle());
  State.Background_Ready = true;
}

// ---------------------------------------------------------------------------------------------
// Painting

void TfrmSeeThrough::Flush(const QRegion& area) {
  flushing_ = area;
  repaint(area);
  flushing_ = QRegion();
}

// Qt's own way, a repaint, first waits for the X server to finish reading the shared memory it
// put the same strip from a tick earlier: a round trip five times a second, which costs the
// program more than all the drawing. The changed parts go to the window as they are instead,
// where the window stores our pixels as they are; whatever Qt puts on the screen later it paints
// from `surface_`, which holds them too.
void TfrmSeeThrough::Put_On_Screen(const QRegion& area) {
  if (!putDirect_ || !windowHandle() || !X11::Put_Picture(windowHandle(), surface_, area))
    Flush(area);
}

void TfrmSeeThrough::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  for (const QRect& area : event->region()) painter.drawImage(area, surface_, area);
  painter.end();
  if ((event->region() - flushing_).isEmpty()) return;
  Queue_Paint_Request();
}

// The request runs once the window system's painting is over, as the capture hides the window
// and waits; requests that pile up before it runs are one request.
void TfrmSeeThrough::Queue_Paint_Request() {
  if (paintQueued_) return;
  paintQueued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        paintQueued_ = false;
        // A minimised window has nothing behind it to show; its restore asks again.
        // Nor is there a capture during a move: hiding the window would end the move.
        if (isVisible() && !isMinimized() && !capturing_ && !Moving()) Paint_Overlay();
      },
      Qt::QueuedConnection);
}

void TfrmSeeThrough::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!watchingExposure_ && windowHandle()) {
    windowHandle()->installEventFilter(this);
    watchingExposure_ = true;
  }
}

// Qt answers an exposure from the picture it keeps and paints nothing; here it is a paint request
// like any other, so that an uncovered window comes back over what now lies behind it.
bool TfrmSeeThrough::eventFilter(QObject* watched, QEvent* event) {
  if (watched == frmMain && event->type() == QEvent::WindowStateChange &&
      (static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized) &&
      !frmMain->isMinimized())
    Restore_Application();
  if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed())
    update();
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Dragging

// A press of the left button anywhere moves the window, as its caption bar would if it had one.
// The usual press processing is left out: nothing else happens on a left press.
void TfrmSeeThrough::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  if (windowHandle() && windowHandle()->startSystemMove()) {
    moveWatch_->start();
    return;
  }
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - pos();
}

void TfrmSeeThrough::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  move(event->globalPosition().toPoint() - dragOffset_);
}

void TfrmSeeThrough::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    PopupMenu->popup(event->globalPosition().toPoint());
    return;
  }
  if (event->button() == Qt::LeftButton && dragging_) {
    dragging_ = false;
    Move_Done();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

bool TfrmSeeThrough::Moving() const {
  return dragging_ || moveWatch_->isActive();
}

// After a drag, and after a click that moved nothing, the background is read again where the
// window now stands. The translucent window has nothing to read.
void TfrmSeeThrough::Move_Done() {
  if (live_ || !isVisible() || capturing_) return;
  Paint_Overlay();
}

// ---------------------------------------------------------------------------------------------
// The menu

void TfrmSeeThrough::Set_Main(QWidget* main, TMainActions actions) {
  frmMain = main;
  Main_Actions = std::move(actions);
}

void TfrmSeeThrough::Set_Play_Caption(const QString& caption) {
  pupPlay->setText(caption);
}

void TfrmSeeThrough::Set_Fonts(const QFont& display, const QColor& color) {
  fontTime.color = color;
  fontTrackTitle.font = display;
  fontTrackTitle.color = color;
}

void TfrmSeeThrough::PopupMenuPopup() {
  pupRepeadDisc->setChecked(Main_Actions.Repeat_Disc && Main_Actions.Repeat_Disc());
  pupViewMain->setChecked(PlayerSettings.MainForm);
}

void TfrmSeeThrough::pupPlayClick() {
  if (Main_Actions.Play) Main_Actions.Play();
}

void TfrmSeeThrough::pupNextClick() {
  if (Main_Actions.Next) Main_Actions.Next();
}

void TfrmSeeThrough::pupPreviousClick() {
  if (Main_Actions.Previous) Main_Actions.Previous();
}

void TfrmSeeThrough::pupEjectClick() {
  if (Main_Actions.Eject) Main_Actions.Eject();
}

// The main window consults the box when the disc ends; the mark is renewed when the menu opens.
void TfrmSeeThrough::pupRepeadDiscClick() {
  if (Main_Actions.Repeat_Disc && Main_Actions.Set_Repeat_Disc)
    Main_Actions.Set_Repeat_Disc(!Main_Actions.Repeat_Disc());
}

// From here on each tick keeps the main window as the setting says, while this window is up.
void TfrmSeeThrough::pupViewMainClick() {
  const bool show = !pupViewMain->isChecked();
  PlayerSettings.MainForm = show;
  if (frmMain) frmMain->setVisible(show);
  pupViewMain->setChecked(show);
}

void TfrmSeeThrough::pupPowerOffClick() {
  FormClose();
}

void TfrmSeeThrough::FormClose() {
  if (ending_) return;
  ending_ = true;
  // Closing the main window is the program's one way out: it quits the message loop, and every
  // window's destroy handler then runs.
  if (frmMain)
    frmMain->close();
  else
    QCoreApplication::quit();
}

// Accepted: quitting closes every window first, and gives up if one refuses.
void TfrmSeeThrough::closeEvent(QCloseEvent* event) {
  event->accept();
  FormClose();
}

// ---------------------------------------------------------------------------------------------
// Minimising

void TfrmSeeThrough::Set_Shown(bool shown) {
  if (capturing_) {
    backAfterCapture_ = shown;
    return;
  }
  if (!shown) {
    hide();
    return;
  }
  Watch_Main();
  if (isVisible() && isMinimized())
    showNormal();
  else
    show();
}

void TfrmSeeThrough::Watch_Main() {
  if (frmMain && !watchingMain_) {
    frmMain->installEventFilter(this);
    watchingMain_ = true;
  }
}

void TfrmSeeThrough::pupMinimizedClick() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible() && !(window->windowType() == Qt::Popup)) window->showMinimized();
  Watch_Main();
}

// The application comes back whole, whichever of its windows the user restores, and the overlay
// over what lies behind it now. A capture half-way through the window manager's restore could
// leave the overlay minimised, so it waits for the window's exposure unless that came first.
void TfrmSeeThrough::Restore_Application() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible() || window->windowType() == Qt::Popup) continue;
    if (window->isMinimized())
      window->showNormal();
    else if (window->windowHandle())
      Map_Normal_Next_Time(window->windowHandle());
  }
  // A capture under way ends in a face over what lies behind the window by then.
  if (capturing_) return;
  State.Grab_Next_Paint = false;
  if (isVisible() && !live_ && windowHandle() && windowHandle()->isExposed()) Queue_Paint_Request();
}

void TfrmSeeThrough::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  if ((change->oldState() & Qt::WindowMinimized) && !isMinimized()) Restore_Application();
}
