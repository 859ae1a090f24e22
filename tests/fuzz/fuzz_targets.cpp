#include "tests/fuzz/fuzz_targets.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/deliver_pdu.h"
#include "messaging/inbox_reader.h"
#include "messaging/sms_coding.h"
#include "messaging/sms_parts.h"
#include "messaging/sms_submission.h"
#include "messaging/staging.h"
#include "messaging/ucs2_codec.h"
#include "platform/exceptions.h"
#include "platform/utf8.h"

namespace vestrel::fuzz {
namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string_view View(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A port whose reads hand out the bytes queued for the current chunk and
// whose writes fail after a budget, as a closed port's would.
class ScriptedPort : public ModemPort {
 public:
  void Open() override {}
  void WriteStr(const std::string&) override {
    if (writes_left == 0) throw std::runtime_error("write budget used up");
    --writes_left;
  }
  std::string ReadStr(int count) override {
    std::string out = pending.substr(0, static_cast<std::size_t>(count));
    pending.erase(0, out.size());
    held -= std::min(held, out.size());
    return out;
  }
  std::string HoldArrived() override {
    std::string out = pending.substr(held);
    held = pending.size();
    return out;
  }
  std::string pending;
  std::size_t held = 0;
  long writes_left = 600;
};

const std::string& StagingPath() {
  static const std::string path = [] {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vestrel-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "tmp.sms").string();
  }();
  return path;
}

}  // namespace

int Ucs2HexToTextTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = View(data, size);
  const std::string text = Ucs2HexToText(input);
  bool all_hex = true;
  for (char c : input) all_hex = all_hex && IsHexDigit(c);
  if (all_hex)
    Check(text.size() == (size + 3) / 4, "one byte per group");
  else
    Check(text == input, "non-hexadecimal input comes back unchanged");

  // Any text survives encoding and decoding, but for 007F and byte 152.
  const std::string hex = TextToUcs2Hex(input);
  Check(hex.size() == 4 * size, "four digits per byte");
  const std::string back = Ucs2HexToText(hex);
  Check(back.size() == size, "round trip keeps the length");
  for (std::size_t i = 0; i < size; ++i) {
    const auto b = static_cast<unsigned char>(input[i]);
    const auto got = static_cast<unsigned char>(back[i]);
    Check(got == (b == 127 ? ' ' : b == 152 ? '?' : b), "round trip keeps the byte");
  }
  return 0;
}

int CountParserTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view chunk = View(data, size);
  const StorageAnswer answer = ParseStorageAnswer(chunk);
  Check(answer.capacity > 0, "capacity is positive");
  const std::size_t mark = chunk.find("+CPMS:");
  if (mark == std::string_view::npos) {
    Check(!answer.count && answer.count_text.empty(), "no answer, no count");
    return 0;
  }
  Check(answer.count_text.find(',') == std::string::npos, "count text stops at a comma");
  if (answer.count) {
    // The count text holds the number, blanks and a sign at most.
    const long long value = std::strtoll(answer.count_text.c_str(), nullptr, 10);
    Check(value == *answer.count, "count agrees with strtoll");
  }
  return 0;
}

int StagingParserTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = View(data, size);
  std::size_t header_lines = 0;
  for (const StagedLine& line : SplitStagedLines(bytes)) {
    Check(line.text.find_first_of(std::string("\r\n\x1A", 3)) == std::string::npos,
          "lines hold no CR, LF or Ctrl-Z");
    if (line.text.find("+CMGR:") != std::string::npos) ++header_lines;
  }
  const auto messages = ParseStaged(bytes);
  Check(messages.size() <= header_lines, "a message per header at most");
  for (const auto& m : messages) {
    Check(m.number.find_first_of("\"\r\n") == std::string::npos,
          "a number without quotes or breaks");
    Check(m.time.size() <= 17, "time of 17 bytes at most");
    Check(m.sent_at.empty() || m.sent_at.size() == 25, "an ISO time with its offset, or none");
    Check(m.text.find('\r') == std::string::npos, "text lines joined with LF only");
  }
  return 0;
}

// The input is a series of records: a length byte L and L bytes of a chunk;
// L = 0 stands for a press of ReadSMS.
int ChunkHandlerTarget(const std::uint8_t* data, std::size_t size) {
  ScriptedPort port;
  ShadowPane command_log;
  ShadowPane modem_log;
  // The port answers no read: a reading stops at the first read whose answer
  // the chunk did not bring, at once rather than after the usual wait.
  InboxReader reader(port, command_log, modem_log, MessagingDurations{0, 0, 0}, StagingPath());
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = data[at++];
    try {
      if (length == 0) {
        reader.Button4Click();
        Check(reader.SmsTotal == 0 && reader.SmsShown == 0 && reader.ReadMore == 0,
              "a new reading starts from nothing");
        continue;
      }
      const std::size_t take = std::min(length, size - at);
      port.pending.assign(reinterpret_cast<const char*>(data + at), take);
      at += take;
      const std::string before = modem_log.Text();
      std::string chunk = port.pending;
      if (!chunk.empty() && chunk.back() == '\r') chunk += '\n';
      try {
        reader.BComPort1RxChar(static_cast<int>(take));
      } catch (const platform::Exception&) {
        // A count that does not convert, or a reading stopped before a delete.
      }
      Check(modem_log.Text().compare(0, chunk.size() + before.size(), chunk + before) == 0,
            "the chunk goes in front of the log");
    } catch (const std::runtime_error& e) {
      if (std::string_view(e.what()) != "write budget used up") throw;
      return 0;
    }
    Check(!std::filesystem::exists(std::filesystem::symlink_status(StagingPath())),
          "the staging file is gone after every chunk");
    Check(reader.ReadMore == 0 || reader.ReadMore == 1, "ReadMore is 0 or 1");
    if (reader.ReadMore == 1) {
      Check(reader.SmsShown < reader.SmsTotal, "reading on only while messages are missing");
      Check(reader.NextIndex <= reader.SmsCapacity, "never beyond the capacity");
    }
  }
  return 0;
}

namespace {

void CheckDecoded(const DeliverResult& r, std::vector<DeliveredPart>& parts) {
  if (!r.part) {
    Check(!r.error.empty(), "a refused PDU says why");
    return;
  }
  const DeliveredPart& p = *r.part;
  Check(platform::IsWellFormedUtf8(p.text) && platform::IsWellFormedUtf8(p.sender),
        "text and sender are UTF-8");
  Check(p.sent_at.size() == 25 && p.sent_at[10] == 'T', "time stamp as 2026-12-10T14:03:05+03:00");
  if (p.concatenation)
    Check(p.concatenation->sequence >= 1 && p.concatenation->sequence <= p.concatenation->total,
          "a part's sequence lies within its count");
  parts.push_back(p);
}

}  // namespace

// The input as the octets of a PDU, and as the text of an answer whose lines
// are PDUs; the parts decoded are joined.
int DeliverPduTarget(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = View(data, size);
  std::vector<DeliveredPart> parts;
  CheckDecoded(DecodeDeliverPdu(OctetsToHex(input)), parts);
  CheckDecoded(DecodeCmgrPduAnswer(input), parts);
  for (std::size_t at = 0; at < input.size();) {
    const std::size_t end = std::min(input.find('\n', at), input.size());
    CheckDecoded(DecodeDeliverPdu(input.substr(at, end - at)), parts);
    at = end + 1;
  }
  std::size_t present = 0;
  for (const JoinedMessage& m : JoinParts(parts)) {
    Check(m.parts_present >= 1 && m.parts_present <= m.parts_total, "parts present within count");
    Check(m.complete == (m.parts_present == m.parts_total), "complete when all are there");
    Check(platform::IsWellFormedUtf8(m.text), "joined text is UTF-8");
    present += m.parts_present;
  }
  Check(present <= parts.size(), "a part is in one message at most");
  return 0;
}

// The input as UTF-8 text: its parts give back the text, each fits one SMS,
// and their PDUs fit what AT+CMGS takes.
int SmsPartsTarget(const std::uint8_t* data, std::size_t size) {
  const auto text = platform::Utf8ToCodePoints(View(data, size));
  if (!text) return 0;
  const PartPlan plan = PlanParts(*text);
  std::u32string joined;
  for (const std::u32string& part : plan.parts) {
    Check(!part.empty() || text->empty(), "no empty part");
    std::size_t room = 0;
    if (plan.coding == SmsCoding::kGsm7) {
      room = TextToGsm7(part).value().size();
      Check(room <= (plan.parts.size() == 1 ? kGsm7Single : kGsm7Concatenated), "septets fit");
    } else {
      room = TextToUtf16(part).size();
      Check(room <= (plan.parts.size() == 1 ? kUcs2Single : kUcs2Concatenated), "units fit");
    }
    joined += part;
  }
  Check(joined == *text, "the parts give back the text");
  Check(plan.coding == SmsCoding::kUcs2 || TextToGsm7(*text),
        "7-bit only when it carries the text");
  if (plan.parts.size() > kMaxConcatenatedParts) return 0;
  for (const SubmitPart& p : BuildConcatenatedParts("79161234567", *text, 7)) {
    // 14 octets before the user data, at most 140 of it
    Check(p.pdu.size() % 2 == 0 && TpduLength(p.pdu) <= 154, "a part fits one SMS");
  }
  return 0;
}

}  // namespace vestrel::fuzz
