#include "messaging/sms_submission.h"

#include <cstdio>

#include "messaging/ucs2_codec.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/messages.h"

namespace vestrel {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string HexOctet(std::size_t value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02zX", value);
  return buffer;
}

// Address digits in swapped semi-octets, an odd count padded with F.
std::string SwappedSemiOctets(std::string_view digits) {
  std::string padded(digits);
  if (padded.size() % 2 != 0) padded += 'F';
  for (std::size_t i = 0; i + 1 < padded.size(); i += 2) std::swap(padded[i], padded[i + 1]);
  return padded;
}

}  // namespace

std::string CheckedRecipient(std::string_view typed) {
  while (!typed.empty() && IsBlank(typed.front())) typed.remove_prefix(1);
  while (!typed.empty() && IsBlank(typed.back())) typed.remove_suffix(1);
  bool digits_only = !typed.empty() && typed.size() <= kMaxRecipientDigits;
  for (char c : typed) digits_only = digits_only && c >= '0' && c <= '9';
  if (!digits_only) {
    static const std::string message =
        platform::Cp1251FromUtf8("Номер получателя должен состоять только из цифр (без \"+\")");
    throw platform::Exception(message);
  }
  return std::string(typed);
}

std::vector<std::string> SplitIntoParts(std::string_view text) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start < text.size(); start += kSmsPartChars)
    parts.emplace_back(text.substr(start, kSmsPartChars));
  return parts;
}

std::string BuildSubmitPdu(std::string_view number, std::string_view part) {
  std::string pdu;
  pdu += "00";                       // no service-centre address: the phone's own
  pdu += "11";                       // SMS-SUBMIT, relative validity period present
  pdu += "00";                       // TP-MR
  pdu += HexOctet(number.size());    // TP-DA length in digits
  pdu += "91";                       // international, ISDN numbering plan
  pdu += SwappedSemiOctets(number);  // TP-DA digits
  pdu += "00";                       // TP-PID
  pdu += "08";                       // TP-DCS: UCS2
  pdu += "17";                       // TP-VP: (23 + 1) x 5 minutes = 2 hours
  pdu += HexOctet(2 * part.size());  // TP-UDL in octets
  pdu += TextToUcs2Hex(part);        // TP-UD
  return pdu;
}

std::size_t TpduLength(std::string_view pdu) {
  return (pdu.size() - 2) / 2;
}

void PumpPause(std::uint32_t ms, const DialogueStop* stop) {
  // ms / 10 + 1 steps of one 10 ms time slice each, so that the pause lasts
  // about ms: a modem still busy sending the last part must not be handed the
  // next part's commands after a fraction of the pause.
  for (std::uint32_t i = 0; i <= ms / 10; ++i) {
    platform::SleepMs(kPauseStepMs);
    platform::ProcessMessages();
    if (stop) stop->ThrowIfRequested();
  }
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    platform::ProcessMessages();
    const std::uint32_t now = platform::TickCount();
    if (now < start || now - start >= ms % 10) break;
  }
}

SmsSubmission::SmsSubmission(ModemPort& port, LogPane& command_log, InputField& number_field,
                             InputField& text_field, MessagingDurations durations,
                             const DialogueStop* stop)
    : port_(port),
      command_log_(command_log),
      number_field_(number_field),
      text_field_(text_field),
      durations_(durations),
      stop_(stop) {}

void SmsSubmission::Button1Click() {
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  port_.Open();
  // Taken once: editing the fields during the pauses does not change this send.
  const std::string text = text_field_.Text();
  const std::string typed_number = number_field_.Text();
  if (text.empty()) return;
  const std::string number = CheckedRecipient(typed_number);
  const std::vector<SubmitPart> parts =
      parts_builder_ ? parts_builder_(number, text) : BuildDescribedParts(number, text);
  struct SendRecord {
    MessageRecord* record;
    ~SendRecord() {
      if (record) record->SendEnded();
    }
  } send_record{record_};
  if (record_) record_->SendStarted(number, text, parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    // A part is written whole or not at all: a stop is seen only between parts.
    if (stop_) stop_->AtBoundary();
    port_.WriteStr("AT+CMGF=0\r");
    command_log_.AddLine("AT+CMGF=0");
    durations_.ModemWait(et);
    current_part_ = i + 1;
    WritePart(parts[i].pdu);
    PumpPause(durations_.pump_pause_ms, stop_);
  }
}

void SmsSubmission::send_SMS_na_russkom(const std::string& number, const std::string& text) {
  WritePart(BuildSubmitPdu(CheckedRecipient(number), text));
}

void SmsSubmission::WritePart(const std::string& pdu) {
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  const std::string length_command = "AT+CMGS=" + std::to_string(TpduLength(pdu));
  port_.WriteStr(length_command + "\r");
  command_log_.AddLine(length_command);
  durations_.ModemWait(et);
  port_.WriteStr(pdu + "\x1A");
  if (record_) record_->PartWritten(current_part_, pdu);
  command_log_.AddLine(pdu);
  durations_.ModemWait(et);
}

}  // namespace vestrel
