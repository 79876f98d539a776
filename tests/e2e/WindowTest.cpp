// The player's windows as the window system sees them: the program itself runs on the simulated
// disc under the test's X server, and its window properties are read with xprop.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::Output;
using testsupport::WaitFor;
using testsupport::WindowProperty;

namespace {

// With every caption and taskbar field switched off, the playing player's caption and the
// application title are empty, and must stay so: the X11 back end would put the program's name
// in an empty caption.
TEST(Window, EmptyCaptionAndTaskbarTitleStayEmpty) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) != "xcb") GTEST_SKIP() << "no X server";
  testsupport::TempDir dir;
  // A copy of the program (built one folder above this test) reads its settings file from
  // beside itself, here.
  const auto tests = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  std::filesystem::copy_file(tests.parent_path() / "zarncd", dir.file("zarncd"));
  std::ofstream(dir.file("ZarnCD.ini"), std::ios::binary)
      << "[Title_Bar]\r\nTrackNo=0\r\nTime=0\r\nArtist=0\r\nCDTitle=0\r\nTrackTitle=0\r\n"
      << "[Icon]\r\nTrackNo=0\r\nTime=0\r\nArtist=0\r\nCDTitle=0\r\nTrackTitle=0\r\n";
  auto player = testsupport::ChildProcess::Start(
      {dir.file("zarncd")}, {"ZARNCD_SIMULATED_DISC=1", "XDG_DATA_HOME=" + dir.path()});

  // The main window reads "Stopped " once the first refresh has named the disc.
  std::string main, overlay;
  ASSERT_TRUE(WaitFor(
      [&] {
        std::istringstream windows(
            Output("xdotool search --pid " + std::to_string(player.pid()) + " 2>/dev/null"));
        for (std::string id; windows >> id;) {
          const std::string name = WindowProperty(id, "_NET_WM_NAME");
          if (name == "Information") overlay = id;
          if (name == "Stopped ") main = id;
        }
        return !main.empty() && !overlay.empty();
      },
      60s));

  Output("xdotool windowfocus --sync " + main + " key Return");  // Play
  ASSERT_TRUE(WaitFor([&] { return WindowProperty(main, "_NET_WM_NAME") != "Stopped "; }, 10s));
  EXPECT_EQ(WindowProperty(main, "_NET_WM_NAME"), "");
  EXPECT_EQ(WindowProperty(main, "WM_NAME"), "");
  EXPECT_EQ(WindowProperty(overlay, "_NET_WM_NAME"), "Information");
  for (const std::string& window : {main, overlay})
    EXPECT_EQ(WindowProperty(window, "_NET_WM_ICON_NAME"), "") << window;
}

}  // namespace
