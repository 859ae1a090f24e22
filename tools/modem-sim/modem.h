// The AT command interpreter of the simulated modem (3GPP TS 27.005 and
// 27.007 over V.25ter framing). It only turns received bytes into bytes to
// send; the line, the clock and the faults of timing belong to SimLoop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/modem-sim/concatenation.h"
#include "tools/modem-sim/scenario.h"
#include "tools/modem-sim/transcript.h"

namespace vestrel::sim {

struct ModemOutput {
  std::string echo;       // goes out at once
  std::string answer;     // goes out after the answer delay, split when the scenario says so
  bool answered = false;  // a command or a message is complete; answer may still be empty
  bool hangup = false;    // close the line once the answer is out
};

class Modem {
 public:
  Modem(Scenario scenario, Transcript& transcript);

  void Feed(char byte, ModemOutput& out);

  // The client closed the line: a half-typed command or message is forgotten.
  void LineDropped();

  nlohmann::json StoreRecord(const char* reason) const;

 private:
  enum class State { kCommand, kPduPrompt, kTextPrompt };

  struct Arg {
    std::string value;
    bool quoted = false;
  };

  // What one command on the line produced.
  struct Result {
    std::vector<std::string> info;  // information lines, without framing
    std::string final_code = "OK";  // empty while a prompt waits for input
    bool prompt = false;
  };

  void HandleLine(std::string line, ModemOutput& out);
  Result Execute(const std::string& line);
  bool ExecuteExtended(const std::string& command, Result& result);
  bool ExecuteBasic(const std::string& body, std::size_t& pos, Result& result);

  void Cmgf(char form, const std::vector<Arg>& args, Result& r);
  void Cscs(char form, const std::vector<Arg>& args, Result& r);
  void Cpms(char form, const std::vector<Arg>& args, Result& r);
  void Cmgr(char form, const std::vector<Arg>& args, Result& r);
  void Cmgd(char form, const std::vector<Arg>& args, Result& r);
  void Cmgl(char form, const std::vector<Arg>& args, Result& r);
  void Cmgs(char form, const std::vector<Arg>& args, Result& r);
  void Csmp(char form, const std::vector<Arg>& args, Result& r);

  void FinishPduInput(ModemOutput& out);
  void FinishTextInput(ModemOutput& out);
  void CancelPrompt(ModemOutput& out);

  Storage* FindStorage(const std::string& name);
  Storage& Mem1();
  // Header and body (text mode) or header and PDU (PDU mode) of one message.
  std::vector<std::string> MessageLines(const Message& m, bool list) const;
  std::string InCharset(const std::string& utf8) const;
  std::string CmsError(int code) const;
  std::uint8_t NextReference();
  void ResetSettings();

  Scenario scenario_;
  Transcript& transcript_;
  State state_ = State::kCommand;
  std::string line_;
  bool line_overflow_ = false;

  bool echo_ = true;
  int mode_ = 0;
  std::string charset_;
  std::array<std::string, 3> current_;
  int csmp_fo_ = 17, csmp_vp_ = 167, csmp_pid_ = 0, csmp_dcs_ = 0;

  int pending_length_ = 0;      // AT+CMGS=<length> in PDU mode
  std::string pending_number_;  // AT+CMGS="<da>" in text mode
  std::string input_;           // PDU hex or message text being typed
  bool input_overflow_ = false;

  int commands_ = 0;
  int next_reference_ = 1;
  PartJoiner joiner_;  // parts of concatenated messages sent in PDU mode
};

}  // namespace vestrel::sim
