#include "image/image.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/bytes.h"
#include "base/result.h"

namespace skarvel {

namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool PixelFormat_Parse(const char* format, PixelLayout& layout) {
  layout = PixelLayout{};
  if (format == nullptr) return false;
  // Four characters; a shorter text reads as if padded with NULs.
  char text[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && format[i] != '\0'; ++i) text[i] = format[i];
  const bool backwards = text[0] == '\0' || IsWhiteSpace(text[0]);
  for (int i = 0; i < 4; ++i) {
    switch (backwards ? text[3 - i] : text[i]) {
      case 'R':
        layout.red = i;
        break;
      case 'G':
        layout.green = i;
        break;
      case 'B':
        layout.blue = i;
        break;
      case 'A':
        layout.alpha = i;
        break;
      case 'M':
        layout.red = layout.green = layout.blue = i;
        break;
      default:
        continue;
    }
    ++layout.channel_count;
  }
  // A G without R and B is gray.
  if (layout.red == -1 && layout.green != -1 && layout.blue == -1) {
    layout.red = layout.blue = layout.green;
  }
  if (layout.red == -1 || layout.green == -1 || layout.blue == -1) return false;
  // Every channel must lie inside the pixel: "R GB" names three channels but
  // puts blue in a fourth byte.
  const int n = layout.channel_count;
  return layout.red < n && layout.green < n && layout.blue < n && layout.alpha < n;
}

bool Image_RowsFit(std::span<const uint8_t> pixels, int64_t width, int64_t height, int64_t stride,
                   int channel_count) {
  if (width < 0 || height < 0 || stride < 0 || channel_count < 0) return false;
  if (width == 0 || height == 0) return true;
  const uint64_t row = static_cast<uint64_t>(width) * static_cast<uint64_t>(channel_count);
  if (row > static_cast<uint64_t>(stride)) return false;
  return Range_Fits(static_cast<uint64_t>(height - 1) * static_cast<uint64_t>(stride), row,
                    pixels.size());
}

int64_t Image_StrideFor(int64_t width, int channel_count) {
  return (width * channel_count + 31) & ~int64_t{31};
}

void Image_SetFormatText(Image& image, const char* format) {
  std::memset(image.pixel_format, 0, sizeof image.pixel_format);
  for (int i = 0; i < 4 && format[i] != '\0'; ++i) image.pixel_format[i] = format[i];
}

bool Image_CreateBlank(const char* format, int32_t width, int32_t height, Image& image) {
  PixelLayout layout;
  if (!PixelFormat_Parse(format, layout)) return Fail(ERANGE);
  if (width < 0 || height < 0 || width > kImageMaxPixels || height > kImageMaxPixels ||
      int64_t{width} * height > kImageMaxPixels) {
    return Fail(EINVAL);
  }
  const int64_t stride = Image_StrideFor(width, layout.channel_count);
  Buffer pixels;
  if (!Buffer_AppendZeros(pixels, static_cast<uint64_t>(stride) * static_cast<uint64_t>(height))) {
    return Fail(ENOMEM);
  }
  image.pixels = std::move(pixels);
  image.width = width;
  image.height = height;
  image.stride = static_cast<int32_t>(stride);
  Image_SetFormatText(image, format);
  return true;
}

}  // namespace skarvel
