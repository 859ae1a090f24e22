#pragma once
// What several benchmarks need alike: a raw pseudo-terminal pair to stand for
// the serial line, and the median of samples.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vestrel::bench {

// A pty in raw mode: the master for the benchmark, the slave's path for the
// port under test. path is empty when no pty could be had.
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
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
};

// The upper middle sample; 0 for none.
inline double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace vestrel::bench
