#pragma once
// The CD information editor: artist, title and track titles of the disc in the drive.
// For now the bare dialog.
#include <QDialog>

class TfrmCDInfo : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmCDInfo(QWidget* parent = nullptr);
  ~TfrmCDInfo() override;
};
