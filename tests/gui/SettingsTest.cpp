// The settings in the running player: read at creation, the Option exchange, and the exit keys.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iterator>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/Application.h"
#include "app/Startup.h"
#include "app/Umain.h"
#include "device/SimulatedDriver.h"
#include "support/SharedDriver.h"
#include "overlay/Usthrou.h"
#include "settings/PlayerSettings.h"
#include "settings/Uoption.h"

using namespace std::chrono_literals;

namespace {

const std::string kGothic = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";
const std::string kMincho = "\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9";  // ＭＳ 明朝

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousPath_ = Settings_File_Path();
    path = QFile::encodeName(dir_.filePath("ZarnCD.ini")).toStdString();
    Set_Settings_File_Override(path);
    sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({40, 40, 40}));
    Application::Instance()->Set_Error_Reporter(
        [this](const QString&, QMessageBox::Icon, const QString& t) { reports.push_back(t); });
  }
  void TearDown() override {
    windows.reset();
    Application::Instance()->Set_Error_Reporter(nullptr);
    Set_Settings_File_Override(previousPath_);
  }

  void Build() {
    windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim), /*runClock=*/false);
    main = windows->Main.get();
    option = windows->Option.get();
    seeThrough = windows->SeeThrough.get();
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
  }
  void Refresh() {
    for (int i = 0; i < 6; ++i) {
      sim->advance(200ms);
      main->TimerTimer();
    }
  }
  // Presses the Option button; `answer` runs inside the dialog's modal loop and must end it.
  void Run_Option(std::function<void()> answer) {
    QTimer::singleShot(0, option, [this, answer] {
      ASSERT_TRUE(option->isVisible());
      answer();
      if (option->isVisible()) {
        ADD_FAILURE() << "the Option dialog was left open";
        option->reject();
      }
    });
    main->spdOption->click();
    EXPECT_FALSE(option->isVisible());
  }

  std::string path;
  std::shared_ptr<SimulatedDriver> sim;
  std::unique_ptr<PlayerWindows> windows;
  TfrmMain* main = nullptr;
  TfrmOption* option = nullptr;
  TfrmSeeThrough* seeThrough = nullptr;
  std::vector<QString> reports;

 private:
  QTemporaryDir dir_;
  std::string previousPath_;
};

QColor Text_Color(const QWidget* w) {
  return w->palette().color(QPalette::WindowText);
}
QColor Back_Color(const QWidget* w) {
  return w->palette().color(QPalette::Window);
}

TEST_F(SettingsTest, FirstStartWithoutAFileShowsTheDesignedLook) {
  Build();
  const QFont font = main->PanelDisplay->font();
  EXPECT_EQ(font.family(), "ＭＳ ゴシック");
  EXPECT_EQ(font.pixelSize(), 16);  // 12 points
  EXPECT_TRUE(font.bold());
  EXPECT_EQ(Text_Color(main->PanelDisplay), QColor(0, 128, 0));
  EXPECT_EQ(Back_Color(main->PanelDisplay), QColor(Qt::black));
  EXPECT_FALSE(main->chkRepeatDisc->isChecked() || main->chkRepeatTrack->isChecked());
  EXPECT_TRUE(seeThrough->isVisible());
  EXPECT_EQ(seeThrough->fontTime.color, QColor(255, 255, 0));
  EXPECT_EQ(seeThrough->fontTrackTitle.color, QColor(255, 255, 0));
  EXPECT_EQ(seeThrough->fontTrackTitle.font, font);
  // The stored name reaches an installed Japanese face that has half-width katakana.
  const QFontMetrics metrics(font);
  EXPECT_TRUE(metrics.inFont(QChar(0xFF71)));  // ｱ
  EXPECT_TRUE(metrics.inFont(QChar(0x65B0)));  // 新
  EXPECT_NE(QFontInfo(font).family(), "ＭＳ ゴシック");
  // Reading wrote nothing.
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
}

TEST_F(SettingsTest, StoredValuesReachThePanelTheBoxesAndTheSeeThroughWindow) {
  Write(path, "[Disp]\r\nFontSize=0x10\r\nFontColor=255\r\nFontName=" + kMincho +
                  "\r\nPanelColor=8388608\r\n[Play]\r\nRepeatDisk=1\r\nRepeatTrack=1\r\n"
                  "[SeeThrough]\r\nFontColor=16711680\r\nUse=0\r\n[Window]\r\nTrackNo=1\r\n"
                  "CDTitle=0\r\nTrackTitle=0\r\n");
  sim->setPosition(40 * 75);  // track 2
  Build();
  const QFont font = main->PanelDisplay->font();
  EXPECT_EQ(font.family(), "ＭＳ 明朝");
  EXPECT_EQ(font.pixelSize(), 21);  // 16 points
  EXPECT_TRUE(font.bold());         // the style is not stored
  EXPECT_EQ(Text_Color(main->PanelDisplay), QColor(255, 0, 0));
  EXPECT_EQ(Back_Color(main->PanelDisplay), QColor(0, 0, 128));
  EXPECT_EQ(main->PanelDisplay->height(), 32);  // the height changes only in the Option exchange
  EXPECT_TRUE(main->chkRepeatDisc->isChecked());
  EXPECT_TRUE(main->chkRepeatTrack->isChecked());
  EXPECT_EQ(main->Repeat_Track_No, 2);  // checking the box remembered the current track
  EXPECT_FALSE(seeThrough->isVisible());
  EXPECT_EQ(seeThrough->fontTime.color, QColor(0, 0, 255));
  Refresh();
  EXPECT_TRUE(main->PanelDisplay->text().contains("Track1"))
      << main->PanelDisplay->text().toStdString();
}

TEST_F(SettingsTest, CancelChangesNothingAndTouchesNoFile) {
  Build();
  Refresh();
  const QFont before = main->PanelDisplay->font();
  const TPlayerSettings settings = PlayerSettings;
  Run_Option([&] {
    EXPECT_TRUE(option->chkUseST->isChecked());  // the see-through window is visible
    EXPECT_TRUE(option->chkWinCDTitle->isChecked());
    EXPECT_EQ(option->Example_Font(), before);
    QFont other = before;
    other.setPixelSize(40);
    option->Set_Example(other, Qt::red, Qt::white);
    option->Set_Example_ST_Color(Qt::blue);
    option->chkWinCDTitle->setChecked(false);
    option->chkUseST->setChecked(false);
    option->btnCancel->click();
  });
  EXPECT_TRUE(reports.empty());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
  EXPECT_EQ(main->PanelDisplay->font(), before);
  EXPECT_EQ(Back_Color(main->PanelDisplay), QColor(Qt::black));
  EXPECT_TRUE(PlayerSettings.Window_CDTitle);
  EXPECT_EQ(PlayerSettings.SeeThrough_Font_Color, settings.SeeThrough_Font_Color);
  EXPECT_TRUE(seeThrough->isVisible());
  EXPECT_FALSE(Main_Unit_State().Refresh_Pending);

  // The next opening shows the display's font again, not the one tried.
  Run_Option([&] {
    EXPECT_EQ(option->Example_Font(), before);
    EXPECT_EQ(option->Example_Color(), QColor(Qt::black));
    EXPECT_EQ(option->Example_ST_Color(), QColor(255, 255, 0));
    EXPECT_TRUE(option->chkWinCDTitle->isChecked());
    option->reject();
  });
}

TEST_F(SettingsTest, OkWritesTheOptionKeysOnlyAndAppliesThem) {
  // Keys of the placement and of the exit, and a stranger, must survive untouched.
  const std::string others =
      "; mine\r\n[Window]\r\nPlaceLeft=9\r\nTallHeight=500\r\n[Play]\r\nRepeatDisk=1\r\n";
  Write(path, others);
  Build();
  Refresh();
  Run_Option([&] {
    option->chkWinCDTitle->setChecked(false);
    option->chkWinTrackNum->setChecked(true);
    option->chkIconArtist->setChecked(true);
    option->chkBarTime->setChecked(true);
    QFont font = option->Example_Font();
    font.setPixelSize(24);  // 18 points
    font.setBold(false);
    option->Set_Example(font, QColor(0, 255, 255), QColor(16, 32, 48));
    option->Set_Example_ST_Color(QColor(255, 128, 0));
    option->chkUseST->setChecked(false);
    option->btnOK->click();
  });
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(Read(path),
            "; mine\r\n"
            "[Window]\r\nPlaceLeft=9\r\nTallHeight=500\r\n"
            "TrackNo=1\r\nTime=0\r\nArtist=0\r\nCDTitle=0\r\nTrackTitle=1\r\n"
            "[Play]\r\nRepeatDisk=1\r\n"
            "[Title_Bar]\r\nTrackNo=0\r\nTime=1\r\nArtist=1\r\nCDTitle=1\r\n"
            "TrackTitle=0\r\n"
            "[Disp]\r\nFontSize=18\r\nFontColor=16776960\r\nFontName=" +
                kGothic +
                "\r\nPanelColor=3153936\r\n"
                "[Icon]\r\nTrackNo=1\r\nTime=0\r\nArtist=1\r\nCDTitle=0\r\n"
                "TrackTitle=1\r\n"
                "[SeeThrough]\r\nFontColor=33023\r\nUse=0\r\n");

  EXPECT_TRUE(PlayerSettings.Window_TrackNo && PlayerSettings.Icon_Artist);
  EXPECT_FALSE(PlayerSettings.SeeThrough_Use);
  EXPECT_EQ(PlayerSettings.SeeThrough_Font_Color, 0x0080FFu);
  const QFont font = main->PanelDisplay->font();
  EXPECT_EQ(font.pixelSize(), 24);
  EXPECT_FALSE(font.bold());
  EXPECT_EQ(main->PanelDisplay->height(), 38);
  EXPECT_EQ(main->PanelControl->y(), 38);
  EXPECT_EQ(Text_Color(main->PanelDisplay), QColor(0, 255, 255));
  EXPECT_EQ(Back_Color(main->PanelDisplay), QColor(16, 32, 48));
  EXPECT_FALSE(seeThrough->isVisible());
  EXPECT_EQ(seeThrough->fontTime.color, QColor(255, 128, 0));
  EXPECT_EQ(seeThrough->fontTrackTitle.font, font);
  EXPECT_EQ(seeThrough->fontTrackTitle.color, QColor(255, 128, 0));
  EXPECT_TRUE(Main_Unit_State().Refresh_Pending);
  main->Disp_Info();
  EXPECT_TRUE(main->PanelDisplay->text().contains("Track1"))
      << main->PanelDisplay->text().toStdString();

  // Showing the main window again keeps the chosen colour; the dialog now starts unchecked.
  PlayerSettings.SeeThrough_Use = true;
  main->hide();
  main->show();
  EXPECT_EQ(seeThrough->fontTime.color, QColor(255, 128, 0));
  seeThrough->hide();
  Run_Option([&] {
    EXPECT_FALSE(option->chkUseST->isChecked());
    EXPECT_EQ(option->Example_ST_Color(), QColor(255, 128, 0));
    option->reject();
  });
}

TEST_F(SettingsTest, FailedOkWriteIsReportedAndAppliesNothingFurther) {
  Build();
  Refresh();
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);  // cannot be replaced by a file, even by root
  const QFont before = main->PanelDisplay->font();
  Run_Option([&] {
    option->chkWinTime->setChecked(true);
    QFont font = option->Example_Font();
    font.setPixelSize(40);
    option->Set_Example(font, Qt::red, Qt::white);
    option->Set_Example_ST_Color(Qt::blue);
    option->chkUseST->setChecked(false);
    option->accept();
  });
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], QString::fromStdString(path) + " に書き込めません.");
  // The flags were taken before the writes; nothing after the failed write was applied.
  EXPECT_TRUE(PlayerSettings.Window_Time);
  EXPECT_FALSE(PlayerSettings.SeeThrough_Use);
  EXPECT_EQ(main->PanelDisplay->font(), before);
  EXPECT_EQ(Back_Color(main->PanelDisplay), QColor(Qt::black));
  EXPECT_EQ(seeThrough->fontTime.color, QColor(255, 255, 0));
  EXPECT_TRUE(seeThrough->isVisible());
  EXPECT_FALSE(Main_Unit_State().Refresh_Pending);
  ::rmdir(path.c_str());
}

TEST_F(SettingsTest, ExitWritesTheFiveExitKeys) {
  Build();
  main->chkRepeatDisc->setChecked(true);
  PlayerSettings.TallHeight = 600;
  PlayerSettings.PlayerMode = false;
  windows.reset();
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(Read(path),
            "[Play]\r\nRepeatDisk=1\r\nRepeatTrack=0\r\n"
            "[Window]\r\nTallHeight=600\r\nMainForm=1\r\nPlayerMode=0\r\n");

  // The next start takes them up; a failed write at exit is reported before the end.
  Build();
  EXPECT_TRUE(main->chkRepeatDisc->isChecked());
  EXPECT_EQ(PlayerSettings.TallHeight, 600);
  EXPECT_FALSE(PlayerSettings.PlayerMode);
  ASSERT_EQ(::unlink(path.c_str()), 0);
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  windows.reset();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].endsWith(" に書き込めません."));
  ::rmdir(path.c_str());
}

}  // namespace
