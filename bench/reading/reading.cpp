// reading: ReadSMS in the real main window (offscreen) over n stored messages,
// the port on a pty to the modem simulator, with the 1000 ms waits after each
// command and the senders' pauses set to zero, so that what is measured is
// the program's own work: writing the commands, handling every chunk,
// staging each chunk with answers through "tmp.sms", showing every message
// in the modem log and keeping it in the archive.
//
// After one reading to warm up, for n = 32, 64, 128 and 255 (rounds
// interleaved, medians) the wall time and the process's CPU time per message
// from the click to the last answer handled; the simulator's own time is in
// the wall time, not in the CPU time.
// The cost should stay linear: the per-message figure at 255 over the one at
// 32 is the linearity ratio.
//
//   reading_bench [rounds [largest n]]   (defaults 3 and 255; the other
//                                        counts are 1/8, 1/4 and 1/2 of it)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "platform/exceptions.h"
#include "platform/qt_glue.h"
#include "station/settings.h"

extern char** environ;

namespace {

using vestrel::bench::Median;

namespace fs = std::filesystem;

constexpr int kTimeoutMs = 120000;

double Seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// n received messages at 0..n-1 of a memory of 255 places numbered from 0,
// every other one in UCS-2 Cyrillic, the rest in 7-bit.
void WriteScenario(const fs::path& file, int n) {
  std::ofstream out(file, std::ios::binary);
  out << "{\"index_base\": 0, \"storages\": [{\"name\": \"ME\", \"capacity\": 255, "
         "\"messages\": [\n";
  for (int i = 0; i < n; ++i) {
    char number[32], time[40];
    std::snprintf(number, sizeof number, "+7916%07d", 1000000 + i);
    std::snprintf(time, sizeof time, "26/12/08,%02d:%02d:%02d+12", 8 + i / 60 % 12, i % 60,
                  (i * 7) % 60);
    out << (i ? ",\n" : "") << "{\"index\": " << i << ", \"status\": \"REC UNREAD\", \"number\": \""
        << number << "\", \"time\": \"" << time << "\", ";
    if (i % 2 == 0)
      out << "\"text\": \"Сообщение номер " << i
          << ": встреча завтра в 10:00, не опаздывайте.\", \"coding\": \"ucs2\"}";
    else
      out << "\"text\": \"Message number " << i
          << ": the parcel is ready for collection until 20:00\", \"coding\": \"gsm7\"}";
  }
  out << "]}]}\n";
}

class Simulator {
 public:
  Simulator(const fs::path& folder, const fs::path& scenario) {
    link_ = (folder / "modem").string();
    std::vector<std::string> args = {VESTREL_MODEM_SIM, "--link", link_, "--scenario",
                                     scenario.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, VESTREL_MODEM_SIM, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // The simulator prints the slave's path once the link is in place.
    std::string line;
    while (pid_ > 0 && line.find('\n') == std::string::npos) {
      pollfd p{out[0], POLLIN, 0};
      char buf[256];
      if (poll(&p, 1, 10000) <= 0) break;
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    started_ = line.find('\n') != std::string::npos;
  }
  ~Simulator() { Stop(); }
  // Ends the simulator; returns the CPU time it used, in ms.
  double Stop() {
    if (pid_ <= 0) return 0;
    kill(pid_, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    const auto ms = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_usec) / 1000;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool started() const { return started_; }
  const std::string& link() const { return link_; }

 private:
  std::string link_;
  pid_t pid_ = -1;
  bool started_ = false;
};

struct Sample {
  double wall_ms = 0, cpu_ms = 0;
  double sim_cpu_ms = 0;  // the simulator's whole life, start and end included
  int shown = 0;
  bool ok = false;
};

// The archive is shared by every reading of the run: it is created by a
// reading before the measured ones, not inside them.
Sample ReadOnce(QApplication& app, const fs::path& root, int n) {
  Sample s;
  const fs::path folder = root / ("n" + std::to_string(n));
  fs::remove_all(folder);
  fs::create_directories(folder);
  WriteScenario(folder / "scenario.json", n);
  Simulator sim(folder, folder / "scenario.json");
  if (!sim.started()) {
    std::fprintf(stderr, "reading_bench: the simulator did not start\n");
    return s;
  }
  {
    std::ofstream ini(folder / vestrel::station::kIniFileName, std::ios::binary);
    ini << "[MODEM]\r\n"
        << vestrel::station::KeyName(vestrel::station::IniKey::kPort) << "=" << sim.link()
        << "\r\n";
  }
  // "tmp.sms" is staged in the current folder.
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  std::vector<std::string> errors;
  auto previous_handler = vestrel::platform::SetExceptionHandler(
      [&](std::exception_ptr e) { errors.push_back(vestrel::platform::ExceptionMessage(e)); });
  {
    vestrel::TForm1::Options options;
    options.folder = folder;
    options.durations = {0, 0};
    options.archive_file = root / "archive.sqlite";
    vestrel::TForm1 form(options);
    form.show();
    QApplication::processEvents();
    vestrel::InboxReader& inbox = form.Messaging->inbox;
    const auto done = [&] { return inbox.SmsShown >= n && !inbox.ReadingUnderWay(); };
    form.BComPort1->OnRxChar = [&](vestrel::TBComPort* sender, int count) {
      form.BComPort1RxChar(sender, count);
      if (done()) QCoreApplication::quit();
    };
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::quit(); });
    timeout.start(kTimeoutMs);

    const double wall0 = Seconds(CLOCK_MONOTONIC);
    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    form.Button4Click(nullptr);
    if (!done()) app.exec();
    s.wall_ms = (Seconds(CLOCK_MONOTONIC) - wall0) * 1000;
    s.cpu_ms = (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1000;
    s.shown = inbox.SmsShown;
    s.ok = done() && inbox.SmsTotal == n && errors.empty();
  }
  s.sim_cpu_ms = sim.Stop();
  vestrel::platform::SetExceptionHandler(previous_handler);
  fs::current_path(previous);
  for (const auto& e : errors) std::fprintf(stderr, "reading_bench: n=%d: %s\n", n, e.c_str());
  fs::remove_all(folder);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const int largest = argc > 2 ? std::clamp(std::atoi(argv[2]), 8, 255) : 255;
  const std::vector<int> sizes = {(largest + 1) / 8, (largest + 1) / 4, (largest + 1) / 2, largest};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();
  const fs::path root = fs::temp_directory_path() / ("vestrel-reading-" + std::to_string(getpid()));
  fs::create_directories(root);

  // Fonts, the archive file and the simulator's binary are ready after this.
  const Sample warm_up = ReadOnce(app, root, sizes.front());
  bool ok = warm_up.ok;
  std::vector<std::vector<double>> wall(sizes.size()), cpu(sizes.size()), sim_cpu(sizes.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      const Sample s = ReadOnce(app, root, sizes[i]);
      std::printf("round %d, n=%d: %.1f ms wall, %.1f ms CPU (simulator %.1f ms), %d shown%s\n",
                  round + 1, sizes[i], s.wall_ms, s.cpu_ms, s.sim_cpu_ms, s.shown,
                  s.ok ? "" : " (FAILED)");
      sim_cpu[i].push_back(s.sim_cpu_ms / sizes[i]);
      ok = ok && s.ok;
      wall[i].push_back(s.wall_ms / sizes[i]);
      cpu[i].push_back(s.cpu_ms / sizes[i]);
    }
  }
  fs::remove_all(root);
  vestrel::platform::RemoveQtGlue();

  std::printf("%8s %16s %16s %20s\n", "n", "wall_ms_per_msg", "cpu_ms_per_msg",
              "sim_cpu_ms_per_msg");
  for (std::size_t i = 0; i < sizes.size(); ++i)
    std::printf("%8d %16.3f %16.3f %20.3f\n", sizes[i], Median(wall[i]), Median(cpu[i]),
                Median(sim_cpu[i]));
  const double w_small = Median(wall.front()), w_large = Median(wall.back());
  const double c_small = Median(cpu.front()), c_large = Median(cpu.back());
  std::printf(
      "RESULT reading_n=%d wall_ms_per_msg=%.3f cpu_ms_per_msg=%.3f wall_ms_per_msg_n%d=%.3f "
      "cpu_ms_per_msg_n%d=%.3f linearity_wall=%.2f linearity_cpu=%.2f sim_cpu_ms_per_msg=%.3f "
      "ok=%s\n",
      sizes.back(), w_large, c_large, sizes.front(), w_small, sizes.front(), c_small,
      w_small > 0 ? w_large / w_small : 0.0, c_small > 0 ? c_large / c_small : 0.0,
      Median(sim_cpu.back()), ok ? "yes" : "no");
  return ok ? 0 : 1;
}
