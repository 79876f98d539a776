#pragma once
// The About box: the program's name, version and maker.
#include <QDialog>

class QLabel;
class QPushButton;
class QFrame;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);
  ~TAboutBox() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:

  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* Maker = nullptr;
  QLabel* Contact = nullptr;
  QPushButton* BitBtn1 = nullptr;
};
