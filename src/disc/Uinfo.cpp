#include "disc/Uinfo.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QValidator>
#include <QVBoxLayout>

#include "disc/Cp932.h"
#include "ui/Look.h"

namespace {

const QColor kNameColor(0, 128, 0);

void Set_Field_Colors(QWidget* w, const QColor& text) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Text, text);
  pal.setColor(QPalette::Base, Qt::black);
  pal.setColor(QPalette::Highlight, QColor(0, 0, 128));
  pal.setColor(QPalette::HighlightedText, Qt::white);
  w->setPalette(pal);
}

// The most bytes of a name the database gives back whole: it reads at most 1023 bytes of a value.
constexpr int kLongestName = 1023;

// Keeps a name on one line, as a one-line edit control does: a paste or a drop keeps what comes
// before its first line break and loses NUL characters, which no line of the database can hold.
// `cut` is raised when the text had to change.
class TOneLine : public QValidator {
 public:
  TOneLine(QObject* parent, bool& cut) : QValidator(parent), cut_(cut) {}
  State validate(QString& text, int& pos) const override {
    qsizetype end = 0;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    if (end == text.size() && !text.contains(QChar(0))) return Acceptable;
    text.truncate(end);
    pos -= static_cast<int>(text.left(pos).count(QChar(0)));
    text.remove(QChar(0));
    pos = std::min(pos, static_cast<int>(text.size()));
    cut_ = true;
    return Acceptable;
  }

 private:
  bool& cut_;
};

// A name field: one line of at most kLongestName characters. A text the validator cut is still
// the user's change: Qt puts it back as if set from code, which clears the modified flag.
class TNameEdit : public QLineEdit {
 public:
  explicit TNameEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(kLongestName);
    setValidator(new TOneLine(this, cut_));
    connect(this, &QLineEdit::textChanged, this, [this] {
      if (cut_) setModified(true);
      cut_ = false;
    });
  }

 private:
  bool cut_ = false;
};

// The track list. OnClick means "the user chose a row": a plain left press on a row, a drag that
// began as one, or a key. A row selected from code never raises it. Once a row is chosen one
// stays chosen, so the track field always holds the title of the selected row.
class TTrackList : public QListWidget {
 public:
  using QListWidget::QListWidget;
  std::function<void()> OnClick;

 protected:
  // Qt would select on any button, and let a Ctrl+click or a press below the rows deselect,
  // changing the row without the track field following: Modify would then write one track's
  // title into another.
  void mousePressEvent(QMouseEvent* event) override {
    choosing_ = event->button() == Qt::LeftButton &&
                (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
                itemAt(event->position().toPoint());
    if (!choosing_) return;
    QListWidget::mousePressEvent(event);
    if (OnClick) OnClick();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    const bool held = event->buttons() & Qt::LeftButton;
    if (held && (!choosing_ || !itemAt(event->position().toPoint()))) return;
    const int before = currentRow();
    QListWidget::mouseMoveEvent(event);
    if (held && currentRow() != before && currentRow() >= 0 && OnClick) OnClick();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!choosing_ || event->button() != Qt::LeftButton) return;
    QListWidget::mouseReleaseEvent(event);
    choosing_ = false;
  }
  void keyPressEvent(QKeyEvent* event) override {
    const QList<QListWidgetItem*> before = selectedItems();
    QListWidget::keyPressEvent(event);
    // As in a list box, a movement key selects the row it lands on even when the caret stays
    // where it was (Home on a list just filled has its caret on the first row already), and
    // no key (Ctrl+Space) leaves the list without the row that was chosen.
    static constexpr int kMovement[] = {Qt::Key_Up,     Qt::Key_Down,    Qt::Key_Left,
                                        Qt::Key_Right,  Qt::Key_Home,    Qt::Key_End,
                                        Qt::Key_PageUp, Qt::Key_PageDown};
    const bool movement =
        std::find(std::begin(kMovement), std::end(kMovement), event->key()) != std::end(kMovement);
    if (currentItem() && !currentItem()->isSelected() && (movement || !before.isEmpty()))
      setCurrentRow(currentRow(), QItemSelectionModel::ClearAndSelect);
    if (selectedItems() != before && !selectedItems().isEmpty() && OnClick) OnClick();
  }

 private:
  bool choosing_ = false;  // the left button went down on a row and is still held
};

// The bytes to store for a name the dialog shows as `text` and that came in as `original`: the
// original bytes while the user left the name as it was shown, else the text in code page 932;
// nullopt when code page 932 cannot hold it.
std::optional<std::string> Name_Bytes(const QString& text, const std::string& original) {
  if (text == Cp932_To_QString(original)) return original;
  return QString_To_Cp932(text);
}

// The characters of `text` that code page 932 cannot hold, each once. U+FFFD stands for bytes
// that were not valid text when the name was read.
QString Unstorable_Characters(const QString& text) {
  QString found;
  for (qsizetype i = 0; i < text.size();) {
    const qsizetype n =
        text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
    const QString c = text.mid(i, n);
    if (!QString_To_Cp932(c) && !found.contains(c)) found += c;
    i += n;
  }
  return found;
}

}  // namespace

TfrmCDInfo::TfrmCDInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      edited_(std::string()) {
  setWindowTitle(QStringLiteral("CD Information"));
  // The client area; the window manager's frame comes around it.
  setFixedSize(350, 387);
  setFont(Bold_Font(QStringLiteral("Arial"), 13));
  Create_Controls();
}

TfrmCDInfo::~TfrmCDInfo() = default;

void TfrmCDInfo::Create_Controls() {
  const QFont nameFont = Bold_Font(QStringLiteral("ＭＳ ゴシック"), 13);
  auto makePanel = [this](int y, int h) {
    QFrame* panel = new TLowered(this);
    panel->setGeometry(0, y, 350, h);
    return panel;
  };
  auto makeEdit = [&](QWidget* parent, const QRect& r, const QColor& text) {
    auto* edit = new TNameEdit(parent);
    edit->setGeometry(r);
    edit->setFont(nameFont);
    Set_Field_Colors(edit, text);
    return edit;
  };
  auto makeLabel = [](const QString& caption, QWidget* parent, int x, int y) {
    auto* label = new QLabel(caption, parent);
    label->setMargin(0);
    label->setIndent(0);
    label->adjustSize();
    label->move(x, y);
    return label;
  };
  auto makeButton = [this](const QString& caption, int x, int y, int w) {
    auto* b = new QPushButton(caption, panelButton);
    b->setGeometry(x, y, w, 25);
    return b;
  };

  panelTA = makePanel(0, 89);
  Bevel1 = new TLowered(panelTA);
  Bevel1->setGeometry(8, 8, 337, 73);
  Label1 = makeLabel(QStringLiteral("Artist"), panelTA, 16, 16);
  Label2 = makeLabel(QStringLiteral("Title"), panelTA, 16, 48);
  edArtist = makeEdit(panelTA, QRect(56, 16, 281, 21), kNameColor);
  edTitle = makeEdit(panelTA, QRect(56, 48, 281, 21), kNameColor);
  edArtist->setAccessibleName(Label1->text());
  edTitle->setAccessibleName(Label2->text());

  panelTrack = makePanel(89, 231);
  auto* list = new TTrackList(panelTrack);
  listTracks = list;
  listTracks->setAccessibleName(QStringLiteral("Tracks"));
  listTracks->setSelectionMode(QAbstractItemView::SingleSelection);
  listTracks->setFont(nameFont);
  listTracks->setItemDelegate(new TRowHeight(13, listTracks));
  listTracks->setUniformItemSizes(true);
  Set_Field_Colors(listTracks, kNameColor);
  // The bevel's pixel and a border of four around the list.
  auto* trackLayout = new QVBoxLayout(panelTrack);
  trackLayout->setContentsMargins(5, 5, 5, 5);
  trackLayout->addWidget(listTracks);

  panelButton = makePanel(320, 67);
  edTrack = makeEdit(panelButton, QRect(8, 7, 265, 21), Qt::white);
  edTrack->setAccessibleName(QStringLiteral("Track Title"));
  btnModify = makeButton(QStringLiteral("Modify"), 280, 5, 65);
  btnOk = makeButton(QStringLiteral("&OK"), 72, 32, 89);
  btnCancel = makeButton(QStringLiteral("&Cancel"), 176, 32, 89);
  // Enter in a field or the list applies the typed title; a focused button still takes Enter
  // for itself.
  btnModify->setDefault(true);

  setTabOrder(edArtist, edTitle);
  setTabOrder(edTitle, listTracks);
  setTabOrder(listTracks, edTrack);
  setTabOrder(edTrack, btnModify);
  setTabOrder(btnModify, btnCancel);
  setTabOrder(btnCancel, btnOk);

  msgRefused =
      new QMessageBox(QMessageBox::Warning, windowTitle(), QString(), QMessageBox::Ok, this);

  connect(edArtist, &QLineEdit::textChanged, this, [this] { edArtistChange(); });
  connect(edTitle, &QLineEdit::textChanged, this, [this] { edTitleChange(); });
  list->OnClick = [this] { listTracksClick(); };
  connect(btnModify, &QPushButton::clicked, this, [this] { btnModifyClick(); });
  connect(btnOk, &QPushButton::clicked, this, &TfrmCDInfo::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmCDInfo::reject);
}

void TfrmCDInfo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  FormShow();
  if (const QScreen* s = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->geometry().center());
    move(frame.topLeft());
  }
}

void TfrmCDInfo::Copy_In(const CD_Object& disc) {
  edited_ = disc;
  edArtist->setText(Cp932_To_QString(disc.Artist));
  edTitle->setText(Cp932_To_QString(disc.Title));
  const QSignalBlocker quiet(listTracks);
  listTracks->clear();
  for (std::int32_t i = 0; i < disc.Num_Tracks; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const QString title =
        at < disc.Track_Titles.size() ? Cp932_To_QString(disc.Track_Titles[at]) : QString();
    listTracks->addItem(QString::number(i + 1) + QLatin1Char(' ') + title);
  }
}

QString TfrmCDInfo::Get_Track_Title_From_List(int index) const {
  const QListWidgetItem* item = listTracks->item(index);
  if (!item) return {};
  const QString text = item->text();
  const qsizetype space = text.indexOf(QLatin1Char(' '));
  return space < 0 ? text : text.mid(space + 1);
}

int TfrmCDInfo::Selected_Index() const {
  const QList<QListWidgetItem*> selected = listTracks->selectedItems();
  return selected.isEmpty() ? -1 : listTracks->row(selected.first());
}

void TfrmCDInfo::Select_Silently(int index) {
  const QSignalBlocker quiet(listTracks);
  listTracks->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void TfrmCDInfo::FormShow() {
  btnOk->setEnabled(false);
}

void TfrmCDInfo::edArtistChange() {
  btnOk->setEnabled(true);
}

void TfrmCDInfo::edTitleChange() {
  btnOk->setEnabled(true);
}

void TfrmCDInfo::listTracksClick() {
  edTrack->setText(Get_Track_Title_From_List(Selected_Index()));
  edTrack->setModified(false);
}

void TfrmCDInfo::btnModifyClick() {
  const int i = Selected_Index();
  if (i < 0) return;
  if (edTrack->isModified()) btnOk->setEnabled(true);
  listTracks->item(i)->setText(QString::number(i + 1) + QLatin1Char(' ') + edTrack->text());
  const int next = i + 1 < listTracks->count() ? i + 1 : 0;
  Select_Silently(next);
  edTrack->setText(Get_Track_Title_From_List(next));
  edTrack->selectAll();
  edTrack->setModified(false);
}

void TfrmCDInfo::accept() {
  // Each name is converted before any is taken, so a refused one leaves the disc as it came in.
  // The bytes of a name, or nullopt with the reason they cannot be stored put in msgRefused.
  auto storable = [this](const QString& field, const QString& text,
                         const std::string& original) -> std::optional<std::string> {
    std::optional<std::string> bytes = Name_Bytes(text, original);
    if (bytes && bytes->size() <= static_cast<std::size_t>(kLongestName)) return bytes;
    msgRefused->setText(
        bytes ? QStringLiteral("The %1 is too long for the disc database, which keeps %2 bytes of "
                               "it (a Japanese character takes two). Please shorten it.")
                    .arg(field)
                    .arg(kLongestName)
              : QStringLiteral("The %1 cannot be stored in the disc database, which holds "
                               "Japanese (code page 932) text only. Please change these "
                               "characters: %2")
                    .arg(field, Unstorable_Characters(text)));
    return std::nullopt;
  };
  const std::optional<std::string> artist =
      storable(QStringLiteral("artist"), edArtist->text(), edited_.Artist);
  if (!artist) {
    edArtist->setFocus();
    msgRefused->exec();
    return;
  }
  const std::optional<std::string> title =
      storable(QStringLiteral("title"), edTitle->text(), edited_.Title);
  if (!title) {
    edTitle->setFocus();
    msgRefused->exec();
    return;
  }
  std::vector<std::string> titles;
  for (std::int32_t j = 0; j < edited_.Num_Tracks; ++j) {
    const auto at = static_cast<std::size_t>(j);
    std::optional<std::string> bytes =
        storable(QStringLiteral("title of track %1").arg(j + 1), Get_Track_Title_From_List(j),
                 at < edited_.Track_Titles.size() ? edited_.Track_Titles[at] : "");
    if (!bytes) {
      // The refused title goes into the track field, ready to be corrected and applied.
      Select_Silently(j);
      listTracksClick();
      edTrack->setFocus();
      msgRefused->exec();
      return;
    }
    titles.push_back(std::move(*bytes));
  }
  edited_.Artist = *artist;
  edited_.Title = *title;
  edited_.Track_Titles = std::move(titles);
  QDialog::accept();
}
