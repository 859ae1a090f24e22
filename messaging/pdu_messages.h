#pragma once
// Messages read in PDU mode as the reading shows them: one decoded SMS-DELIVER
// in the fields of the described line, and the parts of a concatenated
// message joined into one.

#include <string>
#include <string_view>
#include <vector>

#include "messaging/answer_scanner.h"

namespace vestrel {

// Fills found.part and found.message from the header and PDU lines. A PDU
// that does not decode is shown as it came, without number or time.
void DecodePduFound(FoundMessage& found);

// "2026-12-10T14:03:05+03:00" as the described line shows a send time:
// "26/12/10,14:03:05"; empty when the stamp does not read so.
std::string ShownTime(std::string_view sent_at);

// What the parts of one concatenated message share: sender, reference and
// total; empty for a message of one part.
std::string PartGroupKey(const FoundMessage& found);

// One message from the parts of one group (any order; a repeated part counts
// once): their texts in sequence order, the time of the lowest, the lines of
// all of them, and how many of the parts are here.
FoundMessage JoinedFound(const std::vector<FoundMessage>& parts);

// The modem-log line of a message; an incomplete one says so after its text.
std::string FoundLogLine(const FoundMessage& found);

}  // namespace vestrel
