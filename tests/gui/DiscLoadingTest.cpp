// Identifying a disc, naming it from the disc database, and the texts composed from the names.
#include <gtest/gtest.h>

#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "app/Application.h"
#include "app/Startup.h"
#include "app/Umain.h"
#include "device/SimulatedDriver.h"
#include "support/SharedDriver.h"
#include "device/Tmsf.h"
#include "disc/Ucdobj.h"
#include "settings/PlayerSettings.h"

using namespace mci;
using namespace std::chrono_literals;

namespace {

// Four tracks of 200 s each.
constexpr std::int32_t kTrack = 200 * 75;
std::int32_t Lsn(int track, int seconds = 0) {
  return (track - 1) * kTrack + seconds * 75;
}

class DiscLoadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({200, 200, 200, 200}));
    section = Disc_ID_From_Identity(sim->disc()->IdentityText());
    QFile::remove(QString::fromStdString(Disc_Database_Path()));
    Application::Instance()->Set_Error_Reporter(
        [this](const QString&, QMessageBox::Icon, const QString& text) { errors << text; });
  }
  void TearDown() override {
    windows.reset();
    Application::Instance()->Set_Error_Reporter(nullptr);
    QFile::remove(QString::fromStdString(Disc_Database_Path()));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
  }

  // The database as another program leaves it: CP932 bytes, CRLF line ends.
  void WriteDatabase(const std::string& bytes) {
    QFile f(QString::fromStdString(Disc_Database_Path()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  void WriteEntry(const std::string& keys) { WriteDatabase("[" + section + "]\r\n" + keys); }

  void Build() {
    windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim), /*runClock=*/false);
    main = windows->Main.get();
    PlayerSettings = Default_Player_Settings();
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) {
      sim->advance(200ms);
      main->TimerTimer();
    }
  }
  void Refresh() { Tick(6 - Main_Unit_State().Tick_Count); }
  QStringList Rows() const {
    QStringList rows;
    for (int i = 0; i < main->ListBoxTracks->count(); ++i)
      rows << main->ListBoxTracks->item(i)->text();
    return rows;
  }
  QString AppTitle() const { return Application::Instance()->Title(); }
  QString Overlay() const { return Main_Unit_State().Overlay_Display_Text; }
  QString TimeLine() const { return Main_Unit_State().Overlay_Time_Text; }

  std::shared_ptr<SimulatedDriver> sim;
  std::string section;
  std::unique_ptr<PlayerWindows> windows;
  TfrmMain* main = nullptr;
  QStringList errors;
};

TEST(DiscSectionName, IdentityBecomesUppercaseHexOfAtLeastSixDigits) {
  EXPECT_EQ(Disc_ID_From_Identity("255"), "0000FF");
  EXPECT_EQ(Disc_ID_From_Identity(" 42"), "00002A");
  EXPECT_EQ(Disc_ID_From_Identity("-1"), "FFFFFFFF");
  EXPECT_EQ(Disc_ID_From_Identity("0"), "000000");
  EXPECT_EQ(Disc_ID_From_Identity("16777216"), "1000000");
  EXPECT_EQ(Disc_ID_From_Identity("546304"), "085600");
  EXPECT_EQ(Disc_ID_From_Identity("$ff"), "0000FF");  // the integer reader's hexadecimal form
  // Not an integer: no section name at all.
  EXPECT_EQ(Disc_ID_From_Identity("abc"), "");
  EXPECT_EQ(Disc_ID_From_Identity(""), "");
  EXPECT_EQ(Disc_ID_From_Identity("0x10"), "");
  EXPECT_EQ(Disc_ID_From_Identity("4294967296"), "");
}

TEST_F(DiscLoadingTest, DiscWithoutAnEntryGetsTheDefaultNamesAndNothingIsWritten) {
  Build();
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"1 ﾄﾗｯｸ1", "2 ﾄﾗｯｸ2", "3 ﾄﾗｯｸ3", "4 ﾄﾗｯｸ4"}));
  EXPECT_EQ(main->panelArtist->text(), "新しいｱｰﾁｽﾄ");
  EXPECT_EQ(main->panelTitle->text(), "新しいﾀｲﾄﾙ");
  EXPECT_EQ(main->ListBoxTracks->currentRow(), 0);
  EXPECT_EQ(main->PanelDisplay->text(), "Stopped 新しいﾀｲﾄﾙ  ﾄﾗｯｸ1");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Disc_Database_Path())));
  // Identified once: later refreshes do not ask again.
  sim->clearLog();
  Refresh();
  Refresh();
  for (const auto& r : sim->log()) EXPECT_TRUE(r.text.empty()) << r.text;
}

TEST_F(DiscLoadingTest, StoredEntryNamesTheDiscInCodePage932) {
  // ｱｰﾃｨｽﾄ / 青い空 / two titles, one with half-width katakana; numtracks beyond the disc.
  WriteEntry(
      "EntryType=1\r\nartist=\xB1\xB0\xC3\xA8\xBD\xC4\r\ntitle=\x90\xC2\x82\xA2\x8B\xF3\r\n"
      "numtracks=5\r\n0=Sky\r\n1=\xBD\xB6\xB2\r\n2=Three\r\n3=Four\r\n4=Five\r\n");
  Build();
  Refresh();
  EXPECT_EQ(main->panelArtist->text(), "ｱｰﾃｨｽﾄ");
  EXPECT_EQ(main->panelTitle->text(), "青い空");
  EXPECT_EQ(Rows(), QStringList({"1 Sky", "2 ｽｶｲ", "3 Three", "4 Four", "5 Five"}));
  EXPECT_EQ(main->windowTitle(), "Stopped ｱｰﾃｨｽﾄ  青い空  ");
}

TEST_F(DiscLoadingTest, EntryWithNoTracksLeavesTheListEmptyAndTheDriveWhereItIs) {
  WriteEntry("numtracks=0\r\n");
  sim->setPosition(Lsn(3, 10));
  Build();
  Refresh();
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_EQ(main->ListBoxTracks->currentRow(), -1);
  EXPECT_EQ(sim->positionLsn(), Lsn(3, 10));
  EXPECT_TRUE(main->spdPlay->isEnabled());
}

TEST_F(DiscLoadingTest, DiscFoundPlayingKeepsPlayingAndStoppedDiscGoesToTrackOne) {
  Build();
  Tick(5);
  sim->startPlayingAt(Lsn(3, 40));  // started by someone else after FormShow
  Tick();
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_EQ(main->spdPlay->toolTip(), "Stop");
  EXPECT_EQ(main->ListBoxTracks->currentRow(), 2);
  EXPECT_EQ(tmsf::Track(sim->disc()->ToTmsf(sim->positionLsn())), 3);

  windows.reset();
  sim->setPosition(Lsn(2, 30));
  Build();
  Refresh();
  EXPECT_FALSE(sim->isPlaying());
  EXPECT_EQ(sim->positionLsn(), Lsn(1));
  EXPECT_EQ(main->ListBoxTracks->currentRow(), 0);
}

TEST_F(DiscLoadingTest, ReloadingAfterTheTrayOpensShowsNamesStoredMeanwhile) {
  Build();
  Refresh();
  EXPECT_EQ(main->panelArtist->text(), "新しいｱｰﾁｽﾄ");

  sim->openTray();
  Refresh();
  EXPECT_EQ(main->PanelDisplay->text(), "Drive Not Ready!!");
  EXPECT_EQ(main->windowTitle(), "Zarn's CDPlayer");
  EXPECT_EQ(AppTitle(), "Zarn's CDPlayer");
  EXPECT_EQ(Overlay(), "Drive Not Ready!!");
  EXPECT_EQ(TimeLine(), "Track- -m -s");
  EXPECT_TRUE(main->panelArtist->text().isEmpty());
  EXPECT_TRUE(Rows().isEmpty());

  WriteEntry("artist=Ann\r\ntitle=Blue\r\nnumtracks=2\r\n0=Sky\r\n1=Sea\r\n");
  sim->closeTray();
  Refresh();
  EXPECT_EQ(main->panelArtist->text(), "Ann");
  EXPECT_EQ(Rows(), QStringList({"1 Sky", "2 Sea"}));
  EXPECT_EQ(main->PanelDisplay->text(), "Stopped Blue  Sky");
}

TEST_F(DiscLoadingTest, FailedIdentityGivesDefaultNamesWithoutAnError) {
  WriteDatabase("[]\r\nartist=Nobody\r\n");
  sim->failIdentity(true);
  Build();
  Refresh();
  EXPECT_EQ(main->panelArtist->text(), "新しいｱｰﾁｽﾄ");
  EXPECT_EQ(Rows().size(), 4);
}

TEST_F(DiscLoadingTest, TextsWithTheDefaultFlags) {
  WriteEntry("artist=Ann\r\ntitle=Blue\r\nnumtracks=4\r\n0=One\r\n1=Two\r\n2=Sky\r\n3=Four\r\n");
  Build();
  Refresh();
  main->CD_Seek(3);
  Refresh();
  EXPECT_EQ(main->windowTitle(), "Stopped Ann  Blue  ");
  EXPECT_EQ(main->PanelDisplay->text(), "Stopped Blue  Sky");
  EXPECT_EQ(AppTitle(), "Track3 Sky");
  EXPECT_EQ(main->windowIconText(), "Track3 Sky");
  EXPECT_EQ(Overlay(), "Blue  Sky");
  EXPECT_EQ(TimeLine(), "Track3 0m 0s ");

  sim->startPlayingAt(Lsn(3, 124));
  Refresh();  // 1.2 s later: 2 minutes 5 seconds into track 3
  EXPECT_EQ(main->windowTitle(), "Ann  Blue  ");
  EXPECT_EQ(main->PanelDisplay->text(), "Blue  Sky");
  EXPECT_EQ(AppTitle(), "Track3 Sky");
  EXPECT_EQ(Overlay(), "Blue  Sky");
  EXPECT_EQ(TimeLine(), "Track3 2m 5s ");
}

TEST_F(DiscLoadingTest, FieldsAndSeparators) {
  WriteEntry("artist=\r\ntitle=Blue\r\nnumtracks=2\r\n0=One\r\n1=Two\r\n");
  Build();
  Refresh();

  // Every flag clear: the prefix alone while stopped, nothing while playing.
  PlayerSettings = TPlayerSettings{};
  Refresh_Pending = true;
  Refresh();
  EXPECT_EQ(main->windowTitle(), "Stopped ");
  EXPECT_EQ(main->PanelDisplay->text(), "Stopped ");
  EXPECT_EQ(AppTitle(), "");
  sim->startPlayingAt(Lsn(2, 64));
  Refresh();
  EXPECT_EQ(main->windowTitle(), "");
  EXPECT_EQ(main->PanelDisplay->text(), "");
  EXPECT_EQ(TimeLine(), "Track2 1m 5s ");  // no leading zeros

  // An empty artist still brings its two spaces; a track beyond the titles brings no title.
  PlayerSettings.Window_Artist = PlayerSettings.Window_CDTitle = true;
  PlayerSettings.Window_TrackTitle = true;
  sim->startPlayingAt(Lsn(3, 1));
  Refresh();
  EXPECT_EQ(main->PanelDisplay->text(), "  Blue  ");
  sim->startPlayingAt(Lsn(2, 1));
  Refresh();
  EXPECT_EQ(main->PanelDisplay->text(), "  Blue  Two");

  // A position without a track (track 0) brings no title either.
  sim->forceStatusAnswer(MCI_STATUS_POSITION, tmsf::Make(0, 0, 3, 0));
  Refresh_Pending = true;
  Refresh();
  EXPECT_EQ(main->PanelDisplay->text(), "  Blue  ");
  EXPECT_EQ(TimeLine(), "Track0 0m 3s ");
  sim->forceStatusAnswer(MCI_STATUS_POSITION, std::nullopt);
}

TEST_F(DiscLoadingTest, CaptionIsRewrittenOnlyWhenItsTextChanges) {
  Build();
  Refresh();
  sim->startPlayingAt(Lsn(1, 10));
  Refresh();
  QSignalSpy captions(main, &QWidget::windowTitleChanged);
  Refresh();
  Refresh();
  EXPECT_EQ(captions.count(), 0) << "time hidden, same track: the caption stays";

  PlayerSettings.Title_Bar_Time = true;
  Refresh_Pending = true;
  Refresh();
  Refresh();
  Refresh();
  EXPECT_EQ(captions.count(), 3) << "with the time shown it changes every refresh";
}

}  // namespace
