#include "cli/probe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "cli/serial_ports.h"

namespace vestrel::cli {
namespace {

using Clock = std::chrono::steady_clock;

bool IsFinal(const std::string& line) {
  return line == "OK" || line == "ERROR" || line.rfind("+CME ERROR", 0) == 0 ||
         line.rfind("+CMS ERROR", 0) == 0;
}

// Control bytes and bytes above ASCII as \xNN: a port with no modem may
// answer with line noise.
std::string Printable(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

class Asker {
 public:
  Asker(SerialDevice& device, std::chrono::milliseconds wait) : device_(device), wait_(wait) {}

  // Writes command and CR; gathers lines until a final one or the wait ends.
  ProbeAnswer Ask(const std::string& command) {
    ProbeAnswer answer{command, {}, {}};
    const std::string bytes = command + "\r";
    std::uint32_t written = 0;
    if (!device_.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) ||
        written != bytes.size())
      return answer;
    const auto deadline = Clock::now() + wait_;
    std::string pending;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      CommTimeouts timeouts;
      // Back as soon as anything has arrived, else after what is left.
      timeouts.ReadIntervalTimeout = kMaxDword;
      timeouts.ReadTotalTimeoutMultiplier = kMaxDword;
      timeouts.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(left);
      timeouts.WriteTotalTimeoutMultiplier = 100;
      timeouts.WriteTotalTimeoutConstant = 1000;
      std::array<char, 256> buffer;
      std::uint32_t got = 0;
      if (!device_.SetCommTimeouts(timeouts) ||
          !device_.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got))
        break;
      pending.append(buffer.data(), got);
      for (std::size_t end; (end = pending.find_first_of("\r\n")) != std::string::npos;) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line.empty() || line == command) continue;
        if (IsFinal(line)) {
          answer.final = line;
          return answer;
        }
        answer.lines.push_back(Printable(line));
      }
    }
    if (!pending.empty()) answer.lines.push_back(Printable(pending));
    return answer;
  }

 private:
  SerialDevice& device_;
  std::chrono::milliseconds wait_;
};

}  // namespace

ProbeResult ProbePort(SerialDeviceFactory& factory, const std::string& port,
                      std::chrono::milliseconds wait) {
  ProbeResult result;
  result.port = port;
  OpenError error = OpenError::kOther;
  const std::shared_ptr<SerialDevice> device = factory.Open(port, &error);
  if (!device) {
    switch (error) {
      case OpenError::kBusy:
        result.state = ProbeState::kBusy;
        break;
      case OpenError::kNotFound:
        result.state = ProbeState::kNotFound;
        break;
      case OpenError::kAccessDenied:
        result.state = ProbeState::kNoAccess;
        break;
      default:
        result.state = ProbeState::kFailed;
        break;
    }
    return result;
  }
  // The window's line: 9600 8N1 with DTR and RTS raised.
  DeviceControlBlock dcb;
  dcb.BaudRate = 9600;
  dcb.Flags = kDcbBinary | kDcbDtrControlEnable | kDcbRtsControlEnable;
  dcb.ByteSize = 8;
  if (device->SetupComm(2048, 2048) && device->SetCommState(dcb) &&
      device->PurgeComm(kPurgeRxClear | kPurgeTxClear)) {
    Asker asker(*device, wait);
    result.answers.push_back(asker.Ask("AT"));
    if (result.answers.back().final == "OK") {
      result.state = ProbeState::kAnswered;
      for (const char* command : {"ATI", "AT+CGMI", "AT+CGMM"})
        result.answers.push_back(asker.Ask(command));
    } else {
      const ProbeAnswer& at = result.answers.back();
      result.state = at.final.empty() && at.lines.empty() ? ProbeState::kSilent : ProbeState::kNoOk;
    }
  }
  device->Close();
  return result;
}

std::string ProbeReport(const ProbeResult& result) {
  std::string text = result.port;
  if (!result.also.empty()) text += " (" + result.also + ")";
  text += ": ";
  switch (result.state) {
    case ProbeState::kAnswered:
      text += "a modem answers\n";
      break;
    case ProbeState::kNoOk:
      text += "answers AT without OK; nothing more sent\n";
      break;
    case ProbeState::kSilent:
      text += "no answer to AT\n";
      return text;
    case ProbeState::kBusy:
      return text + "busy: another program holds it; left alone\n";
    case ProbeState::kNotFound:
      return text + "no such port\n";
    case ProbeState::kNoAccess:
      return text + "no rights to open it\n";
    case ProbeState::kFailed:
      return text + "could not be set up as a serial port\n";
  }
  for (const ProbeAnswer& answer : result.answers) {
    std::string said;
    for (const std::string& line : answer.lines) said += (said.empty() ? "" : " / ") + line;
    if (answer.final.empty())
      said += said.empty() ? "no answer" : " (no final answer)";
    else if (answer.final != "OK")
      said += (said.empty() ? "" : " ") + answer.final;
    else if (said.empty())
      said = "OK";
    text += "  " + answer.command +
            std::string(std::max<std::size_t>(9 - answer.command.size(), 1), ' ') + said + "\n";
  }
  return text;
}

// The ports named, else every port listed, a device listed under two names
// asked once.
int ProbeCommand(const Options& options) {
  struct Target {
    std::string port;
    std::string also;  // the device's other names
  };
  std::vector<Target> targets;
  if (options.port) targets.push_back({*options.port, {}});
  for (const std::string& name : options.probe_ports) targets.push_back({name, {}});
  if (targets.empty()) {
    const auto devices = ListSerialDevices();
    for (const SerialDeviceEntry& d : devices) {
      const bool listed =
          std::any_of(devices.begin(), devices.end(),
                      [&](const SerialDeviceEntry& e) { return e.path == d.target; });
      if (!listed) targets.push_back({d.path, {}});
    }
    for (Target& t : targets) {
      for (const SerialDeviceEntry& d : devices)
        if (d.target == t.port) t.also += (t.also.empty() ? "" : ", ") + d.path;
    }
  }
  if (targets.empty()) {
    std::fprintf(stderr, "vestrel-sms: no serial devices found\n");
    return kExitPortOpen;
  }
  const auto factory = CreateSystemDeviceFactory();
  const std::chrono::milliseconds wait(options.durations.modem_wait_ms);
  bool answered = false;
  for (const Target& t : targets) {
    ProbeResult result = ProbePort(*factory, t.port, wait);
    result.also = t.also;
    answered = answered || result.state == ProbeState::kAnswered;
    std::fputs(ProbeReport(result).c_str(), stdout);
    std::fflush(stdout);
  }
  return answered ? kExitDone : kExitPortOpen;
}

}  // namespace vestrel::cli
