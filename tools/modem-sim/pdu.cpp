#include "tools/modem-sim/pdu.h"

#include <cctype>
#include <cstdio>

#include "tools/modem-sim/text_codec.h"

namespace vestrel::sim {
namespace {

// TP-DCS alphabets of the general data coding group (TS 23.038 4).
constexpr std::uint8_t kDcsGsm7 = 0x00;
constexpr std::uint8_t kDcsUcs2 = 0x08;

constexpr int kMaxAddressDigits = 20;
constexpr int kMaxUserDataOctets = 140;
constexpr int kMaxSeptets = 160;

int BcdValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  switch (c) {
    case '*':
      return 0xA;
    case '#':
      return 0xB;
    case 'a':
    case 'A':
      return 0xC;
    case 'b':
    case 'B':
      return 0xD;
    case 'c':
    case 'C':
      return 0xE;
  }
  return -1;
}

char BcdChar(int nibble) {
  return "0123456789*#abc?"[nibble & 0x0F];
}

bool IsAlphanumeric(std::uint8_t toa) {
  return (toa & 0x70) == 0x50;
}

// Address value octets after the length and type octets.
std::string EncodeAddressValue(const Address& address, int* semi_octets) {
  if (IsAlphanumeric(address.toa)) {
    const auto septets = Utf8ToGsm7(address.value).value_or(std::vector<std::uint8_t>{});
    *semi_octets = static_cast<int>((septets.size() * 7 + 3) / 4);
    return PackSeptets(septets);
  }
  std::string out;
  const std::string& d = address.value;
  *semi_octets = static_cast<int>(d.size());
  for (std::size_t i = 0; i < d.size(); i += 2) {
    const int lo = BcdValue(d[i]);
    const int hi = i + 1 < d.size() ? BcdValue(d[i + 1]) : 0xF;
    out += static_cast<char>((hi << 4) | lo);
  }
  return out;
}

std::string EncodeSmsc(const std::optional<Address>& smsc) {
  if (!smsc || smsc->value.empty()) return std::string(1, '\0');
  int semi = 0;
  const std::string value = EncodeAddressValue(*smsc, &semi);
  std::string out;
  out += static_cast<char>(value.size() + 1);
  out += static_cast<char>(smsc->toa);
  return out + value;
}

std::string EncodeTpAddress(const Address& address) {
  int semi = 0;
  const std::string value = EncodeAddressValue(address, &semi);
  std::string out;
  out += static_cast<char>(semi);
  out += static_cast<char>(address.toa);
  return out + value;
}

struct UserData {
  std::uint8_t dcs = 0;
  int udl = 0;
  std::string octets;
};

// header: the user data header with its length octet, or empty.
std::optional<UserData> EncodeUserData(const std::string& text, Coding coding,
                                       const std::string& header = {}) {
  UserData ud;
  if (coding == Coding::kUcs2) {
    ud.dcs = kDcsUcs2;
    ud.octets = header + Utf8ToUcs2Bytes(text);
    ud.udl = static_cast<int>(ud.octets.size());
    if (ud.udl > kMaxUserDataOctets) return std::nullopt;
    return ud;
  }
  if (coding != Coding::kGsm7) return std::nullopt;
  const auto septets = Utf8ToGsm7(text);
  // The text's septets start at a septet boundary after the header.
  const int header_septets = static_cast<int>((header.size() * 8 + 6) / 7);
  const int fill_bits = header_septets * 7 - static_cast<int>(header.size()) * 8;
  if (!septets || septets->size() + header_septets > kMaxSeptets) return std::nullopt;
  ud.dcs = kDcsGsm7;
  ud.udl = static_cast<int>(septets->size()) + header_septets;
  ud.octets = header + PackSeptets(*septets, fill_bits);
  return ud;
}

class Reader {
 public:
  explicit Reader(std::string_view octets) : data_(octets) {}
  bool Take(std::size_t n, std::string_view* out) {
    if (data_.size() - pos_ < n) return false;
    *out = data_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool Octet(std::uint8_t* out) {
    std::string_view v;
    if (!Take(1, &v)) return false;
    *out = static_cast<std::uint8_t>(v[0]);
    return true;
  }
  std::size_t remaining() const { return data_.size() - pos_; }
  std::size_t position() const { return pos_; }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

// Semi-octet digits of a numeric address; the count must match the declared
// length exactly: a filler F only in the last high nibble of an odd count.
bool DecodeDigits(std::string_view value, int count, std::string* digits, std::string* error) {
  digits->clear();
  for (int i = 0; i < static_cast<int>(value.size()) * 2; ++i) {
    const auto octet = static_cast<unsigned char>(value[i / 2]);
    const int nibble = i % 2 == 0 ? octet & 0x0F : octet >> 4;
    if (i < count) {
      if (nibble == 0xF) {
        *error = "address has fewer digits than its length says";
        return false;
      }
      *digits += BcdChar(nibble);
    } else if (nibble != 0xF) {
      *error = "address has more digits than its length says";
      return false;
    }
  }
  return true;
}

int RelativeValidityMinutes(std::uint8_t vp) {
  // TS 23.040 9.2.3.12.1
  if (vp <= 143) return (vp + 1) * 5;
  if (vp <= 167) return 12 * 60 + (vp - 143) * 30;
  if (vp <= 196) return (vp - 166) * 24 * 60;
  return (vp - 192) * 7 * 24 * 60;
}

int TwoDigits(std::string_view s, std::size_t pos) {
  if (pos + 2 > s.size()) return -1;
  const char a = s[pos], b = s[pos + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

char SwappedBcd(int value) {
  return static_cast<char>(((value % 10) << 4) | (value / 10));
}

}  // namespace

const char* CodingName(Coding coding) {
  switch (coding) {
    case Coding::kGsm7:
      return "gsm7";
    case Coding::k8Bit:
      return "8bit";
    case Coding::kUcs2:
      return "ucs2";
  }
  return "?";
}

std::optional<Address> AddressFromText(std::string_view text) {
  Address a;
  std::string_view digits = text;
  bool international = false;
  if (!digits.empty() && digits.front() == '+') {
    international = true;
    digits.remove_prefix(1);
  }
  // a, b and c are semi-octet values too, but in a typed number they are letters.
  bool numeric = !digits.empty() && digits.size() <= kMaxAddressDigits;
  for (char c : digits)
    numeric = numeric && (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#');
  if (numeric) {
    a.value = std::string(digits);
    a.toa = international ? kToaInternational : kToaUnknown;
    return a;
  }
  const auto septets = Utf8ToGsm7(text);
  // An address value holds at most 10 octets: 11 septets.
  if (!septets || septets->empty() || septets->size() > 11) return std::nullopt;
  a.value = std::string(text);
  a.toa = kToaAlphanumeric;
  return a;
}

std::string AddressToText(const Address& address) {
  if ((address.toa & 0x70) == 0x10) return "+" + address.value;
  return address.value;
}

SubmitResult DecodeSubmit(std::string_view hex, int tpdu_length) {
  SubmitResult result;
  auto fail = [&result](std::string why) {
    result.error = std::move(why);
    return result;
  };
  const auto octets = FromHex(hex);
  if (!octets) return fail("not an even count of hexadecimal digits");
  Reader r(*octets);

  SubmitPdu pdu;
  std::uint8_t sca_length = 0;
  if (!r.Octet(&sca_length)) return fail("empty PDU");
  if (sca_length > 0) {
    std::string_view sca;
    if (sca_length > 11 || !r.Take(sca_length, &sca)) return fail("bad service-centre address");
    Address smsc;
    smsc.toa = static_cast<std::uint8_t>(sca[0]);
    std::string error;
    const std::string_view value = sca.substr(1);
    const auto last = value.empty() ? 0 : static_cast<unsigned char>(value.back());
    const int count = static_cast<int>(value.size()) * 2 - ((last >> 4) == 0xF ? 1 : 0);
    if (!DecodeDigits(value, count, &smsc.value, &error)) return fail("service-centre " + error);
    pdu.smsc = smsc;
  }
  const std::size_t tpdu_start = r.position();
  if (static_cast<int>(octets->size() - tpdu_start) != tpdu_length) {
    return fail("TPDU has " + std::to_string(octets->size() - tpdu_start) + " octets, not " +
                std::to_string(tpdu_length));
  }

  // TP-MTI, TP-RD, TP-VPF, TP-SRR, TP-UDHI, TP-RP (TS 23.040 9.2.2.2)
  if (!r.Octet(&pdu.first_octet)) return fail("no first octet");
  if ((pdu.first_octet & 0x03) != 0x01) return fail("not an SMS-SUBMIT");
  if (!r.Octet(&pdu.reference)) return fail("no message reference");

  std::uint8_t da_length = 0;
  if (!r.Octet(&da_length)) return fail("no destination address");
  if (!r.Octet(&pdu.destination.toa)) return fail("no destination type of address");
  if (IsAlphanumeric(pdu.destination.toa)) {
    std::string_view value;
    if (!r.Take((da_length + 1) / 2, &value)) return fail("destination address cut short");
    pdu.destination.value = Gsm7ToUtf8(UnpackSeptets(value, da_length * 4 / 7));
  } else {
    if (da_length == 0 || da_length > kMaxAddressDigits) {
      return fail("destination address length " + std::to_string(da_length));
    }
    std::string_view value;
    if (!r.Take((da_length + 1) / 2, &value)) return fail("destination address cut short");
    std::string error;
    if (!DecodeDigits(value, da_length, &pdu.destination.value, &error)) {
      return fail("destination " + error);
    }
  }

  if (!r.Octet(&pdu.pid)) return fail("no protocol identifier");
  if (!r.Octet(&pdu.dcs)) return fail("no data coding scheme");
  const std::uint8_t group = pdu.dcs >> 4;
  if ((group & 0xC) == 0x0) {  // general data coding
    if (pdu.dcs & 0x20) return fail("compressed user data");
    switch ((pdu.dcs >> 2) & 0x3) {
      case 0:
        pdu.coding = Coding::kGsm7;
        break;
      case 1:
        pdu.coding = Coding::k8Bit;
        break;
      case 2:
        pdu.coding = Coding::kUcs2;
        break;
      default:
        return fail("reserved alphabet in data coding scheme");
    }
  } else if (group == 0xC || group == 0xD) {
    pdu.coding = Coding::kGsm7;
  } else if (group == 0xE) {
    pdu.coding = Coding::kUcs2;
  } else if (group == 0xF) {
    pdu.coding = (pdu.dcs & 0x04) ? Coding::k8Bit : Coding::kGsm7;
  } else {
    return fail("reserved data coding group");
  }

  std::string_view vp;
  switch ((pdu.first_octet >> 3) & 0x3) {
    case 0:
      pdu.validity_format = "none";
      break;
    case 2:
      pdu.validity_format = "relative";
      if (!r.Take(1, &vp)) return fail("no validity period");
      pdu.validity_minutes = RelativeValidityMinutes(static_cast<std::uint8_t>(vp[0]));
      break;
    case 1:
      pdu.validity_format = "enhanced";
      if (!r.Take(7, &vp)) return fail("no validity period");
      break;
    case 3:
      pdu.validity_format = "absolute";
      if (!r.Take(7, &vp)) return fail("no validity period");
      break;
  }
  pdu.validity_hex = ToHex(vp);

  std::uint8_t udl = 0;
  if (!r.Octet(&udl)) return fail("no user-data length");
  pdu.udl = udl;
  std::size_t ud_octets = udl;
  if (pdu.coding == Coding::kGsm7) {
    if (udl > kMaxSeptets) return fail("user-data length " + std::to_string(udl));
    ud_octets = (udl * 7 + 7) / 8;
  } else if (udl > kMaxUserDataOctets) {
    return fail("user-data length " + std::to_string(udl));
  }
  if (r.remaining() != ud_octets) {
    return fail("user data has " + std::to_string(r.remaining()) + " octets, its length says " +
                std::to_string(ud_octets));
  }
  std::string_view ud;
  r.Take(ud_octets, &ud);

  std::size_t header_octets = 0;
  if (pdu.first_octet & 0x40) {  // TP-UDHI
    if (ud.empty() || static_cast<std::size_t>(static_cast<unsigned char>(ud[0])) + 1 > ud.size()) {
      return fail("user-data header longer than the user data");
    }
    header_octets = static_cast<unsigned char>(ud[0]) + 1;
    pdu.udh = std::string(ud.substr(1, header_octets - 1));
  }

  if (pdu.coding == Coding::kGsm7) {
    const std::size_t header_septets = (header_octets * 8 + 6) / 7;
    if (header_septets > udl) return fail("user-data header longer than the user data");
    const int fill = static_cast<int>(header_septets * 7 - header_octets * 8);
    const auto septets = UnpackSeptets(ud.substr(header_octets), udl - header_septets, fill);
    pdu.text = Gsm7ToUtf8(septets);
    pdu.data = PackSeptets(septets);
  } else {
    pdu.data = std::string(ud.substr(header_octets));
    if (pdu.coding == Coding::kUcs2) {
      if (pdu.data.size() % 2 != 0) return fail("UCS-2 user data of an odd octet count");
      pdu.text = Ucs2BytesToUtf8(pdu.data);
    }
  }
  result.pdu = std::move(pdu);
  return result;
}

std::optional<std::string> EncodeTimestamp(std::string_view t) {
  // yy/MM/dd,hh:mm:ss±zz
  if (t.size() != 20 || t[2] != '/' || t[5] != '/' || t[8] != ',' || t[11] != ':' || t[14] != ':' ||
      (t[17] != '+' && t[17] != '-')) {
    return std::nullopt;
  }
  const int fields[] = {TwoDigits(t, 0),  TwoDigits(t, 3),  TwoDigits(t, 6), TwoDigits(t, 9),
                        TwoDigits(t, 12), TwoDigits(t, 15), TwoDigits(t, 18)};
  for (int f : fields) {
    if (f < 0) return std::nullopt;
  }
  if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 || fields[3] > 23 ||
      fields[4] > 59 || fields[5] > 59 || fields[6] > 79) {
    return std::nullopt;
  }
  std::string out;
  for (int i = 0; i < 6; ++i) out += SwappedBcd(fields[i]);
  char zone = SwappedBcd(fields[6]);
  if (t[17] == '-') zone = static_cast<char>(zone | 0x08);  // sign bit of the zone
  out += zone;
  return out;
}

std::optional<EncodedPdu> EncodeDeliver(const std::optional<Address>& smsc,
                                        const MessageContent& message,
                                        const std::optional<PartPlace>& part) {
  std::string header;
  if (part) {
    // Length 5: IEI 0x00, its length 3, reference, total, sequence.
    header = {0x05,
              0x00,
              0x03,
              static_cast<char>(part->reference),
              static_cast<char>(part->total),
              static_cast<char>(part->sequence)};
  }
  const auto ud = EncodeUserData(message.text, message.coding, header);
  const auto scts = EncodeTimestamp(message.time);
  if (!ud || !scts) return std::nullopt;
  std::string tpdu;
  // SMS-DELIVER, no more messages to send; TP-UDHI with a header.
  tpdu += static_cast<char>(header.empty() ? 0x04 : 0x44);
  tpdu += EncodeTpAddress(message.address);
  tpdu += '\0';  // TP-PID
  tpdu += static_cast<char>(ud->dcs);
  tpdu += *scts;
  tpdu += static_cast<char>(ud->udl);
  tpdu += ud->octets;
  return EncodedPdu{ToHex(EncodeSmsc(smsc) + tpdu), static_cast<int>(tpdu.size())};
}

std::optional<EncodedPdu> EncodeSubmit(const std::optional<Address>& smsc,
                                       const MessageContent& message, std::uint8_t reference,
                                       std::uint8_t pid,
                                       std::optional<std::uint8_t> relative_validity) {
  const auto ud = EncodeUserData(message.text, message.coding);
  if (!ud) return std::nullopt;
  std::string tpdu;
  tpdu += static_cast<char>(relative_validity ? 0x11 : 0x01);
  tpdu += static_cast<char>(reference);
  tpdu += EncodeTpAddress(message.address);
  tpdu += static_cast<char>(pid);
  tpdu += static_cast<char>(ud->dcs);
  if (relative_validity) tpdu += static_cast<char>(*relative_validity);
  tpdu += static_cast<char>(ud->udl);
  tpdu += ud->octets;
  return EncodedPdu{ToHex(EncodeSmsc(smsc) + tpdu), static_cast<int>(tpdu.size())};
}

}  // namespace vestrel::sim
