#pragma once
// ports --probe: which serial port has a modem behind it. Each port that is
// free is opened as the window opens it (9600 8N1), asked "AT" and, only when
// it answers OK, "ATI", "AT+CGMI" and "AT+CGMM"; each question waits a short
// while for its final answer. A busy port is not written to.

#include <chrono>
#include <string>
#include <vector>

#include "cli/options.h"
#include "comport/serial_device.h"

namespace vestrel::cli {

enum class ProbeState { kAnswered, kNoOk, kSilent, kBusy, kNotFound, kNoAccess, kFailed };

struct ProbeAnswer {
  std::string command;             // "ATI"
  std::string final;               // "OK", "ERROR", "+CME ERROR: 10"; empty: none in time
  std::vector<std::string> lines;  // the information lines, echo left out
};

struct ProbeResult {
  std::string port;  // as given, UTF-8
  ProbeState state = ProbeState::kFailed;
  std::vector<ProbeAnswer> answers;  // AT first
  std::string also;                  // another name of the same device, or empty
};

// Asks one port; wait is how long each question waits for its final answer.
ProbeResult ProbePort(SerialDeviceFactory& factory, const std::string& port,
                      std::chrono::milliseconds wait);

// The result as printed: a line for the port, then one per answer (UTF-8).
std::string ProbeReport(const ProbeResult& result);

// The command: each result printed as it comes; the exit code (3 when no
// modem answered).
int ProbeCommand(const Options& options);

}  // namespace vestrel::cli
