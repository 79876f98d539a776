#include "app/Umain.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "about/Uabout.h"
#include "app/Application.h"
#include "app/Glyphs.h"
#include "app/MainControls.h"
#include "device/Tmsf.h"
#include "disc/Cp932.h"
#include "log/Log.h"
#include "lookup/Lookup.h"
#include "profile/ProfileFile.h"
#include "desktop/ImageOpen.h"
#include "disc/Uinfo.h"
#include "overlay/Usthrou.h"
#include "playback/CdioDriver.h"
#include "playback/CueImage.h"
#include "settings/PlayerSettings.h"
#include "settings/Uoption.h"
#include "settings/Winplace.h"
#include "ui/Accessible.h"
#include "ui/Look.h"

using namespace mci;

namespace {

const QString kWindowCaption = QStringLiteral("Zarn's CDPlayer");
const QString kDriveNotReady = QStringLiteral("Drive Not Ready!!");
const QString kStoppedPrefix = QStringLiteral("Stopped ");

// Switches the clock off for its lifetime and on again on every way out, errors included: a
// clock left off would freeze the player for the rest of the run.
class Clock_Pause {
 public:
  explicit Clock_Pause(TfrmMain& window) : window_(window) { window_.Set_Timer_Enabled(false); }
  ~Clock_Pause() { window_.Set_Timer_Enabled(true); }
  Clock_Pause(const Clock_Pause&) = delete;
  Clock_Pause& operator=(const Clock_Pause&) = delete;

 private:
  TfrmMain& window_;
};

}  // namespace

TfrmMain::TfrmMain(std::unique_ptr<CdDriver> driver, bool runClock, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      MediaPlayer(std::make_unique<CdAudioDevice>(std::move(driver))),
      runClock_(runClock) {
  Create_Controls();
  MediaPlayer->Loaded();
  FormCreate();
  Set_Timer_Enabled(true);
}

TfrmMain::~TfrmMain() {
  Timer->stop();
  if (destroyed_) return;
  Handle(&TfrmMain::FormDestroy);
}

void TfrmMain::Set_Companions(TfrmSeeThrough* seeThrough, TfrmOption* option, TAboutBox* aboutBox,
                              TfrmCDInfo* cdInfo) {
  frmSeeThrough = seeThrough;
  // The overlay's menu acts exactly as this window's controls do.
  if (seeThrough)
    seeThrough->Set_Main(
        this, {[this] { Play_Or_Stop(); }, [this] { Next_Track(); }, [this] { Previous_Track(); },
               [this] { Eject_Disc(); }, [this] { return Repeat_Disc(); },
               [this](bool on) { Set_Repeat_Disc(on); }});
  frmOption = option;
  AboutBox = aboutBox;
  frmCDInfo = cdInfo;
}

void TfrmMain::Handle(void (TfrmMain::*handler)()) {
  Application::Guarded([this, handler] { (this->*handler)(); });
}

// ---------------------------------------------------------------------------------------------
// Commands for the rest of the program

void TfrmMain::Play_Or_Stop() {
  Handle(&TfrmMain::spdPlayClick);
}
void TfrmMain::Next_Track() {
  Handle(&TfrmMain::spdNextClick);
}
void TfrmMain::Previous_Track() {
  Handle(&TfrmMain::spdRewindClick);
}
void TfrmMain::Eject_Disc() {
  Handle(&TfrmMain::spdEjectClick);
}
bool TfrmMain::Play_Enabled() const {
  return spdPlay->isEnabled();
}
bool TfrmMain::Next_Enabled() const {
  return spdNext->isEnabled();
}
bool TfrmMain::Previous_Enabled() const {
  return spdRewind->isEnabled();
}
bool TfrmMain::Repeat_Disc() const {
  return chkRepeatDisc->isChecked();
}
void TfrmMain::Set_Repeat_Disc(bool on) {
  chkRepeatDisc->setChecked(on);
}
bool TfrmMain::Repeat_Track() const {
  return chkRepeatTrack->isChecked();
}
// Checking the box runs its handler, which remembers the track.
void TfrmMain::Set_Repeat_Track(bool on) {
  chkRepeatTrack->setChecked(on);
}
void TfrmMain::Stop_Clock() {
  Timer->stop();
}

bool TfrmMain::Insert_Image(const std::string& path, QString* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = QFile::decodeName(QByteArray::fromStdString(why));
    return false;
  };
  auto* driver = dynamic_cast<CdioDriver*>(&MediaPlayer->Driver());
  if (!driver) return fail(path + ": this device takes no image files");
  // Asked first: a device that cannot take the image keeps its disc.
  std::string why;
  if (!driver->takesImages(&why)) return fail(path + ": " + why);
  // Read before anything moves, so that a bad file leaves the disc that plays alone.
  if (!ReadImageToc(path, &why)) return fail(path + ": " + why);
  // Out with the old disc as Eject does, and let one refresh see the tray open: only a disc
  // that was not loaded is identified when it appears.
  try {
    spdEjectClick();
    Disp_Info();
  } catch (const std::exception& e) {
    return fail(path + ": " + e.what());
  }
  if (!driver->insertImage(path, &why)) return fail(why);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Controls

void TfrmMain::Create_Controls() {
  setWindowTitle(kWindowCaption);
  setFont(Bold_Font(QStringLiteral("Arial"), 13));
  resize(350, 422);
  move(9, 87);

  PanelDisplay = new TMainPanel(this);
  PanelDisplay->setGeometry(0, 0, 350, 32);
  PanelDisplay->setAlignment(Qt::AlignCenter);
  PanelDisplay->setFont(Bold_Font(QStringLiteral("ＭＳ ゴシック"), 16));
  Set_Colors(PanelDisplay, QColor(0, 128, 0), Qt::black);
  PanelDisplay->setText(QStringLiteral("Wait!!"));
  PanelDisplay->setContextMenuPolicy(Qt::CustomContextMenu);
  PanelDisplay->OnClick = [this] { Handle(&TfrmMain::PanelDisplayClick); };
  PanelDisplay->OnResize = [this] { Align_Panels(); };

  auto makeImage = [this](int x, const QImage& pair) {
    auto* image = new QLabel(PanelDisplay);
    image->setGeometry(x, 8, 32, 16);
    image->setPixmap(QPixmap::fromImage(pair));
    image->hide();
    return image;
  };
  ImageStop = makeImage(272, Glyph_Stop());
  ImagePlay = makeImage(312, Glyph_Play());

  PanelControl = new TMainPanel(this);
  PanelControl->setGeometry(0, 32, 350, 136);

  chkRepeatDisc = new QCheckBox(QStringLiteral("Repeat Disk"), PanelControl);
  chkRepeatDisc->setGeometry(8, 8, 97, 17);
  chkRepeatTrack = new QCheckBox(QStringLiteral("Repeat Track"), PanelControl);
  chkRepeatTrack->setGeometry(8, 32, 105, 17);
  connect(chkRepeatTrack, &QCheckBox::toggled, this,
          [this] { Handle(&TfrmMain::chkRepeatTrackClick); });

  auto makeBevel = [this](int x, int y, int w, int h) {
    QFrame* bevel = new TLowered(PanelControl);
    bevel->setGeometry(x, y, w, h);
    bevel->setAttribute(Qt::WA_TransparentForMouseEvents);
    return bevel;
  };
  Bevel2 = makeBevel(128, 8, 145, 41);
  Bevel3 = makeBevel(280, 8, 65, 41);
  Bevel1 = makeBevel(8, 56, 337, 73);

  auto makeButton = [this](int x, const QImage& glyph, const QString& hint, bool flat,
                           void (TfrmMain::*handler)()) {
    auto* b = new QToolButton(PanelControl);
    b->setGeometry(x, 16, 25, 25);
    b->setIcon(Glyph_Icon(glyph));
    b->setIconSize(QSize(16, 16));
    b->setToolTip(hint);
    Name_After_Hint(b);
    b->setAutoRaise(flat);
    // The transport buttons are push buttons, reached with Tab and pressed with Space; the two
    // flat buttons never take the focus.
    b->setFocusPolicy(flat ? Qt::NoFocus : Qt::StrongFocus);
    connect(b, &QToolButton::clicked, this, [this, handler] { Handle(handler); });
    return b;
  };
  spdEdit = makeButton(136, Glyph_Edit(), QStringLiteral("Edit CD Information"), false,
                       &TfrmMain::spdEditClick);
  spdRewind = makeButton(168, Glyph_Previous(), QStringLiteral("Previous Track"), false,
                         &TfrmMain::spdRewindClick);
  spdPlay = makeButton(192, ImagePlay->pixmap().toImage(), QStringLiteral("Play"), false,
                       &TfrmMain::spdPlayClick);
  spdNext =
      makeButton(216, Glyph_Next(), QStringLiteral("Next Track"), false, &TfrmMain::spdNextClick);
  spdEject =
      makeButton(240, Glyph_Eject(), QStringLiteral("Eject"), false, &TfrmMain::spdEjectClick);
  spdOption =
      makeButton(288, Glyph_Option(), QStringLiteral("Option"), true, &TfrmMain::spdOptionClick);
  spdAbout =
      makeButton(312, Glyph_About(), QStringLiteral("About"), true, &TfrmMain::spdAboutClick);

  // spdPlay is the window's default button: Enter presses it, unless the focus is on another
  // push button, which Enter then presses as Space does.
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    connect(shortcut, &QShortcut::activated, this, [this] {
      QToolButton* pressed = spdPlay;
      for (QToolButton* b : {spdEdit, spdRewind, spdNext, spdEject})
        if (b->hasFocus()) pressed = b;
      pressed->click();
    });
  }

  const QFont nameFont = Bold_Font(QStringLiteral("ＭＳ ゴシック"), 13);
  auto makeNamePanel = [&](const QString& label, int y, QLabel*& labelOut) {
    labelOut = new QLabel(label, PanelControl);
    labelOut->setTextFormat(Qt::PlainText);
    labelOut->setMargin(0);
    labelOut->setIndent(0);
    labelOut->adjustSize();
    labelOut->move(16, y);
    auto* panel = new TMainPanel(PanelControl);
    panel->setGeometry(56, y, 281, 25);
    panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel->setFont(nameFont);
    Set_Colors(panel, QColor(0, 128, 0), Qt::black);
    return panel;
  };
  panelArtist = makeNamePanel(QStringLiteral("Artist"), 64, LabelArtist);
  panelTitle = makeNamePanel(QStringLiteral("Title"), 96, LabelTitle);
  panelArtist->setAccessibleName(LabelArtist->text());
  panelTitle->setAccessibleName(LabelTitle->text());

  Create_Track_List();
  Create_Menu();

  Timer = new QTimer(this);
  Timer->setInterval(200);
  Timer->setTimerType(Qt::PreciseTimer);
  connect(Timer, &QTimer::timeout, this, [this] { Handle(&TfrmMain::TimerTimer); });

  Align_Panels();
}

void TfrmMain::Create_Track_List() {
  PanelTracks = new TMainPanel(this);
  PanelTracks->setGeometry(0, 168, 350, 254);
  ListBoxTracks = new TMainTrackList(PanelTracks);
  ListBoxTracks->setAccessibleName(QStringLiteral("Tracks"));
  ListBoxTracks->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBoxTracks->setFont(Bold_Font(QStringLiteral("ＭＳ ゴシック"), 13));
  ListBoxTracks->setItemDelegate(new TRowHeight(13, ListBoxTracks));
  ListBoxTracks->setUniformItemSizes(true);
  Set_Colors(ListBoxTracks, QColor(0, 128, 0), Qt::black);
  {
    QPalette pal = ListBoxTracks->palette();
    pal.setColor(QPalette::Highlight, QColor(0, 0, 128));
    pal.setColor(QPalette::HighlightedText, Qt::white);
    ListBoxTracks->setPalette(pal);
  }
  // One pixel of bevel and a five-pixel border around the list.
  auto* tracksLayout = new QVBoxLayout(PanelTracks);
  tracksLayout->setContentsMargins(6, 6, 6, 6);
  tracksLayout->addWidget(ListBoxTracks);
  // The keyboard visits the controls top to bottom, left to right.
  QWidget* previous = chkRepeatDisc;
  for (QWidget* next : std::initializer_list<QWidget*>{chkRepeatTrack, spdEdit, spdRewind, spdPlay,
                                                       spdNext, spdEject, ListBoxTracks}) {
    setTabOrder(previous, next);
    previous = next;
  }
  ListBoxTracks->OnClick = [this] { Handle(&TfrmMain::ListBoxTracksClick); };
  ListBoxTracks->OnMouseDown = [this] { Handle(&TfrmMain::ListBoxTracksMouseDown); };
  ListBoxTracks->OnMouseUp = [this] { Handle(&TfrmMain::ListBoxTracksMouseUp); };
}

// The display panel's pop-up menu, with Ctrl+O on the window, and the lookup it offers.
void TfrmMain::Create_Menu() {
  PopupMenu = new QMenu(this);
  Play = PopupMenu->addAction(QStringLiteral("Play"), this,
                              [this] { Handle(&TfrmMain::spdPlayClick); });
  Next = PopupMenu->addAction(QStringLiteral("Next"), this,
                              [this] { Handle(&TfrmMain::spdNextClick); });
  Previous = PopupMenu->addAction(QStringLiteral("Previous"), this,
                                  [this] { Handle(&TfrmMain::spdRewindClick); });
  EjectCD = PopupMenu->addAction(QStringLiteral("Eject CD"), this,
                                 [this] { Handle(&TfrmMain::spdEjectClick); });
  PopupMenu->addSeparator();
  OpenImage = PopupMenu->addAction(QStringLiteral("Open Disc Image..."), this,
                                   [this] { Handle(&TfrmMain::OpenImageClick); });
  OpenImage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  addAction(OpenImage);  // so that Ctrl+O works on the window, with the menu closed
  // The disc in the drive as a lookup's answer finds it: none once the drive has no disc.
  DiscLookup = new TDiscLookup(this, [this]() -> const CD_Object* {
    return State.Disc_Loaded && MediaPlayer->Device_Disc_Toc() ? State.Current_CD_Object.get()
                                                               : nullptr;
  });
  DiscLookup->On_Stored = [this] {
    Handle(&TfrmMain::Check_CD_Title);
    State.Refresh_Pending = true;
  };
  LookUpNames = PopupMenu->addAction(QStringLiteral("Look Up Disc Names"), this, [this] {
    DiscLookup->Look_Up_On_Request(State.Disc_Loaded ? State.Current_CD_Object.get() : nullptr,
                                   MediaPlayer->Device_Disc_Toc().get());
  });
  connect(PanelDisplay, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu->popup(PanelDisplay->mapToGlobal(pos)); });
}

// The display and control panels keep their heights at the top; the track list takes the rest.
void TfrmMain::Align_Panels() {
  const int w = width();
  int y = 0;
  for (TMainPanel* panel : {PanelDisplay, PanelControl}) {
    if (panel->geometry() != QRect(0, y, w, panel->height()))
      panel->setGeometry(0, y, w, panel->height());
    y += panel->height();
  }
  PanelTracks->setGeometry(0, y, w, std::max(0, height() - y));
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Align_Panels();
  // Qt holds the resize events of a hidden window back until it is shown, when the mode may have
  // changed since; the height step of FormShow settles the height then.
  if (isVisible()) Handle(&TfrmMain::FormResize);
}

// The rule of the mode, in outer heights. Idempotent, so the resize it causes ends there.
void TfrmMain::FormResize() {
  // A maximised or minimised window's size is the window manager's, not the mode's.
  if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) return;
  if (!PlayerSettings.PlayerMode) {
    // Only the width follows the user; the display panel keeps its height.
    if (height() != PanelDisplay->height()) Set_Client_Height(this, PanelDisplay->height());
    return;
  }
  const int minimum = Frame_Height(this) + PanelDisplay->height() + PanelControl->height() + 20;
  if (minimum > Outer_Height(this)) Set_Outer_Height(this, minimum);
  PlayerSettings.TallHeight = Outer_Height(this);
}

void TfrmMain::Set_Play_Glyph(bool stop) {
  spdPlay->setIcon(Glyph_Icon((stop ? ImageStop : ImagePlay)->pixmap().toImage()));
}

void TfrmMain::Set_Play_Captions(const QString& caption) {
  Play->setText(caption);
  if (frmSeeThrough) frmSeeThrough->Set_Play_Caption(caption);
}

void TfrmMain::Set_Timer_Enabled(bool enabled) {
  timerEnabled_ = enabled;
  if (!runClock_) return;
  if (enabled)
    Timer->start();
  else
    Timer->stop();
}

// ---------------------------------------------------------------------------------------------
// Life cycle

void TfrmMain::FormCreate() {
  State.List_Mouse_Down = false;
  Repeat_Track_No = 0;
  MediaPlayer->Device_Set_Time_Format(MCI_FORMAT_TMSF);
  State.Last_Position = 0;
  State.Current_Track = 1;
  Restore_Placement();
  Load_Settings();
  State.Refresh_Pending = true;
  State.Play_Started = false;
  Create_CD_Object();
  State.Tick_Count = 0;
  State.Now_Playing = false;
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Restoring from the taskbar is not a new showing.
  if (!event->spontaneous()) Handle(&TfrmMain::FormShow);
}

// The overlay's time line takes the see-through colour; its display line a copy of the display
// panel's font in that colour.
void TfrmMain::Hand_Overlay_Fonts() {
  frmSeeThrough->Set_Fonts(PanelDisplay->font(),
                           Color_From_Value(PlayerSettings.SeeThrough_Font_Color));
}

void TfrmMain::FormShow() {
  if (frmSeeThrough) {
    frmSeeThrough->Set_Shown(PlayerSettings.SeeThrough_Use);
    Hand_Overlay_Fonts();
  }
  switch (MediaPlayer->Device_Mode()) {
    case Mode_Stopped:
      CD_Stop();
      break;
    case Mode_Playing:
      CD_Play();
      break;
    default:
      break;
  }
  Apply_Show_Height();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // Closing this window ends the program even while the see-through window stays up.
  event->accept();
  QCoreApplication::quit();
}

void TfrmMain::FormDestroy() {
  destroyed_ = true;
  MediaPlayer->Device_Close();
  Destroy_CD_Object();
  Save_Settings();
  Save_Placement();
}

// ---------------------------------------------------------------------------------------------
// Steps that the placement, settings and disc units fill in.

void TfrmMain::Restore_Placement() {
  Restore_Window_Placement(this, "Window", true);
}

void TfrmMain::Load_Settings() {
  const TStoredSettings stored = Read_Settings(ProfileFile(Settings_File_Path()).Read_Snapshot());
  PlayerSettings = stored.Player;
  // Only size and face are stored: the panel keeps its designed bold style.
  State.Display_Font_Name = stored.Disp.FontName;
  PanelDisplay->setFont(Display_Panel_Font(
      Display_Font(PanelDisplay->font(), stored.Disp.FontSize, stored.Disp.FontName)));
  Set_Colors(PanelDisplay, Color_From_Value(stored.Disp.FontColor),
             Color_From_Value(stored.Disp.PanelColor));
  chkRepeatDisc->setChecked(stored.RepeatDisk);
  chkRepeatTrack->setChecked(stored.RepeatTrack);
}

void TfrmMain::Save_Settings() {
  // One update: a failed write leaves the file as it was, and the error ends FormDestroy here,
  // before the placement is saved.
  Write_Settings(Settings_File_Path(),
                 Exit_Settings_Update(chkRepeatDisc->isChecked(), chkRepeatTrack->isChecked(),
                                      PlayerSettings));
}

void TfrmMain::Save_Placement() {
  Save_Window_Placement(this, "Window");
}

void TfrmMain::Apply_Show_Height() {
  if (PlayerSettings.PlayerMode) {
    Set_Outer_Height(this, PlayerSettings.TallHeight);
    // A stored height may equal the current one, which raises no size change, and still be below
    // the tall minimum.
    FormResize();
  } else {
    Resize_Minimum_Height();
  }
}

void TfrmMain::Resize_Minimum_Height() {
  PanelDisplay->resize(PanelDisplay->width(),
                       Display_Panel_Height(Font_Points(PanelDisplay->font())));
  // Outer height - client height + panel height: the client holds the display panel alone.
  Set_Client_Height(this, PanelDisplay->height());
}

void TfrmMain::Create_CD_Object() {
  State.Current_CD_Object = std::make_unique<CD_Object>(Disc_Database_Path());
}

void TfrmMain::Destroy_CD_Object() {
  State.Current_CD_Object.reset();
}

QString TfrmMain::Track_Title(int track) const {
  const CD_Object* disc = State.Current_CD_Object.get();
  if (!disc || track < 1 || static_cast<std::size_t>(track) > disc->Track_Titles.size()) return {};
  return Cp932_To_QString(disc->Track_Titles[static_cast<std::size_t>(track) - 1]);
}

void TfrmMain::PanelDisplayClick() {
  if (PlayerSettings.PlayerMode) {
    PlayerSettings.PlayerMode = false;
    PlayerSettings.TallHeight = Outer_Height(this);
    Resize_Minimum_Height();
  } else {
    PlayerSettings.PlayerMode = true;
    Set_Outer_Height(this, PlayerSettings.TallHeight);
    FormResize();
  }
}

void TfrmMain::OpenImageClick() {
  Open_Disc_Image(*this);
}

void TfrmMain::spdEditClick() {
  if (!frmCDInfo || !State.Current_CD_Object) return;
  TfrmCDInfo& info = *frmCDInfo;
  info.Copy_In(*State.Current_CD_Object);
  const bool ok = info.exec() == QDialog::Accepted;

  // The clock ran on behind the dialog and may have identified another disc: the edits go to
  // the entry of the disc they were made for, and another disc's names stay as they are.
  CD_Object& edited = info.Edited_Disc();
  CD_Object* current = State.Current_CD_Object.get();
  const bool same_disc =
      current && current->Disc_ID == edited.Disc_ID && current->Num_Tracks == edited.Num_Tracks;
  CD_Object& disc = same_disc ? *current : edited;
  // With the tray open the window shows no disc until one is loaded again.
  if (ok && same_disc) {
    disc.Artist = edited.Artist;
    disc.Title = edited.Title;
    disc.Track_Titles = edited.Track_Titles;
    if (State.Disc_Loaded) Show_Disc_Names(disc);
  }
  disc.Write_Disc_Info();
  State.Refresh_Pending = true;
  TimerTimer();
  // Such a disc has no entry to store under; its names live until the next disc is identified.
  if (ok && disc.Disc_ID.empty())
    throw std::runtime_error("names of a disc without an identity cannot be stored");
}

void TfrmMain::spdOptionClick() {
  if (!frmOption) return;
  TfrmOption& option = *frmOption;
  option.Set_Flags(PlayerSettings);
  option.Set_Example(PanelDisplay->font(), PanelDisplay->palette().color(QPalette::WindowText),
                     PanelDisplay->palette().color(QPalette::Window));
  option.Set_Example_ST_Color(frmSeeThrough
                                  ? frmSeeThrough->Font_Color()
                                  : Color_From_Value(PlayerSettings.SeeThrough_Font_Color));
  option.Set_Use_ST(frmSeeThrough && frmSeeThrough->Shown());
  if (option.exec() != QDialog::Accepted) return;

  option.Get_Flags(PlayerSettings);
  PlayerSettings.SeeThrough_Use = option.Use_ST();
  const QFont font = option.Example_Font();
  const QColor fontColor = option.Example_Font_Color();
  const QColor panelColor = option.Example_Color();
  const std::uint32_t seeThroughColor = Color_To_Value(option.Example_ST_Color());
  TDisplaySettings disp;
  disp.FontSize = Font_Points(font);
  disp.FontColor = Color_To_Value(fontColor);
  disp.FontName = Font_Name_Bytes(font.family(), State.Display_Font_Name);
  disp.PanelColor = Color_To_Value(panelColor);
  TPlayerSettings written = PlayerSettings;
  written.SeeThrough_Font_Color = seeThroughColor;
  // The 21 keys go into the file as one update, all or none; when it fails, the error ends the
  // exchange here and nothing below is applied.
  Write_Settings(Settings_File_Path(), Option_Settings_Update(written, disp));

  State.Display_Font_Name = disp.FontName;
  PanelDisplay->setFont(Display_Panel_Font(font));
  Set_Colors(PanelDisplay, fontColor, panelColor);
  PanelDisplay->resize(PanelDisplay->width(), Display_Panel_Height(disp.FontSize));
  PlayerSettings.SeeThrough_Font_Color = seeThroughColor;
  if (frmSeeThrough) {
    Hand_Overlay_Fonts();
    frmSeeThrough->Set_Shown(PlayerSettings.SeeThrough_Use);
  }
  State.Refresh_Pending = true;
}

// ---------------------------------------------------------------------------------------------
// The clock

void TfrmMain::TimerTimer() {
  // Repeat Track. Without a remembered track it waits for the first tick that can read one.
  if (chkRepeatTrack->isChecked() && Repeat_Track_No == 0) Repeat_Track_No = Get_Track();
  if (State.Now_Playing && Repeat_Track_No != 0 && chkRepeatTrack->isChecked()) {
    const bool moving = MediaPlayer->Device_Mode() == Mode_Playing ||
                        (MediaPlayer->Device_Mode() == Mode_Stopped && State.Play_Started);
    if (moving && Get_Track() != Repeat_Track_No) {
      CD_Stop();
      CD_Seek(Repeat_Track_No);
      if (MediaPlayer->Device_Mode() == Mode_Stopped) CD_Play();
    }
  }

  if (frmSeeThrough)
    frmSeeThrough->Draw_Info(State.Overlay_Display_Text, State.Overlay_Time_Text,
                             State.Now_Playing);

  if (++State.Tick_Count > 5) {
    State.Tick_Count = 0;
    Disp_Info();
  }
}

void TfrmMain::Disp_Info() {
  switch (MediaPlayer->Device_Mode()) {
    case Mode_Stopped:
    case Mode_Playing: {
      CD_Loading();
      const std::uint32_t position = MediaPlayer->Device_Position();
      Compose_Overlay_Texts();
      if (position != State.Last_Position || State.Refresh_Pending) {
        State.Refresh_Pending = false;
        Write_Texts();
        if (MediaPlayer->Device_Mode() == Mode_Stopped) {
          if (State.Stop_Glyph_Shown) {
            Set_Play_Glyph(false);
            State.Stop_Glyph_Shown = false;
          }
          if (State.Play_Started) End_Of_Disc();
        } else if (!State.Stop_Glyph_Shown) {
          Set_Play_Glyph(true);
          State.Stop_Glyph_Shown = true;
        }
        State.Last_Position = position;
        if (!State.List_Mouse_Down && ListBoxTracks->currentRow() != State.Current_Track - 1)
          Set_listbox_itemindex(State.Current_Track);
      }
      break;
    }
    case Mode_Open:
      State.Disc_Loaded = false;
      Button_Disable();
      panelArtist->clear();
      panelTitle->clear();
      ListBoxTracks->clear();
      Write_Drive_Not_Ready_Texts();
      State.Now_Playing = false;
      // A track remembered from the disc that left would be refused by the next disc, and
      // Repeat Track would then restart playback on every tick.
      Repeat_Track_No = 0;
      break;
    default:
      break;
  }
}

// The disc played to its end, or was stopped from outside the player.
void TfrmMain::End_Of_Disc() {
  CD_Stop();
  if (chkRepeatTrack->isChecked() && Repeat_Track_No != 0) {
    CD_Seek(Repeat_Track_No);
    CD_Play();
  } else {
    CD_Seek(1);
    if (chkRepeatDisc->isChecked()) CD_Play();
  }
}

// ---------------------------------------------------------------------------------------------
// Disc loading and texts

void TfrmMain::CD_Loading() {
  if (State.Disc_Loaded) return;
  State.Disc_Loaded = true;
  // A disc just loaded always gets its texts, even where the position did not move.
  State.Refresh_Pending = true;
  Button_Enable();
  Check_CD_Title();
  if (ListBoxTracks->count() == 0) return;
  if (MediaPlayer->Device_Mode() == Mode_Playing) {
    Set_Play_Glyph(true);
    spdPlay->setToolTip(QStringLiteral("Stop"));
    Set_listbox_itemindex(Get_Track());
  } else {
    CD_Seek(1);
  }
}

void TfrmMain::Check_CD_Title() {
  std::string identity;
  if (const std::optional<std::string> answer = MediaPlayer->Device_Disc_Identity()) {
    identity = Disc_ID_From_Identity(*answer);
  } else {
    // Nobody can act on it in the window; the names simply fall back to the defaults.
    qCWarning(lcDisc, "the disc could not be identified: %s",
              MediaPlayer->Driver().errorText(MediaPlayer->Last_Identity_Error()).c_str());
  }
  Destroy_CD_Object();
  Create_CD_Object();
  CD_Object& disc = *State.Current_CD_Object;
  const std::optional<DiscText> text = MediaPlayer->Device_Disc_Text();
  disc.Read_Disc_Info(identity,
                      static_cast<std::int32_t>(std::min<std::uint32_t>(
                          MediaPlayer->Device_Tracks(), CD_Object::kMaxTracks)),
                      text ? &*text : nullptr);
  Show_Disc_Names(disc);
  DiscLookup->Disc_Identified(disc, MediaPlayer->Device_Disc_Toc().get());
}

void TfrmMain::Show_Disc_Names(const CD_Object& disc) {
  {
    const Clock_Pause paused(*this);
    std::vector<std::string> rows;
    disc.Fill_Track_List(rows);
    ListBoxTracks->clear();
    for (const std::string& row : rows) ListBoxTracks->addItem(Cp932_To_QString(row));
  }
  panelArtist->setText(Cp932_To_QString(disc.Artist));
  panelTitle->setText(Cp932_To_QString(disc.Title));
}

QString TfrmMain::Get_Display_Str(bool trackNo, bool time, bool artist, bool cdTitle,
                                  bool trackTitle) {
  const std::uint32_t p = MediaPlayer->Device_Position();
  const int track = tmsf::Track(p);
  State.Current_Track = track;
  QString s;
  if (trackNo) s += QStringLiteral("Track%1 ").arg(track);
  if (time) s += QStringLiteral("%1m %2s ").arg(tmsf::Minutes(p)).arg(tmsf::Seconds(p));
  if (artist) s += panelArtist->text() + QStringLiteral("  ");
  if (cdTitle) s += panelTitle->text() + QStringLiteral("  ");
  if (trackTitle) s += Track_Title(track);
  return s;
}

void TfrmMain::Compose_Overlay_Texts() {
  const TPlayerSettings& s = PlayerSettings;
  State.Overlay_Display_Text = Get_Display_Str(s.Window_TrackNo, s.Window_Time, s.Window_Artist,
                                               s.Window_CDTitle, s.Window_TrackTitle);
  State.Overlay_Time_Text = Get_Display_Str(true, true, false, false, false);
}

namespace {
// Qt reads "[*]" in a caption as the modified-document mark; a disc name may hold it.
QString Caption_Text(const QString& text) {
  QString escaped = text;
  return escaped.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}
}  // namespace

void TfrmMain::Write_Texts() {
  const TPlayerSettings& s = PlayerSettings;
  const QString title = Get_Display_Str(s.Icon_TrackNo, s.Icon_Time, s.Icon_Artist, s.Icon_CDTitle,
                                        s.Icon_TrackTitle);
  Application* app = Application::Instance();
  if (app && title != app->Title()) app->Set_Title(title);

  QString caption = Get_Display_Str(s.Title_Bar_TrackNo, s.Title_Bar_Time, s.Title_Bar_Artist,
                                    s.Title_Bar_CDTitle, s.Title_Bar_TrackTitle);
  if (MediaPlayer->Device_Mode() == Mode_Stopped) caption.prepend(kStoppedPrefix);
  if (Caption_Text(caption) != windowTitle()) setWindowTitle(Caption_Text(caption));

  QString display = Get_Display_Str(s.Window_TrackNo, s.Window_Time, s.Window_Artist,
                                    s.Window_CDTitle, s.Window_TrackTitle);
  if (MediaPlayer->Device_Mode() == Mode_Stopped) display.prepend(kStoppedPrefix);
  if (display != PanelDisplay->text()) PanelDisplay->setText(display);
}

void TfrmMain::Write_Drive_Not_Ready_Texts() {
  PanelDisplay->setText(kDriveNotReady);
  if (Application* app = Application::Instance()) app->Set_Title(kWindowCaption);
  setWindowTitle(kWindowCaption);
  State.Overlay_Display_Text = kDriveNotReady;
  State.Overlay_Time_Text = QStringLiteral("Track- -m -s");
}

// ---------------------------------------------------------------------------------------------
// Playback commands

std::uint8_t TfrmMain::Get_Track() {
  return tmsf::Track(MediaPlayer->Device_Position());
}

void TfrmMain::CD_Play() {
  MediaPlayer->Device_Play();
  Set_Play_Glyph(true);
  spdPlay->setToolTip(QStringLiteral("Stop"));
  Set_Play_Captions(QStringLiteral("Stop"));
  State.Play_Started = true;
  State.Now_Playing = true;
  // The play state changed, while the position may be the one the last refresh showed.
  State.Refresh_Pending = true;
}

void TfrmMain::CD_Stop() {
  MediaPlayer->Device_Stop();
  MediaPlayer->Device_Seek(tmsf::TrackStart(Get_Track()));
  Set_Play_Glyph(false);
  spdPlay->setToolTip(QStringLiteral("Play"));
  Set_Play_Captions(QStringLiteral("Play"));
  State.Play_Started = false;
  State.Now_Playing = false;
  // A stop that lands on the position the last refresh showed must still bring "Stopped ".
  State.Refresh_Pending = true;
}

void TfrmMain::CD_Seek(int track) {
  const std::uint32_t target = tmsf::TrackStart(static_cast<std::uint32_t>(track));
  if (MediaPlayer->Device_Mode() == Mode_Playing) {
    MediaPlayer->Device_Stop();
    MediaPlayer->Device_Seek(target);
    MediaPlayer->Device_Play();
  } else {
    MediaPlayer->Device_Seek(target);
  }
  Set_listbox_itemindex(track);
}

void TfrmMain::Button_Enable() {
  for (QToolButton* b : {spdEdit, spdRewind, spdPlay, spdNext, spdEject}) b->setEnabled(true);
}

void TfrmMain::Button_Disable() {
  for (QToolButton* b : {spdEdit, spdRewind, spdPlay, spdNext, spdEject}) b->setEnabled(false);
}

void TfrmMain::Set_listbox_itemindex(int track) {
  if (track >= 1 && track <= ListBoxTracks->count()) ListBoxTracks->setCurrentRow(track - 1);
}

// ---------------------------------------------------------------------------------------------
// Commands of the user

void TfrmMain::spdPlayClick() {
  switch (MediaPlayer->Device_Mode()) {
    case Mode_Stopped:
      CD_Play();
      break;
    case Mode_Playing:
      CD_Stop();
      break;
    default:
      break;
  }
}

void TfrmMain::spdNextClick() {
  MediaPlayer->Device_Set_Wait(true);
  MediaPlayer->Device_Next();
  Set_listbox_itemindex(Get_Track());
  MediaPlayer->Device_Set_Wait(false);
}

void TfrmMain::spdRewindClick() {
  MediaPlayer->Device_Set_Wait(true);
  MediaPlayer->Device_Previous();
  Set_listbox_itemindex(Get_Track());
  MediaPlayer->Device_Set_Wait(false);
}

void TfrmMain::spdEjectClick() {
  CD_Stop();
  MediaPlayer->Device_Eject();
}

void TfrmMain::spdAboutClick() {
  if (AboutBox) AboutBox->exec();
}

void TfrmMain::ListBoxTracksClick() {
  CD_Seek(ListBoxTracks->currentRow() + 1);
  if (chkRepeatTrack->isChecked()) Repeat_Track_No = Get_Track();
}

void TfrmMain::ListBoxTracksMouseDown() {
  State.List_Mouse_Down = true;
}

void TfrmMain::ListBoxTracksMouseUp() {
  State.List_Mouse_Down = false;
}

void TfrmMain::chkRepeatTrackClick() {
  if (chkRepeatTrack->isChecked()) Repeat_Track_No = Get_Track();
}
