#include "image/image_ops.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/buffer.h"
#include "base/result.h"

namespace skarvel {

namespace {

// Whether the image's stride and pixels hold its width x height pixels of n
// bytes each.
bool IsConsistent(const Image& image, int n) {
  return Image_RowsFit(image.pixels.bytes(), image.width, image.height, image.stride, n);
}

// A zero-filled pixel buffer of `height` rows of `stride` bytes.
bool NewPixels(Buffer& pixels, int64_t stride, int64_t height) {
  return Buffer_AppendZeros(pixels, static_cast<uint64_t>(stride) * static_cast<uint64_t>(height));
}

bool SameFormat(const char* a, const char* b) { return std::strncmp(a, b, 4) == 0; }

// The Catmull-Rom cubic through p0..p3 at t, in single precision and in the
// order written (no fused operations: the build uses -ffp-contract=off).
float Cubic(float p0, float p1, float p2, float p3, float t) {
  const float a = -p0 / 2.0f + 3.0f * p1 / 2.0f - 3.0f * p2 / 2.0f + p3 / 2.0f;
  const float b = p0 - 5.0f * p1 / 2.0f + 2.0f * p2 - p3 / 2.0f;
  const float c = -p0 / 2.0f + p2 / 2.0f;
  return a * t * t * t + b * t * t + c * t + p1;
}

// Where output index i of `count` samples a source of `size`: the whole part
// (toward zero) and the fraction. A single output samples the source centre.
struct Sample {
  int32_t base;
  float fraction;
};

Sample SampleAt(int32_t i, int32_t count, int32_t size) {
  const float s = count > 1 ? static_cast<float>(i) / static_cast<float>(count - 1) *
                                      static_cast<float>(size) -
                                  0.5f
                            : static_cast<float>(size) * 0.5f - 0.5f;
  const auto base = static_cast<int32_t>(s);
  return {base, s - static_cast<float>(base)};
}

int32_t Clamp(int64_t v, int32_t size) {
  return v < 0 ? 0 : v >= size ? size - 1 : static_cast<int32_t>(v);
}

}  // namespace

bool Image_Resize(const char* format, Image& image, int32_t width, int32_t height) {
  if (width == image.width && height == image.height) return true;
  PixelLayout layout;
  if (!PixelFormat_Parse(format, layout)) return Fail(ERANGE);
  const int n = layout.channel_count;
  if (!IsConsistent(image, n) || width < 0 || height < 0 || width > kImageMaxPixels ||
      height > kImageMaxPixels || int64_t{width} * height > kImageMaxPixels) {
    return Fail(EINVAL);
  }
  const int32_t src_width = image.width;
  const int32_t src_height = image.height;
  const bool empty_target = width == 0 || height == 0;
  if ((src_width == 0 || src_height == 0) && !empty_target) return Fail(EINVAL);
  const int64_t stride = Image_StrideFor(width, n);
  Buffer pixels;
  if (!NewPixels(pixels, stride, height)) return Fail(ENOMEM);

  const uint8_t* src = image.pixels.data;
  const int64_t src_stride = image.stride;
  for (int32_t i = 0; i < (empty_target ? 0 : height); ++i) {
    const Sample sy = SampleAt(i, height, src_height);
    const uint8_t* rows[4];
    for (int k = 0; k < 4; ++k) {
      rows[k] = src + Clamp(int64_t{sy.base} - 1 + k, src_height) * src_stride;
    }
    uint8_t* out = pixels.data + i * stride;
    for (int32_t j = 0; j < width; ++j) {
      const Sample sx = SampleAt(j, width, src_width);
      int64_t columns[4];
      for (int k = 0; k < 4; ++k) {
        columns[k] = int64_t{Clamp(int64_t{sx.base} - 1 + k, src_width)} * n;
      }
      for (int ch = 0; ch < n; ++ch) {
        float across[4];
        for (int k = 0; k < 4; ++k) {
          const uint8_t* r = rows[k] + ch;
          across[k] = Cubic(r[columns[0]], r[columns[1]], r[columns[2]], r[columns[3]],
                            sx.fraction);
        }
        const float v = Cubic(across[0], across[1], across[2], across[3], sy.fraction);
        out[int64_t{j} * n + ch] = v < 0.0f ? 0 : v > 255.0f ? 255 : static_cast<uint8_t>(v);
      }
    }
  }
  image.pixels = std::move(pixels);
  image.width = width;
  image.height = height;
  image.stride = static_cast<int32_t>(stride);
  return true;
}

bool Image_Crop(const char* format, Image& image, int32_t x, int32_t y, int32_t width,
                int32_t height) {
  if (width == image.width && height == image.height) return true;
  PixelLayout layout;
  if (!PixelFormat_Parse(format, layout)) return Fail(ERANGE);
  const int n = layout.channel_count;
  if (!IsConsistent(image, n)) return Fail(EINVAL);
  if (x < 0 || y < 0 || width < 0 || height < 0 || int64_t{x} + width > image.width ||
      int64_t{y} + height > image.height) {
    return Fail(ENOSPC);
  }
  // The rows go to a new buffer: a stride taken over from a rendition can be
  // narrower than the new one, so moving rows in place could overrun them.
  const int64_t stride = Image_StrideFor(width, n);
  Buffer pixels;
  if (!NewPixels(pixels, stride, height)) return Fail(ENOMEM);
  const size_t row = static_cast<size_t>(width) * static_cast<size_t>(n);
  for (int32_t k = 0; k < height; ++k) {
    std::memcpy(pixels.data + k * stride,
                image.pixels.data + (int64_t{y} + k) * image.stride + int64_t{x} * n, row);
  }
  image.pixels = std::move(pixels);
  image.width = width;
  image.height = height;
  image.stride = static_cast<int32_t>(stride);
  return true;
}

namespace {

void CopyPixel(Image& image, int n, int32_t from_x, int32_t from_y, int32_t to_x, int32_t to_y) {
  std::memcpy(image.pixels.data + int64_t{to_y} * image.stride + int64_t{to_x} * n,
              image.pixels.data + int64_t{from_y} * image.stride + int64_t{from_x} * n,
              static_cast<size_t>(n));
}

// Surrounds the w x h picture at (x, y) with a one-pixel frame copied from its
// border, inside the target. Rows first, then columns, so that the corners
// repeat the picture's corners.
void Bleed(Image& target, int n, int32_t x, int32_t y, int32_t w, int32_t h) {
  const size_t row = static_cast<size_t>(w) * static_cast<size_t>(n);
  uint8_t* base = target.pixels.data + int64_t{x} * n;
  if (y > 0) {
    std::memcpy(base + int64_t{y - 1} * target.stride, base + int64_t{y} * target.stride, row);
  }
  const bool below = int64_t{y} + h < target.height;
  if (below) {
    std::memcpy(base + (int64_t{y} + h) * target.stride,
                base + (int64_t{y} + h - 1) * target.stride, row);
  }
  const int32_t first = y > 0 ? y - 1 : y;
  const int32_t last = below ? y + h : y + h - 1;
  for (int32_t r = first; r <= last; ++r) {
    if (x > 0) CopyPixel(target, n, x, r, x - 1, r);
    if (int64_t{x} + w < target.width) CopyPixel(target, n, x + w - 1, r, x + w, r);
  }
}

}  // namespace

bool Image_Paste(const char* target_format, Image& target, const char* source_format,
                 const Image& source, int32_t x, int32_t y, bool bleed) {
  const Image* from = &source;
  Image converted;
  if (!SameFormat(target_format, source_format)) {
    PixelLayout source_layout;
    if (!PixelFormat_Parse(source_format, source_layout)) return Fail(ERANGE);
    if (!IsConsistent(source, source_layout.channel_count)) return Fail(EINVAL);
    const uint64_t size = source.pixels.data != nullptr ? source.pixels.size : 0;
    if (!Buffer_Append(converted.pixels, source.pixels.data, size)) return Fail(ENOMEM);
    converted.width = source.width;
    converted.height = source.height;
    converted.stride = source.stride;
    if (!Image_Convert(source_format, converted, target_format)) return false;
    from = &converted;
  }
  PixelLayout layout;
  if (!PixelFormat_Parse(target_format, layout)) return Fail(ERANGE);
  const int n = layout.channel_count;
  if (!IsConsistent(target, n) || !IsConsistent(*from, n)) return Fail(EINVAL);
  const int32_t w = from->width;
  const int32_t h = from->height;
  if (x < 0 || y < 0 || int64_t{x} + w > target.width || int64_t{y} + h > target.height) {
    return Fail(ENOSPC);
  }
  if (w == 0 || h == 0) return true;
  const size_t row = static_cast<size_t>(w) * static_cast<size_t>(n);
  for (int32_t k = 0; k < h; ++k) {
    std::memcpy(target.pixels.data + (int64_t{y} + k) * target.stride + int64_t{x} * n,
                from->pixels.data + int64_t{k} * from->stride, row);
  }
  if (bleed) Bleed(target, n, x, y, w, h);
  return true;
}

bool Image_Convert(const char* source_format, Image& image, const char* target_format) {
  if (SameFormat(source_format, target_format)) return true;
  PixelLayout from;
  PixelLayout to;
  if (!PixelFormat_Parse(source_format, from) || !PixelFormat_Parse(target_format, to)) {
    return Fail(ERANGE);
  }
  if (!IsConsistent(image, from.channel_count)) return Fail(EINVAL);
  const int64_t stride = Image_StrideFor(image.width, to.channel_count);
  Buffer pixels;
  if (!NewPixels(pixels, stride, image.height)) return Fail(ENOMEM);
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* in = image.pixels.data + int64_t{y} * image.stride;
    uint8_t* out = pixels.data + y * stride;
    for (int32_t x = 0; x < image.width; ++x, in += from.channel_count, out += to.channel_count) {
      PixelLayout_Store(out, to, in[from.red], in[from.green], in[from.blue],
                        from.alpha >= 0 ? in[from.alpha] : 255);
    }
  }
  image.pixels = std::move(pixels);
  image.stride = static_cast<int32_t>(stride);
  Image_SetFormatText(image, target_format);
  return true;
}

}  // namespace skarvel
