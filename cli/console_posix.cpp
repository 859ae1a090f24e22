#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "cli/console.h"

namespace vestrel::cli {
namespace {

DialogueStop* interrupt_stop = nullptr;
int interrupt_fd = -1;

// Only what is safe in a signal handler: an atomic store and write(2).
extern "C" void OnInterrupt(int) {
  const int saved = errno;
  if (interrupt_stop) interrupt_stop->Request();
  const char byte = 'i';
  if (interrupt_fd >= 0) [[maybe_unused]]
    const ssize_t n = ::write(interrupt_fd, &byte, 1);
  errno = saved;
}

}  // namespace

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void IgnoreBrokenPipe() {
  ::signal(SIGPIPE, SIG_IGN);
}

std::filesystem::path MakePrivateFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vestrel-sms.XXXXXX";
  // mkdtemp makes the folder with mode 0700.
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

struct InterruptGuard::Saved {
  struct sigaction previous {};
};

InterruptGuard::InterruptGuard(DialogueStop& stop, Watchdog& watchdog)
    : saved_(std::make_unique<Saved>()) {
  interrupt_stop = &stop;
  interrupt_fd = watchdog.InterruptFd();
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &saved_->previous);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &saved_->previous, nullptr);
  interrupt_stop = nullptr;
  interrupt_fd = -1;
}

}  // namespace vestrel::cli
