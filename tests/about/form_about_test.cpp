// The Help menu's "О программе..." in the main window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <vector>

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

// The program's box: its version line read when the maker is made, the box
// itself at the first N4, the same box at every later one, just as a box made
// at once.
TEST(FormAbout, TheProgramsBoxIsMadeAtItsFirstShowingAndKeptForTheNext) {
  const test::TempDir dir("vestrel-about-maker");
  std::ofstream(dir.path() / "Pelmora.ini") << "[MODEM]\r\nCOM Port=/nonexistent/port\r\n";
  const auto previous = platform::SetExceptionHandler([](std::exception_ptr) {});
  {
    TForm1::Options options;
    options.folder = dir.path();
    TForm1 form(options);
    form.show();
    AboutBox = nullptr;
    TAboutBoxMaker maker(&form);
    AboutBoxMaker = &maker;
    EXPECT_EQ(maker.Made(), nullptr);
    EXPECT_TRUE(form.findChildren<QDialog*>().isEmpty());

    const TAboutBox made_at_once(&form);
    std::vector<TAboutBox*> shown;
    for (int round = 0; round < 2; ++round) {
      QTimer::singleShot(0, &form, [&] {
        auto* box = dynamic_cast<TAboutBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown.push_back(box);
        EXPECT_EQ(box->parentWidget(), &form);
        EXPECT_EQ(box->Label2->text(), made_at_once.Label2->text());
        EXPECT_EQ(box->Label2->size(), made_at_once.Label2->size());
        EXPECT_EQ(box->Button1->geometry(), made_at_once.Button1->geometry());
        EXPECT_EQ(box->OuterWidth(), made_at_once.OuterWidth());
        EXPECT_EQ(box->height(), made_at_once.height());
        QTest::mouseClick(box->Button1, Qt::LeftButton);
      });
      form.N4->trigger();
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0], maker.Made());
    EXPECT_EQ(maker.Made()->Label2->text(), QString::fromUtf8("Версия: " VESTREL_VERSION));
    AboutBoxMaker = nullptr;
  }
  platform::SetExceptionHandler(previous);
}

}  // namespace
}  // namespace vestrel
