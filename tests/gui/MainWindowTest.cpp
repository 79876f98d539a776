#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <tuple>

#include "PlayerFixture.h"
#include "about/Uabout.h"

using namespace mci;

struct AboutProbe {
  TAboutBox& w;
  QLabel* ProgramIcon = w.ProgramIcon;
  QPushButton* BitBtn1 = w.BitBtn1;
};

namespace {

// Ten tracks of 31 s. (At 30 s the disc would last exactly 5:00:00, whose MSF length packs like
// the TMSF start of track 5, and the device would take a play at the end for one there.)
class MainWindowTest : public PlayerFixture {
 protected:
  MainWindowTest() : PlayerFixture({31, 31, 31, 31, 31, 31, 31, 31, 31, 31}) {}
  bool AtTrackStart(int track) const { return sim->positionLsn() == Lsn(track); }
  bool StoppedAt(int track) const { return AtTrackStart(track) && !sim->isPlaying(); }
};

TEST_F(MainWindowTest, TransportButtonsAndTheListMoveTheDrive) {
  Load();
  ClickRow(5);
  ui->spdPlay->click();
  Tick(60);  // 12 s into track 5
  ui->spdPlay->click();
  EXPECT_TRUE(StoppedAt(5));
  ui->Play->trigger();  // the display's menu does the same
  EXPECT_TRUE(sim->isPlaying());

  // A row chosen while playing plays from its start; while stopped the drive only seeks there.
  ClickRow(7);
  EXPECT_TRUE(sim->isPlaying() && Track() == 7 && sim->positionLsn() < Lsn(7, 1));
  ui->spdPlayClick();
  ClickRow(3);
  EXPECT_TRUE(StoppedAt(3));
  QTest::keyClick(ui->ListBoxTracks, Qt::Key_Down);
  EXPECT_TRUE(AtTrackStart(4));

  // Previous a few seconds into track 1 goes back to its start, and the list follows Next.
  ClickRow(1);
  ui->spdPlayClick();
  Tick(20);
  ui->spdRewindClick();
  EXPECT_LT(sim->positionLsn(), 40);
  ui->spdNextClick();
  EXPECT_TRUE(sim->isPlaying() && Track() == 2 && Row() == 2);

  // A stop that lands on the very position a refresh showed still brings the stopped texts.
  main->Disp_Info();
  Tick(3);
  ui->spdPlayClick();
  Refresh();
  EXPECT_EQ(main->windowTitle().left(8) + ui->PanelDisplay->text().left(8), "Stopped Stopped ");

  // Paused, seeking or not ready: Play sends nothing that moves the drive.
  for (std::uint32_t mode : {MCI_MODE_PAUSE, MCI_MODE_SEEK, MCI_MODE_NOT_READY}) {
    sim->forceMode(mode);
    sim->clearLog();
    ui->spdPlayClick();
    for (const auto& r : sim->log()) EXPECT_EQ(r.command, MCI_STATUS) << "mode " << mode;
  }
}

// Only a plain left click chooses a row; other buttons and modified clicks leave the list alone.
// The keyboard reaches every control that takes focus, in the order of the layout; Space presses
// the focused button, Enter the focused transport button or else the default button, Play. While
// a button is held down in the list, refreshes leave its selection where it is.
TEST_F(MainWindowTest, ClicksAndKeysReachTheControlsAndAHeldButtonKeepsTheListStill) {
  Load();
  main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main));
  QWidget* rows = ui->ListBoxTracks->viewport();
  for (const auto& [button, modifiers] :
       std::vector<std::pair<Qt::MouseButton, Qt::KeyboardModifiers>>{
           {Qt::RightButton, {}},
           {Qt::MiddleButton, {}},
           {Qt::LeftButton, Qt::ControlModifier},
           {Qt::LeftButton, Qt::ShiftModifier}})
    for (int track : {5, 1}) {  // another row, and the selected one
      QTest::mouseClick(rows, button, modifiers, RowAt(track));
      EXPECT_TRUE(AtTrackStart(1)) << button << " " << modifiers.toInt() << " " << track;
      EXPECT_EQ(ui->ListBoxTracks->selectedItems(), QList({ui->ListBoxTracks->item(0)}));
    }
  ui->chkRepeatDisc->setFocus();
  for (QWidget* next :
       QWidgetList{ui->chkRepeatTrack, ui->spdEdit, ui->spdRewind, ui->spdPlay, ui->spdNext,
                   ui->spdEject, ui->ListBoxTracks, ui->chkRepeatDisc}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
  ui->spdNext->setFocus();
  QTest::keyClick(ui->spdNext, Qt::Key_Space);
  EXPECT_TRUE(AtTrackStart(2));
  QTest::keyClick(ui->spdNext, Qt::Key_Return);
  EXPECT_TRUE(StoppedAt(3));
  ui->ListBoxTracks->setFocus();
  QTest::keyClick(ui->ListBoxTracks, Qt::Key_Return);
  EXPECT_TRUE(sim->isPlaying());

  QTest::mousePress(rows, Qt::LeftButton, {}, RowAt(5));
  Tick(160);  // into track 6
  EXPECT_EQ(Row(), 5);
  QTest::mouseRelease(rows, Qt::LeftButton, {}, RowAt(5));
  Refresh();
  EXPECT_EQ(Row(), 6);
}

// At the end of the disc the drive rests on track 1 or, with Repeat Disc, plays on; Repeat Track
// takes precedence. Repeat Track waits for a track, undoes Next, follows the list, and forgets a
// track remembered from a disc that left.
TEST_F(MainWindowTest, EndOfDiscRestsOnTrackOneOrRepeatsAndRepeatTrackFollowsTheDisc) {
  sim->openTray();
  Build();
  ui->chkRepeatTrack->setChecked(true);
  EXPECT_EQ(ui->Repeat_Track_No, 0);  // no track known: it waits for one
  Refresh();
  sim->closeTray();
  Refresh();  // loads the disc, which rests on track 1
  Tick();
  ui->spdPlayClick();
  Tick(160);  // 32 s
  EXPECT_EQ(Track(), 1);
  ClickRow(3);
  Tick(160);
  EXPECT_TRUE(Track() == 3 && sim->positionLsn() < Lsn(3, 2));
  ui->spdNextClick();
  EXPECT_EQ(Track(), 4);
  Tick();
  EXPECT_EQ(Track(), 3);

  for (const auto& [disc, track, playing, endsOn] : std::vector<std::tuple<bool, bool, bool, int>>{
           {false, false, false, 1}, {true, false, true, 1}, {true, true, true, 10}}) {
    ui->chkRepeatDisc->setChecked(disc);
    ui->chkRepeatTrack->setChecked(track);
    ClickRow(10);
    if (!sim->isPlaying()) ui->spdPlayClick();
    Tick(160);  // past the end of the last track
    Refresh();
    EXPECT_TRUE(sim->isPlaying() == playing && Track() == endsOn && Row() == endsOn) << endsOn;
    ExpectPlayState(playing);
  }

  ClickRow(9);
  ui->spdEjectClick();
  Refresh();
  sim->insertDisc(SimulatedDriver::MakeDisc({31, 31}));
  Refresh();
  Tick();
  EXPECT_EQ(ui->Repeat_Track_No, 1);
  ui->spdPlayClick();
  Tick(20);
  EXPECT_GT(sim->positionLsn(), Lsn(1, 3));  // plays on rather than restarting every tick
}

TEST_F(MainWindowTest, OpenDriveDisablesTheDiscButtonsAndEjectStopsFirst) {
  Load();
  sim->openTray();
  Refresh();
  for (QToolButton* b : {ui->spdEdit, ui->spdRewind, ui->spdPlay, ui->spdNext, ui->spdEject})
    EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(ui->spdOption->isEnabled() && ui->spdAbout->isEnabled());
  for (QAction* a : ui->PopupMenu->actions()) EXPECT_TRUE(a->isEnabled());
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_EQ(ui->panelArtist->text() + ui->panelTitle->text(), "");
  EXPECT_EQ(Texts(), QStringList({"Zarn's CDPlayer", "Drive Not Ready!!", "Zarn's CDPlayer",
                                  "Drive Not Ready!!", "Track- -m -s"}));
  // The same disc comes back at the very position the last refresh saw: its texts return.
  sim->closeTray();
  Refresh();
  EXPECT_TRUE(ui->spdPlay->isEnabled());
  EXPECT_NE(ui->PanelDisplay->text(), "Drive Not Ready!!");

  ui->spdPlayClick();
  ui->spdEjectClick();
  EXPECT_TRUE(sim->isTrayOpen());
  ExpectPlayState(false);
}

// Closing the main window ends the program, though another window is up, and the device is
// closed first. Errors are reported under the title; only a device that cannot open ends it.
TEST_F(MainWindowTest, ClosingEndsTheProgramErrorsAreReportedAndOnlyAFailedOpenEndsIt) {
  Load();
  windows->SeeThrough->show();
  QApplication::setQuitOnLastWindowClosed(false);
  QTimer::singleShot(0, main, [this] { main->close(); });
  QTimer::singleShot(10000, main, [] { QCoreApplication::exit(2); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  sim->clearLog();
  windows.reset();
  ASSERT_FALSE(sim->log().empty());
  EXPECT_EQ(sim->log().front().command, MCI_CLOSE);

  Load();
  Application::Instance()->Set_Title("Track3 Sky");
  main->Device().Device_Close();
  QTest::mouseClick(ui->spdEject, Qt::LeftButton);  // stopping a closed device raises
  struct Thrower : QObject {
    bool event(QEvent*) override { throw std::runtime_error("tick failed!"); }
  } thrower;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
  const QString notOpen = QString::fromUtf8(CdAudioDevice::kNotOpenText) + ".";
  EXPECT_EQ(std::exchange(reports, {}),
            std::vector<Report>({{"Track3 Sky", QMessageBox::Critical, notOpen},
                                 {"Track3 Sky", QMessageBox::Critical, "tick failed!"}}));
  // A full stop is appended when the last character's code is above that of the full stop.
  for (QString text : {"Cannot read", "Track 7", "書き込めません"})
    EXPECT_EQ(Application::Error_Text(text), text + ".");
  for (QString text : {"Done.", "(none)", "a-", ""}) EXPECT_EQ(Application::Error_Text(text), text);

  windows.reset();
  sim->failOpen(MCIERR_DEVICE_LOCKED, "/dev/sr0: the drive is in use");
  EXPECT_EQ(Start_Player(std::make_unique<SharedDriver>(sim), windows), 1);
  EXPECT_EQ(windows, nullptr);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(std::exchange(reports, {})[0].text, "/dev/sr0: the drive is in use.");
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
}

// An error that recurs on every tick while its report is on screen opens no second box; each
// recurrence still reaches stderr.
TEST(ErrorReport, RecurringErrorShowsOneBoxAtATime) {
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout,
                   [] { Application::Guarded([] { throw std::runtime_error("drive gone"); }); });
  tick.start(10);
  qsizetype boxes = 0;
  QTimer::singleShot(300, [&] {
    tick.stop();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        ++boxes;
        box->reject();
      }
  });
  testing::internal::CaptureStderr();
  Application::Instance()->Show_Error("drive gone");
  EXPECT_EQ(boxes, 1);
  EXPECT_GE(QString::fromStdString(testing::internal::GetCapturedStderr()).count("drive gone."), 2);
}

TEST(AboutBox, EnterEscapeAndOkEndItWithOk) {
  TAboutBox box;
  AboutProbe ui{box};
  EXPECT_FALSE(ui.ProgramIcon->pixmap().isNull());
  for (int key : {int{Qt::Key_Escape}, int{Qt::Key_Return}, 0}) {
    box.setResult(QDialog::Rejected);
    box.open();
    ASSERT_TRUE(box.isVisible());
    if (key)
      QTest::keyClick(&box, static_cast<Qt::Key>(key));
    else
      QTest::mouseClick(ui.BitBtn1, Qt::LeftButton);
    EXPECT_TRUE(!box.isVisible() && box.result() == QDialog::Accepted) << key;
  }
}

}  // namespace
