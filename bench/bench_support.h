#pragma once
// What several benchmarks need alike: the tests' raw pseudo-terminal pair to
// stand for the serial line, and the median of samples.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/pty_pair.h"

namespace vestrel::bench {

using test::PtyPair;

// The upper middle sample; 0 for none.
inline double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace vestrel::bench
