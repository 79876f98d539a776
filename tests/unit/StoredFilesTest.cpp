// cdplayer.ini's disc entries and where both files live (the window's writes: the player tests).
#include "ProfileTestSupport.h"
#include "disc/Ucdobj.h"
#include "settings/PlayerSettings.h"

using namespace profile_test;

namespace {

struct SavedEnv {  // put back when the test ends
  const char* name;
  const char* was = std::getenv(name);
  std::optional<std::string> value = was ? std::optional<std::string>(was) : std::nullopt;
  ~SavedEnv() { value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name); }
};

class CdObject : public ::testing::Test {
 protected:
  CD_Object Read(const std::string& file, const std::string& id, int deviceTracks) {
    WriteFile(db_, file);
    ProfileFile::Clear_Cache();
    CD_Object cd(db_);
    cd.Read_Disc_Info(id, deviceTracks);
    return cd;
  }
  std::string Stored(const std::string& key) {
    return ProfileFile(db_).Profile_Read_String("ABCDEF", key, "<none>");
  }
  TempDir dir_;
  std::string db_ = dir_.file("cdplayer.ini");
};

// Names in any case; all keys written in one update, missing ones added, numbers in decimal: a
// title that cannot be stored leaves the file as it was.
TEST_F(CdObject, EntriesAreReadInAnyCaseAndWrittenBackWholeOrNotAtAll) {
  CD_Object cd = Read(
      "[OTHER1]\r\nartist=x\r\n[abcdef]\r\nENTRYTYPE=2\r\nArtist=Old\r\nNumTracks=0x2\r\n0=a\r\n"
      "1=b\r\nNumPlay=abc\r\nmystery=kept\r\n\r\n; end\r\n[OTHER2]\r\nk=v",
      "ABCDEF", 5);
  // NumPlay is not a number: the track count.
  EXPECT_EQ(std::tie(cd.Entry_Type, cd.Artist, cd.Title, cd.Num_Tracks, cd.Play_Order, cd.Num_Play),
            std::make_tuple(2, "Old", std::string(cd_defaults::kTitle), 2, " 0 1", 2));
  EXPECT_EQ(cd.Track_Titles, (std::vector<std::string>{"a", "b"}));
  cd.Artist = "New";
  cd.Write_Disc_Info();
  const std::string written =
      "[OTHER1]\r\nartist=x\r\n[abcdef]\r\nENTRYTYPE=2\r\nArtist=New\r\nNumTracks=2\r\n0=a\r\n"
      "1=b\r\nNumPlay=2\r\nmystery=kept\r\ntitle=" +
      std::string(cd_defaults::kTitle) + "\r\norder= 0 1\r\n\r\n; end\r\n[OTHER2]\r\nk=v";
  EXPECT_EQ(ReadFile(db_), written);
  cd.Artist = "Newer";
  cd.Track_Titles[1] = "broken\r\n[injected]";
  EXPECT_THROW(cd.Write_Disc_Info(), EProfileError);
  EXPECT_EQ(ReadFile(db_), written);

  // A value longer than a read gives is written back unchanged while it is not edited.
  const std::string longTitle = std::string(1500, 'T') + "!";
  const std::string file = "[0000FF]\r\nEntryType=1\r\nartist=A\r\ntitle=" + longTitle +
                           "\r\nnumtracks=1\r\n0=" + std::string(1100, 'x') +
                           "\r\norder= 0\r\nnumplay=1\r\n";
  cd = Read(file, "0000FF", 1);
  EXPECT_EQ(cd.Title.size(), 1023u);
  cd.Write_Disc_Info();
  EXPECT_EQ(ReadFile(db_), file);
  cd.Artist = "B";
  cd.Write_Disc_Info();
  EXPECT_NE(ReadFile(db_).find("title=" + longTitle + "\r\n"), std::string::npos);
}

TEST_F(CdObject, TrackCountIsTheStoredOneElseTheDevicesButNeverMoreThanNinetyNine) {
  const std::tuple<const char*, int, int, std::size_t> cases[] = {
      {"0", 10, 0, 0},    {"-3", 10, -3, 0},         {"", 10, 10, 10},        {"", 150, 99, 99},
      {"100", 5, 99, 99}, {"2147483647", 5, 99, 99}, {"$7FFFFFFF", 5, 99, 99}};
  for (const auto& [count, device, tracks, titles] : cases) {
    CD_Object cd = Read(std::string("[A0]\r\nnumtracks=") + count + "\r\n", "A0", device);
    EXPECT_EQ(std::tuple(cd.Num_Tracks, cd.Num_Play, cd.Track_Titles.size(), cd.Play_Order.empty()),
              std::tuple(tracks, tracks, titles, titles == 0))
        << count;
  }
  // Fewer than the device has: the titles stored beyond the count stay as they are.
  CD_Object fewer = Read("[ABCDEF]\r\nnumtracks=8\r\n8=beyond\r\n9=beyond too\r\n", "ABCDEF", 10);
  EXPECT_EQ(fewer.Track_Titles.size(), 8u);
  fewer.Write_Disc_Info();
  EXPECT_EQ(Stored("9"), "beyond too");
}

// The database lives in $XDG_DATA_HOME or ~/.local/share, the settings beside the executable or
// in the configuration folder; the first write makes missing folders, private to the user.
TEST_F(CdObject, FilesLiveInTheXdgFoldersOrBesideTheExecutable) {
  SavedEnv data{"XDG_DATA_HOME"}, config{"XDG_CONFIG_HOME"}, home{"HOME"};
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_DATA_HOME", "", 1);
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(Disc_Database_Path(), "/home/someone/.local/share/cdplayer.ini");
  EXPECT_EQ(Settings_File_Path_For(dir_.file("missing")), "/home/someone/.config/ZarnCD.ini");
  ::unsetenv("XDG_CONFIG_HOME");
  // Never beside a system folder's executable, even where the user may write.
  EXPECT_EQ(Settings_File_Path_For("/usr/bin"), "/home/someone/.config/ZarnCD.ini");
  EXPECT_EQ(Settings_File_Path_For(dir_.path()), dir_.file("ZarnCD.ini"));
  ::setenv("XDG_DATA_HOME", dir_.file("data/nested").c_str(), 1);
  CD_Object cd(Disc_Database_Path());
  cd.Read_Disc_Info("0000FF", 1);
  cd.Write_Disc_Info();
  EXPECT_EQ(ReadFile(dir_.file("data/nested/cdplayer.ini")).substr(0, 10), "[0000FF]\r\n");
  EXPECT_EQ(Stat(dir_.file("data/nested")).st_mode & 0777, 0700u);
  // An installed copy: a folder the user may not write to.
  ::setenv("XDG_CONFIG_HOME", dir_.file("config/deeper").c_str(), 1);
  ASSERT_EQ(::mkdir(dir_.file("bin").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0777), 0);
  const int code = ExitCode(Spawn(
      [&] {
        const std::string path = Settings_File_Path_For(dir_.file("bin"));
        if (path != dir_.file("config/deeper/ZarnCD.ini")) return 1;
        Write_Settings(path, Exit_Settings_Update(true, false, Default_Player_Settings()));
        return Read_Settings(ProfileFile(path).Read_Snapshot()).RepeatDisk ? 0 : 2;
      },
      true));
  if (code == kSkip) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(code, 0);
  EXPECT_EQ(Stat(dir_.file("config/deeper")).st_mode & 0777, 0700u);
}

TEST(SettingsFile, EachValueTypeIsReadWithTheProfileRules) {
  TempDir dir;
  const std::string path = dir.file("ZarnCD.ini");
  WriteFile(path,
            "[Title_Bar]\r\nTrackNo=1\r\nArtist=0\r\nTime=abc\r\n"
            "[window]\r\nTrackNo=-1\r\nCDTitle=0\r\nTallHeight=$258\r\nMainForm=0\r\n"
            "PlayerMode=0\r\n[Icon]\r\nTrackTitle=0\r\n[Disp]\r\nPanelColor=-2147483643\r\n"
            "[Play]\r\nRepeatTrack=7\r\n[SeeThrough]\r\nUse=2\r\n");
  const TStoredSettings r = Read_Settings(ProfileFile(path).Read_Snapshot());
  EXPECT_TRUE(r.Player.Title_Bar_TrackNo && r.Player.Window_TrackNo);  // any non-zero number
  EXPECT_FALSE(r.Player.Title_Bar_Artist || r.Player.Window_CDTitle || r.Player.MainForm ||
               r.Player.PlayerMode || r.Player.Icon_TrackTitle);
  EXPECT_FALSE(r.Player.Title_Bar_Time);  // not a number: the default
  EXPECT_EQ(r.Player.TallHeight, 600);
  EXPECT_EQ(r.Disp.PanelColor, 0x80000005u);
  EXPECT_TRUE(r.RepeatTrack && r.Player.SeeThrough_Use);
}

}  // namespace
