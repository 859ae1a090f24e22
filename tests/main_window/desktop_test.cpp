// The main window of the built program as a window manager places it.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/main_window/desktop_session.h"

namespace vestrel {
namespace {

using test::DesktopSession;
using test::Rect;
using test::WaitUntil;

bool Has(const std::vector<std::string>& states, const std::string& state) {
  return std::find(states.begin(), states.end(), state) != states.end();
}

TEST(DesktopMainWindow, FrameStandsAtItsPlaceAndFullScreenIsTakenBack) {
  if (const auto missing = DesktopSession::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  DesktopSession desktop;
  const auto main = desktop.StartProgram();
  ASSERT_NE(main, 0u) << "the main window did not appear";

  // Placed by its frame, as the About box is.
  const Rect frame = desktop.Frame(main);
  EXPECT_EQ(frame.x, 218);
  EXPECT_EQ(frame.y, 161);
  EXPECT_EQ(desktop.Client(main).width, 568);

  // A window that cannot be maximised or resized does not go full-screen. The
  // second request marks when the window manager has dealt with the first.
  desktop.AddState(main, "_NET_WM_STATE_FULLSCREEN");
  desktop.AddState(main, "_NET_WM_STATE_ABOVE");
  const bool kept = WaitUntil([&] {
    const auto states = desktop.States(main);
    return Has(states, "_NET_WM_STATE_ABOVE") && !Has(states, "_NET_WM_STATE_FULLSCREEN") &&
           desktop.Frame(main) == frame;
  });
  EXPECT_TRUE(kept) << "frame " << desktop.Frame(main) << ", expected " << frame;
}

}  // namespace
}  // namespace vestrel
