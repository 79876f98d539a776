// Reading rules of the profile operations: strings, integers and bools.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ProfileTestSupport.h"
#include "profile/ProfileFile.h"

using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

struct Case {
  std::string text, section, key, expected;
};

class ProfileRead : public ::testing::Test {
 protected:
  ProfileFile Stored(const std::string& text) {
    WriteFile(path_, text);
    ProfileFile::Clear_Cache();
    return ProfileFile(path_);
  }
  // Reads through a real file and checks that the pure text reader agrees.
  std::string Read(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& def = "<default>") {
    std::string viaFile = Stored(text).Profile_Read_String(section, key, def);
    if (auto viaText = Profile_Text_Read(text, section, key)) {
      EXPECT_EQ(viaFile, *viaText);
    }
    return viaFile;
  }
  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases)
      EXPECT_EQ(Read(c.text, c.section, c.key), c.expected) << c.text << " [" << c.section << "]";
  }
  std::int32_t Integer(const std::string& value) {
    return Stored("[S]\r\nk=" + value + "\r\n").Profile_Read_Integer("S", "k", kDef);
  }
  static constexpr std::int32_t kMin = -2147483647 - 1, kMax = 2147483647, kDef = -77;
  TempDir dir_;
  std::string path_ = dir_.file("test.ini");
};

TEST_F(ProfileRead, NamesIgnoreAsciiCaseAndSurroundingBlanksButNotDoubleByteCase) {
  // 82 61 and 82 41 are two characters whose trail bytes look like "a" and "A".
  const std::string dbcs = "[\x82\x61]\r\nk=lower\r\n[\x82\x41]\r\nk=upper\r\n";
  Check({{"[Disc]\r\nArtist=A\r\n", "disc", "ARTIST", "A"},
         {"[Disc]\r\nArtist=A\r\n", "Disc2", "artist", "<default>"},
         {"[Disc]\r\nartist=A\r\n", " Disc ", "\tartist ", "A"},
         {"[ Disc ]\r\n  artist   =A\r\n", "Disc", "artist", "A"},
         {dbcs, "\x82\x41", "k", "upper"},
         {"[X\x8F\x5D]\r\nk=v\r\n", "X\x8F\x5D", "k", "v"}});  // trail byte "]" closes nothing
}

TEST_F(ProfileRead, ValuesLoseBlanksAndOnePairOfMatchingQuotesButNoOtherByte) {
  const std::string raw = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4 \x5C\x7E\xFF\x80";
  const std::pair<std::string, std::string> values[] = {
      {"v\x1A", "v"}, {"\"quoted\"", "quoted"},         {"'single'", "single"},
      {"\"", "\""},   {"\"\"twice\"\"", "\"twice\""},   {"\"mixed'", "\"mixed'"},
      {"   ", ""},    {"  \" padded \"  ", " padded "}, {raw, raw},
  };
  for (const auto& [stored, read] : values)
    EXPECT_EQ(Read("[S]\r\n\t k =" + stored + "\r\n", "S", "k"), read) << stored;
  EXPECT_EQ(Read("[S]\r\nk= two  spaces \t \r\n", "S", "k"), "two  spaces");
}

TEST_F(ProfileRead, DefaultWhenFileSectionOrKeyIsMissing) {
  EXPECT_EQ(ProfileFile(dir_.file("absent.ini")).Profile_Read_String("S", "k", "def"), "def");
  EXPECT_EQ(Read("[S]\r\nk=v\r\n", "T", "k"), "<default>");
  EXPECT_EQ(Read("[S]\r\nk=v\r\n", "S", "j"), "<default>");
  // The default loses its trailing spaces and is cut like a value.
  EXPECT_EQ(Read("", "S", "k", " lead and trail  "), " lead and trail");
  EXPECT_EQ(Read("", "S", "k", std::string(1500, 'd')), std::string(1023, 'd'));
}

TEST_F(ProfileRead, LineStructure) {
  const std::string comments = "[S]\r\n;k=comment\r\n  ;j=indented\r\n#h=hash is no comment\r\n";
  const std::string dup = "[S]\r\nk=first\r\n[T]\r\n[s]\r\nk=second\r\nonly=later\r\n";
  Check({{comments, "S", ";k", "<default>"},
         {comments, "S", "j", "<default>"},
         {comments, "S", "#h", "hash is no comment"},
         {"[S]\r\nlonely\r\nk=v\r\n", "S", "lonely", "<default>"},
         {"[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
         {"[S]\r\n=nameless\r\n", "S", "", "nameless"},
         {"k=orphan\r\n[S]\r\n", "", "k", "<default>"},  // before any header: no section
         {"[]\r\nk=empty section\r\n", "", "k", "empty section"},
         // The first of equal sections and keys wins.
         {"[S]\r\nK=1\r\nk=2\r\n", "S", "k", "1"},
         {dup, "S", "k", "first"},
         {dup, "S", "only", "<default>"}});
}

TEST_F(ProfileRead, MalformedHeadersAndAllLineEnds) {
  Check({{"[S]\r\n[Broken\r\nk=still S\r\n", "S", "k", "still S"},
         {"[S]\r\n[x=1\r\n", "S", "[x", "1"},
         {"[S] ; note\r\nk=v\r\n", "S", "k", "v"},
         {"[a]b]\r\nk=v\r\n", "a]b", "k", "v"},
         {"  [Indented]\r\nk=v\r\n", "Indented", "k", "v"},
         {"[T]\r\nx [S]=1\r\n", "T", "x [S]", "1"},
         {"[S]\nk=lf\n", "S", "k", "lf"},
         {"[S]\rk=cr\r", "S", "k", "cr"},
         {"[A]\rk=1\n[S]\r\n\nj=0\nk=mixed", "S", "k", "mixed"}});
}

TEST_F(ProfileRead, AtMost1023BytesWithoutSplittingACharacter) {
  const std::string x1023(1023, 'x'), splits = std::string(1022, 'x') + "\x82\xA0" + "tail",
                                      fits = std::string(1021, 'x') + "\x82\xA0" + "tail";
  Check({{"[S]\r\nk=" + std::string(2000, 'x') + "\r\n", "S", "k", x1023},
         {"[S]\r\nk=\"" + x1023 + "\"\r\n", "S", "k", x1023},  // quotes go before the cut
         {"[S]\r\nk=" + splits + "\r\n", "S", "k", splits.substr(0, 1022)},
         {"[S]\r\nk=" + fits + "\r\n", "S", "k", fits.substr(0, 1023)}});
}

TEST_F(ProfileRead, SnapshotReadsOneVersion) {
  ProfileFile file = Stored("[S]\r\nk=old\r\n");
  auto snapshot = file.Read_Snapshot();
  file.Profile_Write_String("S", "k", "new");
  EXPECT_EQ(snapshot.Profile_Read_String("S", "k", ""), "old");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "new");
}

TEST_F(ProfileRead, IntegersAreDecimalOrHexadecimalWithDollarOrZeroXElseTheDefault) {
  const std::pair<const char*, std::int32_t> small[] = {
      {"12", 12},   {"+12", 12},       {"-12", -12},       {"-0", 0},
      {"007", 7},   {"\"42\"", 42},    {"0x1", 1},         {"$0a", 10},
      {"0X0a", 10}, {"$FFFFFFFF", -1}, {"0xffffffff", -1}, {"$80000000", kMin},
  };
  const std::pair<const char*, std::int32_t> wide[] = {
      {"$7FFFFFFF", kMax},  {"$00000000FF", 255},  {"0x00000000FF", 255},
      {"2147483647", kMax}, {"-2147483648", kMin}, {"0000000000000000000012", 12},
  };
  for (const auto& [text, value] : small) EXPECT_EQ(Integer(text), value) << text;
  for (const auto& [text, value] : wide) EXPECT_EQ(Integer(text), value) << text;
  for (const char* bad :
       {"",     "+",    "-",    "$",    "0x",    "0X",  "$-1", "-$1", "+$1",
        "0x-1", "0x+1", "0x 1", "$ 1",  "12abc", "abc", "1 2", "1.5", "1e3",
        "12,",  "$G",   "0xG",  "00x1", "x1",    "--1", "+-1", "- 1", "\xEF\xBC\x91"})
    EXPECT_EQ(Integer(bad), kDef) << bad;
  for (const char* big :
       {"2147483648", "-2147483649", "$100000000", "0x100000000", "99999999999999999999"})
    EXPECT_EQ(Integer(big), kDef) << big;
}

TEST(ProfileStrToInt, SkipsLeadingSpacesOnlyAndKnowsNoZeroX) {
  const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
      {"255", 255},           {"   255", 255},        {"  -5", -5},
      {"$ff", 255},           {" $ff", 255},          {"$FFFFFFFF", -1},
      {"0xff", std::nullopt}, {"255 ", std::nullopt}, {"\t255", std::nullopt},
      {"", std::nullopt},     {"   ", std::nullopt},  {"4294967295", std::nullopt},
      {"- 1", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(Profile_Str_To_Int(text), value) << text;
}

TEST_F(ProfileRead, BoolIsAnyNonZeroIntegerElseTheDefault) {
  const std::tuple<const char*, bool, bool> cases[] = {
      // stored, default, read
      {"1", false, true},     {"0", true, false},   {"2", false, true},  {"-1", false, true},
      {"0x0", true, false},   {"$10", false, true}, {"yes", true, true}, {"yes", false, false},
      {"true", false, false}, {"", true, true},     {"", false, false},
  };
  for (const auto& [text, def, value] : cases)
    EXPECT_EQ(Stored("[S]\r\nk=" + std::string(text) + "\r\n").Profile_Read_Bool("S", "k", def),
              value)
        << text << " " << def;
}

}  // namespace
