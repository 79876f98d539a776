// The window tests need the application object before any widget exists.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <QFile>
#include <QTemporaryDir>

#include "app/Application.h"
#include "settings/PlayerSettings.h"

namespace {
class Fresh_Settings : public ::testing::EmptyTestEventListener {
 public:
  explicit Fresh_Settings(std::string path) : path_(std::move(path)) {}
  void OnTestStart(const ::testing::TestInfo&) override { std::remove(path_.c_str()); }

 private:
  std::string path_;
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery runs this binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The disc database is looked up under XDG_DATA_HOME: never the user's own.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  // The settings too: one file per test, so that what one test saves at exit (its repeat
  // boxes, say) does not become the next test's start.
  QTemporaryDir config;
  const std::string settings = QFile::encodeName(config.filePath("ZarnCD.ini")).toStdString();
  Set_Settings_File_Override(settings);
  ::testing::UnitTest::GetInstance()->listeners().Append(new Fresh_Settings(settings));
  Application app(argc, argv);
  return RUN_ALL_TESTS();
}
