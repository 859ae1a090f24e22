#pragma once
// Helpers of the port tests: a pseudo-terminal pair, serving deliveries with
// a give-up limit, and catching what reaches the application's handler.

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace vestrel::test {

// A pty pair with the master in raw mode; the port opens the slave by path.
class Pty {
 public:
  Pty() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
    path_ = name;
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads what the port wrote until count bytes or the give-up limit.
  std::string Receive(std::size_t count, int limit_ms = 5000) const {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(master_, &set);
      timeval tv{0, 50000};
      if (select(master_ + 1, &set, nullptr, nullptr, &tv) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string path_;
};

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

inline std::string Cp(const char* utf8) {
  return platform::Cp1251FromUtf8(utf8);
}

}  // namespace vestrel::test
