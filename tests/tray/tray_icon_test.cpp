#include "tray/tray_icon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <memory>

#include "platform/cp1251.h"
#include "tests/support/qt_environment.h"
#include "tests/tray/tray_fakes.h"
#include "tray/program_icon.h"
#include "tray/qt_notify_area.h"
#include "tray/qt_tray_application.h"

#include <QSystemTrayIcon>

namespace vestrel {
namespace {

using test::RecordingApplication;
using test::RecordingNotifyArea;

class TrayIconTest : public ::testing::Test {
 protected:
  // TrayIcon1 as the main window sets it up.
  std::unique_ptr<TTrayIcon> MakeTrayIcon1() {
    auto tray = std::make_unique<TTrayIcon>(nullptr, area, app);
    tray->SetActOnMinimize(true);
    tray->SetHint("Vestrel");
    tray->SetIcon(ProgramIcon());
    return tray;
  }

  // What the desktop sends when the mouse does something on the icon.
  static void Mouse(TTrayIcon& tray, std::intptr_t mouse_message) {
    const auto& data = tray.IconData();
    data.hWnd->SendWindowMessage(data.uCallbackMessage, data.uID, mouse_message);
  }

  RecordingNotifyArea area;
  RecordingApplication app;
};

TEST_F(TrayIconTest, StartsHiddenWithTheRecordFilledIn) {
  TTrayIcon bare(nullptr, area, app);
  EXPECT_FALSE(bare.Visible());
  EXPECT_FALSE(bare.ActOnMinimize());
  EXPECT_EQ(bare.Hint(), "Vestrel_tests");  // the application title
  EXPECT_TRUE(bare.Icon().Empty());
  EXPECT_EQ(bare.PopupMenu(), nullptr);
  const auto& data = bare.IconData();
  EXPECT_EQ(data.cbSize, 88u);
  EXPECT_EQ(data.hWnd, &bare.Window());
  EXPECT_EQ(data.uID, 0u);
  EXPECT_EQ(data.uFlags, 7u);
  EXPECT_EQ(data.uCallbackMessage, 1025u);

  auto tray = MakeTrayIcon1();
  // Nothing reached the desktop: the icon and hint were set while not visible.
  EXPECT_TRUE(area.calls.empty());
  EXPECT_TRUE(app.taskbar_entry);
  EXPECT_FALSE(app.minimized);
  EXPECT_EQ(tray->IconData().Tip(), "Vestrel");
  EXPECT_FALSE(tray->IconData().hIcon.isNull());
}

TEST_F(TrayIconTest, MinimiseMovesIntoTheTrayAndLeftPressBringsItBack) {
  auto tray = MakeTrayIcon1();
  app.UserMinimize();
  ASSERT_EQ(area.Messages(), std::vector<std::uint32_t>{kNimAdd});
  EXPECT_TRUE(area.calls[0].result);
  EXPECT_EQ(area.calls[0].data.Tip(), "Vestrel");
  EXPECT_EQ(area.calls[0].data.uFlags, 7u);
  EXPECT_FALSE(area.calls[0].data.hIcon.isNull());
  EXPECT_TRUE(tray->Visible());
  EXPECT_TRUE(app.minimized);
  EXPECT_FALSE(app.taskbar_entry);

  // Releases, moves, double clicks and the middle button change nothing.
  for (auto m : {kWmLButtonUp, kWmMouseMove, kWmLButtonDblClk, kWmRButtonUp, kWmMButtonDown}) {
    const auto& data = tray->IconData();
    EXPECT_EQ(data.hWnd->SendWindowMessage(1025, 0, m), 0);
  }
  EXPECT_EQ(area.calls.size(), 1u);
  EXPECT_TRUE(tray->Visible());

  app.log.clear();
  Mouse(*tray, kWmLButtonDown);
  EXPECT_EQ(area.Messages(), (std::vector<std::uint32_t>{kNimAdd, kNimDelete}));
  EXPECT_TRUE(area.calls[1].result);
  EXPECT_TRUE(area.icons.empty());
  EXPECT_FALSE(tray->Visible());
  EXPECT_TRUE(app.taskbar_entry);
  EXPECT_FALSE(app.minimized);
  EXPECT_EQ(app.log, (std::vector<std::string>{"show-entry", "restore"}));

  // And again: every minimise goes to the tray.
  app.UserMinimize();
  EXPECT_EQ(area.Messages().back(), kNimAdd);
  EXPECT_TRUE(tray->Visible());
}

TEST_F(TrayIconTest, RightPressOpensThePopupMenuOnlyWhenThereIsOne) {
  auto tray = MakeTrayIcon1();
  app.UserMinimize();
  Mouse(*tray, kWmRButtonDown);
  EXPECT_TRUE(app.popups.empty());
  EXPECT_EQ(area.calls.size(), 1u);
  EXPECT_TRUE(tray->Visible());

  QMenu menu;
  menu.addAction("one");
  menu.addAction("two");
  menu.addAction("three");
  tray->SetPopupMenu(&menu);
  Mouse(*tray, kWmRButtonDown);
  ASSERT_EQ(app.popups.size(), 1u);
  EXPECT_EQ(app.popups[0].first, &menu);
  // Three lines of 19 pixels above the cursor at (500, 700).
  EXPECT_EQ(app.popups[0].second, QPoint(500, 700 - 3 * 19));
  EXPECT_TRUE(tray->Visible());
  QCoreApplication::processEvents();  // the posted kWmNull goes through quietly
}

TEST_F(TrayIconTest, TipIsCutTo63Characters) {
  auto tray = MakeTrayIcon1();
  std::string hint;
  for (int i = 0; i < 70; ++i) hint += static_cast<char>('A' + i % 26);
  hint.replace(0, 1, platform::Cp1251FromUtf8("Ж"));
  tray->SetHint(hint);
  EXPECT_EQ(tray->Hint(), hint);
  tray->SetVisible(true);
  ASSERT_EQ(area.calls.size(), 1u);
  EXPECT_EQ(area.calls[0].data.Tip(), hint.substr(0, 63));
  EXPECT_EQ(area.calls[0].data.szTip[63], '\0');

  // A shorter hint afterwards leaves nothing of the longer one behind.
  tray->SetHint("Vestrel");
  EXPECT_EQ(area.calls.back().data.Tip(), "Vestrel");
}

TEST_F(TrayIconTest, VisibleOnRestoredWindowMinimisesAndHidesTheEntry) {
  auto tray = MakeTrayIcon1();
  tray->SetVisible(true);
  EXPECT_TRUE(app.minimized);
  EXPECT_FALSE(app.taskbar_entry);
  // The minimise it caused does not add a second icon.
  EXPECT_EQ(area.Messages(), std::vector<std::uint32_t>{kNimAdd});
  EXPECT_EQ(app.log, (std::vector<std::string>{"minimize", "hide-entry"}));

  tray->SetVisible(true);  // the current value: nothing
  EXPECT_EQ(area.calls.size(), 1u);
  tray->SetVisible(false);
  EXPECT_EQ(area.Messages(), (std::vector<std::uint32_t>{kNimAdd, kNimDelete}));
  EXPECT_FALSE(app.minimized);
  EXPECT_TRUE(app.taskbar_entry);
}

TEST_F(TrayIconTest, HintAndIconChangesReachTheDesktopOnlyWhileVisible) {
  auto tray = MakeTrayIcon1();
  tray->SetHint("Other");
  tray->SetIcon(QIcon());
  EXPECT_TRUE(area.calls.empty());
  EXPECT_EQ(tray->IconData().Tip(), "Other");
  EXPECT_TRUE(tray->IconData().hIcon.isNull());

  tray->SetVisible(true);
  tray->SetHint("Other");  // unchanged: nothing
  EXPECT_EQ(area.calls.size(), 1u);
  tray->SetHint("Vestrel");
  ASSERT_EQ(area.Messages(), (std::vector<std::uint32_t>{kNimAdd, kNimModify}));
  EXPECT_TRUE(area.calls[1].result);
  EXPECT_EQ(area.calls[1].data.Tip(), "Vestrel");
  tray->SetIcon(ProgramIcon());
  ASSERT_EQ(area.Messages().back(), kNimModify);
  EXPECT_FALSE(area.calls.back().data.hIcon.isNull());
}

TEST_F(TrayIconTest, MinimiseWithoutActOnMinimizeButIconShownHidesTheEntryAgain) {
  TTrayIcon tray(nullptr, area, app);  // ActOnMinimize false
  app.UserMinimize();
  EXPECT_TRUE(area.calls.empty());  // false == false: nothing
  EXPECT_TRUE(app.taskbar_entry);
  app.Restore();

  // Showing minimises, and that minimise (false != true) shows once more; the
  // second add fails quietly.
  tray.SetVisible(true);
  ASSERT_EQ(area.Messages(), (std::vector<std::uint32_t>{kNimAdd, kNimAdd}));
  EXPECT_TRUE(area.calls[0].result);
  EXPECT_FALSE(area.calls[1].result);

  app.Restore();  // brought back by other means, icon still shown
  app.ShowTaskbarEntry(true);
  app.UserMinimize();
  EXPECT_EQ(area.Messages().size(), 3u);
  EXPECT_FALSE(area.calls[2].result);
  EXPECT_FALSE(app.taskbar_entry);
  EXPECT_TRUE(app.minimized);
  EXPECT_TRUE(tray.Visible());
}

TEST_F(TrayIconTest, DestructionDeletesTheIconAndDetachesFromMinimise) {
  auto tray = MakeTrayIcon1();
  app.UserMinimize();
  tray.reset();
  EXPECT_EQ(area.Messages(), (std::vector<std::uint32_t>{kNimAdd, kNimDelete}));
  EXPECT_TRUE(area.icons.empty());
  EXPECT_TRUE(app.taskbar_entry);
  EXPECT_FALSE(app.minimized);
  EXPECT_FALSE(app.on_minimize);

  // Also when no icon is shown: a delete that fails quietly.
  auto other = MakeTrayIcon1();
  other.reset();
  EXPECT_EQ(area.Messages().back(), kNimDelete);
  EXPECT_FALSE(area.calls.back().result);
  app.UserMinimize();  // no handler left to run
  EXPECT_EQ(area.calls.size(), 3u);
}

TEST_F(TrayIconTest, WithoutNotificationAreaTheWindowKeepsItsTaskbarEntry) {
  area.available = false;
  auto tray = MakeTrayIcon1();
  app.UserMinimize();
  EXPECT_TRUE(app.minimized);
  EXPECT_TRUE(app.taskbar_entry);
}

TEST_F(TrayIconTest, OtherMessagesOfTheHiddenWindowGetTheDefaultAnswer) {
  auto tray = MakeTrayIcon1();
  tray->SetVisible(true);
  // kWmLButtonDown as a message of its own, not as the callback: not a click on the icon.
  EXPECT_EQ(tray->Window().SendWindowMessage(513, 0, 0), 0);
  EXPECT_EQ(tray->Window().SendWindowMessage(1026, 0, kWmLButtonDown), 0);
  EXPECT_TRUE(tray->Visible());
  // A posted callback arrives through the event loop.
  tray->Window().PostWindowMessage(1025, 0, kWmLButtonDown);
  EXPECT_TRUE(tray->Visible());
  QCoreApplication::processEvents();
  EXPECT_FALSE(tray->Visible());
}

// The same component over a real main window, as the program uses it.
TEST_F(TrayIconTest, RealMainWindowMinimiseHidesAndLeftPressRestores) {
  QMainWindow window;
  window.setWindowTitle("Vestrel");
  window.resize(300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QtTrayApplication qt_app(&window);
  {
    TTrayIcon tray(nullptr, area, qt_app);
    tray.SetActOnMinimize(true);
    tray.SetHint("Vestrel");
    tray.SetIcon(ProgramIcon());

    window.showMinimized();
    QCoreApplication::processEvents();
    ASSERT_EQ(area.Messages(), std::vector<std::uint32_t>{kNimAdd});
    EXPECT_EQ(area.calls[0].data.Tip(), "Vestrel");
    EXPECT_TRUE(tray.Visible());
    EXPECT_TRUE(window.isMinimized());
    EXPECT_FALSE(window.isVisible());  // the taskbar entry is gone with it

    Mouse(tray, kWmLButtonDown);
    QCoreApplication::processEvents();
    EXPECT_EQ(area.Messages().back(), kNimDelete);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_FALSE(tray.Visible());

    tray.SetVisible(true);  // on the restored window
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isMinimized());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(area.Messages(), (std::vector<std::uint32_t>{kNimAdd, kNimDelete, kNimAdd}));
  }
  // Destruction brought the window back.
  EXPECT_EQ(area.Messages().back(), kNimDelete);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
}

// A message box closed while the main window is in the notification area is
// not the last window of the program closing.
TEST_F(TrayIconTest, ClosingAMessageBoxWhileInTheTrayDoesNotEndTheProgram) {
  QMainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QtTrayApplication qt_app(&window);
  TTrayIcon tray(nullptr, area, qt_app);
  tray.SetVisible(true);
  ASSERT_FALSE(window.isVisible());
  QTimer::singleShot(0, [] {
    QMessageBox box(QMessageBox::Critical, "Vestrel", "message", QMessageBox::Ok);
    QTimer::singleShot(0, &box, [&box] { box.accept(); });
    box.exec();
  });
  // Time enough for a quit that the closed box would cause to end the loop first.
  QTimer::singleShot(200, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 7);  // 0: the closed box ended the program

  tray.SetVisible(false);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
}

// A close request for the main window while it is in the notification area
// ends the program, as it does for the shown window.
TEST_F(TrayIconTest, CloseRequestWhileInTheTrayEndsTheProgram) {
  QMainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QtTrayApplication qt_app(&window);
  TTrayIcon tray(nullptr, area, qt_app);
  tray.SetVisible(true);
  ASSERT_FALSE(window.isVisible());
  QTimer::singleShot(0, &window, [&window] { window.close(); });
  QTimer guard;  // ends a loop that the close failed to end
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  guard.start(30000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
  // The icon goes at program end; the closed window stays closed.
  tray.SetVisible(false);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(TrayIconTest, ClosedMainWindowStaysClosedWhenTheComponentGoes) {
  QMainWindow window;
  window.show();
  QtTrayApplication qt_app(&window);
  {
    TTrayIcon tray(nullptr, area, qt_app);
    window.close();
  }
  EXPECT_FALSE(window.isVisible());
}

TEST_F(TrayIconTest, DesktopApplicationTitleComesFromTheExecutable) {
  QMainWindow window;
  QtTrayApplication qt_app(&window);
  EXPECT_EQ(qt_app.Title(), "vestrel_tray_tests");
}

}  // namespace
}  // namespace vestrel

namespace vestrel {
namespace {

// The desktop side: QSystemTrayIcon per icon, clicks sent to the hidden window.
TEST_F(TrayIconTest, DesktopNotifyAreaKeepsIconsAndReportsClicks) {
  QtNotifyArea desktop;
  TTrayIcon tray(nullptr, desktop, app);
  tray.SetActOnMinimize(true);
  tray.SetHint(platform::Cp1251FromUtf8("Vestrel — СМС"));
  tray.SetIcon(ProgramIcon());
  const TUtilityWindow* window = &tray.Window();
  EXPECT_EQ(desktop.IconOf(window, 0), nullptr);

  tray.SetVisible(true);
  QSystemTrayIcon* icon = desktop.IconOf(window, 0);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->toolTip(), QString::fromUtf8("Vestrel — СМС"));
  EXPECT_FALSE(icon->icon().isNull());
  EXPECT_FALSE(desktop.ShellNotifyIcon(kNimAdd, tray.IconData()));  // already there
  tray.SetHint("Vestrel");
  EXPECT_EQ(icon->toolTip(), "Vestrel");

  // A right click without a menu and a double click leave the icon in place.
  emit icon->activated(QSystemTrayIcon::Context);
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(tray.Visible());
  EXPECT_EQ(desktop.IconOf(window, 0), icon);

  // A left click removes it, from inside the icon's own signal.
  emit icon->activated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(tray.Visible());
  EXPECT_EQ(desktop.IconOf(window, 0), nullptr);
  EXPECT_FALSE(app.minimized);
  EXPECT_FALSE(desktop.ShellNotifyIcon(kNimDelete, tray.IconData()));
  EXPECT_FALSE(desktop.ShellNotifyIcon(kNimModify, tray.IconData()));
  QCoreApplication::processEvents();  // the removed icon is deleted now
}

}  // namespace
}  // namespace vestrel
