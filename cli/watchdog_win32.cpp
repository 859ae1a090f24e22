#include <windows.h>

#include <stdexcept>

#include "cli/watchdog.h"

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

void Watchdog::Run() {
  for (;;) {
    const auto left = TimeLeft();
    const DWORD timeout_ms = left ? static_cast<DWORD>(left->count()) : INFINITE;
    const DWORD woken = ::WaitForSingleObject(wakeup_->event, timeout_ms);
    if (woken == WAIT_FAILED) return;
    if (woken == WAIT_OBJECT_0) {
      if (wakeup_->quit.load()) return;
      if (wakeup_->interrupt.exchange(false)) NoteInterrupt();
      continue;
    }
    ExpireIfDue();
  }
}

}  // namespace vestrel::cli
