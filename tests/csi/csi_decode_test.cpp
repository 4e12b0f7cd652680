// CSI_DecodeImage with the stored methods 0 to 4: each method chunked and not,
// "BGRA" and " 8AG", the run-length row rule, wide records, and the records
// it must refuse.

#include "csi/csi_decode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/mem.h"
#include "base/result.h"
#include "tests/csi/csi_decode_fixtures.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIChunk;
using test::CSIRecordBuilder;
using test::CSIRecordLayout;

// Rows of `stride` bytes; the first three pixels of a row are alike (so a
// fill run can stand for them) and the padding after the pixels is 0xEE.
Bytes Picture(uint32_t width, uint32_t height, uint32_t stride, uint32_t bpp) {
  Bytes p(size_t{stride} * height, 0xEE);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < bpp; ++c) {
        const uint32_t column = x < 3 ? 0 : x;
        p[size_t{y} * stride + x * bpp + c] = static_cast<uint8_t>(column * 7 + y * 13 + c * 50);
      }
    }
  }
  return p;
}

Bytes GZip(const Bytes& data) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&zs, data.size()) + 32);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// The rows [y0, y0 + rows) of a picture encoded by `method`. Run-length rows
// are a fill run of three pixels and a literal run of the rest.
Bytes EncodeBand(uint32_t method, const Bytes& picture, uint32_t width, uint32_t stride,
                 uint32_t bpp, uint32_t y0, uint32_t rows) {
  const Bytes band(picture.begin() + static_cast<ptrdiff_t>(size_t{y0} * stride),
                   picture.begin() + static_cast<ptrdiff_t>(size_t{y0 + rows} * stride));
  switch (method) {
    case 0:
      return band;
    case 1: {
      std::vector<std::vector<test::Run>> runs;
      for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = band.data() + size_t{y} * stride;
        runs.push_back({{3, 1, Bytes(row, row + bpp)},
                        {static_cast<uint16_t>(width - 3), 0,
                         Bytes(row + 3 * bpp, row + size_t{width} * bpp)}});
      }
      return test::RunLengthStream(width, runs);
    }
    case 2:
      return GZip(band);
    case 3:
      return test::Compress(test::StreamForm::Lzvn, band);
    default:
      return test::Compress(test::StreamForm::Lzfse, band);
  }
}

Bytes Sized(Bytes b, size_t size) {
  b.resize(size);
  return b;
}

using test::Decoded;
using test::DecodeRecord;

TEST(CSIDecodeImage, StoredMethodsDecodeEveryChunkAtTheRecordsStride) {
  struct Case {
    const char* name;
    const char* format;
    uint32_t method;
    uint32_t height;
    std::vector<uint32_t> chunk_rows;  // empty: one stream
  };
  const Case kCases[] = {
      {"uncompressed BGRA", "BGRA", 0, 10, {}},
      {"uncompressed gray, 3 chunks", " 8AG", 0, 10, {3, 3, 4}},
      {"run-length BGRA, 3 chunks", "BGRA", 1, 10, {3, 3, 4}},
      {"run-length gray", " 8AG", 1, 10, {}},
      {"gzip BGRA", "BGRA", 2, 10, {}},
      {"gzip gray, 2 chunks", " 8AG", 2, 10, {5, 5}},
      {"LZVN BGRA, 3 chunks", "BGRA", 3, 10, {3, 3, 4}},
      {"LZVN gray", " 8AG", 3, 10, {}},
      {"LZFSE BGRA, chunks of 10, 10 and 12 rows", "BGRA", 4, 32, {10, 10, 12}},
      {"LZFSE gray", " 8AG", 4, 10, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint32_t width = 13;
    const uint32_t bpp = c.format[0] == ' ' ? 2 : 4;
    const uint32_t stride = width * bpp + 12;
    Bytes picture = Picture(width, c.height, stride, bpp);
    if (c.method == 1) {  // run-length rows leave the padding untouched: zero
      for (uint32_t y = 0; y < c.height; ++y) {
        std::memset(picture.data() + size_t{y} * stride + width * bpp, 0, stride - width * bpp);
      }
    }
    CSIRecordBuilder builder;
    builder.PixelFormat(c.format).Size(width, c.height).BytesPerLine(stride);
    if (c.chunk_rows.empty()) {
      builder.Element(c.method, EncodeBand(c.method, picture, width, stride, bpp, 0, c.height));
    } else {
      std::vector<CSIChunk> chunks;
      uint32_t y = 0;
      for (uint32_t rows : c.chunk_rows) {
        chunks.push_back({rows, EncodeBand(c.method, picture, width, stride, bpp, y, rows)});
        y += rows;
      }
      builder.ChunkedElement(c.method, chunks, 1);
    }
    Decoded d = DecodeRecord(builder.Build());
    ASSERT_TRUE(d.ok) << "errno " << d.code;
    EXPECT_EQ(d.image.width, 13);
    EXPECT_EQ(d.image.height, static_cast<int32_t>(c.height));
    EXPECT_EQ(d.image.stride, static_cast<int32_t>(stride));
    EXPECT_STREQ(d.image.pixel_format, c.format);
    EXPECT_EQ(test::PixelsOf(d.image), picture);
  }
}

TEST(CSIDecodeImage, RunLengthRowsAdvanceByTheStrideWhateverTheirRunsCover) {
  // Two chunks of two rows each, stride 48, rows of 5 pixels (20 bytes): the
  // second chunk starts 96 bytes in, and the rest of each row stays zero.
  const Bytes pixel = {1, 2, 3, 4};
  Bytes literal;
  for (uint8_t i = 0; i < 4; ++i) test::AppendBytes(literal, {uint8_t(10 + i), 20, 30, 40});
  const Bytes first =
      test::RunLengthStream(5, {{{5, 7, pixel}}, {{1, 0, {9, 9, 9, 9}}, {4, 0, literal}}});
  const Bytes second = test::RunLengthStream(
      5, {{{2, 1, pixel}, {3, 1, {5, 6, 7, 8}}}, {{5, 2, {0xAA, 0, 0, 0xFF}}}});
  Decoded d = DecodeRecord(CSIRecordBuilder()
                               .Size(5, 4)
                               .BytesPerLine(48)
                               .ChunkedElement(1, {{2, first}, {2, second}})
                               .Build());
  ASSERT_TRUE(d.ok) << "errno " << d.code;
  Bytes expected(4 * 48, 0);
  auto put = [&](size_t row, size_t x, const Bytes& px) {
    std::memcpy(expected.data() + row * 48 + x * 4, px.data(), 4);
  };
  for (size_t x = 0; x < 5; ++x) put(0, x, pixel);
  put(1, 0, {9, 9, 9, 9});
  for (size_t x = 1; x < 5; ++x) put(1, x, {uint8_t(10 + x - 1), 20, 30, 40});
  for (size_t x = 0; x < 2; ++x) put(2, x, pixel);
  for (size_t x = 2; x < 5; ++x) put(2, x, {5, 6, 7, 8});
  for (size_t x = 0; x < 5; ++x) put(3, x, {0xAA, 0, 0, 0xFF});
  EXPECT_EQ(test::PixelsOf(d.image), expected);
}

TEST(CSIDecodeImage, DataMissingOnlyTheLastRowsPaddingReadsAsZeros) {
  Bytes data(2 * 20 + 16, 0x55);  // stride 20, 4 pixels of 4 bytes per row
  Decoded d = DecodeRecord(CSIRecordBuilder().Size(4, 3).BytesPerLine(20).Element(0, data).Build());
  ASSERT_TRUE(d.ok) << "errno " << d.code;
  Bytes expected = data;
  expected.resize(3 * 20, 0);
  EXPECT_EQ(test::PixelsOf(d.image), expected);
}

TEST(CSIDecodeImage, WideRecordsComeOutAsEightBitBGRA) {
  // f16 red, green, blue, alpha -> round(255 * v), clamped.
  struct Pixel {
    uint16_t r, g, b, a;
    uint8_t out[4];  // blue, green, red, alpha
  };
  const Pixel kPixels[] = {
      {0x3800, 0x3C00, 0x0000, 0x3C00, {0, 255, 128, 255}},  // 0.5 1.0 0 1.0
      {0xBC00, 0x4000, 0x2C00, 0x3800, {16, 255, 0, 128}},   // -1 2.0 0.0625 0.5
      {0x7E00, 0x7C00, 0x0001, 0xFC00, {0, 255, 0, 0}},      // NaN inf tiny -inf
      {0x1C00, 0x3BFF, 0x3A00, 0x33F0, {191, 255, 1, 63}},   // 1/256 0.99951 0.75 0.2480
  };
  Bytes data;
  for (const Pixel& p : kPixels) {
    for (uint16_t v : {p.r, p.g, p.b, p.a}) test::AppendU16LE(data, v);
  }
  test::AppendZeros(data, 8);  // padding: stride 40 for 4 pixels of 8 bytes
  Decoded d = DecodeRecord(CSIRecordBuilder()
                               .PixelFormat("WBGR")
                               .Size(4, 1)
                               .BytesPerLine(40)
                               .Element(4, test::Compress(test::StreamForm::LzfseRaw, data))
                               .Build());
  ASSERT_TRUE(d.ok) << "errno " << d.code;
  EXPECT_STREQ(d.image.pixel_format, "BGRA");
  EXPECT_EQ(d.image.stride, 16);
  Bytes expected;
  for (const Pixel& p : kPixels) expected.insert(expected.end(), p.out, p.out + 4);
  EXPECT_EQ(test::PixelsOf(d.image), expected);
}

TEST(CSIDecodeImage, RefusesRecordsItCannotDecode) {
  // A valid 4 x 3 "BGRA" record with bytes per line 16 in several shapes.
  const Bytes rows(48, 0x11);
  auto base = [] { return CSIRecordBuilder().Size(4, 3).BytesPerLine(16); };
  std::vector<std::vector<test::Run>> rle_rows(3, {{4, 1, {1, 2, 3, 4}}});
  const Bytes rle = test::RunLengthStream(4, rle_rows);
  const Bytes literal_rle =
      test::RunLengthStream(4, std::vector<std::vector<test::Run>>(3, {{4, 0, Bytes(16, 3)}}));
  CSIRecordLayout layout;
  const Bytes chunked =
      base().ChunkedElement(0, {{1, Bytes(16, 1)}, {2, Bytes(32, 2)}}).Build(&layout);
  const size_t p = layout.payload_at;
  const size_t second_chunk = p + 16 + 20 + 16;
  Bytes zlib_wrapped(64);
  uLongf zlib_size = zlib_wrapped.size();
  ASSERT_EQ(compress(zlib_wrapped.data(), &zlib_size, rows.data(), rows.size()), Z_OK);
  zlib_wrapped.resize(zlib_size);
  Bytes gzip_cut = GZip(rows);
  gzip_cut.resize(gzip_cut.size() - 8);
  Bytes no_end = test::Compress(test::StreamForm::LzvnLiteral, rows);
  no_end.resize(no_end.size() - 8);

  struct Bad {
    std::string name;
    Bytes record;
    int code;
  };
  std::vector<Bad> bad = {
      {"not a CSI record", base().Magic("ITSC").Element(0, rows).Build(), EINVAL},
      {"pixel format JPEG", base().PixelFormat("JPEG").Element(0, rows).Build(), kErrUnsupported},
      {"pixel format GEPJ", base().PixelFormat("GEPJ").Element(0, rows).Build(), kErrUnsupported},
      {"pixel format PbeW", base().PixelFormat("PbeW").Element(0, rows).Build(), kErrUnsupported},
      {"pixel format ATAD", base().PixelFormat("ATAD").Element(0, rows).Build(), kErrUnsupported},
      {"no pixel format", base().PixelFormat("").Element(0, rows).Build(), kErrUnsupported},
      {"width 0", base().Size(0, 3).Element(0, rows).Build(), EINVAL},
      {"65536 x 65536",
       CSIRecordBuilder().Size(65536, 65536).BytesPerLine(262144).Element(0, rows).Build(), EINVAL},
      {"bytes per line below width x 4",
       CSIRecordBuilder().Size(4, 3).BytesPerLine(15).Element(0, rows).Build(), EINVAL},
      {"bytes per line x height above 2^30",
       CSIRecordBuilder().Size(4, 3).BytesPerLine(0x20000000).Element(0, rows).Build(), EINVAL},
      {"no bytes-per-line subblock", CSIRecordBuilder().Size(4, 3).Element(0, rows).Build(),
       ENOENT},
      {"no payload", base().Build(), ENOENT},
      {"raw-data payload", base().RawData(rows).Build(), ENOENT},
      {"payload of 15 bytes", base().Payload(Sized(test::BytesOf("MLEC"), 15)).Build(), ENOENT},
      {"element header past the block",
       base().Payload(Sized(test::BytesOf("MLEC"), 8)).PayloadSize(16).Build(), EINVAL},
      {"method 5", base().Element(5, rows).Build(), kErrUnsupported},
      {"method 6", base().Element(6, rows).Build(), kErrUnsupported},
      {"method 7", base().Element(7, rows).Build(), kErrUnsupported},
      {"method 9", base().Element(9, rows).Build(), kErrUnsupported},
      {"method 12", base().Element(12, rows).Build(), kErrUnsupported},
      {"data length past the record",
       test::Patched(base().Element(0, rows).Build(&layout),
                     test::PutU32LE(layout.payload_at + 12, 49)),
       EINVAL},
      {"chunk count past the record", test::Patched(chunked, test::PutU32LE(p + 12, 100)), EINVAL},
      {"chunk byte count past the record",
       test::Patched(chunked, test::PutU32LE(second_chunk + 16, 33)), EINVAL},
      {"second chunk header not KCBC", test::Patched(chunked, test::PutText(second_chunk, "KCBD")),
       EINVAL},
      {"uncompressed data beyond the capacity", base().Element(0, Bytes(97, 1)).Build(), EINVAL},
      {"uncompressed data short of the last row's pixels", base().Element(0, Bytes(47, 1)).Build(),
       EINVAL},
      {"element without data", base().Element(4, {}).Build(), EINVAL},
      {"run-length row offsets table past the stream",
       base().Element(1, test::Patched(rle, test::PutU32LE(8, 100))).Build(), EINVAL},
      {"run-length row offset past the stream",
       base().Element(1, test::Patched(rle, test::PutU32LE(16, 10000))).Build(), EINVAL},
      {"run-length run past the row",
       base()
           .Element(
               1, test::RunLengthStream(
                      4, {{{5, 1, {1, 1, 1, 1}}}, {{4, 1, {1, 1, 1, 1}}}, {{4, 1, {1, 1, 1, 1}}}}))
           .Build(),
       EINVAL},
      {"run-length run of no pixels",
       base()
           .Element(1, test::RunLengthStream(4, {{{0, 1, {1, 1, 1, 1}}, {4, 1, {1, 1, 1, 1}}},
                                                 {{4, 1, {1, 1, 1, 1}}},
                                                 {{4, 1, {1, 1, 1, 1}}}}))
           .Build(),
       EINVAL},
      {"run-length literal past the stream",
       base()
           .Element(1, test::Patched(literal_rle, test::Truncate(literal_rle.size() - 1)))
           .Build(),
       EINVAL},
      {"run-length width beyond the bytes per line",
       base()
           .Element(1, test::RunLengthStream(
                           5, std::vector<std::vector<test::Run>>(3, {{5, 1, {1, 1, 1, 1}}})))
           .Build(),
       EINVAL},
      {"run-length rows beyond the capacity",
       base()
           .Element(1, test::RunLengthStream(
                           4, std::vector<std::vector<test::Run>>(7, {{4, 1, {1, 1, 1, 1}}})))
           .Build(),
       EINVAL},
      {"gzip stream cut short", base().Element(2, gzip_cut).Build(), EINVAL},
      {"zlib wrapper instead of gzip", base().Element(2, zlib_wrapped).Build(), EINVAL},
      {"LZVN stream without its end", base().Element(3, no_end).Build(), EINVAL},
      {"LZFSE stream that does not decode",
       base().Element(4, test::BytesOf("bvx2garbage!")).Build(), EINVAL},
  };
  for (Bad& c : bad) {
    SCOPED_TRACE(c.name);
    Image image;
    ASSERT_TRUE(Buffer_Append(image.pixels, "old", 3));
    const BOMBlock block = test::BlockOf(c.record);
    EXPECT_FALSE(CSI_DecodeImage(block, image));
    EXPECT_EQ(errno, c.code);
    EXPECT_EQ(image.pixels.data, nullptr);
    EXPECT_EQ(image.pixels.size, 0u);
  }
}

TEST(CSIDecodeImage, AllocationFailuresGiveENOMEMAndNoPixels) {
  const uint32_t width = 40, height = 30, stride = 160;
  const Bytes picture = Picture(width, height, stride, 4);
  Bytes record = CSIRecordBuilder()
                     .Size(width, height)
                     .BytesPerLine(stride)
                     .Element(4, test::Compress(test::StreamForm::Lzfse, picture))
                     .Build();
  const BOMBlock block = test::BlockOf(record);
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    Image image;
    Mem_FailAfter(n);
    const bool ok = CSI_DecodeImage(block, image);
    const int code = errno;
    const long failed = Mem_FailedCount();
    Mem_FailAfter(-1);
    if (ok) {
      EXPECT_EQ(failed, 0);
      EXPECT_EQ(test::PixelsOf(image), picture);
      EXPECT_GT(n, 0);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(image.pixels.data, nullptr);
    ASSERT_LT(n, 10);
  }
}

}  // namespace
}  // namespace skarvel
