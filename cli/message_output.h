#pragma once
// What passes through the dialogues of vestrel-sms: every message shown goes
// to standard output, the parts of a send to the progress, and everything on to
// the record that keeps it (the archive), when there is one.

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include "cli/options.h"
#include "cli/traffic.h"
#include "messaging/message_record.h"

namespace vestrel::cli {

// One line per message shown: the window's modem-log line in UTF-8, or with
// json one object with number, time, sent_at (when the header has a zone),
// text, index (when known), and for a concatenated message parts,
// parts_present and complete.
std::string MessageOutputLine(const FoundMessage& found, bool json);

class MessageOutput : public MessageRecord {
 public:
  // kept: the record to hand everything on to, or null.
  MessageOutput(std::FILE* out, bool json, Progress& progress, MessageRecord* kept)
      : out_(out), json_(json), progress_(progress), kept_(kept) {}

  void ChunkReceived(std::string_view bytes, bool reading) noexcept override;
  // Keeps the answer (archive) first, then prints its messages: true only
  // when both went through, so that nothing is deleted that nobody has.
  bool AnswerReceived(std::string_view bytes,
                      const std::vector<FoundMessage>& messages) noexcept override;
  void MessageShown(const FoundMessage& found) noexcept override;
  // Without a record that keeps them, the parts of an unfinished message stay
  // on the phone: printed as incomplete, deleted once a reading has them all.
  void MessageJoined(const FoundMessage& joined) noexcept override;
  bool KeepsParts() const noexcept override;
  std::vector<FoundMessage> EarlierParts(const FoundMessage& part) noexcept override;
  void SendStarted(const std::string& number, const std::string& text,
                   std::size_t parts) noexcept override;
  void PartWritten(std::size_t part, const std::string& pdu) noexcept override;
  void PartAnswered(std::size_t part, const PartResult& result) noexcept override;
  void SendEnded() noexcept override;
  void DeliveryReported(const StatusReport& report) noexcept override {
    if (kept_) kept_->DeliveryReported(report);
  }
  std::optional<std::uint8_t> NextConcatenationReference() noexcept override {
    return kept_ ? kept_->NextConcatenationReference() : std::nullopt;
  }
  void ReadingStarted() noexcept override;
  std::optional<std::string> TakeFailure() override;

  std::size_t MessagesShown() const { return shown_; }
  // Standard output refused a line.
  bool OutputFailed() const { return output_failed_; }

 private:
  bool Print(const FoundMessage& found) noexcept;

  std::FILE* out_;
  bool json_;
  Progress& progress_;
  MessageRecord* kept_;
  std::size_t shown_ = 0;
  bool output_failed_ = false;
};

}  // namespace vestrel::cli
