#include "about/Uabout.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "Version.h"

namespace {

// A black panel with a raised inner bevel inside a lowered outer one.
class BevelFrame : public QFrame {
 public:
  using QFrame::QFrame;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QColor shadow(128, 128, 128), light(255, 255, 255);
    auto bevel = [&](QRect r, const QColor& topLeft, const QColor& bottomRight) {
      p.setPen(topLeft);
      p.drawLine(r.topLeft(), r.topRight());
      p.drawLine(r.topLeft(), r.bottomLeft());
      p.setPen(bottomRight);
      p.drawLine(r.bottomLeft(), r.bottomRight());
      p.drawLine(r.topRight(), r.bottomRight());
    };
    bevel(rect(), shadow, light);
    bevel(rect().adjusted(1, 1, -1, -1), light, shadow);
  }
};

QFont Arial_Bold(int pixels) {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(pixels);
  f.setBold(true);
  return f;
}

QLabel* Make_Label(QWidget* parent, const QString& text, int x, int y, int pixels,
                   const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setFont(Arial_Bold(pixels));
  label->setContentsMargins(0, 0, 0, 0);
  label->setMargin(0);
  label->setIndent(0);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, color);
  label->setPalette(pal);
  label->adjustSize();
  label->move(x, y);
  return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("バージョン情報"));
  setFixedSize(390, 167);
  setFont(Arial_Bold(13));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);

  Panel1 = new BevelFrame(this);
  Panel1->setGeometry(11, 11, 366, 110);
  Panel1->setAutoFillBackground(true);

  // The program's own 32 x 32 picture, stretched pixel for pixel as a 16-colour bitmap would be.
  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setGeometry(11, 11, 90, 86);
  const QPixmap icon = QApplication::windowIcon().pixmap(32, 32);
  if (!icon.isNull())
    ProgramIcon->setPixmap(icon.scaled(90, 86, Qt::IgnoreAspectRatio, Qt::FastTransformation));

  Label1 = Make_Label(Panel1, QStringLiteral("zarn's"), 120, 8, 13, QColor(255, 255, 0));
  ProductName = Make_Label(Panel1, QStringLiteral("CDPlayer"), 114, 22, 29, QColor(0, 255, 0));
  Version =
      Make_Label(Panel1, QStringLiteral("Ver " ZARNCD_VERSION), 242, 32, 16, QColor(0, 255, 0));
  Maker = Make_Label(Panel1, QStringLiteral("by zarn"), 115, 55, 19, Qt::white);
  Contact =
      Make_Label(Panel1, QStringLiteral("Reports: see the README file"), 115, 80, 13, Qt::white);
  Contact->setWordWrap(true);
  Contact->setFixedWidth(213);
  Contact->adjustSize();

  BitBtn1 = new QPushButton(QStringLiteral("&OK"), this);
  BitBtn1->setGeometry(160, 136, 75, 25);
  BitBtn1->setDefault(true);
  QPalette buttonPal = BitBtn1->palette();
  buttonPal.setColor(QPalette::ButtonText, Qt::black);
  BitBtn1->setPalette(buttonPal);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->geometry().center());
    move(frame.topLeft());
  }
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
  // OK is the cancel button as well, so Escape ends the dialog with OK.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    BitBtn1->click();
    return;
  }
  QDialog::keyPressEvent(event);
}
