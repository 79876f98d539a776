// Naming a disc online: its identity from the table of contents, and the names read from the
// service's answers.
#include <gtest/gtest.h>

#include "lookup/DiscId.h"
#include "lookup/MusicBrainz.h"
#include "support/DiscIdReference.h"

namespace {

DiscToc Toc(std::vector<TocTrack> tracks, std::int32_t leadout) {
  return DiscToc(std::move(tracks), leadout);
}

}  // namespace

TEST(OnlineDiscId, MatchesTheDefinitionForAudioAndEnhancedDiscs) {
  struct Case {
    const char* name;
    DiscToc toc;
    int last;                  // the last track the identity covers
    std::vector<int> offsets;  // lead-out first, with the lead-in
    const char* toc_query;
  };
  const std::vector<Case> cases = {
      {"three audio tracks",
       Toc({{0, true}, {15000, true}, {31234, true}}, 50000),
       3,
       {50150, 150, 15150, 31384},
       "1+3+50150+150+15150+31384"},
      {"a single track", Toc({{0, true}}, 4500), 1, {4650, 150}, "1+1+4650+150"},
      {"an enhanced disc: the data track and the second session's gap left out",
       Toc({{0, true}, {20000, true}, {60000, false}}, 90000),
       2,
       {60000 - 11400 + 150, 150, 20150},
       "1+2+48750+150+20150"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<Online_Disc_Id> id = Online_Disc_Id_From(c.toc);
    ASSERT_TRUE(id);
    EXPECT_EQ(id->id, Reference_Disc_Id(1, c.last, c.offsets));
    EXPECT_EQ(id->audio_tracks, c.last);
    EXPECT_EQ(id->toc, c.toc_query);
    EXPECT_NE(id->submission_url.find(id->id), std::string::npos);
  }
  EXPECT_FALSE(Online_Disc_Id_From(Toc({{0, false}}, 9000))) << "a data disc has no identity";
}

TEST(OnlineDiscNames, AnswersBecomeStoredNames) {
  const Online_Disc_Id disc{"OURDISC", 3, "1+3+50150+150+15150+31384", "https://example/add"};
  using Kind = Disc_Answer::Kind;
  const auto tracks = [](const char* a, const char* b, const char* c) {
    return QString(R"("tracks": [{"title": "%1"}, {"title": "%2"}, {"title": "%3"}])").arg(a, b, c);
  };
  const auto release = [](const QString& title, const QString& artist, const QString& media) {
    return QString(R"({"title": "%1", "artist-credit": [{"name": "%2", "joinphrase": ""}],
                       "media": [%3]})")
        .arg(title, artist, media);
  };
  const auto medium = [](int position, const char* title, const char* id, const QString& tracks) {
    return QString(R"({"position": %1, "title": "%2", "discs": [{"id": "%3"}], %4})")
        .arg(position)
        .arg(title, id, tracks);
  };
  const auto answer = [](const QStringList& releases) {
    return QString(R"({"releases": [%1]})").arg(releases.join(',')).toUtf8();
  };
  const QString ours = medium(1, "", "OURDISC", tracks("One", "Two", "Three"));

  struct Case {
    const char* name;
    QByteArray json;
    Kind kind;
    Outside_Names names;
  };
  const std::vector<Case> cases = {
      {"one match",
       answer({release("Album", "Band", ours)}),
       Kind::Names,
       {"Band", "Album", {"One", "Two", "Three"}}},
      {"several releases: the first that carries this disc",
       answer({release("Other", "Else", medium(1, "", "ANOTHER", tracks("x", "y", "z"))),
               release("Album", "Band", ours), release("Reissue", "Band", ours)}),
       Kind::Names,
       {"Band", "Album", {"One", "Two", "Three"}}},
      {"a two-disc set without medium titles",
       answer({release("Set", "Band",
                       medium(1, "", "FIRST", tracks("a", "b", "c")) + "," +
                           medium(2, "", "OURDISC", tracks("d", "e", "f")))}),
       Kind::Names,
       {"Band", "Set (Disc 2)", {"d", "e", "f"}}},
      {"a two-disc set with medium titles",
       answer({release("Set", "Band",
                       medium(1, "Live", "OURDISC", tracks("a", "b", "c")) + "," +
                           medium(2, "Studio", "SECOND", tracks("d", "e", "f")))}),
       Kind::Names,
       {"Band", "Set (Live)", {"a", "b", "c"}}},
      {"a compilation: tracks by others name their performers, transliterated",
       answer({R"({"title": "Café Hits", "artist-credit": [{"name": "Various Artists"}],
                   "media": [{"position": 1, "discs": [{"id": "OURDISC"}], "tracks": [
                     {"title": "Halo", "artist-credit": [{"name": "Beyoncé", "joinphrase": ""}]},
                     {"title": "Duet", "artist-credit": [{"name": "A", "joinphrase": " feat. "},
                                                          {"name": "B", "joinphrase": ""}]},
                     {"recording": {"title": "Intro",
                                    "artist-credit": [{"name": "Various Artists"}]}}]}]})"}),
       Kind::Names,
       {"Various Artists", "Cafe Hits", {"Beyonce / Halo", "A feat. B / Duet", "Intro"}}},
      {"a table-of-contents answer: a medium of as many tracks under another identity",
       answer({release("Short", "Band", medium(1, "", "ELSE", R"("tracks": [{"title": "1"}])")),
               release("Album", "Band", medium(1, "", "ELSE", tracks("One", "Two", "Three")))}),
       Kind::Names,
       {"Band", "Album", {"One", "Two", "Three"}}},
      {"no release", answer({}), Kind::No_Release, {}},
      {"no release with this disc or its track count",
       answer({release("Short", "Band", medium(1, "", "ELSE", R"("tracks": [{"title": "1"}])"))}),
       Kind::No_Release,
       {}},
      {"garbage", "<html>Service Unavailable</html>", Kind::Unreadable, {}},
      {"JSON of another shape", R"({"error": "Not Found"})", Kind::Unreadable, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Disc_Answer got = Names_From_Answer(c.json, disc);
    EXPECT_EQ(got.kind, c.kind);
    EXPECT_EQ(got.names.artist, c.names.artist);
    EXPECT_EQ(got.names.title, c.names.title);
    EXPECT_EQ(got.names.tracks, c.names.tracks);
    if (c.kind == Kind::Unreadable) {
      EXPECT_FALSE(got.detail.empty());
    }
  }
}
