#include "cli/message_output.h"

#include "cli/text.h"
#include "messaging/pdu_messages.h"
#include "messaging/staging.h"
#include "platform/cp1251.h"

namespace vestrel::cli {

std::string MessageOutputLine(const FoundMessage& found, bool json) {
  const ListedMessage& m = found.message;
  if (!json) return platform::Cp1251ToUtf8(FoundLogLine(found));
  std::string line = "{\"number\":" + JsonString(platform::Cp1251ToUtf8(m.number)) +
                     ",\"time\":" + JsonString(platform::Cp1251ToUtf8(m.time));
  if (!m.sent_at.empty()) line += ",\"sent_at\":" + JsonString(m.sent_at);
  line += ",\"text\":" + JsonString(platform::Cp1251ToUtf8(m.text));
  if (found.index) line += ",\"index\":" + std::to_string(*found.index);
  if (found.parts_total > 1) {
    line += ",\"parts\":" + std::to_string(found.parts_total) +
            ",\"parts_present\":" + std::to_string(found.parts_present) +
            ",\"complete\":" + (found.parts_present < found.parts_total ? "false" : "true");
  }
  return line + "}";
}

void MessageOutput::ReadingStarted() noexcept {
  if (kept_) kept_->ReadingStarted();
}

std::optional<std::string> MessageOutput::TakeFailure() {
  return kept_ ? kept_->TakeFailure() : std::nullopt;
}

void MessageOutput::ChunkReceived(std::string_view bytes, bool reading) noexcept {
  if (kept_) kept_->ChunkReceived(bytes, reading);
}

bool MessageOutput::Print(const FoundMessage& found) noexcept {
  ++shown_;
  try {
    const std::string line = MessageOutputLine(found, json_);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    // A script reading the output sees each message before it is deleted
    // from the phone; a closed output is seen before the delete too.
    if (std::fflush(out_) != 0 || std::ferror(out_)) output_failed_ = true;
  } catch (...) {
    // Out of memory for one line: the others still go out.
    return false;
  }
  return !output_failed_;
}

bool MessageOutput::AnswerReceived(std::string_view bytes,
                                   const std::vector<FoundMessage>& messages) noexcept {
  if (kept_ && !kept_->AnswerReceived(bytes, messages)) return false;
  bool printed = true;
  // A part of a concatenated message is printed with the rest of it.
  for (const FoundMessage& found : messages)
    if (PartGroupKey(found).empty()) printed = Print(found) && printed;
  return printed;
}

void MessageOutput::MessageShown(const FoundMessage& found) noexcept {
  if (PartGroupKey(found).empty()) Print(found);
  if (kept_) kept_->MessageShown(found);
}

void MessageOutput::MessageJoined(const FoundMessage& joined) noexcept {
  Print(joined);
  if (kept_) kept_->MessageJoined(joined);
}

bool MessageOutput::KeepsParts() const noexcept {
  return kept_ && kept_->KeepsParts();
}

std::vector<FoundMessage> MessageOutput::EarlierParts(const FoundMessage& part) noexcept {
  return kept_ ? kept_->EarlierParts(part) : std::vector<FoundMessage>{};
}

void MessageOutput::SendStarted(const std::string& number, const std::string& text,
                                std::size_t parts) noexcept {
  progress_.SendStarted(parts);
  if (kept_) kept_->SendStarted(number, text, parts);
}

void MessageOutput::PartWritten(std::size_t part, const std::string& pdu) noexcept {
  try {
    progress_.PartWritten(part);
  } catch (...) {
  }
  if (kept_) kept_->PartWritten(part, pdu);
}

void MessageOutput::PartAnswered(std::size_t part, const PartResult& result) noexcept {
  if (kept_) kept_->PartAnswered(part, result);
}

void MessageOutput::SendEnded() noexcept {
  if (kept_) kept_->SendEnded();
}

}  // namespace vestrel::cli
