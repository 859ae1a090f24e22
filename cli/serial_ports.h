#pragma once
// The serial devices present, so that an operator can find the modem.

#include <filesystem>
#include <string>
#include <vector>

namespace vestrel::cli {

struct SerialDeviceEntry {
  std::string path;    // as it can be given to --port
  std::string target;  // for a /dev/serial/by-id name or a COM port: the device it names
  // Windows: the device's friendly name from the Ports class of the device
  // manager ("USB-SERIAL CH340 (COM3)"), so that a USB modem's several ports
  // can be told apart; empty where the system gives none.
  std::string description;
};

// The serial devices present, as this OS names them (UTF-8): on Linux as
// below under /dev and /sys/class/tty; on Windows the COM ports, COM2 before
// COM10, each with its device (\Device\Serial0).
std::vector<SerialDeviceEntry> ListSerialDevices();

// Linux only: /dev/ttyS* that are real UARTs, /dev/ttyUSB*, /dev/ttyACM*, then the names
// under /dev/serial/by-id with their targets; each group in natural order
// (ttyS2 before ttyS10). dev and sys_tty stand for /dev and /sys/class/tty.
std::vector<SerialDeviceEntry> ListSerialDevices(const std::filesystem::path& dev,
                                                 const std::filesystem::path& sys_tty);

// Linux only: whether the ttyS device is a UART: its type as the serial driver reports it
// (the "type" attribute in sys_tty, else TIOCGSERIAL on the device) is not
// PORT_UNKNOWN.
bool IsUart(const std::filesystem::path& device, const std::filesystem::path& sys_tty);

}  // namespace vestrel::cli
