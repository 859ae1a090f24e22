#pragma once
// One QApplication for the whole test program, with the platform glue, made
// before the first test and removed after the last.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "platform/qt_glue.h"

namespace vestrel::test {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "vestrel_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    platform::InstallQtGlue();
  }
  void TearDown() override {
    platform::RemoveQtGlue();
    app_.reset();
  }

 private:
  std::unique_ptr<QApplication> app_;
};

// Registered once per test program, whichever files include this header.
inline ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace vestrel::test
