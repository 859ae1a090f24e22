#include "messaging/deliver_pdu.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <tuple>

#include "messaging/sms_coding.h"
#include "platform/utf8.h"

namespace vestrel {
namespace {

constexpr std::size_t kMaxAddressDigits = 20;
constexpr std::size_t kMaxUserDataOctets = 140;
constexpr std::size_t kMaxSeptets = 160;

class Reader {
 public:
  explicit Reader(std::string_view octets) : data_(octets) {}
  bool Take(std::size_t n, std::string_view& out) {
    if (data_.size() - at_ < n) return false;
    out = data_.substr(at_, n);
    at_ += n;
    return true;
  }
  bool Octet(unsigned& out) {
    std::string_view v;
    if (!Take(1, v)) return false;
    out = static_cast<unsigned char>(v[0]);
    return true;
  }
  std::size_t Remaining() const { return data_.size() - at_; }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
};

std::string Utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) platform::AppendUtf8(out, c > 0x10FFFF ? U'\uFFFD' : c);
  return out;
}

// Semi-octet digits, low nibble first; the filler F ends them.
std::string Digits(std::string_view value, std::size_t count) {
  static constexpr char kDigit[] = "0123456789*#abc";
  std::string digits;
  for (std::size_t i = 0; i < count; ++i) {
    const auto octet = static_cast<unsigned char>(value[i / 2]);
    const unsigned nibble = i % 2 == 0 ? octet & 0x0F : octet >> 4;
    if (nibble == 0xF) break;
    digits += kDigit[nibble];
  }
  return digits;
}

bool ReadSender(Reader& r, DeliveredPart& part, std::string& error) {
  unsigned length = 0;
  unsigned toa = 0;
  if (!r.Octet(length) || !r.Octet(toa)) return error = "no originating address", false;
  std::string_view value;
  if (!r.Take((length + 1) / 2, value)) return error = "originating address cut short", false;
  switch ((toa >> 4) & 0x7) {
    case 0x5:
      part.sender_type = SenderType::kAlphanumeric;
      part.sender = Utf8(Gsm7ToText(UnpackSeptets(value, length * 4 / 7)));
      return true;
    case 0x1:
      part.sender_type = SenderType::kInternational;
      break;
    case 0x2:
      part.sender_type = SenderType::kNational;
      break;
    default:
      part.sender_type = SenderType::kOther;
  }
  if (length > kMaxAddressDigits) return error = "originating address too long", false;
  part.sender = Digits(value, length);
  if (part.sender_type == SenderType::kInternational) part.sender.insert(0, "+");
  return true;
}

bool ReadCoding(unsigned dcs, DeliverCoding& coding, std::string& error) {
  const unsigned group = dcs >> 4;
  if (group <= 0x7) {  // general data coding, with or without automatic deletion
    if (dcs & 0x20) return error = "compressed user data", false;
    switch ((dcs >> 2) & 0x3) {
      case 0:
        coding = DeliverCoding::kGsm7;
        return true;
      case 1:
        coding = DeliverCoding::k8Bit;
        return true;
      case 2:
        coding = DeliverCoding::kUcs2;
        return true;
    }
    return error = "reserved alphabet", false;
  }
  if (group == 0xC || group == 0xD) {  // message waiting indication, 7-bit
    coding = DeliverCoding::kGsm7;
    return true;
  }
  if (group == 0xE) {
    coding = DeliverCoding::kUcs2;
    return true;
  }
  if (group == 0xF) {
    coding = (dcs & 0x04) ? DeliverCoding::k8Bit : DeliverCoding::kGsm7;
    return true;
  }
  return error = "reserved data coding group", false;
}

// Swapped BCD: the low nibble holds the tens.
int Bcd(unsigned char octet) {
  const int tens = octet & 0x0F;
  const int units = octet >> 4;
  return tens > 9 || units > 9 ? -1 : tens * 10 + units;
}

bool ReadTimeStamp(Reader& r, std::string& iso, std::string& error) {
  std::string_view t;
  if (!r.Take(7, t)) return error = "no time stamp", false;
  int fields[6];
  for (std::size_t i = 0; i < 6; ++i) {
    fields[i] = Bcd(static_cast<unsigned char>(t[i]));
    if (fields[i] < 0) return error = "time stamp is not decimal", false;
  }
  const auto zone_octet = static_cast<unsigned char>(t[6]);
  const int zone = Bcd(static_cast<unsigned char>(zone_octet & 0xF7));
  if (zone < 0) return error = "time zone is not decimal", false;
  const int zone_minutes = zone * 15;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", 2000 + fields[0],
                fields[1], fields[2], fields[3], fields[4], fields[5],
                (zone_octet & 0x08) ? '-' : '+', zone_minutes / 60, zone_minutes % 60);
  iso = buffer;
  return true;
}

// The concatenation element of a user-data header, if it has one that holds.
std::optional<Concatenation> FindConcatenation(std::string_view header) {
  std::optional<Concatenation> found;
  for (std::size_t i = 0; i + 2 <= header.size();) {
    const auto iei = static_cast<unsigned char>(header[i]);
    const std::size_t length = static_cast<unsigned char>(header[i + 1]);
    if (i + 2 + length > header.size()) break;
    const std::string_view data = header.substr(i + 2, length);
    auto at = [&data](std::size_t k) -> unsigned { return static_cast<unsigned char>(data[k]); };
    Concatenation c;
    if (iei == 0x00 && length == 3) {
      c = {at(0), at(1), at(2)};
    } else if (iei == 0x08 && length == 4) {
      c = {at(0) << 8 | at(1), at(2), at(3)};
    } else {
      i += 2 + length;
      continue;
    }
    // An element with a zero count or a sequence beyond it is to be ignored.
    if (c.total > 0 && c.sequence > 0 && c.sequence <= c.total) found = c;
    i += 2 + length;
  }
  return found;
}

}  // namespace

DeliverResult DecodeDeliverPdu(std::string_view hex, std::optional<int> tpdu_length) {
  DeliverResult result;
  auto fail = [&result](std::string why) {
    result.error = std::move(why);
    return result;
  };
  const auto octets = HexToOctets(hex);
  if (!octets) return fail("not an even count of hexadecimal digits");
  Reader r(*octets);
  unsigned sca_length = 0;
  std::string_view skipped;
  if (!r.Octet(sca_length) || !r.Take(sca_length, skipped))
    return fail("service-centre address cut short");
  if (tpdu_length && static_cast<std::size_t>(*tpdu_length) != r.Remaining())
    return fail("the PDU has " + std::to_string(r.Remaining()) +
                " octets after the service centre, not " + std::to_string(*tpdu_length));

  DeliveredPart part;
  std::string error;
  unsigned first = 0;
  if (!r.Octet(first)) return fail("no first octet");
  if ((first & 0x03) != 0x00) return fail("not an SMS-DELIVER");
  if (!ReadSender(r, part, error)) return fail(error);
  unsigned pid = 0;
  unsigned dcs = 0;
  if (!r.Octet(pid) || !r.Octet(dcs)) return fail("no protocol identifier or coding");
  if (!ReadCoding(dcs, part.coding, error)) return fail(error);
  if (!ReadTimeStamp(r, part.sent_at, error)) return fail(error);
  unsigned udl = 0;
  if (!r.Octet(udl)) return fail("no user-data length");
  const bool gsm7 = part.coding == DeliverCoding::kGsm7;
  if (udl > (gsm7 ? kMaxSeptets : kMaxUserDataOctets))
    return fail("user-data length " + std::to_string(udl));
  const std::size_t ud_octets = gsm7 ? (udl * 7 + 7) / 8 : udl;
  std::string_view ud;
  if (!r.Take(ud_octets, ud)) return fail("user data cut short");

  std::size_t header_octets = 0;
  if (first & 0x40) {
    if (ud.empty()) return fail("no user-data header");
    header_octets = static_cast<unsigned char>(ud[0]) + std::size_t{1};
    if (header_octets > ud.size()) return fail("user-data header longer than the user data");
    part.concatenation = FindConcatenation(ud.substr(1, header_octets - 1));
  }
  if (gsm7) {
    const std::size_t header_septets = (header_octets * 8 + 6) / 7;
    if (header_septets > udl) return fail("user-data header longer than the user data");
    const int fill = static_cast<int>(header_septets * 7 - header_octets * 8);
    part.text =
        Utf8(Gsm7ToText(UnpackSeptets(ud.substr(header_octets), udl - header_septets, fill)));
  } else if (part.coding == DeliverCoding::kUcs2) {
    part.text = Utf8(OctetsToText(ud.substr(header_octets)));
  } else {
    std::u32string latin1;
    for (char c : ud.substr(header_octets)) latin1 += static_cast<unsigned char>(c);
    part.text = Utf8(latin1);
  }
  result.part = std::move(part);
  return result;
}

DeliverResult DecodeCmgrPduAnswer(std::string_view answer) {
  const std::size_t end = answer.find('\n');
  if (end == std::string_view::npos) return {std::nullopt, "no PDU line"};
  const auto header = ParseCmgrPduHeader(answer.substr(0, end));
  if (!header) return {std::nullopt, "not a PDU-mode +CMGR answer"};
  std::string_view pdu = answer.substr(end + 1);
  pdu = pdu.substr(0, pdu.find('\n'));
  while (!pdu.empty() && (pdu.front() == ' ' || pdu.front() == '\t')) pdu.remove_prefix(1);
  while (!pdu.empty() && (pdu.back() == '\r' || pdu.back() == ' ' || pdu.back() == '\t'))
    pdu.remove_suffix(1);
  return DecodeDeliverPdu(pdu, header->length);
}

std::vector<JoinedMessage> JoinParts(const std::vector<DeliveredPart>& parts) {
  std::vector<JoinedMessage> messages;
  using Key = std::tuple<std::string, unsigned, unsigned>;
  struct Group {
    std::size_t message;                          // index in messages
    std::map<unsigned, std::size_t> by_sequence;  // sequence -> index in parts
  };
  std::map<Key, Group> groups;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const DeliveredPart& p = parts[i];
    if (!p.concatenation) {
      messages.push_back({p.sender, p.sent_at, p.text, true, 1, 1, i});
      continue;
    }
    const Concatenation& c = *p.concatenation;
    auto [it, fresh] = groups.try_emplace(Key{p.sender, c.reference, c.total});
    if (fresh) {
      it->second.message = messages.size();
      messages.push_back({p.sender, {}, {}, false, 0, c.total, i});
    }
    it->second.by_sequence.try_emplace(c.sequence, i);
  }
  for (auto& [key, group] : groups) {
    JoinedMessage& m = messages[group.message];
    m.sent_at = parts[group.by_sequence.begin()->second].sent_at;
    for (const auto& [sequence, index] : group.by_sequence) m.text += parts[index].text;
    m.parts_present = group.by_sequence.size();
    m.complete = m.parts_present == m.parts_total;
  }
  return messages;
}

}  // namespace vestrel
