#include "image/image_file.h"

#include <png.h>
#include <zlib.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file_system.h"
#include "base/mem.h"
#include "base/result.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TempDir;

void WriteBytes(const std::string& path, const Bytes& bytes) {
  test::WriteFileText(path, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadBytes(const std::string& path) {
  const std::string text = test::ReadFileText(path);
  return Bytes(text.begin(), text.end());
}

// The bytes of row y of an image, without padding.
Bytes Row(const Image& image, int n, int32_t y) {
  const uint8_t* p = image.pixels.data + int64_t{y} * image.stride;
  return Bytes(p, p + image.width * n);
}

uint8_t Noise(int32_t x, int32_t y, int c) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
               static_cast<uint32_t>(c) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return static_cast<uint8_t>(h >> 15);
}

// ---------------------------------------------------------------------------
// Test pictures, made here: PNG through libpng, JPEG through libjpeg, BMP and
// hostile PNG headers byte by byte.

struct PngSpec {
  int width;
  int height;
  int color_type;
  int bit_depth;
  bool interlaced = false;
  std::vector<png_color> palette = {};
  Bytes transparency = {};          // tRNS for palette pictures
  int transparent_gray = -1;        // tRNS for gray pictures
  std::vector<Bytes> rows = {};     // packed samples as the file stores them
};

void AppendToVector(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

Bytes EncodePng(const PngSpec& recipe) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) std::abort();
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(recipe.width),
               static_cast<png_uint_32>(recipe.height), recipe.bit_depth, recipe.color_type,
               recipe.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!recipe.palette.empty()) {
    png_set_PLTE(png, info, recipe.palette.data(), static_cast<int>(recipe.palette.size()));
  }
  if (!recipe.transparency.empty()) {
    png_set_tRNS(png, info, recipe.transparency.data(),
                 static_cast<int>(recipe.transparency.size()), nullptr);
  }
  if (recipe.transparent_gray >= 0) {
    png_color_16 gray = {};
    gray.gray = static_cast<png_uint_16>(recipe.transparent_gray);
    png_set_tRNS(png, info, nullptr, 0, &gray);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const Bytes& r : recipe.rows) rows.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void AppendU32BE(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void AppendChunk(Bytes& out, const char* type, const Bytes& data) {
  AppendU32BE(out, static_cast<uint32_t>(data.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  AppendU32BE(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A well-formed PNG header for an 8-bit RGBA picture of any claimed size,
// followed by a few compressed zero bytes.
Bytes PngClaiming(uint32_t width, uint32_t height) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  AppendU32BE(ihdr, width);
  AppendU32BE(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  AppendChunk(out, "IHDR", ihdr);
  Bytes zeros(4096, 0);
  Bytes packed(compressBound(static_cast<uLong>(zeros.size())));
  uLongf packed_size = static_cast<uLongf>(packed.size());
  compress(packed.data(), &packed_size, zeros.data(), static_cast<uLong>(zeros.size()));
  packed.resize(packed_size);
  AppendChunk(out, "IDAT", packed);
  AppendChunk(out, "IEND", {});
  return out;
}

Bytes EncodeJpeg(int width, int height, int components, J_COLOR_SPACE space, const Bytes& pixels) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data()) +
                   static_cast<size_t>(cinfo.next_scanline) * width * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

void PutU16LE(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32LE(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A BMP of `bits` per pixel whose file rows are given bottom row first (or
// top row first when `height` is negative), each padded to 4 bytes.
Bytes MakeBmp(int32_t width, int32_t height, int bits, const std::vector<Bytes>& file_rows) {
  Bytes out(54, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutU32LE(out, 10, 54);
  PutU32LE(out, 14, 40);
  PutU32LE(out, 18, static_cast<uint32_t>(width));
  PutU32LE(out, 22, static_cast<uint32_t>(height));
  PutU16LE(out, 26, 1);
  PutU16LE(out, 28, static_cast<uint32_t>(bits));
  for (const Bytes& r : file_rows) {
    out.insert(out.end(), r.begin(), r.end());
    out.resize((out.size() - 54 + 3) / 4 * 4 + 54, 0);
  }
  PutU32LE(out, 2, static_cast<uint32_t>(out.size()));
  return out;
}

// The 24-bit, 3 x 2 fixture: file rows (bottom first) of blue, green, red.
Bytes Bmp24() {
  return MakeBmp(3, 2, 24, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {11, 12, 13, 14, 15, 16, 17, 18, 19}});
}

// ---------------------------------------------------------------------------

TEST(ImageFile, TypeByExtension) {
  using T = ImageFileType;
  struct Case {
    const char* path;
    ImageFileType read;
    ImageFileType write;
  };
  const Case kCases[] = {
      {"icon.PNG", T::Png, T::Png},    {"x.png", T::Png, T::Png},
      {".png", T::None, T::Bmp},       {"a.jpg", T::None, T::Bmp},
      {"ab.jpg", T::Jpeg, T::Jpeg},    {"a.jpeg", T::Jpeg, T::Jpeg},
      {"dir/A.JPEG", T::Jpeg, T::Jpeg}, {"x.Bmp", T::Bmp, T::Bmp},
      {".bmp", T::None, T::Bmp},       {"pic.tga", T::None, T::Bmp},
      {"png", T::None, T::Bmp},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ImageFile_TypeForReading(c.path), c.read);
    EXPECT_EQ(ImageFile_TypeForWriting(c.path), c.write);
  }
}

TEST(ImageFile, ReadsPngColorTypes) {
  const std::vector<png_color> palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  struct Case {
    const char* name;
    PngSpec recipe;
    const char* format;
    Bytes expected;  // row 0 of the image
  };
  const Case kCases[] = {
      {"palette with transparency as BGRA",
       {3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, palette, {0, 128}, -1, {{0, 1, 2}}},
       "BGRA",
       {30, 20, 10, 0, 60, 50, 40, 128, 90, 80, 70, 255}},
      {"palette with transparency as gray and alpha",
       {3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, palette, {0, 128}, -1, {{0, 1, 2}}},
       " 8AG",
       {20, 0, 50, 128, 80, 255}},
      {"gray 8-bit", {2, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, -1, {{0x40, 0xC0}}}, "BGRA",
       {0x40, 0x40, 0x40, 255, 0xC0, 0xC0, 0xC0, 255}},
      {"gray 1-bit", {2, 1, PNG_COLOR_TYPE_GRAY, 1, false, {}, {}, -1, {{0x80}}}, "BGRA",
       {255, 255, 255, 255, 0, 0, 0, 255}},
      {"gray with a transparent value",
       {2, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, 0x40, {{0x40, 0xC0}}}, "BGRA",
       {0x40, 0x40, 0x40, 0, 0xC0, 0xC0, 0xC0, 255}},
      {"gray and alpha", {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, {}, {}, -1, {{0x30, 0x80}}},
       "BGRA", {0x30, 0x30, 0x30, 0x80}},
      {"RGB 8-bit", {1, 1, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, -1, {{1, 2, 3}}}, "BGRA",
       {3, 2, 1, 255}},
      {"RGB 16-bit keeps the high bytes",
       {1, 1, PNG_COLOR_TYPE_RGB, 16, false, {}, {}, -1, {{0x12, 0xFF, 0x34, 0x00, 0x56, 0xAA}}},
       "BGRA", {0x56, 0x34, 0x12, 255}},
      {"RGBA as gray and alpha", {1, 1, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, -1, {{10, 20, 30, 40}}},
       "MA", {20, 40}},
      {"RGBA into a format without alpha",
       {1, 1, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, -1, {{10, 20, 30, 40}}}, "RGB", {10, 20, 30}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes("picture.png", EncodePng(c.recipe));
    Image image;
    ASSERT_TRUE(Image_ReadFile("picture.png", c.format, image)) << errno;
    PixelLayout layout;
    ASSERT_TRUE(PixelFormat_Parse(c.format, layout));
    EXPECT_EQ(image.width, c.recipe.width);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(image.stride, 32);
    EXPECT_EQ(image.pixels.size, 32u);
    EXPECT_EQ(Row(image, layout.channel_count, 0), c.expected);
  }
}

TEST(ImageFile, ReadsInterlacedPng) {
  PngSpec recipe{13, 11, PNG_COLOR_TYPE_RGB, 8, true};
  for (int y = 0; y < 11; ++y) {
    Bytes row;
    for (int x = 0; x < 13; ++x) {
      for (int c = 0; c < 3; ++c) row.push_back(Noise(x, y, c));
    }
    recipe.rows.push_back(row);
  }
  const Bytes file = EncodePng(recipe);
  Image image;
  ASSERT_TRUE(Image_ReadMemory(file, ImageFileType::Png, "RGBA", image));
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 13; ++x) {
      const uint8_t* p = image.pixels.data + y * image.stride + x * 4;
      ASSERT_EQ(Bytes(p, p + 4), (Bytes{Noise(x, y, 0), Noise(x, y, 1), Noise(x, y, 2), 255}))
          << x << "," << y;
    }
  }
}

TEST(ImageFile, RefusesBadPngs) {
  Bytes crc_error = EncodePng({2, 2, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, -1, {{1, 2}, {3, 4}}});
  crc_error[crc_error.size() - 12 - 6] ^= 0x55;  // inside the IDAT data, before IEND
  Bytes truncated = EncodePng({2, 2, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, -1, {{1, 2}, {3, 4}}});
  truncated.resize(truncated.size() - 20);
  struct Case {
    const char* name;
    Bytes bytes;
    bool before_allocating;  // refused before any pixel memory is asked for
  };
  const Case kCases[] = {
      {"not a PNG", {'h', 'e', 'l', 'l', 'o'}, true},
      {"empty", {}, true},
      {"CRC error in the pixel data", crc_error, false},
      {"truncated", truncated, false},
      {"100000 x 100000", PngClaiming(100000, 100000), true},
      {"16000 x 16000 from a few bytes", PngClaiming(16000, 16000), true},
      {"2^28 + 1 pixels", PngClaiming((1u << 28) + 1, 1), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image image;
    if (c.before_allocating) Mem_FailAfter(0);
    errno = 0;
    const bool ok = Image_ReadMemory(c.bytes, ImageFileType::Png, "BGRA", image);
    const int code = errno;
    const long failed = Mem_FailedCount();
    Mem_FailAfter(-1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, EINVAL);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(image.pixels.data, nullptr);
  }
}

TEST(ImageFile, ReadFailures) {
  TempDir dir;
  WriteBytes("a.jpg", EncodeJpeg(1, 1, 1, JCS_GRAYSCALE, {7}));
  WriteBytes("good.png", EncodePng({1, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, -1, {{7}}}));
  ASSERT_EQ(::mkdir("folder.png", 0777), 0);
  struct Case {
    const char* name;
    const char* path;
    const char* format;
    int code;
  };
  const Case kCases[] = {
      {"missing file", "missing.png", "BGRA", ENOENT},
      {"a directory", "folder.png", "BGRA", ENOENT},
      {"five-character .jpg", "a.jpg", "BGRA", kErrUnsupported},
      {"no extension", "good", "BGRA", kErrUnsupported},
      {"format not valid", "good.png", "XYZW", ERANGE},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image image;
    errno = 0;
    EXPECT_FALSE(Image_ReadFile(c.path, c.format, image));
    EXPECT_EQ(errno, c.code);
    EXPECT_EQ(image.pixels.data, nullptr);
  }
}

TEST(ImageFile, ReadReportsAllocationFailures) {
  TempDir dir;
  WriteBytes("p.png", EncodePng({2, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, -1, {{1, 2}}}));
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    FileStatusCache_ResetForTesting();
    Image image;
    Mem_FailAfter(n);
    errno = 0;
    const bool ok = Image_ReadFile("p.png", "BGRA", image);
    const int code = errno;
    Mem_FailAfter(-1);
    if (ok) {
      EXPECT_EQ(Row(image, 4, 0), (Bytes{1, 1, 1, 255, 2, 2, 2, 255}));
      EXPECT_GE(n, 3);  // file, pixels, row: each failure was reached
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(image.pixels.data, nullptr);
    ASSERT_LT(n, 100);
  }
}

TEST(ImageFile, ReadsJpeg) {
  TempDir dir;
  // A one-component (gray) JPEG: flat 8 x 8 blocks come back exactly.
  WriteBytes("gray.jpeg", EncodeJpeg(16, 8, 1, JCS_GRAYSCALE, Bytes(16 * 8, 100)));
  Image image;
  ASSERT_TRUE(Image_ReadFile("gray.jpeg", "BGRA", image));
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(image.height, 8);
  EXPECT_EQ(image.stride, 64);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      const uint8_t* p = image.pixels.data + y * image.stride + x * 4;
      ASSERT_EQ(Bytes(p, p + 4), (Bytes{100, 100, 100, 255})) << x << "," << y;
    }
  }

  Bytes cmyk(8 * 8 * 4, 50);
  WriteBytes("cmyk.jpg.jpg", EncodeJpeg(8, 8, 4, JCS_CMYK, cmyk));
  errno = 0;
  EXPECT_FALSE(Image_ReadFile("cmyk.jpg.jpg", "BGRA", image));
  EXPECT_EQ(errno, kErrUnsupported);
}

TEST(ImageFile, RefusesBadJpegs) {
  const Bytes good = EncodeJpeg(16, 16, 1, JCS_GRAYSCALE, Bytes(256, 100));
  // The frame header (SOF0): FF C0, length, precision, height, width.
  size_t sof = 0;
  for (size_t i = 0; i + 1 < good.size(); ++i) {
    if (good[i] == 0xFF && good[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  }
  ASSERT_NE(sof, 0u);
  auto claiming = [&](uint16_t width, uint16_t height) {
    Bytes b = good;
    b[sof + 5] = static_cast<uint8_t>(height >> 8);
    b[sof + 6] = static_cast<uint8_t>(height);
    b[sof + 7] = static_cast<uint8_t>(width >> 8);
    b[sof + 8] = static_cast<uint8_t>(width);
    return b;
  };
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case kCases[] = {
      {"not a JPEG", {'h', 'e', 'l', 'l', 'o'}},
      {"empty", {}},
      {"no image", {0xFF, 0xD8, 0xFF, 0xD9}},
      {"header only", Bytes(good.begin(), good.begin() + static_cast<long>(sof))},
      {"60000 x 60000", claiming(60000, 60000)},
      {"16000 x 16000 from a few hundred bytes", claiming(16000, 16000)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Image image;
    Mem_FailAfter(0);  // every one is refused before pixel memory is asked for
    errno = 0;
    const bool ok = Image_ReadMemory(c.bytes, ImageFileType::Jpeg, "BGRA", image);
    const int code = errno;
    const long failed = Mem_FailedCount();
    Mem_FailAfter(-1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, EINVAL);
    EXPECT_EQ(failed, 0);
  }
  // The library's error did not end the process: a good file still reads.
  Image image;
  EXPECT_TRUE(Image_ReadMemory(good, ImageFileType::Jpeg, "BGRA", image));
}

TEST(ImageFile, ReadsBmp) {
  struct Case {
    const char* name;
    Bytes file;
    const char* format;
    std::vector<Bytes> rows;  // image rows, top first
    int32_t stride;
  };
  const Case kCases[] = {
      {"24-bit, rows padded to 12 bytes", Bmp24(), "BGRA",
       {{11, 12, 13, 255, 14, 15, 16, 255, 17, 18, 19, 255}, {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}},
       32},
      {"24-bit as gray and alpha", Bmp24(), " 8AG", {{12, 255, 15, 255, 18, 255}, {2, 255, 5, 255, 8, 255}},
       32},
      {"32-bit with alpha", MakeBmp(1, 2, 32, {{1, 2, 3, 4}, {5, 6, 7, 8}}), "RGBA",
       {{7, 6, 5, 8}, {3, 2, 1, 4}}, 32},
      {"negative height: rows top-down", MakeBmp(1, -2, 32, {{1, 2, 3, 4}, {5, 6, 7, 8}}), "BGRA",
       {{1, 2, 3, 4}, {5, 6, 7, 8}}, 32},
      {"last row without its padding",
       [] {
         Bytes b = Bmp24();
         b.resize(b.size() - 3);
         return b;
       }(),
       "BGRA",
       {{11, 12, 13, 255, 14, 15, 16, 255, 17, 18, 19, 255}, {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}},
       32},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes("p.bmp", c.file);
    Image image;
    ASSERT_TRUE(Image_ReadFile("p.bmp", c.format, image)) << errno;
    PixelLayout layout;
    ASSERT_TRUE(PixelFormat_Parse(c.format, layout));
    EXPECT_EQ(image.stride, c.stride);
    ASSERT_EQ(image.height, static_cast<int32_t>(c.rows.size()));
    for (int32_t y = 0; y < image.height; ++y) {
      EXPECT_EQ(Row(image, layout.channel_count, y), c.rows[y]) << "row " << y;
    }
  }
}

TEST(ImageFile, RefusesBadBmps) {
  using Patch = void (*)(Bytes&);
  struct Case {
    const char* name;
    Patch patch;
    int code;
  };
  const Case kCases[] = {
      {"8-bit palette", [](Bytes& b) { PutU16LE(b, 28, 8); }, kErrUnsupported},
      {"16-bit", [](Bytes& b) { PutU16LE(b, 28, 16); }, kErrUnsupported},
      {"32-bit with compression 3",
       [](Bytes& b) {
         PutU16LE(b, 28, 32);
         PutU32LE(b, 30, 3);
       },
       kErrUnsupported},
      {"not BM", [](Bytes& b) { b[1] = 'X'; }, kErrUnsupported},
      {"width 0", [](Bytes& b) { PutU32LE(b, 18, 0); }, kErrUnsupported},
      {"negative width", [](Bytes& b) { PutU32LE(b, 18, 0xFFFFFFFD); }, kErrUnsupported},
      {"height 0", [](Bytes& b) { PutU32LE(b, 22, 0); }, kErrUnsupported},
      {"height -2^31", [](Bytes& b) { PutU32LE(b, 22, 0x80000000); }, kErrUnsupported},
      {"header shorter than 54 bytes", [](Bytes& b) { b.resize(40); }, ENOENT},
      {"last row cut short", [](Bytes& b) { b.pop_back(), b.pop_back(), b.pop_back(), b.pop_back(); },
       ENOENT},
      {"pixel data offset beyond the file", [](Bytes& b) { PutU32LE(b, 10, 1000); }, ENOENT},
      {"pixel data offset near 2^32", [](Bytes& b) { PutU32LE(b, 10, 0xFFFFFFF0); }, ENOENT},
      {"width 2^31 - 1", [](Bytes& b) { PutU32LE(b, 18, 0x7FFFFFFF); }, ENOENT},
      {"height 2^31 - 1", [](Bytes& b) { PutU32LE(b, 22, 0x7FFFFFFF); }, ENOENT},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes file = Bmp24();
    c.patch(file);
    Image image;
    Mem_FailAfter(0);  // refused before any pixel memory is asked for
    errno = 0;
    const bool ok = Image_ReadMemory(file, ImageFileType::Bmp, "BGRA", image);
    const int code = errno;
    const long failed = Mem_FailedCount();
    Mem_FailAfter(-1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(failed, 0);
  }
}

TEST(ImageFile, WritesBmp) {
  TempDir dir;
  // 2 x 2 "BGRA": top row 1..8, bottom row 9..16.
  const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (const char* path : {"out.bmp", "out.tga"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(Image_WriteFile(path, "BGRA", pixels, 2, 2, 8));
    Bytes expected = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0,
                      2, 0, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0x13, 0x0B, 0, 0,
                      0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    expected.insert(expected.end(), {9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(ReadBytes(path), expected);
  }

  // Gray and alpha: the gray byte three times, alpha kept.
  const Bytes gray = {50, 60};
  ASSERT_TRUE(Image_WriteFile("gray.bmp", " 8AG", gray, 1, 1, 2));
  const Bytes file = ReadBytes("gray.bmp");
  EXPECT_EQ(Bytes(file.begin() + 54, file.end()), (Bytes{50, 50, 50, 60}));

  // And back: the reader takes what the writer wrote.
  Image image;
  ASSERT_TRUE(Image_ReadFile("out.bmp", "BGRA", image));
  EXPECT_EQ(Row(image, 4, 0), Bytes(pixels.begin(), pixels.begin() + 8));
  EXPECT_EQ(Row(image, 4, 1), Bytes(pixels.begin() + 8, pixels.end()));
}

TEST(ImageFile, WritesPng) {
  TempDir dir;
  // Gray and alpha goes out as RGBA with the gray repeated and its alpha kept.
  const Bytes gray = {50, 7, 60, 8};
  ASSERT_TRUE(Image_WriteFile("gray.png", " 8AG", gray, 2, 1, 4));
  const Bytes file = ReadBytes("gray.png");
  ASSERT_GT(file.size(), 26u);
  EXPECT_EQ(file[24], 8);  // bit depth
  EXPECT_EQ(file[25], 6);  // color type RGBA
  Image image;
  ASSERT_TRUE(Image_ReadFile("gray.png", "RGBA", image));
  EXPECT_EQ(Row(image, 4, 0), (Bytes{50, 50, 50, 7, 60, 60, 60, 8}));

  // BGRA with alpha survives a round trip exactly, padding skipped.
  Image noise;
  ASSERT_TRUE(Image_CreateBlank("BGRA", 21, 9, noise));
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 84; ++x) noise.pixels.data[y * noise.stride + x] = Noise(x, y, 0);
  }
  ASSERT_TRUE(Image_WriteFile("noise.PNG", "BGRA", noise.pixels.bytes(), 21, 9, noise.stride));
  ASSERT_TRUE(Image_ReadFile("noise.PNG", "BGRA", image));
  ASSERT_EQ(image.stride, noise.stride);
  for (int y = 0; y < 9; ++y) EXPECT_EQ(Row(image, 4, y), Row(noise, 4, y));
}

TEST(ImageFile, WritesJpeg) {
  TempDir dir;
  Image image;
  ASSERT_TRUE(Image_CreateBlank("BGRA", 16, 16, image));
  for (int i = 0; i < 256; ++i) {
    uint8_t* p = image.pixels.data + i * 4;
    p[0] = 50, p[1] = 100, p[2] = 200, p[3] = 0;
  }
  ASSERT_TRUE(Image_WriteFile("out.jpeg", "BGRA", image.pixels.bytes(), 16, 16, image.stride));
  const Bytes file = ReadBytes("out.jpeg");
  ASSERT_GT(file.size(), 2u);
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(file[1], 0xD8);
  Image back;
  ASSERT_TRUE(Image_ReadFile("out.jpeg", "BGRA", back));
  for (int i = 0; i < 256; ++i) {
    const uint8_t* p = back.pixels.data + (i / 16) * back.stride + (i % 16) * 4;
    EXPECT_NEAR(p[0], 50, 3);
    EXPECT_NEAR(p[1], 100, 3);
    EXPECT_NEAR(p[2], 200, 3);
    EXPECT_EQ(p[3], 255);  // alpha is not stored
  }
}

TEST(ImageFile, WriteFailures) {
  TempDir dir;
  const Bytes pixels(16, 1);
  struct Case {
    const char* name;
    const char* path;
    const char* format;
    int32_t width, height, stride;
    int code;
    bool file_left;
  };
  const Case kCases[] = {
      {"missing directory", "nowhere/out.png", "BGRA", 2, 2, 8, EACCES, false},
      {"format not valid", "bad.bmp", "XYZW", 2, 2, 8, ERANGE, false},
      {"stride shorter than a row", "short.bmp", "BGRA", 2, 2, 4, EINVAL, false},
      {"more rows than pixels", "rows.bmp", "BGRA", 2, 3, 8, EINVAL, false},
      {"PNG of width 0: library error", "empty.png", "BGRA", 0, 2, 8, EINVAL, true},
      {"JPEG of width 0: library error", "empty.jpg.jpg", "BGRA", 0, 2, 8, EINVAL, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_FALSE(Image_WriteFile(c.path, c.format, pixels, c.width, c.height, c.stride));
    EXPECT_EQ(errno, c.code);
    EXPECT_EQ(test::FileExists(c.path), c.file_left);
  }
  EXPECT_FALSE(test::FileExists("nowhere"));

  // A full device: the lost bytes are reported.
  if (test::FileExists("/dev/full")) {
    errno = 0;
    EXPECT_FALSE(Image_WriteFile("/dev/full", "BGRA", pixels, 2, 2, 8));
    EXPECT_EQ(errno, ENOSPC);
  }

  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    FileStatusCache_ResetForTesting();
    Mem_FailAfter(n);
    errno = 0;
    const bool ok = Image_WriteFile("mem.png", "BGRA", pixels, 2, 2, 8);
    const int code = errno;
    Mem_FailAfter(-1);
    if (ok) break;
    EXPECT_EQ(code, ENOMEM);
    ASSERT_LT(n, 100);
  }
}

}  // namespace
}  // namespace skarvel
