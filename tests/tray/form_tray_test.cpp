// TrayIcon1 in the main window, over the desktop's notification area.

#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "main_window/main_form.h"
#include "platform/error_box.h"
#include "platform/exceptions.h"
#include "tests/support/qt_environment.h"
#include "tests/support/temp_dir.h"
#include "tray/qt_notify_area.h"
#include "tray/tray_icon.h"

namespace vestrel {
namespace {

class FormTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A port that is not there: FormCreate's failure to open it is not this test's business.
    std::ofstream(folder_ / "Pelmora.ini") << "[MODEM]\r\nCOM Port=/nonexistent/port\r\n";
    previous_ = platform::SetExceptionHandler([](std::exception_ptr) {});
  }
  void TearDown() override { platform::SetExceptionHandler(previous_); }
  TForm1::Options Options() const {
    TForm1::Options options;
    options.folder = folder_;
    return options;
  }

  test::TempDir dir_{"vestrel-tray-form"};
  const std::filesystem::path folder_ = dir_.path();
  platform::ExceptionHandler previous_;
};

TEST_F(FormTrayTest, TrayIcon1IsSetUpAndMinimiseMovesTheWindowThere) {
  TForm1 form(Options());
  ASSERT_TRUE(form.TrayIcon1);
  TTrayIcon& tray = *form.TrayIcon1;
  EXPECT_TRUE(tray.ActOnMinimize());
  EXPECT_EQ(tray.Hint(), "Vestrel");
  EXPECT_FALSE(tray.Icon().Empty());
  EXPECT_FALSE(tray.Visible());
  auto& area = QtNotifyArea::Instance();
  EXPECT_EQ(area.IconOf(&tray.Window(), 0), nullptr);

  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(tray.Visible());
  EXPECT_TRUE(form.isMinimized());
  QSystemTrayIcon* icon = area.IconOf(&tray.Window(), 0);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->toolTip(), "Vestrel");
  // The window leaves the taskbar only where a notification area can bring it back.
  EXPECT_EQ(form.isVisible(), !QSystemTrayIcon::isSystemTrayAvailable());

  emit icon->activated(QSystemTrayIcon::Trigger);
  QCoreApplication::processEvents();
  EXPECT_FALSE(tray.Visible());
  EXPECT_FALSE(form.isMinimized());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(area.IconOf(&tray.Window(), 0), nullptr);

  // Minimised again and the window closed: the icon goes with the window.
  form.showMinimized();
  QCoreApplication::processEvents();
  const TUtilityWindow* window = &tray.Window();
  ASSERT_NE(area.IconOf(window, 0), nullptr);
  form.close();
}

TEST_F(FormTrayTest, DestroyingTheWindowRemovesItsIcon) {
  auto form = std::make_unique<TForm1>(Options());
  const TUtilityWindow* window = &form->TrayIcon1->Window();
  form->show();
  form->TrayIcon1->SetVisible(true);
  ASSERT_NE(QtNotifyArea::Instance().IconOf(window, 0), nullptr);
  form.reset();
  EXPECT_EQ(QtNotifyArea::Instance().IconOf(window, 0), nullptr);
  QCoreApplication::processEvents();
}

// A port error raised while the window is away in the notification area, with
// another window active: the box belongs to the main window, is modal over it
// alone, and the icon still brings the window back with the box over it.
TEST_F(FormTrayTest, AnErrorBoxBelongsToTheWindowAndTheIconStillRestoresIt) {
  TForm1 form(Options());
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.showMinimized();
  QCoreApplication::processEvents();
  TTrayIcon& tray = *form.TrayIcon1;
  ASSERT_TRUE(tray.Visible());
  QWidget other;
  other.show();
  other.activateWindow();
  QCoreApplication::processEvents();

  platform::InstallErrorBoxHandler("Vestrel");
  QWidget* parent = nullptr;
  Qt::WindowModality modality = Qt::NonModal;
  bool restored_under_box = false;
  int boxes = 0;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    ++boxes;
    parent = box->parentWidget();
    modality = box->windowModality();
    // A left press on the icon, as the notification area reports it.
    tray.Window().SendWindowMessage(TTrayIcon::kCallbackMessage, 0, kWmLButtonDown);
    QCoreApplication::processEvents();
    restored_under_box =
        !tray.Visible() && form.isVisible() && !form.isMinimized() && box->isVisible();
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  platform::RunGuarded([] { throw platform::Exception("COM11: port error"); });
  poll.stop();
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(parent, &form);
  EXPECT_EQ(modality, Qt::WindowModal);
  EXPECT_TRUE(restored_under_box);
}

}  // namespace
}  // namespace vestrel
