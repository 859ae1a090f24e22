#include "tools/modem-sim/modem.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "tools/modem-sim/text_codec.h"

namespace vestrel::sim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr char kBackspace = 0x08;
constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kMaxInput = 1024;  // a PDU of 176 octets needs 352 digits
constexpr int kMaxTpduLength = 164;

// +CMS ERROR codes of 3GPP TS 27.005 3.2.5
constexpr int kOperationNotAllowed = 302;
constexpr int kInvalidPduParameter = 304;
constexpr int kInvalidTextParameter = 305;
constexpr int kInvalidMemoryIndex = 321;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return s.substr(a, b - a);
}

std::string Frame(const std::string& line) {
  return "\r\n" + line + "\r\n";
}

std::optional<int> ToInt(const std::string& s) {
  int v = 0;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc() || p != end || s.empty()) return std::nullopt;
  return v;
}

// Splits "a,\"b,c\",d" into its parameters; nullopt for an unterminated quote.
std::optional<std::vector<std::string>> SplitArgs(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (char c : s) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (quoted) return std::nullopt;
  out.push_back(cur);
  return out;
}

nlohmann::json MessageJson(const Message& m) {
  nlohmann::json j = {{"index", m.index},   {"status", StatusText(m.status)},
                      {"number", m.number}, {"time", m.time},
                      {"text", m.text},     {"coding", CodingName(m.coding)}};
  if (!m.name.empty()) j["name"] = m.name;
  if (m.raw) j["raw"] = *m.raw;
  return j;
}

bool IsReceived(Status s) {
  return s == Status::kRecUnread || s == Status::kRecRead;
}

}  // namespace

Modem::Modem(Scenario scenario, Transcript& transcript)
    : scenario_(std::move(scenario)), transcript_(transcript) {
  ResetSettings();
  next_reference_ = scenario_.first_reference;
}

void Modem::ResetSettings() {
  echo_ = scenario_.echo;
  mode_ = scenario_.mode;
  charset_ = scenario_.charset;
  current_ = scenario_.current;
  csmp_fo_ = 17, csmp_vp_ = 167, csmp_pid_ = 0, csmp_dcs_ = 0;
}

void Modem::LineDropped() {
  state_ = State::kCommand;
  line_.clear();
  line_overflow_ = false;
  input_.clear();
  input_overflow_ = false;
}

void Modem::Feed(char byte, ModemOutput& out) {
  switch (state_) {
    case State::kCommand:
      if (echo_) out.echo += byte;
      if (byte == '\r') {
        std::string line;
        line.swap(line_);
        const bool overflow = line_overflow_;
        line_overflow_ = false;
        if (overflow) {
          ++commands_;
          transcript_.Write(
              {{"type", "command"}, {"line", Latin1ToUtf8(line)}, {"overflow", true}});
          out.answer = Frame("ERROR");
          out.answered = true;
          if (scenario_.hangup_after > 0 && commands_ == scenario_.hangup_after) out.hangup = true;
        } else {
          HandleLine(std::move(line), out);
        }
      } else if (byte == '\n') {
        // the LF of a CR LF ending
      } else if (byte == kBackspace) {
        if (!line_.empty()) line_.pop_back();
      } else if (byte == kCtrlZ || byte == kEsc) {
        line_.clear();
      } else if (line_.size() < kMaxLine) {
        line_ += byte;
      } else {
        line_overflow_ = true;
      }
      return;

    case State::kPduPrompt:
    case State::kTextPrompt:
      if (byte == kCtrlZ) {
        if (state_ == State::kPduPrompt) {
          FinishPduInput(out);
        } else {
          FinishTextInput(out);
        }
        state_ = State::kCommand;
        out.answered = true;
        return;
      }
      if (byte == kEsc) {
        CancelPrompt(out);
        state_ = State::kCommand;
        out.answered = true;
        return;
      }
      if (state_ == State::kTextPrompt && byte == '\n') return;  // of a CR LF line end
      if (state_ == State::kTextPrompt && byte == '\r') {
        // Another line of the message: the modem prompts again.
        out.echo += "\r\n> ";
        if (input_.size() < kMaxInput) input_ += '\n';
        return;
      }
      if (echo_) out.echo += byte;
      if (byte == kBackspace) {
        if (!input_.empty()) input_.pop_back();
      } else if (state_ == State::kPduPrompt && (byte == '\r' || byte == '\n')) {
        // line breaks inside a PDU are not part of it
      } else if (input_.size() < kMaxInput) {
        input_ += byte;
      } else {
        input_overflow_ = true;
      }
      return;
  }
}

void Modem::HandleLine(std::string raw_line, ModemOutput& out) {
  const std::string line = Trim(raw_line);
  if (line.empty()) return;  // a bare CR is no command
  ++commands_;
  transcript_.Write({{"type", "command"}, {"line", Latin1ToUtf8(line)}});

  std::string prefix;
  for (auto& u : scenario_.unsolicited) {
    if (u.times != 0 && CommandMatches(u.command, line)) {
      if (u.times > 0) --u.times;
      prefix += Frame(u.line);
      transcript_.Write({{"type", "unsolicited"}, {"line", u.line}});
    }
  }

  std::string answer;
  const auto scripted = std::find_if(
      scenario_.errors.begin(), scenario_.errors.end(),
      [&](const ScriptedLine& e) { return e.times != 0 && CommandMatches(e.command, line); });
  if (scripted != scenario_.errors.end()) {
    if (scripted->times > 0) --scripted->times;
    answer = Frame(scripted->line);
    transcript_.Write({{"type", "scripted_error"}, {"line", scripted->line}});
  } else {
    Result r = Execute(line);
    if (!r.info.empty()) {
      std::string joined;
      for (std::size_t i = 0; i < r.info.size(); ++i) {
        joined += (i ? "\r\n" : "") + r.info[i];
      }
      answer += Frame(joined);
    }
    if (r.prompt) {
      answer += "\r\n> ";
    } else {
      answer += Frame(r.final_code);
    }
  }
  out.answer = prefix + answer;
  out.answered = true;
  if (scenario_.hangup_after > 0 && commands_ == scenario_.hangup_after) out.hangup = true;
}

Modem::Result Modem::Execute(const std::string& line) {
  Result r;
  if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A' ||
      std::toupper(static_cast<unsigned char>(line[1])) != 'T') {
    r.final_code = "ERROR";
    return r;
  }
  const std::string body = line.substr(2);
  std::size_t pos = 0;
  while (pos < body.size()) {
    const char c = body[pos];
    if (c == ';' || c == ' ') {
      ++pos;
      continue;
    }
    if (c == '+') {
      // an extended command runs to the next ";" outside quotes
      std::size_t end = pos;
      bool quoted = false;
      while (end < body.size() && (quoted || body[end] != ';')) {
        if (body[end] == '"') quoted = !quoted;
        ++end;
      }
      if (!ExecuteExtended(body.substr(pos + 1, end - pos - 1), r)) return r;
      if (r.prompt) return r;  // what follows the command is the message
      pos = end;
      continue;
    }
    if (!ExecuteBasic(body, pos, r)) return r;
  }
  return r;
}

bool Modem::ExecuteBasic(const std::string& body, std::size_t& pos, Result& r) {
  const char name = static_cast<char>(std::toupper(static_cast<unsigned char>(body[pos++])));
  std::string digits;
  while (pos < body.size() && std::isdigit(static_cast<unsigned char>(body[pos]))) {
    digits += body[pos++];
  }
  const int value = digits.empty() ? 0 : ToInt(digits).value_or(-1);
  if (name == 'E' && (value == 0 || value == 1)) {
    echo_ = value == 1;
    return true;
  }
  if (name == 'Z' && value == 0) {
    ResetSettings();
    return true;
  }
  r.final_code = "ERROR";
  return false;
}

bool Modem::ExecuteExtended(const std::string& command, Result& r) {
  std::size_t i = 0;
  while (i < command.size() && std::isalnum(static_cast<unsigned char>(command[i]))) ++i;
  const std::string name = Upper(command.substr(0, i));
  const std::string rest = command.substr(i);
  char form = 0;  // 'a' action, 'r' read, 't' test, 's' set
  std::string params;
  if (rest.empty()) {
    form = 'a';
  } else if (rest == "?") {
    form = 'r';
  } else if (rest == "=?") {
    form = 't';
  } else if (rest[0] == '=') {
    form = 's';
    params = rest.substr(1);
  } else {
    r.final_code = "ERROR";
    return false;
  }
  std::vector<Arg> args;
  if (form == 's') {
    const auto parts = SplitArgs(params);
    if (!parts) {
      r.final_code = "ERROR";
      return false;
    }
    for (const std::string& p : *parts) {
      Arg a;
      a.value = Trim(p);
      if (a.value.size() >= 2 && a.value.front() == '"' && a.value.back() == '"') {
        a.value = a.value.substr(1, a.value.size() - 2);
        a.quoted = true;
      }
      args.push_back(std::move(a));
    }
  }

  using Handler = void (Modem::*)(char, const std::vector<Arg>&, Result&);
  static const std::pair<const char*, Handler> kCommands[] = {
      {"CMGF", &Modem::Cmgf}, {"CSCS", &Modem::Cscs}, {"CPMS", &Modem::Cpms},
      {"CMGR", &Modem::Cmgr}, {"CMGD", &Modem::Cmgd}, {"CMGL", &Modem::Cmgl},
      {"CMGS", &Modem::Cmgs}, {"CSMP", &Modem::Csmp},
  };
  for (const auto& [n, handler] : kCommands) {
    if (name == n) {
      r.final_code = "OK";
      (this->*handler)(form, args, r);
      return r.final_code == "OK" || r.prompt;
    }
  }
  r.final_code = "ERROR";
  return false;
}

std::string Modem::CmsError(int code) const {
  return "+CMS ERROR: " + std::to_string(code);
}

Storage* Modem::FindStorage(const std::string& name) {
  const std::string u = Upper(name);
  for (auto& s : scenario_.storages) {
    if (s.name == u) return &s;
  }
  return nullptr;
}

Storage& Modem::Mem1() {
  return *FindStorage(current_[0]);
}

std::string Modem::InCharset(const std::string& utf8) const {
  if (charset_ == "UCS2") return ToHex(Utf8ToUcs2Bytes(utf8));
  std::string out;
  if (charset_ == "GSM") {
    for (char32_t cp : Utf8ToCodePoints(utf8)) {
      const auto septets = Utf8ToGsm7(CodePointsToUtf8(std::u32string(1, cp)));
      if (!septets) {
        out += '?';
        continue;
      }
      for (auto s : *septets) out += static_cast<char>(s);
    }
    return out;
  }
  const char32_t limit = charset_ == "8859-1" ? 0x100 : 0x80;
  for (char32_t cp : Utf8ToCodePoints(utf8)) {
    out += cp < limit ? static_cast<char>(cp) : '?';
  }
  return out;
}

void Modem::Cmgf(char form, const std::vector<Arg>& args, Result& r) {
  if (form == 'r') {
    r.info.push_back("+CMGF: " + std::to_string(mode_));
  } else if (form == 't') {
    r.info.push_back("+CMGF: (0,1)");
  } else if (form == 's' && args.size() == 1 && !args[0].quoted &&
             (args[0].value.empty() || args[0].value == "0" || args[0].value == "1")) {
    mode_ = args[0].value == "1" ? 1 : 0;
  } else {
    r.final_code = "ERROR";
  }
}

void Modem::Cscs(char form, const std::vector<Arg>& args, Result& r) {
  if (form == 'r') {
    r.info.push_back("+CSCS: \"" + charset_ + "\"");
  } else if (form == 't') {
    r.info.push_back("+CSCS: (\"GSM\",\"IRA\",\"UCS2\",\"8859-1\")");
  } else if (form == 's' && args.size() == 1) {
    const std::string cs = Upper(args[0].value);
    if (cs == "GSM" || cs == "IRA" || cs == "UCS2" || cs == "8859-1") {
      charset_ = cs;
      return;
    }
    r.final_code = "ERROR";
  } else {
    r.final_code = "ERROR";
  }
}

void Modem::Cpms(char form, const std::vector<Arg>& args, Result& r) {
  auto usage = [this](const std::string& name) {
    const Storage& s = *FindStorage(name);
    return std::to_string(s.messages.size()) + "," + std::to_string(s.capacity);
  };
  if (form == 'r') {
    std::string line = "+CPMS: ";
    for (int i = 0; i < 3; ++i) {
      line += (i ? ",\"" : "\"") + current_[i] + "\"," + usage(current_[i]);
    }
    r.info.push_back(line);
  } else if (form == 't') {
    std::string names;
    for (const auto& s : scenario_.storages)
      names += (names.empty() ? "\"" : ",\"") + s.name + "\"";
    r.info.push_back("+CPMS: (" + names + "),(" + names + "),(" + names + ")");
  } else if (form == 's' && !args.empty() && args.size() <= 3) {
    for (const Arg& a : args) {
      if (!FindStorage(a.value)) {
        r.final_code = CmsError(kOperationNotAllowed);
        return;
      }
    }
    for (std::size_t i = 0; i < args.size(); ++i) current_[i] = Upper(args[i].value);
    r.info.push_back("+CPMS: " + usage(current_[0]) + "," + usage(current_[1]) + "," +
                     usage(current_[2]));
  } else {
    r.final_code = "ERROR";
  }
}

std::vector<std::string> Modem::MessageLines(const Message& m, bool list) const {
  std::vector<std::string> lines;
  const std::string index = list ? std::to_string(m.index) + "," : std::string();
  const std::string tag = list ? "+CMGL: " : "+CMGR: ";
  if (mode_ == 1) {
    const std::string number = "\"" + InCharset(m.number) + "\"";
    const std::string name = m.name.empty() ? std::string() : "\"" + InCharset(m.name) + "\"";
    std::string header = tag + index + "\"" + StatusText(m.status) + "\"," + number + "," + name;
    if (IsReceived(m.status)) {
      header += ",\"" + m.time + "\"";
    } else if (list) {
      header += ",";  // <index>,<stat>,<da>,[<alpha>],[<scts>]
    }
    lines.push_back(header);
    if (m.raw) {
      lines.push_back(*m.raw);
    } else if (m.coding == Coding::kUcs2) {
      lines.push_back(ToHex(Utf8ToUcs2Bytes(m.text)));
    } else {
      lines.push_back(InCharset(m.text));
    }
    return lines;
  }

  std::string pdu_hex;
  int length = 0;
  if (m.pdu) {
    pdu_hex = *m.pdu;
    const auto octets = FromHex(pdu_hex);
    length = static_cast<int>(pdu_hex.size() / 2);
    if (octets && !octets->empty()) {
      length = std::max(
          0, static_cast<int>(octets->size()) - 1 - static_cast<unsigned char>((*octets)[0]));
    }
  } else {
    const auto address = AddressFromText(m.number).value_or(Address{});
    const MessageContent content{address, m.time, m.text, m.coding};
    const auto encoded = IsReceived(m.status) ? EncodeDeliver(scenario_.smsc, content, m.part)
                                              : EncodeSubmit(scenario_.smsc, content, 0);
    if (encoded) {
      pdu_hex = encoded->hex;
      length = encoded->tpdu_length;
    }
  }
  const std::string name = m.name.empty() ? std::string() : "\"" + m.name + "\"";
  lines.push_back(tag + index + std::to_string(static_cast<int>(m.status)) + "," + name + "," +
                  std::to_string(length));
  lines.push_back(pdu_hex);
  return lines;
}

void Modem::Cmgr(char form, const std::vector<Arg>& args, Result& r) {
  if (form == 't') return;
  const auto index =
      form == 's' && args.size() == 1 && !args[0].quoted ? ToInt(args[0].value) : std::nullopt;
  if (!index) {
    r.final_code = "ERROR";
    return;
  }
  Storage& s = Mem1();
  const auto it = s.messages.find(*index);
  transcript_.Write({{"type", "read"},
                     {"storage", s.name},
                     {"index", *index},
                     {"found", it != s.messages.end()}});
  if (it == s.messages.end()) {
    r.final_code = CmsError(kInvalidMemoryIndex);
    return;
  }
  r.info = MessageLines(it->second, false);
  if (it->second.status == Status::kRecUnread) it->second.status = Status::kRecRead;
}

void Modem::Cmgd(char form, const std::vector<Arg>& args, Result& r) {
  Storage& s = Mem1();
  if (form == 't') {
    std::string used;
    for (const auto& [i, m] : s.messages) used += (used.empty() ? "" : ",") + std::to_string(i);
    r.info.push_back("+CMGD: (" + used + "),(0-4)");
    return;
  }
  const auto index = form == 's' && !args.empty() && args.size() <= 2 && !args[0].quoted
                         ? ToInt(args[0].value)
                         : std::nullopt;
  const auto flag = args.size() == 2 ? ToInt(args[1].value) : std::optional<int>(0);
  if (!index || !flag || *flag < 0 || *flag > 4) {
    r.final_code = "ERROR";
    return;
  }
  std::vector<int> doomed;
  if (*flag == 0) {
    if (!s.ValidIndex(*index)) {
      transcript_.Write(
          {{"type", "delete"}, {"storage", s.name}, {"index", *index}, {"deleted", false}});
      r.final_code = CmsError(kInvalidMemoryIndex);
      return;
    }
    if (!s.messages.count(*index)) {
      transcript_.Write(
          {{"type", "delete"}, {"storage", s.name}, {"index", *index}, {"deleted", false}});
      r.final_code = scenario_.delete_empty;
      if (transcript_.Enabled()) transcript_.Write(StoreRecord("delete"));
      return;
    }
    doomed.push_back(*index);
  } else {
    // <delflag> 1..4: all read; read and sent; read, sent and unsent; all
    for (const auto& [i, m] : s.messages) {
      const bool hit = m.status == Status::kRecRead ||
                       (*flag >= 2 && m.status == Status::kStoSent) ||
                       (*flag >= 3 && m.status == Status::kStoUnsent) || *flag == 4;
      if (hit) doomed.push_back(i);
    }
  }
  for (int i : doomed) {
    s.messages.erase(i);
    transcript_.Write({{"type", "delete"}, {"storage", s.name}, {"index", i}, {"deleted", true}});
  }
  if (transcript_.Enabled()) transcript_.Write(StoreRecord("delete"));
}

void Modem::Cmgl(char form, const std::vector<Arg>& args, Result& r) {
  if (form == 't') {
    r.info.push_back(mode_ == 1 ? "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO "
                                  "SENT\",\"ALL\")"
                                : "+CMGL: (0-4)");
    return;
  }
  if (form == 'r' || args.size() > 1) {
    r.final_code = "ERROR";
    return;
  }
  // Without a parameter the list holds the unread messages.
  std::optional<Status> wanted = Status::kRecUnread;
  bool all = false;
  if (!args.empty()) {
    const Arg& a = args[0];
    if (mode_ == 1) {
      all = Upper(a.value) == "ALL";
      wanted = StatusFromText(a.value);
      if ((!all && !wanted) || !a.quoted) {
        r.final_code = CmsError(kInvalidTextParameter);
        return;
      }
    } else {
      const auto v = a.quoted ? std::nullopt : ToInt(a.value);
      if (!v || *v < 0 || *v > 4) {
        r.final_code = CmsError(kInvalidPduParameter);
        return;
      }
      all = *v == 4;
      if (!all) wanted = static_cast<Status>(*v);
    }
  }
  Storage& s = Mem1();
  for (auto& [i, m] : s.messages) {
    if (!all && m.status != *wanted) continue;
    for (auto& l : MessageLines(m, true)) r.info.push_back(std::move(l));
    if (m.status == Status::kRecUnread) m.status = Status::kRecRead;
  }
}

void Modem::Cmgs(char form, const std::vector<Arg>& args, Result& r) {
  if (form == 't') return;
  if (form != 's' || args.empty()) {
    r.final_code = "ERROR";
    return;
  }
  if (mode_ == 0) {
    const auto length = args.size() == 1 && !args[0].quoted ? ToInt(args[0].value) : std::nullopt;
    if (!length || *length < 1 || *length > kMaxTpduLength) {
      r.final_code = CmsError(kInvalidPduParameter);
      return;
    }
    pending_length_ = *length;
    state_ = State::kPduPrompt;
  } else {
    if (args.size() > 2 || !args[0].quoted) {
      r.final_code = CmsError(kInvalidTextParameter);
      return;
    }
    std::string number = args[0].value;
    if (charset_ == "UCS2") {
      const auto octets = FromHex(number);
      number = octets ? Ucs2BytesToUtf8(*octets) : std::string();
    }
    const auto address = AddressFromText(number);
    if (!address || address->toa == kToaAlphanumeric) {
      r.final_code = CmsError(kInvalidTextParameter);
      return;
    }
    pending_number_ = number;
    state_ = State::kTextPrompt;
  }
  input_.clear();
  input_overflow_ = false;
  r.final_code.clear();
  r.prompt = true;
}

void Modem::Csmp(char form, const std::vector<Arg>& args, Result& r) {
  if (form == 'r') {
    r.info.push_back("+CSMP: " + std::to_string(csmp_fo_) + "," + std::to_string(csmp_vp_) + "," +
                     std::to_string(csmp_pid_) + "," + std::to_string(csmp_dcs_));
    return;
  }
  if (form == 't') return;
  if (form != 's' || args.size() > 4) {
    r.final_code = "ERROR";
    return;
  }
  int* fields[] = {&csmp_fo_, &csmp_vp_, &csmp_pid_, &csmp_dcs_};
  int values[4] = {csmp_fo_, csmp_vp_, csmp_pid_, csmp_dcs_};
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].value.empty()) continue;
    const auto v = args[i].quoted ? std::nullopt : ToInt(args[i].value);
    if (!v || *v < 0 || *v > 255) {
      r.final_code = CmsError(kInvalidTextParameter);
      return;
    }
    values[i] = *v;
  }
  for (int i = 0; i < 4; ++i) *fields[i] = values[i];
}

std::uint8_t Modem::NextReference() {
  const auto mr = static_cast<std::uint8_t>(next_reference_);
  next_reference_ = (next_reference_ + 1) % 256;
  return mr;
}

void Modem::FinishPduInput(ModemOutput& out) {
  const std::string hex = input_;
  input_.clear();
  SubmitResult decoded;
  if (input_overflow_) {
    decoded.error = "PDU too long";
  } else {
    decoded = DecodeSubmit(hex, pending_length_);
  }
  if (!decoded.pdu) {
    transcript_.Write({{"type", "sms_rejected"},
                       {"mode", "pdu"},
                       {"length", pending_length_},
                       {"pdu", Latin1ToUtf8(hex)},
                       {"reason", decoded.error}});
    out.answer = Frame(CmsError(kInvalidPduParameter));
    return;
  }
  const SubmitPdu& p = *decoded.pdu;
  const std::uint8_t mr = NextReference();
  nlohmann::json rec = {{"type", "sms"},
                        {"mode", "pdu"},
                        {"number", p.destination.value},
                        {"toa", p.destination.toa},
                        {"text", p.text},
                        {"coding", CodingName(p.coding)},
                        {"dcs", p.dcs},
                        {"pid", p.pid},
                        {"udl", p.udl},
                        {"length", pending_length_},
                        {"reference", mr},
                        {"validity", p.validity_format},
                        {"pdu", Upper(hex)}};
  if (p.validity_minutes) rec["validity_minutes"] = *p.validity_minutes;
  if (!p.validity_hex.empty()) rec["validity_hex"] = p.validity_hex;
  if (!p.udh.empty()) rec["udh"] = ToHex(p.udh);
  if (p.coding == Coding::k8Bit) rec["data"] = ToHex(p.data);
  if (p.smsc) rec["smsc"] = AddressToText(*p.smsc);
  const auto concat = FindConcatInfo(p.udh);
  if (concat) {
    rec["concat"] = {
        {"reference", concat->reference}, {"total", concat->total}, {"sequence", concat->sequence}};
  }
  transcript_.Write(rec);
  if (concat) {
    if (auto whole = joiner_.Add(p.destination.value, *concat, p.text)) {
      transcript_.Write({{"type", "sms_joined"},
                         {"number", p.destination.value},
                         {"reference", concat->reference},
                         {"parts", concat->total},
                         {"text", *whole}});
    }
  }
  out.answer = Frame("+CMGS: " + std::to_string(mr)) + Frame("OK");
}

void Modem::FinishTextInput(ModemOutput& out) {
  std::optional<std::string> text;
  if (charset_ == "UCS2") {
    std::string hex;
    for (char c : input_) {
      if (c != '\n') hex += c;
    }
    const auto octets = FromHex(hex);
    if (octets) text = Ucs2BytesToUtf8(*octets);
  } else if (charset_ == "GSM") {
    std::vector<std::uint8_t> septets;
    for (char c : input_) septets.push_back(static_cast<std::uint8_t>(c == '\n' ? '\r' : c));
    text = Gsm7ToUtf8(septets);
  } else {
    bool ascii = charset_ != "IRA" || std::all_of(input_.begin(), input_.end(), [](char c) {
                   return static_cast<unsigned char>(c) < 0x80;
                 });
    if (ascii) text = Latin1ToUtf8(input_);
  }
  input_.clear();
  const Coding coding = (csmp_dcs_ & 0x0C) == 0x08 ? Coding::kUcs2 : Coding::kGsm7;
  const auto address = AddressFromText(pending_number_);
  std::optional<EncodedPdu> pdu;
  const std::uint8_t mr = static_cast<std::uint8_t>(next_reference_);
  if (text && address && !input_overflow_) {
    const MessageContent content{*address, "", *text, coding};
    const bool relative = ((csmp_fo_ >> 3) & 0x3) == 2;
    pdu = EncodeSubmit(std::nullopt, content, mr, static_cast<std::uint8_t>(csmp_pid_),
                       relative ? std::optional<std::uint8_t>(csmp_vp_) : std::nullopt);
  }
  if (!pdu) {
    transcript_.Write(
        {{"type", "sms_rejected"},
         {"mode", "text"},
         {"number", pending_number_},
         {"reason", text ? "text does not fit one message" : "text not in " + charset_}});
    out.answer = Frame(CmsError(kInvalidTextParameter));
    return;
  }
  NextReference();
  const auto decoded = DecodeSubmit(pdu->hex, pdu->tpdu_length);
  nlohmann::json rec = {{"type", "sms"},
                        {"mode", "text"},
                        {"number", address->value},
                        {"toa", address->toa},
                        {"text", *text},
                        {"coding", CodingName(coding)},
                        {"dcs", csmp_dcs_},
                        {"pid", csmp_pid_},
                        {"udl", decoded.pdu ? decoded.pdu->udl : 0},
                        {"length", pdu->tpdu_length},
                        {"reference", mr},
                        {"pdu", pdu->hex}};
  transcript_.Write(rec);
  out.answer = Frame("+CMGS: " + std::to_string(mr)) + Frame("OK");
}

void Modem::CancelPrompt(ModemOutput& out) {
  transcript_.Write({{"type", "sms_cancelled"},
                     {"mode", state_ == State::kPduPrompt ? "pdu" : "text"},
                     {"input", Latin1ToUtf8(input_)}});
  input_.clear();
  out.answer = Frame("OK");
}

nlohmann::json Modem::StoreRecord(const char* reason) const {
  nlohmann::json storages = nlohmann::json::array();
  for (const auto& s : scenario_.storages) {
    nlohmann::json msgs = nlohmann::json::array();
    for (const auto& [i, m] : s.messages) msgs.push_back(MessageJson(m));
    storages.push_back({{"name", s.name},
                        {"capacity", s.capacity},
                        {"index_base", s.index_base},
                        {"messages", msgs}});
  }
  return {{"type", "store"}, {"reason", reason}, {"storages", storages}};
}

}  // namespace vestrel::sim
