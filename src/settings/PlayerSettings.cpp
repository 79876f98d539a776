#include "settings/PlayerSettings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QCoreApplication>
#include <QFile>

#include "disc/Cp932.h"

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

std::string Config_Home() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored, or the file would follow the working directory.
  if (config && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  std::string base = (home && home[0]) ? home : "";
  if (base.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) base = pw->pw_dir;
  }
  return base + "/.config";
}

}  // namespace

std::string Settings_File_Path_For(const std::string& executableDir) {
  if (!executableDir.empty() && ::access(executableDir.c_str(), W_OK) == 0)
    return executableDir + "/" + kFileName;
  return Config_Home() + "/" + kFileName;
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

}  // namespace

TStoredSettings Read_Settings(const ProfileFile::Snapshot& file) {
  const TPlayerSettings def = Default_Player_Settings();
  TStoredSettings r;
  TPlayerSettings& s = r.Player;
  Read_Flags(file, kTitleBar, s, def);
  Read_Flags(file, kWindow, s, def);
  Read_Flags(file, kIcon, s, def);

  r.Disp.FontSize = file.Profile_Read_Integer("Disp", "FontSize", disp_default::FontSize);
  r.Disp.FontColor = static_cast<std::uint32_t>(
      file.Profile_Read_Integer("Disp", "FontColor", As_Int(disp_default::FontColor)));
  r.Disp.FontName = file.Profile_Read_String("Disp", "FontName", disp_default::FontNameBytes);
  r.Disp.PanelColor = static_cast<std::uint32_t>(
      file.Profile_Read_Integer("Disp", "PanelColor", As_Int(disp_default::PanelColor)));

  r.RepeatDisk = file.Profile_Read_Bool("Play", "RepeatDisk", disp_default::RepeatDisk);
  r.RepeatTrack = file.Profile_Read_Bool("Play", "RepeatTrack", disp_default::RepeatTrack);

  s.MainForm = file.Profile_Read_Bool("Window", "MainForm", def.MainForm);
  s.PlayerMode = file.Profile_Read_Bool("Window", "PlayerMode", def.PlayerMode);
  s.TallHeight = file.Profile_Read_Integer("Window", "TallHeight", def.TallHeight);
  s.SeeThrough_Font_Color = static_cast<std::uint32_t>(
      file.Profile_Read_Integer("SeeThrough", "FontColor", As_Int(def.SeeThrough_Font_Color)));
  s.SeeThrough_Use = file.Profile_Read_Bool("SeeThrough", "Use", def.SeeThrough_Use);
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

void Write_Settings(const std::string& path, const ProfileFile::Update& update) {
  // Only the fallback directory can be missing. Directories made here are private to the user,
  // as configuration directories should be; failing to make one shows as the write error.
  for (auto slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  ProfileFile(path).Apply(update);
}

// ---------------------------------------------------------------------------------------------
// Colours and fonts

QColor Color_From_Value(std::uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

std::uint32_t Color_To_Value(const QColor& color) {
  return static_cast<std::uint32_t>(color.red()) |
         (static_cast<std::uint32_t>(color.green()) << 8) |
         (static_cast<std::uint32_t>(color.blue()) << 16);
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
  designed.setFamily(Cp932ToQString(nameBytes));
  return designed;
}

int Font_Points(const QFont& font) {
  if (font.pixelSize() > 0) return Font_Pixels_To_Points(font.pixelSize());
  return static_cast<int>(std::lround(font.pointSizeF()));
}

std::string Font_Name_Bytes(const QString& family, const std::string& previousBytes) {
  if (family == Cp932ToQString(previousBytes)) return previousBytes;
  return QStringToCp932(family).value_or(previousBytes);
}
