// Where the player's windows stand under a real window manager (openbox): a copy of the program
// runs on the simulated disc beside its own ZarnCD.ini, and the windows are measured from the
// X server's side, as outer frame rectangles.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <QRect>

inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

#include "ManagedPlayer.h"
#include "profile/ProfileFile.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::ClientRect;
using testsupport::OuterRect;
using testsupport::Output;
using testsupport::WaitFor;

namespace {

class Placement : public ManagedPlayer {
 protected:
  // Starts the program and waits for its main window, and for the overlay when it is shown.
  void Start(bool overlayShown = true) { ASSERT_TRUE(Launch(overlayShown)); }
  // Closes the main window as a user does, through the window manager, and waits for the end.
  void Close() {
    ASSERT_TRUE(Until_Ended("xdotool windowactivate --sync " + main + " key alt+F4", 0ms));
  }
  // Waits until the main window shows this outer rectangle, settled by the window manager.
  void Expect_Main(const QRect& outer) {
    EXPECT_TRUE(WaitFor([&] { return OuterRect(main) == outer; }, 10s))
        << ::testing::PrintToString(OuterRect(main));
  }
};

TEST_F(Placement, MovedAndResizedWindowComesBackAndAnUnusedOverlayStaysHidden) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // The designed places; the window is 450 pixels high outside and 350 wide inside.
  const int sides = OuterRect(main).width() - ClientRect(main).width();
  Expect_Main(QRect(9, 87, 350 + sides, 450));
  EXPECT_TRUE(WaitFor([&] { return OuterRect(overlay) == QRect(40, 15, 256, 48); }, 10s))
      << ::testing::PrintToString(OuterRect(overlay));

  Output("xdotool windowmove " + main + " 300 200");
  Output("xdotool windowsize " + main + " 420 520");
  ASSERT_TRUE(WaitFor([&] { return ClientRect(main) == QRect(300, 200, 420, 520); }, 10s));
  const QRect moved = OuterRect(main);
  ASSERT_NO_FATAL_FAILURE(Close());

  // The ten keys in their order, after the main window's settings, holding the outer rectangle.
  std::ifstream in(ini, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  std::size_t at = text.find("[Window]");
  for (const char* key :
       {"PlayerMode=", "PlaceFlags=0", "PlaceShowCmd=1", "PlaceMinPos.X=-1", "PlaceMinPos.Y=-1",
        "PlaceMaxPos.X=-1", "PlaceMaxPos.Y=-1", "PlaceNormalPos.Left=", "PlaceNormalPos.Top=",
        "PlaceNormalPos.Right=", "PlaceNormalPos.Bottom="}) {
    const std::size_t next = text.find(key, at);
    ASSERT_NE(next, std::string::npos) << key << " in\n" << text;
    at = next;
  }
  ProfileFile file(ini);
  EXPECT_EQ(file.Profile_Read_Integer("Window", "PlaceNormalPos.Left", 0), moved.x());
  EXPECT_EQ(file.Profile_Read_Integer("Window", "PlaceNormalPos.Bottom", 0), moved.bottom() + 1);

  // An overlay not in use is placed but stays hidden, its stored show state unread.
  file.Profile_Write_Bool("SeeThrough", "Use", false);
  file.Profile_Write_Integer("SHWindow", "PlaceShowCmd", 3);
  ASSERT_NO_FATAL_FAILURE(Start(false));
  Expect_Main(moved);
  EXPECT_TRUE(overlay.empty() || OuterRect(overlay).isEmpty());
  ASSERT_NO_FATAL_FAILURE(Close());
  EXPECT_EQ(file.Profile_Read_Integer("SHWindow", "PlaceShowCmd", 0), 1);
}

TEST_F(Placement, HostileStoredValuesLeaveTheWindowsUsable) {
  std::ofstream(ini, std::ios::binary)
      << "[Window]\r\nTallHeight=2147483647\r\nPlaceNormalPos.Left=-2147483648\r\n"
         "PlaceNormalPos.Top=5\r\nPlaceNormalPos.Right=2147483647\r\nPlaceNormalPos.Bottom=-3\r\n"
         "[Disp]\r\nFontSize=2147483647\r\n"
         "[SHWindow]\r\nPlaceNormalPos.Left=5000\r\nPlaceNormalPos.Top=5000\r\n"
         "PlaceNormalPos.Right=5256\r\nPlaceNormalPos.Bottom=5048\r\n";
  ASSERT_NO_FATAL_FAILURE(Start());
  // The overlay, stored beyond the screen, is moved onto it; the file keeps what it held.
  EXPECT_TRUE(WaitFor([&] { return OuterRect(overlay) == QRect(1024, 976, 256, 48); }, 10s));
  EXPECT_EQ(ProfileFile(ini).Profile_Read_Integer("SHWindow", "PlaceNormalPos.Left", 0), 5000);

  // The main window is no larger than the screen, and its controls are on it.
  const QRect screen(0, 0, 1280, 1024);
  ASSERT_TRUE(WaitFor([&] { return OuterRect(main).size() == screen.size(); }, 10s))
      << ::testing::PrintToString(OuterRect(main));
  EXPECT_TRUE(screen.contains(ClientRect(main).topLeft() + QPoint(350, 32 + 136)));

  // Compact, the display panel shows the largest font it can hold.
  Output("xdotool mousemove --window " + main + " 175 10 click 1");
  EXPECT_TRUE(WaitFor([&] { return ClientRect(main).height() == 54 + 20; }, 10s));
  Close();
}

}  // namespace
