// The simulator's codings on their own: septet packing, the 7-bit alphabet,
// UTF-8 and UCS-2, time stamps and addresses.
#include <random>

#include <gtest/gtest.h>

#include "tools/modem-sim/pdu.h"
#include "tools/modem-sim/text_codec.h"

namespace vestrel::sim {
namespace {

TEST(SimCodec, SeptetPackingKnownAnswersAndRoundTrips) {
  // "hellohello", 3GPP TS 23.038 6.1.2.1.1
  const auto hello = Utf8ToGsm7("hellohello");
  ASSERT_TRUE(hello);
  EXPECT_EQ(ToHex(PackSeptets(*hello)), "E8329BFD4697D9EC37");
  // Eight septets fill exactly seven octets.
  EXPECT_EQ(PackSeptets(std::vector<std::uint8_t>(8, 0x7F)), std::string(7, '\xFF'));
  for (int fill = 0; fill < 7; ++fill) {
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 159u, 160u}) {
      std::vector<std::uint8_t> septets;
      for (std::size_t i = 0; i < n; ++i)
        septets.push_back(static_cast<std::uint8_t>(i * 37 % 128));
      const std::string packed = PackSeptets(septets, fill);
      EXPECT_EQ(packed.size(), (fill + n * 7 + 7) / 8);
      EXPECT_EQ(UnpackSeptets(packed, n, fill), septets) << "fill " << fill << " n " << n;
    }
  }
  // Asking for more septets than there are octets stops at the end.
  EXPECT_EQ(UnpackSeptets("\x41", 5).size(), 1u);
}

TEST(SimCodec, SevenBitAlphabetAndExtensionTable) {
  const auto s = Utf8ToGsm7("@£$¥èΔ_ÆßÉ¤¡ÄÖÑÜ§¿äöñüà\n\r");
  ASSERT_TRUE(s);
  EXPECT_EQ(*s, (std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0x03, 0x04, 0x10, 0x11, 0x1C, 0x1E,
                                           0x1F, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60,
                                           0x7B, 0x7C, 0x7D, 0x7E, 0x7F, 0x0A, 0x0D}));
  const auto ext = Utf8ToGsm7("^{}\\[~]|€\f");
  ASSERT_TRUE(ext);
  EXPECT_EQ(ext->size(), 20u);
  EXPECT_EQ(Gsm7ToUtf8(*ext), "^{}\\[~]|€\f");
  EXPECT_EQ(Gsm7ToUtf8(*s), "@£$¥èΔ_ÆßÉ¤¡ÄÖÑÜ§¿äöñüà\n\r");
  // Not in the alphabet: Cyrillic, the escape itself, a backtick.
  EXPECT_FALSE(Utf8ToGsm7("Привет"));
  EXPECT_FALSE(Utf8ToGsm7("\x1B"));
  EXPECT_FALSE(Utf8ToGsm7("`"));
  // An unknown extension code reads as its default character; a trailing escape as a space.
  EXPECT_EQ(Gsm7ToUtf8({0x1B, 0x41}), "A");
  EXPECT_EQ(Gsm7ToUtf8({0x41, 0x1B}), "A\u00A0");
}

TEST(SimCodec, Utf8AndUcs2) {
  EXPECT_EQ(ToHex(Utf8ToUcs2Bytes("Ёж ё")), "0401043600200451");
  EXPECT_EQ(ToHex(Utf8ToUcs2Bytes("😀")), "D83DDE00");
  EXPECT_EQ(Ucs2BytesToUtf8(*FromHex("D83DDE000041")), "😀A");
  // A lone surrogate and an odd octet at the end become U+FFFD.
  EXPECT_EQ(Ucs2BytesToUtf8(*FromHex("DC000041")), "\uFFFDA");
  EXPECT_EQ(Ucs2BytesToUtf8(*FromHex("D83D0041")), "\uFFFDA");
  EXPECT_EQ(Ucs2BytesToUtf8(*FromHex("004100")), "A\uFFFD");
  // Malformed UTF-8: a stray continuation, an overlong form, a cut sequence.
  EXPECT_EQ(Utf8ToCodePoints("a\x80z"), U"a\uFFFDz");
  EXPECT_EQ(Utf8ToCodePoints("\xC0\xAF"), U"\uFFFD");
  EXPECT_EQ(Utf8ToCodePoints("\xE2\x82"), U"\uFFFD\uFFFD");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all)), all);
  EXPECT_FALSE(Utf8ToLatin1("ж"));
  EXPECT_FALSE(FromHex("ABC"));
  EXPECT_FALSE(FromHex("0G"));
  EXPECT_EQ(FromHex("00ff"), std::string("\x00\xFF", 2));
}

TEST(SimCodec, TimestampsAndAddresses) {
  EXPECT_EQ(ToHex(*EncodeTimestamp("26/12/08,10:15:00+12")), "62218001510021");
  // A negative zone sets bit 3 of the zone octet (TS 23.040 9.2.3.11).
  EXPECT_EQ(ToHex(*EncodeTimestamp("25/01/31,23:59:58-08")), "52101332958588");
  for (const char* bad : {"26/13/08,10:15:00+12", "26/12/08 10:15:00+12", "26/12/08,24:00:00+00",
                          "26/12/08,10:15:00", "26/12/08,10:15:00+80", ""}) {
    EXPECT_FALSE(EncodeTimestamp(bad)) << bad;
  }
  const auto intl = AddressFromText("+79161234567");
  ASSERT_TRUE(intl);
  EXPECT_EQ(intl->toa, kToaInternational);
  EXPECT_EQ(intl->value, "79161234567");
  EXPECT_EQ(AddressToText(*intl), "+79161234567");
  EXPECT_EQ(AddressFromText("112")->toa, kToaUnknown);
  EXPECT_EQ(AddressFromText("*100#")->toa, kToaUnknown);
  EXPECT_EQ(AddressFromText("Bank")->toa, kToaAlphanumeric);
  EXPECT_FALSE(AddressFromText(""));
  EXPECT_FALSE(AddressFromText("Сбербанк"));
  EXPECT_FALSE(AddressFromText("An overly long sender"));
  EXPECT_FALSE(AddressFromText("123456789012345678901"));  // 21 digits, 21 septets

  // An alphanumeric sender survives a deliver PDU.
  const auto pdu = EncodeDeliver(
      std::nullopt, {*AddressFromText("Bank"), "26/12/08,10:15:00+12", "x", Coding::kGsm7});
  ASSERT_TRUE(pdu);
  EXPECT_EQ(pdu->hex.substr(0, 14), "000407D0C2B07B");
  // Too long for one message.
  EXPECT_FALSE(EncodeDeliver(
      std::nullopt, {*intl, "26/12/08,10:15:00+12", std::string(161, 'a'), Coding::kGsm7}));
  EXPECT_FALSE(EncodeSubmit(std::nullopt, {*intl, "", std::string(71, 'a'), Coding::kUcs2}, 0));
  EXPECT_TRUE(EncodeSubmit(std::nullopt, {*intl, "", std::string(70, 'a'), Coding::kUcs2}, 0));
}

TEST(SimCodec, SubmitDecodingDetails) {
  // Worked example of a sending program: 26 octets, the number with its filler.
  const auto ok = DecodeSubmit("0011000B912143658709F10008170C041F04400438043204350442", 26);
  ASSERT_TRUE(ok.pdu) << ok.error;
  EXPECT_EQ(ok.pdu->destination.value, "12345678901");
  EXPECT_EQ(ok.pdu->text, "Привет");
  EXPECT_EQ(ok.pdu->validity_minutes, 120);
  // Relative validity periods across their four ranges.
  for (auto [vp, minutes] : std::vector<std::pair<const char*, int>>{
           {"00", 5}, {"8F", 720}, {"A7", 1440}, {"A8", 2 * 1440}, {"FF", 63 * 7 * 1440}}) {
    const auto r = DecodeSubmit(std::string("0011000B912143658709F10000") + vp + "0141", 15);
    ASSERT_TRUE(r.pdu) << r.error;
    EXPECT_EQ(r.pdu->validity_minutes, minutes) << vp;
  }
  // 8-bit data is kept as octets; a class-0 7-bit message (group F) decodes as text.
  const auto data = DecodeSubmit("0001000B912143658709F10004030102FF", 16);
  ASSERT_TRUE(data.pdu) << data.error;
  EXPECT_EQ(data.pdu->coding, Coding::k8Bit);
  EXPECT_EQ(ToHex(data.pdu->data), "0102FF");
  const auto flash = DecodeSubmit("0001000B912143658709F100F00141", 14);
  ASSERT_TRUE(flash.pdu) << flash.error;
  EXPECT_EQ(flash.pdu->text, "A");
  // Refused, each for its own reason.
  const auto why = [](const char* hex, int length) { return DecodeSubmit(hex, length).error; };
  EXPECT_NE(why("0001000B912143658709F1000C0141", 14).find("reserved alphabet"), std::string::npos);
  EXPECT_NE(why("0001000B912143658709F100200141", 14).find("compressed"), std::string::npos);
  EXPECT_NE(why("0001000B9121436587F9F100000141", 14).find("fewer digits"), std::string::npos);
  EXPECT_NE(why("0001000091000141", 7).find("address length 0"), std::string::npos);
  EXPECT_NE(why("0041000B912143658709F10000020500", 15).find("header longer"), std::string::npos);
}

TEST(SimCodec, SubmitDecodingSurvivesMangledPdus) {
  // Octets of valid PDUs flipped, cut and lengthened at random: every result
  // is either a refusal with a reason or a PDU of the announced length.
  const std::vector<std::string> seeds = {"0011000B912143658709F10008170C041F04400438043204350442",
                                          "0051000B912143658709F10000A70C050003A70201906536FB0D",
                                          "07919761989901F00100039121F30000010141"};
  std::mt19937 rng(20261208);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string octets = *FromHex(seeds[round % seeds.size()]);
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t pos = rng() % (octets.size() + 1);
      switch (rng() % 3) {
        case 0:
          if (pos < octets.size()) octets[pos] = static_cast<char>(rng());
          break;
        case 1:
          octets.resize(pos);
          break;
        default:
          octets.insert(pos, 1, static_cast<char>(rng()));
      }
    }
    const int length = octets.empty() ? 0
                                      : static_cast<int>(octets.size()) - 1 -
                                            static_cast<unsigned char>(octets[0]);
    const auto r = DecodeSubmit(ToHex(octets), length);
    if (r.pdu) {
      ++accepted;
      EXPECT_LE(r.pdu->udl, 160);
      EXPECT_LE(Utf8ToCodePoints(r.pdu->text).size(), 160u);
    } else {
      EXPECT_FALSE(r.error.empty());
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace vestrel::sim
