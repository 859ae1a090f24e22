#include "cli/help_text.h"
#include "cli/serial_ports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace vestrel::cli {
namespace fs = std::filesystem;
namespace {

// ttyS2 before ttyS10: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
    const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      const std::size_t za = na.find_first_not_of('0'), zb = nb.find_first_not_of('0');
      const std::string va = za == std::string::npos ? "" : na.substr(za);
      const std::string vb = zb == std::string::npos ? "" : nb.substr(zb);
      if (va.size() != vb.size()) return va.size() < vb.size();
      if (va != vb) return va < vb;
      i = ei, j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i, ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> NamesStartingWith(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

}  // namespace

bool IsUart(const fs::path& device, const fs::path& sys_tty) {
  // The driver's own report, readable without opening the device (opening a
  // serial port raises its modem lines).
  std::ifstream type_file(sys_tty / device.filename() / "type");
  int type = 0;
  if (type_file >> type) return type != PORT_UNKNOWN;
  const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return uart;
}

std::vector<SerialDeviceEntry> ListSerialDevices(const fs::path& dev, const fs::path& sys_tty) {
  std::vector<SerialDeviceEntry> found;
  for (const std::string& name : NamesStartingWith(dev, "ttyS")) {
    if (IsUart(dev / name, sys_tty)) found.push_back({(dev / name).string(), {}, {}});
  }
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (const std::string& name : NamesStartingWith(dev, prefix))
      found.push_back({(dev / name).string(), {}, {}});
  }
  const fs::path by_id = dev / "serial" / "by-id";
  for (const std::string& name : NamesStartingWith(by_id, "")) {
    std::error_code ec;
    const fs::path link = by_id / name;
    fs::path target = fs::read_symlink(link, ec);
    if (ec) continue;
    if (target.is_relative()) target = (by_id / target).lexically_normal();
    found.push_back({link.string(), target.string(), {}});
  }
  return found;
}

std::vector<SerialDeviceEntry> ListSerialDevices() {
  return ListSerialDevices("/dev", "/sys/class/tty");
}

const char* PortsCommandHelp() {
  return R"(  ports               list the serial devices present: UARTs /dev/ttyS*,
                      /dev/ttyUSB*, /dev/ttyACM*, and /dev/serial/by-id/* with
                      the device each one names
  ports --probe [PORT...]
                      ask those ports (or the ports named) whether a modem
                      answers, and what it says it is
)";
}

const char* PortOptionHelp() {
  return R"(  --port NAME         the modem's port: COMn (/dev/ttyS(n-1)), a path such as
                      /dev/ttyUSB0, or a name under /dev/. Default: the
                      variable VESTREL_PORT, else the "{ini:port}" key of
                      section {ini:section} in the user's vestrel-sms.ini, else in
                      {ini:file} beside this program, else {ini:port-default}
)";
}

const char* PortExample() {
  return "/dev/ttyUSB0";
}

}  // namespace vestrel::cli
