#include "station/modem_line.h"

namespace vestrel::station {

void ConfigureModemLine(TBComPort& port) {
  port.SetBaudRate(br9600);
  port.SetByteSize(bs8);
  port.SetInBufSize(2048);
  port.SetOutBufSize(2048);
  port.SetParity(paNone);
  port.SetSyncMethod(smThreadSync);
  port.SetStopBits(sb1);
  TComTimeouts timeouts;
  timeouts.SetReadInterval(-1);
  timeouts.SetReadTotalMultiplier(0);
  timeouts.SetReadTotalConstant(0);
  timeouts.SetWriteTotalMultiplier(100);
  timeouts.SetWriteTotalConstant(1000);
  port.SetTimeouts(timeouts);
}

}  // namespace vestrel::station
