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
    ui->spdNextClick();
    ui->spdPlayClick();
    Tick(20);
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
  Start();
  TfrmSeeThrough& overlay = *windows->SeeThrough;
  SeeThroughProbe menu{overlay};
  // The marks follow what changed elsewhere since the menu last opened.
  overlay.show();
  ASSERT_TRUE(QTest::qWaitFor([] { return SeeThrough_Unit_State().Background_Ready; }, 5000));
  for (const bool on : {true, false}) {
    ui->chkRepeatDisc->setChecked(on);
    PlayerSettings.MainForm = on;
    QTest::mouseRelease(&overlay, Qt::RightButton, {}, QPoint(100, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu.PopupMenu->isVisible(); }, 2000));
    EXPECT_EQ(menu.pupRepeadDisc->isChecked(), on);
    EXPECT_EQ(menu.pupViewMain->isChecked(), on);
    menu.PopupMenu->close();
  }

  const struct {
    const char* item;
    std::function<void(MainProbe&)> control;
    std::function<QAction*(SeeThroughProbe&)> action;
  } cases[] = {
      {"Play", [](MainProbe& m) { m.spdPlay->click(); },
       [](SeeThroughProbe& s) { return s.pupPlay; }},
      {"Next", [](MainProbe& m) { m.spdNext->click(); },
       [](SeeThroughProbe& s) { return s.pupNext; }},
      {"Previous", [](MainProbe& m) { m.spdRewind->click(); },
       [](SeeThroughProbe& s) { return s.pupPrevious; }},
      {"Eject CD", [](MainProbe& m) { m.spdEject->click(); },
       [](SeeThroughProbe& s) { return s.pupEject; }},
      {"Repeat Disc", [](MainProbe& m) { m.chkRepeatDisc->click(); },
       [](SeeThroughProbe& s) { return s.pupRepeadDisc; }},
  };
  for (const auto& c : cases) {
    Start();
    const auto before = Outcome();
    c.control(*ui);
    const auto byControl = Outcome();
    Start();
    Outcome();
    SeeThroughProbe probe{*windows->SeeThrough};
    c.action(probe)->trigger();
    EXPECT_EQ(Outcome(), byControl) << c.item;
    EXPECT_NE(byControl, before) << c.item;
  }

  // Disp Control goes by its mark: hide and clear, then show and set.
  Start();
  PlayerSettings.MainForm = true;
  SeeThroughProbe st{*windows->SeeThrough};
  st.PopupMenuPopup();
  for (const bool shown : {false, true}) {
    st.pupViewMain->trigger();
    EXPECT_EQ(PlayerSettings.MainForm, shown);
    EXPECT_EQ(main->isVisible(), shown);
    EXPECT_EQ(st.pupViewMain->isChecked(), shown);
  }
}

}  // namespace
