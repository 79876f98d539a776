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
using testsupport::WaitFor;

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// A text property of a window as xprop shows it, without the quotes; "(unset)" when missing.
std::string Property(const std::string& window, const std::string& name) {
  std::string line = Output("xprop -id " + window + " " + name + " 2>/dev/null");
  const std::size_t equals = line.find(" = ");
  if (equals == std::string::npos) return "(unset)";
  line = line.substr(equals + 3);
  while (!line.empty() && (line.back() == '\n' || line.back() == '"')) line.pop_back();
  if (!line.empty() && line.front() == '"') line.erase(0, 1);
  return line;
}

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
          const std::string name = Property(id, "_NET_WM_NAME");
          if (name == "Information") overlay = id;
          if (name == "Stopped ") main = id;
        }
        return !main.empty() && !overlay.empty();
      },
      60s));

  Output("xdotool windowfocus --sync " + main + " key Return");  // Play
  ASSERT_TRUE(WaitFor([&] { return Property(main, "_NET_WM_NAME") != "Stopped "; }, 10s));
  EXPECT_EQ(Property(main, "_NET_WM_NAME"), "");
  EXPECT_EQ(Property(main, "WM_NAME"), "");
  EXPECT_EQ(Property(overlay, "_NET_WM_NAME"), "Information");
  for (const std::string& window : {main, overlay})
    EXPECT_EQ(Property(window, "_NET_WM_ICON_NAME"), "") << window;
}

}  // namespace
