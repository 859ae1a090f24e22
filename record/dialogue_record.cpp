#include "record/dialogue_record.h"

#include "platform/cp1251.h"

namespace vestrel::record {

using archive::PartOutcome;
using archive::SendStatus;
using archive::ShownMessage;
using archive::Status;

void FailureNotice::Note(const Status& status) {
  if (!status.ok() && !first_) first_ = status;
}

std::optional<std::string> FailureNotice::TakeMessage() {
  if (!first_ || told_) return std::nullopt;
  told_ = true;
  return first_->OperatorMessage();
}

namespace {

constexpr std::string_view kAnswerMarks[] = {"+CMGS:", "+CMS ERROR:"};
constexpr std::size_t kLongestAnswer = 64;

bool CouldBeAnswer(std::string_view line) {
  for (std::string_view mark : kAnswerMarks)
    if (mark.starts_with(line) || line.starts_with(mark)) return true;
  return false;
}

bool IsAnswer(std::string_view line) {
  for (std::string_view mark : kAnswerMarks)
    if (line.starts_with(mark)) return true;
  return false;
}

}  // namespace

std::vector<std::string> SendAnswerLines::Feed(std::string_view chunk) {
  std::vector<std::string> lines;
  for (char c : chunk) {
    if (c == '\r' || c == '\n') {
      if (!skipping_ && IsAnswer(line_)) lines.push_back(line_);
      line_.clear();
      skipping_ = false;
      continue;
    }
    if (skipping_) continue;
    line_ += c;
    // Any other line is passed over up to its end.
    if (!CouldBeAnswer(line_) || line_.size() > kLongestAnswer) {
      line_.clear();
      skipping_ = true;
    }
  }
  return lines;
}

DialogueRecord::DialogueRecord(const std::filesystem::path& file,
                               std::function<std::string()> port_name)
    : archive_(file), port_name_(std::move(port_name)) {}

std::string DialogueRecord::Port() const {
  try {
    return port_name_ ? port_name_() : std::string();
  } catch (...) {
    return {};
  }
}

void DialogueRecord::ReadingStarted() noexcept {
  notice_.Reset();
}

void DialogueRecord::ChunkReceived(std::string_view bytes, bool reading) noexcept {
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
  return {port,
          found.index,
          found.message.number,
          found.message.time,
          found.message.text,
          found.header_line,
          found.body_line};
}

}  // namespace

bool DialogueRecord::AnswerReceived(std::string_view bytes,
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

void DialogueRecord::MessageShown(const FoundMessage& found) noexcept {
  try {
    notice_.Note(archive_.StoreReceived(Shown(Port(), found)));
  } catch (...) {
  }
}

void DialogueRecord::SendStarted(const std::string& number, const std::string& text,
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

void DialogueRecord::PartWritten(std::size_t part, const std::string& pdu) noexcept {
  notice_.Note(archive_.StorePartWritten(send_id_, static_cast<std::int32_t>(part), pdu));
}

void DialogueRecord::PartAnswered(std::size_t part, const PartResult& result) noexcept {
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

void DialogueRecord::SendEnded() noexcept {
  // Answers to the last part come in the pause that ends the send; later
  // ones are not the send's.
  sending_ = false;
  const SendStatus status = refused_ > 0                        ? SendStatus::kRefused
                            : accepted_ == parts_ && parts_ > 0 ? SendStatus::kAccepted
                                                                : SendStatus::kUnknown;
  // A send stays unknown, as it was stored, unless its answers say more.
  if (status != SendStatus::kUnknown) notice_.Note(archive_.StoreSendResult(send_id_, status));
}

std::optional<std::uint8_t> DialogueRecord::NextConcatenationReference() noexcept {
  // An archive that cannot say leaves the choice to the caller; the send's
  // own records tell the operator about a failing archive.
  std::uint8_t reference = 0;
  if (!archive_.NextConcatenationReference(reference).ok()) return std::nullopt;
  return reference;
}

std::optional<std::string> DialogueRecord::TakeFailure() {
  auto message = notice_.TakeMessage();
  if (!message) return std::nullopt;
  return platform::Cp1251FromUtf8(*message);
}

}  // namespace vestrel::record
