#include "ui/Look.h"

#include <QPainter>
#include <QWidget>

QFont Bold_Font(const QString& family, int pixels) {
  QFont f(family);
  f.setPixelSize(pixels);
  f.setBold(true);
  return f;
}

void Set_Colors(QWidget* w, const QColor& text, const QColor& background) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, text);
  pal.setColor(QPalette::Text, text);
  pal.setColor(QPalette::Window, background);
  pal.setColor(QPalette::Base, background);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

void Draw_Lowered(QPainter& p, const QRect& r) {
  p.setPen(QColor(128, 128, 128));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(QColor(255, 255, 255));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

void TLowered::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  Draw_Lowered(p, rect());
}

QSize TRowHeight::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
}
