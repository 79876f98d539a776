#include "app/Glyphs.h"

#include <cmath>

#include <QBitmap>
#include <QPainter>
#include <QPixmap>

namespace {

// The sixteen colours every picture is drawn in.
const QColor kBlack(0, 0, 0), kMaroon(128, 0, 0), kGreen(0, 128, 0), kOlive(128, 128, 0),
    kNavy(0, 0, 128), kPurple(128, 0, 128), kTeal(0, 128, 128), kGray(128, 128, 128),
    kSilver(192, 192, 192), kRed(255, 0, 0), kLime(0, 255, 0), kYellow(255, 255, 0),
    kBlue(0, 0, 255), kFuchsia(255, 0, 255), kAqua(0, 255, 255), kWhite(255, 255, 255);

constexpr int kFrame = 16;

void Put(QImage& img, int x, int y, const QColor& c) {
  if (x >= 0 && y >= 0 && x < img.width() && y < img.height()) img.setPixelColor(x, y, c);
}

void Fill(QImage& img, int x0, int y0, int x1, int y1, const QColor& c) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) Put(img, x, y, c);
}

// A triangle whose base is the column baseX and whose tip lies `depth` columns away
// (to the right when dir is +1), symmetrical about row 7.5: outline in `edge`, inside `fill`.
void Triangle(QImage& img, int baseX, int dir, int depth, const QColor& fill, const QColor& edge) {
  for (int i = 0; i <= depth; ++i) {
    const int x = baseX + dir * i;
    const int half = (depth - i) * 5 / depth;  // rows above the middle pair
    const int top = 7 - half, bottom = 8 + half;
    for (int y = top; y <= bottom; ++y) {
      const bool border = i == 0 || i == depth || y == top || y == bottom;
      Put(img, x, y, border ? edge : fill);
    }
  }
}

// A disc of radius r around (cx, cy) with a hole: a dark rim, a silver face with a few
// coloured reflections, and the hole left in the background colour.
void Disc(QImage& img, double cx, double cy, double r, double hole, const QColor& background) {
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      const double d = std::sqrt(dx * dx + dy * dy);
      if (d > r) continue;
      QColor c = kSilver;
      if (d > r - 1.0) {
        c = kGray;
      } else if (d < hole) {
        c = background;
      } else if (d < hole + 1.0) {
        c = kGray;
      } else {
        // Light catches the face along two opposite wedges, as on a real disc.
        const double a = std::atan2(dy, dx);
        if (a > -2.4 && a < -2.0) c = kAqua;
        if (a > -2.0 && a < -1.7) c = kWhite;
        if (a > -1.7 && a < -1.4) c = kYellow;
        if (a > 0.7 && a < 1.0) c = kFuchsia;
        if (a > 1.0 && a < 1.3) c = kWhite;
        if (a > 1.3 && a < 1.6) c = kAqua;
      }
      Put(img, x, y, c);
    }
  }
}

QImage Blank(int w, int h, const QColor& c) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(c);
  return img;
}

// Puts the grey frame beside the normal one: every opaque pixel of the normal frame becomes
// grey, with a white copy one pixel down and right, so the disabled shape looks pressed in.
QImage Pair(const QImage& normal) {
  QImage pair = Blank(2 * kFrame, kFrame, kOlive);
  for (int y = 0; y < kFrame; ++y)
    for (int x = 0; x < kFrame; ++x) {
      pair.setPixelColor(x, y, normal.pixelColor(x, y));
      if (normal.pixelColor(x, y) != kOlive) Put(pair, kFrame + x + 1, y + 1, kWhite);
    }
  for (int y = 0; y < kFrame; ++y)
    for (int x = 0; x < kFrame; ++x)
      if (normal.pixelColor(x, y) != kOlive) pair.setPixelColor(kFrame + x, y, kGray);
  // The bottom-left pixel names the transparent colour, so it must stay olive.
  pair.setPixelColor(0, kFrame - 1, kOlive);
  return pair;
}

QPixmap Masked(const QImage& frame, const QColor& transparent) {
  QPixmap pm = QPixmap::fromImage(frame);
  pm.setMask(QBitmap::fromImage(frame.createMaskFromColor(transparent.rgb(), Qt::MaskInColor)));
  return pm;
}

}  // namespace

QImage Glyph_Play() {
  QImage f = Blank(kFrame, kFrame, kOlive);
  Triangle(f, 5, +1, 6, kLime, kGreen);
  return Pair(f);
}

QImage Glyph_Stop() {
  QImage f = Blank(kFrame, kFrame, kOlive);
  Fill(f, 4, 4, 11, 11, kMaroon);
  Fill(f, 5, 5, 10, 10, kRed);
  return Pair(f);
}

QImage Glyph_Previous() {
  QImage f = Blank(kFrame, kFrame, kOlive);
  Fill(f, 3, 2, 4, 13, kNavy);
  Triangle(f, 12, -1, 6, kBlue, kNavy);
  return Pair(f);
}

QImage Glyph_Next() {
  QImage f = Blank(kFrame, kFrame, kOlive);
  Triangle(f, 3, +1, 6, kBlue, kNavy);
  Fill(f, 11, 2, 12, 13, kNavy);
  return Pair(f);
}

QImage Glyph_Eject() {
  QImage f = Blank(kFrame, kFrame, kOlive);
  Disc(f, 8.0, 8.0, 7.0, 1.6, kOlive);
  return Pair(f);
}

QImage Glyph_Edit() {
  // A sheet with lines of text and a pencil across its corner.
  QImage f = Blank(kFrame, kFrame, kOlive);
  Fill(f, 2, 1, 11, 14, kBlack);
  Fill(f, 3, 2, 10, 13, kWhite);
  for (int y = 4; y <= 12; y += 2) Fill(f, 4, y, 9, y, kNavy);
  for (int i = 0; i < 8; ++i) {
    Put(f, 14 - i, 5 + i, kYellow);
    Put(f, 15 - i, 5 + i, kMaroon);
    Put(f, 14 - i, 4 + i, kMaroon);
  }
  Put(f, 6, 13, kBlack);
  return Pair(f);
}

QImage Glyph_Option() {
  // Three sliders at different settings.
  QImage f = Blank(kFrame, kFrame, kOlive);
  const int knobs[3] = {4, 10, 7};
  for (int i = 0; i < 3; ++i) {
    const int y = 3 + 5 * i;
    Fill(f, 1, y, 14, y, kBlack);
    Fill(f, knobs[i] - 1, y - 2, knobs[i] + 1, y + 2, kTeal);
    Fill(f, knobs[i], y - 1, knobs[i], y + 1, kAqua);
  }
  return Pair(f);
}

QImage Glyph_About() {
  // A blue roundel with a white letter i.
  QImage f = Blank(kFrame, kFrame, kOlive);
  for (int y = 0; y < kFrame; ++y)
    for (int x = 0; x < kFrame; ++x) {
      const double dx = x + 0.5 - 8, dy = y + 0.5 - 8;
      const double d = std::sqrt(dx * dx + dy * dy);
      if (d <= 7.0) Put(f, x, y, d > 6.0 ? kNavy : kBlue);
    }
  Fill(f, 7, 3, 8, 4, kWhite);
  Fill(f, 7, 6, 8, 12, kWhite);
  Fill(f, 6, 6, 6, 6, kWhite);
  Fill(f, 6, 12, 9, 12, kWhite);
  return Pair(f);
}

QIcon Glyph_Icon(const QImage& pair) {
  const QColor transparent = pair.pixelColor(0, pair.height() - 1);
  const int w = pair.width() / 2;
  QIcon icon;
  icon.addPixmap(Masked(pair.copy(0, 0, w, pair.height()), transparent), QIcon::Normal);
  icon.addPixmap(Masked(pair.copy(w, 0, w, pair.height()), transparent), QIcon::Disabled);
  return icon;
}

QImage Program_Icon() {
  // A little black player: a disc on the left, a green display line and a play mark.
  QImage img = Blank(32, 32, kBlack);
  Fill(img, 0, 0, 31, 0, kGray);
  Fill(img, 0, 0, 0, 31, kGray);
  Fill(img, 0, 31, 31, 31, kWhite);
  Fill(img, 31, 0, 31, 31, kWhite);
  Disc(img, 13.0, 15.0, 11.0, 2.5, kBlack);
  Fill(img, 3, 28, 19, 29, kGreen);
  for (int i = 0; i <= 5; ++i) Fill(img, 22 + i, 19 + i, 22 + i, 29 - i, kLime);
  return img;
}
