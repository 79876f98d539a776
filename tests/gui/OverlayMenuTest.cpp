// The see-through window's pop-up menu: the marks it renews as it opens, and each command ending
// exactly where the main window's own control would.
#include "PlayerFixture.h"

#include <cstdio>
#include <tuple>

#include <QCheckBox>
#include <QMenu>

#include "settings/PlayerSettings.h"

namespace {

class OverlayMenuTest : public PlayerFixture {
 protected:
  OverlayMenuTest() : PlayerFixture({60, 60, 60, 60}) {}

  // A fresh drive playing track 2 for four seconds, the main window up, on the settings of a first
  // start.
  void Start() {
    windows.reset();
    std::remove(Settings_File_Path().c_str());
    sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({60, 60, 60, 60}));
    Load();
    main->spdNextClick();
    main->spdPlayClick();
    Tick(20);
  }

  // Everything a command may change.
  auto Outcome() {
    Refresh();
    return std::tuple(sim->isPlaying(), sim->isTrayOpen(), sim->positionLsn(), Track(), Row(),
                      windows->SeeThrough->pupPlay->text(), main->chkRepeatDisc->isChecked(),
                      main->chkRepeatTrack->isChecked(), PlayerSettings.MainForm,
                      main->isVisible());
  }
};

TEST_F(OverlayMenuTest, ItemsActAsTheMainWindowsControlsAndMarksAreRenewedOnOpening) {
  Start();
  TfrmSeeThrough& overlay = *windows->SeeThrough;
  // The marks follow what changed elsewhere since the menu last opened.
  overlay.show();
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  for (const bool on : {true, false}) {
    main->chkRepeatDisc->setChecked(on);
    PlayerSettings.MainForm = on;
    QTest::mouseRelease(&overlay, Qt::RightButton, {}, QPoint(100, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return overlay.PopupMenu->isVisible(); }, 2000));
    EXPECT_EQ(overlay.pupRepeadDisc->isChecked(), on);
    EXPECT_EQ(overlay.pupViewMain->isChecked(), on);
    overlay.PopupMenu->close();
  }

  const struct {
    const char* item;
    std::function<void(TfrmMain&)> control;
    QAction* TfrmSeeThrough::*action;
  } cases[] = {
      {"Play", [](TfrmMain& m) { m.spdPlay->click(); }, &TfrmSeeThrough::pupPlay},
      {"Next", [](TfrmMain& m) { m.spdNext->click(); }, &TfrmSeeThrough::pupNext},
      {"Previous", [](TfrmMain& m) { m.spdRewind->click(); }, &TfrmSeeThrough::pupPrevious},
      {"Eject CD", [](TfrmMain& m) { m.spdEject->click(); }, &TfrmSeeThrough::pupEject},
      {"Repeat Disc", [](TfrmMain& m) { m.chkRepeatDisc->click(); },
       &TfrmSeeThrough::pupRepeadDisc},
  };
  for (const auto& c : cases) {
    Start();
    const auto before = Outcome();
    c.control(*main);
    const auto byControl = Outcome();
    Start();
    Outcome();
    (windows->SeeThrough.get()->*c.action)->trigger();
    EXPECT_EQ(Outcome(), byControl) << c.item;
    EXPECT_NE(byControl, before) << c.item;
  }

  // Disp Control goes by its mark: hide and clear, then show and set.
  Start();
  PlayerSettings.MainForm = true;
  windows->SeeThrough->PopupMenuPopup();
  for (const bool shown : {false, true}) {
    windows->SeeThrough->pupViewMain->trigger();
    EXPECT_EQ(PlayerSettings.MainForm, shown);
    EXPECT_EQ(main->isVisible(), shown);
    EXPECT_EQ(windows->SeeThrough->pupViewMain->isChecked(), shown);
  }
}

}  // namespace
