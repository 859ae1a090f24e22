#pragma once
// The clock and the Ctrl-C of vestrel-sms's main loop. The main thread serves
// the port's deliveries (platform::ServeUntil) and sleeps in between; this
// thread wakes it when the modem has been silent too long or when SIGINT came.

#include <atomic>
#include <chrono>
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

  // The descriptor a signal handler writes one byte to (write(2) is safe there).
  int InterruptFd() const { return pipe_[1]; }

  // Expires after this long unless armed again; not while Busy.
  void Arm(std::chrono::milliseconds quiet);
  // A delivery is being handled: its own commands take time, which is no silence.
  void Busy();
  bool Expired() const { return expired_.load(); }
  bool Interrupted() const { return interrupted_.load(); }

 private:
  void Run();
  void Poke(char c);

  int pipe_[2] = {-1, -1};
  std::mutex mutex_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  std::atomic<bool> expired_{false};
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

}  // namespace vestrel::cli
