#pragma once
// A pseudo-terminal pair standing for the serial line: the port tests and
// the benchmarks open its slave by path and talk through its master.
// Header-only, so that the benchmarks take it without the test library.

#include <pty.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace vestrel::test {

// A pty pair with the master in raw mode; the port opens the slave by path.
class PtyPair {
 public:
  PtyPair() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
    path_ = name;
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads what the port wrote until count bytes or the give-up limit.
  std::string Receive(std::size_t count, int limit_ms = 5000) const {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(master_, &set);
      timeval tv{0, 50000};
      if (select(master_ + 1, &set, nullptr, nullptr, &tv) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace vestrel::test
