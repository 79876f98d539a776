#include "overlay/Artwork.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;

// The logo's own palette.
constexpr QRgb kOutline = qRgb(40, 40, 56), kHoleRim = qRgb(128, 128, 136),
               kSilver = qRgb(184, 188, 196), kBrightSilver = qRgb(220, 222, 228),
               kHub = qRgb(236, 240, 244), kShine = qRgb(255, 255, 255),
               kCyan = qRgb(120, 216, 240), kPink = qRgb(236, 150, 220),
               kLemon = qRgb(248, 236, 120), kMint = qRgb(150, 236, 170), kBlue = qRgb(24, 72, 208),
               kRed = qRgb(216, 32, 32), kGreen = qRgb(24, 156, 56), kYellow = qRgb(248, 200, 16);

// The standard palette's greys, which the brackets use.
constexpr QRgb kLightGrey = qRgb(192, 192, 192), kDarkGrey = qRgb(128, 128, 128);

// Builds a picture and its mask from a colour for every pixel; no colour means transparent.
template <typename ColourAt>
TMaskedPicture Masked(int size, ColourAt colourAt) {
  TMaskedPicture art{QImage(size, size, QImage::Format_RGB32),
                     QImage(size, size, QImage::Format_RGB32)};
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const std::optional<QRgb> colour = colourAt(x, y);
      art.picture.setPixel(x, y, colour.value_or(kWhite));
      art.mask.setPixel(x, y, colour ? kWhite : kBlack);
    }
  return art;
}

// The light on the disc's face: two opposite wedges, each a small rainbow, the bright one towards
// the top left where the light comes from.
std::optional<QRgb> Reflection(double angle) {
  constexpr double pi = std::numbers::pi;
  constexpr QRgb bright[] = {kCyan, kShine, kLemon, kPink};
  constexpr QRgb dim[] = {kPink, kLemon, kMint, kCyan};
  for (const auto& [centre, colours] : {std::pair{-3 * pi / 4, bright}, std::pair{pi / 4, dim}}) {
    const double off = std::remainder(angle - centre, 2 * pi);
    if (std::abs(off) < 0.5) return colours[std::clamp(static_cast<int>((off + 0.5) * 4), 0, 3)];
  }
  return std::nullopt;
}

}  // namespace

TMaskedPicture Logo_Artwork() {
  return Masked(32, [](int x, int y) -> std::optional<QRgb> {
    const double dx = x + 0.5 - 16, dy = y + 0.5 - 16;
    const double r = std::hypot(dx, dy);
    if (r < 2.5) return std::nullopt;  // the hole
    if (r < 3.6) return kHoleRim;
    if (r < 6.0) return kHub;
    if (r < 11.6) {
      if (const auto light = Reflection(std::atan2(dy, dx))) return *light;
      return r < 8.0 ? kBrightSilver : kSilver;
    }
    if (r < 12.8) return kOutline;
    if (r < 14.0) return std::nullopt;  // the ring that parts disc and square
    if (x < 1 || y < 1 || x > 30 || y > 30) return std::nullopt;
    if (y < 16) return x < 16 ? kBlue : kRed;
    return x < 16 ? kGreen : kYellow;
  });
}

TMaskedPicture Bracket_Artwork(TCorner corner) {
  const bool top = corner == TCorner::TopLeft || corner == TCorner::TopRight;
  const bool left = corner == TCorner::TopLeft || corner == TCorner::BottomLeft;
  return Masked(16, [top, left](int x, int y) -> std::optional<QRgb> {
    // Lines counted from the window's edge inwards.
    const int fromHorizontalEdge = top ? y : 15 - y;
    const int fromVerticalEdge = left ? x : 15 - x;
    const int line = std::min(fromHorizontalEdge, fromVerticalEdge);
    if (line > 2 || (fromHorizontalEdge == 0 && fromVerticalEdge == 0)) return std::nullopt;
    constexpr QRgb lit[] = {kWhite, kLightGrey, kDarkGrey};
    constexpr QRgb shaded[] = {kDarkGrey, kLightGrey, kWhite};
    // Where the two edges meet, the bottom or right edge's line is drawn over the other.
    const bool onHorizontal =
        fromHorizontalEdge < fromVerticalEdge || (fromHorizontalEdge == fromVerticalEdge && !top);
    const bool litEdge = onHorizontal ? top : left;
    return (litEdge ? lit : shaded)[line];
  });
}

TMaskedPicture Translucent(const TMaskedPicture& art) {
  TMaskedPicture translucent{art.picture.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                             art.mask.convertToFormat(QImage::Format_ARGB32_Premultiplied)};
  QImage& mask = translucent.mask;
  for (int y = 0; y < mask.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(mask.scanLine(y));
    for (int x = 0; x < mask.width(); ++x)
      if (line[x] == kBlack) line[x] = 0;
  }
  return translucent;
}
