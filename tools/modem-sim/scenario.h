// What the simulated modem holds and how it misbehaves, read from a JSON
// scenario file (format in README.md).
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/modem-sim/pdu.h"

namespace vestrel::sim {

// <stat> of 3GPP TS 27.005 3.1; the values are those of PDU mode.
enum class Status { kRecUnread = 0, kRecRead = 1, kStoUnsent = 2, kStoSent = 3 };
const char* StatusText(Status status);                          // "REC UNREAD" ...
std::optional<Status> StatusFromText(const std::string& text);  // case-insensitive

struct Message {
  int index = 0;
  Status status = Status::kRecUnread;
  std::string number;  // sender, or destination of a stored outgoing message
  std::string name;    // <alpha>, usually empty
  std::string time;    // "yy/MM/dd,hh:mm:ss+zz"; received messages only
  std::string text;    // UTF-8
  Coding coding = Coding::kGsm7;
  std::optional<std::string> raw;  // text-mode body line sent as is
  std::optional<std::string> pdu;  // PDU-mode line sent as is
  std::optional<PartPlace> part;   // a part of a concatenated message
};

struct Storage {
  std::string name;  // "ME", "SM", ...
  int capacity = 0;
  int index_base = 1;
  std::map<int, Message> messages;  // by index

  bool ValidIndex(int index) const { return index >= index_base && index < index_base + capacity; }
};

struct ScriptedLine {
  std::string command;  // case-insensitive; a trailing "*" matches any rest
  std::string line;     // unsolicited line or error answer, without framing
  int times = -1;       // how often it still applies; -1 for always
};

struct Scenario {
  std::vector<Storage> storages;
  std::array<std::string, 3> current;  // <mem1>, <mem2>, <mem3> of AT+CPMS
  std::optional<Address> smsc;
  bool echo = true;
  int mode = 0;                     // AT+CMGF
  std::string charset = "IRA";      // AT+CSCS
  std::string delete_empty = "OK";  // answer to AT+CMGD on an empty index
  int first_reference = 1;

  int answer_delay_ms = 0;
  bool pacing = false;  // send at the line rate
  int baud = 9600;

  int split_bytes = 0;  // 0: answers go out whole
  int split_delay_ms = 0;
  std::vector<ScriptedLine> unsolicited;
  std::vector<ScriptedLine> errors;
  int hangup_after = 0;  // 0: never
};

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One phone memory "ME" of 50 places numbered from 1, nothing stored.
Scenario DefaultScenario();
Scenario ParseScenario(const nlohmann::json& json);
Scenario LoadScenario(const std::filesystem::path& path);

bool CommandMatches(const std::string& pattern, const std::string& command);

}  // namespace vestrel::sim
