#pragma once
// One message as a reading found it: what is shown of it and the lines it
// was made of.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "messaging/deliver_pdu.h"
#include "messaging/staging.h"

namespace vestrel {

struct FoundMessage {
  ListedMessage message;
  std::string header_line;            // as received, CRs dropped
  std::string body_line;              // the body's lines, joined with LF
  std::optional<std::int32_t> index;  // storage index, when the echo of its read preceded it
  // PDU mode: the SMS-DELIVER of the body; none in text mode or when it did not decode.
  std::optional<DeliveredPart> part;
  // Shown joined from the parts of a concatenated message: how many of them
  // are here, of how many; fewer here than in all is an incomplete message.
  std::size_t parts_present = 1;
  std::size_t parts_total = 1;
};

}  // namespace vestrel
