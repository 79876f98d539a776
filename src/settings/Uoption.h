#pragma once
// The Option dialog: which fields the texts show, the display font and colours, and the
// see-through window's colour and use. The main window fills it, shows it modally and, on OK,
// takes the values back; the dialog itself touches no file and no other window.
#include <QColor>
#include <QDialog>
#include <QFont>

#include "settings/PlayerSettings.h"

class QCheckBox;
class QColorDialog;
class QComboBox;
class QFontDialog;
class QGroupBox;
class QLabel;
class QPushButton;

// A font dialog that, like the Windows one, also returns the text colour:
// the toolkit's font chooser with a colour list of the sixteen basic colours below it.
class TFontDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TFontDialog(QWidget* parent = nullptr);

  // The font as the program holds it (pixel-sized, possibly under a substituted name).
  void Set_Font(const QFont& font, const QColor& color);
  QFont Selected_Font() const;
  QColor Selected_Color() const;
  void Set_Color(const QColor& color);

 private:
  friend struct OptionProbe;

  QFontDialog* Fonts = nullptr;
  QComboBox* cmbColor = nullptr;
  QCheckBox* chkBold = nullptr;
  QCheckBox* chkItalic = nullptr;
  QFont initial_;
  QString shownFamily_;  // the installed face the initial font resolved to
};

class TfrmOption : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmOption(QWidget* parent = nullptr);
  ~TfrmOption() override;

  // The fifteen display flags in and out of the three rows of check boxes.
  void Set_Flags(const TPlayerSettings& settings);
  void Get_Flags(TPlayerSettings& settings) const;

  // The display sample: its font (with the font's colour) and its background.
  void Set_Example(const QFont& font, const QColor& fontColor, const QColor& background);
  QFont Example_Font() const;
  QColor Example_Font_Color() const;
  QColor Example_Color() const;
  // The see-through sample's font colour.
  void Set_Example_ST_Color(const QColor& color);
  QColor Example_ST_Color() const;
  // Whether the see-through window is to be used.
  void Set_Use_ST(bool use);
  bool Use_ST() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  friend struct OptionProbe;  // the tests' view of the controls

  void btnSelectFontClick();
  void btnSelectColorClick();
  void btnSelectSTColorClick();
  void Create_Controls();

  QGroupBox* GroupBoxInfo = nullptr;
  QLabel* LabelIconTitle = nullptr;
  QLabel* LabelTitleBar = nullptr;
  QLabel* LabelWindow = nullptr;
  QCheckBox* chkIconTrackNum = nullptr;
  QCheckBox* chkIconTime = nullptr;
  QCheckBox* chkIconArtist = nullptr;
  QCheckBox* chkIconCDTitle = nullptr;
  QCheckBox* chkIconTrackTitle = nullptr;
  QCheckBox* chkBarTrackNum = nullptr;
  QCheckBox* chkBarTime = nullptr;
  QCheckBox* chkBarArtist = nullptr;
  QCheckBox* chkBarCDTitle = nullptr;
  QCheckBox* chkBarTrackTitle = nullptr;
  QCheckBox* chkWinTrackNum = nullptr;
  QCheckBox* chkWinTime = nullptr;
  QCheckBox* chkWinArtist = nullptr;
  QCheckBox* chkWinCDTitle = nullptr;
  QCheckBox* chkWinTrackTitle = nullptr;

  QGroupBox* GroupBoxFont = nullptr;
  QPushButton* btnSelectColor = nullptr;
  QPushButton* btnSelectFont = nullptr;
  QLabel* PanelExample = nullptr;

  QGroupBox* GroupBoxST = nullptr;
  QPushButton* btnSelectSTColor = nullptr;
  QLabel* panelExampleST = nullptr;
  QCheckBox* chkUseST = nullptr;

  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  // The dialogs behind the three buttons, made once and reused; each colour dialog opens with
  // the colour it last returned.
  TFontDialog* FontDialog = nullptr;
  QColorDialog* ColorDialog = nullptr;
  QColorDialog* STColorDialog = nullptr;

  QColor lastColor_ = Qt::black;
  QColor lastSTColor_ = Qt::black;
};
