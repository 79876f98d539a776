// The see-through window on the test's X server, over a window with a known pattern: what the
// screen shows where it stands, after a capture and, with a compositing manager, as a
// translucent window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "overlay/Usthrou.h"
#include "settings/PlayerSettings.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::WaitFor;

namespace {

constexpr QRgb kInk = 0xFFFFFF00;  // the text's first colour, brighter than any halved pixel

QImage Pattern(int seed) {
  QImage img(400, 100, QImage::Format_RGB32);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      img.setPixel(x, y,
                   qRgb((x * 7 + seed) & 255, (y * 13 + seed * 3) & 255, ((x + y) * 5) & 255));
  return img;
}

QImage Screen(const QRect& area) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// What is wrong with `shot` as the window's face over `beneath`, or nothing: the panel shows
// what lies beneath halved (within 1 where a compositor blends) but for the artwork and the text
// over it, and the text shows its first colour. The drawing itself is checked pixel for pixel on
// pictures; here a stale, shifted or self-made capture must show.
std::string Mismatch(const QImage& shot, const QImage& beneath, bool live) {
  const int slack = live ? 1 : 0;
  int halved = 0, ink = 0;
  for (int y = 6; y <= 42; ++y)
    for (int x = 6; x <= 250; ++x) {
      const QRgb got = shot.pixel(x, y), want = (beneath.pixel(x, y) >> 1) & 0x7F7F7F;
      ink += got == kInk;
      halved += std::abs(qRed(got) - qRed(want)) <= slack &&
                std::abs(qGreen(got) - qGreen(want)) <= slack &&
                std::abs(qBlue(got) - qBlue(want)) <= slack;
    }
  // The artwork and the text cover about a sixth of the panel.
  if (halved < 245 * 37 * 3 / 4) return std::to_string(halved) + " panel pixels show it halved";
  return ink > 100 ? "" : "no text";
}

class SeeThroughScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "no X server";
    // The test's X server is what is tested, whatever session the tests run in.
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    PlayerSettings = Default_Player_Settings();
    below.setWindowFlags(Qt::FramelessWindowHint);
    below.setWindowTitle(QStringLiteral("pattern"));
    below.setPixmap(QPixmap::fromImage(Pattern(0)));
    below.move(0, 0);
    below.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&below));
  }
  // Ticks until the screen shows the face over the pattern, or the deadline passes.
  std::string Face(TfrmSeeThrough& overlay, int seed) {
    const QRect area(overlay.pos(), QSize(256, 48));
    std::string mismatch;
    WaitFor(
        [&] {
          overlay.Draw_Info(QStringLiteral("Blue  Sky"), QStringLiteral("Track3 2m 5s"), false);
          mismatch = Mismatch(Screen(area), Pattern(seed).copy(area), overlay.Live());
          return mismatch.empty();
        },
        10s);
    return mismatch;
  }
  QLabel below;
};

TEST_F(SeeThroughScreen, CaptureTakesWhatLiesBehindAnewOnEveryPaintRequestAndLiveShowsItThrough) {
  TfrmSeeThrough overlay;
  ASSERT_FALSE(overlay.Live());
  overlay.show();
  EXPECT_EQ(Face(overlay, 0), "");

  // What a click does: the window vanishes and comes back over what lies behind it now.
  below.setPixmap(QPixmap::fromImage(Pattern(1)));
  const QRect area(overlay.pos(), QSize(256, 48));
  bool vanished = false;
  QTimer::singleShot(
      300, [&] { vanished = !overlay.isVisible() && Screen(area) == Pattern(1).copy(area); });
  overlay.Paint_Overlay();
  EXPECT_TRUE(WaitFor([&] { return !overlay.Capturing(); }, 10s));
  EXPECT_TRUE(vanished);
  EXPECT_EQ(Face(overlay, 1), "");

  // With a compositing manager, the translucent window: what changes behind it shows through
  // without a new paint request.
  overlay.hide();
  auto compositor = testsupport::ChildProcess::Start({"xcompmgr"});
  if (!compositor.running()) GTEST_SKIP() << "xcompmgr is not installed";
  PlayerSettings.SeeThrough_Live = true;
  std::unique_ptr<TfrmSeeThrough> live;
  ASSERT_TRUE(WaitFor(
      [&] {
        live = std::make_unique<TfrmSeeThrough>();
        return live->Live();
      },
      10s));
  live->show();
  EXPECT_EQ(Face(*live, 1), "");
  below.setPixmap(QPixmap::fromImage(Pattern(3)));
  EXPECT_EQ(Face(*live, 3), "");
}

}  // namespace
