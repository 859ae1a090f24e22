#pragma once
// The serial-port component as the modem dialogues see it.

#include <string>

#include "comport/b_com_port.h"
#include "messaging/messaging_io.h"

namespace vestrel {

class ComPortModem : public ModemPort {
 public:
  explicit ComPortModem(TBComPort& port) : port_(port) {}

  void Open() override;
  // A write that the device took only in part (its time-out ran out) fails
  // like any other: a cut command or PDU must not pass for sent.
  void WriteStr(const std::string& bytes) override;
  std::string ReadStr(int count) override;
  std::string HoldArrived() override;

 private:
  TBComPort& port_;
};

}  // namespace vestrel
