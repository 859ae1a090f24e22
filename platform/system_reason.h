#pragma once
// The system's reason for a failed file operation, told in Russian.

#include <string>
#include <system_error>

namespace vestrel::platform {

// Russian, UTF-8: the reason's own words for the common ones ("нет места на
// диске"), else "системная ошибка N" with the code, so that it can be looked up.
std::string SystemReason(std::error_code error);

// The reason for errno's value.
std::string ErrnoReason(int error);

}  // namespace vestrel::platform
