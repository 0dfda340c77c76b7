// Test main of the window tests: a QApplication on the offscreen platform
// when no other is asked for, the program's regional formats and title, and
// the Qt main loop behind kd::MainThread.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

#include "Qtmainloop.h"
#include "Startup.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  SetRegionalFormats();
  QApplication::setApplicationName(kApplicationTitle);
  TQtMainThread mainThread;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
