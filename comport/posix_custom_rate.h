#pragma once
// Line rates without a Bxxx constant, through the kernel's termios2. The
// kernel's termios headers clash with the C library's, so this lives in its
// own translation unit.

#include <cstdint>

namespace vestrel {

// Sets input and output rate of the open terminal fd to rate bits per second.
bool SetCustomBaudRate(int fd, std::uint32_t rate);
// The output rate the terminal reports, or 0 on failure.
std::uint32_t GetCustomBaudRate(int fd);

}  // namespace vestrel
