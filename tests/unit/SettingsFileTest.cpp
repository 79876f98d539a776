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

TEST(SettingsFile, MissingFileGivesTheDesignedDefaults) {
  TempDir dir;
  const TStoredSettings r = Read_File(dir / "ZarnCD.ini");
  const TPlayerSettings& s = r.Player;
  // Caption: artist and disc title; display: disc and track title; taskbar: number and title.
  EXPECT_FALSE(s.Title_Bar_TrackNo || s.Title_Bar_Time || s.Title_Bar_TrackTitle);
  EXPECT_TRUE(s.Title_Bar_Artist && s.Title_Bar_CDTitle);
  EXPECT_FALSE(s.Window_TrackNo || s.Window_Time || s.Window_Artist);
  EXPECT_TRUE(s.Window_CDTitle && s.Window_TrackTitle);
  EXPECT_TRUE(s.Icon_TrackNo && s.Icon_TrackTitle);
  EXPECT_FALSE(s.Icon_Time || s.Icon_Artist || s.Icon_CDTitle);
  EXPECT_TRUE(s.MainForm && s.PlayerMode && s.SeeThrough_Use);
  EXPECT_EQ(s.TallHeight, 450);
  EXPECT_EQ(s.SeeThrough_Font_Color, 65535u);
  EXPECT_EQ(r.Disp.FontSize, 12);
  EXPECT_EQ(r.Disp.FontColor, 32768u);
  EXPECT_EQ(r.Disp.FontName, "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E");
  EXPECT_EQ(r.Disp.PanelColor, 0u);
  EXPECT_FALSE(r.RepeatDisk || r.RepeatTrack);
}

TEST(SettingsFile, EachValueTypeIsReadWithTheProfileRules) {
  TempDir dir;
  const std::string path = dir / "ZarnCD.ini";
  WriteFile(path,
            "[Title_Bar]\r\nTrackNo=1\r\nArtist=0\r\nTime=abc\r\n"
            "[window]\r\nTrackNo=-1\r\nCDTitle=0\r\nTallHeight=$258\r\nMainForm=0\r\n"
            "PlayerMode=\r\n[Icon]\r\nTrackTitle=0\r\n"
            "[Disp]\r\nFontSize=0x10\r\nFontColor=255\r\nFontName=\x82\x6C\x82\x72 \x96\xBE\x92\xA9"
            "\r\nPanelColor=-1\r\n[Play]\r\nRepeatDisk=1\r\nRepeatTrack=7\r\n"
            "[SeeThrough]\r\nFontColor=16711680\r\nUse=2\r\n");
  const TStoredSettings r = Read_File(path);
  EXPECT_TRUE(r.Player.Title_Bar_TrackNo && r.Player.Window_TrackNo);  // any non-zero number
  EXPECT_FALSE(r.Player.Title_Bar_Artist || r.Player.Window_CDTitle || r.Player.MainForm ||
               r.Player.Icon_TrackTitle);
  EXPECT_FALSE(r.Player.Title_Bar_Time);  // not a number: the default
  EXPECT_TRUE(r.Player.PlayerMode);       // present but empty: the default
  EXPECT_TRUE(r.Player.Icon_TrackNo);
  EXPECT_EQ(r.Player.TallHeight, 600);
  EXPECT_EQ(r.Disp.FontSize, 16);
  EXPECT_EQ(r.Disp.FontColor, 255u);
  EXPECT_EQ(r.Disp.FontName, "\x82\x6C\x82\x72 \x96\xBE\x92\xA9");
  EXPECT_EQ(r.Disp.PanelColor, 0xFFFFFFFFu);
  EXPECT_TRUE(r.RepeatDisk && r.RepeatTrack && r.Player.SeeThrough_Use);
  EXPECT_EQ(r.Player.SeeThrough_Font_Color, 0xFF0000u);  // told apart from [Disp] FontColor
}

TEST(SettingsFile, BesideTheExecutableOrInTheConfigDirectory) {
  SavedEnv config("XDG_CONFIG_HOME"), home("HOME");
  TempDir dir;
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  EXPECT_EQ(Settings_File_Path_For(dir.path()), dir / "ZarnCD.ini");
  EXPECT_EQ(Settings_File_Path_For(dir / "missing"), dir / "config/ZarnCD.ini");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(Settings_File_Path_For(dir / "missing"), "/home/someone/.config/ZarnCD.ini");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(Settings_File_Path_For(dir / "missing"), "/home/someone/.config/ZarnCD.ini");

  // An installed copy: a directory the user may not write to. The first save makes the
  // configuration directory, private to the user.
  ::setenv("XDG_CONFIG_HOME", (dir / "config/deeper").c_str(), 1);
  ASSERT_EQ(::mkdir((dir / "bin").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const int code = RunUnprivileged([&] {
    const std::string path = Settings_File_Path_For(dir / "bin");
    if (path != dir / "config/deeper/ZarnCD.ini") return 1;
    Write_Settings(path, Exit_Settings_Update(true, false, Default_Player_Settings()));
    return Read_File(path).RepeatDisk ? 0 : 2;
  });
  if (code == kSkip) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(code, 0);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "config/deeper").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}
