// Messages sent through the simulator: its decoding of SMS-SUBMIT PDUs
// checked against python-gammu, refusal of malformed PDUs, text mode, and the
// PDU-mode reading of stored messages.
#include <gtest/gtest.h>

#include "tests/support/gammu.h"
#include "tests/support/modem_sim.h"
#include "tests/support/pty_client.h"

namespace vestrel::test {
namespace {

// The PDUs here are put together field by field, as a sending program does,
// independently of the simulator's own encoder.
std::string Hex2(unsigned v) {
  static const char* d = "0123456789ABCDEF";
  return {d[(v >> 4) & 0xF], d[v & 0xF]};
}

std::string Swapped(std::string digits) {
  if (digits.size() % 2) digits += 'F';
  for (std::size_t i = 0; i < digits.size(); i += 2) std::swap(digits[i], digits[i + 1]);
  return digits;
}

std::string Ucs2Hex(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += Hex2(c >> 8) + Hex2(c & 0xFF);
  return out;
}

// Septets of a text made only of characters that the 7-bit alphabet keeps at
// their ASCII places (letters, digits, space, ,.!?).
std::string PackedHex(const std::string& ascii, int fill_bits = 0) {
  std::string out;
  unsigned acc = 0;
  int bits = fill_bits;
  for (char c : ascii) {
    acc |= static_cast<unsigned>(c & 0x7F) << bits;
    bits += 7;
    for (; bits >= 8; bits -= 8, acc >>= 8) out += Hex2(acc & 0xFF);
  }
  if (bits > 0) out += Hex2(acc & 0xFF);
  return out;
}

struct Pdu {
  std::string hex;
  int length;  // TPDU octets
};

Pdu Submit(const std::string& smsc, const std::string& first_and_mr, const std::string& number,
           const std::string& toa, const std::string& dcs, const std::string& vp, int udl,
           const std::string& ud) {
  const std::string tpdu = first_and_mr + Hex2(static_cast<unsigned>(number.size())) + toa +
                           Swapped(number) + "00" + dcs + vp + Hex2(udl) + ud;
  return {smsc + tpdu, static_cast<int>(tpdu.size() / 2)};
}

Pdu Ucs2(const std::string& number, const std::u16string& text) {
  return Submit("00", "1100", number, "91", "08", "17", static_cast<int>(text.size() * 2),
                Ucs2Hex(text));
}

Pdu Gsm7(const std::string& number, const std::string& text) {
  return Submit("00", "1100", number, "91", "00", "17", static_cast<int>(text.size()),
                PackedHex(text));
}

std::u16string Repeat(const std::u16string& s, std::size_t n) {
  std::u16string out;
  while (out.size() < n) out += s;
  return out.substr(0, n);
}

class SimSubmit : public ModemSimTest {
 protected:
  // Sends one PDU the way the program does and returns the modem's answer to it.
  std::string Send(PtyClient& port, const Pdu& pdu) {
    EXPECT_EQ(port.Command("AT+CMGS=" + std::to_string(pdu.length)), "\r\n> ");
    port.Write(pdu.hex + "\x1A");
    return port.ReadAnswer();
  }
};

TEST_F(SimSubmit, DecodesLikePythonGammu) {
  const std::u16string privet = u"Привет, как дела? Ёж и ёлка.";
  std::string full7bit = "A full seven bit message of one hundred and sixty characters, ";
  while (full7bit.size() < 160) full7bit += "padded. ";
  full7bit.resize(160);
  const std::vector<Pdu> pdus = {
      // the program's own example: 11 digits, six Cyrillic letters
      {"0011000B912143658709F10008170C041F04400438043204350442", 26},
      Ucs2("79161234567", privet),
      Ucs2("380501234567", u"Тест чётного номера"),
      Ucs2("79161234567", Repeat(u"Длинное сообщение ровно на семьдесят знаков. ", 70)),
      Ucs2("12345", u"ab"),
      Gsm7("79161234567", "Hello world"),
      Gsm7("4477009001", "abcdefgh"),
      Gsm7("79161234567", std::string(70, 'x')),
      Gsm7("79161234567", full7bit),
      // a service-centre address in front, and no validity period
      Submit("07919761989901F0", "0100", "79161234567", "91", "08", "", 4, "0048004B"),
      // unknown type of number
      Submit("00", "1100", "0612345678", "81", "00", "17", 2, PackedHex("ok")),
      // a concatenation header (part 1 of 2) before 7-bit text, with fill bits
      Submit("00", "5100", "79161234567", "91", "00", "A7", 7 + 5,
             "050003A70201" + PackedHex("Hello", 1)),
  };
  ASSERT_EQ(pdus[8].length, 14 + 140);

  StartSim("empty");
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=0"), "ATE0;+CMGF=0\r\r\nOK\r\n");
  for (std::size_t i = 0; i < pdus.size(); ++i) {
    EXPECT_EQ(Send(port, pdus[i]), "\r\n+CMGS: " + std::to_string(i + 1) + "\r\n\r\nOK\r\n")
        << pdus[i].hex;
  }
  ASSERT_TRUE(sim().WaitForCount("sms", pdus.size()));
  const auto records = sim().Sms();
  std::vector<std::string> hexes;
  for (const auto& p : pdus) hexes.push_back(p.hex);
  const auto gammu = GammuDecode(hexes);

  for (std::size_t i = 0; i < pdus.size(); ++i) {
    SCOPED_TRACE(pdus[i].hex);
    const auto& r = records[i];
    const auto& g = gammu[i];
    ASSERT_FALSE(g.contains("error")) << g.dump();
    EXPECT_EQ(g.value("type", ""), "Submit");
    EXPECT_EQ(r.value("pdu", ""), pdus[i].hex);
    EXPECT_EQ(r.value("reference", -1), static_cast<int>(i + 1));
    const std::string number = r.value("number", "");
    EXPECT_EQ(r.value("toa", 0) == 0x91 ? "+" + number : number, g.value("number", ""));
    EXPECT_EQ(r.value("text", ""), g.value("text", ""));
    const std::string coding = r.value("coding", "");
    EXPECT_EQ(coding == "ucs2" ? "Unicode_No_Compression" : "Default_No_Compression",
              g.value("coding", ""));
    // gammu counts characters; UDL counts octets (UCS-2) or septets with the header.
    const int udl = r.value("udl", -1);
    const int chars = g.value("length", -2);
    if (coding == "ucs2") {
      EXPECT_EQ(udl, 2 * chars);
    } else {
      EXPECT_EQ(udl, chars + (r.contains("udh") ? 7 : 0));
    }
    if (r.contains("validity_minutes")) {
      EXPECT_EQ(std::to_string(r.value("validity_minutes", 0)) + "M", g.value("validity", ""));
    }
  }
  EXPECT_EQ(records[0].value("text", ""), "Привет");
  EXPECT_EQ(records[0].value("number", ""), "12345678901");
  EXPECT_EQ(records[0].value("validity_minutes", 0), 120);
  EXPECT_EQ(records[3].value("udl", 0), 140);
  EXPECT_EQ(records[8].value("udl", 0), 160);
  EXPECT_EQ(records[9].value("smsc", ""), "+79168999100");
  EXPECT_EQ(records[9].value("validity", ""), "none");
  EXPECT_EQ(records[10].value("toa", 0), 0x81);
  EXPECT_EQ(records[11].value("udh", ""), "0003A70201");
  EXPECT_EQ(records[11].value("text", ""), "Hello");
}

TEST_F(SimSubmit, RefusesMalformedPdusWith304) {
  const Pdu good = Ucs2("79161234567", u"Привет");
  const std::string tpdu_of_good = good.hex.substr(2);
  struct Case {
    const char* why;
    Pdu pdu;
  };
  const std::vector<Case> cases = {
      {"announced length one short", {good.hex, good.length - 1}},
      {"announced length one long", {good.hex, good.length + 1}},
      {"odd count of digits", {good.hex + "0", good.length}},
      {"not hexadecimal", {"0011000B912143658709F1000817XX041F04400438043204350442", 26}},
      // the address length says 11 digits, 12 follow
      {"12 digits under 0B", {"0011000B91" + Swapped("791612345678") + "00081704041F0440", 18}},
      // the address length says 11 digits, 10 follow
      {"10 digits under 0B", {"0011000B91" + Swapped("7916123456") + "00081704041F0440", 17}},
      {"11 digits under 0C", {"0011000C91" + Swapped("79161234567") + "00081704041F0440", 18}},
      {"user data shorter than its length",
       Submit("00", "1100", "79161234567", "91", "08", "17", 6, "041F0440")},
      {"user data longer than its length",
       Submit("00", "1100", "79161234567", "91", "08", "17", 2, "041F0440")},
      {"UCS-2 of an odd octet count",
       Submit("00", "1100", "79161234567", "91", "08", "17", 3, "041F04")},
      {"an SMS-DELIVER", {"00" + std::string("10") + tpdu_of_good.substr(2), good.length}},
      {"7-bit length above 160", Submit("00", "1100", "79161234567", "91", "00", "17", 161,
                                        PackedHex(std::string(161, 'a')))},
      {"cut after the address", {"0011000B91" + Swapped("79161234567"), 10}},
  };

  StartSim("empty");
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0"), "ATE0\r\r\nOK\r\n");
  for (const auto& c : cases) {
    EXPECT_EQ(Send(port, c.pdu), "\r\n+CMS ERROR: 304\r\n") << c.why;
  }
  // Lengths AT+CMGS itself refuses.
  EXPECT_EQ(port.Command("AT+CMGS=0"), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(port.Command("AT+CMGS=165"), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(port.Command("AT+CMGS=\"26\""), "\r\n+CMS ERROR: 304\r\n");
  // ESC cancels what was typed.
  EXPECT_EQ(port.Command("AT+CMGS=26"), "\r\n> ");
  port.Write(good.hex.substr(0, 20) + "\x1B");
  EXPECT_EQ(port.ReadAnswer(), "\r\nOK\r\n");
  // An empty PDU, and then a good one: the reference was not used up.
  EXPECT_EQ(Send(port, {"", 26}), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(Send(port, good), "\r\n+CMGS: 1\r\n\r\nOK\r\n");

  ASSERT_EQ(sim().Stop(), 0);
  EXPECT_EQ(sim().Sms().size(), 1u);
  EXPECT_EQ(sim().OfType("sms_rejected").size(), cases.size() + 1);
  EXPECT_EQ(sim().OfType("sms_cancelled").size(), 1u);
  for (const auto& r : sim().OfType("sms_rejected")) EXPECT_NE(r.value("reason", ""), "");
}

// Parts of concatenated messages, in any order and interleaved, are joined
// once the last one missing arrives; a message with a part missing is not.
TEST_F(SimSubmit, JoinsConcatenatedParts) {
  auto part7 = [](const std::string& number, int ref, int total, int seq, const std::string& text) {
    const std::string udh = "050003" + Hex2(ref) + Hex2(total) + Hex2(seq);
    return Submit("00", "5100", number, "91", "00", "A7", 7 + static_cast<int>(text.size()),
                  udh + PackedHex(text, 1));
  };
  auto part16 = [](int ref, int total, int seq, const std::u16string& text) {
    const std::string udh = "060804" + Hex2(ref >> 8) + Hex2(ref & 0xFF) + Hex2(total) + Hex2(seq);
    return Submit("00", "5100", "79031112233", "91", "08", "A7",
                  7 + static_cast<int>(text.size() * 2), udh + Ucs2Hex(text));
  };
  const std::vector<Pdu> pdus = {
      part7("79161234567", 9, 3, 2, "two "),  part16(0x1234, 2, 2, u"мир"),
      part7("79161234567", 9, 3, 3, "three"), part7("79161234567", 10, 2, 1, "never completed"),
      part16(0x1234, 2, 1, u"Привет, "),      part7("79161234567", 9, 3, 1, "one "),
  };
  StartSim("empty");
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=0"), "ATE0;+CMGF=0\r\r\nOK\r\n");
  for (const Pdu& pdu : pdus) EXPECT_NE(Send(port, pdu).find("+CMGS:"), std::string::npos);
  ASSERT_TRUE(sim().WaitForCount("sms", pdus.size()));
  const auto joined = sim().OfType("sms_joined");
  ASSERT_EQ(joined.size(), 2u);
  EXPECT_EQ(joined[0]["text"], "Привет, мир");
  EXPECT_EQ(joined[0]["reference"], 0x1234);
  EXPECT_EQ(joined[1]["text"], "one two three");
  EXPECT_EQ(joined[1]["number"], "79161234567");
  EXPECT_EQ(joined[1]["parts"], 3);
  EXPECT_EQ(sim().Sms()[0]["concat"],
            (nlohmann::json{{"reference", 9}, {"total", 3}, {"sequence", 2}}));
}

TEST_F(SimSubmit, EchoesThePduAndCountsReferencesUp) {
  StartSimJson({{"first_reference", 254}});
  PtyClient port(sim().link());
  const Pdu pdu = Gsm7("79161234567", "Hi");
  for (int expected : {254, 255, 0}) {
    EXPECT_EQ(port.Command("AT+CMGS=" + std::to_string(pdu.length)),
              "AT+CMGS=" + std::to_string(pdu.length) + "\r\r\n> ");
    port.Write(pdu.hex + "\x1A");
    EXPECT_EQ(port.ReadAnswer(),
              pdu.hex + "\r\n+CMGS: " + std::to_string(expected) + "\r\n\r\nOK\r\n");
  }
}

TEST_F(SimSubmit, SendsInTextMode) {
  StartSim("empty");
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=1"), "ATE0;+CMGF=1\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGS=\"+79161234567\""), "\r\n> ");
  port.Write("Hello\r\nthere\x1A");
  // A CR inside the text brings another prompt.
  EXPECT_EQ(port.ReadUntil("OK\r\n"), "\r\n> \r\n+CMGS: 1\r\n\r\nOK\r\n");
  // UCS-2 through the character set and the coding of AT+CSMP.
  EXPECT_EQ(port.Command("AT+CSMP=17,167,0,8;+CSCS=\"UCS2\""), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CSMP?"), "\r\n+CSMP: 17,167,0,8\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGS=\"002B0037003900310036\""), "\r\n> ");
  port.Write(Ucs2Hex(u"Привет") + "\x1A");
  EXPECT_EQ(port.ReadAnswer(), "\r\n+CMGS: 2\r\n\r\nOK\r\n");
  // Too long for one message, and a destination that is no number.
  EXPECT_EQ(port.Command("AT+CMGS=\"002B0037\""), "\r\n> ");
  port.Write(Ucs2Hex(std::u16string(71, u'ж')) + "\x1A");
  EXPECT_EQ(port.ReadAnswer(), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_EQ(port.Command("AT+CMGS=\"0041\""), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_EQ(port.Command("AT+CMGS=79161234567"), "\r\n+CMS ERROR: 305\r\n");

  ASSERT_TRUE(sim().WaitForCount("sms", 2));
  const auto sms = sim().Sms();
  EXPECT_EQ(sms[0].value("text", ""), "Hello\nthere");
  EXPECT_EQ(sms[0].value("coding", ""), "gsm7");
  EXPECT_EQ(sms[1].value("text", ""), "Привет");
  EXPECT_EQ(sms[1].value("coding", ""), "ucs2");
  EXPECT_EQ(sms[1].value("number", ""), "7916");
  // The PDU the simulator records for a text-mode message says the same to gammu.
  const auto g = GammuDecode({sms[0].value("pdu", ""), sms[1].value("pdu", "")});
  EXPECT_EQ(g[0].value("text", ""), "Hello\nthere");
  EXPECT_EQ(g[0].value("number", ""), "+79161234567");
  EXPECT_EQ(g[0].value("validity", ""), "1440M");  // TP-VP 167: 24 hours
  EXPECT_EQ(g[1].value("text", ""), "Привет");
}

TEST_F(SimSubmit, PduModeReadingGivesPdusGammuAccepts) {
  StartSimJson({{"smsc", "+79168999100"},
                {"storages",
                 {{{"name", "ME"},
                   {"capacity", 10},
                   {"messages",
                    {{{"index", 1},
                      {"number", "+79161234567"},
                      {"time", "26/12/08,10:15:00+12"},
                      {"text", "Привет! Ёлка"},
                      {"coding", "ucs2"}},
                     {{"index", 2},
                      {"status", "REC READ"},
                      {"number", "4477009001"},
                      {"time", "25/01/31,23:59:58-08"},
                      {"text", "Plain [7-bit] text costs 1 EUR or 1€"},
                      {"coding", "gsm7"}},
                     {{"index", 3},
                      {"status", "STO UNSENT"},
                      {"number", "+79031112233"},
                      {"text", "Черновик"}},
                     {{"index", 4},
                      {"number", "Bank"},
                      {"time", "26/12/08,10:15:00+12"},
                      {"text", "Code 1234"}}}}}}}});
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=0"), "ATE0;+CMGF=0\r\r\nOK\r\n");
  std::vector<std::string> pdus;
  std::vector<std::string> headers;
  for (int i = 1; i <= 4; ++i) {
    const std::string answer = port.Command("AT+CMGR=" + std::to_string(i));
    // \r\n+CMGR: stat,,length\r\nPDU\r\n\r\nOK\r\n
    const auto header_end = answer.find("\r\n", 2);
    const auto pdu_end = answer.find("\r\n", header_end + 2);
    ASSERT_NE(pdu_end, std::string::npos) << answer;
    headers.push_back(answer.substr(2, header_end - 2));
    pdus.push_back(answer.substr(header_end + 2, pdu_end - header_end - 2));
    EXPECT_EQ(answer.substr(pdu_end), "\r\n\r\nOK\r\n");
  }
  const auto length = [&](int i) { return std::to_string(pdus[i].size() / 2 - 8); };
  EXPECT_EQ(headers[0], "+CMGR: 0,," + length(0));
  EXPECT_EQ(headers[1], "+CMGR: 1,," + length(1));
  EXPECT_EQ(headers[2], "+CMGR: 2,," + length(2));
  EXPECT_EQ(pdus[0].substr(0, 16), "07919761989901F0");

  const auto g = GammuDecode(pdus);
  for (const auto& d : g) ASSERT_FALSE(d.contains("error")) << d.dump();
  EXPECT_EQ(g[0].value("type", ""), "Deliver");
  EXPECT_EQ(g[0].value("number", ""), "+79161234567");
  EXPECT_EQ(g[0].value("text", ""), "Привет! Ёлка");
  EXPECT_EQ(g[0].value("time", ""), "26/12/08,10:15:00");
  EXPECT_EQ(g[1].value("number", ""), "4477009001");
  // gammu counts each escape septet as a character and pads its text with as
  // many stray characters at the end; only the front is compared.
  const std::string plain = "Plain [7-bit] text costs 1 EUR or 1€";
  EXPECT_EQ(g[1].value("text", "").substr(0, plain.size()), plain);
  EXPECT_EQ(g[1].value("coding", ""), "Default_No_Compression");
  EXPECT_EQ(g[1].value("time", ""), "25/01/31,23:59:58");
  EXPECT_EQ(g[2].value("type", ""), "Submit");
  EXPECT_EQ(g[2].value("number", ""), "+79031112233");
  EXPECT_EQ(g[2].value("text", ""), "Черновик");
  EXPECT_EQ(g[3].value("number", ""), "Bank");
  EXPECT_EQ(g[3].value("text", ""), "Code 1234");

  // PDU-mode listing of everything: the same PDUs with their indexes.
  const std::string list = port.Command("AT+CMGL=4");
  for (int i = 0; i < 4; ++i) EXPECT_NE(list.find(pdus[i]), std::string::npos) << i;
  EXPECT_EQ(list.find("+CMGL: 1,1,,"), 2u);  // read by now
  EXPECT_NE(list.find("+CMGL: 3,2,,"), std::string::npos);
}

}  // namespace
}  // namespace vestrel::test

namespace vestrel::test {
namespace {

// The parts of concatenated messages, 7-bit (fill bits after the header) and
// UCS-2, as the simulator stores them: python-gammu links each pair.
TEST_F(SimSubmit, StoredPartsLinkInGammu) {
  const struct {
    std::string text;
    std::string coding;
    int reference;
    int sequence;
  } parts[] = {
      {"Seven bit [first] half, ", "gsm7", 7, 1},
      {"Привет, ", "ucs2", 200, 1},
      {"and the second.", "gsm7", 7, 2},
      {"мир!", "ucs2", 200, 2},
  };
  nlohmann::json messages = nlohmann::json::array();
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    messages.push_back(
        {{"index", i + 1},
         {"number", "+79161234567"},
         {"time", "26/12/08,10:15:00+12"},
         {"text", parts[i].text},
         {"coding", parts[i].coding},
         {"part",
          {{"reference", parts[i].reference}, {"total", 2}, {"sequence", parts[i].sequence}}}});
  }
  StartSimJson({{"storages", {{{"name", "ME"}, {"capacity", 10}, {"messages", messages}}}}});
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=0"), "ATE0;+CMGF=0\r\r\nOK\r\n");
  std::vector<std::string> pdus;
  for (std::size_t i = 1; i <= std::size(parts); ++i) {
    const std::string answer = port.Command("AT+CMGR=" + std::to_string(i));
    const auto header_end = answer.find("\r\n", 2);
    const auto pdu_end = answer.find("\r\n", header_end + 2);
    ASSERT_NE(pdu_end, std::string::npos) << answer;
    pdus.push_back(answer.substr(header_end + 2, pdu_end - header_end - 2));
  }
  for (const auto& d : GammuDecode(pdus)) {
    ASSERT_FALSE(d.contains("error")) << d.dump();
    EXPECT_EQ(d.value("udh", ""), "ConcatenatedMessages") << d.dump();
  }
  const auto linked = GammuLink(pdus);
  ASSERT_EQ(linked.size(), 2u);
  EXPECT_EQ(linked[0].value("parts", 0), 2);
  EXPECT_EQ(linked[0].value("text", ""), "Seven bit [first] half, and the second.");
  EXPECT_EQ(linked[1].value("text", ""), "Привет, мир!");
}

}  // namespace
}  // namespace vestrel::test
