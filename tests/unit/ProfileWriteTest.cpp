// Writing rules of the profile operations: every other byte kept, in-place replacement, where new
// keys and sections go, new files, several writes as one update.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "ProfileTestSupport.h"
#include "disc/Profile.h"

using profile_test::Exists;
using profile_test::ListDir;
using profile_test::ReadFile;
using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

class ProfileWrite : public ::testing::Test {
 protected:
  // Writes one value into a file holding `before` and returns the file's bytes after.
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
  TempDir dir_;
  std::string path_ = dir_ / "w.ini";
};

TEST_F(ProfileWrite, NewFile) {
  ProfileFile file(path_);
  file.Profile_Write_String("Disc", "artist", "A");
  EXPECT_EQ(ReadFile(path_), "[Disc]\r\nartist=A\r\n");
  file.Profile_Write_Integer("Disc", "numtracks", 12);
  file.Profile_Write_Bool("Other", "flag", true);
  file.Profile_Write_Bool("Other", "off", false);
  EXPECT_EQ(ReadFile(path_),
            "[Disc]\r\nartist=A\r\nnumtracks=12\r\n[Other]\r\nflag=1\r\noff=0\r\n");
  // Only the file and its lock remain: no temporary file.
  EXPECT_EQ(ListDir(dir_.path()), (std::set<std::string>{"w.ini", "w.ini.lock"}));
}

TEST_F(ProfileWrite, IntegersInDecimal) {
  ProfileFile file(path_);
  file.Profile_Write_Integer("S", "a", -5);
  file.Profile_Write_Integer("S", "b", 0);
  file.Profile_Write_Integer("S", "c", -2147483647 - 1);
  file.Profile_Write_Integer("S", "d", 2147483647);
  EXPECT_EQ(ReadFile(path_), "[S]\r\na=-5\r\nb=0\r\nc=-2147483648\r\nd=2147483647\r\n");
}

TEST_F(ProfileWrite, EveryOtherByteIsKept) {
  const std::string before =
      "; a comment before everything\n"
      "stray=before any section\n"
      "\n"
      "[Disc]   \n"
      "  Artist = Old Name   \n"
      "\tUnknownKey=kept\n"
      "no equals sign here\n"
      "\n"
      "; trailing comment\n"
      "[OTHER]\r"
      "x=1\r";
  const std::string after = After(before, "disc", "artist", "New Name");
  std::string expected = before;
  expected.replace(expected.find("Old Name   "), 11, "New Name");
  EXPECT_EQ(after, expected);
}

TEST_F(ProfileWrite, ReplacesInPlaceKeepingTheNameAsSpelled) {
  EXPECT_EQ(After("[S]\r\nKey=old\r\nnext=1\r\n", "s", "KEY", "new"),
            "[S]\r\nKey=new\r\nnext=1\r\n");
  EXPECT_EQ(After("[S]\r\nk=\r\n", "S", "k", "filled"), "[S]\r\nk=filled\r\n");
  EXPECT_EQ(After("[S]\r\nk=\"quoted\"\r\n", "S", "k", "plain"), "[S]\r\nk=plain\r\n");
  EXPECT_EQ(After("[S]\r\nk=value\r\n", "S", "k", ""), "[S]\r\nk=\r\n");
  EXPECT_EQ(After("[S]\r\nk = old \r\n", "S", "k", "new"), "[S]\r\nk = new\r\n");
  // A value with blanks of its own replaces the old blanks too, so writing it again is stable.
  EXPECT_EQ(After("[S]\r\nk = old\r\n", "S", "k", " new"), "[S]\r\nk = new\r\n");
  EXPECT_EQ(After("[S]\r\nk = new\r\n", "S", "k", " new"), "[S]\r\nk = new\r\n");
  EXPECT_EQ(After("[S]\nk=old", "S", "k", "new"), "[S]\nk=new");  // no final line end added
}

TEST_F(ProfileWrite, FirstOfDuplicatesIsTheOneWritten) {
  EXPECT_EQ(After("[S]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\n", "S", "k", "9"),
            "[S]\r\nk=9\r\nk=2\r\n[S]\r\nk=3\r\n");
  EXPECT_EQ(After("[S]\r\na=1\r\n[T]\r\n[S]\r\nb=2\r\n", "S", "b", "9"),
            "[S]\r\na=1\r\nb=9\r\n[T]\r\n[S]\r\nb=2\r\n");
}

TEST_F(ProfileWrite, NewKeyGoesAfterTheLastKeyLineOfItsSection) {
  EXPECT_EQ(After("[A]\r\na=1\r\n\r\n; note\r\n[B]\r\nb=1\r\n", "A", "n", "2"),
            "[A]\r\na=1\r\nn=2\r\n\r\n; note\r\n[B]\r\nb=1\r\n");
  EXPECT_EQ(After("[A]\r\na=1\r\nloose line\r\n;c=1\r\n", "A", "n", "2"),
            "[A]\r\na=1\r\nn=2\r\nloose line\r\n;c=1\r\n");
  // A section without keys: right after its header.
  EXPECT_EQ(After("[A]\r\n\r\n; c\r\n[B]\r\n", "a", "n", "2"), "[A]\r\nn=2\r\n\r\n; c\r\n[B]\r\n");
  // LF file: the new line still ends with CRLF.
  EXPECT_EQ(After("[A]\na=1\n", "A", "n", "2"), "[A]\na=1\nn=2\r\n");
  // The last key line lacks its line end: supplied first.
  EXPECT_EQ(After("[A]\r\na=1", "A", "n", "2"), "[A]\r\na=1\r\nn=2\r\n");
  EXPECT_EQ(After("[A]", "A", "n", "2"), "[A]\r\nn=2\r\n");
  EXPECT_EQ(After("[A]\na=1\r\n[B]", "A", "n", "2"), "[A]\na=1\r\nn=2\r\n[B]");
}

TEST_F(ProfileWrite, NewSectionGoesAtTheEndWithNoBlankLineBefore) {
  EXPECT_EQ(After("[A]\r\na=1\r\n", "B", "b", "2"), "[A]\r\na=1\r\n[B]\r\nb=2\r\n");
  EXPECT_EQ(After("[A]\r\na=1\r\n\r\n", "B", "b", "2"), "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n");
  EXPECT_EQ(After("[A]\r\na=1", "B", "b", "2"), "[A]\r\na=1\r\n[B]\r\nb=2\r\n");
  EXPECT_EQ(After("[A]\na=1\r", "B", "b", "2"), "[A]\na=1\r[B]\r\nb=2\r\n");
  EXPECT_EQ(After("", "B", "b", "2"), "[B]\r\nb=2\r\n");
  EXPECT_EQ(After("k=orphan\r\n", "", "k", "v"), "k=orphan\r\n[]\r\nk=v\r\n");
  // Names are written without surrounding blanks.
  EXPECT_EQ(After("", " B ", " b ", " v"), "[B]\r\nb= v\r\n");
}

TEST_F(ProfileWrite, ValuesAreBytesWrittenUnchanged) {
  const std::string value = "\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9 \x5C\x7E\x81\x5D";
  EXPECT_EQ(After("", "S", "t", value), "[S]\r\nt=" + value + "\r\n");
}

TEST_F(ProfileWrite, AValueThatAlreadyReadsSoLeavesTheFileUntouched) {
  WriteFile(path_, "[S]\r\nk = \"same\"  \r\n");
  struct stat before {};
  ::stat(path_.c_str(), &before);
  ProfileFile(path_).Profile_Write_String("S", "k", "same");
  struct stat after {};
  ::stat(path_.c_str(), &after);
  EXPECT_EQ(ReadFile(path_), "[S]\r\nk = \"same\"  \r\n");
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(ProfileWrite, LongStoredValueWrittenBackAsReadKeepsItsFullText) {
  const std::string stored = std::string(1500, 'L') + "end";
  const std::string before = "[S]\r\nk=" + stored + "\r\n";
  WriteFile(path_, before);
  ProfileFile file(path_);
  std::string read = file.Profile_Read_String("S", "k", "");
  ASSERT_EQ(read.size(), 1023u);
  file.Profile_Write_String("S", "k", read);
  EXPECT_EQ(ReadFile(path_), before);
  file.Profile_Write_String("S", "k", read + "x");  // a real change replaces it
  EXPECT_EQ(ReadFile(path_), "[S]\r\nk=" + read + "x\r\n");
}

TEST_F(ProfileWrite, StructureBreakingNamesAndValuesAreRefused) {
  WriteFile(path_, "[S]\r\nk=v\r\n");
  ProfileFile file(path_);
  EXPECT_THROW(file.Profile_Write_String("S", "k", "two\r\nlines"), EProfileError);
  EXPECT_THROW(file.Profile_Write_String("S", "k", std::string("nul\0", 4)), EProfileError);
  EXPECT_THROW(file.Profile_Write_String("S\x90", "k", "v"), EProfileError);  // lead byte eats "]"
  EXPECT_THROW(file.Profile_Write_String("S", "a=b", "v"), EProfileError);
  EXPECT_THROW(file.Profile_Write_String("S", ";k", "v"), EProfileError);
  EXPECT_THROW(file.Profile_Write_String("S", "[k]", "v"), EProfileError);
  // A key beginning with "[" whose value would close the bracket: the line would be a header.
  EXPECT_THROW(file.Profile_Write_String("S", "[x", "y]"), EProfileError);
  EXPECT_EQ(ReadFile(path_), "[S]\r\nk=v\r\n");
  WriteFile(path_, "[S]\r\n[x=1\r\n");
  EXPECT_THROW(file.Profile_Write_String("S", "[x", "]"), EProfileError);
  file.Profile_Write_String("S", "[x", "2");
  EXPECT_EQ(ReadFile(path_), "[S]\r\n[x=2\r\n");
  // The name of a header runs to its last bracket, so a "]" inside a name reads back.
  file.Profile_Write_String("a]b", "k", "v");
  EXPECT_EQ(file.Profile_Read_String("a]b", "k", ""), "v");
  // A "]" that is the trail byte of a double-byte character is no bracket.
  file.Profile_Write_String("X\x8F\x5D", "k", "v");
  EXPECT_EQ(file.Profile_Read_String("X\x8F\x5D", "k", ""), "v");
}

TEST_F(ProfileWrite, ErrorTextNamesThePath) {
  ProfileFile file(dir_ / "missing-dir/db.ini");
  try {
    file.Profile_Write_String("S", "k", "v");
    FAIL() << "no error";
  } catch (const EProfileError& e) {
    EXPECT_STREQ(e.what(), (dir_ / "missing-dir/db.ini" + " に書き込めません").c_str());
    EXPECT_EQ(e.path(), dir_ / "missing-dir/db.ini");
  }
}

TEST_F(ProfileWrite, UpdateAppliesSeveralWritesAsOne) {
  const std::string before = "; db\r\n[B]\r\nx=1\r\n[A]\r\na=old\r\n";
  ProfileFile::Update u;
  u.Profile_Write_String("A", "a", "new");
  u.Profile_Write_String("C", "c", "1");
  u.Profile_Write_Integer("B", "y", 2);
  u.Profile_Write_String("a", "b", "3");
  u.Profile_Write_Bool("D", "d", true);
  u.Profile_Write_String("C", "c", "2");
  u.Profile_Write_String("B", "x", "9");

  // Same bytes as the writes one by one.
  WriteFile(path_, before);
  for (const auto& w : u.writes())
    ProfileFile(path_).Profile_Write_String(w.section, w.key, w.value);
  const std::string oneByOne = ReadFile(path_);
  EXPECT_EQ(oneByOne,
            "; db\r\n[B]\r\nx=9\r\ny=2\r\n[A]\r\na=new\r\nb=3\r\n[C]\r\nc=2\r\n[D]\r\nd=1\r\n");

  WriteFile(path_, before);
  struct stat st1 {};
  ::stat(path_.c_str(), &st1);
  ProfileFile(path_).Apply(u);
  EXPECT_EQ(ReadFile(path_), oneByOne);
  EXPECT_EQ(Profile_Text_Apply(before, u.writes()), oneByOne);
}

TEST_F(ProfileWrite, UpdateIsAllOrNothing) {
  WriteFile(path_, "[S]\r\nk=v\r\n");
  ProfileFile::Update u;
  u.Profile_Write_String("S", "a", "1");
  u.Profile_Write_String("S", "b", "bad\nvalue");
  EXPECT_THROW(ProfileFile(path_).Apply(u), EProfileError);
  EXPECT_EQ(ReadFile(path_), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileWrite, PermissionsAreKept) {
  WriteFile(path_, "[S]\r\nk=v\r\n");
  ::chmod(path_.c_str(), 0640);
  ProfileFile(path_).Profile_Write_String("S", "k", "w");
  struct stat st {};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A new file gets the usual mode for new files (0666 less the umask).
  mode_t mask = ::umask(022);
  ProfileFile(dir_ / "fresh.ini").Profile_Write_String("S", "k", "v");
  ::umask(mask);
  ::stat((dir_ / "fresh.ini").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(ProfileWrite, SymlinkStaysASymlinkAndItsTargetIsUpdated) {
  ::mkdir((dir_ / "real").c_str(), 0755);
  WriteFile(dir_ / "real/db.ini", "[S]\r\nk=v\r\n");
  ASSERT_EQ(::symlink("real/db.ini", (dir_ / "link1.ini").c_str()), 0);                 // relative
  ASSERT_EQ(::symlink((dir_ / "link1.ini").c_str(), (dir_ / "link2.ini").c_str()), 0);  // chain
  ProfileFile(dir_ / "link2.ini").Profile_Write_String("S", "k", "through links");
  struct stat st {};
  ASSERT_EQ(::lstat((dir_ / "link1.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat((dir_ / "link2.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir_ / "real/db.ini"), "[S]\r\nk=through links\r\n");
  EXPECT_TRUE(Exists(dir_ / "real/db.ini.lock"));  // the lock sits beside the target

  // A dangling link: the target is created.
  ASSERT_EQ(::symlink("real/new.ini", (dir_ / "dangling.ini").c_str()), 0);
  ProfileFile(dir_ / "dangling.ini").Profile_Write_String("S", "k", "v");
  EXPECT_EQ(ReadFile(dir_ / "real/new.ini"), "[S]\r\nk=v\r\n");
  ASSERT_EQ(::lstat((dir_ / "dangling.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ProfileWrite, ReadsSeeChangesMadeByOtherProgramsAtOnce) {
  ProfileFile file(path_);
  // Same size, same inode, rewritten in place right after a read: the racy-change rule.
  WriteFile(path_, "[S]\r\nk=1\r\n");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "1");
  WriteFile(path_, "[S]\r\nk=2\r\n");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "2");

  // An old, trusted parse: in-place change of the same size with the modification time put
  // back. The change time still moves, so the change is seen.
  WriteFile(path_, "[S]\r\nk=3\r\n");
  timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  ::usleep(120000);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "3");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "3");  // from the cache
  WriteFile(path_, "[S]\r\nk=4\r\n");
  ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "4");

  // Replaced by rename, as other careful writers do.
  WriteFile(path_ + ".new", "[S]\r\nk=5\r\n");
  ::rename((path_ + ".new").c_str(), path_.c_str());
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "5");
}

TEST_F(ProfileWrite, StaleTemporaryFilesOfAKilledWriterAreRemoved) {
  WriteFile(path_, "[S]\r\nk=v\r\n");
  WriteFile(dir_ / ".w.ini.zarncd-AbC123", "half written");
  WriteFile(dir_ / ".w.ini.other", "not ours");
  ProfileFile(path_).Profile_Write_String("S", "k", "w");
  EXPECT_FALSE(Exists(dir_ / ".w.ini.zarncd-AbC123"));
  EXPECT_TRUE(Exists(dir_ / ".w.ini.other"));
}

}  // namespace
