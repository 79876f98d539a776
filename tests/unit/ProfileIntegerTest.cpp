// Profile_Read_Integer, Profile_Read_Bool and the conversion behind them.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>
#include <string>

#include "ProfileTestSupport.h"
#include "profile/ProfileFile.h"

using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

constexpr std::int32_t kMin = -2147483647 - 1, kMax = 2147483647, kDef = -77;

class ProfileInteger : public ::testing::Test {
 protected:
  ProfileFile Stored(const std::string& value) {
    WriteFile(path_, "[S]\r\nk=" + value + "\r\n");
    ProfileFile::Clear_Cache();
    return ProfileFile(path_);
  }
  TempDir dir_;
  std::string path_ = dir_ / "int.ini";
};

TEST_F(ProfileInteger, DecimalAndHexadecimalWithDollarOrZeroX) {
  const std::pair<const char*, std::int32_t> small[] = {
      {"12", 12},   {"+12", 12},       {"-12", -12},       {"-0", 0},
      {"007", 7},   {"\"42\"", 42},    {"0x1", 1},         {"$0a", 10},
      {"0X0a", 10}, {"$FFFFFFFF", -1}, {"0xffffffff", -1}, {"$80000000", kMin},
  };
  const std::pair<const char*, std::int32_t> wide[] = {
      {"$7FFFFFFF", kMax},  {"$00000000FF", 255},  {"0x00000000FF", 255},
      {"2147483647", kMax}, {"-2147483648", kMin}, {"0000000000000000000012", 12},
  };
  for (const auto& [text, value] : small)
    EXPECT_EQ(Stored(text).Profile_Read_Integer("S", "k", kDef), value) << text;
  for (const auto& [text, value] : wide)
    EXPECT_EQ(Stored(text).Profile_Read_Integer("S", "k", kDef), value) << text;
}

TEST_F(ProfileInteger, EverythingElseGivesTheDefault) {
  for (const char* bad :
       {"",     "+",    "-",    "$",    "0x",    "0X",  "$-1", "-$1", "+$1",
        "0x-1", "0x+1", "0x 1", "$ 1",  "12abc", "abc", "1 2", "1.5", "1e3",
        "12,",  "$G",   "0xG",  "00x1", "x1",    "--1", "+-1", "- 1", "\xEF\xBC\x91"})
    EXPECT_EQ(Stored(bad).Profile_Read_Integer("S", "k", kDef), kDef) << bad;
  for (const char* big :
       {"2147483648", "-2147483649", "$100000000", "0x100000000", "99999999999999999999"})
    EXPECT_EQ(Stored(big).Profile_Read_Integer("S", "k", kDef), kDef) << big;
  EXPECT_EQ(Stored("").Profile_Read_Integer("S", "missing", 33), 33);
  EXPECT_EQ(ProfileFile(dir_ / "none.ini").Profile_Read_Integer("S", "k", -4), -4);
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

TEST_F(ProfileInteger, BoolIsAnyNonZeroIntegerElseTheDefault) {
  const std::tuple<const char*, bool, bool> cases[] = {
      // stored, default, read
      {"1", false, true},     {"0", true, false},   {"2", false, true},  {"-1", false, true},
      {"0x0", true, false},   {"$10", false, true}, {"yes", true, true}, {"yes", false, false},
      {"true", false, false}, {"", true, true},     {"", false, false},
  };
  for (const auto& [text, def, value] : cases)
    EXPECT_EQ(Stored(text).Profile_Read_Bool("S", "k", def), value) << text << " " << def;
  EXPECT_TRUE(ProfileFile(dir_ / "none.ini").Profile_Read_Bool("S", "k", true));
  EXPECT_FALSE(ProfileFile(dir_ / "none.ini").Profile_Read_Bool("S", "k", false));
}

}  // namespace
