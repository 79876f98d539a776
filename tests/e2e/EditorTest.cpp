// The CD information editor as a user drives it: the player's windows on a simulated drive under
// the test's X server, with clicks and keys from xdotool.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/Startup.h"
#include "app/Umain.h"
#include "profile/ProfileFile.h"
#include "disc/Uinfo.h"
#include "settings/PlayerSettings.h"
#include "support/Servers.h"
#include "support/SharedDriver.h"

using namespace std::chrono_literals;
using testsupport::WaitFor;

namespace {

// Runs xdotool with these arguments and waits for it, delivering the program's events meanwhile.
bool Xdotool(std::vector<std::string> args) {
  args.insert(args.begin(), "xdotool");
  testsupport::ChildProcess xdotool = testsupport::ChildProcess::Start(args);
  return WaitFor([&] { return !xdotool.running(); }, 10s);
}

std::string N(int v) {
  return std::to_string(v);
}

}  // namespace

TEST(Editor, NamesTheDiscFromTheEditButton) {
  if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
  testsupport::TempDir dir;
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.path()));
  Set_Settings_File_Override(dir.file("ZarnCD.ini"));
  auto sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({200, 200, 200}));
  auto windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim));
  TfrmMain& main = *windows->Main;
  TfrmCDInfo& info = *windows->CDInfo;
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  ASSERT_TRUE(WaitFor([&] { return main.ListBoxTracks->count() == 3; }, 10s));

  // The user's steps run inside the dialog's modal loop, each once the dialog shows the last one
  // done: keys sent before the dialog has the focus would be lost.
  const QPoint ok = info.btnOk->mapTo(&info, info.btnOk->rect().center());
  bool finished = false;
  std::function<void()> user = [&] {
    if (!info.isVisible()) return QTimer::singleShot(10, &info, user);
    const std::string id = N(static_cast<int>(info.winId()));
    auto step = [](std::vector<std::string> args, std::function<bool()> done) {
      return Xdotool(std::move(args)) && WaitFor(done, 5s);
    };
    finished = step({"windowfocus", "--sync", id}, [&] { return info.edArtist->hasFocus(); }) &&
               step({"key", "ctrl+a", "A", "y", "u", "m", "i", "Tab", "B", "e", "s", "t"},
                    [&] { return info.edTitle->text() == "Best"; }) &&
               step({"mousemove", "--window", id, N(ok.x()), N(ok.y()), "click", "1"},
                    [&] { return !info.isVisible(); });
    if (info.isVisible()) info.reject();
  };
  QTimer::singleShot(0, &info, user);
  const QPoint edit = main.spdEdit->mapToGlobal(main.spdEdit->rect().center());
  ASSERT_TRUE(Xdotool({"mousemove", "--sync", N(edit.x()), N(edit.y()), "click", "1"}));
  ASSERT_TRUE(WaitFor([&] { return finished; }, 30s));

  const ProfileFile database(dir.file("cdplayer.ini"));
  const std::string section = Disc_ID_From_Identity(sim->disc()->IdentityText());
  EXPECT_EQ(database.Profile_Read_String(section, "artist", ""), "Ayumi");
  EXPECT_EQ(database.Profile_Read_String(section, "title", ""), "Best");
  EXPECT_TRUE(WaitFor([&] { return main.windowTitle() == "Stopped Ayumi  Best  "; }, 5s))
      << main.windowTitle().toStdString();
  windows.reset();
}
