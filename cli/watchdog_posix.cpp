#include "cli/watchdog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/sync.h"

namespace vestrel::cli {

Watchdog::Watchdog() {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
  thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
  Poke('q');
  thread_.join();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void Watchdog::Poke(char c) {
  while (::write(pipe_[1], &c, 1) < 0 && errno == EINTR) {
  }
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
    int timeout_ms = -1;
    {
      std::lock_guard lock(mutex_);
      if (deadline_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            *deadline_ - std::chrono::steady_clock::now());
        timeout_ms = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
      }
    }
    pollfd wake{pipe_[0], POLLIN, 0};
    const int ready = ::poll(&wake, 1, timeout_ms);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0) {
      char bytes[64];
      const ssize_t n = ::read(pipe_[0], bytes, sizeof bytes);
      for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == 'q') return;
        if (bytes[i] == 'i') {
          interrupted_.store(true);
          platform::WakeSyncWaiters();
        }
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
