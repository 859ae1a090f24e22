#pragma once
// Texts at the edge of the console: UTF-8 outside, Windows-1251 inside.

#include <string>
#include <string_view>

namespace vestrel::cli {

// The UTF-8 text of a send as the window's text field would hold it: Windows-1251,
// every line break CR LF. Throws UsageError when the text is not valid UTF-8
// or holds a character that Windows-1251 lacks (it could not be sent as typed).
std::string SmsTextFromUtf8(std::string_view utf8);

// The UTF-8 text of a concatenated send as code points of any script, every
// line break (LF or CR LF) one LF as in a phone's message. Throws UsageError
// when the text is not valid UTF-8.
std::u32string SmsCodePointsFromUtf8(std::string_view utf8);

// Windows-1251 of code points, with "?" for each that it lacks and CR LF for
// LF: what the window would have shown of the text.
std::string Cp1251Approximation(std::u32string_view text);

// The text with one final line break (LF or CR LF) removed, as a text from
// standard input ends.
std::string_view WithoutFinalLineBreak(std::string_view text);

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(std::string_view utf8);

}  // namespace vestrel::cli
