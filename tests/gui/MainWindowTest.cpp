#include <QMenu>

#include "PlayerFixture.h"
#include "about/Uabout.h"

using namespace mci;

namespace {

// At 30 s a track the disc's MSF length would pack like track 5's TMSF start.
class MainWindowTest : public PlayerFixture {
 protected:
  MainWindowTest() : PlayerFixture({31, 31, 31, 31, 31, 31, 31, 31, 31, 31}) {}
  bool AtTrackStart(int track) const { return sim->positionLsn() == Lsn(track); }
  bool StoppedAt(int track) const { return AtTrackStart(track) && !sim->isPlaying(); }
};

TEST_F(MainWindowTest, ClicksKeysAndTransportButtonsMoveTheDrive) {
  Load();
  main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main));
  QWidget* rows = ui->ListBoxTracks->viewport();
  using Click = std::pair<Qt::MouseButton, Qt::KeyboardModifiers>;
  for (const auto& [button, modifiers] :
       {Click(Qt::RightButton, {}), Click(Qt::MiddleButton, {}),
        Click(Qt::LeftButton, Qt::ControlModifier), Click(Qt::LeftButton, Qt::ShiftModifier)})
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
  main->Play_Or_Stop();

  ClickRow(5);
  ui->spdPlay->click();
  Tick(60);  // 12 s into track 5
  ui->spdPlay->click();
  EXPECT_TRUE(StoppedAt(5));
  ui->Play->trigger();
  EXPECT_TRUE(sim->isPlaying());

  ClickRow(7);
  EXPECT_TRUE(sim->isPlaying() && Track() == 7 && sim->positionLsn() < Lsn(7, 1));
  main->Play_Or_Stop();
  ClickRow(3);
  EXPECT_TRUE(StoppedAt(3));
  QTest::keyClick(ui->ListBoxTracks, Qt::Key_Down);
  EXPECT_TRUE(AtTrackStart(4));

  ClickRow(1);
  main->Play_Or_Stop();
  Tick(20);
  main->Previous_Track();
  EXPECT_LT(sim->positionLsn(), 40);
  main->Next_Track();
  EXPECT_TRUE(sim->isPlaying() && Track() == 2 && Row() == 2);

  // A stop on the very position a refresh showed still brings the stopped texts.
  main->Disp_Info();
  Tick(3);
  main->Play_Or_Stop();
  Refresh();
  EXPECT_EQ(main->windowTitle().left(8) + ui->PanelDisplay->text().left(8), "Stopped Stopped ");

  for (std::uint32_t mode : {MCI_MODE_PAUSE, MCI_MODE_SEEK, MCI_MODE_NOT_READY}) {
    sim->forceMode(mode);
    sim->clearLog();
    main->Play_Or_Stop();
    for (const auto& r : sim->log()) EXPECT_EQ(r.command, MCI_STATUS) << "mode " << mode;
  }
}

TEST_F(MainWindowTest, OpenDriveEndOfDiscAndRepeatTrack) {
  Load();
  sim->openTray();
  Refresh();
  for (QToolButton* b : {ui->spdEdit, ui->spdRewind, ui->spdPlay, ui->spdNext, ui->spdEject})
    EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(ui->spdOption->isEnabled() && ui->spdAbout->isEnabled());
  for (QAction* a : ui->PopupMenu->actions()) EXPECT_TRUE(a->isEnabled());
  EXPECT_EQ(Rows().join("") + ui->panelArtist->text() + ui->panelTitle->text(), "");
  EXPECT_EQ(Texts(), QStringList({"Zarn's CDPlayer", "Drive Not Ready!!", "Zarn's CDPlayer",
                                  "Drive Not Ready!!", "Track- -m -s"}));
  ui->chkRepeatTrack->setChecked(true);
  EXPECT_EQ(ui->Repeat_Track_No, 0);  // no track known: it waits for one
  // The same disc back at the very position the last refresh saw: its texts return.
  sim->closeTray();
  Refresh();
  EXPECT_TRUE(ui->spdPlay->isEnabled());
  EXPECT_NE(ui->PanelDisplay->text(), "Drive Not Ready!!");
  Tick();
  main->Play_Or_Stop();
  Tick(160);  // 32 s
  EXPECT_EQ(Track(), 1);
  ClickRow(3);
  Tick(160);
  EXPECT_TRUE(Track() == 3 && sim->positionLsn() < Lsn(3, 2));
  main->Next_Track();
  EXPECT_EQ(Track(), 4);
  Tick();
  EXPECT_EQ(Track(), 3);

  for (const auto& [disc, track, playing, endsOn] : std::vector<std::tuple<bool, bool, bool, int>>{
           {false, false, false, 1}, {true, false, true, 1}, {true, true, true, 10}}) {
    ui->chkRepeatDisc->setChecked(disc);
    ui->chkRepeatTrack->setChecked(track);
    ClickRow(10);
    if (!sim->isPlaying()) main->Play_Or_Stop();
    Tick(160);  // past the end of the last track
    Refresh();
    EXPECT_TRUE(sim->isPlaying() == playing && Track() == endsOn && Row() == endsOn) << endsOn;
    ExpectPlayState(playing);
  }

  ClickRow(9);
  main->Eject_Disc();
  EXPECT_TRUE(sim->isTrayOpen());
  ExpectPlayState(false);  // stopped first
  Refresh();
  sim->insertDisc(SimulatedDriver::MakeDisc({31, 31}));
  Refresh();
  Tick();
  EXPECT_EQ(ui->Repeat_Track_No, 1);
  main->Play_Or_Stop();
  Tick(20);
  EXPECT_GT(sim->positionLsn(), Lsn(1, 3));  // plays on rather than restarting every tick
}

TEST_F(MainWindowTest, ClosingEndsTheProgramErrorsAreReportedAndOnlyAFailedOpenEndsIt) {
  Load();
  windows->SeeThrough->show();
  QApplication::setQuitOnLastWindowClosed(false);
  QTimer::singleShot(0, main, [this] { main->close(); });
  QTimer::singleShot(10000, main, [] { QCoreApplication::exit(2); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  sim->clearLog();
  windows.reset();
  EXPECT_EQ(sim->log().at(0).command, MCI_CLOSE);

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

TEST(ErrorReport, RecurringErrorShowsOneBoxAtATime) {
  QTimer tick;
  tick.callOnTimeout([] { Application::Guarded([] { throw std::runtime_error("drive gone"); }); });
  tick.start(10);
  qsizetype boxes = 0;
  QTimer::singleShot(300, [&] {
    tick.stop();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
        ++boxes, box->reject();
  });
  testing::internal::CaptureStderr();
  Application::Instance()->Show_Error("drive gone");
  EXPECT_EQ(boxes, 1);
  EXPECT_GE(QString::fromStdString(testing::internal::GetCapturedStderr()).count("drive gone."), 2);
}

TEST(AboutBox, EnterEscapeAndOkEndItWithOk) {
  TAboutBox box;
  EXPECT_FALSE(box.findChild<QLabel*>()->pixmap().isNull());
  for (int key : {int{Qt::Key_Escape}, int{Qt::Key_Return}, 0}) {
    box.setResult(QDialog::Rejected);
    box.open();
    key ? QTest::keyClick(&box, Qt::Key(key))
        : QTest::mouseClick(box.findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_TRUE(!box.isVisible() && box.result() == QDialog::Accepted) << key;
  }
}

}  // namespace
