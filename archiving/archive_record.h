#pragma once
// The archive as the dialogues see it: every chunk of a reading, every message
// shown, every send with its parts and the answers seen while it ran. The
// archive's failures never reach the dialogue: the first of a reading or a
// send is kept for the operator, to be told once the handler has returned.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archive/archive.h"
#include "messaging/message_record.h"

namespace vestrel::archive {

class ArchiveRecord : public MessageRecord {
 public:
  // port_name gives the name of the port the dialogues run on, at each record.
  ArchiveRecord(Archive& archive, std::function<std::string()> port_name);

  void ReadingStarted() noexcept override;
  void ChunkReceived(std::string_view bytes, bool reading) noexcept override;
  bool AnswerReceived(std::string_view bytes,
                      const std::vector<FoundMessage>& messages) noexcept override;
  void MessageShown(const FoundMessage& found) noexcept override;
  // Parts are kept as they come and joined by the archive.
  std::vector<FoundMessage> EarlierParts(const FoundMessage& part) noexcept override;
  void SendStarted(const std::string& number, const std::string& text,
                   std::size_t parts) noexcept override;
  void PartWritten(std::size_t part, const std::string& pdu) noexcept override;
  void PartAnswered(std::size_t part, const PartResult& result) noexcept override;
  void SendEnded() noexcept override;
  void DeliveryReported(const StatusReport& report) noexcept override;
  std::optional<std::uint8_t> NextConcatenationReference() noexcept override;

  // "Архив СМС недоступен: …" in Windows-1251, once per reading or send in
  // which the archive failed; nothing otherwise.
  std::optional<std::string> TakeFailure() override;

 private:
  std::string Port() const;

  Archive& archive_;
  std::function<std::string()> port_name_;
  FailureNotice notice_;
  SendAnswerLines answers_;
  bool sending_ = false;
  std::int64_t send_id_ = 0;
  // The send's parts, and how many of them the modem took or refused.
  std::size_t parts_ = 0;
  std::size_t accepted_ = 0;
  std::size_t refused_ = 0;
};

}  // namespace vestrel::archive
