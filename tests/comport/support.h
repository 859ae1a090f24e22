#pragma once
// Helpers of the port tests on every OS: serving deliveries with a give-up
// limit, catching what reaches the application's handler or what the port
// raises, and the names of the sync methods a test runs under.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "comport/b_com_port.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace vestrel::test {

// Serves deliveries on this (user-interface) thread until done() holds or
// limit_ms have passed; returns done(). Conditions that another thread makes
// true without waking the user-interface thread are looked at every few
// milliseconds. The limit only keeps a failing test from hanging; it is never
// what a test measures.
inline bool ServeUntilOr(const std::function<bool()>& done, int limit_ms = 5000) {
  std::atomic<bool> expired{false};
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  std::thread timer([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    std::unique_lock lock(m);
    while (!finished) {
      if (std::chrono::steady_clock::now() >= end) {
        expired.store(true);
        platform::WakeSyncWaiters();
        return;
      }
      cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return finished; });
      platform::WakeSyncWaiters();
    }
  });
  platform::ServeUntil([&] { return expired.load() || done(); });
  {
    std::lock_guard lock(m);
    finished = true;
  }
  cv.notify_all();
  timer.join();
  return done();
}

// Serves everything that arrives within ms (for "nothing more happens").
inline void ServeFor(int ms) {
  ServeUntilOr([] { return false; }, ms);
}

// Records the messages that reach the application's exception handler.
class CaughtErrors {
 public:
  CaughtErrors() {
    previous_ = platform::SetExceptionHandler([this](std::exception_ptr e) {
      std::lock_guard lock(mutex_);
      messages_.push_back(platform::ExceptionMessage(e));
    });
  }
  ~CaughtErrors() { platform::SetExceptionHandler(previous_); }
  std::vector<std::string> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
  }

 private:
  platform::ExceptionHandler previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

// The message of the EComPort that fn raises, or "" when none.
inline std::string RaisedBy(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EComPort& e) {
    return e.what();
  }
  return "";
}

// "ThreadSync", "WindowSync" or "None": a parameterised test's name.
inline std::string SyncMethodName(const ::testing::TestParamInfo<TSyncMethod>& info) {
  return info.param == smThreadSync   ? "ThreadSync"
         : info.param == smWindowSync ? "WindowSync"
                                      : "None";
}

inline std::string Cp(const char* utf8) {
  return platform::Cp1251FromUtf8(utf8);
}

}  // namespace vestrel::test
