#include "settings/PlayerSettings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>

#include "disc/Cp932.h"
#include "log/Log.h"
#include "profile/ProfilePaths.h"

TPlayerSettings PlayerSettings;

TPlayerSettings Default_Player_Settings() {
  TPlayerSettings s;
  s.Title_Bar_Artist = true;
  s.Title_Bar_CDTitle = true;
  s.Window_CDTitle = true;
  s.Window_TrackTitle = true;
  s.Icon_TrackNo = true;
  s.Icon_TrackTitle = true;
  s.MainForm = true;
  s.PlayerMode = true;
  s.TallHeight = 450;
  s.SeeThrough_Font_Color = 0x00FFFF;  // yellow
  s.SeeThrough_Use = true;
  return s;
}

// ---------------------------------------------------------------------------------------------
// Where the file lives

namespace {

std::optional<std::string> Override;

const char kFileName[] = "ZarnCD.ini";

// The folders of installed programs: root may write there, but a settings file has no place
// beside /usr/bin/zarncd.
bool Is_System_Folder(const std::string& dir) {
  if (dir == "/bin" || dir == "/sbin") return true;
  for (const char* prefix : {"/usr/", "/opt/"})
    if (dir.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace

std::string Settings_File_Path_For(const std::string& executableDir) {
  if (!executableDir.empty() && !Is_System_Folder(executableDir) &&
      ::access(executableDir.c_str(), W_OK) == 0)
    return executableDir + "/" + kFileName;
  return Xdg_Base_Directory("XDG_CONFIG_HOME", ".config") + "/" + kFileName;
}

std::string Settings_File_Path() {
  if (Override) return *Override;
  return Settings_File_Path_For(
      QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
}

void Set_Settings_File_Override(std::optional<std::string> path) {
  Override = std::move(path);
}

// ---------------------------------------------------------------------------------------------
// Keys

namespace {

// The five display fields of one section, in the order they are read and written.
struct FlagKeys {
  const char* section;
  bool TPlayerSettings::*fields[5];
};
const char* const kFieldKeys[5] = {"TrackNo", "Time", "Artist", "CDTitle", "TrackTitle"};

const FlagKeys kTitleBar = {
    "Title_Bar",
    {&TPlayerSettings::Title_Bar_TrackNo, &TPlayerSettings::Title_Bar_Time,
     &TPlayerSettings::Title_Bar_Artist, &TPlayerSettings::Title_Bar_CDTitle,
     &TPlayerSettings::Title_Bar_TrackTitle}};
const FlagKeys kWindow = {"Window",
                          {&TPlayerSettings::Window_TrackNo, &TPlayerSettings::Window_Time,
                           &TPlayerSettings::Window_Artist, &TPlayerSettings::Window_CDTitle,
                           &TPlayerSettings::Window_TrackTitle}};
const FlagKeys kIcon = {
    "Icon",
    {&TPlayerSettings::Icon_TrackNo, &TPlayerSettings::Icon_Time, &TPlayerSettings::Icon_Artist,
     &TPlayerSettings::Icon_CDTitle, &TPlayerSettings::Icon_TrackTitle}};

void Read_Flags(const ProfileFile::Snapshot& file, const FlagKeys& keys, TPlayerSettings& s,
                const TPlayerSettings& def) {
  for (int i = 0; i < 5; ++i)
    s.*keys.fields[i] = file.Profile_Read_Bool(keys.section, kFieldKeys[i], def.*keys.fields[i]);
}

void Write_Flags(ProfileFile::Update& u, const FlagKeys& keys, const TPlayerSettings& s) {
  for (int i = 0; i < 5; ++i) u.Profile_Write_Bool(keys.section, kFieldKeys[i], s.*keys.fields[i]);
}

std::int32_t As_Int(std::uint32_t color) {
  return static_cast<std::int32_t>(color);
}

// A colour key's value, or its default when the value is a colour the program cannot show: one
// that would come out black whatever the user chose, and hide the texts on the black panel.
std::uint32_t Read_Color(const ProfileFile::Snapshot& file, const char* section, const char* key,
                         std::uint32_t def) {
  const auto value =
      static_cast<std::uint32_t>(file.Profile_Read_Integer(section, key, As_Int(def)));
  return Color_Can_Show(value) ? value : def;
}

}  // namespace

TStoredSettings Read_Settings(const ProfileFile::Snapshot& file) {
  const TPlayerSettings def = Default_Player_Settings();
  TStoredSettings r;
  TPlayerSettings& s = r.Player;
  Read_Flags(file, kTitleBar, s, def);
  Read_Flags(file, kWindow, s, def);
  Read_Flags(file, kIcon, s, def);

  r.Disp.FontSize = file.Profile_Read_Integer("Disp", "FontSize", disp_default::FontSize);
  r.Disp.FontColor = Read_Color(file, "Disp", "FontColor", disp_default::FontColor);
  r.Disp.FontName = file.Profile_Read_String("Disp", "FontName", disp_default::FontNameBytes);
  r.Disp.PanelColor = Read_Color(file, "Disp", "PanelColor", disp_default::PanelColor);

  r.RepeatDisk = file.Profile_Read_Bool("Play", "RepeatDisk", disp_default::RepeatDisk);
  r.RepeatTrack = file.Profile_Read_Bool("Play", "RepeatTrack", disp_default::RepeatTrack);

  s.MainForm = file.Profile_Read_Bool("Window", "MainForm", def.MainForm);
  s.PlayerMode = file.Profile_Read_Bool("Window", "PlayerMode", def.PlayerMode);
  s.TallHeight = file.Profile_Read_Integer("Window", "TallHeight", def.TallHeight);
  s.SeeThrough_Font_Color = Read_Color(file, "SeeThrough", "FontColor", def.SeeThrough_Font_Color);
  s.SeeThrough_Use = file.Profile_Read_Bool("SeeThrough", "Use", def.SeeThrough_Use);
  s.SeeThrough_Live = file.Profile_Read_Bool("SeeThrough", "Live", def.SeeThrough_Live);
  return r;
}

ProfileFile::Update Option_Settings_Update(const TPlayerSettings& s, const TDisplaySettings& disp) {
  ProfileFile::Update u;
  Write_Flags(u, kTitleBar, s);
  Write_Flags(u, kWindow, s);
  u.Profile_Write_Integer("Disp", "FontSize", disp.FontSize);
  u.Profile_Write_Integer("Disp", "FontColor", As_Int(disp.FontColor));
  u.Profile_Write_String("Disp", "FontName", disp.FontName);
  u.Profile_Write_Integer("Disp", "PanelColor", As_Int(disp.PanelColor));
  Write_Flags(u, kIcon, s);
  u.Profile_Write_Integer("SeeThrough", "FontColor", As_Int(s.SeeThrough_Font_Color));
  u.Profile_Write_Bool("SeeThrough", "Use", s.SeeThrough_Use);
  return u;
}

ProfileFile::Update Exit_Settings_Update(bool repeatDisk, bool repeatTrack,
                                         const TPlayerSettings& s) {
  ProfileFile::Update u;
  u.Profile_Write_Bool("Play", "RepeatDisk", repeatDisk);
  u.Profile_Write_Bool("Play", "RepeatTrack", repeatTrack);
  u.Profile_Write_Integer("Window", "TallHeight", s.TallHeight);
  u.Profile_Write_Bool("Window", "MainForm", s.MainForm);
  u.Profile_Write_Bool("Window", "PlayerMode", s.PlayerMode);
  return u;
}

namespace {

// The keys that hold colours: a colour the user left as it was shown stays as the file holds it.
constexpr std::pair<const char*, const char*> kColorKeys[] = {
    {"Disp", "FontColor"}, {"Disp", "PanelColor"}, {"SeeThrough", "FontColor"}};

bool Is_Color_Key(const ProfileWrite& w) {
  for (const auto& [section, key] : kColorKeys)
    if (w.section == section && w.key == key) return true;
  return false;
}

// The update without the colour writes that would only lose what the file holds: a stored value
// that shows as the colour written (a system colour such as 0x80000005, bits above the colour,
// or the same colour spelt another way, such as $FF for 255) stays as it is. The windows hold
// colours as red, green and blue, so this is how a colour the user did not change goes back into
// the file exactly as it was read. A missing or unreadable value is written as usual.
ProfileFile::Update Keep_Stored_Colors(const ProfileFile::Update& update,
                                       const ProfileFile::Snapshot& current) {
  ProfileFile::Update kept;
  for (const auto& w : update.writes()) {
    if (Is_Color_Key(w)) {
      const auto written = Profile_Str_To_Int(w.value);
      // Two different defaults tell a stored number from a missing or unreadable value.
      const std::int32_t stored = current.Profile_Read_Integer(w.section, w.key, 0);
      const bool present = current.Profile_Read_Integer(w.section, w.key, 1) == stored;
      if (written && present &&
          Color_To_Value(Color_From_Value(static_cast<std::uint32_t>(stored))) ==
              static_cast<std::uint32_t>(*written))
        continue;
    }
    kept.Profile_Write_String(w.section, w.key, w.value);
  }
  return kept;
}

std::atomic<std::uint64_t> Write_Failures{0};

}  // namespace

void Write_Settings(const std::string& path, const ProfileFile::Update& update) {
  try {
    // Only the fallback directory can be missing.
    With_Parent_Folders(path, [&] {
      ProfileFile(path).Apply([&](const ProfileFile::Snapshot& current) {
        return Keep_Stored_Colors(update, current);
      });
    });
  } catch (const EProfileError& e) {
    ++Write_Failures;
    // The report shows the design's text; the system's reason goes beside it on stderr.
    qCWarning(lcSettings, "%s: %s", e.what(), std::strerror(e.error() ? e.error() : EIO));
    throw;
  }
}

std::uint64_t Settings_Write_Failures() {
  return Write_Failures.load();
}

std::string Image_Folder(const std::string& path) {
  return ProfileFile(path).Profile_Read_String("Image", "Folder", "");
}

bool Remember_Image_Folder(const std::string& folder, const std::string& path) {
  try {
    With_Parent_Folders(path,
                        [&] { ProfileFile(path).Profile_Write_String("Image", "Folder", folder); });
    return true;
  } catch (const EProfileError& e) {
    qCWarning(lcSettings, "the image folder is not remembered: %s: %s", e.path().c_str(),
              std::strerror(e.error() ? e.error() : EIO));
    return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Colours and fonts

namespace {

// The palette colour that stands for each Windows system colour (the COLOR_* index of GetSysColor).
struct System_Color {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};
constexpr QPalette::ColorGroup kActive = QPalette::Active, kDisabled = QPalette::Disabled;
constexpr System_Color kSystemColors[] = {
    {kActive, QPalette::Button},           // 0 COLOR_SCROLLBAR
    {kActive, QPalette::Dark},             // 1 COLOR_BACKGROUND (the desktop)
    {kActive, QPalette::Highlight},        // 2 COLOR_ACTIVECAPTION
    {kActive, QPalette::Mid},              // 3 COLOR_INACTIVECAPTION
    {kActive, QPalette::Window},           // 4 COLOR_MENU
    {kActive, QPalette::Base},             // 5 COLOR_WINDOW (the background of text fields)
    {kActive, QPalette::Shadow},           // 6 COLOR_WINDOWFRAME
    {kActive, QPalette::WindowText},       // 7 COLOR_MENUTEXT
    {kActive, QPalette::Text},             // 8 COLOR_WINDOWTEXT
    {kActive, QPalette::HighlightedText},  // 9 COLOR_CAPTIONTEXT
    {kActive, QPalette::Button},           // 10 COLOR_ACTIVEBORDER
    {kActive, QPalette::Button},           // 11 COLOR_INACTIVEBORDER
    {kActive, QPalette::Dark},             // 12 COLOR_APPWORKSPACE
    {kActive, QPalette::Highlight},        // 13 COLOR_HIGHLIGHT
    {kActive, QPalette::HighlightedText},  // 14 COLOR_HIGHLIGHTTEXT
    {kActive, QPalette::Window},           // 15 COLOR_BTNFACE (dialogs and forms)
    {kActive, QPalette::Dark},             // 16 COLOR_BTNSHADOW
    {kDisabled, QPalette::Text},           // 17 COLOR_GRAYTEXT
    {kActive, QPalette::ButtonText},       // 18 COLOR_BTNTEXT
    {kDisabled, QPalette::WindowText},     // 19 COLOR_INACTIVECAPTIONTEXT
    {kActive, QPalette::Light},            // 20 COLOR_BTNHIGHLIGHT
    {kActive, QPalette::Shadow},           // 21 COLOR_3DDKSHADOW
    {kActive, QPalette::Midlight},         // 22 COLOR_3DLIGHT
    {kActive, QPalette::ToolTipText},      // 23 COLOR_INFOTEXT
    {kActive, QPalette::ToolTipBase},      // 24 COLOR_INFOBK
    {kActive, QPalette::NoRole},           // 25 (none: GetSysColor answers 0)
    {kActive, QPalette::Link},             // 26 COLOR_HOTLIGHT
    {kActive, QPalette::Highlight},        // 27 COLOR_GRADIENTACTIVECAPTION
    {kActive, QPalette::Mid},              // 28 COLOR_GRADIENTINACTIVECAPTION
    {kActive, QPalette::Highlight},        // 29 COLOR_MENUHILIGHT
    {kActive, QPalette::Window},           // 30 COLOR_MENUBAR
};

}  // namespace

bool Color_Can_Show(std::uint32_t value) {
  if (!(value & 0x80000000u)) return true;
  const std::uint32_t index = value & 0xFF;
  return index < std::size(kSystemColors) && kSystemColors[index].role != QPalette::NoRole;
}

QColor Color_From_Value(std::uint32_t value) {
  if (value & 0x80000000u) {
    // A system colour, as the VCL's ColorToRGB takes every negative value: index in the low byte.
    if (!Color_Can_Show(value)) return QColor(0, 0, 0);  // as GetSysColor answers an unknown index
    const System_Color c = kSystemColors[value & 0xFF];
    return QGuiApplication::palette().color(c.group, c.role).toRgb();
  }
  // Otherwise the low three bytes are red, green and blue, whatever the high byte says (Windows
  // takes 0x02bbggrr, a palette-relative colour, as that colour too).
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

std::uint32_t Color_To_Value(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<std::uint32_t>(rgb.red()) | (static_cast<std::uint32_t>(rgb.green()) << 8) |
         (static_cast<std::uint32_t>(rgb.blue()) << 16);
}

namespace {
// Rounds a * b / c to the nearest integer, halves away from zero, without overflow.
int Mul_Div(int a, int b, int c) {
  return static_cast<int>(std::llround(static_cast<double>(a) * b / c));
}

// Beyond this a glyph no longer fits any screen, and rasterising it costs memory for nothing.
constexpr std::int32_t kLargestPoints = 1000;
}  // namespace

int Font_Points_To_Pixels(int points) {
  return Mul_Div(points, 96, 72);
}
int Font_Pixels_To_Points(int pixels) {
  return Mul_Div(pixels, 72, 96);
}

QFont Display_Font(QFont designed, std::int32_t points, const std::string& nameBytes) {
  if (points <= 0) points = disp_default::FontSize;
  designed.setPixelSize(Font_Points_To_Pixels(std::min(points, kLargestPoints)));
  designed.setFamily(Cp932_To_QString(nameBytes));
  return designed;
}

int Font_Points(const QFont& font) {
  if (font.pixelSize() > 0) return Font_Pixels_To_Points(font.pixelSize());
  return static_cast<int>(std::lround(font.pointSizeF()));
}

std::string Font_Name_Bytes(const QString& family, const std::string& previousBytes) {
  if (family == Cp932_To_QString(previousBytes)) return previousBytes;
  return QString_To_Cp932(family).value_or(previousBytes);
}
