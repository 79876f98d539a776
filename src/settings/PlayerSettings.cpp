#include "settings/PlayerSettings.h"

#include <cmath>

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
}  // namespace

int Font_Points_To_Pixels(int points) {
  return Mul_Div(points, 96, 72);
}
int Font_Pixels_To_Points(int pixels) {
  return Mul_Div(pixels, 72, 96);
}
