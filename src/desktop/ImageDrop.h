#pragma once
// A CD image put into the player from the desktop: a file dropped onto the main window or the
// see-through window, or handed over by a second copy of the program. The image goes in as a
// disc does: the virtual tray opens and closes with it, and the next full refresh identifies it.
#include <string>

#include <QObject>
#include <QString>

class TfrmMain;
class QWidget;
struct PlayerWindows;

// Makes `window` a drop site for image files; a drop that cannot be used is explained in a
// message box and changes nothing.
class Image_Drop_Target : public QObject {
  Q_OBJECT

 public:
  Image_Drop_Target(TfrmMain& main, QWidget& window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TfrmMain& main_;
};

// The message for a file that is no usable image: not waited for after a drop, waited for after
// the open dialog.
void Show_Image_Refusal(QWidget* parent, const QString& error, bool wait = false);

// Makes the main window and the see-through window drop sites; images go in through the main
// window whichever of them they land on.
void Accept_Image_Drops(PlayerWindows& windows);
