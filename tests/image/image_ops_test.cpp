#include "image/image_ops.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/mem.h"

namespace skarvel {
namespace {

// An image whose every byte is given by `value(x, y, channel)`.
template <typename F>
Image MakeImage(const char* format, int32_t width, int32_t height, F value) {
  Image image;
  EXPECT_TRUE(Image_CreateBlank(format, width, height, image));
  PixelLayout l;
  EXPECT_TRUE(PixelFormat_Parse(format, l));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < l.channel_count; ++c) {
        image.pixels.data[int64_t{y} * image.stride + x * l.channel_count + c] = value(x, y, c);
      }
    }
  }
  return image;
}

uint8_t At(const Image& image, int n, int32_t x, int32_t y, int c) {
  return image.pixels.data[int64_t{y} * image.stride + x * n + c];
}

// A deterministic noise byte.
uint8_t Noise(int32_t x, int32_t y, int c) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
               static_cast<uint32_t>(c) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return static_cast<uint8_t>(h >> 15);
}

bool PaddingIsZero(const Image& image, int n) {
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t b = image.width * n; b < image.stride; ++b) {
      if (image.pixels.data[int64_t{y} * image.stride + b] != 0) return false;
    }
  }
  return true;
}

// Hand-worked: the row 0, 100, 200, 50 sampled at three points.
//  out 0: s = -0.5, pixels (0, 0, 100, 200) at t = -0.5: 6.25 + 25 - 25 + 0 = 6.25 -> 6
//  out 1: s = 1.5, pixels (0, 100, 200, 50) at t = 0.5: -15.625 + 31.25 + 50 + 100 -> 165
//  out 2: s = 3.5, pixels (200, 50, 50, 50) at t = 0.5: -9.375 + 37.5 - 37.5 + 50 -> 40
// A single output samples the centre, s = 1.5, like out 1.
TEST(ImageResize, HandWorkedValuesInBothDirections) {
  const uint8_t row[4] = {0, 100, 200, 50};
  struct Case {
    const char* name;
    bool vertical;
    int32_t size;
    std::vector<uint8_t> expected;
  };
  const Case kCases[] = {
      {"across", false, 3, {6, 165, 40}},
      {"down", true, 3, {6, 165, 40}},
      {"to width 1", false, 1, {165}},
      {"to height 1", true, 1, {165}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image image = MakeImage("BGRA", c.vertical ? 1 : 4, c.vertical ? 4 : 1,
                            [&](int32_t x, int32_t y, int) { return row[x + y]; });
    const int32_t w = c.vertical ? 1 : c.size;
    const int32_t h = c.vertical ? c.size : 1;
    ASSERT_TRUE(Image_Resize("BGRA", image, w, h));
    ASSERT_EQ(image.width, w);
    ASSERT_EQ(image.height, h);
    for (int32_t i = 0; i < c.size; ++i) {
      for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(At(image, 4, c.vertical ? 0 : i, c.vertical ? i : 0, ch), c.expected[i])
            << "output " << i;
      }
    }
  }
}

// Reference evaluations of one output byte, to show that the exact-value test
// below tells single precision in the written order from the alternatives.
enum class Eval { kFloatAsWritten, kDouble, kFloatCubeFirst, kFloatHorner };

template <typename T>
T RefCubic(T p0, T p1, T p2, T p3, T t, Eval eval) {
  const T a = -p0 / T(2) + T(3) * p1 / T(2) - T(3) * p2 / T(2) + p3 / T(2);
  const T b = p0 - T(5) * p1 / T(2) + T(2) * p2 - p3 / T(2);
  const T c = -p0 / T(2) + p2 / T(2);
  if (eval == Eval::kFloatCubeFirst) return a * (t * t * t) + b * (t * t) + c * t + p1;
  if (eval == Eval::kFloatHorner) return ((a * t + b) * t + c) * t + p1;
  return a * t * t * t + b * t * t + c * t + p1;
}

template <typename T>
std::vector<uint8_t> RefResize(const Image& src, int n, int32_t w, int32_t h, Eval eval) {
  std::vector<uint8_t> out;
  auto clamp = [](int32_t v, int32_t size) { return v < 0 ? 0 : v >= size ? size - 1 : v; };
  for (int32_t i = 0; i < h; ++i) {
    const T sy = T(i) / T(h - 1) * T(src.height) - T(0.5);
    const auto y0 = static_cast<int32_t>(sy);
    const T fy = sy - T(y0);
    for (int32_t j = 0; j < w; ++j) {
      const T sx = T(j) / T(w - 1) * T(src.width) - T(0.5);
      const auto x0 = static_cast<int32_t>(sx);
      const T fx = sx - T(x0);
      for (int ch = 0; ch < n; ++ch) {
        T r[4];
        for (int k = 0; k < 4; ++k) {
          const int32_t yy = clamp(y0 - 1 + k, src.height);
          T p[4];
          for (int m = 0; m < 4; ++m) p[m] = T(At(src, n, clamp(x0 - 1 + m, src.width), yy, ch));
          r[k] = RefCubic(p[0], p[1], p[2], p[3], fx, eval);
        }
        const T v = RefCubic(r[0], r[1], r[2], r[3], fy, eval);
        out.push_back(v < T(0) ? 0 : v > T(255) ? 255 : static_cast<uint8_t>(v));
      }
    }
  }
  return out;
}

std::vector<uint8_t> Reference(const Image& src, int n, int32_t w, int32_t h, Eval eval) {
  if (eval == Eval::kDouble) return RefResize<double>(src, n, w, h, eval);
  return RefResize<float>(src, n, w, h, eval);
}

TEST(ImageResize, ExactSinglePrecisionValues) {
  // Some results of this picture lie so close to whole numbers that the
  // rounding of each step decides the byte.
  const Image source = MakeImage("BGRA", 23, 23, Noise);
  const int32_t w = 47, h = 47;
  const std::vector<uint8_t> expected = Reference(source, 4, w, h, Eval::kFloatAsWritten);
  // The test has teeth: double precision, t*t*t grouped first, or Horner's
  // scheme each change some bytes of this picture.
  EXPECT_NE(Reference(source, 4, w, h, Eval::kDouble), expected);
  EXPECT_NE(Reference(source, 4, w, h, Eval::kFloatCubeFirst), expected);
  EXPECT_NE(Reference(source, 4, w, h, Eval::kFloatHorner), expected);

  Image image = MakeImage("BGRA", 23, 23, Noise);
  ASSERT_TRUE(Image_Resize("BGRA", image, w, h));
  std::vector<uint8_t> got;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int c = 0; c < 4; ++c) got.push_back(At(image, 4, x, y, c));
    }
  }
  EXPECT_EQ(got, expected);
}

TEST(ImageResize, StrideAndPadding) {
  Image image = MakeImage("BGRA", 1024, 1024, Noise);
  ASSERT_TRUE(Image_Resize("BGRA", image, 29, 29));
  EXPECT_EQ(image.stride, 128);
  EXPECT_EQ(image.pixels.size, 29u * 128u);
  EXPECT_TRUE(PaddingIsZero(image, 4));

  Image gray = MakeImage(" 8AG", 10, 10, Noise);
  ASSERT_TRUE(Image_Resize(" 8AG", gray, 57, 3));
  EXPECT_EQ(gray.stride, 128);
  EXPECT_TRUE(PaddingIsZero(gray, 2));
}

TEST(ImageResize, UniformStaysUniformAndSameSizeIsUntouched) {
  const uint8_t color[4] = {10, 200, 30, 255};
  Image image = MakeImage("BGRA", 7, 5, [&](int32_t, int32_t, int c) { return color[c]; });
  ASSERT_TRUE(Image_Resize("BGRA", image, 13, 11));
  for (int32_t y = 0; y < 11; ++y) {
    for (int32_t x = 0; x < 13; ++x) {
      for (int c = 0; c < 4; ++c) ASSERT_EQ(At(image, 4, x, y, c), color[c]) << x << "," << y;
    }
  }

  // A stride other than the rule's survives a same-size resize.
  Image odd = MakeImage("BGRA", 9, 2, Noise);
  odd.stride = 36;
  const uint8_t* data = odd.pixels.data;
  ASSERT_TRUE(Image_Resize("XYZW", odd, 9, 2));  // nothing is looked at
  EXPECT_EQ(odd.pixels.data, data);
  EXPECT_EQ(odd.stride, 36);
}

TEST(ImageResize, Failures) {
  struct Case {
    const char* name;
    const char* format;
    int32_t width, height;
    int code;
  };
  const Case kCases[] = {
      {"format", "XYZW", 4, 4, ERANGE},
      {"negative size", "BGRA", -4, 4, EINVAL},
      {"above 2^28 pixels", "BGRA", 16385, 16385, EINVAL},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image image = MakeImage("BGRA", 3, 3, Noise);
    const uint8_t* data = image.pixels.data;
    errno = 0;
    EXPECT_FALSE(Image_Resize(c.format, image, c.width, c.height));
    EXPECT_EQ(errno, c.code);
    EXPECT_EQ(image.pixels.data, data);
    EXPECT_EQ(image.width, 3);
  }
  Image image = MakeImage("BGRA", 3, 3, Noise);
  Mem_FailAfter(0);
  errno = 0;
  EXPECT_FALSE(Image_Resize("BGRA", image, 6, 6));
  Mem_FailAfter(-1);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.stride, 32);

  Image empty;  // no pixels to sample
  errno = 0;
  EXPECT_FALSE(Image_Resize("BGRA", empty, 2, 2));
  EXPECT_EQ(errno, EINVAL);
}

TEST(ImageCrop, KeepsTheRectangle) {
  Image image = MakeImage("BGRA", 92, 60, Noise);
  ASSERT_TRUE(Image_Crop("BGRA", image, 2, 1, 57, 57));
  EXPECT_EQ(image.width, 57);
  EXPECT_EQ(image.height, 57);
  EXPECT_EQ(image.stride, 256);
  EXPECT_EQ(image.pixels.size, 57u * 256u);
  for (int32_t y = 0; y < 57; ++y) {
    for (int32_t x = 0; x < 57; ++x) {
      for (int c = 0; c < 4; ++c) ASSERT_EQ(At(image, 4, x, y, c), Noise(x + 2, y + 1, c));
    }
  }
  EXPECT_TRUE(PaddingIsZero(image, 4));

  // A source stride narrower than the rule's (as a rendition may have).
  Image tight = MakeImage("BGRA", 9, 4, Noise);
  Image packed;
  ASSERT_TRUE(Image_CreateBlank("BGRA", 9 * 4, 1, packed));  // 4 rows of 36 bytes
  for (int32_t y = 0; y < 4; ++y) {
    std::memcpy(packed.pixels.data + y * 36, tight.pixels.data + y * tight.stride, 36);
  }
  packed.width = 9;
  packed.height = 4;
  packed.stride = 36;
  ASSERT_TRUE(Image_Crop("BGRA", packed, 0, 1, 9, 3));
  EXPECT_EQ(packed.stride, 64);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(At(packed, 4, x, y, 0), Noise(x, y + 1, 0));
  }
}

TEST(ImageCrop, WholeImageAndBadRectangles) {
  Image image = MakeImage("BGRA", 10, 8, Noise);
  const uint8_t* data = image.pixels.data;
  ASSERT_TRUE(Image_Crop("BGRA", image, 5, 3, 10, 8));  // own size: x, y ignored
  EXPECT_EQ(image.pixels.data, data);

  struct Case {
    const char* name;
    int32_t x, y, w, h;
  };
  const Case kCases[] = {
      {"negative x", -1, 0, 4, 4},       {"negative y", 0, -1, 4, 4},
      {"negative width", 0, 0, -4, 4},   {"beyond the right edge", 7, 0, 4, 4},
      {"beyond the bottom", 0, 5, 4, 4}, {"huge x", INT32_MAX, 0, 4, 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_FALSE(Image_Crop("BGRA", image, c.x, c.y, c.w, c.h));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(image.pixels.data, data);
    EXPECT_EQ(image.width, 10);
  }
}

// Renders a small "BGRA" image whose pixels carry one letter each as rows of text.
std::vector<std::string> Letters(const Image& image) {
  std::vector<std::string> rows;
  for (int32_t y = 0; y < image.height; ++y) {
    std::string row;
    for (int32_t x = 0; x < image.width; ++x) row += static_cast<char>(At(image, 4, x, y, 0));
    rows.push_back(row);
  }
  return rows;
}

Image FromLetters(const std::vector<std::string>& rows) {
  return MakeImage("BGRA", static_cast<int32_t>(rows[0].size()),
                   static_cast<int32_t>(rows.size()),
                   [&](int32_t x, int32_t y, int) { return static_cast<uint8_t>(rows[y][x]); });
}

TEST(ImagePaste, CopiesAndBleeds) {
  const std::vector<std::string> picture = {"abc", "def", "ghi"};
  struct Case {
    const char* name;
    int32_t x, y;
    bool bleed;
    std::vector<std::string> expected;
  };
  const Case kCases[] = {
      {"inside, with bleed", 1, 1, true, {"aabcc", "aabcc", "ddeff", "gghii", "gghii"}},
      {"top left: no top or left frame", 0, 0, true, {"abccx", "deffx", "ghiix", "ghiix", "xxxxx"}},
      {"bottom right: no bottom or right frame", 2, 2, true,
       {"xxxxx", "xaabc", "xaabc", "xddef", "xgghi"}},
      {"without bleed", 1, 1, false, {"xxxxx", "xabcx", "xdefx", "xghix", "xxxxx"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image target = FromLetters({"xxxxx", "xxxxx", "xxxxx", "xxxxx", "xxxxx"});
    const Image source = FromLetters(picture);
    ASSERT_TRUE(Image_Paste("BGRA", target, "BGRA", source, c.x, c.y, c.bleed));
    EXPECT_EQ(Letters(target), c.expected);
  }
}

TEST(ImagePaste, FrameOfAPackedIcon) {
  Image target = MakeImage("BGRA", 92, 60, [](int32_t, int32_t, int) { return uint8_t{7}; });
  const Image icon = MakeImage("BGRA", 57, 57, Noise);
  ASSERT_TRUE(Image_Paste("BGRA", target, "BGRA", icon, 2, 1, true));
  // The frame: rows 0 and 58 repeat the icon's top and bottom rows, columns 1
  // and 59 its left and right columns, corners included.
  for (int32_t ty = 0; ty < 60; ++ty) {
    for (int32_t tx = 0; tx < 92; ++tx) {
      const bool in_frame = ty <= 58 && tx >= 1 && tx <= 59;
      const int32_t ix = tx < 2 ? 0 : tx > 58 ? 56 : tx - 2;
      const int32_t iy = ty < 1 ? 0 : ty > 57 ? 56 : ty - 1;
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(At(target, 4, tx, ty, c), in_frame ? Noise(ix, iy, c) : 7)
            << tx << "," << ty;
      }
    }
  }
}

TEST(ImagePaste, RefusesWhatDoesNotFit) {
  struct Case {
    const char* name;
    int32_t x, y;
  };
  const Case kCases[] = {
      {"40 wide at column 60 of 80", 60, 0},
      {"below the bottom", 0, 30},
      {"negative column", -1, 0},
      {"negative row", 0, -1},
  };
  const Image source = MakeImage("BGRA", 40, 40, Noise);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image target = MakeImage("BGRA", 80, 60, [](int32_t, int32_t, int) { return uint8_t{7}; });
    errno = 0;
    EXPECT_FALSE(Image_Paste("BGRA", target, "BGRA", source, c.x, c.y, true));
    EXPECT_EQ(errno, ENOSPC);
    for (uint64_t i = 0; i < target.pixels.size; ++i) {
      ASSERT_EQ(target.pixels.data[i], (i % target.stride) < 320 ? 7 : 0) << i;
    }
  }
}

TEST(ImagePaste, ConvertsAnotherFormat) {
  Image target = MakeImage("BGRA", 4, 2, [](int32_t, int32_t, int) { return uint8_t{0}; });
  // Gray 10 * x with alpha 100 + x.
  const Image gray = MakeImage(" 8AG", 2, 2, [](int32_t x, int32_t, int c) {
    return static_cast<uint8_t>(c == 0 ? 10 * (x + 1) : 100 + x);
  });
  ASSERT_TRUE(Image_Paste("BGRA", target, " 8AG", gray, 1, 0, false));
  const uint8_t expected[4][4] = {{0, 0, 0, 0}, {10, 10, 10, 100}, {20, 20, 20, 101}, {0, 0, 0, 0}};
  for (int32_t x = 0; x < 4; ++x) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(At(target, 4, x, 1, c), expected[x][c]) << x;
  }
  EXPECT_STREQ(gray.pixel_format, " 8AG");  // the source is left alone
}

TEST(ImageConvert, Formats) {
  struct Case {
    const char* name;
    const char* from;
    const char* to;
    std::vector<uint8_t> in;   // one pixel
    std::vector<uint8_t> out;  // the converted pixel
    int32_t stride;            // for width 10
  };
  const Case kCases[] = {
      {"BGRA to RGBA", "BGRA", "RGBA", {1, 2, 3, 4}, {3, 2, 1, 4}, 64},
      {"BGRA to gray and alpha keeps green", "BGRA", " 8AG", {1, 2, 3, 4}, {2, 4}, 32},
      {"gray to BGRA repeats gray", "MA", "BGRA", {9, 8}, {9, 9, 9, 8}, 64},
      {"no alpha becomes opaque", "RGB", "BGRA", {1, 2, 3}, {3, 2, 1, 255}, 64},
      {"alpha dropped", "RGBA", "RGB", {1, 2, 3, 4}, {1, 2, 3}, 32},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image image = MakeImage(c.from, 10, 3, [&](int32_t, int32_t, int ch) { return c.in[ch]; });
    ASSERT_TRUE(Image_Convert(c.from, image, c.to));
    EXPECT_EQ(image.stride, c.stride);
    EXPECT_EQ(image.pixels.size, 3u * c.stride);
    EXPECT_STREQ(image.pixel_format, c.to);
    const int n = static_cast<int>(c.out.size());
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 10; ++x) {
        for (int ch = 0; ch < n; ++ch) ASSERT_EQ(At(image, n, x, y, ch), c.out[ch]);
      }
    }
    EXPECT_TRUE(PaddingIsZero(image, n));
  }

  Image image = MakeImage("BGRA", 5, 5, Noise);
  const uint8_t* data = image.pixels.data;
  ASSERT_TRUE(Image_Convert("BGRA", image, "BGRA"));
  EXPECT_EQ(image.pixels.data, data);
  errno = 0;
  EXPECT_FALSE(Image_Convert("BGRA", image, "XYZW"));
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(image.pixels.data, data);  // refused before anything changed
  EXPECT_EQ(image.stride, 32);
}

}  // namespace
}  // namespace skarvel
