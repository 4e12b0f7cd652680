// Image replacement: full and placed replacements keep each record's format,
// method and chunk count; the canonical-form warnings; records left as they
// were; the command over a catalog, its picture rules and its save.

#include "csi/csi_replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/mem.h"
#include "base/result.h"
#include "catalog/assets_catalog.h"
#include "csi/csi_build.h"
#include "csi/csi_decode.h"
#include "image/image_file.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIRecordBuilder;

// Tightly packed pixels with distinct bytes.
Bytes Pattern(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed) {
  Bytes p(size_t{width} * height * bpp);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + i / 13);
  return p;
}

// Rows of `width` * bpp bytes placed `stride` apart (padding zero).
Bytes Strided(const Bytes& tight, uint32_t width, uint32_t height, uint32_t bpp, uint32_t stride) {
  Bytes out(size_t{stride} * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    std::memcpy(out.data() + size_t{y} * stride, tight.data() + size_t{y} * width * bpp,
                size_t{width} * bpp);
  }
  return out;
}

// A CoreUI element ("MLEC", flags, method, chunk count or length, data);
// flags -1 are the canonical ones (3 for a fourth word below 100, else 0).
Bytes Element(int64_t flags, uint32_t method, uint32_t chunks, const Bytes& rows, uint32_t width,
              uint32_t height, uint32_t stride, uint32_t bpp) {
  Buffer data;
  EXPECT_TRUE(CSI_CompressPixels(rows, width, height, stride, bpp,
                                 static_cast<CompressionMethod>(method), chunks, data));
  const uint32_t fourth = chunks > 0 ? chunks : static_cast<uint32_t>(data.size);
  Bytes e = test::BytesOf("MLEC");
  test::AppendU32LE(e, flags >= 0 ? static_cast<uint32_t>(flags) : fourth < 100 ? 3 : 0);
  test::AppendU32LE(e, method);
  test::AppendU32LE(e, fourth);
  e.insert(e.end(), data.data, data.data + data.size);
  return e;
}

struct RecordSpec {
  uint32_t width = 4;
  uint32_t height = 5;
  std::string format = "BGRA";
  uint32_t method = 4;
  uint32_t chunks = 4;
  int64_t flags = -1;   // canonical
  bool packed = false;  // a packed image: one zero slice, no metrics, layout 1004
  uint32_t seed = 1;
};

uint32_t BytesPerPixel(const RecordSpec& s) { return s.format == "BGRA" ? 4 : 2; }
uint32_t StrideOf(const RecordSpec& s) {
  const uint32_t row = s.width * BytesPerPixel(s);
  return s.method == 0 ? row : (row + 31) & ~31u;
}

// The record's pixels, tightly packed.
Bytes PixelsOf(const RecordSpec& s) { return Pattern(s.width, s.height, BytesPerPixel(s), s.seed); }

// A rendition as this program writes it.
[[gnu::noinline]] CSIRecordBuilder Canonical(const RecordSpec& s) {
  const uint32_t bpp = BytesPerPixel(s);
  const uint32_t stride = StrideOf(s);
  CSIRecordBuilder b;
  b.Size(s.width, s.height).PixelFormat(s.format).Name("icon.png");
  if (s.packed) {
    b.Layout(1004).Slices({{0, 0, 0, 0}});
  } else {
    b.Layout(12).Slices({{0, 0, s.width, s.height}}).Metrics({{0, 0, 0, 0, s.width, s.height}});
  }
  b.Composition(0, 1.0f).Orientation(1).BytesPerLine(stride);
  b.Payload(Element(s.flags, s.method, s.chunks,
                    Strided(PixelsOf(s), s.width, s.height, bpp, stride), s.width, s.height, stride,
                    bpp));
  return b;
}

// A record held in a store block, as rendition values are.
struct Record {
  BOMStore store;
  explicit Record(const Bytes& bytes) {
    EXPECT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, bytes.data(), bytes.size()));
  }
  BOMBlock& block() { return store.blocks[1]; }
  Bytes bytes() { return Bytes(block().data, block().data + block().size); }
};

// Writes a BGRA picture (tight rows) to `path`.
void WritePicture(const std::string& path, const Bytes& bgra, int32_t width, int32_t height) {
  ASSERT_TRUE(Image_WriteFile(path.c_str(), "BGRA", bgra, width, height, width * 4));
}

// Decodes a record to tight rows.
Bytes Decoded(const BOMBlock& block, uint32_t bpp) {
  Image image;
  if (!CSI_DecodeImage(block, image)) {
    ADD_FAILURE() << "the record does not decode (errno " << errno << ")";
    return {};
  }
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + static_cast<size_t>(y) * image.stride;
    out.insert(out.end(), row, row + static_cast<size_t>(image.width) * bpp);
  }
  return out;
}

// The gray and alpha bytes a " 8AG" record receives from a BGRA picture.
Bytes GrayOf(const Bytes& bgra) {
  Bytes out;
  for (size_t i = 0; i + 3 < bgra.size(); i += 4) {
    out.push_back(bgra[i + 1]);
    out.push_back(bgra[i + 3]);
  }
  return out;
}

uint32_t U32(const Bytes& b, size_t at) { return test::GetU32LE(b, at); }
size_t PayloadAt(const Bytes& record) { return 184 + U32(record, 168); }

size_t CountChunks(const Bytes& record) {
  size_t n = 0;
  for (size_t at = PayloadAt(record) + 16; at + 4 <= record.size(); ++at) {
    if (std::memcmp(record.data() + at, "KCBC", 4) == 0) ++n;
  }
  return n;
}

struct Outcome {
  bool ok = false;
  int code = 0;
  std::string err;
};

Outcome Replace(BOMBlock& block, const std::string& picture, int32_t x, int32_t y) {
  test::CaptureStream err(2);
  Outcome o;
  o.ok = CSI_ReplaceImage(block, picture.c_str(), x, y);
  o.code = o.ok ? 0 : errno;
  o.err = err.Finish();
  return o;
}

TEST(CSIReplace, FullReplacementKeepsMethodChunksAndLayout) {
  struct Case {
    const char* name;
    RecordSpec recipe;
  };
  const Case cases[] = {
      {"gzip, 4 chunks", {.method = 2, .chunks = 4}},
      {"uncompressed, unchunked", {.method = 0, .chunks = 0}},
      {"run-length, 3 chunks", {.method = 1, .chunks = 3}},
      {"LZVN, unchunked", {.method = 3, .chunks = 0}},
      {"LZFSE, 4 chunks", {.method = 4, .chunks = 4}},
      {"gray, LZFSE, 4 chunks", {.format = " 8AG", .method = 4, .chunks = 4}},
      {"gray, gzip, unchunked", {.format = " 8AG", .method = 2, .chunks = 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const RecordSpec& s = c.recipe;
    const Bytes before = Canonical(s).Build();
    Record r(before);
    const Bytes picture = Pattern(s.width, s.height, 4, 200);
    WritePicture("p.png", picture, static_cast<int32_t>(s.width), static_cast<int32_t>(s.height));

    const Outcome o = Replace(r.block(), "p.png", -1, -1);
    ASSERT_TRUE(o.ok) << o.code;
    EXPECT_EQ(o.err, "");
    const Bytes after = r.bytes();
    // Header and subblocks stay; only the sizes and the element data change.
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 168),
              Bytes(before.begin(), before.begin() + 168));
    EXPECT_EQ(U32(after, 168), 104u);
    ASSERT_EQ(PayloadAt(after), PayloadAt(before));
    EXPECT_EQ(Bytes(after.begin() + 184, after.begin() + 288),
              Bytes(before.begin() + 184, before.begin() + 288));
    EXPECT_EQ(U32(after, 180), after.size() - PayloadAt(after));
    const size_t p = PayloadAt(after);
    EXPECT_EQ(std::memcmp(after.data() + p, "MLEC", 4), 0);
    EXPECT_EQ(U32(after, p + 4), U32(before, p + 4));
    EXPECT_EQ(U32(after, p + 8), s.method);
    EXPECT_EQ(U32(after, p + 12), s.chunks > 0 ? s.chunks : after.size() - p - 16);
    EXPECT_EQ(CountChunks(after), s.chunks);
    EXPECT_EQ(Decoded(r.block(), BytesPerPixel(s)), s.format == "BGRA" ? picture : GrayOf(picture));
  }
}

// Row `y` of a tightly packed BGRA picture of `width` pixels, columns x0..x1-1.
Bytes Span(const Bytes& p, uint32_t width, uint32_t y, uint32_t x0, uint32_t x1) {
  return Bytes(p.begin() + (size_t{y} * width + x0) * 4, p.begin() + (size_t{y} * width + x1) * 4);
}

TEST(CSIReplace, PlacedPictureGetsItsFrameInsidePackedImage) {
  test::TempDir dir;
  const RecordSpec s{.width = 92, .height = 60, .method = 4, .chunks = 3, .packed = true};
  const Bytes atlas = PixelsOf(s);
  Record r(Canonical(s).Build());
  const Bytes picture = Pattern(57, 57, 4, 90);
  WritePicture("p.png", picture, 57, 57);

  const Outcome o = Replace(r.block(), "p.png", 2, 1);
  ASSERT_TRUE(o.ok) << o.code;
  EXPECT_EQ(o.err,
            "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): "
            "theirs = 0x00000044, ours = 0x00000068\n");
  const Bytes after = r.bytes();
  EXPECT_EQ(U32(after, 168), 0x44u);
  EXPECT_EQ(U32(after, PayloadAt(after) + 12), 3u);
  EXPECT_EQ(CountChunks(after), 3u);

  // The expected atlas: the picture at 2, 1, its border repeated around it.
  Bytes expected = atlas;
  auto put = [&](uint32_t tx, uint32_t ty, uint32_t px, uint32_t py) {
    std::memcpy(expected.data() + (size_t{ty} * 92 + tx) * 4,
                picture.data() + (size_t{py} * 57 + px) * 4, 4);
  };
  for (uint32_t ty = 0; ty <= 58; ++ty) {
    const uint32_t py = ty == 0 ? 0 : ty == 58 ? 56 : ty - 1;
    for (uint32_t tx = 1; tx <= 59; ++tx) put(tx, ty, tx == 1 ? 0 : tx == 59 ? 56 : tx - 2, py);
  }
  const Bytes got = Decoded(r.block(), 4);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(Span(got, 92, 59, 0, 92), Span(atlas, 92, 59, 0, 92));    // below the frame
  EXPECT_EQ(Span(got, 92, 30, 60, 92), Span(atlas, 92, 30, 60, 92));  // right of it
}

TEST(CSIReplace, CanonicalFormWarnings) {
  // Offsets in a canonical record: slices at 184 (slice at 196), metrics at
  // 212 (metric at 224), composition at 248, orientation at 264, bytes per
  // line at 276, the element at 288.
  struct Case {
    const char* name;
    test::Patch patch;
    const char* err;
  };
  const Case cases[] = {
      {"flags", test::PutU32LE(8, 0x10),
       "skarvel: warning: ISTC header discrepancy at offset 8 (flags): theirs = 0x00000010, ours "
       "= 0x00000000\n"},
      {"colorspace", test::PutU32LE(28, 2),
       "skarvel: warning: ISTC header discrepancy at offset 28 (colorspace ID): theirs = "
       "0x00000002, ours = 0x00000001\n"},
      {"modification date", test::PutU32LE(32, 0x1234),
       "skarvel: warning: ISTC header discrepancy at offset 32 (modification date): theirs = "
       "0x00001234, ours = 0x00000000\n"},
      {"layout", test::PutU32LE(36, 1004),
       "skarvel: warning: ISTC header discrepancy at offset 36 (layout or rendition type): theirs "
       "= 0x000003ec, ours = 0x0000000c\n"},
      {"bitmap count and reserved", test::Patches({test::PutU32LE(172, 2), test::PutU32LE(176, 9)}),
       "skarvel: warning: ISTC header discrepancy at offset 172 (bitmap count): theirs = "
       "0x00000002, ours = 0x00000001\n"
       "skarvel: warning: ISTC header discrepancy at offset 176 (reserved): theirs = 0x00000009, "
       "ours = 0x00000000\n"},
      {"slice position and size",
       test::Patches({test::PutU32LE(196, 1), test::PutU32LE(200, 2), test::PutU32LE(204, 5),
                      test::PutU32LE(208, 6)}),
       "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 12 (X "
       "position): theirs = 0x00000001, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 16 (Y "
       "position): theirs = 0x00000002, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 20 (width): "
       "theirs = 5, ours = 4\n"
       "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 24 "
       "(height): theirs = 6, ours = 5\n"},
      {"metric insets and size",
       test::Patches({test::PutU32LE(224, 1), test::PutU32LE(228, 2), test::PutU32LE(232, 3),
                      test::PutU32LE(236, 4), test::PutU32LE(240, 7), test::PutU32LE(244, 8)}),
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric 0 (top "
       "right inset width): theirs = 0x00000001, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric 0 (top "
       "right inset height): theirs = 0x00000002, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric 0 (bottom "
       "left inset width): theirs = 0x00000003, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric 0 (bottom "
       "left inset height): theirs = 0x00000004, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric 0 (width): "
       "theirs = 7, ours = 4\n"
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric 0 "
       "(height): theirs = 8, ours = 5\n"},
      {"composition", test::Patches({test::PutU32LE(256, 3), test::PutU32LE(260, 0x3F000000)}),
       "skarvel: warning: ISTC rendition info 'composition' subblock discrepancy at offset 8 "
       "(blend mode): theirs = 0x00000003, ours = 0x00000000\n"
       "skarvel: warning: ISTC rendition info 'composition' subblock discrepancy at offset 12 "
       "(opacity): theirs = 0.500000, ours = 1.000000\n"},
      {"orientation", test::PutU32LE(272, 6),
       "skarvel: warning: ISTC rendition info 'orientation' subblock discrepancy at offset 8 (EXIF "
       "orientation): theirs = 0x00000006, ours = 0x00000001\n"},
      {"element flags", test::PutU32LE(288 + 4, 1),
       "skarvel: warning: ISTC MLEC header discrepancy at offset 4 (flags): theirs = 0x00000001, "
       "ours = 0x00000003\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const RecordSpec s;
    Record r(test::Patched(Canonical(s).Build(), c.patch));
    WritePicture("p.png", Pattern(4, 5, 4, 50), 4, 5);
    const Outcome o = Replace(r.block(), "p.png", -1, -1);
    EXPECT_TRUE(o.ok) << o.code;
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(Decoded(r.block(), 4), Pattern(4, 5, 4, 50));
  }
}

TEST(CSIReplace, SubblockLengthsComeBackCanonical) {
  test::TempDir dir;
  const RecordSpec s;
  // A slices subblock with 8 extra bytes after its one slice.
  Bytes extra = test::BytesOf("");
  test::AppendU32LE(extra, 1);
  for (uint32_t v : {0u, 0u, 4u, 5u, 0xAAAAAAAAu, 0xBBBBBBBBu}) test::AppendU32LE(extra, v);
  const uint32_t stride = StrideOf(s);
  Record r(CSIRecordBuilder()
               .Size(4, 5)
               .Name("icon.png")
               .Subblock(1001, extra)
               .Metrics({{0, 0, 0, 0, 4, 5}})
               .Composition(0, 1.0f)
               .Orientation(1)
               .BytesPerLine(stride)
               .Payload(Element(3, 4, 4, Strided(PixelsOf(s), 4, 5, 4, stride), 4, 5, stride, 4))
               .Build());
  WritePicture("p.png", Pattern(4, 5, 4, 50), 4, 5);
  const Outcome o = Replace(r.block(), "p.png", -1, -1);
  ASSERT_TRUE(o.ok) << o.code;
  EXPECT_EQ(o.err,
            "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): theirs "
            "= 0x00000070, ours = 0x00000068\n"
            "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 4 "
            "(subblock size): theirs = 0x0000001c, ours = 0x00000014\n");
  const Bytes after = r.bytes();
  EXPECT_EQ(U32(after, 168), 104u);
  EXPECT_EQ(U32(after, 188), 20u);
  EXPECT_EQ(U32(after, 212), 1003u);
  EXPECT_EQ(Decoded(r.block(), 4), Pattern(4, 5, 4, 50));
}

// Sixteen orientation subblocks and the bytes per line. (Built out of line:
// g++ 12 misreads the builder's default pixel format when it is inlined here.)
[[gnu::noinline]] Bytes ManySubblocksRecord(const RecordSpec& s) {
  const uint32_t stride = StrideOf(s);
  const Bytes rows = Strided(PixelsOf(s), s.width, s.height, 4, stride);
  CSIRecordBuilder b;
  b.Size(s.width, s.height).Name("icon.png");
  for (int i = 0; i < 16; ++i) b.Orientation(1);
  return b.BytesPerLine(stride)
      .Payload(Element(-1, 4, 4, rows, s.width, s.height, stride, 4))
      .Build();
}

// A gray AR reference image: colorspace 2 and a properties subblock.
[[gnu::noinline]] Bytes ARStyleRecord() {
  return CSIRecordBuilder()
      .Size(4, 5)
      .PixelFormat(" 8AG")
      .Colorspace(2)
      .Name("photo.jpg")
      .Slices({{0, 0, 4, 5}})
      .Metrics({{0, 0, 0, 0, 4, 5}})
      .Composition(0, 1.0f)
      .Properties(1, 10.0f, 7.5f)
      .Orientation(1)
      .BytesPerLine(32)
      .Payload(Element(1, 4, 4, Strided(Pattern(4, 5, 2, 3), 4, 5, 2, 32), 4, 5, 32, 2))
      .Build();
}

TEST(CSIReplace, RecordsLeftAsTheyWere) {
  const RecordSpec s;
  const Bytes too_many_subblocks_builder = ManySubblocksRecord(s);
  Bytes method10 = Canonical(s).Build();
  method10 = test::Patched(method10, test::PutU32LE(288 + 8, 10));
  const Bytes ar = ARStyleRecord();
  struct Case {
    const char* name;
    Bytes record;
    const char* picture;
    int32_t x, y;
    int code;
    const char* err;
  };
  const Case cases[] = {
      {"AR reference image with properties", ar, "p.png", -1, -1, kErrUnsupported,
       "skarvel: warning: ISTC header discrepancy at offset 28 (colorspace ID): theirs = "
       "0x00000002, ours = 0x00000001\n"
       "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): theirs = "
       "0x0000007c, ours = 0x00000068\n"},
      {"picture of another size", Canonical(RecordSpec{.width = 5}).Build(), "p.png", -1, -1,
       EFAULT, ""},
      {"placed picture that does not fit", Canonical(s).Build(), "p.png", 1, 1, ENOSPC, ""},
      {"method that cannot be written back", method10, "p.png", -1, -1, kErrUnsupported, ""},
      {"unreadable picture", Canonical(s).Build(), "missing.png", -1, -1, ENOENT, ""},
      {"wide pixel format", test::Patched(Canonical(s).Build(), test::PutText(24, "WBGR")), "p.png",
       -1, -1, kErrUnsupported, ""},
      {"no element", test::Patched(Canonical(s).Build(), test::PutText(288, "DWAR")), "p.png", -1,
       -1, ENOENT, ""},
      {"more than 16 subblocks", too_many_subblocks_builder, "p.png", -1, -1, kErrUnsupported,
       "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): theirs = "
       "0x000000cc, ours = 0x00000068\n"},
      {"slices shorter than their count",
       test::Patched(Canonical(s).Build(), test::PutU32LE(192, 2)), "p.png", -1, -1,
       kErrUnsupported,
       "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 4 (subblock "
       "size): theirs = 0x00000014, ours = 0x00000024\n"
       "skarvel: warning: ISTC rendition info 'slices' subblock discrepancy at offset 8 (slice "
       "count): theirs = 0x00000002, ours = 0x00000001\n"},
      {"metrics shorter than their count",
       test::Patched(Canonical(s).Build(), test::PutU32LE(220, 2)), "p.png", -1, -1,
       kErrUnsupported,
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy at offset 4 "
       "(subblock size): theirs = 0x0000001c, ours = 0x00000034\n"
       "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy at offset 8 (metrics "
       "count): theirs = 0x00000002, ours = 0x00000001\n"},
      {"unknown subblock", test::Patched(Canonical(s).Build(), test::PutU32LE(264, 1006 + 100)),
       "p.png", -1, -1, kErrUnsupported, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    WritePicture("p.png", Pattern(4, 5, 4, 50), 4, 5);
    Record r(c.record);
    const Outcome o = Replace(r.block(), c.picture, c.x, c.y);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.code, c.code);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(r.bytes(), c.record);
  }
}

TEST(CSIReplace, AllocationFailuresLeaveTheRecord) {
  test::TempDir dir;
  const RecordSpec s{.method = 2, .chunks = 4};
  const Bytes before = Canonical(s).Build();
  WritePicture("p.png", Pattern(4, 5, 4, 50), 4, 5);
  bool done = false;
  int failures = 0;
  for (long n = 0; n < 1000 && !done; ++n) {
    SCOPED_TRACE(n);
    Record r(before);
    Mem_FailAfter(n);
    const Outcome o = Replace(r.block(), "p.png", -1, -1);
    Mem_FailAfter(-1);
    done = o.ok;
    if (!o.ok) {
      ++failures;
      EXPECT_EQ(o.code, ENOMEM);
      EXPECT_EQ(r.bytes(), before);
    }
  }
  EXPECT_TRUE(done);
  EXPECT_GE(failures, 4);  // decoding, reading the picture, the new record, encoding
}

TEST(CSIReplace, PackedImagePositions) {
  int32_t x = 0, y = 0;
  ASSERT_TRUE(PackedImage_FindPosition(240, 124, 114, 114, x, y));
  EXPECT_EQ(x, 124);
  EXPECT_EQ(y, 8);
  ASSERT_TRUE(PackedImage_FindPosition(152, 90, 60, 60, x, y));
  EXPECT_EQ(x, 91);
  EXPECT_EQ(y, 28);
  EXPECT_FALSE(PackedImage_FindPosition(92, 60, 60, 60, x, y));
  EXPECT_FALSE(PackedImage_FindPosition(60, 92, 57, 57, x, y));
}

// --- The command over a catalog.

struct CatalogRun {
  int status = 0;
  std::string out;
  std::string err;
};

CatalogRun RunCommand(const Bytes& file, const char* picture, const char* output) {
  AssetsCatalog catalog;
  CatalogRun run;
  if (!AssetsCatalog_LoadFromBytes(catalog, file, "in.car")) {
    ADD_FAILURE() << "fixture catalog does not load";
    return run;
  }
  test::CaptureStream out(1);
  test::CaptureStream err(2);
  run.status = ReplaceImage_Run(catalog, picture, output);
  run.err = err.Finish();
  run.out = out.Finish();
  return run;
}

Bytes ReadBytes(const char* path) {
  Buffer b;
  if (!Buffer_ReadFromFile(b, path)) return {};
  return Bytes(b.data, b.data + b.size);
}

TEST(CSIReplaceCommand, ReplacesEveryPictureOfThatSizeAndSaves) {
  test::TempDir dir;
  const RecordSpec icon{.width = 57, .height = 57, .method = 4, .chunks = 4, .seed = 3};
  const RecordSpec atlas{
      .width = 92, .height = 60, .method = 4, .chunks = 3, .packed = true, .seed = 5};
  const RecordSpec small{.width = 29, .height = 29, .method = 2, .chunks = 0};
  const RecordSpec larger{.width = 120, .height = 120, .method = 4, .chunks = 4, .seed = 7};
  const RecordSpec gray{.width = 57, .height = 57, .format = " 8AG", .method = 3, .chunks = 0};
  const Bytes undecodable = test::Patched(Canonical(RecordSpec{.width = 60, .height = 60}).Build(),
                                          test::PutU32LE(288 + 8, 7));
  test::CatalogFileSpec recipe;
  recipe.facets = {{"AppIcon", test::FacetPairs(85, 220, 1)}};
  recipe.renditions = {
      {test::DefaultKey({{17, 1}, {12, 1}, {9, 3}}), Canonical(icon).Build()},
      {test::DefaultKey({{12, 1}, {15, 1}, {1, 9}, {2, 181}}), Canonical(atlas).Build()},
      {test::DefaultKey({{17, 1}, {12, 1}, {9, 1}}), Canonical(small).Build()},
      {test::DefaultKey({{17, 1}, {12, 2}, {9, 4}}), Canonical(larger).Build()},
      {test::DefaultKey({{17, 1}, {12, 3}, {9, 4}}), undecodable},
      {test::DefaultKey({{17, 1}, {12, 3}, {9, 5}}), Canonical(gray).Build()},
  };
  test::CatalogFileLayout layout;
  const Bytes file = test::BuildCatalogFile(recipe, &layout);
  const Bytes picture = Pattern(57, 57, 4, 77);
  WritePicture("p.png", picture, 57, 57);

  const CatalogRun run = RunCommand(file, "p.png", "out.car");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "\nReplacing new image in out.car...\n");
  EXPECT_EQ(run.err,
            "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): theirs "
            "= 0x00000044, ours = 0x00000068\n"
            "skarvel: warning: unable to extract image from block " +
                std::to_string(layout.rendition_value[4]) + "\n");

  AssetsCatalog saved;
  ASSERT_TRUE(AssetsCatalog_Load(saved, "out.car"));
  AssetsCatalog original;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(original, file, "in.car"));
  auto block = [&](AssetsCatalog& c, int i) -> BOMBlock& {
    return c.store.blocks[layout.rendition_value[static_cast<size_t>(i)]];
  };
  auto bytes = [&](AssetsCatalog& c, int i) {
    const BOMBlock& b = block(c, i);
    return Bytes(b.data, b.data + b.size);
  };
  EXPECT_EQ(Decoded(block(saved, 0), 4), picture);
  EXPECT_EQ(Decoded(block(saved, 5), 2), GrayOf(picture));
  const Bytes packed = Decoded(block(saved, 1), 4);
  for (uint32_t row = 0; row < 57; ++row) {
    EXPECT_EQ(Span(packed, 92, row + 1, 2, 59), Span(picture, 57, row, 0, 57)) << row;
  }
  EXPECT_EQ(Span(packed, 92, 0, 1, 2), Span(picture, 57, 0, 0, 1));  // frame corner
  EXPECT_EQ(Span(packed, 92, 59, 0, 92), Span(PixelsOf(atlas), 92, 59, 0, 92));
  for (int i : {2, 3, 4}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bytes(saved, i), bytes(original, i));
  }
  // Both rebuilt renditions keep their methods and chunk counts.
  for (int i : {0, 1}) {
    const Bytes b = bytes(saved, i);
    EXPECT_EQ(U32(b, PayloadAt(b) + 8), 4u);
    EXPECT_EQ(U32(b, PayloadAt(b) + 12), i == 0 ? 4u : 3u);
  }
}

TEST(CSIReplaceCommand, LargestPictureIsStoredOpaque) {
  test::TempDir dir;
  const RecordSpec store{.width = 1024, .height = 1024, .method = 4, .chunks = 4};
  test::CatalogFileSpec recipe;
  recipe.renditions = {{test::DefaultKey({{12, 1}, {15, 6}}), Canonical(store).Build()}};
  test::CatalogFileLayout layout;
  const Bytes file = test::BuildCatalogFile(recipe, &layout);
  Bytes picture = Pattern(1024, 1024, 4, 11);
  for (size_t i = 3; i < picture.size(); i += 8) picture[i] = 0;  // every other pixel clear
  WritePicture("p.png", picture, 1024, 1024);

  const CatalogRun run = RunCommand(file, "p.png", "out.car");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  AssetsCatalog saved;
  ASSERT_TRUE(AssetsCatalog_Load(saved, "out.car"));
  Bytes opaque = picture;
  for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
  EXPECT_EQ(Decoded(saved.store.blocks[layout.rendition_value[0]], 4), opaque);
}

TEST(CSIReplaceCommand, PictureAndSaveFailures) {
  test::CatalogFileSpec recipe;
  recipe.renditions = {{test::DefaultKey({{12, 1}}), Canonical(RecordSpec{}).Build()}};
  const Bytes file = test::BuildCatalogFile(recipe);
  struct Case {
    const char* name;
    const char* picture;
    const char* output;
    int status;
    const char* out;
    const char* err;
    bool saved;  // the output holds a new catalog
  };
  const Case cases[] = {
      {"picture that matches nothing", "small.png", "in.car", 0,
       "\nReplacing new image in in.car...\n", "", true},
      {"missing picture", "missing.png", "in.car", 1, "",
       "skarvel: unable to read image file missing.png\n", false},
      {"picture of an unknown type", "p.gif", "in.car", 1, "",
       "skarvel: unsupported image format in p.gif (currently supported: PNG, JPEG, and 24/32-bit "
       "uncompressed BMPs only)\n",
       false},
      {"malformed picture", "bad.png", "in.car", 1, "",
       "skarvel: internal image library error reading bad.png\n", false},
      {"output that cannot be written", "small.png", "taken", 1,
       "\nReplacing new image in taken...\n", "skarvel: unable to save taken (errno = 21)\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    WritePicture("small.png", Pattern(2, 2, 4, 0), 2, 2);
    test::WriteFileText("p.gif", "GIF89a");
    test::WriteFileText("bad.png", "\x89PNG\r\n\x1a\n-not-a-png");
    test::WriteFileText("in.car", std::string(file.begin(), file.end()));
    ASSERT_EQ(mkdir("taken", 0777), 0);  // a directory where the catalog would go
    test::WriteFileText("taken/x", "");
    const CatalogRun run = RunCommand(file, c.picture, c.output);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    const Bytes now = ReadBytes("in.car");
    if (c.saved) {
      EXPECT_NE(now, file);  // a new identifier and checksum
      AssetsCatalog saved;
      EXPECT_TRUE(AssetsCatalog_Load(saved, "in.car"));
    } else {
      EXPECT_EQ(now, file);
    }
    EXPECT_EQ(test::ListTree(dir.path()), "bad.png\nin.car\np.gif\nsmall.png\ntaken/x\n");
  }
}

// Palette-image and deepmap renditions decode but cannot be encoded again:
// each matching one is named once and left as it is.
TEST(CSIReplaceCommand, NewerMethodsAreLeftAlone) {
  const std::string path = std::string(SKARVEL_CORPUS_DIR) + "/ios-gray-method10.car";
  if (!test::FileExists(path)) GTEST_SKIP() << "corpus not found at " << SKARVEL_CORPUS_DIR;
  test::TempDir dir;
  const Bytes file = ReadBytes(path.c_str());
  AssetsCatalog original;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(original, file, "in.car"));
  // The size of the first picture record.
  int32_t width = 0, height = 0;
  for (uint64_t i = 0; i < original.store.count && width == 0; ++i) {
    const CSIHeader* h = CSI_Header(original.store.blocks[i]);
    if (h != nullptr && Get(h->payload_size) != 0) {
      width = static_cast<int32_t>(Get(h->width));
      height = static_cast<int32_t>(Get(h->height));
    }
  }
  ASSERT_GT(width, 0);
  WritePicture("p.png", Pattern(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 4, 1),
               width, height);
  std::string expected;
  for (uint64_t i = 0; i < original.store.count; ++i) {
    const CSIHeader* h = CSI_Header(original.store.blocks[i]);
    if (h == nullptr || Get(h->payload_size) == 0) continue;
    if (Get(h->width) == static_cast<uint32_t>(width) &&
        Get(h->height) == static_cast<uint32_t>(height)) {
      expected += "skarvel: warning: block " + std::to_string(i) +
                  " uses compression method 10, which cannot be written back; left unchanged\n";
    }
  }
  ASSERT_FALSE(expected.empty());
  const CatalogRun run = RunCommand(file, "p.png", "out.car");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, expected);
  AssetsCatalog saved;
  ASSERT_TRUE(AssetsCatalog_Load(saved, "out.car"));
  ASSERT_EQ(saved.store.count, original.store.count);
  for (uint64_t i = 0; i < original.store.count; ++i) {
    if (CSI_Header(original.store.blocks[i]) == nullptr) continue;
    const BOMBlock& a = original.store.blocks[i];
    const BOMBlock& b = saved.store.blocks[i];
    EXPECT_EQ(Bytes(a.data, a.data + a.size), Bytes(b.data, b.data + b.size)) << i;
  }
}

// Real catalogs with trees of the newer shapes (29-byte headers with inline
// key copies, a branch root over chained leaves, other labelled trees, a key
// format other than the default one): the pictures of the picture's size are
// replaced in place and every other block, each tree block among them, is
// saved exactly as it was read.
TEST(CSIReplaceCommand, NewerCatalogsKeepTheirTreeBlocks) {
  struct Case {
    const char* file;
    int32_t width;
    int32_t height;
    size_t replaced;
  };
  const Case kCases[] = {
      {"ios-inline-keys-rle.car", 180, 180, 1},
      {"ios-lzvn-uncompressed.car", 116, 116, 1},
      {"macos-29byte-trees-lzfse.car", 256, 256, 2},
      {"macos-two-leaf-tree.car", 48, 48, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::string path = std::string(SKARVEL_CORPUS_DIR) + "/" + c.file;
    if (!test::FileExists(path)) GTEST_SKIP() << "corpus not found at " << SKARVEL_CORPUS_DIR;
    test::TempDir dir;
    const Bytes file = ReadBytes(path.c_str());
    test::WriteFileText("in.car", std::string(file.begin(), file.end()));
    const Bytes picture =
        Pattern(static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height), 4, 9);
    WritePicture("p.png", picture, c.width, c.height);

    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_Load(catalog, "in.car"));
    {
      test::CaptureStream out(1);
      test::CaptureStream err(2);
      EXPECT_EQ(ReplaceImage_Run(catalog, "p.png", "in.car"), 0);
      EXPECT_EQ(out.Finish(), "\nReplacing new image in in.car...\n");
      (void)err.Finish();  // warnings about the records' non-canonical fields
    }

    BOMStore before;
    BOMStore after;
    ASSERT_TRUE(BOMStore_ReadFromBytes(before, file, "before"));
    ASSERT_TRUE(BOMStore_ReadFromFile(after, "in.car"));
    ASSERT_EQ(after.count, before.count);
    const int32_t header = BOMStore_FindBlockByLabel(before, "CARHEADER");
    size_t tree_blocks = 0;
    size_t replaced = 0;
    for (uint64_t i = 0; i < before.count; ++i) {
      SCOPED_TRACE(i);
      const BOMBlock& a = before.blocks[i];
      const BOMBlock& b = after.blocks[i];
      const bool same = Bytes(a.data, a.data + a.size) == Bytes(b.data, b.data + b.size);
      const BlockKind kind = catalog.store.blocks[i].kind;
      if (kind == BlockKind::TreeHeader || kind == BlockKind::TreeBase) {
        ++tree_blocks;
        EXPECT_TRUE(same) << "tree block changed";
      }
      if (same || static_cast<int32_t>(i) == header) continue;
      ++replaced;
      EXPECT_EQ(kind, BlockKind::RenditionValue);
      EXPECT_EQ(Decoded(b, 4), picture);
    }
    EXPECT_GE(tree_blocks, 6u);
    EXPECT_EQ(replaced, c.replaced);
  }
}

}  // namespace
}  // namespace skarvel
