#pragma once
// What the watch sees of the dialogues: every call goes on to the output (the
// archive, then standard output) unchanged; each message that went through is
// handed on (to --exec) right after, the modem's announcements of new messages
// ("+CMTI:", "+CDSI:") are noticed in the chunks, and the status reports it
// routes ("+CDS:") are decoded and kept with their sends.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/message_record.h"

namespace vestrel::cli {

// Whether a whole line from the modem announces a stored message.
bool AnnouncesMessage(std::string_view line);

class WatchRecord : public MessageRecord {
 public:
  // handed: each message once it was kept and printed; reported: each status
  // report once it was handed on to be kept.
  WatchRecord(MessageRecord& next, std::function<void(const FoundMessage&)> handed,
              std::function<void(const StatusReport&)> reported = {})
      : next_(next), handed_(std::move(handed)), reported_(std::move(reported)) {}

  void ReadingStarted() noexcept override { next_.ReadingStarted(); }
  void ChunkReceived(std::string_view bytes, bool reading) noexcept override;
  bool AnswerReceived(std::string_view bytes,
                      const std::vector<FoundMessage>& messages) noexcept override;
  void MessageShown(const FoundMessage& found) noexcept override;
  // A concatenated message is handed on whole, as it is printed.
  void MessageJoined(const FoundMessage& joined) noexcept override;
  bool KeepsParts() const noexcept override { return next_.KeepsParts(); }
  std::vector<FoundMessage> EarlierParts(const FoundMessage& part) noexcept override {
    return next_.EarlierParts(part);
  }
  void SendStarted(const std::string& number, const std::string& text,
                   std::size_t parts) noexcept override {
    next_.SendStarted(number, text, parts);
  }
  void PartWritten(std::size_t part, const std::string& pdu) noexcept override {
    next_.PartWritten(part, pdu);
  }
  void PartAnswered(std::size_t part, const PartResult& result) noexcept override {
    next_.PartAnswered(part, result);
  }
  void SendEnded() noexcept override { next_.SendEnded(); }
  void DeliveryReported(const StatusReport& report) noexcept override {
    next_.DeliveryReported(report);
  }
  std::optional<std::uint8_t> NextConcatenationReference() noexcept override {
    return next_.NextConcatenationReference();
  }
  std::optional<std::string> TakeFailure() override { return next_.TakeFailure(); }

  // A message was announced since the last call.
  bool TakeAnnouncement() { return announced_.exchange(false); }
  bool Announced() const { return announced_.load(); }
  // Chunks seen so far.
  std::size_t Chunks() const { return chunks_; }

 private:
  void Scan(std::string_view bytes) noexcept;
  void Hand(const FoundMessage& found) noexcept;
  void Line(std::string_view line);
  void Report(const StatusReport& report) noexcept;

  MessageRecord& next_;
  std::function<void(const FoundMessage&)> handed_;
  std::function<void(const StatusReport&)> reported_;
  bool report_pdu_due_ = false;  // "+CDS: <length>" came; its PDU is the next line
  std::string line_;             // an unfinished line of the modem's
  std::atomic<bool> announced_{false};
  std::size_t chunks_ = 0;
};

}  // namespace vestrel::cli
