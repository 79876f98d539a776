// Identifying a disc, naming it from the disc database, and the texts composed from the names.
#include <QSignalSpy>

#include "PlayerFixture.h"
#include "settings/PlayerSettings.h"

using namespace mci;

namespace {

struct DiscLoadingTest : PlayerFixture {
  DiscLoadingTest() : PlayerFixture({200, 200, 200, 200}) {}
};

// "$ff" is the integer reader's hexadecimal form; what is no integer gives no section name.
TEST(DiscSectionName, IdentityBecomesUppercaseHexOfAtLeastSixDigits) {
  std::string sections;
  for (const char* id :
       {"255", " 42", "-1", "0", "16777216", "546304", "$ff", "abc", "", "0x10", "4294967296"})
    sections += Disc_ID_From_Identity(id) + "|";
  EXPECT_EQ(sections, "0000FF|00002A|FFFFFFFF|000000|1000000|085600|0000FF|||||");
}

// The clock is off while the list is refilled; an error there must not leave it off for good.
TEST_F(DiscLoadingTest, ErrorWhileTheListIsRefilledLeavesTheClockRunning) {
  Build(false);
  QObject::connect(ui->ListBoxTracks->model(), &QAbstractItemModel::rowsInserted,
                   [] { throw std::runtime_error("cannot list"); });
  EXPECT_THROW(Refresh(), std::runtime_error);
  EXPECT_TRUE(main->Timer_Enabled());
}

// Without an entry or an identity the names are the defaults and nothing is written. A disc found
// playing keeps playing; a stopped one goes to track one, unless its entry has no tracks.
TEST_F(DiscLoadingTest, EachArrivingDiscIsNamedFromItsEntryOrTheDefaults) {
  const std::string defaults = "新しいｱｰﾁｽﾄ|新しいﾀｲﾄﾙ|1 ﾄﾗｯｸ1|2 ﾄﾗｯｸ2|3 ﾄﾗｯｸ3|4 ﾄﾗｯｸ4";
  // ofDisc: the entry is the disc's section; play: the disc is playing when it arrives.
  const std::tuple<bool, bool, bool, std::string, std::string, int> cases[] = {
      {false, false, true, "", defaults, 3},
      {true, false, false, "[]\r\nartist=Nobody\r\n", defaults, 1},
      {false, true, false, "numtracks=0\r\n", "新しいｱｰﾁｽﾄ|新しいﾀｲﾄﾙ", 0},
      // ｱｰﾃｨｽﾄ / 青い空 / titles, one in half-width katakana; numtracks beyond the disc.
      {false, true, true,
       "EntryType=1\r\nartist=\xB1\xB0\xC3\xA8\xBD\xC4\r\ntitle=\x90\xC2\x82\xA2\x8B\xF3\r\n"
       "numtracks=5\r\n0=Sky\r\n1=\xBD\xB6\xB2\r\n2=Three\r\n3=Four\r\n4=Five\r\n",
       "ｱｰﾃｨｽﾄ|青い空|1 Sky|2 ｽｶｲ|3 Three|4 Four|5 Five", 3}};
  for (const auto& [fails, ofDisc, play, entry, names, row] : cases) {
    SCOPED_TRACE(names);
    const bool first = !windows;  // the first disc is in the drive before the window shows
    if (!first) sim->openTray(), Refresh();
    ofDisc ? Write_Entry(entry) : Put(Disc_Database_Path(), entry);
    const std::string database = Bytes(Disc_Database_Path());
    sim->failIdentity(fails);
    if (!first) sim->closeTray();
    play ? sim->startPlayingAt(Lsn(3, 10)) : sim->setPosition(Lsn(3, 10));
    if (first) Build();
    Refresh();
    const QStringList shown = QStringList{ui->panelArtist->text(), ui->panelTitle->text()} + Rows();
    EXPECT_EQ(shown.join('|').toStdString(), names);
    EXPECT_EQ(Bytes(Disc_Database_Path()), database);
    EXPECT_EQ(Track(), row == 1 ? 1 : 3);
    EXPECT_EQ(Row(), row);
    EXPECT_EQ(sim->isPlaying(), play);
    ExpectPlayState(play, /*menus=*/first);  // loading sets the button alone
    EXPECT_TRUE(ui->spdPlay->isEnabled());
    sim->clearLog();
    Refresh(), Refresh();
    for (const auto& r : sim->log()) EXPECT_TRUE(r.text.empty()) << r.text;  // identified once
  }
  EXPECT_EQ(main->windowTitle(), "ｱｰﾃｨｽﾄ  青い空  ");
}

// The texts the flags choose, stopped and playing; an empty artist still brings its two spaces,
// a track beyond the titles, or none (track 0), brings no title. No leading zeros.
TEST_F(DiscLoadingTest, TextsFollowTheFlagsAndThePosition) {
  Write_Entry("artist=\r\ntitle=Blue\r\nnumtracks=3\r\n0=One\r\n1=Two\r\n2=Sky\r\n");
  Load(false);
  const TPlayerSettings none{}, defaults = Default_Player_Settings();
  TPlayerSettings window = none;
  window.Window_Artist = window.Window_CDTitle = window.Window_TrackTitle = true;
  // Where play starts (a Refresh later it is 1.2 s on); the caption, display panel, application
  // title and see-through lines.
  const std::tuple<TPlayerSettings, bool, int, int, const char*> cases[] = {
      {none, false, 1, 0, "Stopped |Stopped |||Track1 0m 0s "},
      {defaults, false, 3, 0,
       "Stopped   Blue  |Stopped Blue  Sky|Track3 Sky|Blue  Sky|Track3 0m 0s "},
      {defaults, true, 3, 124, "  Blue  |Blue  Sky|Track3 Sky|Blue  Sky|Track3 2m 5s "},
      {none, true, 2, 64, "||||Track2 1m 5s "},
      {window, true, 4, 1, "|  Blue  ||  Blue  |Track4 0m 2s "},
      {window, true, 2, 1, "|  Blue  Two||  Blue  Two|Track2 0m 2s "}};
  for (const auto& [flags, play, track, seconds, texts] : cases) {
    PlayerSettings = flags;
    ui->State.Refresh_Pending = true;
    play ? sim->startPlayingAt(Lsn(track, seconds)) : ui->CD_Seek(track);
    Refresh();
    EXPECT_EQ(Texts().join('|'), texts);
  }
  sim->forceStatusAnswer(MCI_STATUS_POSITION, tmsf::Make(0, 0, 3, 0)), Refresh();
  EXPECT_EQ(Texts().join('|'), "|  Blue  ||  Blue  |Track0 0m 3s ");
  sim->forceStatusAnswer(MCI_STATUS_POSITION, std::nullopt);

  // The caption is rewritten only when its text changes.
  PlayerSettings = defaults;
  QSignalSpy captions(main, &QWidget::windowTitleChanged);
  Refresh(), Refresh();
  EXPECT_EQ(captions.count(), 1) << "time hidden, same track: the caption stays";
  PlayerSettings.Title_Bar_Time = true;
  Refresh(), Refresh();
  EXPECT_EQ(captions.count(), 3) << "with the time shown it changes every refresh";
}

}  // namespace
