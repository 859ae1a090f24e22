#pragma once
// The serial devices present, so that an operator can find the modem.

#include <filesystem>
#include <string>
#include <vector>

namespace vestrel::cli {

struct SerialDeviceEntry {
  std::string path;    // as it can be given to --port
  std::string target;  // for a /dev/serial/by-id name: the device it names
};

// /dev/ttyS* that are real UARTs, /dev/ttyUSB*, /dev/ttyACM*, then the names
// under /dev/serial/by-id with their targets; each group in natural order
// (ttyS2 before ttyS10). dev and sys_tty stand for /dev and /sys/class/tty.
std::vector<SerialDeviceEntry> ListSerialDevices(
    const std::filesystem::path& dev = "/dev",
    const std::filesystem::path& sys_tty = "/sys/class/tty");

// Whether the ttyS device is a UART: its type as the serial driver reports it
// (the "type" attribute in sys_tty, else TIOCGSERIAL on the device) is not
// PORT_UNKNOWN.
bool IsUart(const std::filesystem::path& device, const std::filesystem::path& sys_tty);

}  // namespace vestrel::cli
