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

// Both rates of the terminal as the kernel keeps them, and whether each is
// marked as a rate without a Bxxx constant.
struct LineRates {
  std::uint32_t input = 0;
  std::uint32_t output = 0;
  bool input_custom = false;
  bool output_custom = false;
};
bool ReadLineRates(int fd, LineRates* rates);

}  // namespace vestrel
