// SMS PDUs as a modem exchanges them in PDU mode (3GPP TS 27.005 3.1): an
// optional service-centre address followed by the TPDU of 3GPP TS 23.040.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vestrel::sim {

enum class Coding { kGsm7, k8Bit, kUcs2 };
const char* CodingName(Coding coding);

// Type of address octets (TS 23.040 9.1.2.5).
constexpr std::uint8_t kToaInternational = 0x91;
constexpr std::uint8_t kToaUnknown = 0x81;
constexpr std::uint8_t kToaAlphanumeric = 0xD0;

struct Address {
  std::string value;  // digits (with * # a b c), or the text of an alphanumeric address
  std::uint8_t toa = kToaUnknown;
};

// "+79161234567" becomes international digits, plain digits unknown type,
// anything else an alphanumeric address. nullopt when it cannot be encoded.
std::optional<Address> AddressFromText(std::string_view text);
std::string AddressToText(const Address& address);  // "+" in front of international numbers

struct SubmitPdu {
  std::optional<Address> smsc;
  std::uint8_t first_octet = 0;
  std::uint8_t reference = 0;  // TP-MR
  Address destination;
  std::uint8_t pid = 0;
  std::uint8_t dcs = 0;
  Coding coding = Coding::kGsm7;
  std::string validity_format;          // "none", "relative", "enhanced", "absolute"
  std::optional<int> validity_minutes;  // relative format only
  std::string validity_hex;             // the TP-VP octets as sent
  int udl = 0;                          // TP-UDL: septets for 7-bit, octets otherwise
  std::string udh;                      // user-data header octets, without its length octet
  std::string text;                     // UTF-8; empty for 8-bit data
  std::string data;                     // user data without the header, as octets
};

struct SubmitResult {
  std::optional<SubmitPdu> pdu;
  std::string error;  // why the PDU was refused
};

// Checks and decodes an SMS-SUBMIT given as hexadecimal text whose TPDU must
// be exactly tpdu_length octets, as AT+CMGS=<length> announced.
SubmitResult DecodeSubmit(std::string_view hex, int tpdu_length);

// Time stamp "yy/MM/dd,hh:mm:ss+zz" (zone in quarter hours) to the seven
// TP-SCTS octets (TS 23.040 9.2.3.11); nullopt when it does not parse.
std::optional<std::string> EncodeTimestamp(std::string_view text);

// Where a part stands in a concatenated message (IEI 0x00, 8-bit reference).
struct PartPlace {
  int reference = 0;
  int total = 0;
  int sequence = 0;  // from 1
};

struct MessageContent {
  Address address;
  std::string time;  // deliver only
  std::string text;  // UTF-8
  Coding coding = Coding::kGsm7;
};

struct EncodedPdu {
  std::string hex;
  int tpdu_length = 0;
};

// The PDU of a received message (SMS-DELIVER) or of a stored outgoing one
// (SMS-SUBMIT), as AT+CMGR shows it in PDU mode. nullopt when the text does
// not fit the coding or one message.
// part: a part of a concatenated message, sent with a user data header.
std::optional<EncodedPdu> EncodeDeliver(const std::optional<Address>& smsc,
                                        const MessageContent& message,
                                        const std::optional<PartPlace>& part = std::nullopt);
std::optional<EncodedPdu> EncodeSubmit(const std::optional<Address>& smsc,
                                       const MessageContent& message, std::uint8_t reference,
                                       std::uint8_t pid = 0,
                                       std::optional<std::uint8_t> relative_validity = {});

}  // namespace vestrel::sim
