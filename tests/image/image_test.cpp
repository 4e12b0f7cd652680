#include "image/image.h"

#include <algorithm>
#include <cerrno>

#include <gtest/gtest.h>

#include "base/mem.h"

namespace skarvel {
namespace {

TEST(PixelFormat, Parse) {
  struct Case {
    const char* text;
    bool valid;
    int red, green, blue, alpha, channels;
  };
  const Case kCases[] = {
      {"BGRA", true, 2, 1, 0, 3, 4},
      {"RGBA", true, 0, 1, 2, 3, 4},
      {"ARGB", true, 1, 2, 3, 0, 4},
      {" 8AG", true, 0, 0, 0, 1, 2},  // read backwards: G, A
      {"MA", true, 0, 0, 0, 1, 2},
      {"RGB", true, 0, 1, 2, -1, 3},
      {"AG", true, 1, 1, 1, 0, 2},
      {"   G", true, 0, 0, 0, -1, 1},
      {"GGRB", true, 2, 1, 3, -1, 4},  // a repeated letter counts, the later one wins
      {"XYZW", false, -1, -1, -1, -1, 0},
      {"A", false, -1, -1, -1, 0, 1},
      {"", false, -1, -1, -1, -1, 0},
      {"RG", false, 0, 1, -1, -1, 2},
      {"R GB", false, 0, 2, 3, -1, 3},  // blue would lie beyond the pixel's three bytes
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    PixelLayout l;
    EXPECT_EQ(PixelFormat_Parse(c.text, l), c.valid);
    EXPECT_EQ(l.red, c.red);
    EXPECT_EQ(l.green, c.green);
    EXPECT_EQ(l.blue, c.blue);
    EXPECT_EQ(l.alpha, c.alpha);
    EXPECT_EQ(l.channel_count, c.channels);
  }
  PixelLayout l;
  EXPECT_FALSE(PixelFormat_Parse(nullptr, l));
}

TEST(Image, StrideRule) {
  EXPECT_EQ(Image_StrideFor(29, 4), 128);
  EXPECT_EQ(Image_StrideFor(57, 2), 128);
  EXPECT_EQ(Image_StrideFor(8, 4), 32);
  EXPECT_EQ(Image_StrideFor(9, 4), 64);
  EXPECT_EQ(Image_StrideFor(0, 4), 0);
}

TEST(Image, CreateBlank) {
  Image image;
  ASSERT_TRUE(Image_CreateBlank("BGRA", 1024, 1024, image));
  EXPECT_EQ(image.stride, 4096);
  EXPECT_EQ(image.pixels.size, 4194304u);
  EXPECT_TRUE(std::all_of(image.pixels.data, image.pixels.data + image.pixels.size,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_STREQ(image.pixel_format, "BGRA");

  ASSERT_TRUE(Image_CreateBlank(" 8AG", 57, 3, image));
  EXPECT_EQ(image.stride, 128);
  EXPECT_EQ(image.pixels.size, 384u);

  struct Bad {
    const char* name;
    const char* format;
    int32_t width, height;
    int code;
  };
  const Bad kBad[] = {
      {"format without colour", "XYZW", 4, 4, ERANGE},
      {"negative width", "BGRA", -1, 4, EINVAL},
      {"negative height", "BGRA", 4, -1, EINVAL},
      {"more than 2^28 pixels", "BGRA", 16385, 16385, EINVAL},
      {"a row beyond 2^28 pixels", "BGRA", (1 << 28) + 1, 0, EINVAL},
  };
  for (const Bad& b : kBad) {
    SCOPED_TRACE(b.name);
    Image bad;
    Mem_FailAfter(0);  // nothing may be allocated before the checks
    errno = 0;
    EXPECT_FALSE(Image_CreateBlank(b.format, b.width, b.height, bad));
    const long failed = Mem_FailedCount();
    Mem_FailAfter(-1);
    EXPECT_EQ(errno, b.code);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(bad.pixels.data, nullptr);
  }

  Image none;
  Mem_FailAfter(0);
  errno = 0;
  EXPECT_FALSE(Image_CreateBlank("BGRA", 4, 4, none));
  Mem_FailAfter(-1);
  EXPECT_EQ(errno, ENOMEM);
}

}  // namespace
}  // namespace skarvel
