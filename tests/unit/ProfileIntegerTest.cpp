// Profile_Read_Integer, Profile_Read_Bool and the conversion behind them.
#include <gtest/gtest.h>

#include <string>

#include "ProfileTestSupport.h"
#include "disc/Profile.h"

using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

class ProfileInteger : public ::testing::Test {
 protected:
  std::int32_t ReadInt(const std::string& value, std::int32_t def = -77) {
    WriteFile(path_, "[S]\r\nk=" + value + "\r\n");
    ProfileFile::Clear_Cache();
    return ProfileFile(path_).Profile_Read_Integer("S", "k", def);
  }
  bool ReadBool(const std::string& value, bool def) {
    WriteFile(path_, "[S]\r\nk=" + value + "\r\n");
    ProfileFile::Clear_Cache();
    return ProfileFile(path_).Profile_Read_Bool("S", "k", def);
  }
  TempDir dir_;
  std::string path_ = dir_ / "int.ini";
};

TEST_F(ProfileInteger, Decimal) {
  EXPECT_EQ(ReadInt("12"), 12);
  EXPECT_EQ(ReadInt("+12"), 12);
  EXPECT_EQ(ReadInt("-12"), -12);
  EXPECT_EQ(ReadInt("0"), 0);
  EXPECT_EQ(ReadInt("-0"), 0);
  EXPECT_EQ(ReadInt("007"), 7);
  EXPECT_EQ(ReadInt("000000000000000000000012"), 12);
  EXPECT_EQ(ReadInt("\"42\""), 42);  // the text is read as a string first: quotes go
}

TEST_F(ProfileInteger, DecimalRange) {
  EXPECT_EQ(ReadInt("2147483647"), 2147483647);
  EXPECT_EQ(ReadInt("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ReadInt("2147483648"), -77);
  EXPECT_EQ(ReadInt("-2147483649"), -77);
  EXPECT_EQ(ReadInt("99999999999999999999999999"), -77);
}

TEST_F(ProfileInteger, HexadecimalWithDollarOrZeroX) {
  EXPECT_EQ(ReadInt("$0A"), 10);
  EXPECT_EQ(ReadInt("$0a"), 10);
  EXPECT_EQ(ReadInt("0x0A"), 10);
  EXPECT_EQ(ReadInt("0X0a"), 10);
  EXPECT_EQ(ReadInt("0x1"), 1);
  EXPECT_EQ(ReadInt("$FFFFFFFF"), -1);
  EXPECT_EQ(ReadInt("0xffffffff"), -1);
  EXPECT_EQ(ReadInt("$80000000"), -2147483647 - 1);
  EXPECT_EQ(ReadInt("$7FFFFFFF"), 2147483647);
  EXPECT_EQ(ReadInt("$00000000FF"), 255);
  EXPECT_EQ(ReadInt("0x00000000FF"), 255);
  EXPECT_EQ(ReadInt("$100000000"), -77);
  EXPECT_EQ(ReadInt("0x100000000"), -77);
}

TEST_F(ProfileInteger, EverythingElseGivesTheDefault) {
  for (const char* bad :
       {"",     "+",    "-",    "$",    "0x",    "0X",  "$-1", "-$1", "+$1",
        "0x-1", "0x+1", "0x 1", "$ 1",  "12abc", "abc", "1 2", "1.5", "1e3",
        "12,",  "$G",   "0xG",  "00x1", "x1",    "--1", "+-1", "- 1", "\xEF\xBC\x91"}) {
    EXPECT_EQ(ReadInt(bad), -77) << "value \"" << bad << "\"";
  }
  EXPECT_EQ(ReadInt("abc", 5), 5);
}

TEST_F(ProfileInteger, MissingKeyOrFileGivesTheDefault) {
  WriteFile(path_, "[S]\r\nk=1\r\n");
  EXPECT_EQ(ProfileFile(path_).Profile_Read_Integer("S", "missing", 33), 33);
  EXPECT_EQ(ProfileFile(dir_ / "none.ini").Profile_Read_Integer("S", "k", -4), -4);
  EXPECT_EQ(ReadInt("", 9), 9);  // present but empty: the integer default, not 0
}

TEST(ProfileStrToInt, PlainConversionWithoutZeroXAndWithoutDefault) {
  EXPECT_EQ(Profile_Str_To_Int("255"), 255);
  EXPECT_EQ(Profile_Str_To_Int("   255"), 255);  // leading spaces are skipped
  EXPECT_EQ(Profile_Str_To_Int("  -5"), -5);
  EXPECT_EQ(Profile_Str_To_Int("$ff"), 255);
  EXPECT_EQ(Profile_Str_To_Int(" $ff"), 255);
  EXPECT_EQ(Profile_Str_To_Int("0xff"), std::nullopt);  // no "0x" rewriting here
  EXPECT_EQ(Profile_Str_To_Int("255 "), std::nullopt);
  EXPECT_EQ(Profile_Str_To_Int("\t255"), std::nullopt);
  EXPECT_EQ(Profile_Str_To_Int(""), std::nullopt);
  EXPECT_EQ(Profile_Str_To_Int("   "), std::nullopt);
  EXPECT_EQ(Profile_Str_To_Int("4294967295"), std::nullopt);
  EXPECT_EQ(Profile_Str_To_Int("$FFFFFFFF"), -1);
  EXPECT_EQ(Profile_Str_To_Int("- 1"), std::nullopt);
}

TEST_F(ProfileInteger, Bool) {
  EXPECT_TRUE(ReadBool("1", false));
  EXPECT_FALSE(ReadBool("0", true));
  EXPECT_TRUE(ReadBool("2", false));
  EXPECT_TRUE(ReadBool("-1", false));
  EXPECT_FALSE(ReadBool("0x0", true));
  EXPECT_TRUE(ReadBool("$10", false));
  EXPECT_TRUE(ReadBool("yes", true));
  EXPECT_FALSE(ReadBool("yes", false));
  EXPECT_FALSE(ReadBool("true", false));
  EXPECT_TRUE(ReadBool("", true));
  EXPECT_FALSE(ReadBool("", false));
  EXPECT_TRUE(ProfileFile(dir_ / "none.ini").Profile_Read_Bool("S", "k", true));
  EXPECT_FALSE(ProfileFile(dir_ / "none.ini").Profile_Read_Bool("S", "k", false));
}

}  // namespace
