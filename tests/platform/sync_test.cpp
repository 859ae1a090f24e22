// Running work on the user-interface thread: Synchronize, Queue,
// CheckSynchronize, ServeUntil.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/exceptions.h"
#include "platform/sync.h"

namespace vestrel::platform {
namespace {

class Sync : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiThread();
    CheckSynchronize();  // nothing left over from another test
  }
  void TearDown() override { SetWakeHook({}); }
};

TEST_F(Sync, WorkerBlocksUntilItsWorkRanOnTheUserInterfaceThread) {
  EXPECT_TRUE(IsUiThread());
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::atomic<int> wakes{0};
  SetWakeHook([&] { ++wakes; });
  std::thread worker([&] {
    EXPECT_FALSE(IsUiThread());
    Synchronize([&] { ran_on = std::this_thread::get_id(); });
    returned = true;
    WakeSyncWaiters();  // whoever makes the condition true wakes the waiter
  });
  ServeUntil([&] { return returned.load(); });
  worker.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_GE(wakes.load(), 1);
  EXPECT_FALSE(CheckSynchronize());  // nothing left
}

TEST_F(Sync, ExceptionsGoBackToTheWorkerAndQueuedWorkKeepsItsOrder) {
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
    WakeSyncWaiters();
  });
  ServeUntil([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(caught, "boom");

  // Queued work runs in order; one that throws does not drop the rest.
  std::vector<int> order;
  Queue([&] { order.push_back(1); });
  Queue([] { throw std::runtime_error("lost"); });
  Queue([&] { order.push_back(3); });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(order, (std::vector<int>{1, 3}));

  // On the user-interface thread Synchronize runs at once.
  bool ran = false;
  Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(Sync, ServeUntilRunsWorkQueuedWhileItWaitsAndNestedServing) {
  std::atomic<bool> stop{false};
  std::vector<int> seen;
  std::thread worker([&] {
    Synchronize([&] {
      seen.push_back(1);
      // Serving from inside a delivery (as Close does from a handler).
      std::thread inner([&] { Synchronize([&] { seen.push_back(2); }); });
      ServeUntil([&] { return seen.size() >= 2; });
      inner.join();
    });
    Synchronize([&] { seen.push_back(3); });
    stop = true;
    WakeSyncWaiters();
  });
  ServeUntil([&] { return stop.load(); });
  worker.join();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace vestrel::platform
