#include "cli/watchdog.h"

#include "platform/sync.h"

namespace vestrel::cli {

void Watchdog::Arm(std::chrono::milliseconds quiet) {
  {
    std::lock_guard lock(mutex_);
    deadline_ = std::chrono::steady_clock::now() + quiet;
    expired_.store(false);
  }
  Poke('a');
}

void Watchdog::Busy() {
  std::lock_guard lock(mutex_);
  deadline_.reset();
}

std::optional<std::chrono::milliseconds> Watchdog::TimeLeft() {
  std::lock_guard lock(mutex_);
  if (!deadline_) return std::nullopt;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      *deadline_ - std::chrono::steady_clock::now());
  return left.count() < 0 ? std::chrono::milliseconds(0) : left + std::chrono::milliseconds(1);
}

void Watchdog::ExpireIfDue() {
  {
    std::lock_guard lock(mutex_);
    if (!deadline_ || std::chrono::steady_clock::now() < *deadline_) return;
    deadline_.reset();
    expired_.store(true);
  }
  platform::WakeSyncWaiters();
}

void Watchdog::NoteInterrupt() {
  interrupted_.store(true);
  platform::WakeSyncWaiters();
}

}  // namespace vestrel::cli
