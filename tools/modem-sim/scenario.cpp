#include "tools/modem-sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <initializer_list>
#include <set>

#include "tools/modem-sim/text_codec.h"

namespace vestrel::sim {
namespace {

using nlohmann::json;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

void OnlyKeys(const json& j, const std::string& where, std::initializer_list<const char*> keys) {
  if (!j.is_object()) Fail(where, "must be an object");
  for (const auto& item : j.items()) {
    if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; })) {
      Fail(where, "unknown key \"" + item.key() + "\"");
    }
  }
}

template <typename T>
T Get(const json& j, const char* key, const std::string& where, T fallback) {
  if (!j.contains(key)) return fallback;
  try {
    return j.at(key).get<T>();
  } catch (const json::exception&) {
    Fail(where + "." + key, "has the wrong type");
  }
}

int GetInt(const json& j, const char* key, const std::string& where, int fallback, int min,
           int max) {
  if (!j.contains(key)) return fallback;
  if (!j.at(key).is_number_integer()) Fail(where + "." + key, "must be an integer");
  const auto v = j.at(key).get<long long>();
  if (v < min || v > max) {
    Fail(where + "." + key,
         "must be between " + std::to_string(min) + " and " + std::to_string(max));
  }
  return static_cast<int>(v);
}

std::vector<ScriptedLine> ParseScripted(const json& list, const std::string& where,
                                        const char* command_key, const char* line_key) {
  std::vector<ScriptedLine> out;
  if (!list.is_array()) Fail(where, "must be an array");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string w = where + "[" + std::to_string(i) + "]";
    OnlyKeys(list[i], w, {command_key, line_key, "times"});
    ScriptedLine s;
    s.command = Get<std::string>(list[i], command_key, w, "");
    s.line = Get<std::string>(list[i], line_key, w, "");
    if (s.command.empty()) Fail(w, std::string("needs \"") + command_key + "\"");
    if (s.line.empty()) Fail(w, std::string("needs \"") + line_key + "\"");
    s.times = GetInt(list[i], "times", w, -1, -1, 1000000);
    out.push_back(std::move(s));
  }
  return out;
}

Message ParseMessage(const json& j, const std::string& where) {
  OnlyKeys(j, where,
           {"index", "status", "number", "sender", "name", "time", "text", "coding", "raw", "pdu",
            "part"});
  Message m;
  if (!j.contains("index")) Fail(where, "needs \"index\"");
  m.index = GetInt(j, "index", where, 0, 0, 65535);
  const std::string status = Get<std::string>(j, "status", where, "REC UNREAD");
  const auto parsed = StatusFromText(status);
  if (!parsed) Fail(where + ".status", "unknown status \"" + status + "\"");
  m.status = *parsed;
  m.number = Get<std::string>(j, "number", where, Get<std::string>(j, "sender", where, ""));
  m.name = Get<std::string>(j, "name", where, "");
  m.time = Get<std::string>(j, "time", where, "");
  m.text = Get<std::string>(j, "text", where, "");
  if (j.contains("raw")) m.raw = Get<std::string>(j, "raw", where, "");
  if (j.contains("pdu")) m.pdu = Get<std::string>(j, "pdu", where, "");
  if (j.contains("part")) {
    const std::string w = where + ".part";
    OnlyKeys(j["part"], w, {"reference", "total", "sequence"});
    PartPlace place;
    place.reference = GetInt(j["part"], "reference", w, 0, 0, 255);
    place.total = GetInt(j["part"], "total", w, 2, 1, 255);
    place.sequence = GetInt(j["part"], "sequence", w, 1, 1, 255);
    if (place.sequence > place.total) Fail(w, "sequence beyond total");
    m.part = place;
  }

  const std::string coding = Get<std::string>(j, "coding", where, "auto");
  if (coding == "ucs2") {
    m.coding = Coding::kUcs2;
  } else if (coding == "gsm7") {
    m.coding = Coding::kGsm7;
  } else if (coding == "auto") {
    m.coding = Utf8ToGsm7(m.text) ? Coding::kGsm7 : Coding::kUcs2;
  } else {
    Fail(where + ".coding", "must be \"ucs2\", \"gsm7\" or \"auto\"");
  }
  const bool received = m.status == Status::kRecRead || m.status == Status::kRecUnread;
  if (!m.raw || !m.pdu) {
    // Without both lines given as is, the message must be expressible as a PDU.
    const auto address = AddressFromText(m.number);
    if (!address) Fail(where + ".number", "\"" + m.number + "\" is not an address");
    MessageContent content{*address, received ? m.time : std::string(), m.text, m.coding};
    if (received && !EncodeTimestamp(m.time)) {
      Fail(where + ".time", "\"" + m.time + "\" is not yy/MM/dd,hh:mm:ss+zz");
    }
    const auto pdu = received ? EncodeDeliver(std::nullopt, content, m.part)
                              : EncodeSubmit(std::nullopt, content, 0);
    if (!pdu) Fail(where + ".text", "does not fit one message in " + coding);
  }
  return m;
}

}  // namespace

const char* StatusText(Status status) {
  switch (status) {
    case Status::kRecUnread:
      return "REC UNREAD";
    case Status::kRecRead:
      return "REC READ";
    case Status::kStoUnsent:
      return "STO UNSENT";
    case Status::kStoSent:
      return "STO SENT";
  }
  return "?";
}

std::optional<Status> StatusFromText(const std::string& text) {
  const std::string u = Upper(text);
  for (Status s : {Status::kRecUnread, Status::kRecRead, Status::kStoUnsent, Status::kStoSent}) {
    if (u == StatusText(s)) return s;
  }
  return std::nullopt;
}

bool CommandMatches(const std::string& pattern, const std::string& command) {
  const std::string p = Upper(pattern);
  const std::string c = Upper(command);
  if (!p.empty() && p.back() == '*') return c.compare(0, p.size() - 1, p, 0, p.size() - 1) == 0;
  return p == c;
}

Scenario DefaultScenario() {
  Scenario s;
  Storage me;
  me.name = "ME";
  me.capacity = 50;
  me.index_base = 1;
  s.storages.push_back(me);
  s.current = {"ME", "ME", "ME"};
  return s;
}

Scenario ParseScenario(const json& j) {
  const std::string w = "scenario";
  OnlyKeys(j, w,
           {"description", "echo", "mode", "charset", "smsc", "delete_empty", "first_reference",
            "index_base", "storages", "current", "timing", "faults"});
  Scenario s;
  s.echo = Get<bool>(j, "echo", w, true);
  s.mode = GetInt(j, "mode", w, 0, 0, 1);
  s.charset = Upper(Get<std::string>(j, "charset", w, "IRA"));
  if (s.charset != "IRA" && s.charset != "GSM" && s.charset != "UCS2" && s.charset != "8859-1") {
    Fail(w + ".charset", "must be IRA, GSM, UCS2 or 8859-1");
  }
  if (j.contains("smsc")) {
    const std::string text = Get<std::string>(j, "smsc", w, "");
    s.smsc = AddressFromText(text);
    if (!s.smsc || s.smsc->toa == kToaAlphanumeric || s.smsc->value.size() > 20) {
      Fail(w + ".smsc", "\"" + text + "\" is not a number");
    }
  }
  s.delete_empty = Get<std::string>(j, "delete_empty", w, "OK");
  if (s.delete_empty.empty()) Fail(w + ".delete_empty", "must not be empty");
  s.first_reference = GetInt(j, "first_reference", w, 1, 0, 255);
  const int base = GetInt(j, "index_base", w, 1, 0, 1);

  if (!j.contains("storages")) {
    s.storages = DefaultScenario().storages;
    s.storages[0].index_base = base;
  } else {
    const json& list = j.at("storages");
    if (!list.is_array() || list.empty()) Fail(w + ".storages", "must be a non-empty array");
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string ws = w + ".storages[" + std::to_string(i) + "]";
      OnlyKeys(list[i], ws, {"name", "capacity", "index_base", "messages"});
      Storage st;
      st.name = Upper(Get<std::string>(list[i], "name", ws, ""));
      if (st.name.empty()) Fail(ws, "needs \"name\"");
      if (!names.insert(st.name).second) Fail(ws, "storage " + st.name + " given twice");
      st.capacity = GetInt(list[i], "capacity", ws, 50, 1, 10000);
      st.index_base = GetInt(list[i], "index_base", ws, base, 0, 1);
      if (list[i].contains("messages")) {
        const json& msgs = list[i].at("messages");
        if (!msgs.is_array()) Fail(ws + ".messages", "must be an array");
        for (std::size_t k = 0; k < msgs.size(); ++k) {
          const std::string wm = ws + ".messages[" + std::to_string(k) + "]";
          Message m = ParseMessage(msgs[k], wm);
          if (!st.ValidIndex(m.index)) {
            Fail(wm + ".index", std::to_string(m.index) + " is outside " + st.name + " (" +
                                    std::to_string(st.index_base) + ".." +
                                    std::to_string(st.index_base + st.capacity - 1) + ")");
          }
          if (st.messages.count(m.index)) {
            Fail(wm + ".index", std::to_string(m.index) + " is used twice");
          }
          st.messages.emplace(m.index, std::move(m));
        }
      }
      s.storages.push_back(std::move(st));
    }
  }

  s.current = {s.storages[0].name, s.storages[0].name, s.storages[0].name};
  if (j.contains("current")) {
    const json& cur = j.at("current");
    if (!cur.is_array() || cur.empty() || cur.size() > 3) {
      Fail(w + ".current", "must be an array of one to three storage names");
    }
    for (std::size_t i = 0; i < cur.size(); ++i) {
      if (!cur[i].is_string()) Fail(w + ".current", "must hold storage names");
      const std::string name = Upper(cur[i].get<std::string>());
      if (std::none_of(s.storages.begin(), s.storages.end(),
                       [&](const Storage& st) { return st.name == name; })) {
        Fail(w + ".current", "unknown storage " + name);
      }
      s.current[i] = name;
    }
  }

  if (j.contains("timing")) {
    const json& t = j.at("timing");
    const std::string wt = w + ".timing";
    OnlyKeys(t, wt, {"answer_delay_ms", "pacing", "baud"});
    s.answer_delay_ms = GetInt(t, "answer_delay_ms", wt, 0, 0, 60000);
    s.pacing = Get<bool>(t, "pacing", wt, false);
    s.baud = GetInt(t, "baud", wt, 9600, 300, 921600);
  }
  if (j.contains("faults")) {
    const json& f = j.at("faults");
    const std::string wf = w + ".faults";
    OnlyKeys(f, wf, {"split", "unsolicited", "errors", "hangup_after"});
    if (f.contains("split")) {
      OnlyKeys(f.at("split"), wf + ".split", {"bytes", "delay_ms"});
      s.split_bytes = GetInt(f.at("split"), "bytes", wf + ".split", 0, 1, 65536);
      s.split_delay_ms = GetInt(f.at("split"), "delay_ms", wf + ".split", 0, 0, 60000);
      if (s.split_bytes == 0) Fail(wf + ".split", "needs \"bytes\"");
    }
    if (f.contains("unsolicited")) {
      s.unsolicited = ParseScripted(f.at("unsolicited"), wf + ".unsolicited", "before", "line");
    }
    if (f.contains("errors")) {
      s.errors = ParseScripted(f.at("errors"), wf + ".errors", "command", "answer");
    }
    s.hangup_after = GetInt(f, "hangup_after", wf, 0, 0, 1000000);
  }
  return s;
}

Scenario LoadScenario(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(path.string() + ": cannot be opened");
  json j;
  try {
    j = json::parse(in);
  } catch (const json::parse_error& e) {
    throw ScenarioError(path.string() + ": " + e.what());
  }
  try {
    return ParseScenario(j);
  } catch (const ScenarioError& e) {
    throw ScenarioError(path.string() + ": " + e.what());
  }
}

}  // namespace vestrel::sim
