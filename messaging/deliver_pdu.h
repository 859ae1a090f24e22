#pragma once
// Reading received messages in PDU mode: the answer "+CMGR: <stat>,[<alpha>],
// <length>" with its PDU line, the SMS-DELIVER in it, and the joining of the
// parts of concatenated messages. Texts are UTF-8 here; the window converts
// them to Windows-1251 when it shows them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/at_answers.h"

namespace vestrel {

enum class SenderType { kInternational, kNational, kAlphanumeric, kOther };
enum class DeliverCoding { kGsm7, k8Bit, kUcs2 };

// Where a part belongs in a concatenated message (8- or 16-bit reference).
struct Concatenation {
  unsigned reference = 0;
  unsigned total = 0;
  unsigned sequence = 0;  // from 1
};

struct DeliveredPart {
  std::string sender;  // "+" and digits for an international number, else as sent
  SenderType sender_type = SenderType::kOther;
  std::string sent_at;  // the service centre's time stamp, "2026-12-10T14:03:05+03:00"
  DeliverCoding coding = DeliverCoding::kGsm7;
  // UTF-8; 8-bit data with each octet as the character of the same value.
  std::string text;
  std::optional<Concatenation> concatenation;
};

struct DeliverResult {
  std::optional<DeliveredPart> part;
  std::string error;  // why the PDU was not taken
};

// Decodes an SMS-DELIVER PDU in hexadecimal led by its service-centre address.
// tpdu_length: the <length> of the answer, checked when given.
DeliverResult DecodeDeliverPdu(std::string_view hex, std::optional<int> tpdu_length = {});

// A reading's answer from "+CMGR:" on: the header line and the PDU line after
// it (line ends CR LF or LF, blanks around the PDU ignored).
DeliverResult DecodeCmgrPduAnswer(std::string_view answer);

// A message as shown: one part on its own, or the parts of a concatenated
// message in their order. Parts of one message share sender, reference and
// total; incomplete when some have not arrived (the text then joins those that
// did). first_part: the index of its earliest part in the input.
struct JoinedMessage {
  std::string sender;
  std::string sent_at;  // of the part with the lowest sequence number
  std::string text;
  bool complete = true;
  std::size_t parts_present = 1;
  std::size_t parts_total = 1;
  std::size_t first_part = 0;
};

// The messages the parts make, in the order their first parts came. A
// repeated part (same sequence number) counts once.
std::vector<JoinedMessage> JoinParts(const std::vector<DeliveredPart>& parts);

}  // namespace vestrel
