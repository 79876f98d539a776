// CD_Object: its defaults, the entry's key order, and where it departs from the original on
// purpose.
#include "disc/Ucdobj.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ProfileTestSupport.h"
#include "disc/Profile.h"

using profile_test::Exists;
using profile_test::ReadFile;
using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

const std::string kArtist = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4";
const std::string kTitle = "\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9";
const std::string kTrack = "\xC4\xD7\xAF\xB8";

class CdObject : public ::testing::Test {
 protected:
  CD_Object Read(const std::string& file, const std::string& id, int deviceTracks) {
    WriteFile(db_, file);
    ProfileFile::Clear_Cache();
    CD_Object cd(db_);
    cd.Read_Disc_Info(id, deviceTracks);
    return cd;
  }
  TempDir dir_;
  std::string db_ = dir_ / "cdplayer.ini";
};

TEST_F(CdObject, NewObjectIsEmpty) {
  CD_Object cd(db_);
  EXPECT_EQ(cd.Disc_ID, "");
  EXPECT_EQ(cd.Entry_Type, 0);
  EXPECT_EQ(cd.Artist, "");
  EXPECT_EQ(cd.Title, "");
  EXPECT_EQ(cd.Num_Tracks, 0);
  EXPECT_TRUE(cd.Track_Titles.empty());
  EXPECT_EQ(cd.Play_Order, "");
  EXPECT_EQ(cd.Num_Play, 0);
  EXPECT_EQ(cd.Database_Path(), db_);
}

TEST_F(CdObject, DefaultNamesAreTheirCp932Bytes) {
  EXPECT_EQ(std::string(cd_defaults::kArtist), kArtist);
  EXPECT_EQ(std::string(cd_defaults::kTitle), kTitle);
  EXPECT_EQ(std::string(cd_defaults::kTrack), kTrack);
}

TEST_F(CdObject, UnknownDiscWithThreeTracksGetsTheDefaultsAndStoresThemInOrder) {
  CD_Object cd(db_);  // no file at all
  cd.Read_Disc_Info("0000FF", 3);
  EXPECT_EQ(cd.Disc_ID, "0000FF");
  EXPECT_EQ(cd.Entry_Type, 1);
  EXPECT_EQ(cd.Artist, kArtist);
  EXPECT_EQ(cd.Title, kTitle);
  EXPECT_EQ(cd.Num_Tracks, 3);
  EXPECT_EQ(cd.Track_Titles, (std::vector<std::string>{kTrack + "1", kTrack + "2", kTrack + "3"}));
  EXPECT_EQ(cd.Play_Order, " 0 1 2");
  EXPECT_EQ(cd.Num_Play, 3);
  cd.Write_Disc_Info();
  EXPECT_EQ(ReadFile(db_), "[0000FF]\r\nEntryType=1\r\nartist=" + kArtist + "\r\ntitle=" + kTitle +
                               "\r\nnumtracks=3\r\n0=" + kTrack + "1\r\n1=" + kTrack +
                               "2\r\n2=" + kTrack + "3\r\norder= 0 1 2\r\nnumplay=3\r\n");
}

TEST_F(CdObject, StoredEntryIsReadWithCaseInsensitiveNames) {
  CD_Object cd = Read(
      "[0000ff]\r\nENTRYTYPE=2\r\nArtist=A\r\nTitle=T\r\nNumTracks=2\r\n0=one\r\n1=two\r\n"
      "Order= 1 0\r\nNumPlay=2\r\n",
      "0000FF", 5);
  EXPECT_EQ(cd.Entry_Type, 2);
  EXPECT_EQ(cd.Artist, "A");
  EXPECT_EQ(cd.Title, "T");
  EXPECT_EQ(cd.Num_Tracks, 2);
  EXPECT_EQ(cd.Track_Titles, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(cd.Play_Order, "1 0");
  EXPECT_EQ(cd.Num_Play, 2);
}

TEST_F(CdObject, MoreStoredTracksThanTheDeviceReports) {
  std::string file = "[ABCDEF]\r\nnumtracks=12\r\n";
  for (int i = 0; i < 12; ++i) file += std::to_string(i) + "=t" + std::to_string(i + 1) + "\r\n";
  CD_Object cd = Read(file, "ABCDEF", 10);
  ASSERT_EQ(cd.Num_Tracks, 12);
  ASSERT_EQ(cd.Track_Titles.size(), 12u);
  EXPECT_EQ(cd.Track_Titles[11], "t12");
  std::vector<std::string> list;
  cd.Fill_Track_List(list);
  EXPECT_EQ(list.size(), 12u);
  cd.Track_Titles[11] = "changed";
  cd.Write_Disc_Info();
  EXPECT_NE(ReadFile(db_).find("numtracks=12\r\n"), std::string::npos);
  EXPECT_EQ(ProfileFile(db_).Profile_Read_String("ABCDEF", "11", ""), "changed");
}

TEST_F(CdObject, FewerStoredTracksThanTheDeviceReports) {
  std::string file = "[ABCDEF]\r\nnumtracks=8\r\n8=beyond\r\n9=beyond too\r\n";
  CD_Object cd = Read(file, "ABCDEF", 10);
  EXPECT_EQ(cd.Num_Tracks, 8);
  ASSERT_EQ(cd.Track_Titles.size(), 8u);
  EXPECT_EQ(cd.Track_Titles[0], kTrack + "1");
  EXPECT_EQ(cd.Play_Order, " 0 1 2 3 4 5 6 7");
  EXPECT_EQ(cd.Num_Play, 8);
  // Titles stored beyond Num_Tracks stay as they are.
  cd.Write_Disc_Info();
  EXPECT_EQ(ProfileFile(db_).Profile_Read_String("ABCDEF", "9", ""), "beyond too");
}

TEST_F(CdObject, ZeroNegativeOrEmptyTrackCount) {
  CD_Object zero = Read("[A00000]\r\nnumtracks=0\r\n", "A00000", 10);
  EXPECT_EQ(zero.Num_Tracks, 0);
  EXPECT_TRUE(zero.Track_Titles.empty());
  EXPECT_EQ(zero.Play_Order, "");
  EXPECT_EQ(zero.Num_Play, 0);

  CD_Object negative = Read("[A00000]\r\nnumtracks=-3\r\n", "A00000", 10);
  EXPECT_EQ(negative.Num_Tracks, -3);
  EXPECT_TRUE(negative.Track_Titles.empty());
  EXPECT_EQ(negative.Play_Order, "");
  EXPECT_EQ(negative.Num_Play, -3);

  CD_Object empty = Read("[A00000]\r\nnumtracks=\r\n", "A00000", 10);
  EXPECT_EQ(empty.Num_Tracks, 10);
  EXPECT_EQ(empty.Track_Titles.size(), 10u);
}

TEST_F(CdObject, HexadecimalCountsAndBadIntegersAreWrittenBackInDecimal) {
  for (const char* count : {"0x0A", "$0A"}) {
    CD_Object cd =
        Read(std::string("[B00000]\r\nEntryType=abc\r\nnumtracks=") + count + "\r\n", "B00000", 3);
    EXPECT_EQ(cd.Num_Tracks, 10);
    EXPECT_EQ(cd.Entry_Type, 1);
    cd.Write_Disc_Info();
    const std::string after = ReadFile(db_);
    EXPECT_NE(after.find("\r\nnumtracks=10\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("\r\nEntryType=1\r\n"), std::string::npos) << after;
  }
}

TEST_F(CdObject, MissingOrderGetsTheBuiltDefaultAndStoringAddsIt) {
  CD_Object cd =
      Read("[C00000]\r\nnumtracks=2\r\n0=a\r\n1=b\r\nnumplay=2\r\n; end\r\n", "C00000", 2);
  EXPECT_EQ(cd.Play_Order, " 0 1");
  cd.Write_Disc_Info();
  EXPECT_EQ(ReadFile(db_),
            "[C00000]\r\nnumtracks=2\r\n0=a\r\n1=b\r\nnumplay=2\r\nEntryType=1\r\nartist=" +
                kArtist + "\r\ntitle=" + kTitle + "\r\norder= 0 1\r\n; end\r\n");
}

TEST_F(CdObject, WritingKeepsUnknownKeysAndOtherEntries) {
  const std::string file =
      "[OTHER1]\r\nartist=x\r\n[D00000]\r\nartist=Old\r\nmystery=kept\r\n\r\n[OTHER2]\r\nk=v";
  CD_Object cd = Read(file, "D00000", 1);
  cd.Artist = "New";
  cd.Write_Disc_Info();
  EXPECT_EQ(ReadFile(db_),
            "[OTHER1]\r\nartist=x\r\n[D00000]\r\nartist=New\r\nmystery=kept\r\n"
            "EntryType=1\r\ntitle=" +
                kTitle + "\r\nnumtracks=1\r\n0=" + kTrack +
                "1\r\norder= 0\r\nnumplay=1\r\n\r\n[OTHER2]\r\nk=v");
}

TEST_F(CdObject, FillTrackList) {
  CD_Object none(db_);
  std::vector<std::string> list{"old item"};
  none.Fill_Track_List(list);
  EXPECT_TRUE(list.empty());

  CD_Object cd(db_);
  cd.Read_Disc_Info("000001", 11);
  cd.Track_Titles[1] = "two words";
  cd.Fill_Track_List(list);
  ASSERT_EQ(list.size(), 11u);
  EXPECT_EQ(list[0], "1 " + kTrack + "1");
  EXPECT_EQ(list[1], "2 two words");
  EXPECT_EQ(list[10], "11 " + kTrack + "11");
}

// Mends.

TEST_F(CdObject, HugeTrackCountReadsAsNinetyNineQuickly) {
  for (const char* count : {"100", "100000000", "2147483647", "$7FFFFFFF"}) {
    auto start = std::chrono::steady_clock::now();
    CD_Object cd = Read(std::string("[E00000]\r\nnumtracks=") + count + "\r\n", "E00000", 5);
    EXPECT_EQ(cd.Num_Tracks, 99) << count;
    EXPECT_EQ(cd.Track_Titles.size(), 99u);
    EXPECT_EQ(cd.Num_Play, 99);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
  CD_Object ninetyNine = Read("[E00000]\r\nnumtracks=99\r\n", "E00000", 5);
  EXPECT_EQ(ninetyNine.Num_Tracks, 99);
  CD_Object device(db_);
  device.Read_Disc_Info("F00000", 150);
  EXPECT_EQ(device.Num_Tracks, 99);
}

TEST_F(CdObject, WriteStoresAllKeysOrNone) {
  const std::string file = "[0000FF]\r\nartist=Old\r\n";
  CD_Object cd = Read(file, "0000FF", 3);
  cd.Artist = "New";
  cd.Track_Titles[2] = "broken\r\n[injected]";  // cannot be stored: the whole entry is refused
  EXPECT_THROW(cd.Write_Disc_Info(), EProfileError);
  EXPECT_EQ(ReadFile(db_), file);
  EXPECT_EQ(cd.Artist, "New");  // the object itself is unchanged
}

TEST_F(CdObject, WriteIsOneUpdateSeenWholeByReaders) {
  CD_Object cd = Read("", "0000FF", 20);
  struct stat before {};
  ::stat(db_.c_str(), &before);
  cd.Write_Disc_Info();
  struct stat after {};
  ::stat(db_.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino);  // replaced once, by rename
  CD_Object again = Read(ReadFile(db_), "0000FF", 1);
  EXPECT_EQ(again.Num_Tracks, 20);
  EXPECT_EQ(again.Track_Titles, cd.Track_Titles);
}

TEST_F(CdObject, LongStoredValueWrittenBackUnchangedKeepsItsFullText) {
  const std::string longTitle = std::string(1500, 'T') + "!";
  const std::string file = "[0000FF]\r\nEntryType=1\r\nartist=A\r\ntitle=" + longTitle +
                           "\r\nnumtracks=1\r\n0=" + std::string(1100, 'x') +
                           "\r\norder= 0\r\nnumplay=1\r\n";
  CD_Object cd = Read(file, "0000FF", 1);
  EXPECT_EQ(cd.Title.size(), 1023u);
  EXPECT_EQ(cd.Track_Titles[0].size(), 1023u);
  cd.Write_Disc_Info();
  EXPECT_EQ(ReadFile(db_), file);
  cd.Artist = "B";  // changing another key leaves the long ones alone
  cd.Write_Disc_Info();
  EXPECT_NE(ReadFile(db_).find("title=" + longTitle + "\r\n"), std::string::npos);
}

TEST_F(CdObject, EmptyDiscIdWritesNothing) {
  CD_Object cd(db_);
  cd.Write_Disc_Info();
  EXPECT_FALSE(Exists(db_));
  cd.Read_Disc_Info("", 2);
  EXPECT_EQ(cd.Artist, kArtist);
  cd.Write_Disc_Info();
  EXPECT_FALSE(Exists(db_));
}

TEST_F(CdObject, MissingDatabaseDirectoryIsCreated) {
  const std::string path = dir_ / "data/nested/cdplayer.ini";
  CD_Object cd(path);
  cd.Read_Disc_Info("0000FF", 1);
  cd.Write_Disc_Info();
  EXPECT_EQ(ProfileFile(path).Profile_Read_Integer("0000FF", "numtracks", 0), 1);
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "data/nested").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(DiscDatabasePath, XdgDataHomeOrLocalShare) {
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const char* oldHome = std::getenv("HOME");
  std::string savedData = oldData ? oldData : "", savedHome = oldHome ? oldHome : "";
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_DATA_HOME", "/data/here", 1);
  EXPECT_EQ(Disc_Database_Path(), "/data/here/cdplayer.ini");
  ::setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(Disc_Database_Path(), "/home/someone/.local/share/cdplayer.ini");
  ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
  EXPECT_EQ(Disc_Database_Path(), "/home/someone/.local/share/cdplayer.ini");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(Disc_Database_Path(), "/home/someone/.local/share/cdplayer.ini");
  if (oldData) ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
  if (oldHome)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
