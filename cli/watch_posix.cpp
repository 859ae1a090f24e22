#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "cli/console.h"
#include "cli/watch_os.h"

namespace vestrel::cli {
namespace {

Watchdog* reopen_watchdog = nullptr;
volatile sig_atomic_t reopen_requested = 0;

extern "C" void OnHangup(int) {
  const int saved = errno;
  reopen_requested = 1;
  // The watchdog's wake-up is a write(2), which a handler may make.
  if (reopen_watchdog) reopen_watchdog->Interrupt();
  errno = saved;
}

}  // namespace

std::string WatchUnavailable() {
  return {};
}

struct LogReopenRequest::Saved {
  struct sigaction previous {};
};

LogReopenRequest::LogReopenRequest(Watchdog& watchdog) : saved_(std::make_unique<Saved>()) {
  reopen_watchdog = &watchdog;
  struct sigaction action {};
  action.sa_handler = OnHangup;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGHUP, &action, &saved_->previous);
}

LogReopenRequest::~LogReopenRequest() {
  sigaction(SIGHUP, &saved_->previous, nullptr);
  reopen_watchdog = nullptr;
}

bool LogReopenRequest::Take() {
  if (!reopen_requested) return false;
  reopen_requested = 0;
  return true;
}

bool LogReopenRequest::Pending() const {
  return reopen_requested != 0;
}

bool ReopenLogFile(std::FILE* file, const std::string& utf8_name) {
  std::FILE* fresh = OpenLogFile(utf8_name);
  if (!fresh) return false;
  std::fflush(file);
  // dup3 keeps close-on-exec, which dup2 would clear.
  const bool moved = ::dup3(::fileno(fresh), ::fileno(file), O_CLOEXEC) >= 0;
  const int error = errno;
  std::fclose(fresh);
  errno = error;
  return moved;
}

bool StoppedAsService(int exit_status) {
  return exit_status == 128 + SIGTERM;
}

}  // namespace vestrel::cli
