// The see-through window's drawing on pictures made here: the bitwise steps in both kinds of
// picture, the text lines, the marquee and the guard of the per-tick update.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <QPainter>
#include <QTest>

#include "overlay/Artwork.h"
#include "overlay/Usthrou.h"
#include "settings/PlayerSettings.h"

namespace {

using Pixel = std::function<QRgb(int x, int y)>;

QImage Picture(int w, int h, bool live, const Pixel& pixel) {
  QImage img(w, h, live ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, pixel(x, y));
  return img;
}

// Every pixel different, no channel at 0 or 255, so that no pixel equals a test's colour.
QRgb Noise(int x, int y) {
  return qRgb(1 + (x * 37 + y * 11) % 254, 1 + (x * 5 + y * 71) % 254, 1 + (x * 13 + y * 29) % 254);
}
// What lies under a translucent window's pictures: clear stripes across the darkened panel.
QRgb Live_Ground(int x, int y) {
  return (x + y) % 3 ? 0x80000000 : 0;
}

const Pixel kBackgrounds[] = {[](int, int) { return 0xFF000000; },
                              [](int, int) { return 0xFFFFFFFF; }, Noise};

TFontHolder Holder(int pixels, QRgb color) {
  QFont font(QStringLiteral("ＭＳ ゴシック"));
  font.setPixelSize(pixels);
  font.setBold(true);
  return {font, QColor::fromRgb(color)};
}

TEST(SeeThroughDrawing, DarkeningHalvesEachChannelOfThePanelOnly) {
  const struct {
    QRgb before, after;
  } cases[] = {{0xFFFFFFFF, 0xFF7F7F7F},
               {0xFF010101, 0xFF000000},
               {0xFF80FF01, 0xFF407F00},
               {0xFFFE0203, 0xFF7F0101}};
  for (const auto& c : cases) {
    QImage surface = Picture(256, 48, false, [&](int, int) { return c.before; });
    Darken_Panel(surface);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 256; ++x) {
        const bool panel = x >= 6 && x <= 250 && y >= 6 && y <= 42;
        ASSERT_EQ(surface.pixel(x, y), panel ? c.after : c.before) << x << "," << y;
      }
  }
  QImage clear = Picture(256, 48, true, [](int, int) { return 0u; });
  Darken_Panel(clear);
  EXPECT_EQ(clear.pixel(6, 6), 0x80000000u);
  EXPECT_EQ(clear.pixel(250, 42), 0x80000000u);
  EXPECT_EQ(clear.pixel(5, 42), 0u);
  EXPECT_EQ(clear.pixel(251, 6), 0u);
}

// The artwork keeps the mask convention, the brackets their lit and shaded lines, and the OR and
// AND copies give each opaque pixel its picture's colour and leave the others alone, in a
// translucent window's pictures too.
TEST(SeeThroughDrawing, MaskedArtworkGivesExactColoursAndLeavesTheRest) {
  const TMaskedPicture art[] = {
      Logo_Artwork(), Bracket_Artwork(TCorner::TopLeft), Bracket_Artwork(TCorner::BottomLeft),
      Bracket_Artwork(TCorner::TopRight), Bracket_Artwork(TCorner::BottomRight)};
  // Down the middle of the bracket's horizontal edge, from the window's edge inwards.
  const QRgb lit[] = {0xFFFFFFFF, 0xFFC0C0C0, 0xFF808080, 0xFFFFFFFF};
  const QRgb shaded[] = {0xFF808080, 0xFFC0C0C0, 0xFFFFFFFF, 0xFFFFFFFF};
  for (int i = 1; i <= 4; ++i) {
    const bool top = i == 1 || i == 3;
    for (int d = 0; d < 4; ++d)
      EXPECT_EQ(art[i].picture.pixel(8, top ? d : 15 - d), (top ? lit : shaded)[d]) << i;
    EXPECT_EQ(art[i].mask.pixel(i < 3 ? 0 : 15, top ? 0 : 15), 0xFF000000u) << "softened corner";
  }
  for (const TMaskedPicture& a : art)
    for (bool live : {false, true})
      for (const Pixel& ground : {kBackgrounds[2], live ? Pixel(Live_Ground) : kBackgrounds[0]}) {
        // In a translucent window's mask, black is transparent.
        const auto convert = [live](const QImage& i, bool mask) {
          QImage c = i.convertToFormat(live ? QImage::Format_ARGB32_Premultiplied : i.format());
          if (live && mask)
            for (int y = 0; y < c.height(); ++y)
              for (int x = 0; x < c.width(); ++x)
                if (c.pixel(x, y) == 0xFF000000) c.setPixel(x, y, 0);
          return c;
        };
        const QImage before = Picture(40, 40, live, ground);
        QImage target = before;
        Put_Masked(target, {4, 5}, convert(a.mask, true), convert(a.picture, false));
        for (int y = 0; y < 40; ++y)
          for (int x = 0; x < 40; ++x) {
            const QPoint p(x - 4, y - 5);
            const bool inside = a.mask.rect().contains(p);
            const QRgb mask = inside ? a.mask.pixel(p) : 0xFF000000;
            ASSERT_TRUE(mask == 0xFF000000 || (mask == 0xFFFFFFFF));
            ASSERT_TRUE(!inside || mask == 0xFFFFFFFF || a.picture.pixel(p) == 0xFFFFFFFF);
            ASSERT_EQ(target.pixel(x, y),
                      mask == 0xFFFFFFFF ? a.picture.pixel(p) : before.pixel(x, y))
                << x << "," << y << (live ? " live" : "");
          }
      }
}

// At every position the line gives the pixels of its text drawn into a picture of the field's
// size at that position and put on the target with the two passes; and the glyphs are exactly
// the font's colour over any background. The same lines draw every text and colour in turn.
TEST(SeeThroughDrawing, TextTakesExactlyTheFontColourAtEveryPosition) {
  const QRect field(60, 7, 185, 17);
  TTextLine lines[] = {{field.size(), false}, {field.size(), true}};
  for (const QString& text : {QStringLiteral("Track10 4m 5s 新しいｱｰﾁｽﾄ"), QStringLiteral("jW")})
    for (QRgb ink : {0xFFFFFFFF, 0xFF000000, 0xFFFFFF00})
      for (bool live : {false, true}) {
        const TFontHolder holder = Holder(12, ink);
        TTextLine& line = lines[live];
        int most = 0;  // pixels the text changed
        for (int x : {-40, -1, 0, 3, 150, 184})
          for (const Pixel& ground :
               {kBackgrounds[0], kBackgrounds[1], live ? Pixel(Live_Ground) : Noise}) {
            const QImage before = Picture(250, 42, live, ground);
            QImage back = before, expected = before, scratch(field.size(), before.format());
            line.Draw(holder, text, x, back, field.topLeft());
            const auto pass = [&](QRgb fill, QColor pen) {
              scratch.fill(fill);
              QPainter painter(&scratch);
              QFont font = holder.font;
              font.setStyleStrategy(QFont::NoAntialias);
              painter.setFont(font);
              painter.setPen(pen);
              painter.drawText(x, painter.fontMetrics().ascent(), text);
            };
            pass(live ? 0 : 0xFF000000, Qt::white);
            Or_Copy(expected, field.topLeft(), scratch, scratch.rect());
            pass(0xFFFFFFFF, QColor(ink));
            And_Copy(expected, field.topLeft(), scratch, scratch.rect());
            ASSERT_EQ(back, expected) << "x " << x;
            int inked = 0;
            for (int y = 0; y < 42; ++y)
              for (int x = 0; x < 250; ++x) {
                ASSERT_TRUE(back.pixel(x, y) == before.pixel(x, y) || back.pixel(x, y) == ink);
                inked += back.pixel(x, y) != before.pixel(x, y);
              }
            most = std::max(most, inked);
          }
        EXPECT_GT(most, 40);
      }
}

// The time line's field and the display line's overlap by four rows; the line drawn second must
// not wipe the first one's glyphs there.
TEST(SeeThroughDrawing, OverlappingLinesKeepBothLinesGlyphs) {
  const QImage before = Picture(250, 42, false, Noise);
  TTextLine info({185, 25}, false), infoTime({185, 17}, false);
  const auto display = [&](QImage& back) {
    info.Draw(Holder(16, 0xFFFF0000), QStringLiteral("ÅÉ|||||"), 0, back, {56, 20});
  };
  const auto time = [&](QImage& back) {
    infoTime.Draw(Holder(16, 0xFF0000FF), QStringLiteral("gjpqy|||"), 0, back, {60, 7});
  };
  QImage displayAlone = before, timeAlone = before, both = before;
  display(displayAlone);
  time(timeAlone);
  display(both);
  time(both);
  bool displayInOverlap = false, timeInOverlap = false;
  for (int y = 0; y < 42; ++y)
    for (int x = 0; x < 250; ++x) {
      const bool byDisplay = displayAlone.pixel(x, y) != before.pixel(x, y);
      const bool byTime = timeAlone.pixel(x, y) != before.pixel(x, y);
      if (y >= 20 && y <= 23) displayInOverlap |= byDisplay, timeInOverlap |= byTime;
      ASSERT_EQ(both.pixel(x, y), byTime      ? 0xFF0000FF
                                  : byDisplay ? 0xFFFF0000
                                              : before.pixel(x, y))
          << x << "," << y;
    }
  EXPECT_TRUE(displayInOverlap && timeInOverlap);
}

class SeeThroughWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    PlayerSettings = Default_Player_Settings();
    main.setWindowTitle(QStringLiteral("main"));
    main.show();
    overlay.frmMain = &main;
  }
  void Compose() {
    overlay.show();
    ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  }
  QWidget main;
  TfrmSeeThrough overlay;
};

// Until the first face is composed, and while the window is hidden, a tick draws nothing and
// leaves the main window alone; after it, the main window follows MainForm.
TEST_F(SeeThroughWindow, TickDoesNothingBeforeTheFirstFaceOrWhileHidden) {
  PlayerSettings.MainForm = false;
  overlay.Draw_Info(QStringLiteral("abc"), QString(), true);
  overlay.show();
  overlay.Draw_Info(QStringLiteral("abc"), QString(), true);
  EXPECT_TRUE(main.isVisible());
  EXPECT_EQ(SeeThrough_Unit_State().Title_X, 0);
  Compose();
  overlay.Draw_Info(QStringLiteral("abc"), QString(), true);
  EXPECT_FALSE(main.isVisible());
  EXPECT_EQ(SeeThrough_Unit_State().Title_X, -1);
  main.show();
  overlay.hide();
  overlay.Draw_Info(QStringLiteral("abc"), QString(), true);
  EXPECT_TRUE(main.isVisible());
  EXPECT_EQ(SeeThrough_Unit_State().Title_X, -1);
}

TEST_F(SeeThroughWindow, MarqueeMovesWhilePlayingWrapsAndSnapsBackWhenStopped) {
  Compose();
  const QString text = QStringLiteral("abc");
  const int w = Text_Line_Width(overlay.fontTrackTitle, text);
  ASSERT_GT(w, 10);
  const struct {
    bool playing;
    QString text;
    int after;  // Title_X after the call: one less than where the text was drawn
  } steps[] = {{false, text, -1}, {true, text, -2}, {true, "other", -3},
               {false, text, -1}, {false, "", 185}, {true, "", 184}};
  for (const auto& s : steps) {
    overlay.Draw_Info(s.text, QString(), s.playing);
    EXPECT_EQ(SeeThrough_Unit_State().Title_X, s.after) << s.text.toStdString();
  }
  overlay.Draw_Info(text, QString(), false);
  for (int drawnAt = -1; drawnAt > -w + 1; --drawnAt) overlay.Draw_Info(text, QString(), true);
  EXPECT_EQ(SeeThrough_Unit_State().Title_X, -w + 1);
  overlay.Draw_Info(text, QString(), true);
  EXPECT_EQ(SeeThrough_Unit_State().Title_X, 185);
}

}  // namespace
