#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/sync.h"
#include "platform/termination.h"

namespace vestrel::platform {
namespace {

std::atomic<bool>* termination_stop = nullptr;
int termination_pipe[2] = {-1, -1};

// Only what is safe in a signal handler: an atomic store and write(2).
extern "C" void OnTermination(int) {
  const int saved = errno;
  if (termination_stop) termination_stop->store(true);
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(termination_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void ForwardTerminationRequests(std::atomic<bool>* stop, std::function<void()> on_request) {
  if (termination_pipe[0] >= 0 || ::pipe2(termination_pipe, O_CLOEXEC) != 0) return;
  termination_stop = stop;
  // The handler may only write; a thread of its own hands the request over.
  std::thread([fd = termination_pipe[0], on_request = std::move(on_request)] {
    char byte = 0;
    while (::read(fd, &byte, 1) > 0 || errno == EINTR) Queue(on_request);
  }).detach();
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

}  // namespace vestrel::platform
