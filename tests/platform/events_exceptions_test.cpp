// Named events and the application's exception handler.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/cp1251.h"
#include "platform/events.h"
#include "platform/exceptions.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace vestrel::platform {
namespace {

TEST(Events, ManualAndAutoReset) {
  Event manual(true, false);
  EXPECT_EQ(manual.Wait(0), WaitResult::Timeout);
  manual.Set();
  EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
  EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);  // stays set
  manual.Reset();
  EXPECT_EQ(manual.Wait(10), WaitResult::Timeout);

  Event automatic(false, true);
  EXPECT_EQ(automatic.Wait(0), WaitResult::Signaled);
  EXPECT_EQ(automatic.Wait(0), WaitResult::Timeout);  // taken by the first wait

  // A waiter on another thread is released by Set.
  std::thread setter([&] {
    SleepMs(20);
    automatic.Set();
  });
  EXPECT_EQ(automatic.Wait(kInfinite), WaitResult::Signaled);
  setter.join();
}

TEST(Events, NamesFindTheSameEventWhileAHandleLives) {
  EXPECT_EQ(OpenNamedEvent("vestrel-test-event"), nullptr);
  auto a = CreateNamedEvent("vestrel-test-event", true, false);
  auto b = CreateNamedEvent("vestrel-test-event", false, true);  // existing: settings kept
  EXPECT_EQ(a, b);
  EXPECT_EQ(b->Wait(0), WaitResult::Timeout);
  EXPECT_EQ(OpenNamedEvent("vestrel-test-event"), a);
  auto unnamed1 = CreateNamedEvent("", true, false);
  auto unnamed2 = CreateNamedEvent("", true, false);
  EXPECT_NE(unnamed1, unnamed2);
  a.reset();
  b.reset();
  EXPECT_EQ(OpenNamedEvent("vestrel-test-event"), nullptr);

  // The modem wait: "et" is never signalled, so the wait runs to its end.
  auto et = OpenModemWaitEvent();
  EXPECT_EQ(OpenNamedEvent("et"), et);
  const auto start = TickCount();
  ModemWait(et, 30);
  EXPECT_GE(static_cast<std::uint32_t>(TickCount() - start), 29u);
}

TEST(Exceptions, MessagesAndTheErrorBoxText) {
  EXPECT_EQ(ErrorBoxText(""), "");
  EXPECT_EQ(ErrorBoxText("abc"), "abc.");
  EXPECT_EQ(ErrorBoxText("abc."), "abc.");
  EXPECT_EQ(ErrorBoxText("abc!"), "abc!");  // '!' is below '.'
  EXPECT_EQ(ErrorBoxText("abc)"), "abc)");
  EXPECT_EQ(ErrorBoxText("abc/"), "abc/.");
  const std::string cyrillic = Cp1251FromUtf8("Ошибка");
  EXPECT_EQ(ErrorBoxText(cyrillic), cyrillic + ".");  // bytes above 127 count as unsigned

  EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(Exception(cyrillic))), cyrillic);
  EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(42)), "");
  EXPECT_EQ(ExceptionMessage(nullptr), "");
  EXPECT_EQ(Exception("m").Message(), "m");
}

TEST(Exceptions, HandlerReceivesGuardedAndReportedErrorsOnTheUserInterfaceThread) {
  SetUiThread();
  std::vector<std::string> seen;
  std::vector<bool> on_ui;
  auto previous = SetExceptionHandler([&](std::exception_ptr e) {
    seen.push_back(ExceptionMessage(e));
    on_ui.push_back(IsUiThread());
  });

  RunGuarded([] { throw Exception("guarded"); });
  RunGuarded([] {});
  std::thread worker([] { ReportException(std::make_exception_ptr(Exception("reported"))); });
  worker.join();
  EXPECT_EQ(seen, std::vector<std::string>{"guarded"});  // reported one waits for the UI
  CheckSynchronize();
  EXPECT_EQ(seen, (std::vector<std::string>{"guarded", "reported"}));
  EXPECT_EQ(on_ui, (std::vector<bool>{true, true}));

  auto mine = SetExceptionHandler(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
}

}  // namespace
}  // namespace vestrel::platform
