#pragma once
// Modem-line and error-counter changes of a UART as line events. No OS types
// here: each backend fills LineSample from its own calls.

#include <cstdint>

namespace vestrel {

// One look at the line: the kMs* modem status bits and the driver's running
// counters (each counter only grows; a changed value is a new occurrence).
struct LineSample {
  bool have_lines = false;
  std::uint32_t modem_status = 0;
  bool have_counters = false;
  std::uint32_t ring = 0;
  std::uint32_t frame = 0;
  std::uint32_t parity = 0;
  std::uint32_t overrun = 0;
  std::uint32_t rx_over = 0;
  std::uint32_t brk = 0;
};

// The changes between successive looks. Both the event thread's wait and the
// queries between waits (ClearCommError) look at the line; whichever looks
// first, a change becomes one event, kept until the wait takes it. Not
// thread-safe: the owner guards it.
class LineEvents {
 public:
  // Compares with the previous look. Returns true when it found a change that
  // the next TakeEvents() hands out.
  bool Note(const LineSample& now);
  // The events found since the last call (kEvCts, kEvDsr, kEvRlsd, kEvRing,
  // kEvErr), then none until the next change.
  std::uint32_t TakeEvents();
  // The error flags (kCe*) collected since the last call.
  std::uint32_t TakeErrorWord();

 private:
  LineSample last_;
  std::uint32_t events_ = 0;
  std::uint32_t error_word_ = 0;
};

}  // namespace vestrel
