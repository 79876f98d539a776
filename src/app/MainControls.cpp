#include "app/MainControls.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/Look.h"

TMainPanel::TMainPanel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setContentsMargins(1, 1, 1, 1);
  setIndent(0);
  setMargin(0);
}

void TMainPanel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  QPainter p(this);
  Draw_Lowered(p, rect());
}

void TMainPanel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void TMainPanel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  if (click && OnClick) OnClick();
}

// A double click is one click: the press that comes as a double click is the label's press but
// starts no click (Qt would run this class's press handler again, and its release would click a
// second time).
void TMainPanel::mouseDoubleClickEvent(QMouseEvent* event) {
  pressed_ = false;
  QLabel::mousePressEvent(event);
}

void TMainPanel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  if (OnResize) OnResize();
}

namespace {
// The user's choice of a row: the left button without modifiers. Qt would otherwise select on
// any button and let Ctrl+click deselect, changing the highlight without choosing a track.
bool Is_Choice(const QMouseEvent* event) {
  return event->button() == Qt::LeftButton &&
         (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}
}  // namespace

// Windows list boxes report a choice on the press that makes it, Click before MouseDown.
void TMainTrackList::mousePressEvent(QMouseEvent* event) {
  choosing_ = Is_Choice(event);
  if (choosing_) {
    QListWidget::mousePressEvent(event);
    if (itemAt(event->position().toPoint()) && OnClick) OnClick();
  }
  if (OnMouseDown) OnMouseDown();
}

void TMainTrackList::mouseMoveEvent(QMouseEvent* event) {
  // A drag that did not start as a choice must not select the rows it crosses.
  if ((event->buttons() & Qt::LeftButton) && !choosing_) return;
  const int before = currentRow();
  QListWidget::mouseMoveEvent(event);
  if ((event->buttons() & Qt::LeftButton) && currentRow() != before && currentRow() >= 0 && OnClick)
    OnClick();
}

void TMainTrackList::mouseReleaseEvent(QMouseEvent* event) {
  if (choosing_ && event->button() == Qt::LeftButton) {
    QListWidget::mouseReleaseEvent(event);
    choosing_ = false;
  }
  if (OnMouseUp) OnMouseUp();
}

void TMainTrackList::keyPressEvent(QKeyEvent* event) {
  const int before = currentRow();
  QListWidget::keyPressEvent(event);
  if (currentRow() != before && currentRow() >= 0 && OnClick) OnClick();
}
