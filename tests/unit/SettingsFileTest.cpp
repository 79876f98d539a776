// ZarnCD.ini: what FormCreate reads and where the file lives. What the Option dialog and the
// exit write is tested with the running player.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ProfileTestSupport.h"
#include "settings/PlayerSettings.h"

using namespace profile_test;

namespace {

TStoredSettings Read_File(const std::string& path) {
  return Read_Settings(ProfileFile(path).Read_Snapshot());
}

}  // namespace

// The defaults show in the window tests (texts, look, the exit keys) and in ProfileFaultTest.
TEST(SettingsFile, EachValueTypeIsReadWithTheProfileRules) {
  TempDir dir;
  const std::string path = dir.file("ZarnCD.ini");
  WriteFile(path,
            "[Title_Bar]\r\nTrackNo=1\r\nArtist=0\r\nTime=abc\r\n"
            "[window]\r\nTrackNo=-1\r\nCDTitle=0\r\nTallHeight=$258\r\nMainForm=0\r\n"
            "PlayerMode=0\r\n[Icon]\r\nTrackTitle=0\r\n[Disp]\r\nPanelColor=-1\r\n"
            "[Play]\r\nRepeatTrack=7\r\n[SeeThrough]\r\nUse=2\r\n");
  const TStoredSettings r = Read_File(path);
  EXPECT_TRUE(r.Player.Title_Bar_TrackNo && r.Player.Window_TrackNo);  // any non-zero number
  EXPECT_FALSE(r.Player.Title_Bar_Artist || r.Player.Window_CDTitle || r.Player.MainForm ||
               r.Player.PlayerMode || r.Player.Icon_TrackTitle);
  EXPECT_FALSE(r.Player.Title_Bar_Time);  // not a number: the default
  EXPECT_EQ(r.Player.TallHeight, 600);
  EXPECT_EQ(r.Disp.PanelColor, 0xFFFFFFFFu);
  EXPECT_TRUE(r.RepeatTrack && r.Player.SeeThrough_Use);
}

TEST(SettingsFile, BesideTheExecutableOrInTheConfigDirectory) {
  SavedEnv config("XDG_CONFIG_HOME"), home("HOME");
  TempDir dir;
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  EXPECT_EQ(Settings_File_Path_For(dir.path()), dir.file("ZarnCD.ini"));
  EXPECT_EQ(Settings_File_Path_For(dir.file("missing")), dir.file("config/ZarnCD.ini"));
  // A relative or missing XDG_CONFIG_HOME means ~/.config; a folder without the file, or one
  // the user may not write, means the configuration directory.
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(Settings_File_Path_For(dir.file("missing")), "/home/someone/.config/ZarnCD.ini");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(Settings_File_Path_For("/usr/bin"), "/home/someone/.config/ZarnCD.ini");

  // An installed copy: a directory the user may not write to. The first save makes the
  // configuration directory, private to the user.
  ::setenv("XDG_CONFIG_HOME", dir.file("config/deeper").c_str(), 1);
  ASSERT_EQ(::mkdir(dir.file("bin").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const int code = RunUnprivileged([&] {
    const std::string path = Settings_File_Path_For(dir.file("bin"));
    if (path != dir.file("config/deeper/ZarnCD.ini")) return 1;
    Write_Settings(path, Exit_Settings_Update(true, false, Default_Player_Settings()));
    return Read_File(path).RepeatDisk ? 0 : 2;
  });
  if (code == kSkip) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(code, 0);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("config/deeper").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}
