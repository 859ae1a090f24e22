// The Help menu's "О программе..." in the main window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "about/about_box.h"
#include "main_window/main_form.h"
#include "platform/exceptions.h"
#include "tests/support/qt_environment.h"
#include "tests/support/temp_dir.h"

namespace vestrel {
namespace {

TEST(FormAbout, N4ShowsTheAboutBoxModallyAndReturnsWhenItCloses) {
  const test::TempDir dir("vestrel-about-form");
  const auto& folder = dir.path();
  std::ofstream(folder / "Pelmora.ini") << "[MODEM]\r\nCOM Port=/nonexistent/port\r\n";
  const auto previous = platform::SetExceptionHandler([](std::exception_ptr) {});
  {
    TForm1::Options options;
    options.folder = folder;
    TForm1 form(options);
    form.show();

    // Without the box (not made yet) the item does nothing.
    AboutBox = nullptr;
    form.N4Click(form.N4);

    TAboutBox box;
    AboutBox = &box;
    int shown = 0;
    for (int round = 0; round < 2; ++round) {
      QTimer::singleShot(0, &box, [&] {
        if (QApplication::activeModalWidget() == &box && box.isVisible()) ++shown;
        EXPECT_EQ(box.Label2->text(), QString::fromUtf8("Версия: " VESTREL_VERSION));
        QTest::mouseClick(box.Button1, Qt::LeftButton);
      });
      form.N4->trigger();  // returns once the box is closed
      EXPECT_FALSE(box.isVisible());
    }
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(form.isVisible());
    AboutBox = nullptr;
  }
  platform::SetExceptionHandler(previous);
}

}  // namespace
}  // namespace vestrel
