#pragma once
// The pictures of the main window's buttons and the program's icon, drawn here at start-up.
// A button picture is 32 x 16: the normal 16 x 16 frame, then a grey one for the disabled
// state. Its bottom-left pixel's colour (olive) is transparent.
#include <QIcon>
#include <QImage>

QImage Glyph_Play();      // green right-pointing triangle
QImage Glyph_Stop();      // red square
QImage Glyph_Previous();  // bar, then a blue left-pointing triangle
QImage Glyph_Next();      // blue right-pointing triangle, then a bar
QImage Glyph_Eject();     // a compact disc
QImage Glyph_Edit();
QImage Glyph_Option();
QImage Glyph_About();

// The button icon of a two-frame picture: the first frame for Normal, the second for Disabled.
QIcon Glyph_Icon(const QImage& pair);

// The program's 32 x 32 picture in 16 colours.
QImage Program_Icon();
