#pragma once
// The see-through window's artwork, drawn here in 16 colours: the disc logo and the four corner
// brackets. Each picture comes with a mask of its size: white where the picture is opaque, black
// where the target shows through. The picture is pure white at those pixels, so that putting it
// on a target as OR-copy of the mask, then AND-copy of the picture, leaves the target's pixel
// exactly as it was there and gives the picture's own colour everywhere else.
#include <QImage>

struct TMaskedPicture {
  QImage picture;  // Format_RGB32
  QImage mask;     // Format_RGB32, white or black only
};

// 32 x 32: a compact disc in front of a square of four coloured quarters, blue top left, red top
// right, green bottom left, yellow bottom right. A thin transparent ring parts the disc from the
// corners of the square; the centre hole is transparent too.
TMaskedPicture Logo_Artwork();

// 16 x 16: a bracket for one corner of the window, three lines wide along both edges that meet
// there: white, light grey, dark grey from the outside in along the top and left edges, the
// other way round along the bottom and right ones, so that it looks lit from the top left. The
// outermost corner pixel is transparent.
enum class TCorner { TopLeft, BottomLeft, TopRight, BottomRight };
TMaskedPicture Bracket_Artwork(TCorner corner);

// The same artwork for a translucent window's pictures (Format_ARGB32_Premultiplied): opaque as
// before, but the mask's black is transparent, so that its OR-copy leaves the target's alpha alone.
TMaskedPicture Translucent(const TMaskedPicture& art);
