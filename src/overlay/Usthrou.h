#pragma once
// The see-through window: a borderless 256 x 48 window that floats over the desktop like a pane
// of smoked glass, with bevelled corner brackets, a disc logo, the time line and a display line
// that scrolls while the disc plays.
//
// Under X11 it shows a darkened picture of what lies behind it. A newly shown X11 window does not
// keep the screen's old pixels, so the picture is taken by hiding the window, letting the windows
// beneath repaint for half a second (five ticks of the window's own timer, while the program goes
// on), and reading the screen there; then the window comes back and darkens that picture once,
// puts its artwork on it, and keeps the result. Five times a second the main window's clock hands
// it the two texts, which are drawn off-screen over the kept picture where they changed; only the
// pixels that differ reach the window.
//
// Where the screen cannot be read (a Wayland session), or where the user asks for it and a
// compositing manager runs ([SeeThrough] Live=1), the window is translucent instead: the panel is
// black at alpha 128 and the compositor darkens what lies beneath, live, without the vanishing.
#include <functional>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>

class QAction;
class QMenu;
class QTimer;

// A font holder: what an invisible label of the form would carry.
struct TFontHolder {
  QFont font;
  QColor color;
};

// One text line of the window, drawn with the two-pass mask rule into a field of a given size: the
// glyphs are made white on the target (OR-copy of white glyphs on black), then given the font's
// colour (AND-copy of the glyphs in that colour on white), so that they take exactly that colour
// over anything and leave every other pixel alone. The glyphs are rasterised once per text, font
// and colour into strips as wide as the text; each drawing copies the part of the strips that
// falls in the field at x, which gives the pixels that drawing the text into the field at x would
// give, without shaping and rasterising it five times a second.
//
// A line remembers where it drew last, so that a window redraws only what a drawing changes.
class TTextLine {
 public:
  TTextLine(QSize field, bool live);
  // Draws the text with the field at `at`, only within `clip` where one is given.
  void Draw(const TFontHolder& holder, const QString& text, int x, QImage& back, QPoint at,
            const QRect& clip = QRect());
  // The pixels of `back` that drawing the text now could change since the last drawing: where
  // the strips of both lie, or nothing when the drawing would be the same.
  QRegion Change(const TFontHolder& holder, const QString& text, int x, QPoint at);
  // The width of the text last drawn, in pixels of its font.
  int Text_Width() const { return width_; }

 private:
  void Prepare(const TFontHolder& holder, const QString& text);
  void Render(const TFontHolder& holder, const QString& text);
  // Where a drawing at x puts the strips in the target, and the strip column drawn first.
  QRect Place(int x, QPoint at, int* column) const;

  QSize field_;
  bool live_;
  bool rendered_ = false;
  QString text_;
  QFont font_;
  QRgb color_ = 0;
  QImage glyphs_, ink_;
  int margin_ = 0;  // strip columns left of the text's origin
  int width_ = 0;
  // The last drawing: its place in the target, and where the text stood.
  bool drawn_ = false;
  QRect drawnPlace_;
  int drawnX_ = 0;
  QPoint drawnAt_;
};

class TfrmSeeThrough : public QWidget {
  Q_OBJECT

 public:
  using FontHolder = TFontHolder;

  explicit TfrmSeeThrough(QWidget* parent = nullptr);
  ~TfrmSeeThrough() override;

  // Called on every tick of the main window with the two texts and the playing flag.
  void Draw_Info(const QString& displayText, const QString& timeText, bool playing);
  // Every paint request of the window: the window system's, and the one sent after a drag. It
  // captures the screen behind the window or composes the window's face, by turns.
  void Paint_Overlay();
  // Whether the window is translucent rather than a capture of the screen.
  bool Live() const { return live_; }
  // Whether a capture has the window off the screen (read by the tests); the paint request that
  // began it returned at once, and the window's timer carries the capture on.
  bool Capturing() const { return capturing_; }
  // Whether the window is in use: a capture takes it off the screen for a moment only.
  bool Shown() const { return isVisible() || (capturing_ && backAfterCapture_); }
  // Shows the window, never minimised, or hides it; a capture under way ends as asked.
  void Set_Shown(bool shown);

  // The main window, whose visibility follows the MainForm setting while this window is up, and
  // its commands, which the menu's items run.
  struct TMainActions {
    std::function<void()> Play, Next, Previous, Eject;
    std::function<bool()> Repeat_Disc;
    std::function<void(bool)> Set_Repeat_Disc;
  };
  void Set_Main(QWidget* main, TMainActions actions);
  // The Play item's caption follows the play state.
  void Set_Play_Caption(const QString& caption);
  // The display line's font, and the colour of both lines.
  void Set_Fonts(const QFont& display, const QColor& color);
  QColor Font_Color() const { return fontTime.color; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend struct SeeThroughProbe;  // the tests' view of the menu and the pictures

  // The menu, opened by releasing the right button: with the main window hidden it is the
  // program's whole control surface.
  QMenu* PopupMenu = nullptr;
  QAction* pupPlay = nullptr;
  QAction* pupNext = nullptr;
  QAction* pupPrevious = nullptr;
  QAction* pupEject = nullptr;
  QAction* pupMinimized = nullptr;
  QAction* pupRepeadDisc = nullptr;
  QAction* pupViewMain = nullptr;
  QAction* pupPowerOff = nullptr;

  void PopupMenuPopup();
  void pupPlayClick();
  void pupNextClick();
  void pupPreviousClick();
  void pupEjectClick();
  void pupMinimizedClick();
  void pupRepeadDiscClick();
  void pupViewMainClick();
  void pupPowerOffClick();
  // A request to close this window ends the program, as closing the main window does.
  void FormClose();

  TMainActions Main_Actions;
  QPointer<QWidget> frmMain;
  FontHolder fontTrackTitle;
  FontHolder fontTime;

  void FormCreate();
  void FormDestroy();

  void TimerTimer();
  void Capture();
  void End_Capture();
  void Compose();
  void Grab_Screen();
  void Queue_Paint_Request();
  // The end of a move: the paint request that renews the background at the new place.
  void Move_Done();
  void Restore_Application();
  // The main window's restore brings this window back too.
  void Watch_Main();
  // The window manager's move or our own: the background is renewed when it ends, not during it.
  bool Moving() const;
  // Puts the given part of `surface_` on the screen at once.
  void Flush(const QRegion& area);
  // The same for a tick's change, straight to the X server where it can take our pixels.
  void Put_On_Screen(const QRegion& area);

  const bool live_;
  QTimer* Timer = nullptr;
  // The window's own picture: what the screen shows where the window is.
  QImage surface_;
  QImage imageSave, imageBack;
  TTextLine imageInfo, imageInfoTime;
  QImage imageLOGO, imageLOGOmsk, imageCRT, imageCRTmsk, imageCRB, imageCRBmsk, imageCLT,
      imageCLTmsk, imageCLB, imageCLBmsk;
  // The area a copy of ours is putting on the screen; any other painting is the window system's.
  QRegion flushing_;
  // imageBack holds the two lines as last drawn over imageSave; a new imageSave is drawn whole.
  bool faceDrawn_ = false;
  // Whether Put_On_Screen may bypass Qt, as found when the face was composed.
  bool putDirect_ = false;
  bool paintQueued_ = false;
  bool capturing_ = false;
  bool backAfterCapture_ = true;
  bool watchingExposure_ = false;
  // The window manager's move runs outside this program; the pointer's button says when it ends.
  QTimer* moveWatch_ = nullptr;
  // A move of our own, where the window manager offers none: the press point in the window.
  bool dragging_ = false;
  QPoint dragOffset_;
  bool watchingMain_ = false;
  bool ending_ = false;
};

// The unit's state; there is one see-through window per program. FormCreate resets it.
struct TSeeThroughUnitState {
  bool Grab_Next_Paint = false;   // the next paint request composes (true) or captures (false)
  bool Background_Ready = false;  // imageSave holds the current background
  int Wait_Ticks = 0;             // 100 ms ticks still to wait, hidden, during a capture
  int Title_X = 0;                // where the display text starts in imageInfo: the marquee
};
const TSeeThroughUnitState& SeeThrough_Unit_State();  // read by the tests only

// The drawing steps, on pictures of either kind: Format_RGB32 for the capture, and
// Format_ARGB32_Premultiplied for the translucent window, in which black is fully transparent
// so that the same bitwise operations give the same faces.

// Halves every channel of columns 6-250, rows 6-42 of the window's picture, or, in a translucent
// one, makes that panel black at alpha 128.
void Darken_Panel(QImage& surface);
// destination := source, destination OR (AND) source, for the source's rectangle `from` placed
// at `at`.
void Plain_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from);
void Or_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from);
void And_Copy(QImage& target, QPoint at, const QImage& source, const QRect& from);
// OR-copy of the mask, then AND-copy of the picture, at `at`.
void Put_Masked(QImage& target, QPoint at, const QImage& mask, const QImage& picture);
// The width of a text as a text line draws it.
int Text_Line_Width(const TFontHolder& holder, const QString& text);
