#include "about/jpeg_image.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

namespace vestrel {
namespace {

// libjpeg's default error_exit ends the process. Ours jumps back to the
// decoder, which gives up on the picture; warnings are counted, not printed.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ++cinfo->err->num_warnings;
}

// Keeps every C++ object out of the frame that setjmp returns to twice: only
// the C structures and out (a pointer that does not change) live here.
bool Decode(const std::uint8_t* data, std::size_t size, RgbImage* out) {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK || cinfo.image_width == 0 ||
      cinfo.image_height == 0 || cinfo.image_width > kMaxJpegSide ||
      cinfo.image_height > kMaxJpegSide) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const std::size_t stride = std::size_t{cinfo.output_width} * 3;
  try {
    out->pixels.assign(stride * cinfo.output_height, 0);
  } catch (...) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  out->width = static_cast<int>(cinfo.output_width);
  out->height = static_cast<int>(cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->pixels.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  const bool clean = cinfo.err->num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return clean;
}

}  // namespace

std::optional<RgbImage> DecodeJpeg(std::span<const std::uint8_t> data) {
  if (data.empty()) return std::nullopt;
  RgbImage image;
  if (!Decode(data.data(), data.size(), &image)) return std::nullopt;
  return image;
}

}  // namespace vestrel
