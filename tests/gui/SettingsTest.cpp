// The settings in the running player, and the Option dialog on its own.
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QGroupBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPushButton>

#include "PlayerFixture.h"
#include "settings/PlayerSettings.h"

namespace {

const std::string kMincho = "\x82\x6C\x82\x72\x20\x96\xBE\x92\xA9";  // ＭＳ 明朝

struct SettingsTest : PlayerFixture {
  SettingsTest() : PlayerFixture({40, 40, 40}) {}
  TfrmSeeThrough* ST() const { return windows->SeeThrough.get(); }
  void Run_Option(const std::function<void(OptionProbe)>& answer) {
    TfrmOption* option = windows->Option.get();
    Answer(option, [option, answer] { answer(OptionProbe{*option}); });
    ui->spdOption->click();
  }
  static void Try_Other_Look(OptionProbe o) {
    QFont font = o.w.Example_Font();
    font.setPixelSize(40);
    o.w.Set_Example(font, Qt::red, Qt::white);
    o.w.Set_Example_ST_Color(Qt::blue);
    o.chkUseST->setChecked(false);
  }
  void Expect_Look(const QFont& font, QColor text, QColor back, QColor st, bool stVisible) {
    const QPalette panel = ui->PanelDisplay->palette();
    const SeeThroughProbe see{*ST()};
    EXPECT_EQ(ui->PanelDisplay->font(), font);
    EXPECT_EQ(see.fontTrackTitle.font, font);
    EXPECT_EQ(QList({panel.color(QPalette::WindowText), panel.color(QPalette::Window),
                     see.fontTime.color, see.fontTrackTitle.color}),
              QList({text, back, st, st}));
    // A capture under way ends first: it has the window off the screen for a moment.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !ST()->Capturing(); }, 5000));
    EXPECT_EQ(ST()->isVisible(), stVisible);
  }
  // A directory where the file should be: not even root can write it.
  void Block_File() {
    std::filesystem::remove(path);
    ASSERT_TRUE(std::filesystem::create_directory(path));
  }
  void Expect_Failed_Writes(size_t count) {
    std::filesystem::remove(path);
    ASSERT_EQ(reports.size(), count);
    for (const Report& r : reports)
      EXPECT_EQ(r.text, QString::fromStdString(path) + " に書き込めません.");
    reports.clear();
  }

  const std::string path = Settings_File_Path();
};

// OK keeps the stored spelling of a colour nobody changed: system colours, as Delphi 3 stored
// clWindowText on clWindow and clHighlight, show as the palette.
TEST_F(SettingsTest, CancelChangesNothingAndOkWritesTheOptionKeysOnly) {
  const std::string mine =
      "; mine\r\n[Window]\r\nPlaceLeft=9\r\nTallHeight=500\r\n[Play]\r\nRepeatDisk=1\r\n"
      "[Disp]\r\nFontColor=-2147483640\r\nPanelColor=-2147483643\r\n"
      "[SeeThrough]\r\nFontColor=0x8000000D\r\n";
  Put(path, mine);
  Load();
  const QFont font = ui->PanelDisplay->font();
  // The stored name reaches an installed Japanese face that has half-width katakana.
  EXPECT_TRUE(QFontMetrics(font).inFont(u'ｱ') && QFontMetrics(font).inFont(u'新'));
  EXPECT_NE(QFontInfo(font).family(), "ＭＳ ゴシック");
  auto sys = [](auto role) { return QGuiApplication::palette().color(QPalette::Active, role); };
  const QColor text = sys(QPalette::Text), base = sys(QPalette::Base);
  const QColor highlight = sys(QPalette::Highlight);
  for (int opening : {1, 2}) {  // the second shows the display's values again, not those tried
    Run_Option([&](OptionProbe o) {
      EXPECT_EQ(o.w.Example_Font(), font);
      EXPECT_EQ(QList({o.w.Example_Font_Color(), o.w.Example_Color(), o.w.Example_ST_Color()}),
                QList({text, base, highlight}));
      EXPECT_TRUE(o.chkWinCDTitle->isChecked());
      Try_Other_Look(o);
      o.chkWinCDTitle->setChecked(false);
      opening == 1 ? o.btnCancel->click() : o.w.reject();
    });
  }
  EXPECT_EQ(Bytes(path), mine);
  Expect_Look(font, text, base, highlight, true);
  EXPECT_TRUE(PlayerSettings.Window_CDTitle);
  EXPECT_FALSE(ui->State.Refresh_Pending);

  // The flags are taken before the writes; nothing after the failed write is applied.
  Block_File();
  Run_Option([&](OptionProbe o) {
    Try_Other_Look(o);
    o.chkWinTime->setChecked(true);
    o.w.accept();
  });
  Expect_Failed_Writes(1);
  EXPECT_TRUE(PlayerSettings.Window_Time);
  EXPECT_FALSE(PlayerSettings.SeeThrough_Use);
  Expect_Look(font, text, base, highlight, true);
  EXPECT_FALSE(ui->State.Refresh_Pending);

  Put(path, mine);
  QFont chosen = font;
  chosen.setPixelSize(24);  // 18 points
  chosen.setBold(false);
  Run_Option([&](OptionProbe o) {
    o.chkWinCDTitle->setChecked(false);
    for (QCheckBox* b : {o.chkWinTrackNum, o.chkIconArtist, o.chkBarTime}) b->setChecked(true);
    o.w.Set_Example(chosen, o.w.Example_Font_Color(), QColor(16, 32, 48));
    o.w.Set_Example_ST_Color(QColor(255, 128, 0));
    o.chkUseST->setChecked(false);
    o.btnOK->click();
  });
  EXPECT_EQ(Bytes(path),
            "; mine\r\n[Window]\r\nPlaceLeft=9\r\nTallHeight=500\r\n"
            "TrackNo=1\r\nTime=1\r\nArtist=0\r\nCDTitle=0\r\nTrackTitle=1\r\n"
            "[Play]\r\nRepeatDisk=1\r\n"
            "[Disp]\r\nFontColor=-2147483640\r\nPanelColor=3153936\r\nFontSize=18\r\nFontName=" +
                disp_default::FontNameBytes + "\r\n[SeeThrough]\r\nFontColor=33023\r\nUse=0\r\n" +
                "[Title_Bar]\r\nTrackNo=0\r\nTime=1\r\nArtist=1\r\nCDTitle=1\r\nTrackTitle=0\r\n"
                "[Icon]\r\nTrackNo=1\r\nTime=0\r\nArtist=1\r\nCDTitle=0\r\nTrackTitle=1\r\n");
  Expect_Look(chosen, text, QColor(16, 32, 48), QColor(255, 128, 0), false);
  EXPECT_TRUE(ui->State.Refresh_Pending);
  main->Disp_Info();
  EXPECT_TRUE(ui->PanelDisplay->text().contains("Track1"));

  // Showing the main window again keeps the chosen colour; the dialog now starts unchecked.
  PlayerSettings.SeeThrough_Use = true;
  main->hide(), main->show();
  EXPECT_EQ(SeeThroughProbe{*ST()}.fontTime.color, QColor(255, 128, 0));
  ST()->hide();
  Run_Option([&](OptionProbe o) {
    EXPECT_FALSE(o.chkUseST->isChecked());
    o.w.reject();
  });
}

// Stored values reach the panel, the boxes and the see-through window; a negative colour that
// names no system colour would show black, hiding the texts, and reads as the key's default.
TEST_F(SettingsTest, StoredValuesReachThePanelTheBoxesAndTheSeeThroughWindow) {
  const std::tuple<std::string, QColor, QColor, QColor, bool> cases[] = {
      {"[Disp]\r\nFontColor=-1\r\nPanelColor=-5\r\n[SeeThrough]\r\nFontColor=0x80000019\r\n",
       QColor(0, 128, 0), Qt::black, QColor(255, 255, 0), true},
      {"[Disp]\r\nFontSize=0x10\r\nFontColor=255\r\nFontName=" + kMincho +
           "\r\nPanelColor=8388608\r\n[Play]\r\nRepeatDisk=1\r\nRepeatTrack=1\r\n"
           "[SeeThrough]\r\nFontColor=16711680\r\nUse=0\r\n[Window]\r\nTrackNo=1\r\n"
           "CDTitle=0\r\nTrackTitle=0\r\n",
       QColor(255, 0, 0), QColor(0, 0, 128), QColor(0, 0, 255), false}};
  sim->setPosition(Lsn(2));
  for (const auto& [file, text, back, st, stVisible] : cases) {
    windows.reset();  // which saves
    Put(path, file);
    Build();
    Expect_Look(ui->PanelDisplay->font(), text, back, st, stVisible);
  }
  const QFont font = ui->PanelDisplay->font();
  EXPECT_EQ(font.family(), "ＭＳ 明朝");
  EXPECT_EQ(font.pixelSize(), 21);  // 16 points
  EXPECT_TRUE(font.bold());         // the style is not stored
  EXPECT_TRUE(ui->chkRepeatDisc->isChecked() && ui->chkRepeatTrack->isChecked());
  EXPECT_EQ(ui->Repeat_Track_No, 2);  // checking the box remembered the current track
  Refresh();
  EXPECT_TRUE(ui->PanelDisplay->text().contains("Track1"));
}

TEST_F(SettingsTest, ExitWritesTheFiveExitKeysAndAFailedSaveEndsWithAnErrorCode) {
  Build();
  ui->chkRepeatDisc->setChecked(true);
  PlayerSettings.TallHeight = 600;
  PlayerSettings.PlayerMode = false;
  EXPECT_EQ(End_Player(windows, 0), 0);  // saved: the message loop's code stands
  // Each window writes its placement, in the designed places, after its own settings.
  auto place = [](QString left, QString top, QString right, QString bottom) {
    return QString(
               "PlaceFlags=0\r\nPlaceShowCmd=1\r\nPlaceMinPos.X=-1\r\nPlaceMinPos.Y=-1\r\n"
               "PlaceMaxPos.X=-1\r\nPlaceMaxPos.Y=-1\r\nPlaceNormalPos.Left=%1\r\n"
               "PlaceNormalPos.Top=%2\r\nPlaceNormalPos.Right=%3\r\nPlaceNormalPos.Bottom=%4\r\n")
        .arg(left, top, right, bottom)
        .toStdString();
  };
  EXPECT_EQ(Bytes(path), "[SHWindow]\r\n" + place("40", "15", "296", "63") +
                             "[Play]\r\nRepeatDisk=1\r\nRepeatTrack=0\r\n[Window]\r\n"
                             "TallHeight=600\r\nMainForm=1\r\nPlayerMode=0\r\n" +
                             place("9", "87", "363", "537"));
  Build();
  Block_File();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(End_Player(windows, 0), 1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  // The see-through window's placement, then the settings; stderr has the system's reason too.
  Expect_Failed_Writes(2);
  EXPECT_NE(err.find(path + " に書き込めません: " + std::strerror(EISDIR)), std::string::npos);
}

struct OptionDialog : ::testing::Test {
  QString Sample() const {
    const QFont f = option.Example_Font();
    return f.family() + QString(" %1 %2 ").arg(f.pixelSize()).arg(f.bold()) +
           option.Example_Font_Color().name();
  }
  TfrmOption option;
  OptionProbe ui{option};
};

// The designed widths were made for Arial's metrics, which its substitute shares.
TEST_F(OptionDialog, CaptionsFitTheDesignedLayout) {
  EXPECT_EQ(QFontInfo(ui.chkIconTrackNum->font()).family(), "Liberation Sans");
  for (QGroupBox* group : {ui.GroupBoxInfo, ui.GroupBoxFont, ui.GroupBoxST}) {
    const auto boxes = group->findChildren<QCheckBox*>();
    for (QCheckBox* box : boxes) {
      EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
      EXPECT_LE(box->geometry().right(), group->width() - 4) << box->text().toStdString();
      for (QCheckBox* other : boxes)
        EXPECT_TRUE(box == other || !box->geometry().intersects(other->geometry()));
    }
    for (QPushButton* b : group->findChildren<QPushButton*>())
      EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, b->width());
  }
}

TEST_F(OptionDialog, EachColorDialogOpensWithTheColorItLastReturned) {
  option.Set_Example(option.Example_Font(), Qt::green, Qt::black);
  option.Set_Example_ST_Color(Qt::yellow);
  const QColor orange(255, 128, 0);
  // A colour Cancel leaves is not remembered; the see-through colour has a memory of its own.
  const std::tuple<bool, bool, QColor, QColor, QColor, QColor> steps[] = {
      {false, true, Qt::blue, Qt::black, Qt::blue, Qt::yellow},
      {false, false, Qt::red, Qt::blue, Qt::blue, Qt::yellow},
      {false, false, Qt::red, Qt::blue, Qt::blue, Qt::yellow},
      {true, true, orange, Qt::black, Qt::blue, orange},
      {true, true, Qt::white, orange, Qt::blue, Qt::white}};
  for (const auto& [seeThrough, ok, pick, shown, panel, sample] : steps) {
    QColorDialog* dialog = seeThrough ? ui.STColorDialog : ui.ColorDialog;
    QColor opened;
    Answer(dialog, [&] {
      opened = dialog->currentColor();
      dialog->setCurrentColor(pick);
      ok ? dialog->accept() : dialog->reject();
    });
    seeThrough ? ui.btnSelectSTColorClick() : ui.btnSelectColorClick();
    EXPECT_EQ(opened, shown);
    EXPECT_EQ(option.Example_Color(), panel);
    EXPECT_EQ(option.Example_ST_Color(), sample);
    EXPECT_EQ(option.Example_Font_Color(), QColor(Qt::green));
  }
}

TEST_F(OptionDialog, FontDialogReturnsFaceSizeStyleAndColor) {
  QFont display(QStringLiteral("ＭＳ ゴシック"), -1, QFont::Bold);
  display.setPixelSize(16);
  option.Set_Example(display, QColor(0, 128, 0), Qt::black);
  TFontDialog* dialog = ui.FontDialog;

  // The stored name shows as the installed face it stands for; keeping that face keeps the name.
  Answer(dialog, [&] {
    QFont f = ui.Fonts->currentFont();
    EXPECT_EQ(f.family(), QFontInfo(display).family());
    EXPECT_EQ(f.pointSizeF(), 12);
    EXPECT_EQ(dialog->Selected_Color(), QColor(0, 128, 0));
    f.setPointSize(20);
    ui.Fonts->setCurrentFont(f);
    ui.cmbColor->setCurrentText("Red");
    dialog->accept();
  });
  ui.btnSelectFontClick();
  EXPECT_EQ(Sample(), "ＭＳ ゴシック 27 1 #ff0000");

  // A colour none of the sixteen stays as it was; then Cancel leaves the sample alone.
  option.Set_Example(option.Example_Font(), QColor(1, 2, 3), Qt::black);
  for (bool ok : {true, false}) {
    Answer(dialog, [&] {
      ui.Fonts->setCurrentFont(QFont(ok ? "Liberation Serif" : "Liberation Sans", ok ? 9 : 30));
      if (!ok) ui.cmbColor->setCurrentText("Blue");
      ok ? dialog->accept() : dialog->reject();
    });
    ui.btnSelectFontClick();
    EXPECT_EQ(Sample(), "Liberation Serif 12 0 #010203");
  }
}

}  // namespace
