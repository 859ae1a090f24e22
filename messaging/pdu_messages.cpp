#include "messaging/pdu_messages.h"

#include <map>

#include "platform/cp1251.h"

namespace vestrel {

std::string ShownTime(std::string_view sent_at) {
  // 0123456789012345678
  // 2026-12-10T14:03:05
  if (sent_at.size() < 19 || sent_at[4] != '-' || sent_at[10] != 'T') return {};
  return std::string(sent_at.substr(2, 2)) + "/" + std::string(sent_at.substr(5, 2)) + "/" +
         std::string(sent_at.substr(8, 2)) + "," + std::string(sent_at.substr(11, 8));
}

void DecodePduFound(FoundMessage& found) {
  const std::string body = found.body_line.substr(0, found.body_line.find('\n'));
  DeliverResult decoded = DecodeCmgrPduAnswer(found.header_line + "\n" + body);
  found.message = {};
  if (!decoded.part) {
    found.message.text = found.body_line;
    return;
  }
  found.message.number = platform::Cp1251FromUtf8(decoded.part->sender);
  found.message.time = ShownTime(decoded.part->sent_at);
  found.message.sent_at = decoded.part->sent_at;
  found.message.text = platform::Cp1251FromUtf8(decoded.part->text);
  found.part = std::move(decoded.part);
}

std::string PartGroupKey(const FoundMessage& found) {
  if (!found.part || !found.part->concatenation) return {};
  const Concatenation& c = *found.part->concatenation;
  return found.part->sender + "/" + std::to_string(c.reference) + "/" + std::to_string(c.total);
}

FoundMessage JoinedFound(const std::vector<FoundMessage>& parts) {
  std::map<unsigned, const FoundMessage*> by_sequence;
  for (const FoundMessage& part : parts)
    if (part.part && part.part->concatenation)
      by_sequence.try_emplace(part.part->concatenation->sequence, &part);
  if (by_sequence.empty()) return parts.empty() ? FoundMessage{} : parts.front();
  FoundMessage joined = *by_sequence.begin()->second;
  std::string text;
  std::string bodies;
  for (const auto& [sequence, part] : by_sequence) {
    text += part->part->text;
    if (!bodies.empty()) bodies += '\n';
    bodies += part->body_line;
  }
  joined.part->text = text;
  joined.message.text = platform::Cp1251FromUtf8(text);
  joined.body_line = bodies;
  joined.parts_present = by_sequence.size();
  joined.parts_total = joined.part->concatenation->total;
  return joined;
}

std::string FoundLogLine(const FoundMessage& found) {
  std::string line = MessageLogLine(found.message);
  if (found.parts_present < found.parts_total) {
    static const std::string before = platform::Cp1251FromUtf8(" [неполное СМС: пришло частей ");
    static const std::string of = platform::Cp1251FromUtf8(" из ");
    line +=
        before + std::to_string(found.parts_present) + of + std::to_string(found.parts_total) + "]";
  }
  return line;
}

}  // namespace vestrel
