// The see-through window's pop-up menu: the marks it renews as it opens, and each command ending
// exactly where the main window's own control would.
#include <cstdio>
#include <tuple>

#include <QCheckBox>
#include <QMenu>

#include "PlayerFixture.h"
#include "settings/PlayerSettings.h"

namespace {

class OverlayMenuTest : public PlayerFixture {
 protected:
  OverlayMenuTest() : PlayerFixture({60, 60, 60, 60}) {}

  // A fresh drive playing track 2 for four seconds, the main window up, on the settings of a first
  // start.
  SeeThroughProbe Start() {
    windows.reset();
    std::remove(Settings_File_Path().c_str());
    sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({60, 60, 60, 60}));
    Load();
    ui->spdNextClick();
    ui->spdPlayClick();
    Tick(20);
    return SeeThroughProbe{*windows->SeeThrough};
  }
  // Everything a command may change.
  auto Outcome() {
    Refresh();
    return std::tuple(sim->isPlaying(), sim->isTrayOpen(), sim->positionLsn(), Track(), Row(),
                      SeeThroughProbe{*windows->SeeThrough}.pupPlay->text(),
                      ui->chkRepeatDisc->isChecked(), ui->chkRepeatTrack->isChecked(),
                      PlayerSettings.MainForm, main->isVisible());
  }
};

TEST_F(OverlayMenuTest, ItemsActAsTheMainWindowsControlsAndMarksAreRenewedOnOpening) {
  SeeThroughProbe menu = Start();
  // The marks follow what changed elsewhere since the menu last opened.
  menu.w.show();
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  for (const bool on : {true, false}) {
    ui->chkRepeatDisc->setChecked(on);
    PlayerSettings.MainForm = on;
    QTest::mouseRelease(&menu.w, Qt::RightButton, {}, QPoint(100, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu.PopupMenu->isVisible(); }, 2000));
    EXPECT_EQ(menu.pupRepeadDisc->isChecked(), on);
    EXPECT_EQ(menu.pupViewMain->isChecked(), on);
    menu.PopupMenu->close();
  }

  // Play, Next, Previous, Eject CD and Repeat Disc, each against its control.
  for (int i = 0; i < 5; ++i) {
    Start();
    const auto before = Outcome();
    QList<QAbstractButton*>{ui->spdPlay, ui->spdNext, ui->spdRewind, ui->spdEject,
                            ui->chkRepeatDisc}[i]
        ->click();
    const auto byControl = Outcome();
    SeeThroughProbe items = Start();
    Outcome();
    QList{items.pupPlay, items.pupNext, items.pupPrevious, items.pupEject, items.pupRepeadDisc}[i]
        ->trigger();
    EXPECT_EQ(Outcome(), byControl) << i;
    EXPECT_NE(byControl, before) << i;
  }

  // Disp Control goes by its mark: hide and clear, then show and set.
  SeeThroughProbe view = Start();
  PlayerSettings.MainForm = true;
  view.PopupMenuPopup();
  for (const bool shown : {false, true}) {
    view.pupViewMain->trigger();
    EXPECT_EQ(PlayerSettings.MainForm, shown);
    EXPECT_EQ(main->isVisible(), shown);
    EXPECT_EQ(view.pupViewMain->isChecked(), shown);
  }
}

}  // namespace
