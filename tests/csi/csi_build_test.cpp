// Rendition building: subblock layouts and sizes, in-place rewrites, the band
// rule, the element and chunk headers, the run-length stream, and encode then
// decode with every stored method.

#include "csi/csi_build.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/mem.h"
#include "base/result.h"
#include "csi/csi_decode.h"
#include "tests/support/byte_patch.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIRecordBuilder;

// A record held in a store block, as rendition values are.
struct Record {
  BOMStore store;
  explicit Record(const Bytes& bytes) {
    EXPECT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, bytes.data(), bytes.size()));
  }
  Record() : Record(CSIRecordBuilder().Size(0, 0).Build()) {}
  BOMBlock& block() { return store.blocks[1]; }
  Bytes bytes() { return Bytes(block().data, block().data + block().size); }
  uint32_t U32(uint64_t at) { return LoadU32LEAt(block().bytes(), at); }
  uint16_t U16(uint64_t at) { return LoadU16LEAt(block().bytes(), at); }
};

// Rows of `stride` bytes with distinct pixel bytes and 0xEE padding.
Bytes Picture(uint32_t width, uint32_t height, uint32_t stride, uint32_t bpp) {
  Bytes p(size_t{stride} * height, 0xEE);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t i = 0; i < width * bpp; ++i) {
      p[size_t{y} * stride + i] = static_cast<uint8_t>(i * 7 + y * 29 + (i * y) % 5);
    }
  }
  return p;
}

TEST(CSIBuild, SubblocksHaveTheirLayoutsAndSizes) {
  Record r;
  const CSISliceRect slices[] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
  const CSIMetric metrics[] = {{0, 0, 0, 0, 57, 58}};
  const CSIReferencePair pairs[] = {{1, 9}, {2, 181}};
  const char* names[] = {"ab", nullptr, "cde"};
  ASSERT_TRUE(CSI_AddSlices(r.block(), slices));
  ASSERT_TRUE(CSI_AddMetrics(r.block(), metrics));
  ASSERT_TRUE(CSI_AddReference(r.block(), -3, 2, 57, 58, 12, pairs));
  ASSERT_TRUE(CSI_AddComposition(r.block(), 0, 1.0f));
  ASSERT_TRUE(CSI_AddOrientation(r.block(), 1));
  ASSERT_TRUE(CSI_AddBytesPerLine(r.block(), 256));
  ASSERT_TRUE(CSI_AddNameList(r.block(), names));
  ASSERT_TRUE(CSI_AddProperties(r.block(), 1, 0.5f, 2.0f));

  // Slices 44, metrics 36, reference 50, composition 16, orientation 12,
  // bytes per line 12, name list 16 + 6 + 7, properties 20.
  struct Sub {
    uint32_t id;
    uint64_t at;
    uint32_t length;
  };
  const Sub kSubs[] = {{1001, 184, 36}, {1003, 228, 28}, {1010, 264, 42}, {1004, 314, 8},
                       {1006, 330, 4},  {1007, 342, 4},  {1013, 354, 21}, {1015, 383, 12}};
  for (const Sub& s : kSubs) {
    SCOPED_TRACE(s.id);
    EXPECT_EQ(r.U32(s.at), s.id);
    EXPECT_EQ(r.U32(s.at + 4), s.length);
  }
  EXPECT_EQ(r.U32(168), 383u + 20u - 184u);
  EXPECT_EQ(r.block().size, 403u);

  EXPECT_EQ(r.U32(192), 2u);  // slices
  EXPECT_EQ(r.U32(196 + 16), 5u);
  EXPECT_EQ(r.U32(196 + 28), 8u);
  EXPECT_EQ(r.U32(236), 1u);  // metrics
  EXPECT_EQ(r.U32(240 + 16), 57u);
  EXPECT_EQ(r.U32(240 + 20), 58u);

  const uint64_t ref = 264;
  EXPECT_EQ(std::memcmp(r.block().data + ref + 8, "KLNI", 4), 0);
  EXPECT_EQ(r.U32(ref + 12), 0u);
  EXPECT_EQ(static_cast<int32_t>(r.U32(ref + 16)), -3);
  EXPECT_EQ(r.U32(ref + 20), 2u);
  EXPECT_EQ(r.U32(ref + 24), 57u);
  EXPECT_EQ(r.U32(ref + 28), 58u);
  EXPECT_EQ(r.U16(ref + 32), 12u);
  EXPECT_EQ(r.U32(ref + 34), 12u);  // key length: two pairs and the zero pair
  EXPECT_EQ(r.U16(ref + 38), 1u);
  EXPECT_EQ(r.U16(ref + 40), 9u);
  EXPECT_EQ(r.U16(ref + 42), 2u);
  EXPECT_EQ(r.U16(ref + 44), 181u);
  EXPECT_EQ(r.U32(ref + 46), 0u);
  const std::span<const uint8_t> ref_bytes = r.block().bytes().subspan(ref, 50);
  EXPECT_EQ(CSI_GetReferenceAttribute(ref_bytes, 2), 181);
  EXPECT_EQ(CSI_GetReferenceAttribute(ref_bytes, 8), -1);

  float opacity = 0;
  std::memcpy(&opacity, r.block().data + 314 + 12, 4);
  EXPECT_EQ(opacity, 1.0f);
  EXPECT_EQ(r.U32(342 + 8), 256u);

  const Bytes name_list(r.block().data + 354 + 8, r.block().data + 354 + 29);
  const Bytes expected_names = {2, 0,   0,   0, 0, 0, 0, 0,   2,   0,  0,
                                0, 'a', 'b', 3, 0, 0, 0, 'c', 'd', 'e'};
  EXPECT_EQ(name_list, expected_names);
  float props[2];
  std::memcpy(props, r.block().data + 383 + 12, 8);
  EXPECT_EQ(r.U32(383 + 8), 1u);
  EXPECT_EQ(props[0], 0.5f);
  EXPECT_EQ(props[1], 2.0f);
}

TEST(CSIBuild, SubblocksGoBeforeAnExistingPayload) {
  Record r(CSIRecordBuilder().Size(1, 1).Composition(0, 0.0f).ScalingInfo({{1, 1, 0}}).Build());
  const Bytes payload(r.block().data + 200, r.block().data + r.block().size);
  ASSERT_TRUE(CSI_AddOrientation(r.block(), 1));
  EXPECT_EQ(r.U32(168), 28u);
  EXPECT_EQ(r.U32(200), 1006u);
  EXPECT_EQ(Bytes(r.block().data + 212, r.block().data + r.block().size), payload);
}

TEST(CSIBuild, RewritingASubblockStaysInsideIt) {
  const CSISliceRect two[] = {{1, 1, 1, 1}, {2, 2, 2, 2}};
  const CSISliceRect one[] = {{7, 7, 7, 7}};
  const CSISliceRect three[] = {{3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}};
  Record r;
  ASSERT_TRUE(CSI_AddSlices(r.block(), two));
  ASSERT_TRUE(CSI_AddOrientation(r.block(), 1));
  const Bytes before = r.bytes();

  // Less content: written in place, lengths unchanged.
  ASSERT_TRUE(CSI_AddSlices(r.block(), one));
  EXPECT_EQ(r.block().size, before.size());
  EXPECT_EQ(r.U32(188), 36u);
  EXPECT_EQ(r.U32(192), 1u);
  EXPECT_EQ(r.U32(196), 7u);
  ASSERT_TRUE(CSI_AddOrientation(r.block(), 6));
  EXPECT_EQ(r.U32(228 + 8), 6u);

  // More content than the subblock holds: refused, nothing written.
  const Bytes rewritten = r.bytes();
  errno = 0;
  EXPECT_FALSE(CSI_AddSlices(r.block(), three));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(r.bytes(), rewritten);

  // A malformed fixed-size subblock shorter than its content is refused too.
  Record shorter(CSIRecordBuilder().Subblock(1004, Bytes(4, 0)).Build());
  const Bytes kept = shorter.bytes();
  errno = 0;
  EXPECT_FALSE(CSI_AddComposition(shorter.block(), 0, 1.0f));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(shorter.bytes(), kept);
}

TEST(CSIBuild, RefusesBlocksThatAreNotRecords) {
  Record r(test::BytesOf("not a CSI record at all, just bytes"));
  const CSIScalingEntry entry[] = {{1, 1, 1}};
  const uint8_t pixels[32] = {};
  errno = 0;
  EXPECT_FALSE(CSI_AddOrientation(r.block(), 1));
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_FALSE(CSI_SetScalingInfo(r.block(), entry));
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_FALSE(
      CSI_SetImagePayload(r.block(), 3, CompressionMethod::Uncompressed, 0, pixels, 1, 1, 32, 4));
  EXPECT_EQ(errno, EINVAL);
}

TEST(CSIBuild, ChunkBandsSplitRowsByTheFloorRule) {
  struct Case {
    int32_t height, chunks;
    std::vector<int32_t> rows;
  };
  const Case kCases[] = {
      {10, 3, {3, 3, 4}}, {29, 4, {7, 7, 7, 8}}, {60, 3, {20, 20, 20}},
      {10, 0, {10}},      {2, 4, {0, 1, 0, 1}},  {1024, 4, {256, 256, 256, 256}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.height) + " rows in " + std::to_string(c.chunks));
    std::vector<int32_t> rows;
    int32_t next = 0;
    const int32_t passes = c.chunks > 0 ? c.chunks : 1;
    for (int32_t i = 0; i < passes; ++i) {
      const CSIBand band = CSI_ChunkBand(c.height, c.chunks, i);
      EXPECT_EQ(band.first, next);
      next = band.end;
      rows.push_back(band.end - band.first);
    }
    EXPECT_EQ(next, c.height);
    EXPECT_EQ(rows, c.rows);
  }
}

TEST(CSIBuild, ElementHeadersAndChunkHeaders) {
  const uint32_t width = 7, height = 29, stride = 32;
  const Bytes pixels = Picture(width, height, stride, 4);
  struct Case {
    const char* name;
    uint32_t flags, chunks;
    std::vector<uint32_t> rows;
  };
  const Case kCases[] = {
      {"one stream", 2, 0, {}},
      {"four chunks", 3, 4, {7, 7, 7, 8}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Record r(CSIRecordBuilder().Size(width, height).Build());
    ASSERT_TRUE(CSI_AddBytesPerLine(r.block(), stride));
    ASSERT_TRUE(CSI_SetImagePayload(r.block(), c.flags, CompressionMethod::LZFSE, c.chunks, pixels,
                                    width, height, stride, 4));
    const uint64_t p = 184 + r.U32(168);
    EXPECT_EQ(r.U32(180), r.block().size - p);
    EXPECT_EQ(std::memcmp(r.block().data + p, "MLEC", 4), 0);
    EXPECT_EQ(r.U32(p + 4), c.flags);
    EXPECT_EQ(r.U32(p + 8), 4u);
    if (c.chunks == 0) {
      EXPECT_EQ(r.U32(p + 12), r.block().size - p - 16);
      EXPECT_NE(std::memcmp(r.block().data + p + 16, "KCBC", 4), 0);
      EXPECT_FALSE(CSI_IsChunked(r.block(), p));
    } else {
      EXPECT_EQ(r.U32(p + 12), c.chunks);
      uint64_t at = p + 16;
      for (uint32_t rows : c.rows) {
        ASSERT_LE(at + 20, r.block().size);
        EXPECT_EQ(std::memcmp(r.block().data + at, "KCBC", 4), 0);
        EXPECT_EQ(r.U32(at + 4), 0u);
        EXPECT_EQ(r.U32(at + 8), 0u);
        EXPECT_EQ(r.U32(at + 12), rows);
        at += 20 + r.U32(at + 16);
      }
      EXPECT_EQ(at, r.block().size);  // exactly the chunks, nothing after them
    }
    Image image;
    ASSERT_TRUE(CSI_DecodeImage(r.block(), image)) << errno;
    EXPECT_EQ(Bytes(image.pixels.data, image.pixels.data + image.pixels.size), pixels);
  }
}

TEST(CSIBuild, RunLengthStreamIsOneLiteralRunPerRow) {
  // 2 rows of 3 pixels, stride 16 padded to 20: the padding is not stored.
  const Bytes pixels = Picture(3, 2, 20, 4);
  Buffer out;
  ASSERT_TRUE(CSI_CompressPixels(pixels, 3, 2, 20, 4, CompressionMethod::RLE, 0, out));
  ASSERT_EQ(out.size, 52u);
  const std::span<const uint8_t> s = out.bytes();
  EXPECT_EQ(LoadU32LEAt(s, 0), 4u);
  EXPECT_EQ(LoadU32LEAt(s, 4), 3u);
  EXPECT_EQ(LoadU32LEAt(s, 8), 2u);
  EXPECT_EQ(LoadU32LEAt(s, 12), 20u);
  EXPECT_EQ(LoadU32LEAt(s, 16), 36u);
  for (uint32_t row = 0; row < 2; ++row) {
    const uint64_t at = row == 0 ? 20 : 36;
    EXPECT_EQ(LoadU16LEAt(s, at), 3u);
    EXPECT_EQ(LoadU16LEAt(s, at + 2), 0u);
    EXPECT_EQ(Bytes(s.begin() + static_cast<ptrdiff_t>(at + 4),
                    s.begin() + static_cast<ptrdiff_t>(at + 16)),
              Bytes(pixels.begin() + row * 20, pixels.begin() + row * 20 + 12));
  }

  // Even a one-pixel image gets the room its stream needs.
  ASSERT_TRUE(CSI_CompressPixels(Bytes(4, 1), 1, 1, 4, 4, CompressionMethod::RLE, 0, out));
  EXPECT_EQ(out.size, 12u + 4u + 8u);
}

TEST(CSIBuild, EveryMethodDecodesBackToTheSameRows) {
  struct Case {
    const char* name;
    const char* format;
    CompressionMethod method;
    uint32_t chunks;
  };
  const Case kCases[] = {
      {"uncompressed", "BGRA", CompressionMethod::Uncompressed, 0},
      {"uncompressed gray, 3 chunks", " 8AG", CompressionMethod::Uncompressed, 3},
      {"run-length", "BGRA", CompressionMethod::RLE, 0},
      {"run-length gray, 4 chunks", " 8AG", CompressionMethod::RLE, 4},
      {"gzip, 3 chunks", "BGRA", CompressionMethod::GZip, 3},
      {"gzip gray", " 8AG", CompressionMethod::GZip, 0},
      {"LZVN", "BGRA", CompressionMethod::LZVN, 0},
      {"LZVN gray, 4 chunks", " 8AG", CompressionMethod::LZVN, 4},
      {"LZFSE, 3 chunks", "BGRA", CompressionMethod::LZFSE, 3},
      {"LZFSE gray", " 8AG", CompressionMethod::LZFSE, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint32_t width = 45, height = 29;
    const uint32_t bpp = c.format[0] == ' ' ? 2 : 4;
    const uint32_t stride = (width * bpp + 31) & ~31u;  // padded rows
    const Bytes pixels = Picture(width, height, stride, bpp);
    // Uncompressed rows are stored without padding, so such a record's bytes
    // per line is the row's length.
    const bool tight = c.method == CompressionMethod::Uncompressed;
    Record r(CSIRecordBuilder().Size(width, height).PixelFormat(c.format).Build());
    ASSERT_TRUE(CSI_AddBytesPerLine(r.block(), tight ? width * bpp : stride));
    ASSERT_TRUE(
        CSI_SetImagePayload(r.block(), 3, c.method, c.chunks, pixels, width, height, stride, bpp))
        << errno;
    Image image;
    ASSERT_TRUE(CSI_DecodeImage(r.block(), image)) << errno;
    ASSERT_EQ(image.height, static_cast<int32_t>(height));
    const bool padding_kept = c.method == CompressionMethod::GZip ||
                              c.method == CompressionMethod::LZVN ||
                              c.method == CompressionMethod::LZFSE;
    if (padding_kept) {
      EXPECT_EQ(image.stride, static_cast<int32_t>(stride));
    }
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* got = image.pixels.data + size_t{y} * static_cast<uint32_t>(image.stride);
      const size_t compared = padding_kept ? stride : width * bpp;
      ASSERT_EQ(Bytes(got, got + compared),
                Bytes(pixels.begin() + y * stride, pixels.begin() + y * stride + compared))
          << "row " << y;
    }
  }
}

TEST(CSIBuild, CompressionFailures) {
  const Bytes pixels = Picture(4, 4, 16, 4);
  struct Case {
    const char* name;
    CompressionMethod method;
    uint32_t width, height, stride, chunks;
    size_t pixel_bytes;
    int code;
  };
  const Case kCases[] = {
      {"blurred", CompressionMethod::Blurred, 4, 4, 16, 0, 64, kErrUnsupported},
      {"method 9", static_cast<CompressionMethod>(9), 4, 4, 16, 0, 64, kErrUnsupported},
      {"stride below the row", CompressionMethod::LZFSE, 4, 4, 12, 0, 64, EINVAL},
      {"rows past the pixels", CompressionMethod::LZFSE, 4, 4, 16, 0, 63, EINVAL},
      // A gzip stream of 4 bytes does not fit a room of 8: refused rather
      // than stored cut short.
      {"gzip outgrowing its room", CompressionMethod::GZip, 1, 1, 4, 0, 4, EINVAL},
      {"LZFSE of an empty band", CompressionMethod::LZFSE, 4, 2, 16, 4, 64, EINVAL},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Buffer out;
    ASSERT_TRUE(Buffer_Append(out, "old", 3));
    errno = 0;
    EXPECT_FALSE(CSI_CompressPixels(std::span(pixels).first(c.pixel_bytes), c.width, c.height,
                                    c.stride, 4, c.method, c.chunks, out));
    EXPECT_EQ(errno, c.code);
    EXPECT_EQ(out.size, 0u);
  }
}

TEST(CSIBuild, AllocationFailuresLeaveTheRecordWithoutPayload) {
  const Bytes pixels = Picture(20, 20, 96, 4);
  for (const CompressionMethod method : {CompressionMethod::LZFSE, CompressionMethod::LZVN}) {
    for (long n = 0;; ++n) {
      SCOPED_TRACE(n);
      Record r;
      ASSERT_TRUE(CSI_AddBytesPerLine(r.block(), 96));
      const Bytes before = r.bytes();
      Mem_FailAfter(n);
      const bool ok = CSI_SetImagePayload(r.block(), 3, method, 3, pixels, 20, 20, 96, 4);
      const int code = errno;
      Mem_FailAfter(-1);
      if (ok) break;
      EXPECT_EQ(code, ENOMEM);
      EXPECT_EQ(r.bytes(), before);
      ASSERT_LT(n, 20);
    }
  }
}

TEST(CSIBuild, PayloadsAreSetOnce) {
  const CSIScalingEntry entries[] = {{20, 20, 0}, {29, 29, 1}, {40, 40, 2}};
  Record r;
  ASSERT_TRUE(CSI_AddComposition(r.block(), 0, 0.0f));
  ASSERT_TRUE(CSI_SetScalingInfo(r.block(), entries));
  EXPECT_EQ(r.U32(180), 48u);
  const uint64_t p = 200;
  EXPECT_EQ(std::memcmp(r.block().data + p, "SISM", 4), 0);
  EXPECT_EQ(r.U32(p + 4), 1u);
  EXPECT_EQ(r.U32(p + 8), 3u);
  EXPECT_EQ(r.U32(p + 12 + 24), 40u);
  EXPECT_EQ(r.U32(p + 12 + 32), 2u);
  EXPECT_EQ(r.block().size, p + 48);

  // A second payload of any size, even the same one, is refused.
  const Bytes before = r.bytes();
  errno = 0;
  EXPECT_FALSE(CSI_SetScalingInfo(r.block(), entries));
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_FALSE(
      CSI_SetImagePayload(r.block(), 3, CompressionMethod::RLE, 0, Bytes(4, 1), 1, 1, 4, 4));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(r.bytes(), before);
}

}  // namespace
}  // namespace skarvel
