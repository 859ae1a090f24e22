#include "cli/watchdog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vestrel::cli {

// One byte per wake-up: 'a' armed, 'i' interrupted, 'q' quit.
struct Watchdog::Wakeup {
  int pipe[2] = {-1, -1};
};

Watchdog::Watchdog() : wakeup_(std::make_unique<Wakeup>()) {
  if (::pipe2(wakeup_->pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
  thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
  Poke('q');
  thread_.join();
  ::close(wakeup_->pipe[0]);
  ::close(wakeup_->pipe[1]);
}

void Watchdog::Poke(char c) {
  while (::write(wakeup_->pipe[1], &c, 1) < 0 && errno == EINTR) {
  }
}

// write(2) only: a signal handler calls this.
void Watchdog::Interrupt() {
  const char byte = 'i';
  [[maybe_unused]] const ssize_t n = ::write(wakeup_->pipe[1], &byte, 1);
}

void Watchdog::Run() {
  for (;;) {
    const auto left = TimeLeft();
    const int timeout_ms = left ? static_cast<int>(left->count()) : -1;
    pollfd wake{wakeup_->pipe[0], POLLIN, 0};
    const int ready = ::poll(&wake, 1, timeout_ms);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0) {
      char bytes[64];
      const ssize_t n = ::read(wakeup_->pipe[0], bytes, sizeof bytes);
      for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == 'q') return;
        if (bytes[i] == 'i') NoteInterrupt();
      }
      continue;
    }
    ExpireIfDue();
  }
}

}  // namespace vestrel::cli
