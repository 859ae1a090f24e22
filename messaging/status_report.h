#pragma once
// Status reports: what the service centre says of a send made with TP-SRR
// set, as the modem routes it ("+CDS:" with the SMS-STATUS-REPORT in PDU
// mode, or its fields in text mode), and the first octet of an SMS-SUBMIT
// that asks for one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vestrel {

// TP-SRR in the first octet of an SMS-SUBMIT.
inline constexpr unsigned kStatusReportRequest = 0x20;

// Sets TP-SRR in a PDU in hexadecimal led by its service-centre address (as
// AT+CMGS takes it); the PDU unchanged when it is too short to hold one.
std::string WithStatusReportRequest(std::string_view pdu_hex);

enum class DeliveryOutcome {
  kDelivered,  // TP-ST 0x00..0x1F: the message reached the recipient
  kPending,    // 0x20..0x3F: the centre still tries
  kFailed,     // 0x40..0x7F and the rest: it gave up
};

struct StatusReport {
  unsigned reference = 0;    // TP-MR of the send
  std::string recipient;     // "+" and digits for an international number, else the digits
  std::string submitted_at;  // TP-SCTS, "2026-12-10T14:03:05+03:00"
  std::string done_at;       // TP-DT: when the status was reached
  unsigned status = 0;       // TP-ST
  DeliveryOutcome outcome = DeliveryOutcome::kFailed;
};

DeliveryOutcome OutcomeOf(unsigned status);

// An SMS-STATUS-REPORT in hexadecimal led by its service-centre address.
std::optional<StatusReport> DecodeStatusReportPdu(std::string_view hex);

// The fields of a text-mode "+CDS: fo,mr,"ra",tora,"scts","dt",st" after the colon.
std::optional<StatusReport> ParseStatusReportText(std::string_view fields);

// Whether two numbers name one recipient: the same digits, a leading "+"
// or none.
bool SameRecipient(std::string_view a, std::string_view b);

}  // namespace vestrel
