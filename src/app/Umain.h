#pragma once
// The main window: the transport buttons, the track list, the display, and the 200 ms clock
// that follows the drive by polling it and drives everything else.
#include <cstdint>
#include <memory>
#include <string>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "app/MainControls.h"
#include "device/CdAudioDevice.h"
#include "disc/Ucdobj.h"

class QAction;
class QCheckBox;
class QFrame;
class QMenu;
class QTimer;
class QToolButton;
class TAboutBox;
class TDiscLookup;
class TfrmCDInfo;
class TfrmOption;
class TfrmSeeThrough;

// Run-time state of the main window, one per window: what the clock and the handlers carry from
// one event to the next.
struct TMainUnitState {
  bool Disc_Loaded = false;
  bool Play_Started = false;
  bool Now_Playing = false;
  bool List_Mouse_Down = false;
  // Set where the next refresh must rewrite every text even if the position did not move.
  bool Refresh_Pending = true;
  std::uint32_t Last_Position = 0;  // TMSF
  int Current_Track = 1;
  int Tick_Count = 0;
  bool Stop_Glyph_Shown = false;
  QString Overlay_Display_Text;
  QString Overlay_Time_Text;
  // The names of the disc in the drive; replaced whole for each disc identified.
  std::unique_ptr<CD_Object> Current_CD_Object;
  // The display font's name as ZarnCD.ini holds it, so that a name nobody changed goes back
  // byte for byte.
  std::string Display_Font_Name;
};

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  // Opens the device on `driver` while the controls are built, as the device object opens
  // itself; throws EMCIDeviceError when it cannot. Tests pass runClock = false and call
  // TimerTimer themselves.
  explicit TfrmMain(std::unique_ptr<CdDriver> driver, bool runClock = true,
                    QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The windows created after this one, which the main window drives.
  void Set_Companions(TfrmSeeThrough* seeThrough, TfrmOption* option, TAboutBox* aboutBox,
                      TfrmCDInfo* cdInfo);

  // What the rest of the program may do with the player: the see-through window's menu, the
  // desktop's media controls, dropped images and start-up. Each command runs the handler of the
  // control it names, as the display's menu does, with errors going to the general error
  // report; whether the control itself would take a press is asked separately.
  void Play_Or_Stop();
  void Next_Track();
  void Previous_Track();
  void Eject_Disc();
  bool Play_Enabled() const;
  bool Next_Enabled() const;
  bool Previous_Enabled() const;
  bool Repeat_Disc() const;
  void Set_Repeat_Disc(bool on);
  bool Repeat_Track() const;
  void Set_Repeat_Track(bool on);
  // Whether a disc is loaded, and its names (null before the first disc is identified).
  bool Disc_Loaded() const { return State.Disc_Loaded; }
  const CD_Object* Disc_Names() const { return State.Current_CD_Object.get(); }
  // Puts the CD image at `path` into the image device: the virtual tray opens and closes with
  // it, and the next full refresh identifies it. A file that is no usable image, or a device
  // that is a real drive, changes nothing and gives the reason in *error. Errors on the way are
  // that answer, not error reports of their own.
  bool Insert_Image(const std::string& path, QString* error);
  // The full refresh of the clock's sixth tick, now.
  void Disp_Info();
  // No tick reaches any window from here on: for the end of the run.
  void Stop_Clock();
  // Switching the clock on starts a new interval. Never runs a clock the tests stopped.
  void Set_Timer_Enabled(bool enabled);
  bool Timer_Enabled() const { return timerEnabled_; }  // read by the tests only
  CdAudioDevice& Device() { return *MediaPlayer; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend struct MainProbe;  // the tests' view of the controls

  // Playback commands.
  void CD_Play();
  void CD_Stop();
  void CD_Seek(int track);
  std::uint8_t Get_Track();
  void Button_Enable();
  void Button_Disable();
  void Set_listbox_itemindex(int track);

  // The clock: every tick, and the full refresh on every sixth.
  void TimerTimer();

  // Disc loading and the texts.
  void CD_Loading();
  void Check_CD_Title();
  QString Get_Display_Str(bool trackNo, bool time, bool artist, bool cdTitle, bool trackTitle);

  // Event handlers.
  void FormCreate();
  void FormShow();
  void FormResize();
  void FormDestroy();
  void spdPlayClick();
  void spdNextClick();
  void spdRewindClick();
  void spdEjectClick();
  void spdAboutClick();
  void spdEditClick();
  void spdOptionClick();
  void ListBoxTracksClick();
  void ListBoxTracksMouseDown();
  void ListBoxTracksMouseUp();
  void chkRepeatTrackClick();
  void PanelDisplayClick();
  void OpenImageClick();
  // Puts the window into its compact shape: the display panel alone.
  void Resize_Minimum_Height();

  // Runs a handler as the window system would, with errors going to the general error report.
  void Handle(void (TfrmMain::*handler)());
  void Create_Controls();
  void Create_Track_List();  // and the keyboard's order through the controls
  void Create_Menu();
  void Align_Panels();
  void Set_Play_Glyph(bool stop);
  void Set_Play_Captions(const QString& caption);
  void End_Of_Disc();
  void Hand_Overlay_Fonts();
  // Refills the track list (with the clock paused) and the artist and title panels.
  void Show_Disc_Names(const CD_Object& disc);

  // Steps whose work belongs to the placement, settings, disc and text units.
  void Restore_Placement();
  void Load_Settings();
  void Save_Settings();
  void Save_Placement();
  void Apply_Show_Height();
  void Create_CD_Object();
  void Destroy_CD_Object();
  QString Track_Title(int track) const;
  void Compose_Overlay_Texts();
  void Write_Texts();
  void Write_Drive_Not_Ready_Texts();

  // The track that Repeat Track keeps playing; 0 while none is known.
  int Repeat_Track_No = 0;

  // Controls, top to bottom.
  TMainPanel* PanelDisplay = nullptr;
  QLabel* ImageStop = nullptr;
  QLabel* ImagePlay = nullptr;
  TMainPanel* PanelControl = nullptr;
  QCheckBox* chkRepeatDisc = nullptr;
  QCheckBox* chkRepeatTrack = nullptr;
  QFrame* Bevel2 = nullptr;
  QToolButton* spdEdit = nullptr;
  QToolButton* spdRewind = nullptr;
  QToolButton* spdPlay = nullptr;
  QToolButton* spdNext = nullptr;
  QToolButton* spdEject = nullptr;
  QFrame* Bevel3 = nullptr;
  QToolButton* spdOption = nullptr;
  QToolButton* spdAbout = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* LabelArtist = nullptr;
  TMainPanel* panelArtist = nullptr;
  QLabel* LabelTitle = nullptr;
  TMainPanel* panelTitle = nullptr;
  TMainPanel* PanelTracks = nullptr;
  TMainTrackList* ListBoxTracks = nullptr;
  QMenu* PopupMenu = nullptr;
  QAction* Play = nullptr;
  QAction* Next = nullptr;
  QAction* Previous = nullptr;
  QAction* EjectCD = nullptr;
  QAction* OpenImage = nullptr;  // beyond the design's four, below a separator; Ctrl+O
  QAction* LookUpNames = nullptr;
  // Names from the online disc database, for the menu item and for discs without an entry.
  TDiscLookup* DiscLookup = nullptr;
  QTimer* Timer = nullptr;

  std::unique_ptr<CdAudioDevice> MediaPlayer;
  QPointer<TfrmSeeThrough> frmSeeThrough;
  QPointer<TfrmOption> frmOption;
  QPointer<TAboutBox> AboutBox;
  QPointer<TfrmCDInfo> frmCDInfo;

  TMainUnitState State;

  bool runClock_ = true;
  bool timerEnabled_ = false;
  bool destroyed_ = false;
};
