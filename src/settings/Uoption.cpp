#include "settings/Uoption.h"

#include <algorithm>
#include <array>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "disc/Cp932.h"
#include "ui/Look.h"

namespace {

const QColor kLime(0, 255, 0);
const QColor kYellow(255, 255, 0);

void Set_Text_Color(QWidget* w, const QColor& text) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, text);
  w->setPalette(pal);
}

// The colour list of the font dialog: the sixteen colours every palette has, by name.
struct NamedColor {
  const char* name;
  QRgb rgb;
};
constexpr std::array<NamedColor, 16> kBasicColors = {{
    {"Black", 0x000000},
    {"Maroon", 0x800000},
    {"Green", 0x008000},
    {"Olive", 0x808000},
    {"Navy", 0x000080},
    {"Purple", 0x800080},
    {"Teal", 0x008080},
    {"Gray", 0x808080},
    {"Silver", 0xC0C0C0},
    {"Red", 0xFF0000},
    {"Lime", 0x00FF00},
    {"Yellow", 0xFFFF00},
    {"Blue", 0x0000FF},
    {"Fuchsia", 0xFF00FF},
    {"Aqua", 0x00FFFF},
    {"White", 0xFFFFFF},
}};

QIcon Swatch(const QColor& color) {
  QPixmap pixmap(24, 12);
  pixmap.fill(color);
  QPainter p(&pixmap);
  p.setPen(Qt::black);
  p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
  return QIcon(pixmap);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The font dialog

TFontDialog::TFontDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Font"));
  Fonts = new QFontDialog(this);
  Fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
  Fonts->setWindowFlags(Qt::Widget);
  Fonts->setSizeGripEnabled(false);

  cmbColor = new QComboBox(this);
  for (const NamedColor& c : kBasicColors)
    cmbColor->addItem(Swatch(QColor(c.rgb)), QString::fromLatin1(c.name), QColor(c.rgb));
  auto* colorLabel = new QLabel(QStringLiteral("&Color:"), this);
  colorLabel->setBuddy(cmbColor);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Faces with a single style (the Japanese gothic among them) list no bold in the chooser but
  // are drawn bold all the same, so bold and italic have boxes of their own. The chooser's style
  // list sets them for faces that have real styles.
  chkBold = new QCheckBox(QStringLiteral("&Bold"), this);
  chkItalic = new QCheckBox(QStringLiteral("&Italic"), this);
  connect(Fonts, &QFontDialog::currentFontChanged, this, [this](const QFont& f) {
    if (QFontDatabase::styles(f.family()).size() < 2) return;
    chkBold->setChecked(f.bold());
    chkItalic->setChecked(f.italic());
  });

  auto* colorRow = new QHBoxLayout;
  colorRow->addWidget(chkBold);
  colorRow->addWidget(chkItalic);
  colorRow->addSpacing(16);
  colorRow->addWidget(colorLabel);
  colorRow->addWidget(cmbColor);
  colorRow->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Fonts);
  layout->addLayout(colorRow);
  layout->addWidget(buttons);
}

void TFontDialog::Set_Font(const QFont& font, const QColor& color) {
  initial_ = font;
  // The program's names may be substitutes ("ＭＳ ゴシック"), which the chooser does not list;
  // it shows the face they resolve to instead.
  shownFamily_ = QFontDatabase::hasFamily(font.family()) ? font.family() : QFontInfo(font).family();
  QFont shown(shownFamily_);
  shown.setPointSize(std::max(1, Font_Points(font)));
  shown.setWeight(font.weight());
  shown.setItalic(font.italic());
  shown.setUnderline(font.underline());
  shown.setStrikeOut(font.strikeOut());
  Fonts->setCurrentFont(shown);
  chkBold->setChecked(font.bold());
  chkItalic->setChecked(font.italic());
  Set_Color(color);
}

QFont TFontDialog::Selected_Font() const {
  const QFont chosen = Fonts->currentFont();
  QFont f = initial_;
  // A face left as it was keeps the name it came with, so the file keeps its name too.
  f.setFamily(chosen.family() == shownFamily_ ? initial_.family() : chosen.family());
  f.setPixelSize(Font_Points_To_Pixels(std::max(1, Font_Points(chosen))));
  f.setBold(chkBold->isChecked());
  f.setItalic(chkItalic->isChecked());
  f.setUnderline(chosen.underline());
  f.setStrikeOut(chosen.strikeOut());
  return f;
}

QColor TFontDialog::Selected_Color() const {
  return cmbColor->currentData().value<QColor>();
}

void TFontDialog::Set_Color(const QColor& color) {
  const QColor rgb = color.toRgb();
  for (int i = 0; i < static_cast<int>(kBasicColors.size()); ++i) {
    if (QColor(kBasicColors[static_cast<std::size_t>(i)].rgb) == rgb) {
      while (cmbColor->count() > static_cast<int>(kBasicColors.size()))
        cmbColor->removeItem(cmbColor->count() - 1);
      cmbColor->setCurrentIndex(i);
      return;
    }
  }
  // A colour of the file or of another dialog that is none of the sixteen stays choosable.
  if (cmbColor->count() == static_cast<int>(kBasicColors.size()))
    cmbColor->addItem(QString(), QColor());
  const int custom = cmbColor->count() - 1;
  cmbColor->setItemText(custom, QStringLiteral("Custom"));
  cmbColor->setItemIcon(custom, Swatch(rgb));
  cmbColor->setItemData(custom, rgb);
  cmbColor->setCurrentIndex(custom);
}

// ---------------------------------------------------------------------------------------------
// The Option dialog

TfrmOption::TfrmOption(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Option"));
  setFixedSize(527, 221);
  setFont(Bold_Font(QStringLiteral("Arial"), 13));
  Set_Colors(this, kLime, Qt::black);
  Create_Controls();

  FontDialog = new TFontDialog(this);
  ColorDialog = new QColorDialog(this);
  ColorDialog->setOption(QColorDialog::DontUseNativeDialog);
  STColorDialog = new QColorDialog(this);
  STColorDialog->setOption(QColorDialog::DontUseNativeDialog);
}

TfrmOption::~TfrmOption() = default;

void TfrmOption::Create_Controls() {
  const QFont dialogFont = font();
  const QFont captionFont = Bold_Font(QStringLiteral("ＭＳ ゴシック"), 13);

  // Controls in a group box carry the dialog's font and colour, not the caption's.
  auto makeGroup = [&](const QString& caption, int x, int y, int w, int h) {
    auto* group = new QGroupBox(caption, this);
    group->setGeometry(x, y, w, h);
    group->setFont(captionFont);
    Set_Text_Color(group, kYellow);
    return group;
  };
  auto own = [&](QWidget* w) {
    w->setFont(dialogFont);
    Set_Text_Color(w, kLime);
  };
  // The sample panels show the chosen font and colours on a sunken, black field.
  auto makeSample = [](const QString& text, QWidget* parent, const QRect& r, const QFont& font) {
    auto* sample = new QLabel(text, parent);
    sample->setTextFormat(Qt::PlainText);
    sample->setGeometry(r);
    sample->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    sample->setLineWidth(1);
    sample->setAlignment(Qt::AlignCenter);
    sample->setFont(font);
    Set_Colors(sample, kLime, Qt::black);
    return sample;
  };
  auto makeButton = [&](const QString& caption, QWidget* parent, int x, int y, int w, int h) {
    auto* b = new QPushButton(caption, parent);
    b->setGeometry(x, y, w, h);
    b->setFont(dialogFont);
    // Push buttons draw their captions in the system's button text colour.
    QPalette pal = b->palette();
    pal.setColor(QPalette::ButtonText, Qt::black);
    b->setPalette(pal);
    b->setAutoDefault(false);
    return b;
  };

  GroupBoxInfo = makeGroup(QStringLiteral("表示情報の設定"), 8, 8, 513, 89);
  struct Column {
    const char* caption;
    int x, w;
  };
  constexpr Column columns[5] = {{"Track No.", 88, 81},
                                 {"Time", 184, 57},
                                 {"Artist", 256, 57},
                                 {"CD Title", 328, 73},
                                 {"Track Title", 416, 89}};
  auto makeRow = [&](const QString& label, int y, QLabel*& labelOut,
                     std::array<QCheckBox**, 5> boxes) {
    labelOut = new QLabel(label, GroupBoxInfo);
    own(labelOut);
    // As high as the row's check boxes, so that its caption lines up with theirs.
    labelOut->adjustSize();
    labelOut->setGeometry(16, y, labelOut->width(), 17);
    labelOut->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < 5; ++i) {
      auto* box = new QCheckBox(QString::fromLatin1(columns[i].caption), GroupBoxInfo);
      own(box);
      // The toolkit's check mark takes a few pixels more than the one the layout was drawn
      // with; a caption may take them from the space before the next column.
      box->setGeometry(columns[i].x, y, std::max(columns[i].w, box->sizeHint().width()), 17);
      *boxes[static_cast<std::size_t>(i)] = box;
    }
  };
  makeRow(QStringLiteral("IconTitle"), 16, LabelIconTitle,
          {&chkIconTrackNum, &chkIconTime, &chkIconArtist, &chkIconCDTitle, &chkIconTrackTitle});
  makeRow(QStringLiteral("Title Bar"), 40, LabelTitleBar,
          {&chkBarTrackNum, &chkBarTime, &chkBarArtist, &chkBarCDTitle, &chkBarTrackTitle});
  makeRow(QStringLiteral("Window"), 64, LabelWindow,
          {&chkWinTrackNum, &chkWinTime, &chkWinArtist, &chkWinCDTitle, &chkWinTrackTitle});

  GroupBoxFont = makeGroup(QStringLiteral("表示フォントの設定"), 8, 104, 249, 105);
  btnSelectColor = makeButton(QStringLiteral("Select Color"), GroupBoxFont, 8, 16, 113, 25);
  btnSelectFont = makeButton(QStringLiteral("Select Font"), GroupBoxFont, 128, 16, 113, 25);
  PanelExample = makeSample(QStringLiteral("Display Font 表示フォント"), GroupBoxFont,
                            QRect(8, 48, 233, 49), captionFont);

  GroupBoxST = makeGroup(QStringLiteral("透けるウィンドウの設定"), 264, 104, 257, 73);
  btnSelectSTColor = makeButton(QStringLiteral("Select Font Color"), GroupBoxST, 8, 16, 145, 25);
  panelExampleST =
      makeSample(QStringLiteral("Color/色"), GroupBoxST, QRect(160, 16, 89, 25), dialogFont);
  chkUseST = new QCheckBox(QStringLiteral("透けるウィンドウを使用する"), GroupBoxST);
  own(chkUseST);
  chkUseST->setGeometry(16, 48, 217, 17);

  btnOK = makeButton(QStringLiteral("OK"), this, 304, 184, 81, 25);
  btnOK->setDefault(true);
  btnCancel = makeButton(QStringLiteral("Cancel"), this, 400, 184, 81, 25);

  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnSelectFont, &QPushButton::clicked, this, [this] { btnSelectFontClick(); });
  connect(btnSelectColor, &QPushButton::clicked, this, [this] { btnSelectColorClick(); });
  connect(btnSelectSTColor, &QPushButton::clicked, this, [this] { btnSelectSTColorClick(); });
}

void TfrmOption::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Opens at the centre of the screen, every time.
  if (const QScreen* s = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->geometry().center());
    move(frame.topLeft());
  }
}

void TfrmOption::Set_Flags(const TPlayerSettings& s) {
  chkIconTrackNum->setChecked(s.Icon_TrackNo);
  chkIconTime->setChecked(s.Icon_Time);
  chkIconArtist->setChecked(s.Icon_Artist);
  chkIconCDTitle->setChecked(s.Icon_CDTitle);
  chkIconTrackTitle->setChecked(s.Icon_TrackTitle);
  chkBarTrackNum->setChecked(s.Title_Bar_TrackNo);
  chkBarTime->setChecked(s.Title_Bar_Time);
  chkBarArtist->setChecked(s.Title_Bar_Artist);
  chkBarCDTitle->setChecked(s.Title_Bar_CDTitle);
  chkBarTrackTitle->setChecked(s.Title_Bar_TrackTitle);
  chkWinTrackNum->setChecked(s.Window_TrackNo);
  chkWinTime->setChecked(s.Window_Time);
  chkWinArtist->setChecked(s.Window_Artist);
  chkWinCDTitle->setChecked(s.Window_CDTitle);
  chkWinTrackTitle->setChecked(s.Window_TrackTitle);
}

void TfrmOption::Get_Flags(TPlayerSettings& s) const {
  s.Icon_TrackNo = chkIconTrackNum->isChecked();
  s.Icon_Time = chkIconTime->isChecked();
  s.Icon_Artist = chkIconArtist->isChecked();
  s.Icon_CDTitle = chkIconCDTitle->isChecked();
  s.Icon_TrackTitle = chkIconTrackTitle->isChecked();
  s.Title_Bar_TrackNo = chkBarTrackNum->isChecked();
  s.Title_Bar_Time = chkBarTime->isChecked();
  s.Title_Bar_Artist = chkBarArtist->isChecked();
  s.Title_Bar_CDTitle = chkBarCDTitle->isChecked();
  s.Title_Bar_TrackTitle = chkBarTrackTitle->isChecked();
  s.Window_TrackNo = chkWinTrackNum->isChecked();
  s.Window_Time = chkWinTime->isChecked();
  s.Window_Artist = chkWinArtist->isChecked();
  s.Window_CDTitle = chkWinCDTitle->isChecked();
  s.Window_TrackTitle = chkWinTrackTitle->isChecked();
}

void TfrmOption::Set_Example(const QFont& font, const QColor& fontColor, const QColor& background) {
  PanelExample->setFont(font);
  Set_Colors(PanelExample, fontColor, background);
}

QFont TfrmOption::Example_Font() const {
  return PanelExample->font();
}

QColor TfrmOption::Example_Font_Color() const {
  return PanelExample->palette().color(QPalette::WindowText);
}

QColor TfrmOption::Example_Color() const {
  return PanelExample->palette().color(QPalette::Window);
}

void TfrmOption::Set_Example_ST_Color(const QColor& color) {
  Set_Colors(panelExampleST, color, Qt::black);
}

QColor TfrmOption::Example_ST_Color() const {
  return panelExampleST->palette().color(QPalette::WindowText);
}

void TfrmOption::Set_Use_ST(bool use) {
  chkUseST->setChecked(use);
}

bool TfrmOption::Use_ST() const {
  return chkUseST->isChecked();
}

void TfrmOption::btnSelectFontClick() {
  FontDialog->Set_Font(Example_Font(), Example_Font_Color());
  if (FontDialog->exec() != QDialog::Accepted) return;
  const QFont font = FontDialog->Selected_Font();
  // ZarnCD.ini holds face names in code page 932; a name it cannot hold would be lost.
  if (font.family() != Example_Font().family() && !QString_To_Cp932(font.family())) {
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("The font name \"%1\" cannot be stored in the settings "
                                        "file. Please choose another font.")
                             .arg(font.family()));
    return;
  }
  Set_Example(font, FontDialog->Selected_Color(), Example_Color());
}

void TfrmOption::btnSelectColorClick() {
  ColorDialog->setCurrentColor(lastColor_);
  if (ColorDialog->exec() != QDialog::Accepted) return;
  lastColor_ = ColorDialog->selectedColor();
  Set_Example(Example_Font(), Example_Font_Color(), lastColor_);
}

void TfrmOption::btnSelectSTColorClick() {
  STColorDialog->setCurrentColor(lastSTColor_);
  if (STColorDialog->exec() != QDialog::Accepted) return;
  lastSTColor_ = STColorDialog->selectedColor();
  Set_Example_ST_Color(lastSTColor_);
}
