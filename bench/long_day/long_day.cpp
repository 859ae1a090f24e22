// A long day at the modem: the real main window (offscreen) handles a stream
// of small chunks, as a modem's unsolicited reports arrive all day, and the
// time per chunk (the median of a thousand) is measured at the start, after
// 10 000 and at the end, with the process's memory (resident, and the heap in use). The pane's text
// is compared with what it must show.
//
// Then a reading and a send as the panes see them (the command lines in the
// command log, the modem's answers in front of the modem log, the message line
// after it) are timed on that window and on a fresh one, in turns.
//
//   long_day_bench [chunks]      (default 50000; 200 is a quick check)
// Prints one line: RESULT long_day_us_start=... us_10k=... us_end=... ratio=...
//                  rss_growth_kb=... heap_growth_kb=... received_kb=...
//                  exchange_us_fresh=... exchange_us_day=... exchange_ratio=...

#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "comport/testing/fake_serial_device.h"
#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "platform/qt_glue.h"
#include "station/settings.h"

namespace {

long RssKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The median, in microseconds: on a shared machine a preempted chunk says
// nothing about the pane.
double MedianUs(std::vector<double> us) {
  if (us.empty()) return 0;
  std::sort(us.begin(), us.end());
  const std::size_t n = us.size();
  return n % 2 ? us[n / 2] : (us[n / 2 - 1] + us[n / 2]) / 2;
}

double SinceUs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
      .count();
}

// Allocated bytes, on the heap and in blocks of their own (large arrays).
long HeapInUseKb() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
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

// One message read and one sent, as the panes see them: the commands in the
// command log, the modem's answers in front of the modem log and the message
// line after it. Returns the time it took in microseconds.
double Exchange(vestrel::TForm1& form, int i) {
  static const std::string answer =
      "\r\n+CMGR: \"REC READ\",\"79161234567\",,\"26/12/08,10:15:00+12\"\r\n"
      "041F04400438043204350442002C0020043C0438044000210021\r\n\r\nOK\r\n";
  static const std::string pdu = "0011000B919761214365F70008AA0C041F044004380432043504420021";
  auto& messaging = *form.Messaging;
  const auto start = std::chrono::steady_clock::now();
  messaging.command_log.AddLine("AT+CMGR=" + std::to_string(i));
  messaging.modem_log.Prepend(answer);
  messaging.modem_log.Append("\r\n79161234567 26/12/08 10:15 Hello, world!!");
  messaging.command_log.AddLine("AT+CMGD=" + std::to_string(i));
  messaging.modem_log.Prepend("\r\nOK\r\n");
  messaging.command_log.AddLine("AT+CMGS=27");
  messaging.modem_log.Prepend("\r\n> ");
  messaging.command_log.AddLine(pdu);
  messaging.modem_log.Prepend("\r\n+CMGS: 3\r\n\r\nOK\r\n");
  return SinceUs(start);
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
    std::ofstream ini(folder / vestrel::station::kIniFileName, std::ios::binary);
    ini << "[MODEM]\r\n"
        << vestrel::station::KeyName(vestrel::station::IniKey::kPort) << "=COM1\r\n";
  }
  auto devices = std::make_shared<vestrel::testing::FakeDeviceFactory>();
  vestrel::TForm1::Options options;
  options.folder = folder;
  options.port_factory = devices;
  options.durations = {0, 0};
  // A second window, fresh, for the exchanges after the day: taken in turns
  // with the day's window, so that the machine's slow moments hit both alike.
  auto fresh = std::make_unique<vestrel::TForm1>(options);
  fresh->show();
  double exchange_fresh = 0, exchange_day = 0;
  double us_start = 0, us_10k = 0, us_end = 0;
  long rss_before = 0, rss_after = 0, heap_before = 0, heap_after = 0;
  bool same = false;
  {
    vestrel::TForm1 form(options);
    form.show();
    auto device = devices->LastDevice();
    if (!device) {
      std::fprintf(stderr, "long_day_bench: the port did not open\n");
      return 1;
    }
    QCoreApplication::processEvents();
    rss_before = RssKb();
    heap_before = HeapInUseKb();
    std::string expected;
    // The median time of a chunk in [from, to).
    const auto measure = [&](long from, long to) {
      std::vector<double> us;
      us.reserve(static_cast<std::size_t>(to - from));
      for (long i = from; i < to; ++i) {
        const std::string chunk = Chunk(i);
        const auto start = std::chrono::steady_clock::now();
        device->PushInput(chunk);
        form.BComPort1RxChar(form.BComPort1, static_cast<int>(chunk.size()));
        us.push_back(SinceUs(start));
      }
      return MedianUs(std::move(us));
    };
    us_start = measure(0, window);
    measure(window, middle);
    us_10k = measure(middle, middle + window);
    measure(middle + window, chunks - window);
    us_end = measure(chunks - window, chunks);
    QCoreApplication::processEvents();
    rss_after = RssKb();
    heap_after = HeapInUseKb();
    for (long i = chunks - 1; i >= 0; --i) expected += Chunk(i);
    same = form.Messaging->modem_log.Text() == expected;
    QString shown = QString::fromLatin1(expected.data(), static_cast<qsizetype>(expected.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    same = same && form.Memo2->toPlainText() == shown;
    std::vector<double> on_fresh, on_day;
    for (int i = 0; i < 41; ++i) {
      on_fresh.push_back(Exchange(*fresh, i));
      on_day.push_back(Exchange(form, i));
    }
    exchange_fresh = MedianUs(std::move(on_fresh));
    exchange_day = MedianUs(std::move(on_day));
  }
  fresh.reset();
  std::filesystem::remove_all(folder);
  vestrel::platform::RemoveQtGlue();
  const long received_kb = chunks * 40 / 1024;
  std::printf(
      "RESULT long_day_us_start=%.2f us_10k=%.2f us_end=%.2f ratio=%.2f rss_growth_kb=%ld "
      "heap_growth_kb=%ld received_kb=%ld rss_per_received=%.1f exchange_us_fresh=%.1f "
      "exchange_us_day=%.1f exchange_ratio=%.2f chunks=%ld text_as_expected=%d\n",
      us_start, us_10k, us_end, us_end / us_start, rss_after - rss_before, heap_after - heap_before,
      received_kb,
      static_cast<double>(rss_after - rss_before) / static_cast<double>(std::max(1L, received_kb)),
      exchange_fresh, exchange_day, exchange_day / exchange_fresh, chunks, same ? 1 : 0);
  return same ? 0 : 1;
}
