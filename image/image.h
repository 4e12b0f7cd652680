#pragma once
// In-memory pictures: 8-bit channels in the byte order a four-character
// PixelFormat names ("BGRA", "RGBA", " 8AG", "MA"), rows top first.

#include <cstdint>
#include <span>

#include "base/buffer.h"

namespace skarvel {

// Byte positions of the channels in one pixel (-1 when absent). A layout whose
// red, green and blue are the same byte is gray.
struct PixelLayout {
  int red = -1;
  int green = -1;
  int blue = -1;
  int alpha = -1;
  int channel_count = 0;
};

// A picture. Owns its pixels; move-only (the Buffer inside is).
struct Image {
  Buffer pixels;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;             // bytes from one row to the next
  char pixel_format[5] = {0, 0, 0, 0, 0};  // four characters and a terminator
};

// Parses a format text (a text starting with NUL or white space is read
// backwards). True when it names red, green and blue, directly or as gray.
[[nodiscard]] bool PixelFormat_Parse(const char* format, PixelLayout& layout);
// Stores one pixel at `p` in `layout`: a gray layout keeps green only; alpha
// goes to its position when the layout has one.
inline void PixelLayout_Store(uint8_t* p, const PixelLayout& layout, uint8_t red, uint8_t green,
                              uint8_t blue, uint8_t alpha) {
  if (layout.channel_count >= 3) {
    p[layout.red] = red;
    p[layout.green] = green;
    p[layout.blue] = blue;
  } else {
    p[layout.green] = green;
  }
  if (layout.alpha >= 0) p[layout.alpha] = alpha;
}
// True when `pixels` holds `height` rows of `width` pixels of `channel_count`
// bytes, `stride` bytes apart (the last row needs only its pixels). A
// negative size never does; an empty picture always does.
[[nodiscard]] bool Image_RowsFit(std::span<const uint8_t> pixels, int64_t width, int64_t height,
                                 int64_t stride, int channel_count);
// The stride rule: width * channel count rounded up to a multiple of 32.
int64_t Image_StrideFor(int64_t width, int channel_count);
// The largest picture any image operation accepts, in pixels (2^28).
inline constexpr int64_t kImageMaxPixels = int64_t{1} << 28;
// Copies the first four characters of `format` (up to a NUL, zero-filled)
// into `image.pixel_format`.
void Image_SetFormatText(Image& image, const char* format);
// A zero-filled image in `format`. False with ERANGE (format not valid),
// EINVAL (negative size, or more than kImageMaxPixels pixels; nothing is
// allocated then) or ENOMEM. The image's previous pixels are released.
[[nodiscard]] bool Image_CreateBlank(const char* format, int32_t width, int32_t height,
                                     Image& image);

}  // namespace skarvel
