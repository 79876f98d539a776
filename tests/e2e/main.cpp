// The end-to-end tests run inside an X server of their own; each test starts the other servers.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "support/Servers.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  testsupport::XServer x;
  std::string error;
  if (x.start(&error)) {
    ::setenv("DISPLAY", x.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  } else {
    std::fprintf(stderr, "e2e: %s; using the offscreen platform\n", error.c_str());
  }
  int result;
  {
    QApplication app(argc, argv);
    result = RUN_ALL_TESTS();
  }
  x.stop();
  return result;
}
