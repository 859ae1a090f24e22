#pragma once
// The PDUs a text goes out as. Two ways: the window's described parts (70
// Windows-1251 characters each as UCS-2, independent messages), and one
// concatenated message in the cheapest coding that carries the text (GSM
// 7-bit when every character is in its alphabet or extension table, else
// UTF-16), its parts linked by a user-data header.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

class MessageRecord;

// One SMS-SUBMIT in hexadecimal, led by an empty service-centre address, as
// the dialogue writes it after "AT+CMGS=".
struct SubmitPart {
  std::string pdu;
  std::string text;  // what the part carries, Windows-1251 ("?" where it has no letter)
};

enum class SmsCoding { kGsm7, kUcs2 };

// Room in one message without a header, and in each part of a concatenated
// one (the header takes 6 octets): septets for 7-bit, UTF-16 units for UCS-2.
inline constexpr std::size_t kGsm7Single = 160;
inline constexpr std::size_t kGsm7Concatenated = 153;
inline constexpr std::size_t kUcs2Single = 70;
inline constexpr std::size_t kUcs2Concatenated = 67;
inline constexpr std::size_t kMaxConcatenatedParts = 255;

// Where a text is cut: the coding and the characters of each part. An escape
// pair or a surrogate pair is never split across parts. A text over 255
// parts gives more parts than a message can link: the caller refuses it.
struct PartPlan {
  SmsCoding coding = SmsCoding::kGsm7;
  std::vector<std::u32string> parts;
};
PartPlan PlanParts(std::u32string_view text);

// The window's described parts of a Windows-1251 text; the number must be
// checked already.
std::vector<SubmitPart> BuildDescribedParts(std::string_view number, std::string_view text);

// The text as one message (a single SMS without a header when it fits) in the
// cheapest coding; each part's header names reference, the part count and its
// sequence number from 1. Throws platform::Exception over 255 parts.
std::vector<SubmitPart> BuildConcatenatedParts(std::string_view number, std::u32string_view text,
                                               std::uint8_t reference);

// The code points of a Windows-1251 text, its CR LF line breaks as the LF of
// a phone's message.
std::u32string TextFromCp1251(std::string_view text);

// The reference for the next concatenated message: from the record's counter
// when it keeps one, else from this process's counter (which starts at a
// random value, so that two runs in a row differ).
std::uint8_t NextConcatenationReference(MessageRecord* record);

}  // namespace vestrel
