// throughput: a burst written to a pty master as fast as the pty takes it,
// received by
//
//   port      TBComPort with the main window's settings (smThreadSync, 2048-byte
//             queues, reads that return at once), its OnRxChar reading what
//             it is told and appending it to a buffer
//   qserial   QSerialPort::readyRead, readAll() appended to a buffer
//   handover  the floor of any design with an event thread that waits until
//             the user-interface thread has handled each batch: a thread in
//             poll() on the slave posts one event to the Qt loop and blocks
//             until the handler has read what waits and appended it
//
// TBComPort and QSerialPort set the line to 256000 baud, the fastest rate the
// port offers (a pty ignores it). The writer is a process of its own (this
// program with --writer), so that the process CPU time measured here is the
// receiver's alone. Rounds alternate among the paths; the figures are medians
// over the rounds, per MiB received. The received bytes are compared with the
// sent ones.
//
//   throughput_bench [KiB per burst [rounds [port|qserialport|handover]]]
//   (defaults 1024 and 5, every path; one path alone is for profiling)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "comport/b_com_port.h"
#include "platform/qt_glue.h"
#include "station/modem_line.h"

extern char** environ;

namespace {

using vestrel::bench::Median;
using vestrel::bench::PtyPair;

constexpr int kTimeoutMs = 60000;

double Seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Every byte value, in an order that repeats only after the whole burst.
std::string BurstData(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t x = 2463534242u;
  for (auto& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return data;
}

struct Sample {
  double wall_ms = 0, cpu_ms = 0;
  long handler_calls = 0;
  bool intact = false;
};

// The writer process: says it is ready on descriptor 3, waits for a byte on
// standard input, then writes the burst to standard output.
int WriteBurst(long kib) {
  const std::string data = BurstData(static_cast<std::size_t>(kib) * 1024);
  char go = 0;
  if (::write(3, "r", 1) != 1 || ::read(STDIN_FILENO, &go, 1) != 1) return 1;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::write(STDOUT_FILENO, data.data() + done, std::min<std::size_t>(4096, data.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// This program as the writer of the burst into the master, started and
// ready before the measurement. Spawned, not forked: a fork would copy this
// process's page tables and charge that to the CPU time measured here.
class Writer {
 public:
  Writer(int master, std::size_t bytes) {
    if (pipe2(go_, O_CLOEXEC) != 0 || pipe2(ready_, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {"throughput_bench", "--writer", std::to_string(bytes / 1024)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, master, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, go_[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ready_[1], 3);
    if (posix_spawn(&pid_, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    char ready = 0;
    if (pid_ > 0 && ::read(ready_[0], &ready, 1) != 1) pid_ = -1;
  }
  ~Writer() {
    for (int fd : {go_[0], go_[1], ready_[0], ready_[1]})
      if (fd >= 0) ::close(fd);
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  bool Go() { return pid_ > 0 && ::write(go_[1], "g", 1) == 1; }

 private:
  int go_[2] = {-1, -1};
  int ready_[2] = {-1, -1};
  pid_t pid_ = -1;
};

// Runs the event loop until done() or the time-out, measuring from the
// writer's start.
template <typename Done>
Sample Receive(QCoreApplication& app, int master, const std::string& data, const std::string& got,
               Done done, long& calls) {
  Sample s;
  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::quit(); });
  timeout.start(kTimeoutMs);
  Writer writer(master, data.size());
  const double wall0 = Seconds(CLOCK_MONOTONIC);
  const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  if (writer.Go() && !done()) app.exec();
  s.wall_ms = (Seconds(CLOCK_MONOTONIC) - wall0) * 1000;
  s.cpu_ms = (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1000;
  s.handler_calls = calls;
  s.intact = got == data;
  if (!s.intact)
    std::fprintf(stderr, "received %zu of %zu bytes%s\n", got.size(), data.size(),
                 got.size() == data.size() ? ", different" : "");
  return s;
}

Sample MeasurePort(QCoreApplication& app, const std::string& data) {
  PtyPair pty;
  std::string got;
  got.reserve(data.size());
  long calls = 0;
  vestrel::TBComPort port;
  // The modem line's settings, at the fastest rate.
  vestrel::station::ConfigureModemLine(port);
  port.SetBaudRate(vestrel::br256000);
  port.SetPort(pty.Path());
  port.OnRxChar = [&](vestrel::TBComPort* sender, int count) {
    ++calls;
    std::string s;
    sender->ReadStr(s, count);
    got += s;
    if (got.size() >= data.size()) QCoreApplication::quit();
  };
  port.Open();
  const Sample s = Receive(
      app, pty.Master(), data, got, [&] { return got.size() >= data.size(); }, calls);
  port.Close();
  return s;
}

Sample MeasureQSerialPort(QCoreApplication& app, const std::string& data) {
  PtyPair pty;
  std::string got;
  got.reserve(data.size());
  long calls = 0;
  QSerialPort serial;
  serial.setPortName(QString::fromStdString(pty.Path()));
  if (!serial.open(QIODevice::ReadWrite) || !serial.setBaudRate(256000)) {
    std::fprintf(stderr, "QSerialPort: %s\n", serial.errorString().toLocal8Bit().constData());
    return {};
  }
  QObject::connect(&serial, &QSerialPort::readyRead, [&] {
    ++calls;
    const QByteArray bytes = serial.readAll();
    got.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (got.size() >= data.size()) QCoreApplication::quit();
  });
  const Sample s = Receive(
      app, pty.Master(), data, got, [&] { return got.size() >= data.size(); }, calls);
  serial.close();
  return s;
}

const QEvent::Type kBatchEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Reads on the user-interface thread what waits on the slave, then lets the
// waiting thread go on.
class HandoverReceiver : public QObject {
 public:
  HandoverReceiver(int fd, std::string& got, std::size_t total, long& calls)
      : fd_(fd), got_(got), total_(total), calls_(calls) {}
  bool event(QEvent* e) override {
    if (e->type() != kBatchEvent) return QObject::event(e);
    ++calls_;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) {
      const std::size_t at = got_.size();
      got_.resize(at + static_cast<std::size_t>(waiting));
      const ssize_t n = ::read(fd_, got_.data() + at, static_cast<std::size_t>(waiting));
      got_.resize(at + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
    if (got_.size() >= total_) QCoreApplication::quit();
    {
      std::lock_guard lock(mutex);
      handled = true;
    }
    cv.notify_one();
    return true;
  }
  std::mutex mutex;
  std::condition_variable cv;
  bool handled = false;

 private:
  int fd_;
  std::string& got_;
  std::size_t total_;
  long& calls_;
};

Sample MeasureHandover(QCoreApplication& app, const std::string& data) {
  PtyPair pty;
  std::string got;
  got.reserve(data.size());
  long calls = 0;
  const int fd = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  HandoverReceiver receiver(fd, got, data.size(), calls);
  std::atomic<bool> stop{false};
  std::thread waiter([&] {
    pollfd p{fd, POLLIN, 0};
    while (!stop.load()) {
      if (poll(&p, 1, 100) <= 0) continue;
      std::unique_lock lock(receiver.mutex);
      receiver.handled = false;
      QCoreApplication::postEvent(&receiver, new QEvent(kBatchEvent));
      receiver.cv.wait(lock, [&] { return receiver.handled || stop.load(); });
    }
  });
  const Sample s = Receive(
      app, pty.Master(), data, got, [&] { return got.size() >= data.size(); }, calls);
  {
    std::lock_guard lock(receiver.mutex);
    stop = true;
  }
  receiver.cv.notify_one();
  waiter.join();
  QCoreApplication::removePostedEvents(&receiver);
  ::close(fd);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--writer") return WriteBurst(std::atol(argv[2]));
  const long kib = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1024;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string only = argc > 3 ? argv[3] : "";
  int qt_argc = 1;
  QCoreApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();

  const std::string data = BurstData(static_cast<std::size_t>(kib) * 1024);
  const double mib = static_cast<double>(data.size()) / (1024.0 * 1024.0);
  std::vector<double> port_wall, port_cpu, qs_wall, qs_cpu, ho_wall, ho_cpu;
  bool intact = true;
  long port_calls = 0, qs_calls = 0, ho_calls = 0;
  for (int round = 0; round < rounds; ++round) {
    const Sample p =
        !only.empty() && only != "port" ? Sample{0, 0, 0, true} : MeasurePort(app, data);
    const Sample q = !only.empty() && only != "qserialport" ? Sample{0, 0, 0, true}
                                                            : MeasureQSerialPort(app, data);
    const Sample h =
        !only.empty() && only != "handover" ? Sample{0, 0, 0, true} : MeasureHandover(app, data);
    const auto show = [](const char* name, const Sample& x) {
      std::printf("  %-12s %7.1f ms wall %7.1f ms CPU %6ld handler calls%s\n", name, x.wall_ms,
                  x.cpu_ms, x.handler_calls, x.intact ? "" : " (BYTES DIFFER)");
    };
    std::printf("round %d\n", round + 1);
    show("TBComPort", p);
    show("QSerialPort", q);
    show("handover", h);
    intact = intact && p.intact && q.intact && h.intact;
    ho_wall.push_back(h.wall_ms / mib);
    ho_cpu.push_back(h.cpu_ms / mib);
    ho_calls = h.handler_calls;
    port_wall.push_back(p.wall_ms / mib);
    port_cpu.push_back(p.cpu_ms / mib);
    qs_wall.push_back(q.wall_ms / mib);
    qs_cpu.push_back(q.cpu_ms / mib);
    port_calls = p.handler_calls;
    qs_calls = q.handler_calls;
  }
  vestrel::platform::RemoveQtGlue();
  const double pc = Median(port_cpu), qc = Median(qs_cpu), hc = Median(ho_cpu);
  std::printf(
      "RESULT throughput_kib=%ld port_wall_ms_per_mib=%.1f port_cpu_ms_per_mib=%.1f "
      "qserialport_wall_ms_per_mib=%.1f qserialport_cpu_ms_per_mib=%.1f cpu_ratio=%.2f "
      "handover_wall_ms_per_mib=%.1f handover_cpu_ms_per_mib=%.1f cpu_ratio_to_handover=%.2f "
      "port_calls=%ld qserialport_calls=%ld handover_calls=%ld intact=%s\n",
      kib, Median(port_wall), pc, Median(qs_wall), qc, qc > 0 ? pc / qc : 0.0, Median(ho_wall), hc,
      hc > 0 ? pc / hc : 0.0, port_calls, qs_calls, ho_calls, intact ? "yes" : "no");
  return intact ? 0 : 1;
}
