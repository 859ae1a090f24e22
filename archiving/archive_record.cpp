#include "archiving/archive_record.h"

#include "messaging/pdu_messages.h"
#include "platform/cp1251.h"

namespace vestrel::archive {

ArchiveRecord::ArchiveRecord(Archive& archive, std::function<std::string()> port_name)
    : archive_(archive), port_name_(std::move(port_name)) {}

std::string ArchiveRecord::Port() const {
  try {
    return port_name_ ? port_name_() : std::string();
  } catch (...) {
    return {};
  }
}

void ArchiveRecord::ReadingStarted() noexcept {
  notice_.Reset();
}

void ArchiveRecord::ChunkReceived(std::string_view bytes, bool reading) noexcept {
  if (reading) notice_.Note(archive_.StoreRawBytes(Port(), bytes));
  if (!sending_) return;
  try {
    for (const std::string& line : answers_.Feed(bytes))
      notice_.Note(archive_.StoreSendAnswer(send_id_, line));
  } catch (...) {
    // Only an allocation can fail here; the answers are in the raw log pane.
  }
}

namespace {

ShownMessage Shown(const std::string& port, const FoundMessage& found) {
  ShownMessage shown{port,
                     found.index,
                     found.message.number,
                     found.message.time,
                     found.message.text,
                     found.header_line,
                     found.body_line,
                     {},
                     0,
                     1};
  if (const std::string group = PartGroupKey(found); !group.empty()) {
    shown.part_group = platform::Cp1251FromUtf8(group);
    shown.part_sequence = static_cast<std::int32_t>(found.part->concatenation->sequence);
    shown.parts_total = static_cast<std::int32_t>(found.part->concatenation->total);
  }
  return shown;
}

}  // namespace

bool ArchiveRecord::AnswerReceived(std::string_view bytes,
                                   const std::vector<FoundMessage>& messages) noexcept {
  try {
    const std::string port = Port();
    Status raw = archive_.StoreRawBytes(port, bytes);
    notice_.Note(raw);
    if (!raw.stored) return false;
    if (messages.empty()) return true;
    std::vector<ShownMessage> shown;
    for (const FoundMessage& found : messages) shown.push_back(Shown(port, found));
    Status kept = archive_.StoreReceivedMany(shown);
    notice_.Note(kept);
    return kept.stored;
  } catch (...) {
    return false;
  }
}

void ArchiveRecord::MessageShown(const FoundMessage& found) noexcept {
  try {
    notice_.Note(archive_.StoreReceived(Shown(Port(), found)));
  } catch (...) {
  }
}

std::vector<FoundMessage> ArchiveRecord::EarlierParts(const FoundMessage& part) noexcept {
  std::vector<FoundMessage> parts;
  try {
    std::vector<ReceivedPartRow> rows;
    notice_.Note(archive_.ListGroupParts(Shown(Port(), part), rows));
    for (const ReceivedPartRow& row : rows) {
      FoundMessage kept;
      kept.header_line = row.raw_header;
      kept.body_line = row.raw_body;
      DecodePduFound(kept);
      if (kept.part) parts.push_back(std::move(kept));
    }
  } catch (...) {
    // Out of memory: the message is shown as far as this reading has it.
  }
  return parts;
}

void ArchiveRecord::SendStarted(const std::string& number, const std::string& text,
                                std::size_t parts) noexcept {
  notice_.Reset();
  answers_.Reset();
  sending_ = true;
  send_id_ = 0;
  parts_ = parts;
  accepted_ = 0;
  refused_ = 0;
  notice_.Note(
      archive_.StoreSendStarted(Port(), number, text, static_cast<std::int32_t>(parts), send_id_));
}

void ArchiveRecord::PartWritten(std::size_t part, const std::string& pdu) noexcept {
  notice_.Note(archive_.StorePartWritten(send_id_, static_cast<std::int32_t>(part), pdu));
}

void ArchiveRecord::PartAnswered(std::size_t part, const PartResult& result) noexcept {
  PartOutcome outcome;
  switch (result.status) {
    case PartStatus::kAccepted:
      outcome.status = SendStatus::kAccepted;
      ++accepted_;
      break;
    case PartStatus::kRefused:
      outcome.status = SendStatus::kRefused;
      ++refused_;
      break;
    case PartStatus::kPending:
    case PartStatus::kUnknown:
      outcome.status = SendStatus::kUnknown;
      break;
  }
  try {
    outcome.text = result.text;
    outcome.reference = result.reference;
    outcome.error_code = result.error_code;
    outcome.error = DescribeFailure(result);
  } catch (...) {
    // Out of memory: the status alone is kept.
  }
  notice_.Note(archive_.StorePartResult(send_id_, static_cast<std::int32_t>(part), outcome));
}

void ArchiveRecord::SendEnded() noexcept {
  // Answers to the last part come in the pause that ends the send; later
  // ones are not the send's.
  sending_ = false;
  const SendStatus status = refused_ > 0                        ? SendStatus::kRefused
                            : accepted_ == parts_ && parts_ > 0 ? SendStatus::kAccepted
                                                                : SendStatus::kUnknown;
  // A send stays unknown, as it was stored, unless its answers say more.
  if (status != SendStatus::kUnknown) notice_.Note(archive_.StoreSendResult(send_id_, status));
}

void ArchiveRecord::DeliveryReported(const StatusReport& report) noexcept {
  // A report that the centre still tries changes nothing kept.
  if (report.outcome == DeliveryOutcome::kPending) return;
  bool found = false;
  notice_.Note(
      archive_.StoreDelivery(report.recipient, report.reference,
                             report.outcome == DeliveryOutcome::kDelivered ? "delivered" : "failed",
                             report.done_at, found));
}

std::optional<std::uint8_t> ArchiveRecord::NextConcatenationReference() noexcept {
  // An archive that cannot say leaves the choice to the caller; the send's
  // own records tell the operator about a failing archive.
  std::uint8_t reference = 0;
  if (!archive_.NextConcatenationReference(reference).ok()) return std::nullopt;
  return reference;
}

std::optional<std::string> ArchiveRecord::TakeFailure() {
  auto message = notice_.TakeMessage();
  if (!message) return std::nullopt;
  return platform::Cp1251FromUtf8(*message);
}

}  // namespace vestrel::archive
