#include <QMenu>
#include <QPainter>

#include "PlayerFixture.h"
#include "overlay/Artwork.h"

namespace {

using Pixel = std::function<QRgb(int x, int y)>;

QImage Picture(int w, int h, bool live, const Pixel& pixel) {
  QImage img(w, h, live ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, pixel(x, y));
  return img;
}

// Black, white, and one with no channel 0 or 255, which no test colour matches.
Pixel Ground(int kind, bool live) {
  if (kind < 2) return [kind](int, int) { return kind ? 0xFFFFFFFF : 0xFF000000; };
  if (live) return [](int x, int y) { return (x + y) % 3 ? 0x80000000 : 0; };
  return [](int x, int y) {
    return qRgb(1 + (x * 37 + y * 11) % 254, 1 + (x * 5 + y * 71) % 254, 1 + (x * 13) % 254);
  };
}

TEST(SeeThroughDrawing, DarkeningAndMaskedArtworkGiveExactPixels) {
  using Dark = std::pair<QRgb, QRgb>;  // before, after
  for (const auto& [before, after] :
       {Dark(0xFFFFFFFF, 0xFF7F7F7F), Dark(0xFF010101, 0xFF000000), Dark(0xFF80FF01, 0xFF407F00),
        Dark(0xFFFE0203, 0xFF7F0101), Dark(0, 0x80000000)}) {
    const Pixel darkened = [&](int x, int y) {
      return x >= 6 && x <= 250 && y >= 6 && y <= 42 ? after : before;
    };
    QImage surface = Picture(256, 48, !before, [&](int, int) { return before; });
    Darken_Panel(surface);
    EXPECT_EQ(surface, Picture(256, 48, !before, darkened)) << before;
  }
  for (const TMaskedPicture& a :
       {Logo_Artwork(), Bracket_Artwork(TCorner::TopLeft), Bracket_Artwork(TCorner::BottomLeft),
        Bracket_Artwork(TCorner::TopRight), Bracket_Artwork(TCorner::BottomRight)})
    for (bool live : {false, true})
      for (int ground : {0, 2}) {
        const TMaskedPicture put = live ? Translucent(a) : a;
        const QImage before = Picture(40, 40, live, Ground(ground, live));
        const Pixel masked = [&](int x, int y) {
          const QPoint p(x - 4, y - 5);
          const bool opaque = a.mask.rect().contains(p) && a.mask.pixel(p) == ~0u;
          return opaque ? a.picture.pixel(p) : before.pixel(x, y);
        };
        QImage target = before;
        Put_Masked(target, {4, 5}, put.mask, put.picture);
        EXPECT_EQ(target, Picture(40, 40, live, masked)) << live;
      }
}

// The same lines draw every text and colour in turn.
TEST(SeeThroughDrawing, TextTakesExactlyTheFontColourAtEveryPosition) {
  const QRect field(60, 7, 185, 17);
  TTextLine lines[] = {{field.size(), false}, {field.size(), true}};
  QFont font(QStringLiteral("ＭＳ ゴシック")), flat;
  font.setPixelSize(12);
  font.setBold(true);
  (flat = font).setStyleStrategy(QFont::NoAntialias);
  for (const QString& text : {QStringLiteral("Track10 4m 5s 新しいｱｰﾁｽﾄ"), QStringLiteral("jW")})
    for (QRgb ink : {0xFFFFFFFF, 0xFF000000, 0xFFFFFF00})
      for (int x : {-40, -1, 0, 3, 150, 184}) {
        QImage glyphs = Picture(185, 17, false, Ground(0, false));
        const QImage blank = glyphs;
        QPainter painter(&glyphs);
        painter.setFont(flat);
        painter.setPen(Qt::white);
        painter.drawText(x, painter.fontMetrics().ascent(), text);
        painter.end();
        EXPECT_TRUE(x != 0 || glyphs != blank);
        for (bool live : {false, true})
          for (int ground : {0, 1, 2}) {
            const QImage before = Picture(250, 42, live, Ground(ground, live));
            QImage back = before;
            lines[live].Draw({font, QColor::fromRgb(ink)}, text, x, back, field.topLeft());
            const Pixel inked = [&](int px, int py) {
              const QPoint g = QPoint(px, py) - field.topLeft();
              const bool on = glyphs.rect().contains(g) && glyphs.pixel(g) == ~0u;
              return on ? ink : before.pixel(px, py);
            };
            ASSERT_EQ(back, Picture(250, 42, live, inked)) << "x " << x << (live ? " live" : "");
          }
      }
}

struct Counter : QObject {
  int hides = 0, pixels = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    hides += event->type() == QEvent::Hide;
    if (event->type() == QEvent::Paint)
      for (const QRect& r : static_cast<QPaintEvent*>(event)->region())
        pixels += r.width() * r.height();
    return false;
  }
};

// Before the first face and while hidden, a tick draws nothing and leaves the main window alone.
TEST(SeeThroughWindow, TickRedrawsOnlyWhatChangedMovesTheMarqueeAndImposesMainForm) {
  PlayerSettings = Default_Player_Settings();
  PlayerSettings.MainForm = false;
  QWidget main;
  main.show();
  TfrmSeeThrough overlay;
  overlay.Set_Main(&main, {});
  SeeThroughProbe probe{overlay};
  // The display's tall glyphs reach into the rows the time line's field shares.
  const QString text = QStringLiteral("ÅÉ|b"), t0 = QStringLiteral("Track1 0m 0s");
  const auto tick = [&](const QString& display, bool playing) {
    overlay.Draw_Info(display, t0, playing);
    return SeeThrough_Unit_State().Title_X;  // one less than where the text was drawn, or wrapped
  };
  EXPECT_EQ(tick(text, true), 0);
  overlay.show();
  EXPECT_EQ(tick(text, true), 0);
  EXPECT_TRUE(main.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));

  Counter painted;
  overlay.installEventFilter(&painted);
  const QString longText = QStringLiteral("Track10 4m 5s 新しいｱｰﾁｽﾄ - the longest title of all"),
                t1 = QStringLiteral("Track1 0m 1s"), t2 = QStringLiteral("Track2 0m 0s");
  // Texts, playing, colour, the most pixels put on the screen, the marquee after.
  using Row = std::tuple<QString, QString, bool, QRgb, int, int>;
  const QRgb yellow = 0xFFFFFF00, cyan = 0xFF00FFFF;
  for (const auto& [display, time, playing, ink, most, after] :
       {Row(text, t0, false, yellow, 250 * 42, -1), Row(text, t0, false, yellow, 0, -1),
        Row(text, t0, true, yellow, 100 * 22, -2), Row(text, t1, true, yellow, 185 * 35, -3),
        Row(longText, t1, true, yellow, 185 * 22, -4),
        Row(longText, t1, true, yellow, 185 * 22, -5), Row(longText, t1, true, cyan, 185 * 35, -6),
        Row("", t2, false, cyan, 185 * 35, 185), Row("", t2, true, cyan, 185 * 35, 184)}) {
    SCOPED_TRACE(display.toStdString() + " " + time.toStdString());
    probe.fontTrackTitle.color = probe.fontTime.color = QColor::fromRgb(ink);
    const int x = playing ? SeeThrough_Unit_State().Title_X : 0;
    painted.pixels = 0;
    overlay.Draw_Info(display, time, playing);
    EXPECT_LE(painted.pixels, most);
    EXPECT_EQ(SeeThrough_Unit_State().Title_X, after);
    QImage whole = SeeThroughProbe::Kept(overlay);
    TTextLine({185, 25}, false).Draw(probe.fontTrackTitle, display, x, whole, {56, 20});
    TTextLine({185, 17}, false).Draw(probe.fontTime, time, 0, whole, {60, 7});
    ASSERT_EQ(SeeThroughProbe::Face(overlay).copy(3, 3, 250, 42), whole);
  }
  EXPECT_FALSE(main.isVisible());
  const int w = Text_Line_Width(probe.fontTrackTitle, text);
  tick(text, false);
  for (int drawnAt = -1; drawnAt > -w + 1; --drawnAt) tick(text, true);
  EXPECT_EQ(tick(text, true), 185) << "after the draw at " << -w + 1;

  main.show();
  overlay.hide();
  EXPECT_EQ(tick(text, true), 185);
  EXPECT_TRUE(main.isVisible());
}

class SeeThroughPlayer : public PlayerFixture {
 protected:
  SeeThroughPlayer() : PlayerFixture({60, 60, 60, 60}) {}
  SeeThroughProbe Start() {
    windows.reset();
    std::remove(Settings_File_Path().c_str());
    sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({60, 60, 60, 60}));
    Load();
    main->Next_Track();
    main->Play_Or_Stop();
    Tick(20);
    return SeeThroughProbe{*windows->SeeThrough};
  }
  auto Outcome() {
    Refresh();
    return std::tuple(sim->isPlaying(), sim->isTrayOpen(), sim->positionLsn(), Track(), Row(),
                      SeeThroughProbe{*windows->SeeThrough}.pupPlay->text(),
                      ui->chkRepeatDisc->isChecked(), ui->chkRepeatTrack->isChecked(),
                      PlayerSettings.MainForm, main->isVisible());
  }
};

// A capture during a drag would hide the window and end the move: what a drag uncovers is painted
// from the picture kept, and the background is read anew on release.
TEST_F(SeeThroughPlayer, DragOptionDialogAndMenuWorkAsTheControlSurface) {
  TfrmSeeThrough& overlay = Start().w;
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  Counter counter;
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

  for (bool use : {true, false}) {
    SCOPED_TRACE(use);
    ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
    bool ticked = false;
    QTimer::singleShot(100, main, [&] {
      Answer(windows->Option.get(), [&] {
        OptionProbe o{*windows->Option};
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

  overlay.show();
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  SeeThroughProbe menu{overlay};
  for (const bool on : {true, false}) {
    ui->chkRepeatDisc->setChecked(on);
    PlayerSettings.MainForm = on;
    QTest::mouseRelease(&menu.w, Qt::RightButton, {}, QPoint(100, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu.PopupMenu->isVisible(); }, 2000));
    EXPECT_EQ(menu.pupRepeadDisc->isChecked(), on);
    EXPECT_EQ(menu.pupViewMain->isChecked(), on);
    menu.PopupMenu->close();
  }
  for (const bool shown : {true, false}) {
    menu.pupViewMain->trigger();
    EXPECT_EQ(PlayerSettings.MainForm, shown);
    EXPECT_EQ(main->isVisible(), shown);
    EXPECT_EQ(menu.pupViewMain->isChecked(), shown);
  }

  for (int i = 0; i < 5; ++i) {
    Start();
    const auto before = Outcome();
    QList<QAbstractButton*>{ui->spdPlay, ui->spdNext, ui->spdRewind, ui->spdEject,
                            ui->chkRepeatDisc}[i]
        ->click();
    const auto byControl = Outcome();
    SeeThroughProbe items = Start();
    Outcome();
    QList{items.pupPlay, items.pupNext, items.pupPrevious, items.pupEject, items.pupRepeadDisc}[i]
        ->trigger();
    EXPECT_EQ(Outcome(), byControl) << i;
    EXPECT_NE(byControl, before) << i;
  }
}

}  // namespace
