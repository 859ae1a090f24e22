// The built program's notification-area icon under a window manager with a
// notification area.

#include <gtest/gtest.h>

#include "tests/main_window/desktop_session.h"

namespace vestrel {
namespace {

using test::DesktopSession;
using test::Rect;
using test::WaitUntil;
using test::WindowId;

// Minimises the main window from outside, as its title bar does, and waits
// until the program has gone to the notification area.
WindowId MinimiseToTray(DesktopSession& desktop, WindowId main) {
  desktop.Minimise(main);
  WindowId icon = 0;
  WaitUntil([&] {
    icon = desktop.TrayIcon();
    return icon && !desktop.Viewable(main);
  });
  return desktop.Viewable(main) ? 0 : icon;
}

TEST(DesktopTray, LeftPressOnTheIconRestoresTheWindowWhileTheAboutBoxIsOpen) {
  if (const auto missing = DesktopSession::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  DesktopSession desktop;
  const auto main = desktop.StartProgram();
  ASSERT_NE(main, 0u) << "the main window did not appear";
  const auto box = desktop.OpenAboutBox(main);
  ASSERT_NE(box, 0u) << "the About box did not appear";

  const auto icon = MinimiseToTray(desktop, main);
  ASSERT_NE(icon, 0u) << "the program did not go to the notification area";
  const Rect at = desktop.Client(icon);
  desktop.Click(at.x + at.width / 2, at.y + at.height / 2);

  EXPECT_TRUE(WaitUntil([&] { return desktop.Viewable(main); }))
      << "the main window did not come back";
  EXPECT_TRUE(WaitUntil([&] { return desktop.TrayIcon() == 0; })) << "the icon stayed";
  // The box is still open over the window, has the keyboard, and Ok still closes it.
  ASSERT_TRUE(WaitUntil([&] { return desktop.Viewable(box) && desktop.Focused(box); }))
      << "the About box did not come back on top";
  desktop.Keys({"Return"});
  EXPECT_TRUE(WaitUntil([&] { return !desktop.Viewable(box); }));
}

// A port error that comes while the program is in the notification area: the
// icon still answers, bringing the window back with the box over it.
TEST(DesktopTray, LeftPressOnTheIconRestoresTheWindowWithAPortErrorBox) {
  if (const auto missing = DesktopSession::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  DesktopSession desktop;
  const auto main = desktop.StartProgram();
  ASSERT_NE(main, 0u) << "the main window did not appear";
  const auto icon = MinimiseToTray(desktop, main);
  ASSERT_NE(icon, 0u) << "the program did not go to the notification area";

  desktop.HangUpPort();
  WindowId box = 0;
  ASSERT_TRUE(WaitUntil([&] { return (box = desktop.FindWindow("Vestrel", true)) != 0; }))
      << "no error box for the lost port";
  const Rect at = desktop.Client(icon);
  desktop.Click(at.x + at.width / 2, at.y + at.height / 2);

  EXPECT_TRUE(WaitUntil([&] { return desktop.Viewable(main); }))
      << "the icon ignored the click while the box was open";
  ASSERT_TRUE(WaitUntil([&] { return desktop.Viewable(box); }, std::chrono::seconds(5)))
      << "the box is not shown";
  ASSERT_TRUE(WaitUntil([&] { return desktop.Focused(box); }, std::chrono::seconds(5)))
      << "the box does not have the keyboard";
  desktop.Keys({"Return"});
  EXPECT_TRUE(WaitUntil([&] { return !desktop.Viewable(box); }));
}

TEST(DesktopTray, CloseRequestWhileInTheNotificationAreaEndsTheProgram) {
  if (const auto missing = DesktopSession::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  DesktopSession desktop;
  const auto main = desktop.StartProgram();
  ASSERT_NE(main, 0u) << "the main window did not appear";
  ASSERT_NE(MinimiseToTray(desktop, main), 0u) << "the program did not go to the notification area";

  desktop.RequestClose(main);
  // Ended by itself and cleanly: the port's thread stopped and the device
  // closed on the way out (a hang there would keep it running).
  const auto status = desktop.WaitForProgramExit(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value()) << "the program kept running";
  EXPECT_EQ(*status, 0) << desktop.ProgramOutput();
}

}  // namespace
}  // namespace vestrel
