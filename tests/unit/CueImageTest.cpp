#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "disc/Ucdobj.h"
#include "playback/CueImage.h"
#include "playback/DriveIo.h"
#include "playback/CueSheet.h"
#include "support/Servers.h"

namespace {

std::optional<cue::Disc> LayOut(const std::string& text, std::vector<std::int64_t> lengths,
                                std::string* error) {
  const auto sheet = cue::Parse(text, error);
  return sheet ? cue::LayOut(*sheet, lengths, error) : std::nullopt;
}

// The end-to-end image tests lay out data tracks and gaps at the start of a file.
TEST(CueSheet, TracksStartWhereTheBurntDiscHasThemAndBrokenSheetsAreRefusedWithTheLine) {
  const std::tuple<const char*, std::vector<std::int64_t>, DiscToc> cases[] = {
      // One file per track, each gap at the end of the track before it; written on Windows.
      {"\xEF\xBB\xBF"
       "file 01 Intro.wav wave\r\n track 01 audio\r\n  index 01 00:00:00\r\n"
       " TRACK 02 AUDIO\r\n  INDEX 00 00:06:00\r\nFILE \"02.wav\" WAVE\r\n  INDEX 01 00:00:00\r\n",
       {500, 400},
       {{{0, true}, {500, true}}, 900}},
      // Silence in no file: PREGAP before track 1 and 2, POSTGAP after 2.
      {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPREGAP 00:02:00\nINDEX 01 00:00:00\n"
       "TRACK 02 AUDIO\nPREGAP 00:02:00\nINDEX 01 00:04:00\nPOSTGAP 00:01:00\n"
       "TRACK 03 AUDIO\nINDEX 01 00:08:00\n",
       {1000},
       {{{150, true}, {600, true}, {975, true}}, 1375}}};
  for (const auto& [sheet, lengths, toc] : cases) {
    std::string error;
    const auto disc = LayOut(sheet, lengths, &error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->toc, toc) << sheet;
  }
  std::string tooMany = "FILE a.bin BINARY\n", garbage(1'000'000, '\0');
  for (int t = 1; t <= 100; ++t)
    tooMany += "TRACK " + std::to_string(t) + " AUDIO\nINDEX 01 " + std::to_string(t) + ":00:00\n";
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random());
  const std::string head = "FILE a.bin BINARY\nTRACK 01 AUDIO\n";
  const std::pair<std::string, std::string> broken[] = {
      {"TRACK 01 AUDIO\nINDEX 01 00:00:00\n", "line 1: TRACK before any FILE"},
      {head + "INDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n", "line 5: INDEX 01 00:04"},
      {head + "INDEX 00 00:04:00\nINDEX 01 00:04:00\n", "does not come after"},
      {head + "INDEX 01 00:00:75\n", "not INDEX nn mm:ss:ff"},
      {head + "INDEX 02 00:00:00\n", "INDEX 02 as a track's first"},
      {head + "INDEX 00 00:00:00\n", "track 1 has no INDEX 01"},
      {"FILE a.bin BINARY\nTRACK 01 MODE1/2048\n", "MODE1/2048"},
      {"FILE a.ogg OGG\n", "FILE type 'OGG'"},
      {tooMany, "line 200: more than 99 tracks"},
      {garbage, "not a CUE sheet"},
      {head + "INDEX 01 00:20:00\n", "INDEX 01 00:20:00 lies past the end of 'a.bin' (00:13:25)"}};
  for (const auto& [sheet, message] : broken) {
    std::string error;
    EXPECT_FALSE(LayOut(sheet, {1000}, &error)) << sheet.substr(0, 80);
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

const std::string kTrack = "\xC4\xD7\xAF\xB8";  // ﾄﾗｯｸ

// A sheet's TITLE and PERFORMER are its bytes, in whatever encoding the sheet was saved.
TEST(DiscNames, ADiscWithoutAnEntryIsNamedByItsOwnText) {
  testsupport::TempDir dir;
  std::ofstream(dir.file("disc.bin"), std::ios::binary)
      << std::string(300 * static_cast<std::size_t>(kBytesPerSector), '\0');
  const std::string tracks =
      "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n";
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"PERFORMER \"Zarn Band\"\nTITLE Café Songs\nFILE \"disc.bin\" BINARY\n"
       "TRACK 01 AUDIO\nTITLE One\nPERFORMER \"Zarn Band\"\nINDEX 01 00:00:00\n"
       "TRACK 02 AUDIO\nINDEX 01 00:01:00\n"
       "TRACK 03 AUDIO\nTITLE \"Guest Song\"\nPERFORMER \"Beyoncé\"\nINDEX 01 00:02:00\n",
       {"Zarn Band", "Cafe Songs", "One", kTrack + "2", "Beyonce / Guest Song"}},
      {"PERFORMER \"\x83\x65\x83\x58\x83\x67\"\nFILE \"disc.bin\" BINARY\n" + tracks,
       {"\x83\x65\x83\x58\x83\x67", cd_defaults::kTitle, kTrack + "1", kTrack + "2"}},
      {"FILE \"disc.bin\" BINARY\n" + tracks,
       {cd_defaults::kArtist, cd_defaults::kTitle, kTrack + "1", kTrack + "2"}},
      {"CD_DA\nCD_TEXT {\nLANGUAGE 0 {\nTITLE \"Toc Album\"\nPERFORMER \"Toc Band\"\n}\n}\n"
       "TRACK AUDIO\nCD_TEXT {\nLANGUAGE 0 {\nTITLE \"First\"\n}\n}\nFILE \"disc.bin\" 0 00:01:00\n"
       "TRACK AUDIO\nCD_TEXT {\nLANGUAGE 0 {\nTITLE \"Zweite Straße\"\nPERFORMER \"Gäst\"\n}\n}\n"
       "FILE \"disc.bin\" 00:01:00 00:01:00\n",
       {"Toc Band", "Toc Album", "First", "Gast / Zweite Strasse"}}};
  const std::string db = dir.file("cdplayer.ini");
  int n = 0;
  for (const auto& [text, names] : cases) {
    const std::string path = dir.file(std::to_string(++n) + (text[0] == 'C' ? ".toc" : ".cue"));
    SCOPED_TRACE(path);
    std::ofstream(path) << text;
    std::string error;
    const auto toc = ReadImageToc(path, &error);
    ASSERT_TRUE(toc) << error;
    CD_Object cd(db);
    cd.Read_Disc_Info("ABCDEF", toc->TrackCount(), toc->text ? &*toc->text : nullptr);
    cd.Track_Titles.insert(cd.Track_Titles.begin(), {cd.Artist, cd.Title});
    EXPECT_EQ(cd.Track_Titles, names);
  }
  EXPECT_FALSE(std::filesystem::exists(db));
  std::ofstream(db) << "[ABCDEF]\r\nartist=Stored\r\n0=Mine\r\n";
  const auto toc = ReadImageToc(dir.file("1.cue"), nullptr);
  CD_Object cd(db);
  cd.Read_Disc_Info("ABCDEF", toc->TrackCount(), &*toc->text);
  EXPECT_EQ(std::tie(cd.Artist, cd.Title, cd.Track_Titles[0]),
            std::tie("Stored", cd_defaults::kTitle, "Mine"));
}

}  // namespace
