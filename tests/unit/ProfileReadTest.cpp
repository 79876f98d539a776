// Reading rules of the profile operations.
#include <gtest/gtest.h>

#include <string>

#include "ProfileTestSupport.h"
#include "disc/Profile.h"

using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

// Reads through a real file and checks that the pure text reader agrees.
class ProfileRead : public ::testing::Test {
 protected:
  std::string Read(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& def = "<default>") {
    const std::string path = dir_ / "test.ini";
    WriteFile(path, text);
    ProfileFile::Clear_Cache();
    std::string viaFile = ProfileFile(path).Profile_Read_String(section, key, def);
    auto viaText = Profile_Text_Read(text, section, key);
    if (viaText) {
      EXPECT_EQ(viaFile, *viaText) << "file and text readers disagree";
    }
    return viaFile;
  }
  TempDir dir_;
};

TEST_F(ProfileRead, SectionAndKeyNamesIgnoreAsciiCase) {
  const std::string text = "[Disc]\r\nArtist=Someone\r\n";
  EXPECT_EQ(Read(text, "disc", "ARTIST"), "Someone");
  EXPECT_EQ(Read(text, "DISC", "artist"), "Someone");
  EXPECT_EQ(Read(text, "Disc2", "artist"), "<default>");
}

TEST_F(ProfileRead, NamesAskedForAreComparedWithoutSurroundingBlanks) {
  EXPECT_EQ(Read("[Disc]\r\nartist=A\r\n", " Disc ", "\tartist "), "A");
  EXPECT_EQ(Read("[ Disc ]\r\n  artist   =A\r\n", "Disc", "artist"), "A");
}

TEST_F(ProfileRead, DoubleByteCharactersAreComparedExactly) {
  // 82 61 and 82 41 are two different characters whose trail bytes look like "a" and "A".
  const std::string text = "[\x82\x61]\r\nk=lower\r\n[\x82\x41]\r\nk=upper\r\n";
  EXPECT_EQ(Read(text, "\x82\x41", "k"), "upper");
  EXPECT_EQ(Read(text, "\x82\x61", "k"), "lower");
  // A section name holding a character whose trail byte is "]" (8F 5D) still closes at the real
  // bracket.
  EXPECT_EQ(Read("[X\x8F\x5D]\r\nk=v\r\n", "X\x8F\x5D", "k"), "v");
}

TEST_F(ProfileRead, ValuesLoseSurroundingBlanks) {
  EXPECT_EQ(Read("[S]\r\nk =  value with  spaces \t \r\n", "S", "k"), "value with  spaces");
  EXPECT_EQ(Read("[S]\r\n\t k\t=\tv\r\n", "S", "k"), "v");
  EXPECT_EQ(Read("[S]\r\nk=v\x1A\r\n", "S", "k"), "v");  // Ctrl-Z counts as a blank
}

TEST_F(ProfileRead, OnePairOfMatchingQuotesIsRemoved) {
  EXPECT_EQ(Read("[S]\r\nk=\"quoted\"\r\n", "S", "k"), "quoted");
  EXPECT_EQ(Read("[S]\r\nk='single'\r\n", "S", "k"), "single");
  EXPECT_EQ(Read("[S]\r\nk=  \" padded \"  \r\n", "S", "k"), " padded ");
  EXPECT_EQ(Read("[S]\r\nk=\"\"twice\"\"\r\n", "S", "k"), "\"twice\"");
  EXPECT_EQ(Read("[S]\r\nk=\"mixed'\r\n", "S", "k"), "\"mixed'");
  EXPECT_EQ(Read("[S]\r\nk=\"\r\n", "S", "k"), "\"");
  EXPECT_EQ(Read("[S]\r\nk=\"\"\r\n", "S", "k"), "");
  EXPECT_EQ(Read("[S]\r\nk=\"open\r\n", "S", "k"), "\"open");
  EXPECT_EQ(Read("[S]\r\nk=it's\r\n", "S", "k"), "it's");
}

TEST_F(ProfileRead, PresentEmptyValueIsEmptyNotTheDefault) {
  EXPECT_EQ(Read("[S]\r\nk=\r\n", "S", "k"), "");
  EXPECT_EQ(Read("[S]\r\nk =   \r\n", "S", "k"), "");
}

TEST_F(ProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
  TempDir dir;
  EXPECT_EQ(ProfileFile(dir / "absent.ini").Profile_Read_String("S", "k", "def"), "def");
  EXPECT_EQ(ProfileFile(dir / "no/dir/absent.ini").Profile_Read_String("S", "k", "def"), "def");
  EXPECT_EQ(Read("[S]\r\nk=v\r\n", "T", "k", "def"), "def");
  EXPECT_EQ(Read("[S]\r\nk=v\r\n", "S", "j", "def"), "def");
  EXPECT_EQ(Read("", "S", "k", "def"), "def");
}

TEST_F(ProfileRead, DefaultLosesTrailingSpacesAndIsCut) {
  EXPECT_EQ(Read("", "S", "k", " lead and trail  "), " lead and trail");
  EXPECT_EQ(Read("", "S", "k", std::string(1500, 'd')), std::string(1023, 'd'));
}

TEST_F(ProfileRead, CommentsAreNotKeys) {
  const std::string text =
      "[S]\r\n;k=comment\r\n  ;j=indented comment\r\n#h=hash is no comment\r\n";
  EXPECT_EQ(Read(text, "S", ";k"), "<default>");
  EXPECT_EQ(Read(text, "S", "k"), "<default>");
  EXPECT_EQ(Read(text, "S", "j"), "<default>");
  EXPECT_EQ(Read(text, "S", "#h"), "hash is no comment");
}

TEST_F(ProfileRead, LinesWithoutEqualsAreNotKeys) {
  const std::string text = "[S]\r\nlonely\r\nk=v\r\n";
  EXPECT_EQ(Read(text, "S", "lonely", "d"), "d");
  EXPECT_EQ(Read(text, "S", "k"), "v");
  // Only the first "=" separates.
  EXPECT_EQ(Read("[S]\r\nk=a=b\r\n", "S", "k"), "a=b");
  EXPECT_EQ(Read("[S]\r\n=nameless\r\n", "S", ""), "nameless");
}

TEST_F(ProfileRead, TextBeforeTheFirstSectionBelongsToNoSection) {
  const std::string text = "k=orphan\r\n[S]\r\nj=1\r\n";
  EXPECT_EQ(Read(text, "", "k"), "<default>");
  EXPECT_EQ(Read(text, "S", "k"), "<default>");
  // An explicitly empty section name is a section.
  EXPECT_EQ(Read("[]\r\nk=empty section\r\n", "", "k"), "empty section");
}

TEST_F(ProfileRead, FirstOfEqualSectionsAndKeysWins) {
  EXPECT_EQ(Read("[S]\r\nk=1\r\nk=2\r\n", "S", "k"), "1");
  EXPECT_EQ(Read("[S]\r\nK=1\r\nk=2\r\n", "S", "k"), "1");
  const std::string dup = "[S]\r\nk=first\r\n[T]\r\n[s]\r\nk=second\r\nonly=later\r\n";
  EXPECT_EQ(Read(dup, "S", "k"), "first");
  EXPECT_EQ(Read(dup, "S", "only"), "<default>");
}

TEST_F(ProfileRead, MalformedHeaders) {
  // No closing bracket: an ordinary line, so the keys after it stay in the section before it.
  EXPECT_EQ(Read("[S]\r\n[Broken\r\nk=still S\r\n", "S", "k"), "still S");
  EXPECT_EQ(Read("[S]\r\n[Broken\r\nk=still S\r\n", "Broken", "k"), "<default>");
  // A header without "]" but with "=" is a key.
  EXPECT_EQ(Read("[S]\r\n[x=1\r\n", "S", "[x"), "1");
  // Text after the bracket is ignored; the name runs to the last bracket.
  EXPECT_EQ(Read("[S] ; note\r\nk=v\r\n", "S", "k"), "v");
  EXPECT_EQ(Read("[a]b]\r\nk=v\r\n", "a]b", "k"), "v");
  EXPECT_EQ(Read("  [Indented]\r\nk=v\r\n", "Indented", "k"), "v");
  // "[" not first on the line: a key named "x [S]".
  EXPECT_EQ(Read("[T]\r\nx [S]=1\r\n", "T", "x [S]"), "1");
}

TEST_F(ProfileRead, AllLineEndsRead) {
  EXPECT_EQ(Read("[S]\nk=lf\n", "S", "k"), "lf");
  EXPECT_EQ(Read("[S]\rk=cr\r", "S", "k"), "cr");
  EXPECT_EQ(Read("[S]\r\nk=crlf\r\n", "S", "k"), "crlf");
  EXPECT_EQ(Read("[A]\rk=1\n[S]\r\nj=0\nk=mixed", "S", "k"), "mixed");
  EXPECT_EQ(Read("[S]\n\r\nk=blank lines\n\n", "S", "k"), "blank lines");
  EXPECT_EQ(Read("[S]\r\nk=no final end", "S", "k"), "no final end");
}

TEST_F(ProfileRead, AtMost1023BytesAreReturned) {
  EXPECT_EQ(Read("[S]\r\nk=" + std::string(2000, 'x') + "\r\n", "S", "k"), std::string(1023, 'x'));
  EXPECT_EQ(Read("[S]\r\nk=" + std::string(1023, 'x') + "\r\n", "S", "k"), std::string(1023, 'x'));
  // Quotes go before the cut.
  EXPECT_EQ(Read("[S]\r\nk=\"" + std::string(1023, 'q') + "\"\r\n", "S", "k"),
            std::string(1023, 'q'));
  // The cut does not split a double-byte character.
  std::string dbcs = std::string(1022, 'x') + "\x82\xA0" + "tail";
  EXPECT_EQ(Read("[S]\r\nk=" + dbcs + "\r\n", "S", "k"), std::string(1022, 'x'));
  std::string ends = std::string(1021, 'x') + "\x82\xA0" + "tail";
  EXPECT_EQ(Read("[S]\r\nk=" + ends + "\r\n", "S", "k"), ends.substr(0, 1023));
}

TEST_F(ProfileRead, BytesAreNeverConverted) {
  const std::string value = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4 \x5C\x7E\xFF\x80";
  EXPECT_EQ(Read("[S]\r\nk=" + value + "\r\n", "S", "k"), value);
}

TEST_F(ProfileRead, SnapshotReadsOneVersion) {
  const std::string path = dir_ / "snap.ini";
  WriteFile(path, "[S]\r\nk=old\r\n");
  ProfileFile file(path);
  auto snapshot = file.Read_Snapshot();
  file.Profile_Write_String("S", "k", "new");
  EXPECT_EQ(snapshot.Profile_Read_String("S", "k", ""), "old");
  EXPECT_EQ(file.Profile_Read_String("S", "k", ""), "new");
}

}  // namespace
