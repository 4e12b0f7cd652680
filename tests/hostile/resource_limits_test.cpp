// Sizes and counts read from a file never drive an allocation larger than a
// small multiple of the input: each hostile value is refused with its code
// before anything of its size is asked of the allocator. Structures that
// point back into themselves are refused the same way instead of looping.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/mem.h"
#include "base/result.h"
#include "bom/bom_store.h"
#include "catalog/assets_catalog.h"
#include "csi/csi_decode.h"
#include "image/image.h"
#include "image/image_file.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/store_file_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIRecordBuilder;

// No allocation may exceed this many times the input, plus a fixed 64 KiB
// for work areas (codec tables, libpng and libjpeg state).
constexpr uint64_t kInputMultiple = 4;
constexpr uint64_t kFixedAllowance = 64 * 1024;

struct LimitCase {
  const char* name;
  Bytes input;
  std::function<bool(std::span<const uint8_t>)> read;
  int code;  // errno of the refusal; 0: the input is read, within the same limit
};

void AppendBE32(Bytes& b, uint32_t v) { test::AppendU32BE(b, v); }

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

void AppendPngChunk(Bytes& png, const char* type, const Bytes& data) {
  AppendBE32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  AppendBE32(png, Crc32(png.data() + start, png.size() - start));
}

// A PNG whose header claims `width` x `height` 8-bit RGBA pixels. Its image
// data is a zlib stream of zero rows, complete for a picture of up to 64 raw
// bytes and cut to those 64 bytes for a larger claim.
Bytes PngClaiming(uint32_t width, uint32_t height) {
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  AppendBE32(ihdr, width);
  AppendBE32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  AppendPngChunk(png, "IHDR", ihdr);
  const uint64_t raw = uint64_t{height} * (1 + uint64_t{width} * 4);
  const auto stored = static_cast<uint16_t>(raw < 64 ? raw : 64);
  Bytes idat = {0x78, 0x01, 0x01, static_cast<uint8_t>(stored), static_cast<uint8_t>(stored >> 8),
                static_cast<uint8_t>(~stored), static_cast<uint8_t>(~stored >> 8)};
  idat.resize(idat.size() + stored, 0);
  AppendBE32(idat, 0x00000001u + (uint32_t{stored} << 16));  // Adler-32 of zeros
  AppendPngChunk(png, "IDAT", idat);
  AppendPngChunk(png, "IEND", {});
  return png;
}

// A baseline JPEG header claiming `width` x `height` gray pixels: quantisation
// and Huffman tables, frame and scan headers, then a few bytes of scan data.
Bytes JpegClaiming(uint16_t width, uint16_t height) {
  Bytes j = {0xFF, 0xD8};
  j.insert(j.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
  for (int i = 0; i < 64; ++i) j.push_back(1);
  j.insert(j.end(), {0xFF, 0xC0, 0x00, 0x0B, 0x08, static_cast<uint8_t>(height >> 8),
                     static_cast<uint8_t>(height), static_cast<uint8_t>(width >> 8),
                     static_cast<uint8_t>(width), 0x01, 0x01, 0x11, 0x00});
  // One DC and one AC table, each with a single 1-bit code.
  for (uint8_t table : {0x00, 0x10}) {
    j.insert(j.end(), {0xFF, 0xC4, 0x00, 0x14, table, 1});
    for (int i = 1; i < 16; ++i) j.push_back(0);
    j.push_back(0);
  }
  j.insert(j.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  j.insert(j.end(), {0x00, 0x00, 0x00, 0x00, 0xFF, 0xD9});
  return j;
}

// A BMP header claiming `width` x `height` 32-bit pixels over 16 bytes of
// data (enough for 2 x 2).
Bytes BmpClaiming(int32_t width, int32_t height) {
  Bytes b = {'B', 'M'};
  test::AppendU32LE(b, 54 + 16);
  test::AppendU32LE(b, 0);
  test::AppendU32LE(b, 54);
  test::AppendU32LE(b, 40);
  test::AppendU32LE(b, static_cast<uint32_t>(width));
  test::AppendU32LE(b, static_cast<uint32_t>(height));
  test::AppendU16LE(b, 1);
  test::AppendU16LE(b, 32);
  for (int i = 0; i < 6; ++i) test::AppendU32LE(b, 0);
  b.resize(b.size() + 16, 0x7F);
  return b;
}

// The element header followed by one chunk of `rows` rows and 8 data bytes.
Bytes ChunkedPayload(uint32_t method, uint32_t chunk_count) {
  Bytes p = test::BytesOf("MLEC");
  test::AppendU32LE(p, 0);
  test::AppendU32LE(p, method);
  test::AppendU32LE(p, chunk_count);
  const Bytes chunk = test::BytesOf("KCBC");
  p.insert(p.end(), chunk.begin(), chunk.end());
  for (uint32_t v : {0u, 0u, 4u, 8u}) test::AppendU32LE(p, v);
  p.resize(p.size() + 8, 0);
  return p;
}

bool ReadStore(std::span<const uint8_t> bytes) {
  BOMStore store;
  return BOMStore_ReadFromBytes(store, bytes, "hostile.bom");
}

bool LoadCatalog(std::span<const uint8_t> bytes) {
  AssetsCatalog catalog;
  return AssetsCatalog_LoadFromBytes(catalog, bytes, "hostile.car");
}

bool Decode(std::span<const uint8_t> bytes) {
  Bytes copy(bytes.begin(), bytes.end());
  BOMBlock block;
  block.data = copy.data();
  block.size = copy.size();
  Image image;
  return CSI_DecodeImage(block, image);
}

std::function<bool(std::span<const uint8_t>)> ReadImage(ImageFileType type) {
  return [type](std::span<const uint8_t> bytes) {
    Image image;
    return Image_ReadMemory(bytes, type, "BGRA", image);
  };
}

std::vector<LimitCase> LimitCases() {
  std::vector<LimitCase> cases;

  test::StoreFileSpec store;
  store.blocks = {{1, test::BytesOf("first"), "FIRST"}, {2, Bytes(32, 1), ""}};
  test::StoreFileLayout sl;
  const Bytes good_store = test::BuildStoreFile(store, &sl);
  cases.push_back({"block count 0x1FFFFFFF",
                   test::Patched(good_store, test::PutU32BE(sl.table_at, 0x1FFFFFFF)), ReadStore,
                   EINVAL});
  cases.push_back({"block count 0x1FFFFFFF inside a table length that allows it",
                   test::Patched(test::Patched(good_store, test::PutU32BE(sl.table_at, 0x1FFFFFFF)),
                                 test::PutU32BE(test::kStoreTableLengthAt, 0xFFFFFFF8)),
                   ReadStore, EINVAL});
  cases.push_back({"label count 0x1FFFFFFF",
                   test::Patched(test::Patched(good_store, test::PutU32BE(sl.labels_at, 0x1FFFFFFF)),
                                 test::PutU32BE(test::kStoreLabelsLengthAt, 0xFFFFFFFF)),
                   ReadStore, EINVAL});
  cases.push_back({"block length 0xFFFFFFF0",
                   test::Patched(good_store, test::PutU32BE(sl.BlockLengthAt(2), 0xFFFFFFF0)),
                   ReadStore, EINVAL});

  test::CatalogFileSpec recipe;
  recipe.table_count = 0;
  recipe.facets = {{"AppIcon", test::FacetPairs(85, 220, 1)}};
  recipe.renditions = {{test::DefaultKey({{12, 1}, {17, 1}}), test::BytesOf("rendition")}};
  test::CatalogFileLayout cl;
  const Bytes good_catalog = test::BuildCatalogFile(recipe, &cl);
  const size_t header = cl.DataAt(cl.renditions_tree);
  const size_t node = cl.DataAt(cl.renditions_node);
  const size_t key_format = cl.DataAt(cl.key_format);
  // The node size field only describes the nodes; the node blocks present
  // bound what a tree holds.
  cases.push_back({"tree node size 0xFFFFFFFF",
                   test::Patched(good_catalog, test::PutU32BE(header + 12, 0xFFFFFFFF)),
                   LoadCatalog, 0});
  cases.push_back({"tree node entry count 0xFFFF",
                   test::Patched(good_catalog, test::PutU16BE(node + 2, 0xFFFF)), LoadCatalog,
                   EINVAL});
  cases.push_back({"key format count 0x7FFFFFFF",
                   test::Patched(good_catalog, test::PutU32LE(key_format + 8, 0x7FFFFFFF)),
                   LoadCatalog, EINVAL});

  // Trees that lead back into themselves end with a refusal, not a loop.
  test::CatalogFileSpec branched = recipe;
  branched.renditions_shape.leaves = 2;
  test::CatalogFileLayout bl;
  const Bytes branched_catalog = test::BuildCatalogFile(branched, &bl);
  const size_t root = bl.DataAt(bl.renditions_node);
  const size_t second_leaf = bl.DataAt(bl.renditions_leaves[1]);
  cases.push_back({"branch whose child is the branch itself",
                   test::Patched(branched_catalog, test::PutU32BE(root + 12, bl.renditions_node)),
                   LoadCatalog, EINVAL});
  cases.push_back({"leaf chain that links back to its first leaf",
                   test::Patched(branched_catalog,
                                 test::PutU32BE(second_leaf + 4, bl.renditions_leaves[0])),
                   LoadCatalog, EINVAL});

  auto picture = [](uint32_t width, uint32_t height) {
    CSIRecordBuilder b;
    b.Size(width, height).BytesPerLine(width * 4);
    return b;
  };
  cases.push_back({"rendition of 65535 x 65535 pixels, uncompressed",
                   picture(65535, 65535).Element(0, Bytes(64, 0)).Build(), Decode, EINVAL});
  cases.push_back({"rendition of 65535 x 65535 pixels, LZFSE",
                   picture(65535, 65535).Element(4, Bytes(64, 0)).Build(), Decode, EINVAL});
  cases.push_back({"rendition of 65535 x 65535 pixels, palette image",
                   picture(65535, 65535).Element(8, Bytes(64, 0)).Build(), Decode, EINVAL});
  cases.push_back({"rendition of 65535 x 65535 pixels, deepmap2",
                   picture(65535, 65535).Element(11, Bytes(64, 0)).Build(), Decode, EINVAL});
  cases.push_back({"chunk count 2^31",
                   picture(4, 4).Payload(ChunkedPayload(4, 0x80000000u)).Build(), Decode, EINVAL});
  cases.push_back({"chunk count 2^31, deepmap2",
                   picture(4, 4).Payload(ChunkedPayload(11, 0x80000000u)).Build(), Decode,
                   EINVAL});
  cases.push_back({"bytes per line 0xFFFFFFFF",
                   CSIRecordBuilder().Size(4, 4).BytesPerLine(0xFFFFFFFF).Element(0, Bytes(64, 0))
                       .Build(),
                   Decode, EINVAL});
  {
    CSIRecordBuilder b;
    b.Size(4, 4);
    for (int i = 0; i < 2000; ++i) b.Subblock(1, {});
    cases.push_back({"2000 zero-length subblocks and no bytes per line",
                     b.Element(0, Bytes(64, 0)).Build(), Decode, ENOENT});
  }

  // Each picture form is read when its claim is small: the refusals below
  // come from the size, not from a malformed file.
  cases.push_back({"PNG of 3 x 2 pixels", PngClaiming(3, 2), ReadImage(ImageFileType::Png), 0});
  cases.push_back({"JPEG of 8 x 8 pixels", JpegClaiming(8, 8), ReadImage(ImageFileType::Jpeg), 0});
  cases.push_back({"BMP of 2 x 2 pixels", BmpClaiming(2, 2), ReadImage(ImageFileType::Bmp), 0});
  cases.push_back({"PNG claiming 100000 x 100000 pixels", PngClaiming(100000, 100000),
                   ReadImage(ImageFileType::Png), EINVAL});
  cases.push_back({"PNG claiming 16000 x 16000 pixels (under the pixel limit)",
                   PngClaiming(16000, 16000), ReadImage(ImageFileType::Png), EINVAL});
  cases.push_back({"JPEG claiming 65500 x 65500 pixels", JpegClaiming(65500, 65500),
                   ReadImage(ImageFileType::Jpeg), EINVAL});
  cases.push_back({"JPEG claiming 16000 x 16000 pixels (under the pixel limit)",
                   JpegClaiming(16000, 16000), ReadImage(ImageFileType::Jpeg), EINVAL});
  cases.push_back({"BMP claiming 100000 x 100000 pixels", BmpClaiming(100000, 100000),
                   ReadImage(ImageFileType::Bmp), ENOENT});
  cases.push_back({"BMP claiming 0x7FFFFFFF x 1 pixels", BmpClaiming(0x7FFFFFFF, 1),
                   ReadImage(ImageFileType::Bmp), ENOENT});
  return cases;
}

TEST(ResourceLimits, HostileSizesAreRefusedBeforeTheyAreAllocated) {
  for (const LimitCase& c : LimitCases()) {
    SCOPED_TRACE(c.name);
    test::CaptureStream err(2);  // the store reader prints its refusals
    Mem_ResetLargestRequest();
    errno = 0;
    const bool ok = c.read(c.input);
    const int code = errno;
    const size_t largest = Mem_LargestRequest();
    (void)err.Finish();
    EXPECT_EQ(ok, c.code == 0);
    if (c.code != 0) {
      EXPECT_EQ(code, c.code);
    }
    EXPECT_LE(largest, kInputMultiple * c.input.size() + kFixedAllowance)
        << "input of " << c.input.size() << " bytes";
  }
}

// The allowance is not so loose that it hides a picture-sized allocation:
// the same readers, given a valid input, ask for what they produce.
TEST(ResourceLimits, ValidPicturesAllocateWhatTheyProduce) {
  CSIRecordBuilder b;
  b.Size(300, 300).BytesPerLine(1200).Element(0, Bytes(300 * 1200, 9));
  const Bytes record = b.Build();
  Mem_ResetLargestRequest();
  ASSERT_TRUE(Decode(record));
  EXPECT_GE(Mem_LargestRequest(), uint64_t{300} * 1200);
}

}  // namespace
}  // namespace skarvel
