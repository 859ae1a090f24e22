#include "station/comport_modem.h"

namespace vestrel::station {

void ComPortModem::Open() {
  port_.Open();
}

void ComPortModem::WriteStr(const std::string& bytes) {
  if (port_.WriteStr(bytes) != static_cast<int>(bytes.size()))
    throw EComPort(comport_messages::WriteError());
}

std::string ComPortModem::ReadStr(int count) {
  std::string bytes;
  port_.ReadStr(bytes, count);
  if (on_read_) on_read_(bytes);
  return bytes;
}

std::string ComPortModem::HoldArrived() {
  return port_.HoldInput();
}

}  // namespace vestrel::station
