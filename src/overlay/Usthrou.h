#pragma once
// The see-through window: a borderless 256 x 48 window that floats over the desktop and shows
// what plays. For now it shows the two lines on black, without the capture of the desktop.
#include <QColor>
#include <QFont>
#include <QWidget>

class QAction;
class QMenu;

class TfrmSeeThrough : public QWidget {
  Q_OBJECT

 public:
  // A font holder: what an invisible label of the form would carry.
  struct FontHolder {
    QFont font;
    QColor color;
  };

  explicit TfrmSeeThrough(QWidget* parent = nullptr);
  ~TfrmSeeThrough() override;

  // Called on every tick of the main window with the two texts and the playing flag.
  void Draw_Info(const QString& displayText, const QString& timeText, bool playing);

  QMenu* PopupMenu = nullptr;
  QAction* pupPlay = nullptr;  // its caption follows the play state, set by the main window

  FontHolder fontTrackTitle;
  FontHolder fontTime;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void FormCreate();
  void FormDestroy();

  QString displayText_, timeText_;
};
