#pragma once
// The Option dialog: which fields the texts show, the display font and colours, and the
// see-through window's colour and use. For now the bare dialog.
#include <QDialog>

class TfrmOption : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmOption(QWidget* parent = nullptr);
  ~TfrmOption() override;
};
