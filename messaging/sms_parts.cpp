#include "messaging/sms_parts.h"

#include <atomic>
#include <random>

#include "messaging/message_record.h"
#include "messaging/sms_coding.h"
#include "messaging/sms_submission.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"

namespace vestrel {
namespace {

constexpr std::uint8_t kFirstOctet = 0x11;  // SMS-SUBMIT, relative validity period
constexpr std::uint8_t kUdhi = 0x40;        // the user data starts with a header
constexpr std::uint8_t kValidity = 0x17;    // 2 hours, as the described parts
constexpr std::uint8_t kDcsGsm7 = 0x00;
constexpr std::uint8_t kDcsUcs2 = 0x08;
constexpr std::uint8_t kIeiConcatenation8 = 0x00;

void AppendOctet(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
}

// Destination digits in swapped semi-octets, an odd count padded with F.
void AppendAddress(std::string& out, std::string_view digits) {
  AppendOctet(out, static_cast<unsigned>(digits.size()));
  AppendOctet(out, 0x91);  // international, ISDN numbering plan
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const unsigned low = static_cast<unsigned>(digits[i] - '0');
    const unsigned high = i + 1 < digits.size() ? static_cast<unsigned>(digits[i + 1] - '0') : 0xF;
    AppendOctet(out, (high << 4) | low);
  }
}

std::size_t Gsm7Length(char32_t c) {
  return Gsm7Septets(c).size();
}

// The hexadecimal PDU of one part; header: the user-data header without its
// length octet, empty for a single message.
std::string SubmitPdu(std::string_view number, SmsCoding coding, std::u32string_view text,
                      const std::string& header) {
  std::string user_data;
  std::size_t udl = 0;
  std::string with_length;
  if (!header.empty()) {
    AppendOctet(with_length, static_cast<unsigned>(header.size()));
    with_length += header;
  }
  if (coding == SmsCoding::kGsm7) {
    const auto septets = TextToGsm7(text).value_or(std::vector<std::uint8_t>{});
    const std::size_t header_bits = with_length.size() * 8;
    const std::size_t header_septets = (header_bits + 6) / 7;
    const int fill = static_cast<int>(header_septets * 7 - header_bits);
    user_data = with_length + PackSeptets(septets, fill);
    udl = header_septets + septets.size();
  } else {
    user_data = with_length + Utf16ToOctets(TextToUtf16(text));
    udl = user_data.size();
  }
  std::string tpdu;
  AppendOctet(tpdu, kFirstOctet | (header.empty() ? 0 : kUdhi));
  AppendOctet(tpdu, 0);  // TP-MR: the modem sets it
  AppendAddress(tpdu, number);
  AppendOctet(tpdu, 0);  // TP-PID
  AppendOctet(tpdu, coding == SmsCoding::kGsm7 ? kDcsGsm7 : kDcsUcs2);
  AppendOctet(tpdu, kValidity);
  AppendOctet(tpdu, static_cast<unsigned>(udl));
  return "00" + OctetsToHex(tpdu + user_data);
}

// The text whole when it fits one message, else cut where the next character
// would overflow a concatenated part; size_of counts a character in the
// coding's units (septets or UTF-16 units).
template <typename SizeOf>
std::vector<std::u32string> CutIntoParts(std::u32string_view text, std::size_t single,
                                         std::size_t concatenated, SizeOf size_of) {
  std::size_t total = 0;
  for (char32_t c : text) total += size_of(c);
  const std::size_t room = total <= single ? single : concatenated;
  std::vector<std::u32string> parts(1);
  std::size_t used = 0;
  for (char32_t c : text) {
    const std::size_t n = size_of(c);
    if (used + n > room) {
      parts.emplace_back();
      used = 0;
    }
    parts.back() += c;
    used += n;
  }
  return parts;
}

}  // namespace

PartPlan PlanParts(std::u32string_view text) {
  PartPlan plan;
  if (TextToGsm7(text)) {
    plan.coding = SmsCoding::kGsm7;
    plan.parts = CutIntoParts(text, kGsm7Single, kGsm7Concatenated, Gsm7Length);
  } else {
    plan.coding = SmsCoding::kUcs2;
    // A character beyond the basic plane takes two UTF-16 units.
    plan.parts = CutIntoParts(text, kUcs2Single, kUcs2Concatenated,
                              [](char32_t c) -> std::size_t { return c > 0xFFFF ? 2 : 1; });
  }
  return plan;
}

std::vector<SubmitPart> BuildDescribedParts(std::string_view number, std::string_view text) {
  std::vector<SubmitPart> parts;
  for (const std::string& part : SplitIntoParts(text))
    parts.push_back({BuildSubmitPdu(number, part), std::string(part)});
  return parts;
}

std::vector<SubmitPart> BuildConcatenatedParts(std::string_view number, std::u32string_view text,
                                               std::uint8_t reference) {
  const PartPlan plan = PlanParts(text);
  const std::size_t count = plan.parts.size();
  if (count > kMaxConcatenatedParts)
    throw platform::Exception(
        platform::Cp1251FromUtf8("Текст слишком длинный: " + std::to_string(count) +
                                 " частей, а в одном сообщении их не больше 255"));
  std::vector<SubmitPart> parts;
  parts.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string header;
    if (count > 1) {
      AppendOctet(header, kIeiConcatenation8);
      AppendOctet(header, 3);
      AppendOctet(header, reference);
      AppendOctet(header, static_cast<unsigned>(count));
      AppendOctet(header, static_cast<unsigned>(i + 1));
    }
    std::string shown;
    for (char32_t c : plan.parts[i])
      shown += static_cast<char>(platform::UnicodeToCp1251(c).value_or('?'));
    parts.push_back({SubmitPdu(number, plan.coding, plan.parts[i], header), std::move(shown)});
  }
  return parts;
}

std::u32string TextFromCp1251(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    const auto byte = static_cast<unsigned char>(text[i]);
    // The one byte Windows-1251 leaves unassigned goes as the window's "?".
    const char16_t code = platform::Cp1251ToUnicode(byte);
    out += code == 0xFFFD ? U'?' : static_cast<char32_t>(code);
  }
  return out;
}

std::uint8_t NextConcatenationReference(MessageRecord* record) {
  if (record) {
    if (auto kept = record->NextConcatenationReference()) return *kept;
  }
  static std::atomic<unsigned> counter{std::random_device{}()};
  return static_cast<std::uint8_t>(counter.fetch_add(1));
}

}  // namespace vestrel
