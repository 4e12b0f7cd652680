// CSI_DecodeImage with the palette image (8) and the deepmaps (10, 11):
// small hand-made units for each header variant, reconstructions checked
// against values worked out by hand, and the units it must refuse.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/mem.h"
#include "base/result.h"
#include "csi/csi_decode.h"
#include "tests/csi/csi_decode_fixtures.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIChunk;
using test::CSIRecordBuilder;
using test::Decoded;
using test::DecodeRecord;
using test::DeepmapSpec;
using test::StreamForm;

constexpr StreamForm kForms[] = {StreamForm::LzfseRaw, StreamForm::LzvnLiteral, StreamForm::Lzfse,
                                 StreamForm::Lzvn};

// Palette entries as the palette image stores them: 0xAARRGGBB.
uint32_t Entry(uint32_t i) {
  return 0xFF000000u | ((i & 0xFF) << 16) | ((i * 3 & 0xFF) << 8) | (i / 7);
}
// The same entry as decoded "BGRA" bytes.
Bytes EntryPixel(uint32_t argb) {
  return {uint8_t(argb), uint8_t(argb >> 8), uint8_t(argb >> 16), uint8_t(argb >> 24)};
}

Bytes Tail(const Bytes& b, size_t n) { return Bytes(b.end() - static_cast<ptrdiff_t>(n), b.end()); }

TEST(CSIDecodePalette, IndexRowsArePackedHighBitsFirstInLittleEndianWords) {
  struct Case {
    const char* name;
    uint32_t count, bits;
    std::vector<uint32_t> indices;  // one row of three (or two) pixels
    Bytes row;                      // the packed row as stored
  };
  const Case kCases[] = {
      {"1-bit", 2, 1, {1, 0, 1}, {0x00, 0xA0}},
      {"2-bit", 3, 2, {1, 2, 0}, {0x00, 0x60}},
      {"4-bit", 5, 4, {1, 2, 3}, {0x30, 0x12}},
      {"8-bit: the even pixel is the second byte", 17, 8, {1, 2, 3}, {0x02, 0x01, 0x00, 0x03}},
      {"16-bit", 300, 16, {258, 3}, {0x02, 0x01, 0x03, 0x00}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> entries;
    for (uint32_t i = 0; i < c.count; ++i) entries.push_back(Entry(i));
    const uint32_t width = static_cast<uint32_t>(c.indices.size());
    const Bytes data = test::PaletteImageData(entries, c.bits, width, c.indices);
    ASSERT_EQ(data.size(), 10 + 4 * c.count + c.row.size());
    EXPECT_EQ(Tail(data, c.row.size()), c.row);
    Decoded d = DecodeRecord(CSIRecordBuilder()
                                 .Size(width, 1)
                                 .BytesPerLine(1024)
                                 .Element(8, test::Compress(StreamForm::LzfseRaw, data))
                                 .Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    Bytes expected;
    for (uint32_t i : c.indices) test::AppendBytes(expected, EntryPixel(Entry(i)));
    EXPECT_EQ(test::PixelsOf(d.image), expected);
    EXPECT_EQ(d.image.stride, static_cast<int32_t>(4 * width));
  }
}

TEST(CSIDecodePalette, EveryIndexWidthWithPaddedRowsAndChunks) {
  struct Case {
    const char* name;
    uint32_t count;
    uint32_t bits;
    std::vector<uint32_t> chunk_rows;  // empty: one stream for the 3 rows
  };
  const Case kCases[] = {
      {"1-bit", 2, 1, {}},
      {"2-bit", 3, 2, {}},
      {"4-bit", 12, 4, {}},
      {"8-bit", 200, 8, {}},
      {"16-bit", 300, 16, {}},
      {"4-bit in 2 chunks", 9, 4, {2, 1}},
      {"8-bit in 3 chunks", 31, 8, {1, 1, 1}},
  };
  const uint32_t width = 5, height = 3;
  int form = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> entries;
    for (uint32_t i = 0; i < c.count; ++i) entries.push_back(Entry(i * 5 + 1));
    std::vector<uint32_t> indices;
    Bytes expected;
    for (uint32_t i = 0; i < width * height; ++i) {
      indices.push_back((i * 7 + 3) % c.count);
      test::AppendBytes(expected, EntryPixel(entries[indices.back()]));
    }
    CSIRecordBuilder builder;
    builder.Size(width, height).BytesPerLine(7);  // the stored value is not the stride here
    if (c.chunk_rows.empty()) {
      builder.Element(8, test::Compress(kForms[form++ % 4],
                                        test::PaletteImageData(entries, c.bits, width, indices)));
    } else {
      std::vector<CSIChunk> chunks;
      uint32_t y = 0;
      for (uint32_t rows : c.chunk_rows) {
        const std::vector<uint32_t> band(indices.begin() + y * width,
                                         indices.begin() + (y + rows) * width);
        chunks.push_back(
            {rows, test::Compress(kForms[form++ % 4],
                                  test::PaletteImageData(entries, c.bits, width, band))});
        y += rows;
      }
      builder.ChunkedElement(8, chunks, 1);
    }
    Decoded d = DecodeRecord(builder.Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    EXPECT_EQ(d.image.stride, 20);
    EXPECT_STREQ(d.image.pixel_format, "BGRA");
    EXPECT_EQ(test::PixelsOf(d.image), expected);
  }
}

// Interleaved "BGRA" or gray + alpha pixels with some variety.
Bytes Pixels(uint32_t width, uint32_t height, uint32_t bpp) {
  Bytes p;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < bpp; ++c) p.push_back(static_cast<uint8_t>(x * 3 + y * 5 + c * 70));
    }
  }
  return p;
}

// The rectangle (x0, y0, w, h) of a tightly packed picture.
Bytes Crop(const Bytes& picture, uint32_t width, uint32_t bpp, uint32_t x0, uint32_t y0, uint32_t w,
           uint32_t h) {
  Bytes out;
  for (uint32_t y = y0; y < y0 + h; ++y) {
    const auto row = picture.begin() + static_cast<ptrdiff_t>((size_t{y} * width + x0) * bpp);
    out.insert(out.end(), row, row + static_cast<ptrdiff_t>(size_t{w} * bpp));
  }
  return out;
}

TEST(CSIDecodeDeepmap, PlainTilesAndBandsLandWhereTheyBelong) {
  // Method 10: a 300-wide picture in chunks of 260 and 3 rows, so the first
  // chunk has two rows of tiles (256 and 4) and every chunk two columns of
  // tiles (256 and 44), stored row-major. Method 11: the same picture in
  // bands of 100 rows (100, 100, 63).
  const uint32_t width = 300, height = 263;
  struct Case {
    const char* name;
    const char* format;
    uint8_t deep_format;
    uint32_t method;
  };
  const Case kCases[] = {
      {"method 10, BGRA", "BGRA", 4, 10},
      {"method 10, gray", " 8AG", 2, 10},
      {"method 11, BGRA", "BGRA", 4, 11},
      {"method 11, gray", " 8AG", 2, 11},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint32_t bpp = c.deep_format;
    const Bytes picture = Pixels(width, height, bpp);
    int form = 0;
    CSIRecordBuilder builder;
    builder.PixelFormat(c.format).Size(width, height).BytesPerLine(16);
    if (c.method == 10) {
      std::vector<CSIChunk> chunks;
      uint32_t y0 = 0;
      for (uint32_t rows : {260u, 3u}) {
        std::vector<Bytes> streams;
        for (uint32_t ty = 0; ty < rows; ty += 256) {
          for (uint32_t tx = 0; tx < width; tx += 256) {
            const uint32_t w = std::min(256u, width - tx), h = std::min(256u, rows - ty);
            streams.push_back(
                test::Compress(kForms[form++ % 4], Crop(picture, width, bpp, tx, y0 + ty, w, h)));
          }
        }
        DeepmapSpec recipe;
        recipe.method = rows == 3 ? 1 : 3;  // raw and plain read alike
        recipe.format = c.deep_format;
        chunks.push_back({rows, test::DeepmapUnit(recipe, streams)});
        y0 += rows;
      }
      builder.ChunkedElement(10, chunks, 1);
    } else {
      std::vector<Bytes> streams;
      for (uint32_t y = 0; y < height; y += 100) {
        streams.push_back(test::Compress(kForms[form++ % 4], Crop(picture, width, bpp, 0, y, width,
                                                                  std::min(100u, height - y))));
      }
      DeepmapSpec recipe;
      recipe.dmp2 = true;
      recipe.format = c.deep_format;
      recipe.width = width;
      recipe.band_height = 100;
      builder.Element(11, test::DeepmapUnit(recipe, streams));
    }
    Decoded d = DecodeRecord(builder.Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    EXPECT_EQ(d.image.stride, static_cast<int32_t>(width * bpp));
    EXPECT_STREQ(d.image.pixel_format, c.format);
    EXPECT_EQ(test::PixelsOf(d.image), picture);
  }
}

TEST(CSIDecodeDeepmap, PaletteUnitsTakeColourFromTheEntryAndAlphaFromItsPlane) {
  // Entries are stored B, G, R, X. Three pixels using entries 2, 0, 1.
  const std::vector<uint32_t> palette = {0x11223344, 0x55667788, 0x99AABBCC};
  const Bytes alpha = {0xF0, 0x80, 0x00};
  const Bytes index = {2, 0, 1};
  struct Case {
    const char* name;
    bool dmp2;
    uint16_t type;
    Bytes planes;
    Bytes expected;
  };
  const Case kCases[] = {
      {"dmap: alpha and index planes",
       false,
       0,
       test::Join({alpha, index}),
       {0xCC, 0xBB, 0xAA, 0xF0, 0x44, 0x33, 0x22, 0x80, 0x88, 0x77, 0x66, 0x00}},
      {"dmp2 type 4: the entry is the pixel",
       true,
       4,
       index,
       {0xCC, 0xBB, 0xAA, 0x99, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}},
      {"dmp2 type 3: alpha and index planes",
       true,
       3,
       test::Join({alpha, index}),
       {0xCC, 0xBB, 0xAA, 0xF0, 0x44, 0x33, 0x22, 0x80, 0x88, 0x77, 0x66, 0x00}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    DeepmapSpec recipe;
    recipe.dmp2 = c.dmp2;
    recipe.method = 4;
    recipe.width = 3;
    recipe.band_height = 1;
    recipe.palette_type = c.type;
    recipe.palette = palette;
    recipe.with_palette = true;
    const Bytes unit =
        test::DeepmapUnit(recipe, {test::Compress(StreamForm::LzvnLiteral, c.planes)});
    CSIRecordBuilder builder;
    builder.Size(3, 1).BytesPerLine(12);
    if (c.dmp2) {
      builder.Element(11, unit);
    } else {
      builder.ChunkedElement(10, {{1, unit}}, 1);
    }
    Decoded d = DecodeRecord(builder.Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    EXPECT_EQ(test::PixelsOf(d.image), c.expected);
  }
}

// A method-10 gray record of one chunk and one tile whose predictive planes
// are given.
Bytes GrayPredictive(uint32_t width, uint32_t height, const Bytes& alpha, const Bytes& predictors,
                     const std::vector<int32_t>& residuals, size_t pad) {
  DeepmapSpec recipe;
  recipe.method = 2;
  recipe.format = alpha.empty() ? 1 : 2;
  const Bytes planes = test::PredictivePlanes(alpha, predictors, residuals, pad);
  return CSIRecordBuilder()
      .PixelFormat(" 8AG")
      .Size(width, height)
      .BytesPerLine(4 * width)
      .ChunkedElement(
          10, {{height, test::DeepmapUnit(recipe, {test::Compress(StreamForm::LzfseRaw, planes)})}},
          1)
      .Build();
}

TEST(CSIDecodeDeepmap, GrayPredictorsReconstructFromTheirNeighbours) {
  // 3 x 2 pictures: row 0 with predictor 0, row 1 with the predictor under
  // test; residuals are sign and magnitude. Expected gray values worked out
  // by hand; alpha comes from its plane.
  struct Case {
    const char* name;
    std::vector<int32_t> row0;
    uint8_t predictor;
    std::vector<int32_t> row1;
    std::vector<uint8_t> expected_row1;
    size_t pad;
  };
  const Case kCases[] = {
      {"0: none (low byte of -2)", {10, 20, 30}, 0, {5, 1, -2}, {5, 1, 254}, 8},
      // x 1: above 14, left 6, above-left 10: a tie goes to the left.
      {"1: above at x 0, then the closer of left and above",
       {10, 14, 40},
       1,
       {-4, 1, -2},
       {6, 7, 38},
       8},
      {"2: left", {10, 20, 30}, 2, {5, 1, -2}, {5, 6, 4}, 8},
      {"3: above", {10, 20, 30}, 3, {5, 1, -2}, {15, 21, 28}, 1},
      {"4: mean of left and above", {10, 20, 30}, 4, {5, 1, -2}, {15, 19, 23}, 8},
      {"4: a negative mean rounds toward zero", {0, 0, 0}, 4, {-4, 0, 7}, {252, 255, 7}, 1},
  };
  const Bytes alpha = {200, 201, 202, 203, 204, 205};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<int32_t> residuals = c.row0;
    residuals.insert(residuals.end(), c.row1.begin(), c.row1.end());
    Decoded d = DecodeRecord(GrayPredictive(3, 2, alpha, {0, c.predictor}, residuals, c.pad));
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    Bytes expected;
    for (size_t i = 0; i < 3; ++i) test::AppendBytes(expected, {uint8_t(c.row0[i]), alpha[i]});
    for (size_t i = 0; i < 3; ++i) test::AppendBytes(expected, {c.expected_row1[i], alpha[3 + i]});
    EXPECT_EQ(test::PixelsOf(d.image), expected);
  }
}

TEST(CSIDecodeDeepmap, ColourPredictionChoosesOncePerPixelAndConvertsFromLumaChroma) {
  // Components Y, u, v; u and v are doubled for the output. Row 0 (predictor
  // 0): (100, 0, 0), (102, 8, 0), (250, 20, -3). Row 1 (predictor 1):
  // x 0 takes above + (10, 2, 0) = (110, 2, 0); x 1 takes left by
  // component 0 (|102-100| > |110-100| is false), so (110, 2, 0) for all
  // components; x 2 takes above + (-200, -20, 3) = (50, 0, 0).
  const std::vector<int32_t> residuals = {100, 0, 0, 102, 8, 0, 250,  20,  -3,
                                          10,  2, 0, 0,   0, 0, -200, -20, 3};
  const Bytes alpha = {10, 11, 12, 13, 14, 15};
  DeepmapSpec recipe;
  recipe.method = 2;
  recipe.format = 4;
  const Bytes planes = test::PredictivePlanes(alpha, {0, 1}, residuals, 8);
  Decoded d = DecodeRecord(
      CSIRecordBuilder()
          .Size(3, 2)
          .BytesPerLine(12)
          .ChunkedElement(
              10, {{2, test::DeepmapUnit(recipe, {test::Compress(StreamForm::Lzvn, planes)})}}, 1)
          .Build());
  ASSERT_TRUE(d.ok) << "errno " << d.code;
  const Bytes expected = {100, 100, 100, 10, 110, 102, 94,  11, 255, 247, 233, 12,
                          112, 110, 108, 13, 112, 110, 108, 14, 50,  50,  50,  15};
  EXPECT_EQ(test::PixelsOf(d.image), expected);
}

TEST(CSIDecodeDeepmap, WideUnitsComeOutAsEightBitBGRA) {
  DeepmapSpec recipe;
  recipe.dmp2 = true;
  recipe.format = 20;
  recipe.width = 3;
  recipe.band_height = 1;
  struct Case {
    const char* name;
    uint8_t method;
    Bytes planes;
    Bytes expected;
  };
  // Predictive: colour in 1/512 units, first channel red: (256, 0, 0) is
  // 0.5 everywhere; (100, 60, 0) is R 160, G 100, B 40; (0, -10, 0) is
  // R -10, G 0, B 10. Plain: four f16 per pixel, R, G, B, A.
  Bytes plain;
  for (uint16_t h : {0x3800, 0x3C00, 0xBC00, 0x3400, 0x2C00, 0x0000, 0x4000, 0x3C00, 0x3A00, 0x3A00,
                     0x3A00, 0x0000}) {
    test::AppendU16LE(plain, h);
  }
  const Case kCases[] = {
      {"predictive",
       2,
       test::PredictivePlanes({255, 128, 0}, {0}, {256, 0, 0, 100, 60, 0, 0, -10, 0}, 16),
       {128, 128, 128, 255, 20, 50, 80, 128, 5, 0, 0, 0}},
      {"plain", 3, plain, {0, 255, 128, 64, 255, 0, 16, 255, 191, 191, 191, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    recipe.method = c.method;
    Decoded d =
        DecodeRecord(CSIRecordBuilder()
                         .PixelFormat("WBGR")
                         .Size(3, 1)
                         .BytesPerLine(24)
                         .Element(11, test::DeepmapUnit(
                                          recipe, {test::Compress(StreamForm::LzfseRaw, c.planes)}))
                         .Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    EXPECT_STREQ(d.image.pixel_format, "BGRA");
    EXPECT_EQ(d.image.stride, 12);
    EXPECT_EQ(test::PixelsOf(d.image), c.expected);
  }
}

TEST(CSIDecodeDeepmap, EveryTileAndBandStartsItsPredictionAfresh) {
  // Each rectangle: row 0 predictor 3 (above) with residuals 7; row 1
  // predictor 2 (left) with 7 at x 0; later rows predictor 3 with 0. Every
  // value is 7 only when "above" and "left" restart at each rectangle.
  auto planes = [](uint32_t w, uint32_t h, size_t pad) {
    Bytes predictors;
    std::vector<int32_t> residuals;
    for (uint32_t y = 0; y < h; ++y) {
      predictors.push_back(y == 1 ? 2 : 3);
      for (uint32_t x = 0; x < w; ++x) residuals.push_back(y == 0 || (y == 1 && x == 0) ? 7 : 0);
    }
    return test::PredictivePlanes({}, predictors, residuals, pad);
  };
  struct Case {
    const char* name;
    uint32_t method, width, height;
  };
  const Case kCases[] = {
      {"method 10: tiles of 256 across and down", 10, 258, 257},
      {"method 11: bands of 3 rows", 11, 4, 8},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> streams;
    DeepmapSpec recipe;
    recipe.method = 2;
    recipe.format = 1;  // gray without alpha
    CSIRecordBuilder builder;
    builder.PixelFormat(" 8AG").Size(c.width, c.height).BytesPerLine(1);
    if (c.method == 10) {
      for (uint32_t ty = 0; ty < c.height; ty += 256) {
        for (uint32_t tx = 0; tx < c.width; tx += 256) {
          streams.push_back(test::Compress(
              StreamForm::Lzfse,
              planes(std::min(256u, c.width - tx), std::min(256u, c.height - ty), 8)));
        }
      }
      builder.ChunkedElement(10, {{c.height, test::DeepmapUnit(recipe, streams)}}, 1);
    } else {
      for (uint32_t y = 0; y < c.height; y += 3) {
        streams.push_back(test::Compress(StreamForm::LzvnLiteral,
                                         planes(c.width, std::min(3u, c.height - y), 16)));
      }
      recipe.dmp2 = true;
      recipe.width = static_cast<uint16_t>(c.width);
      recipe.band_height = 3;
      builder.Element(11, test::DeepmapUnit(recipe, streams));
    }
    Decoded d = DecodeRecord(builder.Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    Bytes expected;
    for (uint32_t i = 0; i < c.width * c.height; ++i) test::AppendBytes(expected, {7, 255});
    EXPECT_EQ(test::PixelsOf(d.image), expected);
  }
}

TEST(CSIDecodeNewerMethods, RefusesUnitsThatDoNotHoldTogether) {
  // Valid bases: a 2 x 2 "BGRA" picture as method 10 (one chunk), method 11
  // and method 8; each case breaks one thing.
  const Bytes plain16 = Bytes(16, 0x40);
  auto dmap = [](DeepmapSpec recipe, const std::vector<Bytes>& planes) {
    std::vector<Bytes> streams;
    for (const Bytes& p : planes) streams.push_back(test::Compress(StreamForm::LzfseRaw, p));
    return test::DeepmapUnit(recipe, streams);
  };
  auto m10 = [&](const Bytes& unit, uint32_t rows = 2, const char* format = "BGRA") {
    return CSIRecordBuilder()
        .PixelFormat(format)
        .Size(2, 2)
        .BytesPerLine(8)
        .ChunkedElement(10, {{rows, unit}}, 1)
        .Build();
  };
  auto m11 = [&](const Bytes& unit) {
    return CSIRecordBuilder().Size(2, 2).BytesPerLine(8).Element(11, unit).Build();
  };
  auto m8 = [&](const Bytes& data, const char* format = "BGRA") {
    return CSIRecordBuilder()
        .PixelFormat(format)
        .Size(2, 2)
        .BytesPerLine(8)
        .Element(8, test::Compress(StreamForm::LzfseRaw, data))
        .Build();
  };
  DeepmapSpec plain;
  DeepmapSpec banded;
  banded.dmp2 = true;
  banded.width = 2;
  banded.band_height = 2;
  DeepmapSpec predictive;
  predictive.method = 2;
  DeepmapSpec palette;
  palette.method = 4;
  palette.with_palette = true;
  palette.palette = {1, 2};
  const Bytes unit = dmap(plain, {plain16});
  const std::vector<uint32_t> two = {Entry(0), Entry(1)};
  auto with = [](DeepmapSpec s, auto change) {
    change(s);
    return s;
  };

  struct Bad {
    std::string name;
    Bytes record;
    int code;
  };
  const std::vector<Bad> bad = {
      {"planes shorter than the tile", m10(dmap(plain, {Bytes(15, 1)})), EINVAL},
      {"planes longer than the tile", m10(dmap(plain, {Bytes(17, 1)})), EINVAL},
      // 30 bytes of planes for 2 x 2 "BGRA", 32 with the padding.
      {"predictive planes neither exact nor padded", m10(dmap(predictive, {Bytes(31, 0)})), EINVAL},
      {"predictor above 4",
       m10(dmap(predictive,
                {test::PredictivePlanes(Bytes(4, 255), {0, 5}, std::vector<int32_t>(12, 1), 8)})),
       EINVAL},
      {"deepmap index past the palette",
       m10(dmap(palette, {Bytes{255, 255, 255, 255, 0, 1, 2, 0}})), EINVAL},
      {"palette of 257 entries",
       m10(dmap(with(palette, [](DeepmapSpec& s) { s.palette.assign(257, 0); }), {Bytes(8, 0)})),
       EINVAL},
      {"palette entries past the unit",
       m10(test::Patched(dmap(palette, {Bytes(8, 0)}), test::PutU16LE(16 + 8, 200))), EINVAL},
      {"dmp2 palette type 2",
       m11(dmap(with(banded,
                     [](DeepmapSpec& s) {
                       s.method = 4;
                       s.with_palette = true;
                       s.palette = {1, 2};
                       s.palette_type = 2;
                     }),
                {Bytes(4, 0)})),
       EINVAL},
      {"unknown inner method 5",
       m10(dmap(with(plain, [](DeepmapSpec& s) { s.method = 5; }), {plain16})), EINVAL},
      {"inner method 0", m10(dmap(with(plain, [](DeepmapSpec& s) { s.method = 0; }), {plain16})),
       EINVAL},
      {"fewer streams than tiles",
       CSIRecordBuilder()
           .Size(300, 1)
           .BytesPerLine(1200)
           .ChunkedElement(10, {{1, dmap(plain, {Bytes(1024, 0)})}}, 1)
           .Build(),
       EINVAL},
      {"stream byte count past the unit", m10(test::Patched(unit, test::PutU32LE(16 + 8, 1000))),
       EINVAL},
      {"wrapper length past the chunk", m10(test::Patched(unit, test::PutU32LE(8, 1000))), EINVAL},
      {"wrapper without a header", m10(test::Patched(unit, test::PutU32LE(8, 7))), EINVAL},
      {"stream that is neither LZFSE nor LZVN",
       m10(test::DeepmapUnit(plain, {test::BytesOf("not a stream")})), EINVAL},
      {"dmap unit in a method-11 element", m11(unit), EINVAL},
      {"dmp2 unit in a method-10 chunk", m10(dmap(banded, {plain16})), EINVAL},
      {"dmp2 width differs from the picture's",
       m11(dmap(with(banded, [](DeepmapSpec& s) { s.width = 3; }), {plain16})), EINVAL},
      {"dmp2 band height 0",
       m11(dmap(with(banded, [](DeepmapSpec& s) { s.band_height = 0; }), {plain16})), EINVAL},
      {"gray deepmap in a BGRA record",
       m10(dmap(with(plain, [](DeepmapSpec& s) { s.format = 2; }), {Bytes(8, 0)})), EINVAL},
      {"colour deepmap in a gray record", m10(unit, 2, " 8AG"), EINVAL},
      {"chunk rows beyond the height", m10(unit, 3), EINVAL},
      {"chunk rows short of the height",
       CSIRecordBuilder().Size(2, 3).BytesPerLine(8).ChunkedElement(10, {{2, unit}}, 1).Build(),
       EINVAL},
      {"palette image index past the palette",
       m8(test::PaletteImageData({Entry(0), Entry(1), Entry(2)}, 2, 2, {0, 1, 2, 3})), EINVAL},
      {"palette image one byte longer",
       m8(test::Join({test::PaletteImageData(two, 1, 2, {0, 1, 1, 0}), {0}})), EINVAL},
      {"palette image one row short", m8(test::PaletteImageData(two, 1, 2, {0, 1})), EINVAL},
      {"palette image magic",
       m8(test::Patched(test::PaletteImageData(two, 1, 2, {0, 1, 1, 0}),
                        test::PutU32LE(0, 0xCAFEF00E))),
       EINVAL},
      {"palette image without colours",
       m8(test::Patched(test::PaletteImageData(two, 1, 2, {0, 1, 1, 0}), test::PutU16LE(8, 0))),
       EINVAL},
      {"deepmap format 10",
       m10(dmap(with(plain, [](DeepmapSpec& s) { s.format = 10; }), {plain16})), kErrUnsupported},
      {"palette image in a gray record",
       m8(test::PaletteImageData(two, 1, 2, {0, 1, 1, 0}), " 8AG"), kErrUnsupported},
      {"deepmap palette in a gray record",
       m10(dmap(with(palette, [](DeepmapSpec& s) { s.format = 2; }), {Bytes(8, 0)}), 2, " 8AG"),
       kErrUnsupported},
  };
  for (const Bad& c : bad) {
    SCOPED_TRACE(c.name);
    Decoded d = DecodeRecord(c.record);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.code, c.code);
    EXPECT_EQ(d.image.pixels.data, nullptr);
  }
}

TEST(CSIDecodeNewerMethods, AllocationFailuresGiveENOMEMAndNoPixels) {
  // Two tiles, the second LZFSE-compressed: pixels, planes, rows and the
  // LZFSE work area are all allocated.
  DeepmapSpec recipe;
  recipe.method = 2;
  recipe.format = 2;
  const auto planes = [](uint32_t w) {
    return test::PredictivePlanes(Bytes(w, 255), {0}, std::vector<int32_t>(w, 3), 8);
  };
  Bytes record =
      CSIRecordBuilder()
          .PixelFormat(" 8AG")
          .Size(300, 1)
          .BytesPerLine(600)
          .ChunkedElement(
              10,
              {{1, test::DeepmapUnit(recipe, {test::Compress(StreamForm::LzvnLiteral, planes(256)),
                                              test::Compress(StreamForm::LzfseRaw, planes(44))})}},
              1)
          .Build();
  const BOMBlock block = test::BlockOf(record);
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    Image image;
    Mem_FailAfter(n);
    const bool ok = CSI_DecodeImage(block, image);
    const int code = errno;
    Mem_FailAfter(-1);
    if (ok) {
      Bytes expected;
      for (int i = 0; i < 300; ++i) test::AppendBytes(expected, {3, 255});
      EXPECT_EQ(test::PixelsOf(image), expected);
      EXPECT_GE(n, 3);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(image.pixels.data, nullptr);
    ASSERT_LT(n, 10);
  }
}

}  // namespace
}  // namespace skarvel
