#pragma once
// The player's settings in memory and in ZarnCD.ini. The record starts all false and 0 at
// program start; the main window's FormCreate fills it from the file, where a missing key yields
// the default. The file is read once per run; the Option dialog's keys are written on OK and the
// rest at exit, each save as one update of the file so that it is never half-written.
#include <cstdint>
#include <optional>
#include <string>

#include <QColor>
#include <QFont>
#include <QString>

#include "profile/ProfileFile.h"

struct TPlayerSettings {
  // What the main window's caption shows.
  bool Title_Bar_TrackNo = false;
  bool Title_Bar_Time = false;
  bool Title_Bar_Artist = false;
  bool Title_Bar_CDTitle = false;
  bool Title_Bar_TrackTitle = false;
  // What the display panel and the see-through window's scrolling line show.
  bool Window_TrackNo = false;
  bool Window_Time = false;
  bool Window_Artist = false;
  bool Window_CDTitle = false;
  bool Window_TrackTitle = false;
  // What the application title (the taskbar text) shows.
  bool Icon_TrackNo = false;
  bool Icon_Time = false;
  bool Icon_Artist = false;
  bool Icon_CDTitle = false;
  bool Icon_TrackTitle = false;

  bool MainForm = false;    // the main window is shown while the see-through window is in use
  bool PlayerMode = false;  // true: tall main window; false: display panel only
  std::int32_t TallHeight = 0;
  std::uint32_t SeeThrough_Font_Color = 0;  // 0x00BBGGRR
  bool SeeThrough_Use = false;
  // [SeeThrough] Live: a translucent see-through window instead of the capture of the screen.
  // Never written, so that files shared with programs that do not know it stay as they are.
  bool SeeThrough_Live = false;
};

// The value every key takes when ZarnCD.ini does not hold it.
TPlayerSettings Default_Player_Settings();

// The settings that live in controls rather than in the record, and their defaults.
namespace disp_default {
constexpr std::int32_t FontSize = 12;          // points
constexpr std::uint32_t FontColor = 0x008000;  // green
// The Japanese name of the gothic face.
inline const QString FontName = QStringLiteral("ＭＳ ゴシック");
// The same name as the file stores it, in code page 932.
inline const std::string FontNameBytes = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";
constexpr std::uint32_t PanelColor = 0x000000;  // black
constexpr bool RepeatDisk = false;
constexpr bool RepeatTrack = false;
}  // namespace disp_default

// Shared by every unit that reads or sets a setting; touched on the GUI thread only.
extern TPlayerSettings PlayerSettings;

// The display panel's font and colours as the file holds them. FontName stays in code page 932,
// so that a name nobody changed goes back into the file byte for byte.
struct TDisplaySettings {
  std::int32_t FontSize = disp_default::FontSize;
  std::uint32_t FontColor = disp_default::FontColor;
  std::string FontName = disp_default::FontNameBytes;
  std::uint32_t PanelColor = disp_default::PanelColor;
};

// Everything FormCreate reads.
struct TStoredSettings {
  TPlayerSettings Player;
  TDisplaySettings Disp;
  bool RepeatDisk = disp_default::RepeatDisk;
  bool RepeatTrack = disp_default::RepeatTrack;
};

// Where ZarnCD.ini lives: beside the executable, or, when that directory is not writable or is
// a system folder (an installed copy), in $XDG_CONFIG_HOME or ~/.config.
std::string Settings_File_Path();
std::string Settings_File_Path_For(const std::string& executableDir);
// Tests point the settings at a file of their own; nullopt returns to the usual place.
void Set_Settings_File_Override(std::optional<std::string> path);

// All reads of FormCreate, from one version of the file, in the order the keys are listed.
TStoredSettings Read_Settings(const ProfileFile::Snapshot& file);

// The 21 keys the Option dialog's OK writes, in the order the exchange writes them.
ProfileFile::Update Option_Settings_Update(const TPlayerSettings& settings,
                                           const TDisplaySettings& disp);
// The five keys written at exit.
ProfileFile::Update Exit_Settings_Update(bool repeatDisk, bool repeatTrack,
                                         const TPlayerSettings& settings);
// Applies one update to the file, creating its directory first (the fallback directory may not
// exist yet). A colour key whose stored value shows as the colour written keeps the stored value
// (see Color_From_Value), so a colour the user did not change is written back exactly as read.
// Raises EProfileError and leaves the file as it was when it cannot be written; the failure is
// then counted and its system reason (strerror) printed on stderr beside the design's message.
void Write_Settings(const std::string& path, const ProfileFile::Update& update);
// How many calls of Write_Settings have failed in this process.
std::uint64_t Settings_Write_Failures();

// [Image] Folder: the folder of the CD image opened last, where the next Open Disc Image dialog
// starts; empty when none was. Read from the file each time, and written at once, in the file
// named (the settings file by default). A write that fails is said on stderr and counted
// nowhere: a forgotten folder is no reason to bother the user or fail the exit.
std::string Image_Folder(const std::string& path = Settings_File_Path());
bool Remember_Image_Folder(const std::string& folder,
                           const std::string& path = Settings_File_Path());

// Colours are stored as Windows stores them: red in the low byte, then green, then blue. A value
// with the high bit set (0x800000nn as Delphi 3 wrote clWindow and the like, or 0xFF0000nn) is
// the Windows system colour nn and shows as the application palette's colour for that role (the
// background of text fields for COLOR_WINDOW, and so on); an index Windows does not know shows
// black, as GetSysColor answers. Other high bytes are ignored. Color_To_Value gives the plain
// red, green and blue of a colour.
QColor Color_From_Value(std::uint32_t value);
// False for a system colour that Windows does not know, which would show black whatever was
// meant; reading the settings takes the key's default for it.
bool Color_Can_Show(std::uint32_t value);
std::uint32_t Color_To_Value(const QColor& color);

// Font sizes are stored in points and the layout is designed in pixels at 96 per inch, whatever
// the screen's resolution, so that the designed pixel layout holds.
int Font_Points_To_Pixels(int points);
int Font_Pixels_To_Points(int pixels);

// The display font for a stored size and name, on the designed font (which keeps its style).
// A size the window system cannot draw (zero, negative or absurdly large) is shown at the
// default size or the largest sensible one; the file keeps what it holds until the user
// confirms a font.
QFont Display_Font(QFont designed, std::int32_t points, const std::string& nameBytes);
// The size in points of a font the program made (pixel-sized) or a font dialog returned.
int Font_Points(const QFont& font);
// The file's bytes for a face name: the bytes it was read from while the name is unchanged,
// else its code page 932 form; a name CP932 cannot hold keeps the previous bytes.
std::string Font_Name_Bytes(const QString& family, const std::string& previousBytes);
