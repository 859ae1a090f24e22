#pragma once
// The serial-port component as the modem dialogues see it.

#include <functional>
#include <string>

#include "comport/b_com_port.h"
#include "messaging/messaging_io.h"

namespace vestrel::station {

class ComPortModem : public ModemPort {
 public:
  // Told of every chunk read, after it is read (vestrel-sms logs it).
  using ReadHook = std::function<void(const std::string& bytes)>;

  explicit ComPortModem(TBComPort& port, ReadHook on_read = {})
      : port_(port), on_read_(std::move(on_read)) {}

  void Open() override;
  // A write that the device took only in part (its time-out ran out) fails
  // like any other: a cut command or PDU must not pass for sent.
  void WriteStr(const std::string& bytes) override;
  std::string ReadStr(int count) override;
  std::string HoldArrived() override;

 private:
  TBComPort& port_;
  ReadHook on_read_;
};

}  // namespace vestrel::station
