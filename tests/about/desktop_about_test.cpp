// The About box of the built program as a window manager frames it.

#include <gtest/gtest.h>

#include "tests/main_window/desktop_session.h"

namespace vestrel {
namespace {

using test::DesktopSession;
using test::Rect;
using test::WaitUntil;

TEST(DesktopAboutBox, EveryShowingPutsTheSameFrameAtTheSamePlace) {
  if (const auto missing = DesktopSession::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  DesktopSession desktop;
  const auto main = desktop.StartProgram();
  ASSERT_NE(main, 0u) << "the main window did not appear";

  for (int showing = 1; showing <= 4; ++showing) {
    SCOPED_TRACE("showing " + std::to_string(showing));
    const auto box = desktop.OpenAboutBox(main);
    ASSERT_NE(box, 0u) << "the About box did not appear";
    // The outer width is 76 + 185 + 20; the frame's corner is where the box was designed.
    const bool placed = WaitUntil([&] {
      const Rect frame = desktop.Frame(box);
      return frame.x == 290 && frame.y == 188 && frame.width == 281;
    });
    EXPECT_TRUE(placed) << "frame " << desktop.Frame(box) << ", expected 281 wide at +290+188";

    // Return presses the focused Ok; Escape does not close the box.
    desktop.Keys({"Escape", "Return"});
    ASSERT_TRUE(WaitUntil([&] { return !desktop.Viewable(box); })) << "Ok did not close the box";
  }
}

}  // namespace
}  // namespace vestrel
