// port_latency: over a pseudo-terminal, the time from a byte written on the
// master to the handler that sees it on the user-interface thread.
//
//   port      TBComPort (smThreadSync) in a Qt event loop: event thread, then
//             Synchronize/CheckSynchronize through the Qt glue
//   floor     a bare poll()+read() loop on the slave
//   relay     the least that any design with an event thread and a handler on
//             the user-interface thread can do: a thread in poll() on the slave
//             reads the byte and hands it to the Qt loop with one posted event,
//             whose handler sees it
//   qserial   QSerialPort::readyRead in a Qt event loop
//
// Then the idle cost: the port open and the line quiet for 10 s, the process's
// CPU time and the event thread's context switches.
//
//   port_latency [round_trips_per_round [idle_seconds]]   (defaults 200 and 10)
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "comport/b_com_port.h"
#include "platform/qt_glue.h"

namespace {

using vestrel::bench::PtyPair;

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 12;
int round_trips = 200;  // per round and path: 2400 in all
int warm_up = 20;
int idle_seconds = 10;

// Hands out one byte at a time and waits until the receiver has seen it.
class Driver {
 public:
  explicit Driver(int master) : master_(master) {}

  // Receiver side: called where the byte is seen.
  void Seen() {
    const auto now = Clock::now();
    {
      std::lock_guard lock(mutex_);
      seen_at_ = now;
      seen_ = true;
    }
    cv_.notify_all();
  }

  // Runs the round trips on the calling thread; returns microseconds.
  std::vector<double> Run() {
    std::vector<double> samples;
    for (int i = 0; i < warm_up + round_trips; ++i) {
      {
        std::lock_guard lock(mutex_);
        seen_ = false;
      }
      const char byte = static_cast<char>('A' + i % 26);
      const auto sent_at = Clock::now();
      if (::write(master_, &byte, 1) != 1) break;
      std::unique_lock lock(mutex_);
      if (!cv_.wait_for(lock, std::chrono::seconds(5), [&] { return seen_; })) break;
      if (i >= warm_up)
        samples.push_back(std::chrono::duration<double, std::micro>(seen_at_ - sent_at).count());
      lock.unlock();
      // Let both sides settle back into their waits.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return samples;
  }

 private:
  int master_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool seen_ = false;
  Clock::time_point seen_at_;
};

struct Stats {
  double median = 0, p99 = 0, mean = 0;
  std::size_t n = 0;
};

Stats Summarise(std::vector<double> v) {
  Stats s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  double sum = 0;
  for (double x : v) sum += x;
  s.mean = sum / static_cast<double>(v.size());
  return s;
}

// Runs driver on its own thread while the Qt event loop runs here.
std::vector<double> RunInEventLoop(QCoreApplication& app, Driver& driver) {
  std::vector<double> samples;
  std::thread t([&] {
    samples = driver.Run();
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  t.join();
  return samples;
}

std::vector<double> MeasurePort(QCoreApplication& app) {
  PtyPair pty;
  Driver driver(pty.Master());
  vestrel::TBComPort port;
  port.SetPort(pty.Path());
  port.OnRxChar = [&](vestrel::TBComPort* sender, int count) {
    std::string s;
    if (sender->ReadStr(s, count) > 0) driver.Seen();
  };
  port.Open();
  auto samples = RunInEventLoop(app, driver);
  port.Close();
  return samples;
}

std::vector<double> MeasureFloor() {
  PtyPair pty;
  Driver driver(pty.Master());
  const int fd = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    pollfd p{fd, POLLIN, 0};
    char buf[256];
    while (!stop.load()) {
      if (poll(&p, 1, 100) <= 0) continue;
      if (::read(fd, buf, sizeof buf) > 0) driver.Seen();
    }
  });
  auto samples = driver.Run();
  stop = true;
  reader.join();
  ::close(fd);
  return samples;
}

// One received byte on its way to the user-interface thread.
const QEvent::Type kByteEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct ByteEvent : QEvent {
  explicit ByteEvent(char b) : QEvent(kByteEvent), byte(b) {}
  char byte;
};

class RelayReceiver : public QObject {
 public:
  explicit RelayReceiver(Driver& driver) : driver_(driver) {}
  bool event(QEvent* e) override {
    if (e->type() != kByteEvent) return QObject::event(e);
    driver_.Seen();
    return true;
  }

 private:
  Driver& driver_;
};

std::vector<double> MeasureRelay(QCoreApplication& app) {
  PtyPair pty;
  Driver driver(pty.Master());
  RelayReceiver receiver(driver);
  const int fd = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  std::atomic<bool> stop{false};
  std::thread relay([&] {
    pollfd p{fd, POLLIN, 0};
    char buf[256];
    while (!stop.load()) {
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) QCoreApplication::postEvent(&receiver, new ByteEvent(buf[i]));
    }
  });
  auto samples = RunInEventLoop(app, driver);
  stop = true;
  relay.join();
  ::close(fd);
  // Nothing may stay posted to the receiver that goes out of scope here.
  QCoreApplication::removePostedEvents(&receiver);
  return samples;
}

std::vector<double> MeasureQSerialPort(QCoreApplication& app) {
  PtyPair pty;
  Driver driver(pty.Master());
  QSerialPort serial;
  serial.setPortName(QString::fromStdString(pty.Path()));
  serial.setBaudRate(9600);
  if (!serial.open(QIODevice::ReadWrite)) {
    std::fprintf(stderr, "QSerialPort: %s\n", serial.errorString().toLocal8Bit().constData());
    return {};
  }
  QObject::connect(&serial, &QSerialPort::readyRead, [&] {
    if (!serial.readAll().isEmpty()) driver.Seen();
  });
  auto samples = RunInEventLoop(app, driver);
  serial.close();
  return samples;
}

std::set<std::string> Tasks() {
  std::set<std::string> tids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') tids.insert(e->d_name);
    closedir(d);
  }
  return tids;
}

long ContextSwitches(const std::string& tid) {
  std::ifstream in("/proc/self/task/" + tid + "/status");
  std::string key;
  long total = 0, value = 0;
  while (in >> key) {
    if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
      in >> value;
      total += value;
    }
  }
  return total;
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) round_trips = std::max(1, std::atoi(argv[1]));
  if (argc > 2) idle_seconds = std::max(1, std::atoi(argv[2]));
  warm_up = std::min(warm_up, round_trips);
  int qt_argc = 1;
  QCoreApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();

  // Interleaved rounds, so that load from elsewhere on the machine falls on
  // all paths alike.
  std::vector<double> port_us, floor_us, relay_us, qserial_us;
  double port_cpu = 0, floor_cpu = 0, relay_cpu = 0, qserial_cpu = 0;  // summed over rounds
  for (int round = 0; round < kRounds; ++round) {
    // The process's CPU time per round trip is kept beside the samples: the
    // driver's share is the same on every path, so the differences are the
    // paths' own.
    const auto add = [](std::vector<double>& to, double& cpu, auto measure) {
      const double before = CpuSeconds();
      const std::vector<double> from = measure();
      if (!from.empty()) cpu += (CpuSeconds() - before) * 1e6 / static_cast<double>(from.size());
      to.insert(to.end(), from.begin(), from.end());
    };
    add(port_us, port_cpu, [&] { return MeasurePort(app); });
    add(floor_us, floor_cpu, [&] { return MeasureFloor(); });
    add(relay_us, relay_cpu, [&] { return MeasureRelay(app); });
    add(qserial_us, qserial_cpu, [&] { return MeasureQSerialPort(app); });
  }
  const Stats port = Summarise(port_us);
  const Stats floor = Summarise(floor_us);
  const Stats relay = Summarise(relay_us);
  const Stats qserial = Summarise(qserial_us);

  std::printf("%-36s %8s %10s %10s %10s %10s\n", "path (pty, 1 byte)", "n", "median_us", "p99_us",
              "mean_us", "cpu_us");
  const auto row = [](const char* name, const Stats& s, double cpu) {
    std::printf("%-36s %8zu %10.1f %10.1f %10.1f %10.1f\n", name, s.n, s.median, s.p99, s.mean,
                cpu / kRounds);
  };
  row("TBComPort OnRxChar (smThreadSync)", port, port_cpu);
  row("bare poll()+read() (floor)", floor, floor_cpu);
  row("relay: poll() thread + posted event", relay, relay_cpu);
  row("QSerialPort readyRead", qserial, qserial_cpu);
  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf(
      "port/floor median ratio: %.2f  port/qserialport: %.2f  port/relay median: %.2f (target "
      "<= 1.15)  p99: %.2f (target <= 1.5)\n",
      ratio(port.median, floor.median), ratio(port.median, qserial.median),
      ratio(port.median, relay.median), ratio(port.p99, relay.p99));

  // Idle cost.
  PtyPair pty;
  const auto before_open = Tasks();
  vestrel::TBComPort idle;
  idle.SetPort(pty.Path());
  idle.OnRxChar = [](vestrel::TBComPort* sender, int count) {
    std::string s;
    sender->ReadStr(s, count);
  };
  idle.Open();
  // Let the thread reach its wait before counting.
  QTimer::singleShot(200, &app, [] { QCoreApplication::quit(); });
  app.exec();
  std::string event_tid;
  for (const auto& tid : Tasks())
    if (!before_open.count(tid)) event_tid = tid;
  const long switches_before = event_tid.empty() ? 0 : ContextSwitches(event_tid);
  const double cpu_before = CpuSeconds();
  QTimer::singleShot(idle_seconds * 1000, &app, [] { QCoreApplication::quit(); });
  app.exec();
  const double cpu = CpuSeconds() - cpu_before;
  const long wakeups = event_tid.empty() ? -1 : ContextSwitches(event_tid) - switches_before;
  idle.Close();
  std::printf(
      "idle %d s, port open: process CPU %.3f ms, event thread (tid %s) context switches %ld\n",
      idle_seconds, cpu * 1000, event_tid.c_str(), wakeups);

  vestrel::platform::RemoveQtGlue();
  std::printf(
      "RESULT median_us=%.1f p99_us=%.1f floor_median_us=%.1f relay_floor_median_us=%.1f "
      "relay_floor_p99_us=%.1f qserialport_median_us=%.1f relay_ratio_median=%.2f "
      "relay_ratio_p99=%.2f cpu_us_per_trip=%.1f relay_cpu_us_per_trip=%.1f idle_wakeups=%ld\n",
      port.median, port.p99, floor.median, relay.median, relay.p99, qserial.median,
      ratio(port.median, relay.median), ratio(port.p99, relay.p99), port_cpu / kRounds,
      relay_cpu / kRounds, wakeups);
  return 0;
}
