// The CD information editor: the artist, the disc title and one title per track of a disc, in a
// modal dialog that the main window fills, shows and reads back (TfrmMain::spdEditClick).
//
// The dialog edits a copy of the disc it was filled with, not the main window's CD_Object: the
// clock keeps running behind the modal dialog and may identify another disc meanwhile, and the
// edits must still reach the entry of the disc they were made for.
//
// Names are code page 932 bytes in the data model and QString in the controls. A name the user
// left as it was shown goes back as the bytes it came from, even bytes that are not valid CP932
// (other programs share the database); a changed name that CP932 cannot hold, or whose bytes are
// more than the database gives back whole, is refused on OK with a message naming the field, and
// the dialog stays open. Each name is one line: a paste keeps only its first line.
#pragma once

#include <QDialog>
#include <QString>

#include "disc/Ucdobj.h"

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPushButton;

class TfrmCDInfo : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmCDInfo(QWidget* parent = nullptr);
  ~TfrmCDInfo() override;

  // The names of `disc` into the controls, no track selected; the dialog keeps a copy of the disc.
  void Copy_In(const CD_Object& disc);
  // The disc as copied in; once the dialog has ended with OK, with the names as the user left them.
  CD_Object& Edited_Disc() { return edited_; }

  // OK: takes the names into the edited disc, or refuses them and stays open.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  friend struct CDInfoProbe;  // the tests' view of the controls

  // The title of the list item at `index`: the text after its first space (all of it when it has
  // none); empty for an index outside the list.
  QString Get_Track_Title_From_List(int index) const;

  // Event handlers.
  void FormShow();
  void edArtistChange();
  void edTitleChange();
  void listTracksClick();
  void btnModifyClick();

  void Create_Controls();
  int Selected_Index() const;
  void Select_Silently(int index);

  QFrame* panelTA = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edArtist = nullptr;
  QLineEdit* edTitle = nullptr;
  QFrame* panelTrack = nullptr;
  QListWidget* listTracks = nullptr;
  QFrame* panelButton = nullptr;
  QLineEdit* edTrack = nullptr;
  QPushButton* btnModify = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
  // Tells which name cannot be stored; made once and reused.
  QMessageBox* msgRefused = nullptr;

  CD_Object edited_;
};
