// The event thread's deliveries under the three sync methods, against the
// scripted device (every event can be raised there).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "comport/b_com_port.h"
#include "comport/com_thread.h"
#include "comport/notify_window.h"
#include "comport/serial_device.h"
#include "comport/testing/fake_serial_device.h"
#include "support.h"

namespace vestrel {
namespace {

using testing::FakeDeviceFactory;
using testing::FakeSerialDevice;

// Handlers that log what they were called with, from any thread.
struct Log {
  std::mutex mutex;
  std::vector<std::string> entries;
  std::vector<std::thread::id> threads;
  void Add(const std::string& entry) {
    std::lock_guard lock(mutex);
    entries.push_back(entry);
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> Entries() {
    std::lock_guard lock(mutex);
    return entries;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex);
    return entries.size();
  }
};

void BindAll(TBComPort& port, Log& log) {
  port.OnError = [&log](TBComPort*, TComErrors e) { log.Add("Error " + std::to_string(e.Bits())); };
  port.OnRxChar = [&log](TBComPort*, int n) { log.Add("RxChar " + std::to_string(n)); };
  port.OnTxEmpty = [&log](TBComPort*) { log.Add("TxEmpty"); };
  port.OnRing = [&log](TBComPort*) { log.Add("Ring"); };
  port.OnCTSChange = [&log](TBComPort*, bool on) {
    log.Add(std::string("CTS ") + (on ? "on" : "off"));
  };
  port.OnDSRChange = [&log](TBComPort*, bool on) {
    log.Add(std::string("DSR ") + (on ? "on" : "off"));
  };
  port.OnRLSDChange = [&log](TBComPort*, bool on) {
    log.Add(std::string("RLSD ") + (on ? "on" : "off"));
  };
  port.OnRx80Full = [&log](TBComPort*) { log.Add("Rx80Full"); };
}

class Deliveries : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override { platform::SetUiThread(); }
  void TearDown() override {
    // Threads let go from inside a handler end once it has returned.
    EXPECT_TRUE(test::ServeUntilOr([] { return TComThread::DetachedRunning() == 0; }));
  }
  std::shared_ptr<FakeDeviceFactory> factory_ = std::make_shared<FakeDeviceFactory>();
};

TEST_P(Deliveries, FixedOrderWithSeveralEventsPending) {
  TBComPort port(factory_);
  port.SetSyncMethod(GetParam());
  port.SetParity(paOdd);
  Log log;
  BindAll(port, log);
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  dev->PushInput("12345");
  dev->SetErrorWord(kCeFrame | kCeRxParity);
  dev->SetModemStatus(kMsCtsOn | kMsRlsdOn);
  dev->RaiseEvents(1469);
  ASSERT_TRUE(test::ServeUntilOr([&] { return log.Size() >= 8; }));
  const std::vector<std::string> expected = {"Error 3", "RxChar 5", "TxEmpty", "Ring",
                                             "CTS on",  "DSR off",  "RLSD on", "Rx80Full"};
  EXPECT_EQ(log.Entries(), expected);
  const bool on_event_thread = GetParam() == smNone;
  for (auto id : log.threads) EXPECT_EQ(id != std::this_thread::get_id(), on_event_thread);
  port.Close();
}

TEST_P(Deliveries, QueriesAndHandlersOnlyWhenTheyHaveSomethingToSay) {
  TBComPort port(factory_);
  port.SetSyncMethod(GetParam());
  Log log;
  port.OnRxChar = [&log](TBComPort*, int n) { log.Add("RxChar " + std::to_string(n)); };
  port.OnError = [&log](TBComPort*, TComErrors e) { log.Add("Error " + std::to_string(e.Bits())); };
  port.OnTxEmpty = [&log](TBComPort*) { log.Add("TxEmpty"); };
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  dev->ClearCalls();
  // Empty queue, parity flag with parity off, CTS with no handler bound.
  dev->SetErrorWord(kCeRxParity);
  dev->RaiseEvents(kEvRxChar | kEvErr | kEvCts);
  dev->RaiseEvents(kEvTxEmpty);  // a marker: the batch above has been handed on
  ASSERT_TRUE(test::ServeUntilOr([&] { return log.Size() >= 1; }));
  EXPECT_EQ(log.Entries(), std::vector<std::string>{"TxEmpty"});
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kClearCommError), 2);  // error word, queue count
  EXPECT_EQ(dev->CountCalls(FakeSerialDevice::kGetCommModemStatus), 0);
  port.Close();
}

// A UART's line changes: whichever looks first, the wait or a queue count
// between waits, each change reaches its handler once.
TEST_P(Deliveries, LineChangesAreRaisedOnceWhicheverLookSeesThemFirst) {
  TBComPort port(factory_);
  port.SetSyncMethod(GetParam());
  Log log;
  BindAll(port, log);
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  LineSample line;
  line.have_lines = true;
  line.have_counters = true;
  dev->SetLineSample(line);
  dev->RaiseEvents(kEvTxEmpty);  // the wait's first look
  ASSERT_TRUE(test::ServeUntilOr([&] { return log.Size() >= 1; }));

  // Seen first by a queue count (as in every character-received dispatch).
  line.modem_status = kMsCtsOn | kMsRlsdOn;
  line.ring = 1;
  dev->SetLineSample(line);
  EXPECT_EQ(port.InQueueCount(), 0);
  ASSERT_TRUE(test::ServeUntilOr([&] { return log.Size() >= 4; }));

  // Seen first by the wait; the count in the dispatch finds nothing new.
  line.modem_status |= kMsDsrOn;
  dev->SetLineSample(line);
  dev->PushInput("ab");
  dev->RaiseEvents(kEvRxChar);
  ASSERT_TRUE(test::ServeUntilOr([&] { return log.Size() >= 6; }));
  EXPECT_EQ(port.InQueueCount(), 2);
  dev->RaiseEvents(kEvTxEmpty);  // a marker: everything raised before is in
  ASSERT_TRUE(test::ServeUntilOr([&] { return log.Size() >= 7; }));
  const std::vector<std::string> expected = {"TxEmpty",  "Ring",   "CTS on", "RLSD on",
                                             "RxChar 2", "DSR on", "TxEmpty"};
  EXPECT_EQ(log.Entries(), expected);
  port.Close();
}

TEST_P(Deliveries, AFailingHandlerIsReportedAndReceptionGoesOn) {
  test::CaughtErrors caught;
  TBComPort port(factory_);
  port.SetSyncMethod(GetParam());
  std::atomic<int> calls{0};
  port.OnRxChar = [&](TBComPort* sender, int n) {
    std::string s;
    sender->ReadStr(s, n);
    if (++calls == 1) throw EComPort(test::Cp("Сбой обработчика"));
  };
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  dev->PushInput("a");
  dev->RaiseEvents(kEvRxChar);
  ASSERT_TRUE(test::ServeUntilOr([&] { return caught.Count() >= 1; }));
  dev->PushInput("b");
  dev->RaiseEvents(kEvRxChar);
  ASSERT_TRUE(test::ServeUntilOr([&] { return calls.load() >= 2; }));
  EXPECT_EQ(caught.Messages(), std::vector<std::string>{test::Cp("Сбой обработчика")});
  port.Close();
}

// What reaches the application's handler, with the port's state at that
// moment (the handler runs on the user-interface thread).
class Reports {
 public:
  explicit Reports(const TBComPort* port) : port_(port) {
    previous_ = platform::SetExceptionHandler([this](std::exception_ptr e) {
      std::lock_guard lock(mutex_);
      seen_.push_back(platform::ExceptionMessage(e) +
                      (port_ && port_->Connected() ? " (open)" : ""));
    });
  }
  ~Reports() { platform::SetExceptionHandler(previous_); }
  void Forget() { port_ = nullptr; }
  std::vector<std::string> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  const TBComPort* port_;
  platform::ExceptionHandler previous_;
  std::mutex mutex_;
  std::vector<std::string> seen_;
};

// Blocks (without serving) until work is queued for the user-interface thread.
class QueuedWork {
 public:
  QueuedWork() {
    platform::SetWakeHook([this] {
      std::lock_guard lock(mutex_);
      woken_ = true;
      cv_.notify_all();
    });
  }
  ~QueuedWork() { platform::SetWakeHook({}); }
  bool Wait() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [this] { return woken_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

TEST_P(Deliveries, LostDeviceClosesThePortReportsOnceAndOpenOpensAgain) {
  TBComPort port(factory_);
  Reports reports(&port);
  port.SetSyncMethod(GetParam());
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  ASSERT_TRUE(test::ServeUntilOr([&] { return dev->WaitsStarted() >= 1; }));
  // The dead device refuses the line and purge steps.
  dev->FailCall(FakeSerialDevice::kEscapeCommFunction);
  dev->FailCall(FakeSerialDevice::kPurgeComm);
  dev->HangUp();
  ASSERT_TRUE(test::ServeUntilOr([&] { return !reports.Seen().empty(); }));
  test::ServeFor(50);
  // Closed before the operator is told.
  EXPECT_EQ(reports.Seen(), std::vector<std::string>{comport_messages::ReadError()});
  EXPECT_EQ(dev->WaitsStarted(), 1);  // no spinning
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(dev->Closed());
  EXPECT_TRUE(port.Close());
  ASSERT_TRUE(port.Open());
  EXPECT_NE(factory_->LastDevice(), dev);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.Close());
}

// The report of a loss may wait while the operator closes, reopens or
// destroys the port: it then touches the port no more.
TEST_P(Deliveries, ALossReportedLateLeavesThePortAlone) {
  auto port = std::make_unique<TBComPort>(factory_);
  Reports reports(port.get());
  port->SetSyncMethod(GetParam());
  ASSERT_TRUE(port->Open());
  {
    QueuedWork queued;
    factory_->LastDevice()->HangUp();
    ASSERT_TRUE(queued.Wait());
  }
  EXPECT_TRUE(port->Close());
  ASSERT_TRUE(port->Open());
  test::ServeFor(50);
  EXPECT_TRUE(port->Connected());  // the reopened port stays open
  {
    QueuedWork queued;
    factory_->LastDevice()->HangUp();
    ASSERT_TRUE(queued.Wait());
  }
  reports.Forget();
  port.reset();
  test::ServeFor(50);
  // Each loss is told once; the first while the reopened port is open.
  const std::vector<std::string> expected = {comport_messages::ReadError() + " (open)",
                                             comport_messages::ReadError()};
  EXPECT_EQ(reports.Seen(), expected);
}

TEST_P(Deliveries, CloseFromInsideAHandlerCompletes) {
  TBComPort port(factory_);
  port.SetSyncMethod(GetParam());
  Log log;
  bool closed_inside = false;
  port.OnRxChar = [&](TBComPort* sender, int) {
    log.Add("RxChar");
    closed_inside = sender->Close();
  };
  port.OnTxEmpty = [&](TBComPort*) { log.Add("TxEmpty"); };
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  dev->PushInput("x");
  dev->RaiseEvents(kEvRxChar | kEvTxEmpty);
  ASSERT_TRUE(test::ServeUntilOr([&] { return dev->Closed(); }));
  EXPECT_TRUE(test::ServeUntilOr([] { return TComThread::DetachedRunning() == 0; }));
  EXPECT_TRUE(closed_inside);
  EXPECT_FALSE(port.Connected());
  if (GetParam() != smWindowSync) {
    // The batch ends with the port closed.
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"RxChar"});
  }
  // And it opens again.
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.Close());
}

TEST_P(Deliveries, DestructionFromInsideAHandlerCompletes) {
  auto* port = new TBComPort(factory_);
  port->SetSyncMethod(GetParam());
  std::atomic<bool> destroyed{false};
  port->OnRxChar = [&](TBComPort* sender, int) {
    delete sender;
    destroyed = true;
  };
  // Under smWindowSync the rest of the batch may still arrive while the port
  // is being closed (like any delivery inside Close); never after.
  port->OnTxEmpty = [&](TBComPort*) {
    if (destroyed.load()) ADD_FAILURE() << "delivered to a destroyed port";
  };
  ASSERT_TRUE(port->Open());
  auto dev = factory_->LastDevice();
  dev->PushInput("x");
  dev->RaiseEvents(kEvRxChar | kEvTxEmpty);
  ASSERT_TRUE(test::ServeUntilOr([&] { return destroyed.load(); }));
  EXPECT_TRUE(test::ServeUntilOr([] { return TComThread::DetachedRunning() == 0; }));
  EXPECT_TRUE(dev->Closed());
}

INSTANTIATE_TEST_SUITE_P(AllSyncMethods, Deliveries,
                         ::testing::Values(smThreadSync, smWindowSync, smNone),
                         test::SyncMethodName);

class ThreadSync : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetUiThread(); }
  void TearDown() override { platform::SetWakeHook({}); }
  std::shared_ptr<FakeDeviceFactory> factory_ = std::make_shared<FakeDeviceFactory>();
};

TEST_F(ThreadSync, CloseRunsADeliveryThatIsAlreadyWaiting) {
  std::mutex m;
  std::condition_variable cv;
  std::atomic<int> wakes{0};
  platform::SetWakeHook([&] {
    std::lock_guard lock(m);
    ++wakes;
    cv.notify_all();
  });
  TBComPort port(factory_);
  bool connected_in_handler = false;
  int count = 0;
  port.OnRxChar = [&](TBComPort* sender, int n) {
    connected_in_handler = sender->Connected();
    count = n;
  };
  ASSERT_TRUE(port.Open());
  auto dev = factory_->LastDevice();
  dev->PushInput("OK\r\n");
  dev->RaiseEvents(kEvRxChar);
  // Wait (without serving) until the thread has asked for its delivery.
  {
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(5), [&] { return wakes.load() > 0; });
  }
  ASSERT_GT(wakes.load(), 0);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(count, 4);
  EXPECT_TRUE(connected_in_handler);
}

// A program without a marked user-interface thread (CTest runs each test in
// its own process, so none is marked here): the thread that opens the port
// takes the part, and Close serves the delivery instead of hanging.
TEST(NoMarkedUiThread, CloseServesADeliveryThatWaits) {
  std::mutex m;
  std::condition_variable cv;
  bool woken = false;
  platform::SetWakeHook([&] {
    std::lock_guard lock(m);
    woken = true;
    cv.notify_all();
  });
  auto factory = std::make_shared<FakeDeviceFactory>();
  int count = 0;
  {
    TBComPort port(factory);
    port.OnRxChar = [&](TBComPort*, int n) { count = n; };
    ASSERT_TRUE(port.Open());
    EXPECT_TRUE(platform::IsUiThread());
    factory->LastDevice()->PushInput("abc");
    factory->LastDevice()->RaiseEvents(kEvRxChar);
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return woken; }));
  }  // destruction closes
  platform::SetWakeHook({});
  EXPECT_EQ(count, 3);
}

TEST(WindowSync, ReceiverReleasesTheSenderBeforeTheHandlerRuns) {
  platform::SetUiThread();
  auto factory = std::make_shared<FakeDeviceFactory>();
  TBComPort port(factory);
  port.SetSyncMethod(smWindowSync);
  std::atomic<bool> released{false};
  std::vector<int> seen;
  port.OnRing = [&](TBComPort*) {
    auto dev = factory->LastDevice();
    // The event thread is back in its wait while this handler still runs.
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock lock(m);
    for (int i = 0; i < 500 && dev->WaitsStarted() < 2; ++i)
      cv.wait_for(lock, std::chrono::milliseconds(10));
    released = dev->WaitsStarted() >= 2;
    seen.push_back(256);
  };
  ASSERT_TRUE(port.Open());
  factory->LastDevice()->RaiseEvents(kEvRing);
  ASSERT_TRUE(test::ServeUntilOr([&] { return !seen.empty(); }));
  EXPECT_TRUE(released.load());
  port.Close();

  // The procedure itself: flag values as wparam; nothing while not connected.
  int rlsd = 0, rx = 0;
  port.OnRLSDChange = [&](TBComPort*, bool) { ++rlsd; };
  port.OnRxChar = [&](TBComPort*, int) { ++rx; };
  EXPECT_EQ(EventWindowProc(&port, TBComPort::kComEventMessage, 32, 0), 0);
  EXPECT_EQ(rlsd, 0);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(EventWindowProc(&port, TBComPort::kComEventMessage, 32, 0), 0);
  EXPECT_EQ(rlsd, 1);
  EventWindowProc(&port, TBComPort::kComEventMessage, 2, 0);  // no such event
  EventWindowProc(&port, TBComPort::kComEventMessage + 1, 32, 0);
  EXPECT_EQ(rlsd, 1);
  factory->LastDevice()->PushInput("z");
  EventWindowProc(&port, TBComPort::kComEventMessage, 1, 0);
  EXPECT_EQ(rx, 1);
  port.Close();
}

TEST(WindowSync, HandlerExceptionIsShownByTheReceiver) {
  platform::SetUiThread();
  test::CaughtErrors caught;
  auto factory = std::make_shared<FakeDeviceFactory>();
  TBComPort port(factory);
  port.SetSyncMethod(smWindowSync);
  ASSERT_TRUE(port.Open());
  port.OnRing = [](TBComPort*) { throw EComPort("ring"); };
  EventWindowProc(&port, TBComPort::kComEventMessage, 256, 0);
  EXPECT_EQ(caught.Messages(), std::vector<std::string>{"ring"});
  port.Close();
}

}  // namespace
}  // namespace vestrel
