#pragma once
// The clock and the Ctrl-C of vestrel-sms's main loop. The main thread serves
// the port's deliveries (platform::ServeUntil) and sleeps in between; this
// thread wakes it when the modem has been silent too long or when Ctrl-C came.
// What wakes the clock thread differs by OS: watchdog_posix.cpp and
// watchdog_win32.cpp; the rest is watchdog.cpp.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vestrel::cli {

class Watchdog {
 public:
  Watchdog();
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Ctrl-C came: wakes the main loop. Safe in a POSIX signal handler, and on
  // the thread that runs a Windows console's control handler.
  void Interrupt();

  // Expires after this long unless armed again; not while Busy.
  void Arm(std::chrono::milliseconds quiet);
  // A delivery is being handled: its own commands take time, which is no silence.
  void Busy();
  bool Expired() const { return expired_.load(); }
  bool Interrupted() const { return interrupted_.load(); }

 private:
  // What wakes the clock thread: a pipe on POSIX (a signal handler may write
  // to it), an event object on Windows.
  struct Wakeup;

  void Run();
  void Poke(char c);
  // Shared by both clock threads (watchdog.cpp): the wait until the deadline,
  // rounded up (zero when past), or nothing when none is armed; after a wait
  // that timed out, expiry when the deadline has passed; Ctrl-C seen.
  std::optional<std::chrono::milliseconds> TimeLeft();
  void ExpireIfDue();
  void NoteInterrupt();

  std::unique_ptr<Wakeup> wakeup_;
  std::mutex mutex_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  std::atomic<bool> expired_{false};
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

}  // namespace vestrel::cli
