// The see-through window as the program's control surface under a real window manager
// (openbox): dragged and clicked with the mouse, its menu driven from the keyboard, and the
// program ended from it. A copy of the program runs on the simulated disc beside its own
// ZarnCD.ini.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include <QColor>
#include <QRect>

#include "ManagedPlayer.h"
#include "profile/ProfileFile.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::ClientRect;
using testsupport::Output;
using testsupport::WaitFor;

namespace {

class OverlayControl : public ManagedPlayer {
 protected:
  // Starts the program and waits until the overlay shows its first face.
  void Start() {
    ASSERT_TRUE(Launch(true));
    ASSERT_TRUE(WaitFor([&] { return !ClientRect(overlay).isEmpty(); }, 60s));
    // The first capture may be over before the window is found.
    WaitFor([&] { return ClientRect(overlay).isEmpty(); }, 1500ms);
    ASSERT_TRUE(WaitFor([&] { return !ClientRect(overlay).isEmpty(); }, 10s));
  }

  // A capture: the overlay leaves the screen and comes back.
  bool Vanishes_And_Returns() {
    return WaitFor([&] { return ClientRect(overlay).isEmpty(); }, 10s) &&
           WaitFor([&] { return !ClientRect(overlay).isEmpty(); }, 10s);
  }

  // Opens the menu over the overlay and chooses the item `downs` steps from the top.
  void Choose(int downs) {
    const std::size_t windows =
        Output("xdotool search --onlyvisible --pid " + std::to_string(player.pid())).size();
    Output("xdotool mousemove --window " + overlay + " 128 24 click 3");
    ASSERT_TRUE(WaitFor(
        [&] {
          return Output("xdotool search --onlyvisible --pid " + std::to_string(player.pid()))
                     .size() > windows;
        },
        10s));
    std::string keys = "xdotool key";
    for (int i = 0; i < downs; ++i) keys += " Down";
    Output(keys + " Return");
  }

  // The colour on the screen at (x, y).
  static QColor Pixel(int x, int y) {
    unsigned r = 0, g = 0, b = 0;
    std::sscanf(Output("import -window root -crop 1x1+" + std::to_string(x) + "+" +
                       std::to_string(y) + " -depth 8 txt:- | tail -1")
                    .c_str(),
                "%*s (%u,%u,%u", &r, &g, &b);
    return QColor(r, g, b);
  }

  // The program ends by itself, or after `again` repeated until it does.
  void Expect_End(const std::string& again = {}) { ASSERT_TRUE(Until_Ended(again, 3s)); }
};

// Dragged, the overlay follows the mouse and renews its background where it lands; a click that
// moves nothing renews it in place.
TEST_F(OverlayControl, DragMovesAndAClickRecaptures) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const QRect start = ClientRect(overlay);
  Output("xdotool mousemove 100 30 mousedown 1");
  // The window manager takes the move over a moment after the press.
  int step = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        ++step;
        Output("xdotool mousemove " + std::to_string(100 + step) + " " + std::to_string(30 + step));
        return ClientRect(overlay).topLeft() != start.topLeft();
      },
      10s));
  Output("xdotool mousemove 500 400");
  EXPECT_TRUE(WaitFor([&] { return ClientRect(overlay).top() > 300; }, 10s));
  Output("xdotool mouseup 1");
  EXPECT_TRUE(Vanishes_And_Returns());
  const QRect moved = ClientRect(overlay);
  EXPECT_GT(moved.left(), 400);

  Output("xdotool mousemove --window " + overlay + " 128 24 click 1");
  EXPECT_TRUE(Vanishes_And_Returns());
  EXPECT_EQ(ClientRect(overlay), moved);
  Choose(8);  // Power Off
  ASSERT_NO_FATAL_FAILURE(Expect_End());
  EXPECT_EQ(ProfileFile(ini).Profile_Read_Integer("SHWindow", "PlaceNormalPos.Left", 0),
            moved.left());
}

// "Disp Control" hides the main window for good while the overlay is up; "Power Off" and a close
// request to the overlay both end the program with the settings and both placements saved.
TEST_F(OverlayControl, DispControlHidesTheMainWindowAndTheOverlayEndsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Choose(7);  // Disp Control
  ASSERT_TRUE(WaitFor([&] { return ClientRect(main).isEmpty(); }, 10s));
  Output("xdotool windowmap " + main);
  EXPECT_TRUE(WaitFor([&] { return !ClientRect(main).isEmpty(); }, 10s));
  EXPECT_TRUE(WaitFor([&] { return ClientRect(main).isEmpty(); }, 1s));
  Choose(8);  // Power Off
  ASSERT_NO_FATAL_FAILURE(Expect_End());
  ProfileFile file(ini);
  EXPECT_FALSE(file.Profile_Read_Bool("Window", "MainForm", true));
  EXPECT_NE(file.Profile_Read_Integer("Window", "PlaceNormalPos.Right", -1), -1);
  EXPECT_EQ(file.Profile_Read_Integer("SHWindow", "PlaceNormalPos.Left", 0), 40);

  // Started hidden, the main window comes, then goes; a close request to the overlay ends it all.
  file.Profile_Write_Bool("Play", "RepeatDisk", true);
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(WaitFor([&] { return ClientRect(main).isEmpty(); }, 10s));
  Output("xdotool windowmove " + overlay + " 500 400");
  ASSERT_TRUE(WaitFor([&] { return ClientRect(overlay).topLeft() == QPoint(500, 400); }, 10s));
  file.Profile_Write_Bool("Play", "RepeatDisk", false);
  ASSERT_NO_FATAL_FAILURE(Expect_End("xdotool windowactivate --sync " + overlay + " key alt+F4"));
  EXPECT_TRUE(file.Profile_Read_Bool("Play", "RepeatDisk", false));
  EXPECT_EQ(file.Profile_Read_Integer("SHWindow", "PlaceNormalPos.Left", 0), 500);
  EXPECT_FALSE(file.Profile_Read_Bool("Window", "MainForm", true));
}

// "Minimized" takes every window off the screen; restored, the overlay shows what lies behind
// it now, not what lay there before.
TEST_F(OverlayControl, MinimizedLeavesTheScreenAndComesBackOverWhatIsNowBehind) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const QRect at = ClientRect(overlay);
  const QPoint probe = at.topLeft() + QPoint(200, 6);
  EXPECT_LT(Pixel(probe.x(), probe.y()).blue(), 40);
  Choose(5);  // Minimized
  ASSERT_TRUE(
      WaitFor([&] { return ClientRect(overlay).isEmpty() && ClientRect(main).isEmpty(); }, 10s));

  // A blue window takes the overlay's place meanwhile.
  testsupport::ChildProcess blue = testsupport::ChildProcess::Start(
      {"display", "-size", "400x200", "-geometry",
       "+" + std::to_string(at.left() - 50) + "+" + std::to_string(at.top() - 50), "xc:blue"},
      {});
  ASSERT_TRUE(WaitFor([&] { return Pixel(probe.x(), probe.y()).blue() > 200; }, 20s));
  Output("xdotool windowactivate " + overlay);
  ASSERT_TRUE(WaitFor([&] { return !ClientRect(overlay).isEmpty(); }, 10s));
  EXPECT_TRUE(WaitFor(
      [&] {
        const QColor c = Pixel(probe.x(), probe.y());
        return !ClientRect(overlay).isEmpty() && !ClientRect(main).isEmpty() && c.blue() > 40 &&
               c.blue() < 200;
      },
      10s));
  Choose(8);  // Power Off
  ASSERT_NO_FATAL_FAILURE(Expect_End());
}

}  // namespace
