#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/Application.h"
#include "disc/Ucdobj.h"
#include "settings/PlayerSettings.h"

struct Fresh_Files : ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    std::remove(Settings_File_Path().c_str());
    std::remove(Disc_Database_Path().c_str());
  }
};

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery runs this binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never the user's own disc database or settings.
  QTemporaryDir data, config;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  Set_Settings_File_Override(QFile::encodeName(config.filePath("ZarnCD.ini")).toStdString());
  ::testing::UnitTest::GetInstance()->listeners().Append(new Fresh_Files);
  Application app(argc, argv);
  return RUN_ALL_TESTS();
}
