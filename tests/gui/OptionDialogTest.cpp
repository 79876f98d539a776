// The Option dialog on its own: its layout and the three dialogs behind its buttons.
#include <gtest/gtest.h>

#include <functional>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "settings/Uoption.h"

namespace {

// Answers a dialog once its modal loop runs. A dialog the answer leaves open is closed, so a
// faulty test fails instead of hanging.
void Answer(QDialog* dialog, std::function<void()> answer) {
  QTimer::singleShot(0, dialog, [dialog, answer] {
    ASSERT_TRUE(dialog->isVisible());
    answer();
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the dialog was left open";
      dialog->reject();
    }
  });
}

void Accept_Color(QColorDialog* dialog, const QColor& color, QColor* shownAtOpening = nullptr) {
  Answer(dialog, [=] {
    if (shownAtOpening) *shownAtOpening = dialog->currentColor();
    dialog->setCurrentColor(color);
    dialog->accept();
  });
}

void Cancel_Color(QColorDialog* dialog, const QColor& tried, QColor* shownAtOpening) {
  Answer(dialog, [=] {
    *shownAtOpening = dialog->currentColor();
    dialog->setCurrentColor(tried);
    dialog->reject();
  });
}

}  // namespace

TEST(OptionDialog, CaptionsFitTheDesignedLayout) {
  TfrmOption option;
  EXPECT_EQ(option.size(), QSize(527, 221));
  EXPECT_EQ(option.windowTitle(), "Option");
  // Arial's metrics are what the designed widths were made for; a caption cut short would mean
  // the font or its substitute went wrong.
  for (QGroupBox* group : {option.GroupBoxInfo, option.GroupBoxFont, option.GroupBoxST}) {
    EXPECT_EQ(group->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    for (QCheckBox* box : group->findChildren<QCheckBox*>()) {
      EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
      EXPECT_LE(box->geometry().right(), group->width() - 4) << box->text().toStdString();
      EXPECT_EQ(box->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    }
    for (QPushButton* b : group->findChildren<QPushButton*>())
      EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, b->width());
  }
  EXPECT_EQ(QFontInfo(option.chkIconTrackNum->font()).family(), "Liberation Sans");
  EXPECT_TRUE(option.chkIconTrackNum->font().bold());

  // Widened captions take no room from the next column.
  const auto boxes = option.GroupBoxInfo->findChildren<QCheckBox*>();
  EXPECT_EQ(boxes.size(), 15);
  for (QCheckBox* a : boxes)
    for (QCheckBox* b : boxes) EXPECT_TRUE(a == b || !a->geometry().intersects(b->geometry()));
  EXPECT_EQ(option.chkUseST->text(), "透けるウィンドウを使用する");
}

TEST(OptionDialog, EachColorDialogOpensWithTheColorItLastReturned) {
  TfrmOption option;
  option.Set_Example(option.Example_Font(), Qt::green, Qt::black);
  option.Set_Example_ST_Color(Qt::yellow);
  QColor opened;

  Accept_Color(option.ColorDialog, Qt::blue, &opened);
  option.btnSelectColorClick();
  EXPECT_EQ(opened, QColor(Qt::black));  // the first time
  EXPECT_EQ(option.Example_Color(), QColor(Qt::blue));
  EXPECT_EQ(option.Example_Font_Color(), QColor(Qt::green));
  EXPECT_EQ(option.Example_ST_Color(), QColor(Qt::yellow));

  // Cancel changes nothing, and the colour tried does not become the remembered one.
  Cancel_Color(option.ColorDialog, Qt::red, &opened);
  option.btnSelectColorClick();
  EXPECT_EQ(opened, QColor(Qt::blue));
  EXPECT_EQ(option.Example_Color(), QColor(Qt::blue));
  Cancel_Color(option.ColorDialog, Qt::red, &opened);
  option.btnSelectColorClick();
  EXPECT_EQ(opened, QColor(Qt::blue));

  // The see-through colour has a dialog and a memory of its own.
  Accept_Color(option.STColorDialog, QColor(255, 128, 0), &opened);
  option.btnSelectSTColorClick();
  EXPECT_EQ(opened, QColor(Qt::black));
  EXPECT_EQ(option.Example_ST_Color(), QColor(255, 128, 0));
  EXPECT_EQ(option.Example_Color(), QColor(Qt::blue));
  Accept_Color(option.STColorDialog, Qt::white, &opened);
  option.btnSelectSTColorClick();
  EXPECT_EQ(opened, QColor(255, 128, 0));
}

TEST(OptionDialog, FontDialogReturnsFaceSizeStyleAndColor) {
  TfrmOption option;
  QFont display(QStringLiteral("ＭＳ ゴシック"));
  display.setPixelSize(16);
  display.setBold(true);
  option.Set_Example(display, QColor(0, 128, 0), Qt::black);

  // The substituted name is shown as the installed face it stands for, at 12 points; keeping
  // that face keeps the stored name.
  QString shownFamily;
  double shownPoints = 0;
  QColor shownColor;
  Answer(option.FontDialog, [&] {
    const QFont f = option.FontDialog->Fonts->currentFont();
    shownFamily = f.family();
    shownPoints = f.pointSizeF();
    shownColor = option.FontDialog->Selected_Color();
    QFont bigger = f;
    bigger.setPointSize(20);
    option.FontDialog->Fonts->setCurrentFont(bigger);
    option.FontDialog->cmbColor->setCurrentText("Red");
    option.FontDialog->accept();
  });
  option.btnSelectFontClick();
  EXPECT_EQ(shownFamily, QFontInfo(display).family());
  EXPECT_EQ(shownPoints, 12);
  EXPECT_EQ(shownColor, QColor(0, 128, 0));
  EXPECT_EQ(option.Example_Font().family(), "ＭＳ ゴシック");
  EXPECT_EQ(option.Example_Font().pixelSize(), 27);
  EXPECT_TRUE(option.Example_Font().bold());
  EXPECT_EQ(option.Example_Font_Color(), QColor(255, 0, 0));
  EXPECT_EQ(option.Example_Color(), QColor(Qt::black));

  // Another face, not bold, in a colour none of the sixteen: the colour stays as it was.
  option.Set_Example(option.Example_Font(), QColor(1, 2, 3), Qt::black);
  Answer(option.FontDialog, [&] {
    QFont f(QStringLiteral("Liberation Serif"));
    f.setPointSize(9);
    option.FontDialog->Fonts->setCurrentFont(f);
    option.FontDialog->accept();
  });
  option.btnSelectFontClick();
  EXPECT_EQ(option.Example_Font().family(), "Liberation Serif");
  EXPECT_EQ(option.Example_Font().pixelSize(), 12);
  EXPECT_FALSE(option.Example_Font().bold());
  EXPECT_EQ(option.Example_Font_Color(), QColor(1, 2, 3));

  // Cancel leaves the sample alone.
  Answer(option.FontDialog, [&] {
    option.FontDialog->Fonts->setCurrentFont(QFont(QStringLiteral("Liberation Sans"), 30));
    option.FontDialog->cmbColor->setCurrentText("Blue");
    option.FontDialog->reject();
  });
  option.btnSelectFontClick();
  EXPECT_EQ(option.Example_Font().family(), "Liberation Serif");
  EXPECT_EQ(option.Example_Font_Color(), QColor(1, 2, 3));
}
