#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "cli/exec_runner.h"

extern char** environ;

namespace vestrel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Of a command's standard error, this much goes to the log.
constexpr std::size_t kStderrKept = 4096;
// After the command ended, what its children still write is waited for this long.
constexpr int kAfterExitMs = 200;
// Without a pidfd, the command's end is looked for this often.
constexpr int kExitCheckMs = 50;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::vector<std::string> Environment(const EnvironmentAdditions& additions) {
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry = *e;
    const std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [added, value] : additions) replaced = replaced || name == added;
    if (!replaced) entries.emplace_back(entry);
  }
  for (const auto& [name, value] : additions) {
    std::string clean = value;
    // A NUL would cut the variable short without saying so.
    for (char& c : clean)
      if (c == '\0') c = ' ';
    entries.push_back(name + "=" + clean);
  }
  return entries;
}

std::string Status(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

class Spawned {
 public:
  ~Spawned() {
    CloseFd(input_);
    CloseFd(errors_);
    CloseFd(pidfd_);
  }

  // Starts argv; false with the reason when it could not be started.
  bool Start(const std::vector<std::string>& argv, const EnvironmentAdditions& additions,
             std::string& reason) {
    int in[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return Failed("pipe", reason);
    input_ = in[1];
    if (::pipe2(err, O_CLOEXEC) != 0) {
      ::close(in[0]);
      return Failed("pipe", reason);
    }
    errors_ = err[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    // Its standard output goes where the watcher's errors go (the journal).
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so that a time-out ends whatever it started too;
    // the signals the watcher ignores or handles are the default again.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, s);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_strings = Environment(additions);
    std::vector<char*> env;
    for (std::string& e : env_strings) env.push_back(e.data());
    env.push_back(nullptr);
    const int error =
        ::posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(err[1]);
    if (error != 0) {
      reason = std::string("cannot start: ") + std::strerror(error);
      return false;
    }
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    ::fcntl(input_, F_SETFL, O_NONBLOCK);
    return true;
  }

  // Feeds input and takes standard error until the command ends or the
  // deadline passes; then ends it. What happened, for the log.
  std::string Finish(std::string_view input, Clock::time_point deadline, std::string& errors) {
    if (input.empty()) CloseFd(input_);
    std::optional<int> status;
    std::optional<Clock::time_point> drain_until;
    for (;;) {
      if (!status) status = Reaped();
      if (status && !drain_until)
        drain_until = Clock::now() + std::chrono::milliseconds(kAfterExitMs);
      if (status && (errors_ < 0 || Clock::now() >= *drain_until)) break;
      const auto until = status ? *drain_until : deadline;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (!status && left.count() <= 0) {
        ::kill(-pid_, SIGKILL);
        int raw = 0;
        while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        return "did not end in time: killed";
      }
      pollfd p[3];
      nfds_t count = 0;
      const nfds_t err_slot = errors_ >= 0 ? count++ : 3;
      if (err_slot < 3) p[err_slot] = {errors_, POLLIN, 0};
      const nfds_t in_slot = input_ >= 0 && !status ? count++ : 3;
      if (in_slot < 3) p[in_slot] = {input_, POLLOUT, 0};
      const nfds_t pid_slot = pidfd_ >= 0 && !status ? count++ : 3;
      if (pid_slot < 3) p[pid_slot] = {pidfd_, POLLIN, 0};
      int wait_ms = static_cast<int>(std::max<long long>(left.count(), 0) + 1);
      if (pidfd_ < 0 && !status) wait_ms = std::min(wait_ms, kExitCheckMs);
      if (::poll(p, count, wait_ms) < 0 && errno != EINTR) break;
      if (err_slot < 3 && p[err_slot].revents) {
        char buffer[4096];
        const ssize_t n = ::read(errors_, buffer, sizeof buffer);
        if (n <= 0) {
          CloseFd(errors_);
        } else if (errors.size() < kStderrKept) {
          errors.append(buffer, std::min(static_cast<std::size_t>(n), kStderrKept - errors.size()));
        }
      }
      if (in_slot < 3 && p[in_slot].revents) {
        const ssize_t n = ::write(input_, input.data(), input.size());
        if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
        // A command that does not read its input is no failure of ours.
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || input.empty()) CloseFd(input_);
      }
    }
    return Status(status.value_or(0));
  }

 private:
  static bool Failed(const char* what, std::string& reason) {
    reason = std::string("cannot start: ") + what + ": " + std::strerror(errno);
    return false;
  }
  std::optional<int> Reaped() {
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) return raw;
    return std::nullopt;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int errors_ = -1;
  int pidfd_ = -1;
};

}  // namespace

struct ExecRunner::State {
  std::vector<std::string> argv;
  std::chrono::seconds limit;
  Note note;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<ExecJob> queue;
  bool running = false;
  bool ending = false;
  std::thread thread;

  void Run() {
    for (;;) {
      ExecJob job;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return ending || !queue.empty(); });
        if (ending) {
          for (const ExecJob& left : queue)
            note("exec: not run for the " + left.what + ": watch ended");
          queue.clear();
          changed.notify_all();
          return;
        }
        job = std::move(queue.front());
        queue.pop_front();
        running = true;
      }
      RunOne(job);
      {
        std::lock_guard lock(mutex);
        running = false;
      }
      changed.notify_all();
    }
  }

  void RunOne(const ExecJob& job) {
    Spawned spawned;
    std::string reason;
    if (!spawned.Start(argv, job.environment, reason)) {
      note("exec: " + job.what + ": " + reason);
      return;
    }
    std::string errors;
    const std::string outcome = spawned.Finish(job.input, Clock::now() + limit, errors);
    note("exec: " + job.what + ": " + outcome);
    std::size_t start = 0;
    while (start < errors.size()) {
      std::size_t end = errors.find('\n', start);
      if (end == std::string::npos) end = errors.size();
      if (end > start) note("exec stderr: " + errors.substr(start, end - start));
      start = end + 1;
    }
  }
};

ExecRunner::ExecRunner(std::vector<std::string> argv, std::chrono::seconds limit, Note note)
    : state_(std::make_unique<State>()) {
  state_->argv = std::move(argv);
  state_->limit = limit;
  state_->note = std::move(note);
  state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

ExecRunner::~ExecRunner() {
  {
    std::lock_guard lock(state_->mutex);
    state_->ending = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
}

void ExecRunner::Add(ExecJob job) {
  {
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(job));
  }
  state_->changed.notify_all();
}

void ExecRunner::WaitIdle() {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [this] { return state_->queue.empty() && !state_->running; });
}

}  // namespace vestrel::cli
