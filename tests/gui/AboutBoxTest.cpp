#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "about/Uabout.h"

struct AboutProbe {
  TAboutBox& w;
  QLabel* ProgramIcon = w.ProgramIcon;
  QPushButton* BitBtn1 = w.BitBtn1;
};

namespace {

TEST(AboutBox, EnterEscapeAndOkEndItWithOk) {
  TAboutBox box;
  AboutProbe ui{box};
  EXPECT_FALSE(ui.ProgramIcon->pixmap().isNull());
  for (int key : {int{Qt::Key_Escape}, int{Qt::Key_Return}, 0}) {
    box.setResult(QDialog::Rejected);
    box.open();
    ASSERT_TRUE(box.isVisible());
    if (key)
      QTest::keyClick(&box, static_cast<Qt::Key>(key));
    else
      QTest::mouseClick(ui.BitBtn1, Qt::LeftButton);
    EXPECT_FALSE(box.isVisible()) << key;
    EXPECT_EQ(box.result(), QDialog::Accepted) << key;
  }
}

}  // namespace
