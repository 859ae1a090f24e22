// throughput: a burst written to a pty master as fast as the pty takes it,
// received by
//
//   port      TBComPort with the main window's settings (smThreadSync, 2048-byte
//             queues, reads that return at once), its OnRxChar reading what
//             it is told and appending it to a buffer
//   qserial   QSerialPort::readyRead, readAll() appended to a buffer
//
// Both set the line to 256000 baud, the fastest rate the port offers (a pty
// ignores it). The writer is a child process, so that the process CPU time
// measured here is the receiver's alone. Rounds alternate between the two;
// the figures are medians over the rounds, per MiB received. The received
// bytes are compared with the sent ones.
//
//   throughput_bench [KiB per burst [rounds [port|qserialport]]]   (defaults 1024
//   and 5, both paths; one path alone is for profiling)
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comport/b_com_port.h"
#include "platform/qt_glue.h"

namespace {

constexpr int kTimeoutMs = 60000;

struct PtyPair {
  int master = -1;
  std::string path;
  PtyPair() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
    path = name;
  }
  ~PtyPair() {
    if (master >= 0) ::close(master);
  }
};

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

// Writes the burst from a child process; the caller's event loop receives it.
// Returns the child's pid.
pid_t StartWriter(int master, const std::string& data) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::write(master, data.data() + done, std::min<std::size_t>(4096, data.size() - done));
    if (n <= 0) _exit(1);
    done += static_cast<std::size_t>(n);
  }
  _exit(0);
}

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
  const double wall0 = Seconds(CLOCK_MONOTONIC);
  const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  const pid_t writer = StartWriter(master, data);
  if (!done()) app.exec();
  s.wall_ms = (Seconds(CLOCK_MONOTONIC) - wall0) * 1000;
  s.cpu_ms = (Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1000;
  int status = 0;
  waitpid(writer, &status, 0);
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
  // The main window's port, at the fastest rate.
  port.SetBaudRate(vestrel::br256000);
  port.SetByteSize(vestrel::bs8);
  port.SetInBufSize(2048);
  port.SetOutBufSize(2048);
  port.SetParity(vestrel::paNone);
  port.SetSyncMethod(vestrel::smThreadSync);
  port.SetStopBits(vestrel::sb1);
  vestrel::TComTimeouts timeouts;
  timeouts.SetReadInterval(-1);
  timeouts.SetReadTotalMultiplier(0);
  timeouts.SetReadTotalConstant(0);
  timeouts.SetWriteTotalMultiplier(100);
  timeouts.SetWriteTotalConstant(1000);
  port.SetTimeouts(timeouts);
  port.SetPort(pty.path);
  port.OnRxChar = [&](vestrel::TBComPort* sender, int count) {
    ++calls;
    std::string s;
    sender->ReadStr(s, count);
    got += s;
    if (got.size() >= data.size()) QCoreApplication::quit();
  };
  port.Open();
  const Sample s = Receive(
      app, pty.master, data, got, [&] { return got.size() >= data.size(); }, calls);
  port.Close();
  return s;
}

Sample MeasureQSerialPort(QCoreApplication& app, const std::string& data) {
  PtyPair pty;
  std::string got;
  got.reserve(data.size());
  long calls = 0;
  QSerialPort serial;
  serial.setPortName(QString::fromStdString(pty.path));
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
      app, pty.master, data, got, [&] { return got.size() >= data.size(); }, calls);
  serial.close();
  return s;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const long kib = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1024;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string only = argc > 3 ? argv[3] : "";
  int qt_argc = 1;
  QCoreApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();

  const std::string data = BurstData(static_cast<std::size_t>(kib) * 1024);
  const double mib = static_cast<double>(data.size()) / (1024.0 * 1024.0);
  std::vector<double> port_wall, port_cpu, qs_wall, qs_cpu;
  bool intact = true;
  long port_calls = 0, qs_calls = 0;
  for (int round = 0; round < rounds; ++round) {
    const Sample p = only == "qserialport" ? Sample{0, 0, 0, true} : MeasurePort(app, data);
    const Sample q = only == "port" ? Sample{0, 0, 0, true} : MeasureQSerialPort(app, data);
    std::printf(
        "round %d: TBComPort %.1f ms wall, %.1f ms CPU, %ld handler calls%s; QSerialPort %.1f ms "
        "wall, %.1f ms CPU, %ld handler calls%s\n",
        round + 1, p.wall_ms, p.cpu_ms, p.handler_calls, p.intact ? "" : " (BYTES DIFFER)",
        q.wall_ms, q.cpu_ms, q.handler_calls, q.intact ? "" : " (BYTES DIFFER)");
    intact = intact && p.intact && q.intact;
    port_wall.push_back(p.wall_ms / mib);
    port_cpu.push_back(p.cpu_ms / mib);
    qs_wall.push_back(q.wall_ms / mib);
    qs_cpu.push_back(q.cpu_ms / mib);
    port_calls = p.handler_calls;
    qs_calls = q.handler_calls;
  }
  vestrel::platform::RemoveQtGlue();
  const double pc = Median(port_cpu), qc = Median(qs_cpu);
  std::printf(
      "RESULT throughput_kib=%ld port_wall_ms_per_mib=%.1f port_cpu_ms_per_mib=%.1f "
      "qserialport_wall_ms_per_mib=%.1f qserialport_cpu_ms_per_mib=%.1f cpu_ratio=%.2f "
      "port_calls=%ld qserialport_calls=%ld intact=%s\n",
      kib, Median(port_wall), pc, Median(qs_wall), qc, qc > 0 ? pc / qc : 0.0, port_calls, qs_calls,
      intact ? "yes" : "no");
  return intact ? 0 : 1;
}
