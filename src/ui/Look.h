#pragma once
// The look every window of the player shares: bold captions in fixed pixel sizes, green or white
// text on black, and the one-pixel lowered edge of panels and bevels.
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QStyledItemDelegate>

class QPainter;
class QWidget;

// A bold font of `family` at a size in pixels, as the windows were laid out in pixels.
QFont Bold_Font(const QString& family, int pixels);

// Text and background of a widget, for labels (WindowText on Window) and for edit fields and
// lists (Text on Base) alike.
void Set_Colors(QWidget* w, const QColor& text, const QColor& background);

// A lowered edge one pixel wide: shadow above and left, light below and right.
void Draw_Lowered(QPainter& p, const QRect& r);

// A bevel or panel drawn with the lowered edge over its own contents.
class TLowered : public QFrame {
 public:
  using QFrame::QFrame;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// List rows of a fixed height in pixels, whatever the font asks for.
class TRowHeight : public QStyledItemDelegate {
 public:
  TRowHeight(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  int height_;
};
