// flood: a modem that never stops talking. A child process writes unsolicited
// lines (signal reports, new-message indications) into the pty of the real
// main window's port (offscreen) at a steady rate, while the window runs its
// message loop as it does for an operator. Measured: the resident memory
// grown over the flood against the bytes received, and the window process's
// CPU time against the wall time (the writer is a process of its own, so its
// time is not counted).
//
//   flood_bench [bytes [bytes per second]]   (defaults 5000000 and 50000;
//                                             20000 is a quick check)
// Prints one line: RESULT flood_bytes=... rss_growth_kb=... rss_per_received=...
//                  cpu_share=... wall_s=... text_as_expected=...

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "messaging/log_text.h"
#include "platform/qt_glue.h"
#include "station/settings.h"

namespace {

namespace fs = std::filesystem;

long RssKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The flood's text: lines as chatty modems send them, in that order, again
// and again, cut to exactly `bytes`.
std::string FloodText(long bytes) {
  std::string text;
  text.reserve(static_cast<std::size_t>(bytes) + 64);
  for (long i = 0; static_cast<long>(text.size()) < bytes; ++i) {
    char line[96];
    std::snprintf(line, sizeof line,
                  i % 4 == 3 ? "\r\n+CMTI: \"ME\",%ld\r\n" : "\r\n+CSQ: %ld,99\r\n^RSSI:%ld\r\n",
                  i % 32, i % 32);
    text += line;
  }
  text.resize(static_cast<std::size_t>(bytes));
  return text;
}

// Writes the text in pieces of 10 ms worth at the rate, on its own clock.
[[noreturn]] void Write(int master, const std::string& text, long rate) {
  const std::size_t piece = static_cast<std::size_t>(std::max(1L, rate / 100));
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t at = 0, n = 0; at < text.size(); at += piece, ++n) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * n));
    const std::size_t size = std::min(piece, text.size() - at);
    for (std::size_t done = 0; done < size;) {
      const ssize_t w = ::write(master, text.data() + at + done, size - done);
      if (w <= 0) _exit(1);
      done += static_cast<std::size_t>(w);
    }
  }
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const long bytes = std::max(1000L, argc > 1 ? std::atol(argv[1]) : 5000000L);
  const long rate = std::max(1000L, argc > 2 ? std::atol(argv[2]) : 50000L);
  vestrel::bench::PtyPair pty;
  if (pty.Path().empty()) {
    std::fprintf(stderr, "flood_bench: no pseudo-terminal\n");
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();
  const fs::path folder = fs::temp_directory_path() / ("vestrel-flood-" + std::to_string(getpid()));
  fs::create_directories(folder);
  {
    std::ofstream ini(folder / vestrel::station::kIniFileName, std::ios::binary);
    ini << "[MODEM]\r\n"
        << vestrel::station::KeyName(vestrel::station::IniKey::kPort) << "=" << pty.Path()
        << "\r\n";
  }
  const std::string text = FloodText(bytes);
  long rss_before = 0, rss_after = 0;
  double cpu = 0, wall = 0;
  bool same = false;
  {
    vestrel::TForm1::Options options;
    options.folder = folder;
    options.durations = {0, 0};
    options.archive_file = folder / "archive.sqlite";
    vestrel::TForm1 form(options);
    form.show();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    rss_before = RssKb();
    const double cpu_before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const pid_t writer = fork();
    if (writer == 0) Write(pty.Master(), text, rate);
    // The loop runs until the window has every byte (a CR at the end of a
    // chunk is shown as CR LF, so the log may be longer) and nothing more comes.
    const vestrel::LogText& log = form.Messaging->modem_log.Lines();
    std::size_t last_size = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (static_cast<long>(log.Size()) >= bytes && log.Size() == last_size)
        QCoreApplication::quit();
      last_size = log.Size();
    });
    poll.start(100);
    QTimer::singleShot(static_cast<int>(bytes * 1000 / rate) + 60000, [] {
      std::fprintf(stderr, "flood_bench: the flood did not all arrive\n");
      QCoreApplication::quit();
    });
    QApplication::exec();
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu = CpuSeconds() - cpu_before;
    rss_after = RssKb();
    int status = 0;
    waitpid(writer, &status, 0);
    const std::string shown = form.Messaging->modem_log.Text();
    same =
        std::count(shown.begin(), shown.end(), '+') == std::count(text.begin(), text.end(), '+') &&
        WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  fs::remove_all(folder);
  vestrel::platform::RemoveQtGlue();
  const long received_kb = bytes / 1024;
  std::printf(
      "RESULT flood_bytes=%ld rate_bps=%ld rss_growth_kb=%ld received_kb=%ld "
      "rss_per_received=%.2f cpu_s=%.2f wall_s=%.2f cpu_share=%.3f text_as_expected=%d\n",
      bytes, rate, rss_after - rss_before, received_kb,
      static_cast<double>(rss_after - rss_before) / static_cast<double>(std::max(1L, received_kb)),
      cpu, wall, cpu / wall, same ? 1 : 0);
  return same ? 0 : 1;
}
