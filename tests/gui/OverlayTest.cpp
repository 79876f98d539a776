// The see-through window's drawing on pictures made here, in the capture's pictures and in the
// translucent window's: darkening, artwork, text lines; then the marquee and the tick's guard.
#include <gtest/gtest.h>

#include <functional>

#include <QCheckBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "PlayerFixture.h"
#include "overlay/Artwork.h"
#include "overlay/Usthrou.h"
#include "profile/ProfileFile.h"
#include "settings/PlayerSettings.h"
#include "settings/Uoption.h"

namespace {

using Pixel = std::function<QRgb(int x, int y)>;

QImage Picture(int w, int h, bool live, const Pixel& pixel) {
  QImage img(w, h, live ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, pixel(x, y));
  return img;
}

// Backgrounds: black, white, and one where no channel is 0 or 255, so that no test colour is in
// it; in a translucent window's pictures that one is stripes of clear and darkened panel.
Pixel Ground(int kind, bool live) {
  if (kind < 2) return [kind](int, int) { return kind ? 0xFFFFFFFF : 0xFF000000; };
  if (live) return [](int x, int y) { return (x + y) % 3 ? 0x80000000 : 0; };
  return [](int x, int y) {
    return qRgb(1 + (x * 37 + y * 11) % 254, 1 + (x * 5 + y * 71) % 254, 1 + (x * 13) % 254);
  };
}

TFontHolder Holder(int pixels, QRgb color) {
  QFont font(QStringLiteral("ＭＳ ゴシック"));
  font.setPixelSize(pixels);
  font.setBold(true);
  return {font, QColor::fromRgb(color)};
}

TEST(SeeThroughDrawing, DarkeningHalvesEachChannelOfThePanelOnly) {
  const QRgb cases[][2] = {{0xFFFFFFFF, 0xFF7F7F7F},
                           {0xFF010101, 0xFF000000},
                           {0xFF80FF01, 0xFF407F00},
                           {0xFFFE0203, 0xFF7F0101},
                           {0, 0x80000000}};  // the last in a translucent window's picture
  for (const auto& [before, after] : cases) {
    QImage surface = Picture(256, 48, !before, [&](int, int) { return before; });
    Darken_Panel(surface);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 256; ++x) {
        const bool panel = x >= 6 && x <= 250 && y >= 6 && y <= 42;
        ASSERT_EQ(surface.pixel(x, y), panel ? after : before) << x << "," << y;
      }
  }
}

// The artwork is white wherever its mask lets the target show through; the OR and AND copies give
// each opaque pixel its picture's colour and leave the others alone.
TEST(SeeThroughDrawing, MaskedArtworkGivesExactColoursAndLeavesTheRest) {
  const TMaskedPicture art[] = {
      Logo_Artwork(), Bracket_Artwork(TCorner::TopLeft), Bracket_Artwork(TCorner::BottomLeft),
      Bracket_Artwork(TCorner::TopRight), Bracket_Artwork(TCorner::BottomRight)};
  for (const TMaskedPicture& a : art)
    for (bool live : {false, true})
      for (int ground : {0, 2}) {
        const TMaskedPicture put = live ? Translucent(a) : a;
        const QImage before = Picture(40, 40, live, Ground(ground, live));
        QImage target = before;
        Put_Masked(target, {4, 5}, put.mask, put.picture);
        for (int y = 0; y < 40; ++y)
          for (int x = 0; x < 40; ++x) {
            const QPoint p(x - 4, y - 5);
            const bool inside = a.mask.rect().contains(p);
            const QRgb mask = inside ? a.mask.pixel(p) : 0xFF000000;
            ASSERT_TRUE(mask == ~0u ||
                        (mask == 0xFF000000 && (!inside || a.picture.pixel(p) == ~0u)));
            ASSERT_EQ(target.pixel(x, y), mask == ~0u ? a.picture.pixel(p) : before.pixel(x, y))
                << x << "," << y << (live ? " live" : "");
          }
      }
}

// Wherever the marquee puts it, a line gives exactly the text's unsmoothed pixels within its
// field the font's colour and leaves every other pixel alone. The same lines draw every text and
// colour in turn.
TEST(SeeThroughDrawing, TextTakesExactlyTheFontColourAtEveryPosition) {
  const QRect field(60, 7, 185, 17);
  TTextLine lines[] = {{field.size(), false}, {field.size(), true}};
  for (const QString& text : {QStringLiteral("Track10 4m 5s 新しいｱｰﾁｽﾄ"), QStringLiteral("jW")})
    for (QRgb ink : {0xFFFFFFFF, 0xFF000000, 0xFFFFFF00})
      for (int x : {-40, -1, 0, 3, 150, 184}) {
        QImage glyphs(field.size(), QImage::Format_RGB32);
        glyphs.fill(Qt::black);
        QPainter painter(&glyphs);
        QFont font = Holder(12, ink).font;
        font.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(x, painter.fontMetrics().ascent(), text);
        painter.end();
        QList<QPoint> inked;
        for (int y = 0; y < field.height(); ++y)
          for (int gx = 0; gx < field.width(); ++gx)
            if (glyphs.pixel(gx, y) == 0xFFFFFFFF) inked << field.topLeft() + QPoint(gx, y);
        EXPECT_TRUE(x != 0 || inked.size() > 40);
        for (bool live : {false, true})
          for (int ground : {0, 1, 2}) {
            const QImage before = Picture(250, 42, live, Ground(ground, live));
            QImage back = before, expected = before;
            lines[live].Draw(Holder(12, ink), text, x, back, field.topLeft());
            for (const QPoint& p : inked) expected.setPixel(p, ink);
            ASSERT_EQ(back, expected) << "x " << x << (live ? " live" : "");
          }
      }
}

// The time line's field and the display line's overlap in four rows; the line drawn second keeps
// the first one's glyphs there.
TEST(SeeThroughDrawing, OverlappingLinesKeepBothLinesGlyphs) {
  const QImage before = Picture(250, 42, false, Ground(2, false));
  TTextLine info({185, 25}, false), infoTime({185, 17}, false);
  QImage display = before, time = before, both = before;
  for (QImage* back : {&display, &both})
    info.Draw(Holder(16, 0xFFFF0000), QStringLiteral("ÅÉ|||||"), 0, *back, {56, 20});
  for (QImage* back : {&time, &both})
    infoTime.Draw(Holder(16, 0xFF0000FF), QStringLiteral("gjpqy|||"), 0, *back, {60, 7});
  bool displayInOverlap = false, timeInOverlap = false;
  for (int y = 0; y < 42; ++y)
    for (int x = 0; x < 250; ++x) {
      const bool byDisplay = display.pixel(x, y) != before.pixel(x, y);
      const bool byTime = time.pixel(x, y) != before.pixel(x, y);
      if (y >= 20 && y <= 23) displayInOverlap |= byDisplay, timeInOverlap |= byTime;
      ASSERT_EQ(both.pixel(x, y), byTime ? time.pixel(x, y) : display.pixel(x, y)) << x << "," << y;
    }
  EXPECT_TRUE(displayInOverlap && timeInOverlap);
}

// Until the first face is composed, and while the window is hidden, a tick draws nothing and
// leaves the main window alone; after it, the main window follows MainForm, and the marquee moves
// while playing, wraps, and snaps back when stopped.
TEST(SeeThroughWindow, TickWaitsForTheFaceThenMovesTheMarqueeAndImposesMainForm) {
  PlayerSettings = Default_Player_Settings();
  PlayerSettings.MainForm = false;
  QWidget main;
  main.setWindowTitle(QStringLiteral("main"));
  main.show();
  TfrmSeeThrough overlay;
  overlay.Set_Main(&main, {});
  const QString text = QStringLiteral("abc");
  const auto tick = [&](const QString& display, bool playing) {
    overlay.Draw_Info(display, QStringLiteral("Track1 0m 0s"), playing);
    return SeeThrough_Unit_State().Title_X;  // one less than where the text was drawn, or wrapped
  };
  EXPECT_EQ(tick(text, true), 0);
  overlay.show();
  EXPECT_EQ(tick(text, true), 0);
  EXPECT_TRUE(main.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));

  const struct {
    bool playing;
    QString text;
    int after;
  } steps[] = {{false, text, -1}, {true, text, -2}, {true, "other", -3},
               {false, text, -1}, {false, "", 185}, {true, "", 184}};
  for (const auto& s : steps) EXPECT_EQ(tick(s.text, s.playing), s.after) << s.text.toStdString();
  EXPECT_FALSE(main.isVisible());
  const int w = Text_Line_Width(SeeThroughProbe{overlay}.fontTrackTitle, text);
  tick(text, false);
  for (int drawnAt = -1; drawnAt > -w + 1; --drawnAt) tick(text, true);
  EXPECT_EQ(tick(text, true), 185) << "after the draw at " << -w + 1;

  main.show();
  overlay.hide();
  EXPECT_EQ(tick(text, true), 185);
  EXPECT_TRUE(main.isVisible());
}

// Sums the area of the window that paint events cover.
struct PaintCounter : QObject {
  int pixels = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      for (const QRect& r : static_cast<QPaintEvent*>(event)->region())
        pixels += r.width() * r.height();
    return false;
  }
};

// A tick draws and puts on the screen only what changed, and the face is still, pixel for pixel,
// the kept picture with both lines drawn on it whole.
TEST(SeeThroughWindow, TickRedrawsOnlyWhatChangedWithTheWholeFacesPixels) {
  PlayerSettings = Default_Player_Settings();
  TfrmSeeThrough overlay;
  overlay.show();
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  PaintCounter painted;
  overlay.installEventFilter(&painted);
  const QString longText = QStringLiteral("Track10 4m 5s 新しいｱｰﾁｽﾄ - the longest title of all");
  const struct {
    QString display, time;
    bool playing;
    QRgb ink;
    int most;  // pixels put on the screen at most
  } steps[] = {
      {"abc", "Track1 0m 0s", false, 0xFFFFFF00, 250 * 42},  // the first tick draws all
      {"abc", "Track1 0m 0s", false, 0xFFFFFF00, 0},         // nothing changed
      {"abc", "Track1 0m 0s", true, 0xFFFFFF00, 100 * 22},   // a short text scrolls
      {"abc", "Track1 0m 1s", true, 0xFFFFFF00, 185 * 35},   // and the time changes
      {longText, "Track1 0m 1s", true, 0xFFFFFF00, 185 * 22},
      {longText, "Track1 0m 1s", true, 0xFFFFFF00, 185 * 22},
      {longText, "Track1 0m 1s", true, 0xFF00FFFF, 185 * 35},  // the colour changes
      {"", "Track2 0m 0s", false, 0xFF00FFFF, 185 * 35},
  };
  SeeThroughProbe probe{overlay};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.display.toStdString() + " " + s.time.toStdString());
    probe.fontTrackTitle.color = probe.fontTime.color = QColor::fromRgb(s.ink);
    const int x = s.playing ? SeeThrough_Unit_State().Title_X : 0;
    painted.pixels = 0;
    overlay.Draw_Info(s.display, s.time, s.playing);
    EXPECT_LE(painted.pixels, s.most);
    QImage whole = SeeThroughProbe::Kept(overlay);
    TTextLine({185, 25}, false).Draw(probe.fontTrackTitle, s.display, x, whole, {56, 20});
    TTextLine({185, 17}, false).Draw(probe.fontTime, s.time, 0, whole, {60, 7});
    ASSERT_EQ(SeeThroughProbe::Face(overlay).copy(3, 3, 250, 42), whole);
  }
}

// The window in the player: the Option dialog, and drags.
class SeeThroughPlayer : public PlayerFixture {
 protected:
  SeeThroughPlayer() : PlayerFixture({40}) {}
  TfrmSeeThrough& Overlay() {
    Build();
    EXPECT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
    return *windows->SeeThrough;
  }
};

// Counts the times a window leaves the screen.
struct HideCounter : QObject {
  int hides = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    hides += event->type() == QEvent::Hide;
    return false;
  }
};

// Opened while a capture has the window off the screen, the Option dialog sees it in use; its box
// then decides both the file and whether the window comes back.
TEST_F(SeeThroughPlayer, OptionDialogDuringACaptureCountsTheWindowAsShown) {
  for (bool use : {true, false}) {
    SCOPED_TRACE(use);
    TfrmSeeThrough& overlay = Overlay();
    TfrmOption& option = *windows->Option;
    bool ticked = false;
    QTimer::singleShot(100, main, [&] {
      Answer(&option, [&] {
        OptionProbe o{option};
        ticked = o.chkUseST->isChecked();
        o.chkUseST->setChecked(use);
        o.btnOK->click();
      });
      ui->spdOption->click();
    });
    overlay.Paint_Overlay();  // what a click on the window does
    EXPECT_TRUE(overlay.Capturing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !overlay.Capturing(); }, 5000));
    EXPECT_TRUE(ticked);
    EXPECT_EQ(overlay.isVisible(), use);
    EXPECT_EQ(ProfileFile(Settings_File_Path()).Profile_Read_Bool("SeeThrough", "Use", !use), use);
  }
}

// A drag uncovers parts of the window, which the window system asks to be painted: painted from
// the picture kept, with no capture, which would hide the window and end the move. The background
// is read anew once the button is released.
TEST_F(SeeThroughPlayer, DragMovesTheWindowWithoutACaptureUntilTheRelease) {
  TfrmSeeThrough& overlay = Overlay();
  HideCounter counter;
  overlay.installEventFilter(&counter);
  const QPoint grip(20, 20), start = overlay.mapToGlobal(grip);
  const auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, overlay.mapFromGlobal(at), at, Qt::LeftButton, held, {});
    QApplication::sendEvent(&overlay, &event);
  };
  mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
  for (int step = 1; step <= 6; ++step) {
    mouse(QEvent::MouseMove, start + QPoint(40, 10) * step, Qt::LeftButton);
    QTest::qWait(60);
  }
  EXPECT_EQ(counter.hides, 0);
  EXPECT_EQ(overlay.mapToGlobal(grip), start + QPoint(240, 60));
  mouse(QEvent::MouseButtonRelease, start + QPoint(240, 60), Qt::NoButton);
  EXPECT_EQ(counter.hides, 1);
  EXPECT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  EXPECT_TRUE(overlay.isVisible());
}

}  // namespace
