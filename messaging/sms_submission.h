#pragma once
// Sending the operator's text in PDU mode: as described, UCS-2 SMS of at most
// 70 characters each, or the parts that a builder prepares (sms_parts.h).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/dialogue_stop.h"
#include "messaging/message_record.h"
#include "messaging/messaging_io.h"
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

// The SendSMS dialogue: every part goes out as "AT+CMGF=0", "AT+CMGS=" and the
// PDU, each echoed to the command log and followed by a modem wait, and then
// the pause during which answers and operator actions are handled.
class SmsSubmission {
 public:
  SmsSubmission(ModemPort& port, LogPane& command_log, InputField& number_field,
                InputField& text_field, MessagingDurations durations = {},
                const DialogueStop* stop = nullptr);

  // Where each send and its parts are kept; null: nowhere.
  void SetRecord(MessageRecord* record) { record_ = record; }
  MessageRecord* Record() const { return record_; }

  // What the parts of a send are: given the checked number and the text
  // field's text. None: the described parts (BuildDescribedParts).
  using PartsBuilder =
      std::function<std::vector<SubmitPart>(const std::string& number, const std::string& text)>;
  void SetPartsBuilder(PartsBuilder builder) { parts_builder_ = std::move(builder); }

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
};

}  // namespace vestrel
