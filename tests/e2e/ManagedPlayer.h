#pragma once
// A copy of the program on the simulated disc, beside its own ZarnCD.ini, under a real window
// manager (openbox), with its two windows found from the X server's side.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>

#include <QByteArray>

#include "support/Servers.h"

class ManagedPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
    ASSERT_TRUE(testsupport::StartWindowManager(wm));
    const auto tests = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::filesystem::copy_file(tests.parent_path() / "zarncd", dir.file("zarncd"));
  }

  // Starts the program; true once its main window is mapped, and the overlay (titled
  // "Information") too when `withOverlay`.
  bool Launch(bool withOverlay) {
    using testsupport::ClientRect, testsupport::Output;
    player = testsupport::ChildProcess::Start(
        {dir.file("zarncd")}, {"ZARNCD_SIMULATED_DISC=1", "XDG_DATA_HOME=" + dir.path()});
    main.clear(), overlay.clear();
    return testsupport::WaitFor(
        [&] {
          std::istringstream ids(Output("xdotool search --pid " + std::to_string(player.pid())));
          for (std::string id; ids >> id;) {
            if (Output("xprop -id " + id + " _NET_WM_NAME").find("\"Information\"") !=
                std::string::npos)
              overlay = id;
            else if (Output("xprop -id " + id + " WM_CLASS").find("zarncd") != std::string::npos &&
                     main.empty() && !ClientRect(id).isEmpty())
              main = id;
          }
          return !main.empty() && (!withOverlay || !overlay.empty());
        },
        std::chrono::seconds(60));
  }

  // True once the program has ended; `again` (when given) is run every 3 s until it does, the
  // first time after `firstAfter`: a key pressed while the window manager is still busy with a
  // window can go astray.
  bool Until_Ended(const std::string& again, std::chrono::milliseconds firstAfter) {
    auto next = std::chrono::steady_clock::now() + firstAfter;
    return testsupport::WaitFor(
        [&] {
          if (!player.running()) return true;
          if (again.empty() || std::chrono::steady_clock::now() < next) return false;
          testsupport::Output(again);
          next = std::chrono::steady_clock::now() + std::chrono::seconds(3);
          return false;
        },
        std::chrono::seconds(30));
  }

  testsupport::TempDir dir;
  const std::string ini = dir.file("ZarnCD.ini");
  testsupport::ChildProcess wm, player;  // stopped before the directory goes
  std::string main, overlay;
};
