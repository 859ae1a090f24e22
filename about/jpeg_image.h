#pragma once
// JPEG decoding into 8-bit RGB through libjpeg.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vestrel {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows top to bottom, 3 bytes a pixel
};

// Largest width or height accepted, so that a damaged header cannot ask for
// gigabytes.
inline constexpr int kMaxJpegSide = 8192;

// The decoded picture; nothing when the data is not a whole, sound JPEG
// picture (libjpeg reports an error, or a warning such as data cut short).
std::optional<RgbImage> DecodeJpeg(std::span<const std::uint8_t> data);

}  // namespace vestrel
