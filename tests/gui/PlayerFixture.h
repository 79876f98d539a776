#pragma once
#include <gtest/gtest.h>

#include <fstream>

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/Application.h"
#include "app/Glyphs.h"
#include "app/Startup.h"
#include "app/Umain.h"
#include "device/Tmsf.h"
#include "overlay/Usthrou.h"
#include "settings/Uoption.h"
#include "support/SharedDriver.h"

using namespace std::chrono_literals;

inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

// Runs `answer` inside the dialog's modal loop; a dialog it leaves open fails the test, not hangs.
inline void Answer(QDialog* dialog, std::function<void()> answer) {
  QTimer::singleShot(0, dialog, [dialog, answer] {
    ASSERT_TRUE(dialog->isVisible());
    answer();
    if (!dialog->isVisible()) return;
    ADD_FAILURE() << "the dialog was left open";
    dialog->reject();
  });
}

inline std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Each window declares its probe a friend.
struct MainProbe {
  TfrmMain& w;
  TMainPanel *PanelDisplay = w.PanelDisplay, *PanelControl = w.PanelControl;
  QCheckBox *chkRepeatDisc = w.chkRepeatDisc, *chkRepeatTrack = w.chkRepeatTrack;
  QToolButton *spdEdit = w.spdEdit, *spdRewind = w.spdRewind, *spdPlay = w.spdPlay,
              *spdNext = w.spdNext, *spdEject = w.spdEject, *spdOption = w.spdOption,
              *spdAbout = w.spdAbout;
  TMainPanel *panelArtist = w.panelArtist, *panelTitle = w.panelTitle;
  TMainTrackList* ListBoxTracks = w.ListBoxTracks;
  QMenu* PopupMenu = w.PopupMenu;
  QAction *Play = w.Play, *LookUpNames = w.LookUpNames;
  TDiscLookup* DiscLookup = w.DiscLookup;
  QTimer* Timer = w.Timer;
  int& Repeat_Track_No = w.Repeat_Track_No;
  TMainUnitState& State = w.State;
  void TimerTimer() { w.TimerTimer(); }
  void CD_Seek(int track) { w.CD_Seek(track); }
};
struct SeeThroughProbe {
  TfrmSeeThrough& w;
  QMenu* PopupMenu = w.PopupMenu;
  QAction *pupPlay = w.pupPlay, *pupNext = w.pupNext, *pupPrevious = w.pupPrevious,
          *pupEject = w.pupEject, *pupRepeadDisc = w.pupRepeadDisc, *pupViewMain = w.pupViewMain;
  TFontHolder &fontTrackTitle = w.fontTrackTitle, &fontTime = w.fontTime;
  static const QImage& Face(const TfrmSeeThrough& w) { return w.surface_; }
  static const QImage& Kept(const TfrmSeeThrough& w) { return w.imageSave; }
};
struct OptionProbe {
  TfrmOption& w;
  QCheckBox *chkIconTrackNum = w.chkIconTrackNum, *chkIconArtist = w.chkIconArtist,
            *chkBarTime = w.chkBarTime, *chkWinTrackNum = w.chkWinTrackNum,
            *chkWinTime = w.chkWinTime, *chkWinCDTitle = w.chkWinCDTitle, *chkUseST = w.chkUseST;
  QGroupBox *GroupBoxInfo = w.GroupBoxInfo, *GroupBoxFont = w.GroupBoxFont,
            *GroupBoxST = w.GroupBoxST;
  QPushButton *btnOK = w.btnOK, *btnCancel = w.btnCancel;
  TFontDialog* FontDialog = w.FontDialog;
  QFontDialog* Fonts = w.FontDialog->Fonts;
  QComboBox* cmbColor = w.FontDialog->cmbColor;
  QColorDialog *ColorDialog = w.ColorDialog, *STColorDialog = w.STColorDialog;
  void btnSelectFontClick() { w.btnSelectFontClick(); }
  void btnSelectColorClick() { w.btnSelectColorClick(); }
  void btnSelectSTColorClick() { w.btnSelectSTColorClick(); }
};

struct Report {
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
  bool operator==(const Report&) const = default;
};

class PlayerFixture : public ::testing::Test {
 protected:
  explicit PlayerFixture(std::initializer_list<double> tracks)
      : sim(std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc(tracks))),
        seconds_(static_cast<int>(*tracks.begin())) {
    Application::Instance()->Set_Error_Reporter([this](const auto& c, auto i, const auto& t) {
      reports.push_back({c, i, t});
    });
  }
  void TearDown() override {
    windows.reset();
    Application::Instance()->Set_Error_Reporter(nullptr);
    for (const Report& r : reports) ADD_FAILURE() << "error report: " << r.text.toStdString();
  }

  void Build(bool show = true) {
    windows.reset();
    windows = Create_Player_Windows(std::make_unique<SharedDriver>(sim), /*runClock=*/false);
    main = windows->Main.get();
    ui.emplace(MainProbe{*main});
    if (!show) return;
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
  }
  void Load(bool show = true) {
    Build(show);
    Refresh();
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) sim->advance(200ms), ui->TimerTimer();
  }
  void Refresh() { Tick(6 - ui->State.Tick_Count); }

  std::int32_t Lsn(int track, int seconds = 0) const {
    return ((track - 1) * seconds_ + seconds) * 75;
  }
  std::string Section() const { return Disc_ID_From_Identity(sim->disc()->IdentityText()); }
  void Write_Entry(const std::string& keys) const {
    Put(Disc_Database_Path(), "[" + Section() + "]\r\n" + keys);
  }
  int Track() const { return tmsf::Track(sim->disc()->ToTmsf(sim->positionLsn())); }
  QStringList Texts() const {
    return {main->windowTitle(), ui->PanelDisplay->text(), main->windowIconText(),
            ui->State.Overlay_Display_Text, ui->State.Overlay_Time_Text};
  }
  int Row() const { return ui->ListBoxTracks->currentRow() + 1; }
  QStringList Rows() const {
    QStringList rows;
    for (int i = 0; i < ui->ListBoxTracks->count(); ++i) rows << ui->ListBoxTracks->item(i)->text();
    return rows;
  }
  QPoint RowAt(int track, QListWidget* list = nullptr) const {
    list = list ? list : ui->ListBoxTracks;
    return list->visualItemRect(list->item(track - 1)).center();
  }
  void ClickRow(int track, QListWidget* list = nullptr) {
    QTest::mouseClick((list ? list : ui->ListBoxTracks)->viewport(), Qt::LeftButton, {},
                      RowAt(track, list));
  }

  // The Play button and, with `menus`, both menus' Play items agree on the drive's state.
  void ExpectPlayState(bool playing, bool menus = true) const {
    const QString caption = playing ? "Stop" : "Play";
    EXPECT_EQ(ui->spdPlay->toolTip(), caption);
    EXPECT_EQ(ui->spdPlay->icon().pixmap(16, 16).toImage(),
              Glyph_Icon(playing ? Glyph_Stop() : Glyph_Play()).pixmap(16, 16).toImage());
    if (!menus) return;
    EXPECT_EQ(ui->Play->text(), caption);
    EXPECT_EQ(SeeThroughProbe{*windows->SeeThrough}.pupPlay->text(), caption);
  }

  std::shared_ptr<SimulatedDriver> sim;
  std::unique_ptr<PlayerWindows> windows;
  TfrmMain* main = nullptr;
  std::optional<MainProbe> ui;
  std::vector<Report> reports;
  int seconds_;
};
