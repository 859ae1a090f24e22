#pragma once
// The program icon's pictures, made at build time from resources/icon/vestrel.ico
// by vestrel_icon_tool: square, premultiplied ARGB, in the .ico's order.

#include <cstddef>
#include <cstdint>

namespace vestrel {

struct ProgramIconPicture {
  int size;                     // width and height in pixels
  const std::uint32_t* pixels;  // size * size, row by row
};

extern const ProgramIconPicture kProgramIconPictures[];
extern const std::size_t kProgramIconPictureCount;

}  // namespace vestrel
