#pragma once
// The main window's own controls: the panels with a lowered bevel that show the display line and
// the names, and the track list that tells a user's choice of a row from a row set by the clock.
#include <functional>

#include <QLabel>
#include <QListWidget>

// A panel with a lowered bevel. Its caption is always plain text: disc names are data, never
// markup.
class TMainPanel : public QLabel {
 public:
  explicit TMainPanel(QWidget* parent);
  std::function<void()> OnClick;
  std::function<void()> OnResize;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool pressed_ = false;
};

// The track list. OnClick means "the user chose a row", with the left button or the keyboard;
// a row selected from code never raises it, and other buttons or modified clicks select nothing.
class TMainTrackList : public QListWidget {
 public:
  using QListWidget::QListWidget;
  std::function<void()> OnClick, OnMouseDown, OnMouseUp;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool choosing_ = false;  // the left button went down as a choice and is still held
};
