// watch: vestrel-sms watch against a modem this benchmark plays on a pty,
// with the dialogue waits set to zero and a command for every message
// (--exec), keeping each message in an archive of its own.
//
// - idle: after the first reading, the context switches of every thread of
//   the watcher over the idle seconds (0 means nothing wakes while it waits);
// - messages: each stored and announced with "+CMTI:" one at a time; the time
//   from the announcement until the command has run, and the watcher's RSS
//   after the first tenth of them and after all.
//
//   watch_bench [messages [idle seconds [--no-archive]]]   (defaults 1000 and 10)
//
// With the archive the RSS grows until SQLite's page cache (2 MiB by
// default) is full and then stays; without it, it does not grow at all.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Answers the reading's commands from its memory on the pty's master.
class Modem {
 public:
  explicit Modem(int master) : master_(master) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Modem() {
    stop_ = true;
    thread_.join();
  }
  // Into the lowest free place, as a modem stores what arrives.
  void StoreAndAnnounce(const std::string& text) {
    int index = 1;
    {
      std::lock_guard lock(mutex_);
      while (memory_.count(index)) ++index;
      memory_[index] = text;
    }
    Write("\r\n+CMTI: \"ME\"," + std::to_string(index) + "\r\n");
  }
  std::size_t Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }

 private:
  void Write(const std::string& bytes) {
    std::lock_guard lock(write_mutex_);
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  std::string Answer(const std::string& command) {
    std::lock_guard lock(mutex_);
    ++commands_;
    if (command.rfind("AT+CPMS", 0) == 0) {
      const std::string n = std::to_string(memory_.size());
      return "\r\n+CPMS: " + n + ",255," + n + ",255," + n + ",255\r\n\r\nOK\r\n";
    }
    if (command.rfind("AT+CMGR=", 0) == 0) {
      const auto found = memory_.find(std::atoi(command.c_str() + 8));
      if (found == memory_.end()) return "\r\n+CMS ERROR: 321\r\n";
      return "\r\n+CMGR: \"REC UNREAD\",\"+79161234567\",,\"26/12/08,10:15:00+12\"\r\n" +
             found->second + "\r\n\r\nOK\r\n";
    }
    if (command.rfind("AT+CMGD=", 0) == 0) memory_.erase(std::atoi(command.c_str() + 8));
    return "\r\nOK\r\n";
  }
  void Run() {
    std::string line;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != '\r') {
          line += buffer[i];
          continue;
        }
        Write(line + "\r" + Answer(line));
        line.clear();
      }
    }
  }

  int master_;
  std::mutex mutex_;
  std::mutex write_mutex_;
  std::map<int, std::string> memory_;
  std::size_t commands_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

long ProcStatus(pid_t pid, const std::string& task, const char* key) {
  std::ifstream in("/proc/" + std::to_string(pid) + (task.empty() ? "" : "/task/" + task) +
                   "/status");
  std::string word;
  while (in >> word)
    if (word == key) {
      long value = 0;
      in >> value;
      return value;
    }
  return -1;
}

long ContextSwitches(pid_t pid) {
  long total = 0;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    const std::string tid = task.path().filename();
    total += ProcStatus(pid, tid, "voluntary_ctxt_switches:") +
             ProcStatus(pid, tid, "nonvoluntary_ctxt_switches:");
  }
  return total;
}

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  // Without the archive: what the watch itself costs, apart from SQLite's cache.
  const bool no_archive = argc > 3 && std::string(argv[3]) == "--no-archive";
  vestrel::bench::PtyPair pty;
  if (pty.Path().empty() || messages < 10 || idle_seconds < 1) {
    std::fprintf(stderr, "usage: watch_bench [messages >= 10 [idle seconds >= 1]]\n");
    return 2;
  }
  char pattern[] = "/tmp/vestrel-watch-bench.XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const fs::path ran = dir / "ran";
  const fs::path link = dir / "modem";
  fs::create_symlink(pty.Path(), link);
  Modem modem(pty.Master());

  const std::string exec = "sh -c 'echo >> " + ran.string() + "'";
  const std::string port = "--port=" + link.string();
  const std::string data = "XDG_DATA_HOME=" + (dir / "data").string();
  const std::string runtime = "XDG_RUNTIME_DIR=" + dir.string();
  const std::string config = "XDG_CONFIG_HOME=" + (dir / "config").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::putenv(const_cast<char*>(data.c_str()));
    ::putenv(const_cast<char*>(runtime.c_str()));
    ::putenv(const_cast<char*>(config.c_str()));
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(VESTREL_SMS_TESTING, VESTREL_SMS_TESTING, "watch", "--interval=0", "--exec",
            exec.c_str(), port.c_str(), "--testing-durations=0,0",
            no_archive ? "--no-archive" : "--json", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The first reading: the count of an empty memory.
  const auto started = Clock::now();
  while (modem.Commands() < 2 && Clock::now() - started < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::seconds(1));

  const long switches_before = ContextSwitches(pid);
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const long idle_switches = ContextSwitches(pid) - switches_before;
  std::printf("idle %d s: %ld context switches in the watcher\n", idle_seconds, idle_switches);

  std::vector<double> latencies;
  long rss_early = 0;
  for (int i = 1; i <= messages; ++i) {
    const std::uintmax_t before = SizeOf(ran);
    const auto announced = Clock::now();
    modem.StoreAndAnnounce("Code " + std::to_string(i));
    while (SizeOf(ran) == before) {
      if (Clock::now() - announced > std::chrono::seconds(20)) {
        std::fprintf(stderr, "message %d: no command within 20 s\n", i);
        ::kill(pid, SIGKILL);
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    latencies.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - announced).count());
    if (i == messages / 10) rss_early = ProcStatus(pid, "", "VmRSS:");
  }
  const long rss_late = ProcStatus(pid, "", "VmRSS:");
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  fs::remove_all(dir);
  std::printf("%d messages: RSS %ld kB after %d, %ld kB after all; exit status %d\n", messages,
              rss_early, messages / 10, rss_late, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::printf(
      "RESULT idle_wakeups_per_s=%.2f rss_growth_kb=%ld cmti_to_exec_median_ms=%.1f "
      "cmti_to_exec_p99_ms=%.1f\n",
      static_cast<double>(idle_switches) / idle_seconds, rss_late - rss_early,
      vestrel::bench::Median(latencies), [&] {
        std::vector<double> sorted = latencies;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() * 99 / 100];
      }());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
