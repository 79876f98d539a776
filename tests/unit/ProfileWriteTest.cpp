// Writing rules of the profile operations.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "profile/ProfileFile.h"

using profile_test::ListDir;
using profile_test::ReadFile;
using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

struct Case {
  std::string before, section, key, value, after;
};

class ProfileWrite : public ::testing::Test {
 protected:
  // Writes one value into a file holding `before`: the file, the pure text writer and a read
  // back agree.
  std::string After(const std::string& before, const std::string& section, const std::string& key,
                    const std::string& value) {
    WriteFile(path_, before);
    ProfileFile(path_).Profile_Write_String(section, key, value);
    std::string after = ReadFile(path_);
    EXPECT_EQ(after, Profile_Text_Apply(before, {{section, key, value}}));
    if (value.empty() || (value.front() != ' ' && value.back() != ' ')) {
      EXPECT_EQ(ProfileFile(path_).Profile_Read_String(section, key, "<default>"), value);
    }
    return after;
  }
  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases)
      EXPECT_EQ(After(c.before, c.section, c.key, c.value), c.after) << c.before;
  }
  TempDir dir_;
  std::string path_ = dir_.file("w.ini");
};

// Bools, and that no temporary file stays behind, show in the settings and fault tests.
TEST_F(ProfileWrite, NewFileHoldsStringsAndDecimalIntegers) {
  ProfileFile file(path_);
  file.Profile_Write_String("Disc", "artist", "A");
  file.Profile_Write_Integer("Disc", "min", -2147483647 - 1);
  file.Profile_Write_Integer("Other", "max", 2147483647);
  EXPECT_EQ(ReadFile(path_),
            "[Disc]\r\nartist=A\r\nmin=-2147483648\r\n[Other]\r\nmax=2147483647\r\n");
}

TEST_F(ProfileWrite, ReplacesTheFirstMatchInPlaceKeepingTheNameAsSpelledAndEveryOtherByte) {
  const std::string messy =
      "; first\nstray=before any section\n\n[Disc]   \n  Artist = Old Name   \n"
      "\tUnknown=kept\nno equals sign here\n\n; last\n[OTHER]\rx=1\r";
  std::string mended = messy;
  mended.replace(mended.find("Old Name   "), 11, "New Name");
  Check({{messy, "disc", "artist", "New Name", mended},
         {"[S]\r\nKey=old\r\nnext=1\r\n", "s", "KEY", "new", "[S]\r\nKey=new\r\nnext=1\r\n"},
         {"[S]\r\nk=\r\n", "S", "k", "filled", "[S]\r\nk=filled\r\n"},
         {"[S]\r\nk=\"quoted\"\r\n", "S", "k", "plain", "[S]\r\nk=plain\r\n"},
         {"[S]\r\nk=value\r\n", "S", "k", "", "[S]\r\nk=\r\n"},
         {"[S]\r\nk = old \r\n", "S", "k", "new", "[S]\r\nk = new\r\n"},
         // A value with blanks of its own replaces the old blanks too: writing it again is stable.
         {"[S]\r\nk = old\r\n", "S", "k", " new", "[S]\r\nk = new\r\n"},
         {"[S]\r\nk = new\r\n", "S", "k", " new", "[S]\r\nk = new\r\n"},
         {"[S]\nk=old", "S", "k", "new", "[S]\nk=new"},
         {"[S]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\n", "S", "k", "9",
          "[S]\r\nk=9\r\nk=2\r\n[S]\r\nk=3\r\n"},
         {"[S]\r\na=1\r\n[T]\r\n[S]\r\nb=2\r\n", "S", "b", "9",
          "[S]\r\na=1\r\nb=9\r\n[T]\r\n[S]\r\nb=2\r\n"}});
}

TEST_F(ProfileWrite, NewKeyFollowsTheLastKeyLineAndNewSectionGoesAtTheEnd) {
  const std::string raw = "\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9 \x5C\x7E\x81\x5D";
  Check(
      {{"[A]\r\na=1\r\n\r\n; note\r\n[B]\r\n", "A", "n", "2",
        "[A]\r\na=1\r\nn=2\r\n\r\n; note\r\n[B]\r\n"},
       {"[A]\r\na=1\r\nloose\r\n;c=1\r\n", "A", "n", "2", "[A]\r\na=1\r\nn=2\r\nloose\r\n;c=1\r\n"},
       {"[A]\r\n\r\n; c\r\n[B]\r\n", "a", "n", "2", "[A]\r\nn=2\r\n\r\n; c\r\n[B]\r\n"},
       {"[A]\na=1\n", "A", "n", "2", "[A]\na=1\nn=2\r\n"},
       {"[A]", "A", "n", "2", "[A]\r\nn=2\r\n"},
       {"[A]\r\na=1\r\n\r\n", "B", "b", "2", "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n"},
       {"[A]\r\na=1", "B", "b", "2", "[A]\r\na=1\r\n[B]\r\nb=2\r\n"},
       {"[A]\na=1\r", "B", "b", "2", "[A]\na=1\r[B]\r\nb=2\r\n"},
       {"k=orphan\r\n", "", "k", "v", "k=orphan\r\n[]\r\nk=v\r\n"},
       {"", " B ", " b ", " v", "[B]\r\nb= v\r\n"},
       {"", "S", "t", raw, "[S]\r\nt=" + raw + "\r\n"}});
}

TEST_F(ProfileWrite, AValueThatAlreadyReadsSoLeavesTheFileUntouched) {
  WriteFile(path_, "[S]\r\nk = \"same\"  \r\n");
  struct stat before {
  }, after{};
  ::stat(path_.c_str(), &before);
  ProfileFile(path_).Profile_Write_String("S", "k", "same");
  ::stat(path_.c_str(), &after);
  EXPECT_EQ(ReadFile(path_), "[S]\r\nk = \"same\"  \r\n");
  EXPECT_EQ(before.st_ino, after.st_ino);

  // Even when the stored value is longer than a read returns.
  const std::string longer = "[S]\r\nk=" + std::string(1500, 'L') + "end\r\n";
  WriteFile(path_, longer);
  ProfileFile file(path_);
  const std::string read = file.Profile_Read_String("S", "k", "");
  file.Profile_Write_String("S", "k", read);
  EXPECT_EQ(ReadFile(path_), longer);
  file.Profile_Write_String("S", "k", read + "x");
  EXPECT_EQ(ReadFile(path_), "[S]\r\nk=" + read + "x\r\n");
}

TEST_F(ProfileWrite, StructureBreakingNamesAndValuesAreRefused) {
  WriteFile(path_, "[S]\r\n[x=1\r\n");
  ProfileFile file(path_);
  // Line breaks, NUL, a lead byte that eats the "]", "=" or ";" in a key, a line read as a header.
  const std::array<std::string, 3> refused[] = {
      {"S", "k", "two\r\nlines"}, {"S", "k", std::string("nul\0", 4)},
      {"S\x90", "k", "v"},        {"S", "a=b", "v"},
      {"S", ";k", "v"},           {"S", "[k]", "v"},
      {"S", "[x", "y]"},          {"S", "[x", "]"},
  };
  for (const auto& [section, key, value] : refused)
    EXPECT_THROW(file.Profile_Write_String(section, key, value), EProfileError) << key;
  EXPECT_EQ(ReadFile(path_), "[S]\r\n[x=1\r\n");
  file.Profile_Write_String("S", "[x", "2");
  EXPECT_EQ(ReadFile(path_), "[S]\r\n[x=2\r\n");
  // A "]" inside a section name, or as the trail byte of a double-byte character, reads back.
  for (const std::string section : {"a]b", "X\x8F\x5D"}) {
    file.Profile_Write_String(section, "k", "v");
    EXPECT_EQ(file.Profile_Read_String(section, "k", ""), "v");
  }
}

TEST_F(ProfileWrite, UpdateIsTheWritesOneByOneAppliedAllOrNothing) {
  const std::string before = "; db\r\n[B]\r\nx=1\r\n[A]\r\na=old\r\n";
  const std::string expected = "; db\r\n[B]\r\nx=1\r\ny=2\r\n[A]\r\na=new\r\nb=3\r\n[C]\r\nc=2\r\n";
  ProfileFile::Update u;
  u.Profile_Write_String("A", "a", "new");
  u.Profile_Write_String("C", "c", "1");
  u.Profile_Write_Integer("B", "y", 2);
  u.Profile_Write_String("a", "b", "3");
  u.Profile_Write_String("C", "c", "2");
  WriteFile(path_, before);
  ProfileFile(path_).Apply(u);
  EXPECT_EQ(ReadFile(path_), expected);
  EXPECT_EQ(Profile_Text_Apply(before, u.writes()), expected);

  u.Profile_Write_String("S", "b", "bad\nvalue");
  WriteFile(path_, before);
  EXPECT_THROW(ProfileFile(path_).Apply(u), EProfileError);
  EXPECT_EQ(ReadFile(path_), before);
}

TEST_F(ProfileWrite, PermissionsAreKeptAndNewFilesFollowTheUmask) {
  WriteFile(path_, "[S]\r\nk=v\r\n");
  ::chmod(path_.c_str(), 0640);
  ProfileFile(path_).Profile_Write_String("S", "k", "w");
  struct stat st {};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const mode_t mask = ::umask(022);
  ProfileFile(dir_.file("fresh.ini")).Profile_Write_String("S", "k", "v");
  ::umask(mask);
  ::stat((dir_.file("fresh.ini")).c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(ProfileWrite, SymlinksStaySymlinksAndTheirTargetIsWritten) {
  ::mkdir((dir_.file("real")).c_str(), 0755);
  WriteFile(dir_.file("real/db.ini"), "[S]\r\nk=v\r\n");
  ASSERT_EQ(::symlink("real/db.ini", (dir_.file("link1.ini")).c_str()), 0);
  ASSERT_EQ(::symlink((dir_.file("link1.ini")).c_str(), (dir_.file("link2.ini")).c_str()), 0);
  ASSERT_EQ(::symlink("real/new.ini", (dir_.file("dangling.ini")).c_str()), 0);
  ProfileFile(dir_.file("link2.ini")).Profile_Write_String("S", "k", "through links");
  ProfileFile(dir_.file("dangling.ini")).Profile_Write_String("S", "k", "v");
  EXPECT_EQ(ReadFile(dir_.file("real/db.ini")), "[S]\r\nk=through links\r\n");
  EXPECT_EQ(ReadFile(dir_.file("real/new.ini")), "[S]\r\nk=v\r\n");
  EXPECT_TRUE(
      std::filesystem::exists(dir_.file("real/db.ini.lock")));  // the lock sits beside the target
  for (const char* link : {"link1.ini", "link2.ini", "dangling.ini"}) {
    struct stat st {};
    ASSERT_EQ(::lstat((dir_.file(link)).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
}

TEST_F(ProfileWrite, ReadsSeeChangesMadeByOtherProgramsAtOnce) {
  ProfileFile file(path_);
  // Same size and inode, rewritten right after a read.
  WriteFile(path_, "[S]\r\nk=1\r\n");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "1");
  WriteFile(path_, "[S]\r\nk=2\r\n");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "2");
  // An old, trusted parse; the modification time put back after the change.
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  WriteFile(path_, "[S]\r\nk=3\r\n");
  ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  ::usleep(120000);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "3");
  WriteFile(path_, "[S]\r\nk=4\r\n");
  ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "4");
  // Replaced by rename.
  WriteFile(path_ + ".new", "[S]\r\nk=5\r\n");
  ::rename((path_ + ".new").c_str(), path_.c_str());
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "5");
}

TEST_F(ProfileWrite, StaleTemporaryFilesOfAKilledWriterAreRemoved) {
  WriteFile(dir_.file(".w.ini.zarncd-AbC123"), "half written");
  WriteFile(dir_.file(".w.ini.other"), "not ours");
  ProfileFile(path_).Profile_Write_String("S", "k", "w");
  EXPECT_EQ(ListDir(dir_.path()), (std::set<std::string>{".w.ini.other", "w.ini", "w.ini.lock"}));
}

}  // namespace
