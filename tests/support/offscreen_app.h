// Test support for the suites of the windows: the one application object of
// the test process, on Qt's offscreen platform.

#ifndef KAV_TESTS_SUPPORT_OFFSCREEN_APP_H_
#define KAV_TESTS_SUPPORT_OFFSCREEN_APP_H_

#include <stdlib.h>

#include <QApplication>

namespace kav::testing {

// Made on first use; the windows draw nowhere.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "kav_windows_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_OFFSCREEN_APP_H_
