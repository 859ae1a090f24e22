#pragma once
// The modem's serial line as every front end and vestrel-sms set it up.

#include "comport/b_com_port.h"

namespace vestrel::station {

// 9600 8N1, queues of 2048, reads that return at once with what has arrived,
// writes of n bytes given 100 x n + 1000 ms, deliveries on the user-interface
// thread. The port's name is set apart.
void ConfigureModemLine(TBComPort& port);

}  // namespace vestrel::station
