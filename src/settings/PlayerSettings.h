#pragma once
// The player's settings in memory. The record starts all false and 0 at program start; the
// main window's FormCreate fills it from ZarnCD.ini, where a missing key yields the default.
#include <cstdint>

#include <QColor>
#include <QString>

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
};

// The value every key takes when ZarnCD.ini does not hold it.
TPlayerSettings Default_Player_Settings();

// The settings that live in controls rather than in the record, and their defaults.
namespace disp_default {
constexpr std::int32_t FontSize = 12;          // points
constexpr std::uint32_t FontColor = 0x008000;  // green
// The Japanese name of the gothic face, as the file stores it (CP932 82 6C 82 72 20 83 53 ...).
inline const QString FontName = QStringLiteral("ＭＳ ゴシック");
constexpr std::uint32_t PanelColor = 0x000000;  // black
constexpr bool RepeatDisk = false;
constexpr bool RepeatTrack = false;
}  // namespace disp_default

// Shared by every unit that reads or sets a setting; touched on the GUI thread only.
extern TPlayerSettings PlayerSettings;

// Colours are stored with red in the low byte, then green, then blue.
QColor Color_From_Value(std::uint32_t value);
std::uint32_t Color_To_Value(const QColor& color);

// Font sizes are stored in points and the layout is designed in pixels at 96 per inch, whatever
// the screen's resolution, so that the designed pixel layout holds.
int Font_Points_To_Pixels(int points);
int Font_Pixels_To_Points(int pixels);
