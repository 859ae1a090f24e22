#pragma once
// Where the dialogues keep what passed through them (the message archive).
// None of these calls throws: a record that cannot be kept reports that on
// its own, after the dialogue step is over.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/found_message.h"
#include "messaging/send_results.h"
#include "messaging/status_report.h"

namespace vestrel {

class MessageRecord {
 public:
  virtual ~MessageRecord() = default;
  // A reading starts (the count is asked for).
  virtual void ReadingStarted() noexcept {}
  // A chunk as it was received. reading: a reading is under way (the bytes
  // are kept whatever the parser makes of them); otherwise only what belongs
  // to a send under way is kept.
  virtual void ChunkReceived(std::string_view bytes, bool reading) noexcept = 0;
  // The whole answer to the read of a stored message, before the message is
  // deleted from the phone: the bytes received since the last such call, as
  // they came, and the messages whose answers ended in them. True once they
  // are kept where a kill or a power cut cannot take them; false stops the
  // reading with the message left on the phone. Those bytes do not come
  // again in ChunkReceived, nor those messages in MessageShown.
  virtual bool AnswerReceived(std::string_view bytes,
                              const std::vector<FoundMessage>& messages) noexcept = 0;
  // A message that was just shown in the modem log. In PDU mode the part of
  // a concatenated message comes here (or through AnswerReceived) on its
  // own, and is shown later through MessageJoined.
  virtual void MessageShown(const FoundMessage& found) noexcept = 0;
  // PDU mode: the parts of a concatenated message joined as the modem log
  // shows them, once all have come or, incomplete, when the reading is over.
  virtual void MessageJoined(const FoundMessage& /*joined*/) noexcept {}
  // Whether the parts of a concatenated message are kept where a later
  // reading finds them (EarlierParts). When not, a reading leaves such parts
  // on the phone until their message is whole.
  virtual bool KeepsParts() const noexcept { return true; }
  // The parts of the part's message that earlier readings kept, when its
  // message is still incomplete there or holds this part already.
  virtual std::vector<FoundMessage> EarlierParts(const FoundMessage& /*part*/) noexcept {
    return {};
  }
  // A send begins: the checked number, the whole text, its number of parts.
  virtual void SendStarted(const std::string& number, const std::string& text,
                           std::size_t parts) noexcept = 0;
  // Part number part (from 1) was written to the modem as this PDU.
  virtual void PartWritten(std::size_t part, const std::string& pdu) noexcept = 0;
  // What the modem answered to part number part: accepted, refused, or
  // unknown when no answer came in time. Once per part, before SendEnded.
  virtual void PartAnswered(std::size_t /*part*/, const PartResult& /*result*/) noexcept {}
  virtual void SendEnded() noexcept = 0;
  // A status report of an earlier send, as the modem routed it.
  virtual void DeliveryReported(const StatusReport& /*report*/) noexcept {}
  // The reference for the next concatenated message, from a counter kept
  // with the record so that it differs between sends; nothing when none is kept.
  virtual std::optional<std::uint8_t> NextConcatenationReference() noexcept { return std::nullopt; }
  // The first failure to keep a record since the reading or send began, for
  // the operator (Windows-1251), once; nothing when all was kept.
  virtual std::optional<std::string> TakeFailure() { return std::nullopt; }
};

}  // namespace vestrel
