#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <string>

#include "cli/console.h"
#include "cli/help_text.h"

namespace vestrel::cli {
namespace {

DialogueStop* interrupt_stop = nullptr;
Watchdog* interrupt_watchdog = nullptr;
volatile sig_atomic_t interrupt_signal = 0;

// The requests that end a dialogue at its next command, as Ctrl-C does.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Only what is safe in a signal handler: atomic stores and write(2).
extern "C" void OnInterrupt(int signal_number) {
  const int saved = errno;
  if (interrupt_signal == 0) interrupt_signal = signal_number;
  if (interrupt_stop) interrupt_stop->Request();
  if (interrupt_watchdog) interrupt_watchdog->Interrupt();
  errno = saved;
}

}  // namespace

// A terminal takes and shows the bytes as they are.
ConsoleSession::ConsoleSession() = default;
ConsoleSession::~ConsoleSession() = default;

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::string FileNameBytes(const std::filesystem::path& path) {
  return path.string();
}

std::string StagingFileName(const std::filesystem::path& path) {
  return path.string();
}

std::FILE* OpenLogFile(const std::string& utf8_name) {
  const int fd =
      ::open(utf8_name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "a");
  if (!file) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return file;
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  ::localtime_r(&moment, &local);
  return local;
}

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
  struct sigaction previous[std::size(kStopSignals)]{};
};

InterruptGuard::InterruptGuard(DialogueStop& stop, Watchdog& watchdog)
    : saved_(std::make_unique<Saved>()) {
  interrupt_stop = &stop;
  interrupt_watchdog = &watchdog;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &action, &saved_->previous[i]);
}

InterruptGuard::~InterruptGuard() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &saved_->previous[i], nullptr);
  interrupt_stop = nullptr;
  interrupt_watchdog = nullptr;
}

int InterruptGuard::ExitStatus() {
  return 128 + (interrupt_signal != 0 ? static_cast<int>(interrupt_signal) : SIGINT);
}

const char* ConsoleHelp() {
  return R"(Progress goes to standard error when it is a terminal; otherwise standard
error holds only errors. Ctrl-C ends a send after the SMS being written and a
reading before its next command; so do SIGTERM (exit 143) and SIGHUP (129).
)";
}

}  // namespace vestrel::cli
