// The Option dialog on its own: its layout and the three dialogs behind its buttons.
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QPushButton>

#include "PlayerFixture.h"
#include "settings/Uoption.h"

namespace {
struct OptionDialog : ::testing::Test {
  // The sample's face, size, boldness and colour.
  QString Sample() const {
    const QFont f = option.Example_Font();
    return f.family() + QString(" %1 %2 ").arg(f.pixelSize()).arg(f.bold()) +
           option.Example_Font_Color().name();
  }
  TfrmOption option;
  OptionProbe ui{option};
};
}  // namespace

// The designed widths were made for Arial's metrics, which its substitute shares; widened
// captions must neither be cut short nor reach into the next column.
TEST_F(OptionDialog, CaptionsFitTheDesignedLayout) {
  EXPECT_EQ(QFontInfo(ui.chkIconTrackNum->font()).family(), "Liberation Sans");
  for (QGroupBox* group : {ui.GroupBoxInfo, ui.GroupBoxFont, ui.GroupBoxST}) {
    const auto boxes = group->findChildren<QCheckBox*>();
    for (QCheckBox* box : boxes) {
      EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
      EXPECT_LE(box->geometry().right(), group->width() - 4) << box->text().toStdString();
      for (QCheckBox* other : boxes)
        EXPECT_TRUE(box == other || !box->geometry().intersects(other->geometry()));
    }
    for (QPushButton* b : group->findChildren<QPushButton*>())
      EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, b->width());
  }
}

TEST_F(OptionDialog, EachColorDialogOpensWithTheColorItLastReturned) {
  option.Set_Example(option.Example_Font(), Qt::green, Qt::black);
  option.Set_Example_ST_Color(Qt::yellow);
  const QColor orange(255, 128, 0);
  // A colour Cancel leaves is not remembered; the see-through colour has a memory of its own.
  const struct {
    bool seeThrough, ok;
    QColor pick, opened, panel, sample;
  } steps[] = {{false, true, Qt::blue, Qt::black, Qt::blue, Qt::yellow},
               {false, false, Qt::red, Qt::blue, Qt::blue, Qt::yellow},
               {false, false, Qt::red, Qt::blue, Qt::blue, Qt::yellow},
               {true, true, orange, Qt::black, Qt::blue, orange},
               {true, true, Qt::white, orange, Qt::blue, Qt::white}};
  for (const auto& s : steps) {
    QColorDialog* dialog = s.seeThrough ? ui.STColorDialog : ui.ColorDialog;
    QColor opened;
    Answer(dialog, [&] {
      opened = dialog->currentColor();
      dialog->setCurrentColor(s.pick);
      s.ok ? dialog->accept() : dialog->reject();
    });
    s.seeThrough ? ui.btnSelectSTColorClick() : ui.btnSelectColorClick();
    EXPECT_EQ(opened, s.opened);
    EXPECT_EQ(option.Example_Color(), s.panel);
    EXPECT_EQ(option.Example_ST_Color(), s.sample);
    EXPECT_EQ(option.Example_Font_Color(), QColor(Qt::green));
  }
}

TEST_F(OptionDialog, FontDialogReturnsFaceSizeStyleAndColor) {
  QFont display(QStringLiteral("ＭＳ ゴシック"));
  display.setPixelSize(16);
  display.setBold(true);
  option.Set_Example(display, QColor(0, 128, 0), Qt::black);
  TFontDialog* dialog = ui.FontDialog;

  // The stored name is shown as the installed face it stands for, at 12 points; keeping that
  // face keeps the stored name.
  Answer(dialog, [&] {
    QFont f = ui.Fonts->currentFont();
    EXPECT_EQ(f.family(), QFontInfo(display).family());
    EXPECT_EQ(f.pointSizeF(), 12);
    EXPECT_EQ(dialog->Selected_Color(), QColor(0, 128, 0));
    f.setPointSize(20);
    ui.Fonts->setCurrentFont(f);
    ui.cmbColor->setCurrentText("Red");
    dialog->accept();
  });
  ui.btnSelectFontClick();
  EXPECT_EQ(Sample(), "ＭＳ ゴシック 27 1 #ff0000");

  // Another face, not bold, in a colour none of the sixteen: the colour stays as it was. Then
  // Cancel leaves the sample alone.
  option.Set_Example(option.Example_Font(), QColor(1, 2, 3), Qt::black);
  for (bool ok : {true, false}) {
    Answer(dialog, [&] {
      ui.Fonts->setCurrentFont(QFont(ok ? "Liberation Serif" : "Liberation Sans", ok ? 9 : 30));
      if (!ok) ui.cmbColor->setCurrentText("Blue");
      ok ? dialog->accept() : dialog->reject();
    });
    ui.btnSelectFontClick();
    EXPECT_EQ(Sample(), "Liberation Serif 12 0 #010203");
  }
}
