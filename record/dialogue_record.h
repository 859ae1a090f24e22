#pragma once
// The archive as the dialogues see it: every chunk of a reading, every message
// shown, every send with its parts and the answers seen while it ran. The
// archive's failures never reach the dialogue: the first of a reading or a
// send is kept for the operator, to be told once the handler has returned.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "messaging/message_record.h"

namespace vestrel::record {

// The failures met during one reading or one send, told to the operator once:
// Reset when the reading or send starts, Note every Status, and TakeMessage
// once the port handler has returned.
class FailureNotice {
 public:
  void Reset() {
    first_.reset();
    told_ = false;
  }
  void Note(const archive::Status& status);
  // The first failure's OperatorMessage, once between two Resets; nothing
  // when all went well or it was taken already.
  std::optional<std::string> TakeMessage();

 private:
  std::optional<archive::Status> first_;
  bool told_ = false;
};

// Picks the answer lines a send keeps ("+CMGS: n", "+CMS ERROR: n") out of
// the chunks received while it runs. A line cut between two chunks is held
// until its end arrives, so it is kept whole.
class SendAnswerLines {
 public:
  // Forgets a held part line; call when a send starts.
  void Reset() {
    line_.clear();
    skipping_ = false;
  }
  // The complete answer lines in the chunk (and the part held from before),
  // without their line ends.
  std::vector<std::string> Feed(std::string_view chunk);

 private:
  std::string line_;       // the line so far, while it may be an answer
  bool skipping_ = false;  // in a line that is no answer, up to its end
};

class DialogueRecord : public MessageRecord {
 public:
  // The archive in file (opened at its first use). port_name gives the name
  // of the port the dialogues run on, at each record.
  DialogueRecord(const std::filesystem::path& file, std::function<std::string()> port_name);

  // The archive itself, for its listings.
  archive::Archive& Archive() { return archive_; }

  void ReadingStarted() noexcept override;
  void ChunkReceived(std::string_view bytes, bool reading) noexcept override;
  bool AnswerReceived(std::string_view bytes,
                      const std::vector<FoundMessage>& messages) noexcept override;
  void MessageShown(const FoundMessage& found) noexcept override;
  void SendStarted(const std::string& number, const std::string& text,
                   std::size_t parts) noexcept override;
  void PartWritten(std::size_t part, const std::string& pdu) noexcept override;
  void PartAnswered(std::size_t part, const PartResult& result) noexcept override;
  void SendEnded() noexcept override;
  std::optional<std::uint8_t> NextConcatenationReference() noexcept override;

  // "Архив СМС недоступен: …" in Windows-1251, once per reading or send in
  // which the archive failed; nothing otherwise.
  std::optional<std::string> TakeFailure() override;

 private:
  std::string Port() const;

  archive::Archive archive_;
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

}  // namespace vestrel::record
