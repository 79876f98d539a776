// A disc's online identity, and the names read from the service's answers.
#include <gtest/gtest.h>

#include "lookup/DiscId.h"
#include "lookup/MusicBrainz.h"
#include "support/DiscIdReference.h"

namespace {

TEST(OnlineDiscId, MatchesTheDefinitionForAudioAndEnhancedDiscs) {
  // The table, its offsets (the lead-out first, with the lead-in) and its query.
  const std::tuple<DiscToc, std::vector<int>, const char*> cases[] = {
      {DiscToc({{0, true}, {15000, true}, {31234, true}}, 50000),
       {50150, 150, 15150, 31384},
       "1+3+50150+150+15150+31384"},
      {DiscToc({{0, true}}, 4500), {4650, 150}, "1+1+4650+150"},
      // An enhanced disc: the data track and the second session's gap left out.
      {DiscToc({{0, true}, {20000, true}, {60000, false}}, 90000),
       {60000 - 11400 + 150, 150, 20150},
       "1+2+48750+150+20150"}};
  for (const auto& [toc, offsets, query] : cases) {
    SCOPED_TRACE(query);
    const std::optional<Online_Disc_Id> id = Online_Disc_Id_From(toc);
    ASSERT_TRUE(id);
    const int last = static_cast<int>(offsets.size()) - 1;
    EXPECT_EQ(id->id, Reference_Disc_Id(1, last, offsets));
    EXPECT_EQ(id->audio_tracks, last);
    EXPECT_EQ(id->toc, query);
    EXPECT_NE(id->submission_url.find(id->id), std::string::npos);
  }
  EXPECT_FALSE(Online_Disc_Id_From(DiscToc({{0, false}}, 9000))) << "a data disc has no identity";
}

// The service's answer: each release by "Band", with its title and media, each medium written
// "title|disc id|track,track,...".
QByteArray Answer(const std::vector<std::pair<QString, QStringList>>& releases) {
  QStringList json;
  for (const auto& [title, media] : releases) {
    QStringList ms;
    for (const QString& medium : media) {
      const QStringList m = medium.split('|');
      ms << QString(R"({"position": %1, "title": "%2", "discs": [{"id": "%3"}],
                       "tracks": [{"title": "%4"}]})")
                .arg(ms.size() + 1)
                .arg(m[0], m[1], m[2].split(',').join(R"("}, {"title": ")"));
    }
    json << QString(R"({"title": "%1", "artist-credit": [{"name": "Band", "joinphrase": ""}],
                        "media": [%2]})")
                .arg(title, ms.join(','));
  }
  return QString(R"({"releases": [%1]})").arg(json.join(',')).toUtf8();
}

TEST(OnlineDiscNames, AnswersBecomeStoredNames) {
  const Online_Disc_Id disc{"OURDISC", 3, "1+3+50150+150+15150+31384", "https://example/add"};
  using Kind = Disc_Answer::Kind;
  const QString ours = "|OURDISC|One,Two,Three";
  const Outside_Names album{"Band", "Album", {"One", "Two", "Three"}};
  const std::tuple<const char*, QByteArray, Kind, Outside_Names> cases[] = {
      {"one match", Answer({{"Album", {ours}}}), Kind::Names, album},
      {"several releases: the first that carries this disc",
       Answer({{"Other", {"|ANOTHER|x,y,z"}}, {"Album", {ours}}, {"Reissue", {ours}}}), Kind::Names,
       album},
      {"a two-disc set without medium titles",
       Answer({{"Set", {"|FIRST|a,b,c", "|OURDISC|d,e,f"}}}),
       Kind::Names,
       {"Band", "Set (Disc 2)", {"d", "e", "f"}}},
      {"a two-disc set with medium titles",
       Answer({{"Set", {"Live|OURDISC|a,b,c", "Studio|SECOND|d,e,f"}}}),
       Kind::Names,
       {"Band", "Set (Live)", {"a", "b", "c"}}},
      {"a compilation: tracks by others name their performers, transliterated",
       R"({"releases": [{"title": "Café Hits", "artist-credit": [{"name": "Various Artists"}],
         "media": [{"position": 1, "discs": [{"id": "OURDISC"}], "tracks": [{"title": "Halo",
         "artist-credit": [{"name": "Beyoncé", "joinphrase": ""}]}, {"title": "Duet", "artist-credit":
         [{"name": "A", "joinphrase": " feat. "}, {"name": "B", "joinphrase": ""}]}, {"recording":
         {"title": "Intro", "artist-credit": [{"name": "Various Artists"}]}}]}]}]})",
       Kind::Names,
       {"Various Artists", "Cafe Hits", {"Beyonce / Halo", "A feat. B / Duet", "Intro"}}},
      {"a table-of-contents answer: a medium of as many tracks under another identity",
       Answer({{"Short", {"|ELSE|1"}}, {"Album", {"|ELSE|One,Two,Three"}}}), Kind::Names, album},
      {"no release", Answer({}), Kind::No_Release, {}},
      {"no match by disc or track count", Answer({{"Short", {"|ELSE|1"}}}), Kind::No_Release, {}},
      {"garbage", "<html>Service Unavailable</html>", Kind::Unreadable, {}},
      {"JSON of another shape", R"({"error": "Not Found"})", Kind::Unreadable, {}}};
  for (const auto& [name, json, kind, names] : cases) {
    SCOPED_TRACE(name);
    const Disc_Answer got = Names_From_Answer(json, disc);
    EXPECT_EQ(got.kind, kind);
    EXPECT_EQ(std::tie(got.names.artist, got.names.title, got.names.tracks),
              std::tie(names.artist, names.title, names.tracks));
    EXPECT_EQ(got.detail.empty(), kind != Kind::Unreadable);
  }
}

}  // namespace
