#include "disc/Cp932.h"

#include <gtest/gtest.h>

#include <tuple>

#include "disc/DiscNames.h"

namespace {

const std::string kArtist = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4";

TEST(Cp932, DefaultNamesAndWindowsExtensionsRoundTrip) {
  const std::pair<std::string, std::string> cases[] = {
      {kArtist, "新しいｱｰﾁｽﾄ"},
      {"\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9", "新しいﾀｲﾄﾙ"},
      {"\xC4\xD7\xAF\xB8\x31\x32", "ﾄﾗｯｸ12"},
      {"\x5C\x7E", "\\~"},           // not the yen sign and overline
      {"\x81\x60", "\xEF\xBD\x9E"},  // U+FF5E FULLWIDTH TILDE
      {"\x87\x40", "①"},             // NEC special
      {"\xFA\x40", "ⅰ"}};            // IBM extension
  for (const auto& [cp932, utf8] : cases) {
    EXPECT_EQ(Cp932_To_Utf8(cp932), utf8);
    EXPECT_EQ(Utf8_To_Cp932(utf8), cp932);
    EXPECT_EQ(Cp932_To_QString(cp932), QString::fromStdString(utf8));
    EXPECT_EQ(QString_To_Cp932(QString::fromStdString(utf8)), cp932);
  }
  // Long enough to cross the converter's buffer, with a character split at its end.
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += kArtist;
  const std::string utf8 = Cp932_To_Utf8(bytes + "\x81");
  EXPECT_EQ(utf8.size(), 3000 * std::string("新しいｱｰﾁｽﾄ").size() + 3);
  EXPECT_EQ(Utf8_To_Cp932(utf8.substr(0, utf8.size() - 3)), bytes);
}

// Bytes that are no character become U+FFFD.
TEST(Cp932, InvalidBytesAreReplacedAndTextItCannotHoldIsRefused) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> decoded[] = {
      {"a\x81", "a" + fffd},    // lead byte at the end
      {"\x81 b", fffd + " b"},  // lead byte before a non-trail
      {"x\xFD\xFEy", "x" + fffd + fffd + "y"},
      {"a\x85@b", "a" + fffd + "b"},  // unassigned pair: one character
      {std::string("nul\0in", 6), std::string("nul\0in", 6)}};
  for (const auto& [bytes, utf8] : decoded) EXPECT_EQ(Cp932_To_Utf8(bytes), utf8) << bytes;
  EXPECT_EQ(Cp932_To_QString("\x82"), QString(QChar(0xFFFD)));
  for (const QString& text : {QString::fromUtf8("Motörhead"), QString::fromUtf8("😀"),
                              QString(QChar(0xFFFD)), QString(QChar(0xD800))})
    EXPECT_EQ(QString_To_Cp932(text), std::nullopt) << text.toStdString();
  EXPECT_EQ(Utf8_To_Cp932("\xFF"), std::nullopt);  // not UTF-8 at all
  EXPECT_EQ(QString_To_Cp932(QString()), std::string());
}

// Without the C library's converter, the single-byte part still converts and the rest is
// refused or replaced: never an exception that would end whatever shows a name.
TEST(Cp932, WithoutTheConverterSingleBytesStillConvert) {
  const std::shared_ptr<void> restore(nullptr, [](void*) { Set_Cp932_Iconv_Name("CP932"); });
  Set_Cp932_Iconv_Name("NO-SUCH-CODE-PAGE");
  EXPECT_EQ(Cp932_To_Utf8("a\\~\xC4\xD7\x90\x56\x81 !"), "a\\~ﾄﾗ\uFFFD\uFFFD !");
  EXPECT_EQ(Utf8_To_Cp932("a\\~ﾄﾗ"), "a\\~\xC4\xD7");
  EXPECT_EQ(Utf8_To_Cp932("新"), std::nullopt);
}

}  // namespace

// Names from CD-Text or a sheet: "?" only where no letter of code page 932 stands for one.
TEST(Cp932, OutsideNamesAreTransliteratedNeverRefused) {
  using E = DiscText::Encoding;
  const std::tuple<std::string, E, std::string> cases[] = {
      {"Beyoncé", E::Utf8, "Beyonce"},
      {"Mötley Crüe Œuvre", E::Utf8, "Motley Crue OEuvre"},
      {"新しい", E::Utf8, "\x90\x56\x82\xB5\x82\xA2"},
      {"a😀b 한", E::Utf8, "a?b ?"},
      {"x\xFFy", E::Utf8, "x?y"},  // not UTF-8
      {"  Padded  ", E::Utf8, "Padded"},
      {"Beyonc\xE9", E::Latin1, "Beyonce"},
      {"\x90\x56\x87\x40", E::Cp932, "\x90\x56\x87\x40"},                  // with an NEC special
      {"A\x90", E::Cp932, "A?"},                                           // a lead byte cut off
      {"Caf\xC3\xA9", E::Guess, "Cafe"},                                   // a sheet saved as UTF-8
      {"\x90\x56\x82\xB5\x82\xA2", E::Guess, "\x90\x56\x82\xB5\x82\xA2"},  // as code page 932
      {"Caf\xE9 \xE9t\xE9", E::Guess, "Cafe ete"}};                        // as code page 1252
  for (const auto& [text, encoding, stored] : cases)
    EXPECT_EQ(Cp932_From_Disc(text, encoding), stored) << text;
}
