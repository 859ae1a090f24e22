#pragma once
// Sending the operator's text in PDU mode: as described, UCS-2 SMS of at most
// 70 characters each, or the parts that a builder prepares (sms_parts.h).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/dialogue_stop.h"
#include "messaging/message_record.h"
#include "messaging/messaging_io.h"
#include "messaging/send_results.h"
#include "messaging/sms_parts.h"

namespace vestrel {

inline constexpr std::size_t kSmsPartChars = 70;
inline constexpr std::size_t kMaxRecipientDigits = 20;

// The recipient without surrounding blanks; throws platform::Exception unless
// it is 1 to 20 ASCII digits.
std::string CheckedRecipient(std::string_view typed);

// The text cut into consecutive parts of at most 70 characters.
std::vector<std::string> SplitIntoParts(std::string_view text);

// The SMS-SUBMIT PDU in hexadecimal, led by an empty service-centre address;
// the number must already be checked.
std::string BuildSubmitPdu(std::string_view number, std::string_view part);

// Octets of the TPDU, as "AT+CMGS=" wants them: the PDU minus its
// service-centre length octet.
std::size_t TpduLength(std::string_view pdu);

// Sleeps in steps of kPauseStepMs and handles the waiting messages after each,
// so the window stays responsive for about ms milliseconds. A stop requested
// meanwhile ends the pause with DialogueStopped.
inline constexpr std::uint32_t kPauseStepMs = 10;
void PumpPause(std::uint32_t ms, const DialogueStop* stop = nullptr);
// The same pause, ended early once done() holds; true when it was.
bool PumpPause(std::uint32_t ms, const DialogueStop* stop, const std::function<bool()>& done);

// How much longer than its pause a part's answer is awaited, at most, before
// the part counts as unknown (a quarter of the pause: 5 s at the window's).
inline std::uint32_t AnswerGraceMs(const MessagingDurations& durations) {
  return durations.pump_pause_ms / 4;
}

// The SendSMS dialogue: every part goes out as "AT+CMGF=0", "AT+CMGS=" and the
// PDU, each echoed to the command log and followed by a modem wait, and then
// the pause during which answers and operator actions are handled. Each
// part's answer is read from the chunks received meanwhile, which reach it
// through AnswerTap().
class SmsSubmission {
 public:
  SmsSubmission(ModemPort& port, LogPane& command_log, InputField& number_field,
                InputField& text_field, MessagingDurations durations = {},
                const DialogueStop* stop = nullptr);
  SmsSubmission(const SmsSubmission&) = delete;
  SmsSubmission& operator=(const SmsSubmission&) = delete;

  // Where each send and its parts are kept; null: nowhere.
  void SetRecord(MessageRecord* record) { record_ = record; }
  MessageRecord* Record() const { return record_; }

  // What the parts of a send are: given the checked number and the text
  // field's text. None: the described parts (BuildDescribedParts).
  using PartsBuilder =
      std::function<std::vector<SubmitPart>(const std::string& number, const std::string& text)>;
  void SetPartsBuilder(PartsBuilder builder) { parts_builder_ = std::move(builder); }

  // The record to give the dispatcher of received chunks: it hands every
  // call on to the record set above and reads the answers of a send under
  // way from the chunks.
  MessageRecord& AnswerTap() { return tap_; }

  // Off (the window): every part is written with every pause, whatever the
  // answers. On (a script): a part refused or unanswered ends the send, and
  // the send ends as soon as the last part's answer is in.
  void StopAtFirstFailure(bool on) { stop_at_failure_ = on; }

  // The answers of the last send; complete once Finished().
  const SendResults& Results() const { return results_; }
  // The last send ran to its end (it was neither stopped nor failed on the port).
  bool Finished() const { return finished_; }
  // "СМС не отправлено: часть k из n — модем ответил …" (Windows-1251) after
  // a finished send with a part not accepted; nothing otherwise.
  const std::optional<std::string>& FailureText() const { return failure_text_; }

  void Button1Click();
  void send_SMS_na_russkom(const std::string& number, const std::string& text);

 private:
  // "AT+CMGS=" with the TPDU length, then the PDU and Ctrl-Z, each followed by
  // a modem wait.
  void WritePart(const std::string& pdu);

  ModemPort& port_;
  LogPane& command_log_;
  InputField& number_field_;
  InputField& text_field_;
  MessagingDurations durations_;
  const DialogueStop* stop_;
  MessageRecord* record_ = nullptr;
  PartsBuilder parts_builder_;
  std::size_t current_part_ = 0;  // the part that send_SMS_na_russkom writes, from 1

  // Hands everything on to record_, and the chunks of a send also to results_.
  class Tap : public MessageRecord {
   public:
    explicit Tap(SmsSubmission& owner) : owner_(owner) {}
    void ReadingStarted() noexcept override;
    void ChunkReceived(std::string_view bytes, bool reading) noexcept override;
    bool AnswerReceived(std::string_view bytes,
                        const std::vector<FoundMessage>& messages) noexcept override;
    void MessageShown(const FoundMessage& found) noexcept override;
    void SendStarted(const std::string& number, const std::string& text,
                     std::size_t parts) noexcept override;
    void PartWritten(std::size_t part, const std::string& pdu) noexcept override;
    std::optional<std::uint8_t> NextConcatenationReference() noexcept override;
    void PartAnswered(std::size_t part, const PartResult& result) noexcept override;
    void SendEnded() noexcept override;
    std::optional<std::string> TakeFailure() override;

   private:
    SmsSubmission& owner_;
  };

  // Waits with the pause for part's answer; false when the part failed and
  // the send stops there.
  bool AwaitAnswer(std::size_t part, bool last);

  Tap tap_{*this};
  SendResults results_;
  bool stop_at_failure_ = false;
  bool sending_ = false;
  bool finished_ = false;
  std::optional<std::string> failure_text_;
};

}  // namespace vestrel
