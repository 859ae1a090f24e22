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
  PumpPause(ms, stop, nullptr);
}

bool PumpPause(std::uint32_t ms, const DialogueStop* stop, const std::function<bool()>& done) {
  // ms / 10 + 1 steps of one 10 ms time slice each, so that the pause lasts
  // about ms: a modem still busy sending the last part must not be handed the
  // next part's commands after a fraction of the pause.
  for (std::uint32_t i = 0; i <= ms / 10; ++i) {
    platform::SleepMs(kPauseStepMs);
    platform::ProcessMessages();
    if (stop) stop->ThrowIfRequested();
    if (done && done()) return true;
  }
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    platform::ProcessMessages();
    if (done && done()) return true;
    const std::uint32_t now = platform::TickCount();
    if (now < start || now - start >= ms % 10) break;
  }
  return false;
}

SmsSubmission::SmsSubmission(ModemPort& port, LogPane& command_log, InputField& number_field,
                             InputField& text_field, MessagingDurations durations,
                             const DialogueStop* stop)
    : port_(port),
      command_log_(command_log),
      number_field_(number_field),
      text_field_(text_field),
      durations_(durations),
      stop_(stop) {
  results_.OnSettled([this](std::size_t part, const PartResult& result) {
    if (record_) record_->PartAnswered(part, result);
  });
}

void SmsSubmission::Button1Click() {
  finished_ = false;
  failure_text_.reset();
  const platform::EventHandle et = platform::OpenModemWaitEvent();
  port_.Open();
  // Taken once: editing the fields during the pauses does not change this send.
  const std::string text = text_field_.Text();
  const std::string typed_number = number_field_.Text();
  if (text.empty()) return;
  const std::string number = CheckedRecipient(typed_number);
  const std::vector<SubmitPart> parts =
      parts_builder_ ? parts_builder_(number, text) : BuildDescribedParts(number, text);
  // A send started from the pause of another keeps its own answers; the
  // other's come back when it is over.
  struct SendRecord {
    SmsSubmission& sms;
    bool nested = sms.sending_;
    SendResults outer = nested ? sms.results_ : SendResults();
    // Whatever ends the send, a part still waiting for its answer is
    // unknown, and the record hears the end.
    ~SendRecord() {
      sms.results_.ExpireOpen();
      if (sms.record_) sms.record_->SendEnded();
      sms.sending_ = nested;
      if (nested) sms.results_ = std::move(outer);
    }
  } send_record{*this};
  std::vector<std::string> part_texts;
  for (const SubmitPart& part : parts) part_texts.push_back(part.text);
  results_.Start(part_texts);
  sending_ = true;
  if (record_) record_->SendStarted(number, text, parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    // A part is written whole or not at all: a stop is seen only between parts.
    if (stop_) stop_->AtBoundary();
    results_.PartBegins(i + 1);
    port_.WriteStr("AT+CMGF=0\r");
    command_log_.AddLine("AT+CMGF=0");
    durations_.ModemWait(et);
    current_part_ = i + 1;
    WritePart(parts[i].pdu);
    if (!AwaitAnswer(i + 1, i + 1 == parts.size())) break;
  }
  finished_ = true;
  if (const std::size_t failed = results_.FirstFailure())
    failure_text_ = platform::Cp1251FromUtf8("СМС не отправлено: часть ") + std::to_string(failed) +
                    platform::Cp1251FromUtf8(" из ") + std::to_string(results_.Count()) +
                    platform::Cp1251FromUtf8(" — ") + DescribeFailure(results_.Part(failed));
}

bool SmsSubmission::AwaitAnswer(std::size_t part, bool last) {
  // The window keeps every pause whole, as the modem's own pace wants; a
  // script need not wait past an answer after which nothing more is written.
  const auto nothing_more = [&] {
    return stop_at_failure_ && results_.Settled(part) && (last || results_.Failed(part));
  };
  PumpPause(durations_.pump_pause_ms, stop_, nothing_more);
  // Past the pause only the answer is awaited: nothing further is written
  // meanwhile, so the wire between the parts stays as it was.
  if (!results_.Settled(part) && (last || stop_at_failure_))
    PumpPause(AnswerGraceMs(durations_), stop_, [&] { return results_.Settled(part); });
  results_.ExpireOpen();
  return !(stop_at_failure_ && results_.Failed(part));
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

void SmsSubmission::Tap::ReadingStarted() noexcept {
  if (owner_.record_) owner_.record_->ReadingStarted();
}

void SmsSubmission::Tap::ChunkReceived(std::string_view bytes, bool reading) noexcept {
  if (owner_.sending_) {
    try {
      owner_.results_.Feed(bytes);
    } catch (...) {
      // Only an allocation can fail; the part then counts as unanswered.
    }
  }
  if (owner_.record_) owner_.record_->ChunkReceived(bytes, reading);
}

bool SmsSubmission::Tap::AnswerReceived(std::string_view bytes,
                                        const std::vector<FoundMessage>& messages) noexcept {
  return !owner_.record_ || owner_.record_->AnswerReceived(bytes, messages);
}

std::optional<std::uint8_t> SmsSubmission::Tap::NextConcatenationReference() noexcept {
  return owner_.record_ ? owner_.record_->NextConcatenationReference() : std::nullopt;
}

void SmsSubmission::Tap::MessageShown(const FoundMessage& found) noexcept {
  if (owner_.record_) owner_.record_->MessageShown(found);
}

void SmsSubmission::Tap::SendStarted(const std::string& number, const std::string& text,
                                     std::size_t parts) noexcept {
  if (owner_.record_) owner_.record_->SendStarted(number, text, parts);
}

void SmsSubmission::Tap::PartWritten(std::size_t part, const std::string& pdu) noexcept {
  if (owner_.record_) owner_.record_->PartWritten(part, pdu);
}

void SmsSubmission::Tap::PartAnswered(std::size_t part, const PartResult& result) noexcept {
  if (owner_.record_) owner_.record_->PartAnswered(part, result);
}

void SmsSubmission::Tap::SendEnded() noexcept {
  if (owner_.record_) owner_.record_->SendEnded();
}

std::optional<std::string> SmsSubmission::Tap::TakeFailure() {
  return owner_.record_ ? owner_.record_->TakeFailure() : std::nullopt;
}

}  // namespace vestrel
