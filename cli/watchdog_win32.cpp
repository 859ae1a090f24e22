#include <windows.h>

#include <stdexcept>

#include "cli/watchdog.h"
#include "platform/sync.h"

namespace vestrel::cli {

// An auto-reset event wakes the clock thread; the flags say why. The console's
// control handler runs on a thread of its own, where setting an event is safe.
struct Watchdog::Wakeup {
  HANDLE event = nullptr;
  std::atomic<bool> quit{false};
  std::atomic<bool> interrupt{false};
};

Watchdog::Watchdog() : wakeup_(std::make_unique<Wakeup>()) {
  wakeup_->event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!wakeup_->event) throw std::runtime_error("CreateEventW failed");
  thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
  Poke('q');
  thread_.join();
  ::CloseHandle(wakeup_->event);
}

void Watchdog::Poke(char c) {
  if (c == 'q') wakeup_->quit.store(true);
  if (c == 'i') wakeup_->interrupt.store(true);
  ::SetEvent(wakeup_->event);
}

void Watchdog::Interrupt() {
  Poke('i');
}

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

void Watchdog::Run() {
  for (;;) {
    DWORD timeout_ms = INFINITE;
    {
      std::lock_guard lock(mutex_);
      if (deadline_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            *deadline_ - std::chrono::steady_clock::now());
        timeout_ms = left.count() < 0 ? 0 : static_cast<DWORD>(left.count()) + 1;
      }
    }
    const DWORD woken = ::WaitForSingleObject(wakeup_->event, timeout_ms);
    if (woken == WAIT_FAILED) return;
    if (woken == WAIT_OBJECT_0) {
      if (wakeup_->quit.load()) return;
      if (wakeup_->interrupt.exchange(false)) {
        interrupted_.store(true);
        platform::WakeSyncWaiters();
      }
      continue;
    }
    bool expired = false;
    {
      std::lock_guard lock(mutex_);
      if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
        deadline_.reset();
        expired_.store(true);
        expired = true;
      }
    }
    if (expired) platform::WakeSyncWaiters();
  }
}

}  // namespace vestrel::cli
