// Identifying a disc, naming it from the disc database, and the texts composed from the names.
#include <QSignalSpy>

#include "PlayerFixture.h"
#include "settings/PlayerSettings.h"

using namespace mci;

namespace {

class DiscLoadingTest : public PlayerFixture {
 protected:
  DiscLoadingTest() : PlayerFixture({200, 200, 200, 200}) {}
};

TEST(DiscSectionName, IdentityBecomesUppercaseHexOfAtLeastSixDigits) {
  // "$ff" is the integer reader's hexadecimal form; what is no integer gives no section name.
  std::vector<std::string> sections;
  for (const char* id :
       {"255", " 42", "-1", "0", "16777216", "546304", "$ff", "abc", "", "0x10", "4294967296"})
    sections.push_back(Disc_ID_From_Identity(id));
  EXPECT_EQ(sections, std::vector<std::string>({"0000FF", "00002A", "FFFFFFFF", "000000", "1000000",
                                                "085600", "0000FF", "", "", "", ""}));
}

TEST_F(DiscLoadingTest, DiscWithoutAnEntryOrAnIdentityGetsTheDefaultNames) {
  for (bool failed : {false, true}) {
    SCOPED_TRACE(failed ? "failed identity" : "no entry");
    const std::string database = failed ? "[]\r\nartist=Nobody\r\n" : "";
    if (failed) Put(Disc_Database_Path(), database);
    sim->failIdentity(failed);
    Load(false);
    EXPECT_EQ(Rows(), QStringList({"1 ﾄﾗｯｸ1", "2 ﾄﾗｯｸ2", "3 ﾄﾗｯｸ3", "4 ﾄﾗｯｸ4"}));
    EXPECT_EQ(ui->panelArtist->text() + ui->panelTitle->text(), "新しいｱｰﾁｽﾄ新しいﾀｲﾄﾙ");
    EXPECT_EQ(Bytes(Disc_Database_Path()), database);
    // Identified once: later refreshes do not ask again.
    sim->clearLog();
    Refresh();
    Refresh();
    for (const auto& r : sim->log()) EXPECT_TRUE(r.text.empty()) << r.text;
  }
}

TEST_F(DiscLoadingTest, DiscFoundPlayingKeepsPlayingAndStoppedDiscGoesToTrackOne) {
  // Playing before the window shows, or started by someone else before the disc is loaded.
  for (bool atStart : {true, false}) {
    SCOPED_TRACE(atStart ? "at start" : "while loading");
    if (atStart) sim->startPlayingAt(Lsn(3, 5));
    Build();
    if (!atStart) {
      Tick(5);
      sim->startPlayingAt(Lsn(3, 40));
    }
    Refresh();
    EXPECT_TRUE(sim->isPlaying());
    EXPECT_EQ(Track(), 3);
    EXPECT_EQ(Row(), 3);
    ExpectPlayState(true, /*menus=*/atStart);  // loading sets the button alone
  }
  windows.reset();
  sim->setPosition(Lsn(2, 30));
  Load(false);
  EXPECT_FALSE(sim->isPlaying());
  EXPECT_EQ(sim->positionLsn(), Lsn(1));
  EXPECT_EQ(Row(), 1);
}

// The clock is off while the list is refilled; an error there must not leave it off for good.
TEST_F(DiscLoadingTest, ErrorWhileTheListIsRefilledLeavesTheClockRunning) {
  Build(false);
  QObject::connect(ui->ListBoxTracks->model(), &QAbstractItemModel::rowsInserted,
                   [] { throw std::runtime_error("cannot list"); });
  EXPECT_THROW(Refresh(), std::runtime_error);
  EXPECT_TRUE(main->Timer_Enabled());
}

// An entry with no tracks leaves the list empty and the drive where it is; names stored while the
// tray is open show when it closes.
TEST_F(DiscLoadingTest, EmptyEntryMovesNothingAndReloadingShowsNamesStoredMeanwhile) {
  Write_Entry("numtracks=0\r\n");
  sim->setPosition(Lsn(3, 10));
  Load(false);
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_EQ(ui->ListBoxTracks->currentRow(), -1);
  EXPECT_EQ(sim->positionLsn(), Lsn(3, 10));
  EXPECT_TRUE(ui->spdPlay->isEnabled());
  sim->openTray();
  Refresh();
  // ｱｰﾃｨｽﾄ / 青い空 / titles, one in half-width katakana; numtracks beyond the disc.
  Write_Entry(
      "EntryType=1\r\nartist=\xB1\xB0\xC3\xA8\xBD\xC4\r\ntitle=\x90\xC2\x82\xA2\x8B\xF3\r\n"
      "numtracks=5\r\n0=Sky\r\n1=\xBD\xB6\xB2\r\n2=Three\r\n3=Four\r\n4=Five\r\n");
  sim->closeTray();
  Refresh();
  EXPECT_EQ(ui->panelArtist->text(), "ｱｰﾃｨｽﾄ");
  EXPECT_EQ(ui->panelTitle->text(), "青い空");
  EXPECT_EQ(Rows(), QStringList({"1 Sky", "2 ｽｶｲ", "3 Three", "4 Four", "5 Five"}));
  EXPECT_EQ(main->windowTitle(), "Stopped ｱｰﾃｨｽﾄ  青い空  ");
}

// The caption is rewritten only when its text changes.
TEST_F(DiscLoadingTest, TextsWithTheDefaultFlags) {
  Write_Entry("artist=Ann\r\ntitle=Blue\r\nnumtracks=4\r\n0=One\r\n1=Two\r\n2=Sky\r\n3=Four\r\n");
  Load(false);
  ui->CD_Seek(3);
  Refresh();
  EXPECT_EQ(Texts(), QStringList({"Stopped Ann  Blue  ", "Stopped Blue  Sky", "Track3 Sky",
                                  "Blue  Sky", "Track3 0m 0s "}));
  sim->startPlayingAt(Lsn(3, 124));
  Refresh();  // 1.2 s later: 2 minutes 5 seconds into track 3
  EXPECT_EQ(Texts(),
            QStringList({"Ann  Blue  ", "Blue  Sky", "Track3 Sky", "Blue  Sky", "Track3 2m 5s "}));
  QSignalSpy captions(main, &QWidget::windowTitleChanged);
  Refresh();
  Refresh();
  EXPECT_EQ(captions.count(), 0) << "time hidden, same track: the caption stays";
  PlayerSettings.Title_Bar_Time = true;
  ui->State.Refresh_Pending = true;
  Refresh();
  Refresh();
  Refresh();
  EXPECT_EQ(captions.count(), 3) << "with the time shown it changes every refresh";
}

TEST_F(DiscLoadingTest, FieldsAndSeparators) {
  Write_Entry("artist=\r\ntitle=Blue\r\nnumtracks=2\r\n0=One\r\n1=Two\r\n");
  Load(false);

  // Every flag clear: the prefix alone while stopped, nothing while playing; no leading zeros.
  PlayerSettings = TPlayerSettings{};
  ui->State.Refresh_Pending = true;
  Refresh();
  EXPECT_EQ(Texts(), QStringList({"Stopped ", "Stopped ", "", "", "Track1 0m 0s "}));
  sim->startPlayingAt(Lsn(2, 64));
  Refresh();
  EXPECT_EQ(Texts(), QStringList({"", "", "", "", "Track2 1m 5s "}));

  // An empty artist still brings its two spaces; a track beyond the titles, or none (track 0),
  // brings no title.
  PlayerSettings.Window_Artist = PlayerSettings.Window_CDTitle = true;
  PlayerSettings.Window_TrackTitle = true;
  sim->startPlayingAt(Lsn(3, 1));
  Refresh();
  EXPECT_EQ(ui->PanelDisplay->text(), "  Blue  ");
  sim->startPlayingAt(Lsn(2, 1));
  Refresh();
  EXPECT_EQ(ui->PanelDisplay->text(), "  Blue  Two");
  sim->forceStatusAnswer(MCI_STATUS_POSITION, tmsf::Make(0, 0, 3, 0));
  ui->State.Refresh_Pending = true;
  Refresh();
  EXPECT_EQ(ui->PanelDisplay->text(), "  Blue  ");
  EXPECT_EQ(ui->State.Overlay_Time_Text, "Track0 0m 3s ");
  sim->forceStatusAnswer(MCI_STATUS_POSITION, std::nullopt);
}

}  // namespace
