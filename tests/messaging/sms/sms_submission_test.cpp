#include "messaging/sms_submission.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/messages.h"
#include "tests/messaging/sms/messaging_test_util.h"

namespace vestrel {
namespace {

using test::DecodeWithGammu;
using test::FakeField;
using test::FakePort;
using test::W;

const MessagingDurations kQuick{0, 0};

// A text of n Russian letters, cycling through the alphabet.
std::string Russian(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += static_cast<char>(0xC0 + i % 64);
  return text;
}

// The address-length octet and the digits, read back out of a PDU.
struct Address {
  int length = -1;
  std::string digits;
};
Address ReadAddress(const std::string& pdu) {
  Address a;
  a.length = std::stoi(pdu.substr(6, 2), nullptr, 16);
  const std::string swapped = pdu.substr(10, static_cast<std::size_t>(a.length + 1) / 2 * 2);
  for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) {
    a.digits += swapped[i + 1];
    a.digits += swapped[i];
  }
  if (!a.digits.empty() && a.digits.back() == 'F') a.digits.pop_back();
  return a;
}

struct Expected {
  std::string number;
  std::string text;
};

// Checks with the independent decoder that every PDU carries its number and
// text, and that the address length is the real number of digits.
void ExpectDecodes(const std::vector<std::string>& pdus, const std::vector<Expected>& expected) {
  ASSERT_EQ(pdus.size(), expected.size());
  const auto decoded = DecodeWithGammu(pdus);
  ASSERT_EQ(decoded.size(), pdus.size());
  for (std::size_t i = 0; i < pdus.size(); ++i) {
    SCOPED_TRACE(pdus[i]);
    ASSERT_TRUE(decoded[i].ok) << decoded[i].error;
    EXPECT_EQ(decoded[i].number, "+" + expected[i].number);
    EXPECT_EQ(decoded[i].text_utf8, platform::Cp1251ToUtf8(expected[i].text));
    const Address a = ReadAddress(pdus[i]);
    EXPECT_EQ(a.length, static_cast<int>(expected[i].number.size()));
    EXPECT_EQ(a.digits, expected[i].number);
    EXPECT_EQ(pdus[i].size(), 2 * (TpduLength(pdus[i]) + 1));
  }
}

TEST(SmsPdu, WorkedExample) {
  const std::string pdu = BuildSubmitPdu("12345678901", W("Привет"));
  EXPECT_EQ(pdu, "0011000B912143658709F10008170C041F04400438043204350442");
  EXPECT_EQ(TpduLength(pdu), 26u);
  ExpectDecodes({pdu}, {{"12345678901", W("Привет")}});
}

TEST(SmsPdu, AddressLengthIsTheRealDigitCount) {
  const std::string ten = BuildSubmitPdu("9123456789", "A");
  EXPECT_EQ(ten, "0011000A911932547698000817020041");
  const std::string eleven = BuildSubmitPdu("79161234567", "A");
  EXPECT_EQ(eleven, "0011000B919761214365F7000817020041");
  const std::string twelve = BuildSubmitPdu("380441234567", "A");
  EXPECT_EQ(twelve, "0011000C91834014325476000817020041");
  const std::string one = BuildSubmitPdu("7", "A");
  EXPECT_EQ(one, "0011000191F7000817020041");
  const std::string twenty = BuildSubmitPdu("12345678901234567890", "A");
  EXPECT_EQ(twenty,
            "00110014912143658709214365870900"
            "0817020041");
  ExpectDecodes({ten, eleven, twelve, one, twenty}, {{"9123456789", "A"},
                                                     {"79161234567", "A"},
                                                     {"380441234567", "A"},
                                                     {"7", "A"},
                                                     {"12345678901234567890", "A"}});
}

TEST(SmsPdu, PartLengthsAndTexts) {
  for (std::size_t n : {1u, 70u, 71u, 140u, 141u}) {
    const auto parts = SplitIntoParts(Russian(n));
    ASSERT_EQ(parts.size(), (n + 69) / 70) << n;
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].size(), i + 1 < parts.size() ? 70u : n - 70 * i);
      joined += parts[i];
    }
    EXPECT_EQ(joined, Russian(n));
  }
  EXPECT_TRUE(SplitIntoParts("").empty());

  const std::string full = BuildSubmitPdu("12345678901", Russian(70));
  EXPECT_EQ(full.size(), 310u);
  EXPECT_EQ(full.substr(28, 2), "8C");
  EXPECT_EQ(TpduLength(full), 154u);

  const std::string lines = W("Ёлка\r\nёж «№ 1» — ЇЂ'");
  const std::string pdu = BuildSubmitPdu("79161234567", lines);
  EXPECT_NE(pdu.find("0401043B043A0430000D000A0451"), std::string::npos);
  ExpectDecodes({full, pdu}, {{"12345678901", Russian(70)}, {"79161234567", lines}});
}

TEST(SmsRecipient, TrimmedAndChecked) {
  EXPECT_EQ(CheckedRecipient("79161234567"), "79161234567");
  EXPECT_EQ(CheckedRecipient(" \t79161234567  "), "79161234567");
  EXPECT_EQ(CheckedRecipient("12345678901234567890"), "12345678901234567890");
  const std::string message = W("Номер получателя должен состоять только из цифр (без \"+\")");
  for (const char* bad : {"", "   ", "+79161234567", "7916 1234567", "7916-123", "abc",
                          "123456789012345678901", "7916123456\xB3", "0x12"}) {
    try {
      CheckedRecipient(bad);
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

TEST(SmsSubmission, SendsEveryPartWithItsCommands) {
  FakePort port;
  ShadowPane command_log;
  FakeField number(" 12345678901 ");
  FakeField text(Russian(141));
  SmsSubmission sms(port, command_log, number, text, kQuick);
  sms.Button1Click();

  const auto parts = SplitIntoParts(Russian(141));
  std::vector<std::string> wire;
  std::vector<std::string> lines;
  std::vector<std::string> pdus;
  for (const auto& part : parts) {
    const std::string pdu = BuildSubmitPdu("12345678901", part);
    const std::string length = "AT+CMGS=" + std::to_string(TpduLength(pdu));
    wire.insert(wire.end(), {"AT+CMGF=0\r", length + "\r", pdu + "\x1A"});
    lines.insert(lines.end(), {"AT+CMGF=0", length, pdu});
    pdus.push_back(pdu);
  }
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.writes, wire);
  std::string log;
  for (const auto& line : lines) log += (log.empty() ? "" : "\r\n") + line;
  EXPECT_EQ(command_log.Text(), log);
  EXPECT_EQ(port.writes[1], "AT+CMGS=154\r");
  EXPECT_EQ(port.writes[7], "AT+CMGS=16\r");
  ExpectDecodes(pdus,
                {{"12345678901", parts[0]}, {"12345678901", parts[1]}, {"12345678901", parts[2]}});
}

TEST(SmsSubmission, EmptyTextOrBadNumberSendsNothing) {
  FakePort port;
  ShadowPane command_log;
  FakeField number("+79161234567");
  FakeField text;
  SmsSubmission sms(port, command_log, number, text, kQuick);
  sms.Button1Click();  // empty text: the port is opened, nothing is sent
  EXPECT_EQ(port.opens, 1);
  EXPECT_TRUE(port.writes.empty());

  text.text = "Hi";
  EXPECT_THROW(sms.Button1Click(), platform::Exception);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(command_log.Text(), "");

  port.fail_open = true;
  number.text = "79161234567";
  EXPECT_THROW(sms.Button1Click(), std::runtime_error);
  EXPECT_TRUE(port.writes.empty());
}

TEST(SmsSubmission, WriteFailureEndsTheSend) {
  FakePort port;
  ShadowPane command_log;
  FakeField number("79161234567");
  FakeField text(Russian(150));
  SmsSubmission sms(port, command_log, number, text, kQuick);
  port.writes_left = 4;  // the whole first part and the second part's mode command
  EXPECT_THROW(sms.Button1Click(), std::runtime_error);
  ASSERT_EQ(port.writes.size(), 4u);
  EXPECT_EQ(port.writes[3], "AT+CMGF=0\r");
}

TEST(SmsSubmission, PauseHandlesMessagesAndNestedActions) {
  int handled = 0;
  platform::SetProcessMessagesHook([&] { ++handled; });
  PumpPause(0);
  EXPECT_EQ(handled, 2);  // one sleep step, then the remainder phase once
  handled = 0;
  PumpPause(20);
  EXPECT_EQ(handled, 4);  // three sleep steps, no remainder
  handled = 0;
  PumpPause(23);
  EXPECT_GE(handled, 4);
  platform::SetProcessMessagesHook({});

  // The pause lasts at least its length: 20000 means some twenty seconds
  // between parts, not a tenth of that.
  const auto started = std::chrono::steady_clock::now();
  PumpPause(200);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));

  // A second send started from inside the first one's pause runs to its end
  // there; the first send goes on afterwards with its own text and number.
  FakePort port;
  ShadowPane command_log;
  FakeField number("79161234567");
  FakeField text(Russian(71));
  SmsSubmission sms(port, command_log, number, text, kQuick);
  bool nested = false;
  platform::SetProcessMessagesHook([&] {
    if (nested || port.writes.size() != 3) return;
    nested = true;
    number.text = "380441234567";
    text.text = "Z";
    sms.Button1Click();
  });
  sms.Button1Click();
  platform::SetProcessMessagesHook({});
  ASSERT_EQ(port.writes.size(), 9u);
  EXPECT_EQ(port.writes[5], BuildSubmitPdu("380441234567", "Z") + "\x1A");
  EXPECT_EQ(port.writes[8], BuildSubmitPdu("79161234567", Russian(71).substr(70)) + "\x1A");
}

TEST(SmsSubmission, WireBytesOnAPseudoTerminal) {
  test::PtyPort port;
  ShadowPane command_log;
  FakeField number("12345678901");
  FakeField text(W("Привет"));
  SmsSubmission sms(port, command_log, number, text, MessagingDurations{5, 10});
  sms.Button1Click();
  EXPECT_EQ(port.ModemReceived(),
            "AT+CMGF=0\rAT+CMGS=26\r0011000B912143658709F10008170C041F04400438043204350442\x1A");
  EXPECT_EQ(command_log.Text(),
            "AT+CMGF=0\r\nAT+CMGS=26\r\n0011000B912143658709F10008170C041F04400438043204350442");
}

}  // namespace
}  // namespace vestrel
