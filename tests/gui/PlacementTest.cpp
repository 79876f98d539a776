// Heights in outer pixels: the offscreen platform draws a frame two pixels wide.

#include "PlayerFixture.h"
#include "settings/Winplace.h"

namespace {

class PlacementTest : public PlayerFixture {
 protected:
  PlacementTest() : PlayerFixture({40, 40}) {}
  void Start(const std::string& file) {
    windows.reset();  // which saves
    Put(Settings_File_Path(), file);
    Build();
  }
  int Outer() const { return main->frameGeometry().height(); }
  int Frame() const { return main->frameGeometry().height() - main->height(); }
  void Click() { QTest::mouseClick(ui->PanelDisplay, Qt::LeftButton); }
};

TEST_F(PlacementTest, HeightsFollowTheModeAndOptionOkAndTheOverlayNeverStaysMinimisedOrOff) {
  const int frame = 4;
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  for (const auto& [file, outer, tall] : std::vector<std::tuple<const char*, int, bool>>{
           {"[Window]\r\nTallHeight=100\r\n", frame + 188, true},  // raised to the tall minimum
           {"[Window]\r\nTallHeight=-5\r\n", frame + 188, true},
           {"[Window]\r\nTallHeight=2147483647\r\n[Disp]\r\nFontSize=2147483647\r\n",
            screen.height(), true},
           {"[Window]\r\nPlayerMode=0\r\n[Disp]\r\nFontSize=2147483647\r\n", frame + 74, false}}) {
    SCOPED_TRACE(file);
    Start(file);
    ASSERT_EQ(Frame(), frame);
    EXPECT_EQ(Outer(), outer);
    EXPECT_EQ(PlayerSettings.PlayerMode, tall);
    if (tall) {
      EXPECT_EQ(PlayerSettings.TallHeight, Outer());
      EXPECT_LE(ui->PanelControl->geometry().bottom(), main->height());  // controls in reach
    }
  }
  Start("[Window]\r\nTallHeight=500\r\n");
  EXPECT_EQ(Outer(), 500);
  Click();  // and a double click, which is one click: one switch in all
  QTest::mouseDClick(ui->PanelDisplay, Qt::LeftButton);
  QTest::mouseRelease(ui->PanelDisplay, Qt::LeftButton);
  EXPECT_EQ(Outer(), Frame() + 12 + 20);
  main->resize(420, 300);  // a drag in compact mode: only the width follows
  EXPECT_EQ(main->size(), QSize(420, 32));
  Click();
  EXPECT_EQ(Outer(), 500);
  main->resize(420, 600 - Frame());
  Click();
  Build();
  EXPECT_FALSE(PlayerSettings.PlayerMode);
  EXPECT_EQ(Outer(), Frame() + 32);
  Click();
  EXPECT_EQ(Outer(), 600);
  EXPECT_EQ(main->width(), 420);

  // The overlay is the control surface while the main window is hidden: it never stays minimised.
  for (const char* size :
       {"Right=5001\r\nPlaceNormalPos.Bottom=5001", "Right=0\r\nPlaceNormalPos.Bottom=-9"}) {
    SCOPED_TRACE(size);
    Start(std::string("[Disp]\r\nFontSize=2147483647\r\n[SHWindow]\r\nPlaceShowCmd=2\r\n") +
          "PlaceNormalPos.Left=5000\r\nPlaceNormalPos.Top=5000\r\nPlaceNormalPos." + size + "\r\n");
    TfrmSeeThrough& overlay = *windows->SeeThrough;
    EXPECT_TRUE(overlay.isVisible() && !overlay.isMinimized());
    EXPECT_EQ(overlay.frameGeometry(),
              QRect(screen.bottomRight() - QPoint(255, 47), QSize(256, 48)));
    for (bool byMain : {true, false}) {
      overlay.showMinimized();
      if (byMain) {
        main->showMinimized();
        main->showNormal();
      } else {
        Answer(windows->Option.get(), [this] { OptionProbe{*windows->Option}.btnOK->click(); });
        ui->spdOption->click();
      }
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return !overlay.isMinimized() && overlay.isVisible(); }, 2000));
    }
    EXPECT_EQ(ui->PanelDisplay->height(), 54 + 20);
    EXPECT_LE(ui->PanelControl->geometry().bottom(), main->height());
    EXPECT_NE(Bytes(Settings_File_Path()).find("FontSize=54\r\n"), std::string::npos);
  }
}

TEST(UsableNormalRect, SizesAreClampedAndARectOffEveryScreenMovesOntoTheNearest) {
  const std::vector<QRect> screens = {QRect(0, 0, 1280, 1024), QRect(1280, 0, 800, 600)};
  for (const auto& [stored, shown] : std::vector<std::pair<TWindowPlacement, QRect>>{
           {{.left = -100, .top = 1000, .right = 252, .bottom = 1450}, QRect(-100, 1000, 352, 450)},
           {{.left = 5000, .top = 5000, .right = 5256, .bottom = 5048}, QRect(1824, 552, 256, 48)},
           {{.left = 1500, .top = 900, .right = 1600, .bottom = 1000}, QRect(1180, 900, 100, 100)},
           {{.left = -3000, .top = -3000, .right = -2000, .bottom = -2500}, QRect(0, 0, 1000, 500)},
           {{.left = 10, .top = 10, .right = 5, .bottom = 10}, QRect(10, 10, 1, 1)},
           {{.left = INT32_MIN, .top = 5, .right = INT32_MAX, .bottom = INT32_MAX},
            QRect(0, 0, 2080, 1024)}})
    EXPECT_EQ(Usable_Normal_Rect(stored, screens), shown) << stored.left << "," << stored.top;
}

}  // namespace
