// The end-to-end tests run inside an X server of their own; each test starts the other servers.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>

#include "support/Servers.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  testsupport::TempDir dir;
  testsupport::ChildProcess x;
  if (const std::string display = testsupport::StartXServer(dir, x); !display.empty())
    ::setenv("DISPLAY", display.c_str(), 1), ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  else
    std::fprintf(stderr, "e2e: Xvfb could not be started; using the offscreen platform\n");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
