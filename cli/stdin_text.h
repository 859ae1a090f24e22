#pragma once
// The text of a send as standard input gives it.

#include <string>
#include <string_view>

namespace vestrel::cli {

// UTF-8 of the bytes on standard input: UTF-8 as it is, without a byte order
// mark; UTF-16 (little or big endian) when a byte order mark says so, as
// PowerShell pipes text. Throws UsageError on UTF-16 that does not decode.
std::string StandardInputUtf8(std::string_view bytes);

}  // namespace vestrel::cli
