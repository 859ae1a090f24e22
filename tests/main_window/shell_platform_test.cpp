// The application title, the error message box and the shell and
// executable-folder layers.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "platform/app_title.h"
#include "platform/cp1251.h"
#include "platform/error_box.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/qt_glue.h"
#include "platform/shell.h"
#include "shell_test_support.h"

namespace vestrel {
namespace {

using platform::Cp1251FromUtf8;

TEST(ApplicationTitle, FileNameCutAtFirstDotRestInLowerCase) {
  EXPECT_EQ(ApplicationTitle("/opt/vestrel/bin/Vestrel"), "Vestrel");
  EXPECT_EQ(ApplicationTitle("/a.b/VESTREL.EXE"), "Vestrel");
  EXPECT_EQ(ApplicationTitle("/a/sms.tool.bin"), "sms");
  EXPECT_EQ(ApplicationTitle("/a/vESTREL"), "vestrel");
  EXPECT_EQ(ApplicationTitle("/a/ПРОГРАММА.exe"), Cp1251FromUtf8("Программа"));
  EXPECT_EQ(ApplicationTitle("/a/.hidden"), "");
  EXPECT_EQ(ApplicationTitle("X"), "X");
}

TEST(ErrorBoxText, DotAppendedOnlyAfterCharactersAboveTheDot) {
  using platform::ErrorBoxText;
  EXPECT_EQ(ErrorBoxText(""), "");
  EXPECT_EQ(ErrorBoxText("Unable to write to /x/Pelmora.ini"),
            "Unable to write to /x/Pelmora.ini.");
  EXPECT_EQ(ErrorBoxText("done."), "done.");
  EXPECT_EQ(ErrorBoxText("what?"), "what?.");  // '?' (63) is above '.' (46)
  EXPECT_EQ(ErrorBoxText("stop!"), "stop!");   // '!' (33) is below
  EXPECT_EQ(ErrorBoxText("a-"), "a-");         // 45
  EXPECT_EQ(ErrorBoxText("a/"), "a/.");        // 47
  const std::string busy = Cp1251FromUtf8("Порт занят другой программой");
  EXPECT_EQ(ErrorBoxText(busy), busy + ".");  // Cyrillic bytes count as unsigned
  EXPECT_EQ(ErrorBoxText("\xFF"), "\xFF.");
}

TEST(ErrorBox, StopIconOneOkButtonCaptionAndPlainText) {
  const std::string text = Cp1251FromUtf8("Порт занят <b>другой</b> программой.");
  auto box = platform::MakeErrorBox(text, "Vestrel");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(box->buttons().size(), 1);
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Vestrel"));
  EXPECT_EQ(box->text(), platform::ToQString(text));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
}

// The installed handler shows a modal box; the test closes it from a timer.
TEST(ErrorBox, HandlerShowsTheMessageWithTheRuleAndTheTitle) {
  const auto previous = platform::SetExceptionHandler({});
  platform::InstallErrorBoxHandler(Cp1251FromUtf8("Вестрел"));
  QString seen_text, seen_title;
  QMessageBox::Icon seen_icon = QMessageBox::NoIcon;
  int shown = 0;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    ++shown;
    seen_text = box->text();
    seen_title = box->windowTitle();
    seen_icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  platform::RunGuarded([] { throw platform::Exception(Cp1251FromUtf8("Ошибка записи в порт")); });
  poll.stop();
  platform::SetExceptionHandler(previous);

  EXPECT_EQ(shown, 1);
  EXPECT_EQ(seen_text, QStringLiteral("Ошибка записи в порт."));
  EXPECT_EQ(seen_title, QStringLiteral("Вестрел"));
  EXPECT_EQ(seen_icon, QMessageBox::Critical);
}

// A device that keeps failing while a box is open raises the same error again
// inside the box's own loop: no second box of that text stacks on the first.
TEST(ErrorBox, ABoxOfTheSameTextIsNotStacked) {
  const auto previous = platform::SetExceptionHandler({});
  platform::InstallErrorBoxHandler("Vestrel");
  const auto fail = [](const char* text) {
    platform::RunGuarded([text] { throw platform::Exception(text); });
  };
  int opened = 0;
  int deepest = 0;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (box->property("seen").isNull()) {
      box->setProperty("seen", true);
      ++opened;
      int open_boxes = 0;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++open_boxes;
      deepest = std::max(deepest, open_boxes);
      if (opened == 1) {
        // Raised inside this box's loop, as a port's report would be.
        QTimer::singleShot(0, [&, box] {
          fail("first");  // dropped while its box is open
          fail("first");
          fail("second");  // another text gets its own box
          box->button(QMessageBox::Ok)->click();
        });
        return;
      }
    }
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  fail("first");
  poll.stop();
  platform::SetExceptionHandler(previous);
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(deepest, 2);
}

TEST(Shell, RequestsGoToTheHookAndTheHookCanBeRemoved) {
  std::vector<platform::ShellRequest> seen;
  auto previous = platform::SetShellHook([&](const platform::ShellRequest& r) {
    seen.push_back(r);
    return true;
  });
  EXPECT_TRUE(platform::ShellOpenFile("/tmp/x y/Подготовка.doc"));
  EXPECT_TRUE(platform::ShellOpenUrl("mailto:a@b.c", "open"));
  auto mine = platform::SetShellHook(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].verb, "open");
  EXPECT_EQ(seen[0].file, std::filesystem::path("/tmp/x y/Подготовка.doc"));
  EXPECT_TRUE(seen[0].url.empty());
  EXPECT_EQ(seen[1].url, "mailto:a@b.c");
  EXPECT_TRUE(seen[1].file.empty());
}

TEST(ExecutableFolder, IsTheBinaryFolderWhateverTheCurrentDirectory) {
  const char* bin_dir = std::getenv("VESTREL_BIN_DIR");
  ASSERT_NE(bin_dir, nullptr) << "run through CTest";
  const auto expected = std::filesystem::canonical(bin_dir);
  const auto before = std::filesystem::current_path();
  test::TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());
  const auto folder = platform::ExecutableFolder();
  const auto exe = platform::ExecutablePath();
  std::filesystem::current_path(before);
  EXPECT_EQ(folder, expected);
  EXPECT_EQ(exe.filename(), "vestrel_shell_platform_tests");
  EXPECT_TRUE(exe.is_absolute());
}

}  // namespace
}  // namespace vestrel
