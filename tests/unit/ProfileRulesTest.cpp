#include <fcntl.h>
#include <sys/mman.h>

#include <array>

#include "ProfileTestSupport.h"

using namespace profile_test;

namespace {

class Profile : public ::testing::Test {
 protected:
  ProfileFile Stored(const std::string& text) {
    WriteFile(path_, text);
    ProfileFile::Clear_Cache();
    return ProfileFile(path_);
  }
  std::string Read(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& def = "<default>") {
    return Stored(text).Profile_Read_String(section, key, def);
  }
  std::string After(const std::string& before, const std::string& section, const std::string& key,
                    const std::string& value) {
    Stored(before).Profile_Write_String(section, key, value);
    return ReadFile(path_);
  }
  ProfileFile Holding(const std::string& value) { return Stored("[S]\r\nk=" + value + "\r\n"); }
  static constexpr std::int32_t kMin = -2147483647 - 1, kDef = -77;
  TempDir dir_;
  std::string path_ = dir_.file("test.ini");
};

TEST_F(Profile, KeysAreFoundByTheirLinesAndSections) {
  // 82 61 and 82 41 are two characters whose trail bytes look like "a" and "A".
  const std::string dbcs = "[\x82\x61]\r\nk=lower\r\n[\x82\x41]\r\nk=upper\r\n";
  const std::string comments = "[S]\r\n  ;k=comment\r\n#h=hash is no comment\r\n";
  const std::string dup = "[S]\r\nk=first\r\n[T]\r\n[s]\r\nk=second\r\nonly=later\r\n";
  const std::array<std::string, 4> cases[] = {
      {"[Disc]\r\nArtist=A\r\n", " disc ", "\tARTIST ", "A"},
      {"[Disc]\r\nArtist=A\r\n", "Disc2", "artist", "<default>"},
      {"  [ Disc ]\r\n  artist   =A\r\n", "Disc", "artist", "A"},
      {dbcs, "\x82\x41", "k", "upper"},  // no case folding in double-byte characters
      {"[X\x8F\x5D]\r\nk=v\r\n", "X\x8F\x5D", "k", "v"},  // trail byte "]" closes nothing
      {comments, "S", ";k", "<default>"},
      {comments, "S", "#h", "hash is no comment"},
      {"[S]\r\nlonely\r\nk=v\r\n", "S", "lonely", "<default>"},
      {"[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
      {"[S]\r\n=nameless\r\n", "S", "", "nameless"},
      {"k=orphan\r\n[S]\r\n", "", "k", "<default>"},  // before any header: no section
      {"[]\r\nk=empty section\r\n", "", "k", "empty section"},
      // The first of equal sections and keys wins.
      {"[S]\r\nK=1\r\nk=2\r\n", "S", "k", "1"},
      {dup, "S", "k", "first"},
      {dup, "S", "only", "<default>"},
      {"[S]\r\n[Broken\r\nk=still S\r\n", "S", "k", "still S"},
      {"[S]\r\n[x=1\r\n", "S", "[x", "1"},
      {"[S] ; note\r\nk=v\r\n", "S", "k", "v"},
      {"[a]b]\r\nk=v\r\n", "a]b", "k", "v"},
      {"[T]\r\nx [S]=1\r\n", "T", "x [S]", "1"},
      {"[S]\rk=cr\r", "S", "k", "cr"},
      {"[A]\rk=1\n[S]\r\n\nj=0\nk=mixed", "S", "k", "mixed"}};
  for (const auto& [text, section, key, read] : cases)
    EXPECT_EQ(Read(text, section, key), read) << text << " [" << section << "]";
  EXPECT_EQ(ProfileFile(dir_.file("absent.ini")).Profile_Read_String("S", "k", "def"), "def");
}

TEST_F(Profile, ValuesLoseBlanksAndOnePairOfQuotesAndAreCutAt1023BytesBetweenCharacters) {
  // Quotes go before the cut.
  const std::string raw = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4 \x5C\x7E\xFF\x80";
  const std::string x1023(1023, 'x'), splits = std::string(1022, 'x') + "\x82\xA0" + "tail",
                                      fits = std::string(1021, 'x') + "\x82\xA0" + "tail";
  const std::pair<std::string, std::string> values[] = {{"v\x1A", "v"},
                                                        {"\"quoted\"", "quoted"},
                                                        {"'single'", "single"},
                                                        {"\"", "\""},
                                                        {"\"\"twice\"\"", "\"twice\""},
                                                        {"\"mixed'", "\"mixed'"},
                                                        {"  \" padded \"  ", " padded "},
                                                        {" two  spaces \t ", "two  spaces"},
                                                        {raw, raw},
                                                        {std::string(2000, 'x'), x1023},
                                                        {"\"" + x1023 + "\"", x1023},
                                                        {splits, splits.substr(0, 1022)},
                                                        {fits, fits.substr(0, 1023)}};
  for (const auto& [stored, read] : values)
    EXPECT_EQ(Read("[S]\r\n\t k =" + stored + "\r\n", "S", "k"), read) << stored;
  // The default loses its trailing spaces and is cut like a value.
  EXPECT_EQ(Read("", "S", "k", " lead and trail  "), " lead and trail");
  EXPECT_EQ(Read("", "S", "k", std::string(1500, 'd')), std::string(1023, 'd'));
}

TEST_F(Profile, IntegersAndBools) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"+12", 12},           {"-0", 0},
      {"\"42\"", 42},        {"$0a", 10},
      {"0X0a", 10},          {"$FFFFFFFF", -1},
      {"$80000000", kMin},   {"0x00000000FF", 255},
      {"-2147483648", kMin}, {"0000000000000000000012", 12}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(Holding(text).Profile_Read_Integer("S", "k", kDef), value) << text;
  for (const char* text : {"", "-", "$", "0x", "$-1", "-$1", "0x 1", "12abc", "1 2", "1.5", "0xG",
                           "00x1", "\xEF\xBC\x91", "2147483648", "-2147483649", "$100000000",
                           "0x100000000", "99999999999999999999"})
    EXPECT_EQ(Holding(text).Profile_Read_Integer("S", "k", kDef), kDef) << text;
  // The string conversion alone knows no "0x" and skips only spaces.
  const std::pair<const char*, std::optional<std::int32_t>> converted[] = {
      {"   255", 255}, {" $ff", 255}, {"0xff", {}},      {"255 ", {}},
      {"\t255", {}},   {"   ", {}},   {"4294967295", {}}};
  for (const auto& [text, value] : converted) EXPECT_EQ(Profile_Str_To_Int(text), value) << text;
  const std::tuple<const char*, bool, bool> bools[] = {
      {"0", true, false},  {"2", false, true},     {"-1", false, true}, {"0x0", true, false},
      {"yes", true, true}, {"true", false, false}, {"", true, true}};
  for (const auto& [text, def, value] : bools)
    EXPECT_EQ(Holding(text).Profile_Read_Bool("S", "k", def), value) << text << " " << def;
}

TEST_F(Profile, WritesReplaceTheFirstMatchInPlaceOrAddTheKeyAfterTheSectionsLastKey) {
  const std::string messy =
      "; first\nstray=before any section\n\n[Disc]   \n  Artist = Old Name   \n"
      "\tUnknown=kept\nno equals sign here\n\n; last\n[OTHER]\rx=1\r";
  std::string mended = messy;
  mended.replace(mended.find("Old Name   "), 11, "New Name");
  const std::string raw = "\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9 \x5C\x7E\x81\x5D";
  const std::array<std::string, 5> cases[] = {
      {messy, "disc", "artist", "New Name", mended},  // the name as spelt, every other byte kept
      {"[S]\r\nk=\"quoted\"\r\n", "S", "k", "plain", "[S]\r\nk=plain\r\n"},
      {"[S]\r\nk=value\r\n", "S", "k", "", "[S]\r\nk=\r\n"},
      {"[S]\r\nk = old \r\n", "S", "k", "new", "[S]\r\nk = new\r\n"},
      // A value with blanks of its own replaces the old blanks too: writing it again is stable.
      {"[S]\r\nk = old\r\n", "S", "k", " new", "[S]\r\nk = new\r\n"},
      {"[S]\r\nk = new\r\n", "S", "k", " new", "[S]\r\nk = new\r\n"},
      {"[S]\nk=old", "S", "k", "new", "[S]\nk=new"},
      // A value that already reads so leaves the file as it is.
      {"[S]\r\nk = \"same\"  \r\n", "S", "k", "same", "[S]\r\nk = \"same\"  \r\n"},
      {"[S]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\n", "S", "k", "9", "[S]\r\nk=9\r\nk=2\r\n[S]\r\nk=3\r\n"},
      {"[S]\r\na=1\r\n[T]\r\n[S]\r\nb=2\r\n", "S", "b", "9",
       "[S]\r\na=1\r\nb=9\r\n[T]\r\n[S]\r\nb=2\r\n"},
      {"[A]\r\na=1\r\nloose\r\n\r\n;c=1\r\n[B]\r\n", "A", "n", "2",
       "[A]\r\na=1\r\nn=2\r\nloose\r\n\r\n;c=1\r\n[B]\r\n"},
      {"[A]\r\n\r\n; c\r\n[B]\r\n", "a", "n", "2", "[A]\r\nn=2\r\n\r\n; c\r\n[B]\r\n"},
      {"[A]\na=1\n", "A", "n", "2", "[A]\na=1\nn=2\r\n"},
      {"[A]", "A", "n", "2", "[A]\r\nn=2\r\n"},
      {"[A]\r\na=1\r\n\r\n", "B", "b", "2", "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n"},
      {"[A]\r\na=1", "B", "b", "2", "[A]\r\na=1\r\n[B]\r\nb=2\r\n"},
      {"k=orphan\r\n", "", "k", "v", "k=orphan\r\n[]\r\nk=v\r\n"},
      {"", " B ", " b ", " v", "[B]\r\nb= v\r\n"},
      {"", "S", "t", raw, "[S]\r\nt=" + raw + "\r\n"}};
  for (const auto& [before, section, key, value, after] : cases)
    EXPECT_EQ(After(before, section, key, value), after) << before;
}

TEST_F(Profile, StructureBreakingNamesAndValuesAreRefused) {
  ProfileFile file = Stored("[S]\r\n[x=1\r\n");
  // Line breaks, NUL, a lead byte that eats the "]", "=" or ";" in a key, a line read as a header.
  const std::array<std::string, 3> refused[] = {
      {"S", "k", "two\r\nlines"}, {"S", "k", std::string("nul\0", 4)},
      {"S\x90", "k", "v"},        {"S", "a=b", "v"},
      {"S", ";k", "v"},           {"S", "[k]", "v"},
      {"S", "[x", "y]"},          {"S", "[x", "]"}};
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

TEST_F(Profile, UpdateIsTheWritesOneByOneAppliedAllOrNothing) {
  ProfileFile::Update u;
  u.Profile_Write_String("A", "a", "new");
  u.Profile_Write_String("C", "c", "1");
  u.Profile_Write_Integer("B", "y", 2);
  u.Profile_Write_String("a", "b", "3");
  u.Profile_Write_String("C", "c", "2");
  Stored("; db\r\n[B]\r\nx=1\r\n[A]\r\na=old\r\n").Apply(u);
  EXPECT_EQ(ReadFile(path_), "; db\r\n[B]\r\nx=1\r\ny=2\r\n[A]\r\na=new\r\nb=3\r\n[C]\r\nc=2\r\n");
}

TEST_F(Profile, ReadsSeeChangesMadeByOtherProgramsAtOnce) {
  ProfileFile file(path_);
  // Writes through a mapping after its first keep the file's times, as writes within one
  // timestamp tick do: a parse is not trusted while those times are this recent (here: ahead).
  WriteFile(path_, "[S]\r\nk=0\r\n");
  const int fd = ::open(path_.c_str(), O_RDWR);
  char* map = static_cast<char*>(::mmap(nullptr, 10, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  map[7] = '1';
  const timespec ahead[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 3600, 0}};
  ::futimens(fd, ahead);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "1");
  map[7] = '2';
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "2");
  ::munmap(map, 10);
  ::close(fd);
  // An old, trusted parse; the modification time put back after the change.
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  WriteFile(path_, "[S]\r\nk=3\r\n");
  ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  ::usleep(120000);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "3");
  WriteFile(path_, "[S]\r\nk=4\r\n");
  ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "4");
  // Replaced by rename; a snapshot still reads the one version it was taken from.
  auto snapshot = file.Read_Snapshot();
  WriteFile(path_ + ".new", "[S]\r\nk=5\r\n");
  ::rename((path_ + ".new").c_str(), path_.c_str());
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "5");
  EXPECT_EQ(snapshot.Profile_Read_String("S", "k", ""), "4");
}

}  // namespace
