#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/Application.h"
#include "app/Glyphs.h"
#include "app/Startup.h"
#include "app/Umain.h"
#include "device/SimulatedDriver.h"
#include "support/SharedDriver.h"
#include "device/Tmsf.h"
#include "overlay/Usthrou.h"

using namespace mci;
using namespace std::chrono_literals;

namespace {

struct Report {
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
};

// Ten tracks of 31 s each. (At 30 s the disc would last exactly 5:00:00, whose MSF length
// packs like the TMSF start of track 5: the device then takes Play there for a play at the end
// of the disc and rewinds.)
constexpr std::int32_t kTrack = 31 * 75;
std::int32_t Lsn(int track, int seconds = 0) {
  return (track - 1) * kTrack + seconds * 75;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_shared<SimulatedDriver>(
        SimulatedDriver::MakeDisc({31, 31, 31, 31, 31, 31, 31, 31, 31, 31}));
    Application::Instance()->Set_Error_Reporter(
        [this](const QString& c, QMessageBox::Icon i, const QString& t) {
          reports.push_back({c, i, t});
        });
  }
  void TearDown() override {
    windows.reset();
    Application::Instance()->Set_Error_Reporter(nullptr);
  }

  void Build(bool show = true) {
    windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim), /*runClock=*/false);
    main = windows->Main.get();
    if (show) {
      main->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    }
  }

  // One tick of the clock, with the drive moving on by the same 200 ms first.
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) {
      sim->advance(200ms);
      main->TimerTimer();
    }
  }
  // Up to and including the next full refresh.
  void Refresh() { Tick(6 - Main_Unit_State().Tick_Count); }

  int Track() const { return tmsf::Track(sim->disc()->ToTmsf(sim->positionLsn())); }
  bool AtTrackStart(int track) const { return sim->positionLsn() == Lsn(track); }
  int Row() const { return main->ListBoxTracks->currentRow() + 1; }

  void ClickRow(int track) {
    QListWidget* list = main->ListBoxTracks;
    const QRect r = list->visualItemRect(list->item(track - 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
  }

  bool ShowsGlyph(const QImage& pair) const {
    return main->spdPlay->icon().pixmap(16, 16).toImage() ==
           Glyph_Icon(pair).pixmap(16, 16).toImage();
  }
  void ExpectPlayState(bool playing) const {
    const QString caption = playing ? "Stop" : "Play";
    EXPECT_EQ(main->spdPlay->toolTip(), caption);
    EXPECT_EQ(main->Play->text(), caption);
    EXPECT_EQ(windows->SeeThrough->pupPlay->text(), caption);
    EXPECT_TRUE(ShowsGlyph(playing ? Glyph_Stop() : Glyph_Play()));
  }

  std::shared_ptr<SimulatedDriver> sim;
  std::unique_ptr<PlayerWindows> windows;
  TfrmMain* main = nullptr;
  std::vector<Report> reports;
};

TEST_F(MainWindowTest, StartTextsHoldUntilTheSixthTick) {
  Build();
  auto* app = Application::Instance();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(main->PanelDisplay->text(), "Wait!!");
    EXPECT_EQ(main->windowTitle(), "Zarn's CDPlayer");
    EXPECT_EQ(app->Title(), "Zarn'sCDPlayer");
    EXPECT_EQ(main->windowIconText(), "Zarn'sCDPlayer");
    EXPECT_TRUE(Main_Unit_State().Overlay_Display_Text.isEmpty());
    EXPECT_TRUE(Main_Unit_State().Overlay_Time_Text.isEmpty());
    EXPECT_EQ(main->ListBoxTracks->count(), 0);
    EXPECT_TRUE(main->spdPlay->isEnabled());
    Tick();
  }
  Tick();  // the sixth: the disc is loaded and the texts are written
  EXPECT_EQ(main->ListBoxTracks->count(), 10);
  EXPECT_EQ(Row(), 1);
  EXPECT_TRUE(main->PanelDisplay->text().startsWith("Stopped "));
  EXPECT_TRUE(main->windowTitle().startsWith("Stopped "));
  EXPECT_EQ(Main_Unit_State().Overlay_Time_Text, "Track1 0m 0s ");
  EXPECT_EQ(main->windowIconText(), app->Title());
  EXPECT_NE(app->Title(), "Zarn'sCDPlayer");
}

TEST_F(MainWindowTest, PlayTogglesAndStopRewindsToTheTrackStart) {
  Build();
  Refresh();
  ExpectPlayState(false);
  ClickRow(5);
  Tick(2);
  main->spdPlay->click();
  EXPECT_TRUE(sim->isPlaying());
  ExpectPlayState(true);
  Tick(60);  // 12 s into track 5
  EXPECT_EQ(Track(), 5);
  EXPECT_GT(sim->positionLsn(), Lsn(5, 10));
  main->spdPlay->click();
  EXPECT_FALSE(sim->isPlaying());
  EXPECT_TRUE(AtTrackStart(5));
  ExpectPlayState(false);
  main->Play->trigger();  // the display's menu does the same
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_EQ(Track(), 5);
  // Enter presses the default button wherever the focus is.
  main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main));
  main->ListBoxTracks->setFocus();
  QTest::keyClick(main->ListBoxTracks, Qt::Key_Return);
  EXPECT_FALSE(sim->isPlaying());
  ExpectPlayState(false);

  // Paused, seeking or not ready: Play sends nothing that moves the drive.
  for (std::uint32_t mode : {MCI_MODE_PAUSE, MCI_MODE_SEEK, MCI_MODE_NOT_READY}) {
    sim->forceMode(mode);
    sim->clearLog();
    main->spdPlayClick();
    for (const auto& r : sim->log()) EXPECT_EQ(r.command, MCI_STATUS) << "mode " << mode;
  }
}

TEST_F(MainWindowTest, ListChoiceSeeksAndKeepsPlayingOrStopped) {
  Build();
  Refresh();
  ClickRow(2);
  main->spdPlayClick();
  Tick(10);
  ClickRow(7);
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_EQ(Track(), 7);
  EXPECT_LT(sim->positionLsn(), Lsn(7, 1));
  main->spdPlayClick();
  ClickRow(3);
  EXPECT_FALSE(sim->isPlaying());
  EXPECT_TRUE(AtTrackStart(3));
  EXPECT_EQ(Row(), 3);
  // The keyboard chooses as well.
  QTest::keyClick(main->ListBoxTracks, Qt::Key_Down);
  EXPECT_TRUE(AtTrackStart(4));
}

TEST_F(MainWindowTest, EndOfDiscRestsOnTrackOneOrRepeats) {
  Build();
  Refresh();
  ClickRow(10);
  main->spdPlayClick();
  Tick(160);  // 32 s: past the end of the last track
  Refresh();
  EXPECT_FALSE(sim->isPlaying());
  EXPECT_TRUE(AtTrackStart(1));
  EXPECT_EQ(Row(), 1);
  ExpectPlayState(false);

  main->chkRepeatDisc->setChecked(true);
  ClickRow(10);
  main->spdPlayClick();
  Tick(160);
  Refresh();
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_EQ(Track(), 1);
  ExpectPlayState(true);

  // Repeat Track takes precedence at the end of the disc too.
  main->chkRepeatTrack->setChecked(true);
  ClickRow(10);
  Tick(160);
  Refresh();
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_EQ(Track(), 10);
}

TEST_F(MainWindowTest, RepeatTrackUndoesNextAndFollowsTheList) {
  Build();
  Refresh();
  ClickRow(3);
  main->spdPlayClick();
  main->chkRepeatTrack->setChecked(true);
  EXPECT_EQ(main->Repeat_Track_No, 3);
  Tick(160);  // into track 4
  EXPECT_EQ(Track(), 3);
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_LT(sim->positionLsn(), Lsn(3, 2));

  main->spdNextClick();
  EXPECT_EQ(Track(), 4);
  Tick();
  EXPECT_EQ(Track(), 3);
  EXPECT_TRUE(sim->isPlaying());

  ClickRow(6);
  EXPECT_EQ(main->Repeat_Track_No, 6);
  Tick(160);
  EXPECT_EQ(Track(), 6);
  EXPECT_TRUE(sim->isPlaying());

  // Checking the box again remembers the track of that moment.
  main->chkRepeatTrack->setChecked(false);
  main->spdNextClick();
  Tick();
  EXPECT_EQ(Track(), 7);
  main->chkRepeatTrack->setChecked(true);
  EXPECT_EQ(main->Repeat_Track_No, 7);
}

TEST_F(MainWindowTest, RepeatTrackWithoutAKnownTrackWaitsForOne) {
  sim->openTray();
  Build();
  main->chkRepeatTrack->setChecked(true);
  EXPECT_EQ(main->Repeat_Track_No, 0);
  Refresh();
  sim->closeTray();
  sim->clearLog();
  Refresh();  // loads the disc, which rests on track 1
  Tick();
  EXPECT_EQ(main->Repeat_Track_No, 1);
  main->spdPlayClick();
  Tick(160);
  EXPECT_EQ(Track(), 1);

  // A track remembered from a disc that left is forgotten with it.
  ClickRow(9);
  EXPECT_EQ(main->Repeat_Track_No, 9);
  main->spdEjectClick();
  Refresh();
  sim->insertDisc(SimulatedDriver::MakeDisc({31, 31}));
  Refresh();
  Tick();
  EXPECT_EQ(main->Repeat_Track_No, 1);
  main->spdPlayClick();
  Tick(20);
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_GT(sim->positionLsn(), Lsn(1, 3));  // plays on rather than restarting every tick
}

TEST_F(MainWindowTest, NextAndPreviousStopAtTheEnds) {
  Build();
  Refresh();
  ClickRow(10);
  Tick(5);
  main->spdNextClick();
  EXPECT_TRUE(AtTrackStart(10));
  EXPECT_EQ(Row(), 10);
  ClickRow(1);
  main->spdPlayClick();
  Tick(20);
  main->spdRewindClick();
  EXPECT_EQ(Track(), 1);
  EXPECT_LT(sim->positionLsn(), 40);
  EXPECT_TRUE(sim->isPlaying());
  main->spdNextClick();
  EXPECT_EQ(Track(), 2);
  EXPECT_EQ(Row(), 2);
  EXPECT_TRUE(sim->isPlaying());
}

TEST_F(MainWindowTest, OpenDriveDisablesButtonsAndEmptiesTheLists) {
  Build();
  Refresh();
  sim->openTray();
  Refresh();
  for (QToolButton* b :
       {main->spdEdit, main->spdRewind, main->spdPlay, main->spdNext, main->spdEject})
    EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(main->spdOption->isEnabled());
  EXPECT_TRUE(main->spdAbout->isEnabled());
  for (QAction* a : main->PopupMenu->actions()) EXPECT_TRUE(a->isEnabled());
  EXPECT_EQ(main->ListBoxTracks->count(), 0);
  EXPECT_TRUE(main->panelArtist->text().isEmpty());
  EXPECT_TRUE(main->panelTitle->text().isEmpty());
  EXPECT_EQ(main->PanelDisplay->text(), "Drive Not Ready!!");
  EXPECT_EQ(main->windowTitle(), "Zarn's CDPlayer");
  EXPECT_EQ(Application::Instance()->Title(), "Zarn's CDPlayer");
  EXPECT_EQ(Main_Unit_State().Overlay_Display_Text, "Drive Not Ready!!");
  EXPECT_EQ(Main_Unit_State().Overlay_Time_Text, "Track- -m -s");

  // The same disc comes back at the very position the last refresh saw; its texts return all
  // the same.
  sim->closeTray();
  Refresh();
  EXPECT_TRUE(main->spdPlay->isEnabled());
  EXPECT_EQ(main->ListBoxTracks->count(), 10);
  EXPECT_NE(main->PanelDisplay->text(), "Drive Not Ready!!");

  // Eject: the drive stops, rewinds, and opens.
  main->spdPlayClick();
  main->spdEjectClick();
  EXPECT_TRUE(sim->isTrayOpen());
  ExpectPlayState(false);
}

TEST_F(MainWindowTest, HeldMouseButtonKeepsTheListStill) {
  Build();
  Refresh();
  QListWidget* list = main->ListBoxTracks;
  const QPoint row3 = list->visualItemRect(list->item(2)).center();
  QTest::mousePress(list->viewport(), Qt::LeftButton, {}, row3);
  EXPECT_TRUE(AtTrackStart(3));
  main->spdPlayClick();
  Tick(160);  // into track 4
  EXPECT_EQ(Track(), 4);
  EXPECT_EQ(Row(), 3);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, row3);
  Refresh();
  EXPECT_EQ(Row(), 4);
}

TEST_F(MainWindowTest, DiscFoundPlayingIsAdopted) {
  sim->startPlayingAt(Lsn(3, 5));
  Build();
  EXPECT_TRUE(sim->isPlaying());
  ExpectPlayState(true);
  Refresh();
  EXPECT_EQ(main->ListBoxTracks->count(), 10);
  EXPECT_EQ(Row(), 3);
  EXPECT_EQ(Track(), 3);
  EXPECT_TRUE(sim->isPlaying());
  ExpectPlayState(true);
}

TEST_F(MainWindowTest, ClosingTheWindowEndsTheProgramAndClosesTheDeviceFirst) {
  Build();
  Refresh();
  windows->SeeThrough->show();  // a window still up does not keep the program running
  QApplication::setQuitOnLastWindowClosed(false);
  QTimer::singleShot(0, main, [this] { main->close(); });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });
  watchdog.start(10000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  sim->clearLog();
  windows.reset();
  ASSERT_FALSE(sim->log().empty());
  EXPECT_EQ(sim->log().front().command, MCI_CLOSE);
  EXPECT_TRUE(reports.empty());
}

TEST_F(MainWindowTest, ErrorsOfHandlersAreReportedAndTheProgramGoesOn) {
  Build();
  Refresh();
  Application::Instance()->Set_Title("Track3 Sky");
  main->Device().Device_Close();
  // A click whose handler fails: the device is closed, so stopping it raises.
  QTest::mouseClick(main->spdEject, Qt::LeftButton);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].caption, "Track3 Sky");
  EXPECT_EQ(reports[0].icon, QMessageBox::Critical);
  EXPECT_EQ(reports[0].text, QString::fromUtf8(CdAudioDevice::kNotOpenText) + ".");

  // Whatever else escapes an event handler is caught by the application object.
  struct Thrower : QObject {
    bool event(QEvent*) override { throw std::runtime_error("tick failed!"); }
  } thrower;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].text, "tick failed!");
  EXPECT_EQ(reports[1].caption, "Track3 Sky");

  EXPECT_EQ(Application::Error_Text("Cannot read"), "Cannot read.");
  EXPECT_EQ(Application::Error_Text("Done."), "Done.");
  EXPECT_EQ(Application::Error_Text("Track 7"), "Track 7.");
  EXPECT_EQ(Application::Error_Text("(none)"), "(none)");
  EXPECT_EQ(Application::Error_Text("a-"), "a-");
  EXPECT_EQ(Application::Error_Text("書き込めません"), "書き込めません.");
  EXPECT_EQ(Application::Error_Text(""), "");
}

TEST_F(MainWindowTest, DeviceThatCannotBeOpenedEndsStartUp) {
  sim->failOpen(MCIERR_DEVICE_LOCKED, "/dev/sr0: the drive is in use");
  std::unique_ptr<PlayerWindows> started;
  EXPECT_EQ(Start_Player(std::make_unique<SharedDriver>(sim), started), 1);
  EXPECT_EQ(started, nullptr);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].caption, "Zarn'sCDPlayer");
  EXPECT_EQ(reports[0].icon, QMessageBox::Critical);
  EXPECT_EQ(reports[0].text, "/dev/sr0: the drive is in use.");
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
}

}  // namespace
