// A long day at the modem: the real main window (offscreen) handles a stream
// of small chunks, as a modem's unsolicited reports arrive all day, and the
// time per chunk is measured at the start, after 10 000 and at the end, with
// the process's memory. The pane's text is compared with what it must show.
//
//   long_day_bench [chunks]      (default 50000)
// Prints one line: RESULT long_day_us_start=... us_10k=... us_end=... ratio=...
//                  rss_growth_kb=... received_kb=...

#include <unistd.h>
#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "comport/testing/fake_serial_device.h"
#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "platform/qt_glue.h"

namespace {

long RssKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string Chunk(long i) {
  // A signal report as modems send them, 40 bytes with its framing.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "\r\n+CSQ: %02ld,99 ^RSSI:%02ld #%010ld  \r\n", i % 32,
                i % 32, i);
  std::string chunk(buffer);
  chunk.resize(40, ' ');
  return chunk;
}

}  // namespace

int main(int argc, char** argv) {
  const long chunks = std::max(30L, argc > 1 ? std::atol(argv[1]) : 50000L);
  // Three windows of chunks are timed: at the start, at 10 000 (or half way
  // for a short day) and at the end.
  const long window = std::min(1000L, chunks / 10);
  const long middle = std::min(10000L, chunks / 2);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();

  const auto folder =
      std::filesystem::temp_directory_path() / ("vestrel-long-day-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  {
    std::ofstream ini(folder / vestrel::TForm1::kIniFileName, std::ios::binary);
    ini << "[MODEM]\r\n" << vestrel::TForm1::IniPortKey() << "=COM1\r\n";
  }
  auto devices = std::make_shared<vestrel::testing::FakeDeviceFactory>();
  vestrel::TForm1::Options options;
  options.folder = folder;
  options.port_factory = devices;
  options.durations = {0, 0};
  double us_start = 0, us_10k = 0, us_end = 0;
  long rss_before = 0, rss_after = 0;
  bool same = false;
  {
    vestrel::TForm1 form(options);
    form.show();
    auto device = devices->LastDevice();
    if (!device) {
      std::fprintf(stderr, "long_day_bench: the port did not open\n");
      return 1;
    }
    rss_before = RssKb();
    std::string expected;
    const auto measure = [&](long from, long to) {
      const auto start = std::chrono::steady_clock::now();
      for (long i = from; i < to; ++i) {
        const std::string chunk = Chunk(i);
        device->PushInput(chunk);
        form.BComPort1RxChar(form.BComPort1.get(), static_cast<int>(chunk.size()));
      }
      const auto took = std::chrono::steady_clock::now() - start;
      return std::chrono::duration<double, std::micro>(took).count() / double(to - from);
    };
    us_start = measure(0, window);
    measure(window, middle);
    us_10k = measure(middle, middle + window);
    measure(middle + window, chunks - window);
    us_end = measure(chunks - window, chunks);
    QCoreApplication::processEvents();
    rss_after = RssKb();
    for (long i = chunks - 1; i >= 0; --i) expected += Chunk(i);
    same = form.Messaging->modem_log.Text() == expected;
    QString shown = QString::fromLatin1(expected.data(), static_cast<qsizetype>(expected.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    same = same && form.Memo2->toPlainText() == shown;
  }
  std::filesystem::remove_all(folder);
  vestrel::platform::RemoveQtGlue();
  std::printf(
      "RESULT long_day_us_start=%.2f us_10k=%.2f us_end=%.2f ratio=%.2f rss_growth_kb=%ld "
      "received_kb=%ld chunks=%ld text_as_expected=%d\n",
      us_start, us_10k, us_end, us_end / us_start, rss_after - rss_before, chunks * 40 / 1024,
      chunks, same ? 1 : 0);
  return same ? 0 : 1;
}
