#include "comport/line_events.h"

#include "comport/serial_device.h"

namespace vestrel {

bool LineEvents::Note(const LineSample& now) {
  std::uint32_t found = 0;
  if (now.have_counters) {
    if (last_.have_counters) {
      std::uint32_t word = 0;
      if (now.frame != last_.frame) word |= kCeFrame;
      if (now.parity != last_.parity) word |= kCeRxParity;
      if (now.overrun != last_.overrun) word |= kCeOverrun;
      if (now.rx_over != last_.rx_over) word |= kCeRxOver;
      if (now.brk != last_.brk) word |= kCeBreak;
      if (word) {
        error_word_ |= word;
        found |= kEvErr;
      }
      if (now.ring != last_.ring) found |= kEvRing;
    }
    last_.have_counters = true;
    last_.ring = now.ring;
    last_.frame = now.frame;
    last_.parity = now.parity;
    last_.overrun = now.overrun;
    last_.rx_over = now.rx_over;
    last_.brk = now.brk;
  }
  if (now.have_lines) {
    if (last_.have_lines) {
      const std::uint32_t changed = now.modem_status ^ last_.modem_status;
      if (changed & kMsCtsOn) found |= kEvCts;
      if (changed & kMsDsrOn) found |= kEvDsr;
      if (changed & kMsRlsdOn) found |= kEvRlsd;
    }
    last_.have_lines = true;
    last_.modem_status = now.modem_status;
  }
  events_ |= found;
  return found != 0;
}

std::uint32_t LineEvents::TakeEvents() {
  const std::uint32_t events = events_;
  events_ = 0;
  return events;
}

std::uint32_t LineEvents::TakeErrorWord() {
  const std::uint32_t word = error_word_;
  error_word_ = 0;
  return word;
}

}  // namespace vestrel
