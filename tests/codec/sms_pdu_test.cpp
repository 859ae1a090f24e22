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

// PDUs as python-gammu encodes received messages (SMS-DELIVER), with the time
// zone octet set by hand: 21 is +03:00, 0A is -05:00.
TEST(DeliverPdu, DecodesSendersCodingsHeadersAndTimes) {
  struct Case {
    std::string pdu;
    std::string sender;
    SenderType type;
    DeliverCoding coding;
    std::string text;
    std::string sent_at;
    std::optional<Concatenation> concatenation;
  };
  const std::vector<Case> cases = {
      {"07919761989901F0000B919761214365F70000622101413050210BC8329BFD06DDDF723619",
       "+79161234567",
       SenderType::kInternational,
       DeliverCoding::kGsm7,
       "Hello world",
       "2026-12-10T14:03:05+03:00",
       {}},
      {"07919761989901F0000B819861214365F700086221014130500A12041F044004380432043504420020D83DDC4B",
       "89161234567",
       SenderType::kOther,
       DeliverCoding::kUcs2,
       "Привет 👋",
       "2026-12-10T14:03:05-05:00",
       {}},
      {"07919761989901F0000ED04DEAB495749BDF00006221014130502"
       "11AC2303BEC9EEB4031180C24AF8B5DA00DEABDDEA4409B32",
       "MTS-Info",
       SenderType::kAlphanumeric,
       DeliverCoding::kGsm7,
       "Balans: 100 rub. {ok} €",
       "2026-12-10T14:03:05+03:00",
       {}},
      {"07919761989901F0400B919761214365F700006221014130502123050003420201A061391DF47697416F33280C6"
       "2"
       "BFDD6750BB3C9F87CF651608",
       "+79161234567", SenderType::kInternational, DeliverCoding::kGsm7,
       "Part one of a long message, ", "2026-12-10T14:03:05+03:00", Concatenation{0x42, 2, 1}},
      {"07919761989901F0400B919730112132F300086221014130502119060804123402020441043E043E04310449043"
       "5"
       "043D04380435",
       "+79031112233", SenderType::kInternational, DeliverCoding::kUcs2, "сообщение",
       "2026-12-10T14:03:05+03:00", Concatenation{0x1234, 2, 2}},
      {"07919761989901F0000B919761214365F7000462210141305021030102FF",
       "+79161234567",
       SenderType::kInternational,
       DeliverCoding::k8Bit,
       "\x01\x02\xC3\xBF",
       "2026-12-10T14:03:05+03:00",
       {}},
      // a national number (type 0xA1) without a service-centre address
      {"00040BA19861214365F700086221014130502104041F0440",
       "89161234567",
       SenderType::kNational,
       DeliverCoding::kUcs2,
       "Пр",
       "2026-12-10T14:03:05+03:00",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pdu);
    const DeliverResult r = DecodeDeliverPdu(c.pdu);
    ASSERT_TRUE(r.part) << r.error;
    EXPECT_EQ(r.part->sender, c.sender);
    EXPECT_EQ(r.part->sender_type, c.type);
    EXPECT_EQ(r.part->coding, c.coding);
    EXPECT_EQ(r.part->text, c.text);
    EXPECT_EQ(r.part->sent_at, c.sent_at);
    ASSERT_EQ(r.part->concatenation.has_value(), c.concatenation.has_value());
    if (c.concatenation) {
      EXPECT_EQ(r.part->concatenation->reference, c.concatenation->reference);
      EXPECT_EQ(r.part->concatenation->total, c.concatenation->total);
      EXPECT_EQ(r.part->concatenation->sequence, c.concatenation->sequence);
    }
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
  const auto joined = JoinParts(parts);
  struct Expected {
    std::string sender, text, sent_at;
    bool complete;
    std::size_t present, first;
  };
  const std::vector<Expected> expected = {
      {"+7916", "Hello!", "t1", true, 2, 0},
      {"+7903", "alone", "t", true, 1, 1},
      {"+7999", "first of three", "t", false, 1, 4},
      {"+7916", "x", "t", false, 1, 5},
  };
  ASSERT_EQ(joined.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(joined[i].sender, expected[i].sender) << i;
    EXPECT_EQ(joined[i].text, expected[i].text) << i;
    EXPECT_EQ(joined[i].sent_at, expected[i].sent_at) << i;
    EXPECT_EQ(joined[i].complete, expected[i].complete) << i;
    EXPECT_EQ(joined[i].parts_present, expected[i].present) << i;
    EXPECT_EQ(joined[i].first_part, expected[i].first) << i;
  }
}

}  // namespace
}  // namespace vestrel
