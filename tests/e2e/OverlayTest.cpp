// The see-through window on the test's X server, over a window with a known pattern: what the
// screen shows where it stands, after a capture and, with a compositing manager, as a
// translucent window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "overlay/Artwork.h"
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

// Where `shot` differs from the window's face over `beneath`: the artwork where its masks put it,
// the text in kInk within the two lines' fields, the panel halved (within 1 where a compositor
// blends), and the screen unchanged around it. Empty when it does not.
std::string Mismatch(const QImage& shot, const QImage& beneath, bool live) {
  const struct {
    QPoint at;
    TMaskedPicture art;
  } placed[] = {{{16, 8}, Logo_Artwork()},
                {{0, 0}, Bracket_Artwork(TCorner::TopLeft)},
                {{0, 32}, Bracket_Artwork(TCorner::BottomLeft)},
                {{240, 0}, Bracket_Artwork(TCorner::TopRight)},
                {{240, 32}, Bracket_Artwork(TCorner::BottomRight)}};
  int ink = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 256; ++x) {
      const QRgb got = shot.pixel(x, y), under = beneath.pixel(x, y);
      std::optional<QRgb> art;
      for (const auto& p : placed) {
        const QPoint at = QPoint(x, y) - p.at;
        if (p.art.mask.rect().contains(at) && p.art.mask.pixel(at) == 0xFFFFFFFF)
          art = p.art.picture.pixel(at);
      }
      const bool panel = x >= 6 && x <= 250 && y >= 6 && y <= 42;
      const bool text =
          QRect(63, 10, 185, 17).contains(x, y) || QRect(59, 23, 185, 22).contains(x, y);
      const QRgb halved = 0xFF000000 | ((under >> 1) & 0x7F7F7F);
      const auto near = [](QRgb a, QRgb b) {  // a compositor's blend rounds its own way
        return std::abs(qRed(a) - qRed(b)) <= 1 && std::abs(qGreen(a) - qGreen(b)) <= 1 &&
               std::abs(qBlue(a) - qBlue(b)) <= 1;
      };
      bool ok = true;
      if (art)
        ok = got == *art;
      else if (text && got == kInk)
        ++ink;
      else if (panel)
        ok = live ? near(got, halved) : got == halved;
      else
        ok = got == under;
      if (!ok)
        return QString::asprintf("(%d, %d) is %08x over %08x", x, y, got, under).toStdString();
    }
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

TEST_F(SeeThroughScreen, CaptureHalvesWhatLiesBehindAndTakesItAnewOnEveryPaintRequest) {
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
  EXPECT_TRUE(vanished);
  EXPECT_EQ(Face(overlay, 1), "");
}

TEST_F(SeeThroughScreen, TranslucentWindowDarkensWhatLiesBehindLive) {
  auto compositor = testsupport::ChildProcess::Start({"xcompmgr"});
  if (!compositor.running()) GTEST_SKIP() << "xcompmgr is not installed";
  PlayerSettings.SeeThrough_Live = true;
  std::unique_ptr<TfrmSeeThrough> overlay;
  ASSERT_TRUE(WaitFor(
      [&] {
        overlay = std::make_unique<TfrmSeeThrough>();
        return overlay->Live();
      },
      10s));
  overlay->show();
  EXPECT_EQ(Face(*overlay, 0), "");
  // Live: what changes behind it shows through without a new paint request.
  below.setPixmap(QPixmap::fromImage(Pattern(2)));
  EXPECT_EQ(Face(*overlay, 2), "");
}

}  // namespace
