// The window tests need the application object before any widget exists.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/Application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery runs this binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The disc database is looked up under XDG_DATA_HOME: never the user's own.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  Application app(argc, argv);
  return RUN_ALL_TESTS();
}
