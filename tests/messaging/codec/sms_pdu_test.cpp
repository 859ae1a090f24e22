// The SMS codecs: where texts are cut and in which coding, the PDUs of a
// concatenated message as an independent decoder (python-gammu) reads and
// links them, septet packing, and the decoding of received PDUs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/deliver_pdu.h"
#include "messaging/sms_coding.h"
#include "messaging/sms_parts.h"
#include "platform/utf8.h"
#include "tests/support/gammu.h"

namespace vestrel {
namespace {

std::u32string U32(std::string_view utf8) {
  return platform::Utf8ToCodePoints(utf8).value();
}

std::string Repeat(std::string_view s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST(SmsParts, CheapestCodingAndCuts) {
  struct Case {
    std::string text;
    SmsCoding coding;
    std::vector<std::size_t> sizes;  // characters per part
  };
  const std::vector<Case> cases = {
      {"Hello", SmsCoding::kGsm7, {5}},
      {Repeat("a", 160), SmsCoding::kGsm7, {160}},
      {Repeat("a", 161), SmsCoding::kGsm7, {153, 8}},
      {Repeat("a", 300), SmsCoding::kGsm7, {153, 147}},
      // 80 escapes are 160 septets: one message; one more character is two parts
      {Repeat("€", 80), SmsCoding::kGsm7, {80}},
      {Repeat("€", 80) + "a", SmsCoding::kGsm7, {76, 5}},
      // the escape pair of the euro sign does not fit in 153 after 152: it moves on
      {Repeat("a", 152) + "€" + Repeat("b", 10), SmsCoding::kGsm7, {152, 11}},
      {"Ça va? Ñandú", SmsCoding::kUcs2, {12}},  // ú has no place in the alphabet
      {"Zażółć gęślą jaźń", SmsCoding::kUcs2, {17}},
      {"Привет 👋", SmsCoding::kUcs2, {8}},
      {Repeat("Ж", 70), SmsCoding::kUcs2, {70}},
      {Repeat("Ж", 71), SmsCoding::kUcs2, {67, 4}},
      {Repeat("Ж", 200), SmsCoding::kUcs2, {67, 67, 66}},
      // a surrogate pair that would end a part at 68 units goes to the next one
      {Repeat("Ж", 66) + "👋" + Repeat("Ж", 5), SmsCoding::kUcs2, {66, 6}},
  };
  for (const Case& c : cases) {
    const PartPlan plan = PlanParts(U32(c.text));
    EXPECT_EQ(plan.coding, c.coding) << c.text;
    std::vector<std::size_t> sizes;
    std::u32string joined;
    for (const auto& part : plan.parts) {
      sizes.push_back(part.size());
      joined += part;
    }
    EXPECT_EQ(sizes, c.sizes) << c.text;
    EXPECT_EQ(joined, U32(c.text));
  }
}

TEST(SmsParts, IndependentDecoderReadsAndLinksTheParts) {
  struct Case {
    std::string text;
    std::size_t parts;
    std::string coding;
  };
  const std::string pangram = "Съешь же ещё этих мягких французских булок, да выпей чаю. ";
  std::string russian;  // 200 characters
  for (char32_t c : U32(Repeat(pangram, 4)).substr(0, 200)) platform::AppendUtf8(russian, c);
  const std::vector<Case> cases = {
      {russian, 3, "Unicode_No_Compression"},
      {Repeat("Latin text, ", 25), 2, "Default_No_Compression"},
      {"Привет 👋", 1, "Unicode_No_Compression"},
      {"{[~]} \\ | ^ € and @£$ of the alphabet", 1, "Default_No_Compression"},
      {Repeat("€{", 50), 2, "Default_No_Compression"},
  };
  std::uint8_t reference = 250;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> pdus;
    for (const SubmitPart& p : BuildConcatenatedParts("79161234567", U32(c.text), reference))
      pdus.push_back(p.pdu);
    ASSERT_EQ(pdus.size(), c.parts);
    const auto decoded = test::GammuDecode(pdus);
    for (std::size_t i = 0; i < pdus.size(); ++i) {
      const auto& d = decoded[i];
      ASSERT_FALSE(d.contains("error")) << d.dump();
      EXPECT_EQ(d["number"], "+79161234567");
      EXPECT_EQ(d["coding"], c.coding);
      EXPECT_EQ(d["validity"], "120M");
      EXPECT_EQ(d["udh"], c.parts == 1 ? "NoUDH" : "ConcatenatedMessages");
    }
    const auto linked = test::GammuLink(pdus);
    ASSERT_EQ(linked.size(), 1u);
    EXPECT_EQ(linked[0]["parts"], c.parts);
    EXPECT_EQ(linked[0]["text"], c.text);
    ++reference;
  }
}

TEST(SmsCoding, SeptetPackingWithFillBits) {
  // the classic example of TS 23.040: "hellohello" in nine octets
  const auto septets = TextToGsm7(U"hellohello").value();
  EXPECT_EQ(OctetsToHex(PackSeptets(septets)), "E8329BFD4697D9EC37");
  for (int fill = 0; fill < 7; ++fill) {
    const std::string packed = PackSeptets(septets, fill);
    EXPECT_EQ(packed.size(), (fill + 70 + 7) / 8u);
    EXPECT_EQ(UnpackSeptets(packed, septets.size(), fill), septets) << fill;
  }
  EXPECT_EQ(Gsm7ToText(TextToGsm7(U"€{}[]~|^\\ @£¥èÆÉ¿ΔΩ").value()), U"€{}[]~|^\\ @£¥èÆÉ¿ΔΩ");
  EXPECT_FALSE(TextToGsm7(U"ú"));
  EXPECT_EQ(OctetsToText(Utf16ToOctets(TextToUtf16(U"a👋Ж"))), U"a👋Ж");
  EXPECT_EQ(OctetsToText(std::string("\xD8\x3D\x00\x41\x00", 5)), U"\uFFFDA\uFFFD");
}

// A decoded part on one line: sender type and sender, coding, time stamp,
// reference/total/sequence when concatenated, text.
std::string Describe(const DeliveredPart& p) {
  static const char* const kTypes[] = {"intl", "national", "alpha", "other"};
  static const char* const kCodings[] = {"7bit", "8bit", "ucs2"};
  std::string s = std::string(kTypes[static_cast<int>(p.sender_type)]) + " " + p.sender + " " +
                  kCodings[static_cast<int>(p.coding)] + " " + p.sent_at;
  if (const auto& c = p.concatenation)
    s += " " + std::to_string(c->reference) + "/" + std::to_string(c->total) + "/" +
         std::to_string(c->sequence);
  return s + " " + p.text;
}

// PDUs as python-gammu encodes received messages (SMS-DELIVER), with the time
// zone octet set by hand: 21 is +03:00, 0A is -05:00.
TEST(DeliverPdu, DecodesSendersCodingsHeadersAndTimes) {
  const std::string smsc = "07919761989901F0";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {smsc + "000B919761214365F70000622101413050210BC8329BFD06DDDF723619",
       "intl +79161234567 7bit 2026-12-10T14:03:05+03:00 Hello world"},
      {smsc + "000B819861214365F700086221014130500A12041F044004380432043504420020D83DDC4B",
       "other 89161234567 ucs2 2026-12-10T14:03:05-05:00 Привет 👋"},
      {smsc + "000ED04DEAB495749BDF000062210141305021"
              "1AC2303BEC9EEB4031180C24AF8B5DA00DEABDDEA4409B32",
       "alpha MTS-Info 7bit 2026-12-10T14:03:05+03:00 Balans: 100 rub. {ok} €"},
      {smsc + "400B919761214365F700006221014130502123050003420201"
              "A061391DF47697416F33280C62BFDD6750BB3C9F87CF651608",
       "intl +79161234567 7bit 2026-12-10T14:03:05+03:00 66/2/1 Part one of a long message, "},
      {smsc + "400B919730112132F30008622101413050211906080412340202"
              "0441043E043E043104490435043D04380435",
       "intl +79031112233 ucs2 2026-12-10T14:03:05+03:00 4660/2/2 сообщение"},
      {smsc + "000B919761214365F7000462210141305021030102FF",
       "intl +79161234567 8bit 2026-12-10T14:03:05+03:00 \x01\x02\xC3\xBF"},
      // a national number (type 0xA1) without a service-centre address
      {"00040BA19861214365F700086221014130502104041F0440",
       "national 89161234567 ucs2 2026-12-10T14:03:05+03:00 Пр"},
  };
  for (const auto& [pdu, expected] : cases) {
    const DeliverResult r = DecodeDeliverPdu(pdu);
    ASSERT_TRUE(r.part) << pdu << ": " << r.error;
    EXPECT_EQ(Describe(*r.part), expected) << pdu;
  }
}

TEST(DeliverPdu, RefusesWhatIsNoDeliver) {
  const std::string good =
      "07919761989901F0000B919761214365F70000622101413050210BC8329BFD06DDDF723619";
  const std::vector<std::string> bad = {
      "",
      "0",
      good.substr(0, good.size() - 2),           // user data cut short
      good.substr(0, 40),                        // time stamp cut short
      "07919761989901F0010B919761214365F70000",  // an SMS-SUBMIT
      "07919761989901F0000B919761214365F70000622101413050210BC8329BFD06DDDF72361G",
      "07919761989901F0000B919761214365F70000A22101413050210BC8329BFD06DDDF723619",  // year A2
      "07919761989901F0000B919761214365F70024622101413050210BC8329BFD06DDDF723619",  // compressed
  };
  for (const std::string& pdu : bad) EXPECT_FALSE(DecodeDeliverPdu(pdu).part) << pdu;
  EXPECT_TRUE(DecodeDeliverPdu(good, 29).part);
  EXPECT_FALSE(DecodeDeliverPdu(good, 30).part);
}

TEST(DeliverPdu, CmgrAnswerHeaderAndPdu) {
  struct Case {
    std::string line;
    std::optional<int> stat;
    std::string alpha;
    int length;
  };
  const std::vector<Case> cases = {
      {"+CMGR: 1,,29", 1, "", 29},
      {"+CMGR: 0,\"Мама\",45\r", 0, "Мама", 45},
      {"+CMGR:3,\"a,b\",12", 3, "a,b", 12},
      {"+CMGR: \"REC READ\",\"+79161234567\",,\"26/12/08,10:15:00+12\"", {}, "", 0},
      {"+CMGR: 4,,29", {}, "", 0},
      {"+CMGR: 1,,0", {}, "", 0},
      {"+CMGR: 1", {}, "", 0},
      {"+CMGL: 1,,29", {}, "", 0},
  };
  for (const Case& c : cases) {
    const auto h = ParseCmgrPduHeader(c.line);
    ASSERT_EQ(h.has_value(), c.stat.has_value()) << c.line;
    if (!h) continue;
    EXPECT_EQ(h->stat, *c.stat);
    EXPECT_EQ(h->alpha, c.alpha);
    EXPECT_EQ(h->length, c.length);
  }
  const std::string pdu =
      "07919761989901F0000B919761214365F70000622101413050210BC8329BFD06DDDF723619";
  EXPECT_EQ(DecodeCmgrPduAnswer("+CMGR: 1,,29\r\n" + pdu + "\r\n\r\nOK\r\n").part->text,
            "Hello world");
  EXPECT_FALSE(DecodeCmgrPduAnswer("+CMGR: 1,,28\r\n" + pdu + "\r\n").part);
  EXPECT_FALSE(DecodeCmgrPduAnswer("+CMGR: 1,,29").part);
}

TEST(DeliverPdu, JoinsPartsOfEachMessage) {
  auto part = [](std::string sender, std::string text, std::optional<Concatenation> c,
                 std::string at = "t") {
    DeliveredPart p;
    p.sender = std::move(sender);
    p.text = std::move(text);
    p.concatenation = c;
    p.sent_at = std::move(at);
    return p;
  };
  const std::vector<DeliveredPart> parts = {
      part("+7916", "lo!", Concatenation{7, 2, 2}, "t2"),
      part("+7903", "alone", {}),
      part("+7916", "Hel", Concatenation{7, 2, 1}, "t1"),
      part("+7916", "Hel", Concatenation{7, 2, 1}),             // the same part again
      part("+7999", "first of three", Concatenation{7, 3, 1}),  // another sender, same reference
      part("+7916", "x", Concatenation{8, 2, 2}),
  };
  // sender, time of the first part, parts present/total, complete, index of its first part, text
  std::vector<std::string> joined;
  for (const JoinedMessage& m : JoinParts(parts))
    joined.push_back(m.sender + " " + m.sent_at + " " + std::to_string(m.parts_present) + "/" +
                     std::to_string(m.parts_total) + (m.complete ? " complete " : " incomplete ") +
                     std::to_string(m.first_part) + " " + m.text);
  EXPECT_EQ(joined, (std::vector<std::string>{
                        "+7916 t1 2/2 complete 0 Hello!",
                        "+7903 t 1/1 complete 1 alone",
                        "+7999 t 1/3 incomplete 4 first of three",
                        "+7916 t 1/2 incomplete 5 x",
                    }));
}

}  // namespace
}  // namespace vestrel
