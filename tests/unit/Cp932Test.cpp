// Code page 932 <-> Unicode through iconv "CP932".
#include "disc/Cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kArtist = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4";
const std::string kTitle = "\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9";
const std::string kTrack = "\xC4\xD7\xAF\xB8";

TEST(Cp932, DefaultNamesRoundTripByteForByte) {
  EXPECT_EQ(Cp932ToUtf8(kArtist), "新しいｱｰﾁｽﾄ");
  EXPECT_EQ(Cp932ToUtf8(kTitle), "新しいﾀｲﾄﾙ");
  EXPECT_EQ(Cp932ToUtf8(kTrack), "ﾄﾗｯｸ");
  EXPECT_EQ(Cp932ToQString(kArtist), QString::fromUtf8("新しいｱｰﾁｽﾄ"));
  EXPECT_EQ(QStringToCp932(QString::fromUtf8("新しいｱｰﾁｽﾄ")), kArtist);
  EXPECT_EQ(QStringToCp932(QString::fromUtf8("新しいﾀｲﾄﾙ")), kTitle);
  EXPECT_EQ(Utf8ToCp932("ﾄﾗｯｸ12"), kTrack + "12");
}

TEST(Cp932, IsWindowsCodePageNotPlainShiftJis) {
  EXPECT_EQ(Cp932ToUtf8("\x5C\x7E"), "\\~");           // not the yen sign and overline
  EXPECT_EQ(Cp932ToUtf8("\x81\x60"), "\xEF\xBD\x9E");  // U+FF5E FULLWIDTH TILDE
  EXPECT_EQ(Cp932ToUtf8("\x87\x40"), "①");             // NEC special
  EXPECT_EQ(Cp932ToUtf8("\xFA\x40"), "ⅰ");             // IBM extension
  EXPECT_EQ(Utf8ToCp932("①"), "\x87\x40");
  EXPECT_EQ(Utf8ToCp932("\\"), "\x5C");
}

TEST(Cp932, InvalidBytesDecodeToReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Cp932ToUtf8("a\x81"), "a" + fffd);    // lead byte at the end
  EXPECT_EQ(Cp932ToUtf8("\x81 b"), fffd + " b");  // lead byte before a non-trail
  EXPECT_EQ(Cp932ToUtf8("x\xFD\xFEy"), "x" + fffd + fffd + "y");
  EXPECT_EQ(Cp932ToUtf8("a\x85\x40"
                        "b"),
            "a" + fffd + "b");  // unassigned pair: one character
  EXPECT_EQ(Cp932ToUtf8(std::string("nul\0in", 6)), std::string("nul\0in", 6));
  EXPECT_EQ(Cp932ToQString("\x82"), QString(QChar(0xFFFD)));
  EXPECT_EQ(Cp932ToUtf8(""), "");
}

TEST(Cp932, TextCp932CannotHoldIsReported) {
  EXPECT_EQ(QStringToCp932(QString::fromUtf8("Motörhead")), std::nullopt);
  EXPECT_EQ(QStringToCp932(QString::fromUtf8("😀")), std::nullopt);
  EXPECT_EQ(QStringToCp932(QString(QChar(0xFFFD))), std::nullopt);
  EXPECT_EQ(QStringToCp932(QString(QChar(0xD800))), std::nullopt);  // lone surrogate
  EXPECT_EQ(Utf8ToCp932("\xFF"), std::nullopt);                     // not UTF-8 at all
  EXPECT_EQ(QStringToCp932(QString()), std::string());
  EXPECT_EQ(QStringToCp932(QStringLiteral("plain ASCII")), "plain ASCII");
}

TEST(Cp932, EveryDecodableCharacterEncodesBackToTheSameText) {
  int checked = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      std::string utf8 = Cp932ToUtf8(bytes);
      if (utf8 == "\xEF\xBF\xBD") continue;
      auto back = Utf8ToCp932(utf8);
      ASSERT_TRUE(back.has_value()) << std::hex << lead << " " << trail;
      // Duplicates of the NEC and IBM areas encode to one of them; the text is the same.
      EXPECT_EQ(Cp932ToUtf8(*back), utf8);
      ++checked;
    }
  }
  EXPECT_GT(checked, 7000);
  for (int c = 0; c < 0x80; ++c) {
    std::string one(1, static_cast<char>(c));
    EXPECT_EQ(Utf8ToCp932(Cp932ToUtf8(one)), one);
  }
  for (int c = 0xA1; c <= 0xDF; ++c) {  // half-width katakana
    std::string one(1, static_cast<char>(c));
    EXPECT_EQ(Utf8ToCp932(Cp932ToUtf8(one)), one);
  }
}

TEST(Cp932, LongTextCrossesTheConversionBuffer) {
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += kArtist;
  bytes += "\x81";
  std::string utf8 = Cp932ToUtf8(bytes);
  EXPECT_EQ(utf8.size(), 3000 * std::string("新しいｱｰﾁｽﾄ").size() + 3);
  EXPECT_EQ(Utf8ToCp932(utf8.substr(0, utf8.size() - 3)), bytes.substr(0, bytes.size() - 1));
}

}  // namespace
