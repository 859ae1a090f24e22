#include "messaging/status_report.h"

#include "messaging/hex_digits.h"

#include <vector>

namespace vestrel {
namespace {

std::optional<std::vector<unsigned char>> Octets(std::string_view hex) {
  while (!hex.empty() && (hex.back() == '\r' || hex.back() == '\n' || hex.back() == ' '))
    hex.remove_suffix(1);
  while (!hex.empty() && hex.front() == ' ') hex.remove_prefix(1);
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<unsigned char> octets;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    octets.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return octets;
}

// Semi-octets, low nibble first, as addresses and time stamps hold them.
std::string SwappedDigits(const unsigned char* octets, std::size_t count) {
  std::string digits;
  for (std::size_t i = 0; i < count; ++i) {
    for (const unsigned nibble : {octets[i] & 0x0Fu, static_cast<unsigned>(octets[i]) >> 4u}) {
      if (nibble == 0x0F) continue;
      digits += nibble < 10 ? static_cast<char>('0' + nibble) : '?';
    }
  }
  return digits;
}

// "yyMMddhhmmss" and the zone in quarter hours (its sign in bit 3 of the last
// octet's high digit) as ISO 8601.
std::optional<std::string> TimeStamp(const unsigned char* o) {
  std::string digits;
  for (int i = 0; i < 6; ++i) {
    const unsigned low = o[i] & 0x0Fu;
    const unsigned high = static_cast<unsigned>(o[i]) >> 4u;
    if (low > 9 || high > 9) return std::nullopt;
    digits += static_cast<char>('0' + low);
    digits += static_cast<char>('0' + high);
  }
  const unsigned zone_octet = o[6];
  const bool west = (zone_octet & 0x08u) != 0;
  const unsigned quarters = (zone_octet & 0x07u) * 10 + (zone_octet >> 4u);
  const unsigned minutes = quarters * 15;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02u:%02u", west ? '-' : '+', minutes / 60, minutes % 60);
  return "20" + digits.substr(0, 2) + "-" + digits.substr(2, 2) + "-" + digits.substr(4, 2) + "T" +
         digits.substr(6, 2) + ":" + digits.substr(8, 2) + ":" + digits.substr(10, 2) + zone;
}

// "yy/MM/dd,hh:mm:ss±zz" of text mode as ISO 8601; empty when it does not read.
std::string TextTimeStamp(std::string_view t) {
  if (t.size() != 20 || t[2] != '/' || t[5] != '/' || t[8] != ',' || t[11] != ':' || t[14] != ':' ||
      (t[17] != '+' && t[17] != '-'))
    return {};
  for (const std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u, 9u, 10u, 12u, 13u, 15u, 16u, 18u, 19u})
    if (t[i] < '0' || t[i] > '9') return {};
  const unsigned minutes = static_cast<unsigned>((t[18] - '0') * 10 + (t[19] - '0')) * 15;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02u:%02u", t[17], minutes / 60, minutes % 60);
  return "20" + std::string(t.substr(0, 2)) + "-" + std::string(t.substr(3, 2)) + "-" +
         std::string(t.substr(6, 2)) + "T" + std::string(t.substr(9, 8)) + zone;
}

std::string Unquoted(std::string_view field) {
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\r')) field.remove_suffix(1);
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
    field = field.substr(1, field.size() - 2);
  return std::string(field);
}

std::optional<unsigned> Number(std::string_view field) {
  const std::string text = Unquoted(field);
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

}  // namespace

std::string WithStatusReportRequest(std::string_view pdu_hex) {
  std::string pdu(pdu_hex);
  if (pdu.size() < 4) return pdu;
  const int sca_high = HexValue(pdu[0]);
  const int sca_low = HexValue(pdu[1]);
  if (sca_high < 0 || sca_low < 0) return pdu;
  const std::size_t at = 2 + static_cast<std::size_t>(sca_high * 16 + sca_low) * 2;
  if (pdu.size() < at + 2) return pdu;
  const int high = HexValue(pdu[at]);
  if (high < 0) return pdu;
  pdu[at] = kHexDigits[static_cast<unsigned>(high) | (kStatusReportRequest >> 4)];
  return pdu;
}

DeliveryOutcome OutcomeOf(unsigned status) {
  if (status <= 0x1F) return DeliveryOutcome::kDelivered;
  if (status <= 0x3F) return DeliveryOutcome::kPending;
  return DeliveryOutcome::kFailed;
}

std::optional<StatusReport> DecodeStatusReportPdu(std::string_view hex) {
  const auto octets = Octets(hex);
  if (!octets || octets->empty()) return std::nullopt;
  const std::vector<unsigned char>& o = *octets;
  std::size_t at = 1 + o[0];
  // First octet: TP-MTI 10 is a status report.
  if (o.size() < at + 3 || (o[at] & 0x03u) != 0x02u) return std::nullopt;
  StatusReport report;
  report.reference = o[at + 1];
  const std::size_t digits = o[at + 2];
  const std::size_t address_octets = (digits + 1) / 2;
  at += 3;
  if (digits > 20 || o.size() < at + 1 + address_octets + 7 + 7 + 1) return std::nullopt;
  const unsigned type = o[at];
  std::string number = SwappedDigits(&o[at + 1], address_octets);
  if ((type & 0x70u) == 0x10u) number = "+" + number;
  report.recipient = number;
  at += 1 + address_octets;
  const auto submitted = TimeStamp(&o[at]);
  const auto done = TimeStamp(&o[at + 7]);
  if (!submitted || !done) return std::nullopt;
  report.submitted_at = *submitted;
  report.done_at = *done;
  report.status = o[at + 14];
  report.outcome = OutcomeOf(report.status);
  return report;
}

std::optional<StatusReport> ParseStatusReportText(std::string_view fields) {
  // Commas inside quotes belong to their field (the time stamps hold one).
  std::vector<std::string_view> parts;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= fields.size(); ++i) {
    if (i < fields.size() && fields[i] == '"') quoted = !quoted;
    if (i == fields.size() || (fields[i] == ',' && !quoted)) {
      parts.push_back(fields.substr(start, i - start));
      start = i + 1;
    }
  }
  if (parts.size() < 7) return std::nullopt;
  const auto first = Number(parts[0]);
  const auto reference = Number(parts[1]);
  const auto status = Number(parts[6]);
  if (!first || (*first & 0x03u) != 0x02u || !reference || *reference > 255 || !status ||
      *status > 255)
    return std::nullopt;
  StatusReport report;
  report.reference = *reference;
  report.recipient = Unquoted(parts[2]);
  report.submitted_at = TextTimeStamp(Unquoted(parts[4]));
  report.done_at = TextTimeStamp(Unquoted(parts[5]));
  if (report.submitted_at.empty() || report.done_at.empty()) return std::nullopt;
  report.status = *status;
  report.outcome = OutcomeOf(report.status);
  return report;
}

bool SameRecipient(std::string_view a, std::string_view b) {
  if (!a.empty() && a.front() == '+') a.remove_prefix(1);
  if (!b.empty() && b.front() == '+') b.remove_prefix(1);
  return !a.empty() && a == b;
}

}  // namespace vestrel
