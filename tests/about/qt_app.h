#pragma once
// One QApplication for the whole test program, made on first use.

#include <QApplication>

namespace vestrel::testing {

inline void EnsureApplication() {
  static int argc = 1;
  static char arg0[] = "vestrel_about_tests";
  static char* argv[] = {arg0, nullptr};
  if (!QCoreApplication::instance()) new QApplication(argc, argv);
}

}  // namespace vestrel::testing
