// Faults the fuzz targets found, pinned at the level of the unit that had
// them (the fuzz corpora replay the inputs that found them).

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "bom/bom_store.h"
#include "bom/bom_tree.h"
#include "catalog/assets_catalog.h"
#include "catalog/catalog_builder.h"
#include "csi/csi_decode.h"
#include "csi/csi_replace.h"
#include "image/image.h"
#include "image/image_file.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;

// An uncompressed record whose bytes per line is longer than its rows (its
// element holds the padded rows) is rebuilt by a full replacement into a
// record that decodes to the new picture.
TEST(FuzzFindings, ReplacedUncompressedRecordWithPaddedRowsStillDecodes) {
  const struct {
    const char* name;
    const char* format;
    uint32_t width, bytes_per_pixel, bytes_per_line;
  } kCases[] = {
      {"BGRA, 3 pixels in 16 bytes", "BGRA", 3, 4, 16},
      {"gray, 6 pixels in 16 bytes", " 8AG", 6, 2, 16},
  };
  test::TempDir temp;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint32_t height = 5;
    Bytes rows(size_t{c.bytes_per_line} * height);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 3);
    test::CSIRecordBuilder b;
    b.Size(c.width, height).PixelFormat(c.format).BytesPerLine(c.bytes_per_line).Element(0, rows);
    const Bytes record = b.Build();
    BOMStore store;
    ASSERT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, record.data(), record.size()));
    BOMBlock& block = store.blocks[1];
    Image before;
    ASSERT_TRUE(CSI_DecodeImage(block, before));

    // Gray values with alpha, so that the gray record keeps them as they are.
    Bytes picture(size_t{c.width} * height * 4);
    for (size_t p = 0; p < picture.size() / 4; ++p) {
      const auto v = static_cast<uint8_t>(40 + p * 9);
      picture[4 * p] = picture[4 * p + 1] = picture[4 * p + 2] = v;
      picture[4 * p + 3] = static_cast<uint8_t>(255 - p);
    }
    ASSERT_TRUE(Image_WriteFile("picture.png", "BGRA", picture, static_cast<int32_t>(c.width),
                                height, static_cast<int32_t>(c.width * 4)));
    test::CaptureStream err(2);  // canonical-form warnings
    ASSERT_TRUE(CSI_ReplaceImage(block, "picture.png", -1, -1));
    (void)err.Finish();

    Image after;
    ASSERT_TRUE(CSI_DecodeImage(block, after)) << "errno " << errno;
    ASSERT_EQ(after.width, static_cast<int32_t>(c.width));
    ASSERT_EQ(after.height, static_cast<int32_t>(height));
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < c.width; ++x) {
        const uint8_t* got = after.pixels.data + size_t{y} * static_cast<size_t>(after.stride) +
                             size_t{x} * c.bytes_per_pixel;
        const uint8_t* want = picture.data() + (size_t{y} * c.width + x) * 4;
        if (c.bytes_per_pixel == 4) {
          EXPECT_EQ(Bytes(got, got + 4), Bytes(want, want + 4)) << x << "," << y;
        } else {
          EXPECT_EQ(got[0], want[1]) << x << "," << y;
          EXPECT_EQ(got[1], want[3]) << x << "," << y;
        }
      }
    }
  }
}

// The tree of header block `tree`, header, node head and entries, stored
// little-endian, with `version` as its version.
Bytes LittleEndianTree(Bytes file, const test::CatalogFileLayout& l, uint32_t tree,
                       uint32_t version) {
  auto swap32 = [&file](size_t at) { std::reverse(file.begin() + at, file.begin() + at + 4); };
  auto swap16 = [&file](size_t at) { std::reverse(file.begin() + at, file.begin() + at + 2); };
  const size_t h = l.DataAt(tree);
  const uint32_t node = test::GetU32BE(file, h + 8);
  const size_t n = l.DataAt(node);
  const uint16_t count = test::GetU16BE(file, n + 2);
  for (size_t at : {h + 8, h + 12, h + 16}) swap32(at);
  swap16(n);
  swap16(n + 2);
  swap32(n + 4);
  swap32(n + 8);
  for (size_t e = 0; e < 2u * count; ++e) swap32(n + 12 + 4 * e);
  return test::Patched(file, test::PutU32LE(h + 4, version));
}

// A catalog that loads saves to a file that loads again. Trees are
// big-endian in a file, and a version field that reads above 256 in host
// order is what shows it; a tree stored the other way round is used as it
// is and saved big-endian. Version 0 reads alike both ways: a save once
// turned such a tree into a file that no longer loaded, so it is refused.
TEST(FuzzFindings, TreesWithAnUntellableVersionAreRefused) {
  test::CatalogFileSpec recipe;
  recipe.facets = {{"Icon", test::FacetPairs(85, 220, 1)}};
  recipe.renditions = {{test::DefaultKey({{12, 1}, {17, 1}}), test::BytesOf("value")}};
  test::CatalogFileLayout l;
  const Bytes good = test::BuildCatalogFile(recipe, &l);
  const struct {
    const char* name;
    Bytes (*make)(const Bytes&, const test::CatalogFileLayout&, uint32_t);
    bool loads;
  } kCases[] = {
      {"big-endian, version 1", [](const Bytes& f, const test::CatalogFileLayout&,
                                   uint32_t) { return f; },
       true},
      {"big-endian, version 2",
       [](const Bytes& f, const test::CatalogFileLayout& lay, uint32_t t) {
         return test::Patched(f, test::PutU32BE(lay.DataAt(t) + 4, 2));
       },
       true},
      {"little-endian, version 0",
       [](const Bytes& f, const test::CatalogFileLayout& lay, uint32_t t) {
         return LittleEndianTree(f, lay, t, 0);
       },
       false},
      {"little-endian, version 1",
       [](const Bytes& f, const test::CatalogFileLayout& lay, uint32_t t) {
         return LittleEndianTree(f, lay, t, 1);
       },
       true},
  };
  test::TempDir temp;
  for (const auto& c : kCases) {
    for (const uint32_t tree : {l.renditions_tree, l.facet_keys_tree, l.bitmap_keys_tree}) {
      SCOPED_TRACE(std::string(c.name) + ", tree at block " + std::to_string(tree));
      const Bytes file = c.make(good, l, tree);
      AssetsCatalog catalog;
      errno = 0;
      const bool loaded = AssetsCatalog_LoadFromBytes(catalog, file, "trees.car");
      EXPECT_EQ(loaded, c.loads);
      if (!loaded) {
        EXPECT_EQ(errno, EINVAL);
        continue;
      }
      ASSERT_TRUE(AssetsCatalog_Save(catalog, "saved.car"));
      AssetsCatalog again;
      ASSERT_TRUE(AssetsCatalog_Load(again, "saved.car"));
      EXPECT_EQ(BOMTree_EntryCount(again.renditions_tree), 1u);
      EXPECT_EQ(again.facet_count, 1u);
    }
  }
}

// Uncompressed pixels that begin with the bytes "KCBC" (a BGRA pixel of
// 0x4B, 0x43, 0x42, 0x43) in an element that is not chunked are pixels: the
// element's fourth word, its data length, says so.
TEST(FuzzFindings, UnchunkedPixelsBeginningLikeAChunkDecode) {
  Bytes rows = test::BytesOf("KCBC");
  rows.resize(6 * 4 * 5, 0x21);
  test::CSIRecordBuilder b;
  b.Size(6, 5).BytesPerLine(24).Element(0, rows);
  const Bytes record = b.Build();
  BOMStore store;
  ASSERT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, record.data(), record.size()));
  Image image;
  ASSERT_TRUE(CSI_DecodeImage(store.blocks[1], image)) << "errno " << errno;
  ASSERT_EQ(image.stride, 24);
  EXPECT_EQ(Bytes(image.pixels.data, image.pixels.data + rows.size()), rows);
}

// -replace_img rebuilds rendition values only: a block with another role
// that happens to hold a record of the picture's size (here the metadata
// block, whose size the catalog checks on loading) keeps its bytes, so the
// saved catalog loads again.
TEST(FuzzFindings, ReplacementLeavesBlocksWithOtherRoles) {
  auto record = [](uint32_t pad_to) {
    Bytes rows(24 * 5);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 5);
    test::CSIRecordBuilder b;
    b.Size(6, 5).BytesPerLine(24).Element(0, rows);
    Bytes r = b.Build();
    if (r.size() < pad_to) r.resize(pad_to, 0);
    return r;
  };
  test::CatalogFileSpec recipe;
  recipe.facets = {{"Icon", test::FacetPairs(85, 220, 1)}};
  recipe.renditions = {{test::DefaultKey({{12, 1}, {17, 1}}), record(0)}};
  test::CatalogFileLayout l;
  const Bytes built = test::BuildCatalogFile(recipe, &l);
  const Bytes file = test::Patched(built, test::PutBytes(l.DataAt(l.metadata), record(1028)));
  test::TempDir temp;
  Bytes picture(6 * 5 * 4);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(200 - i);
  ASSERT_TRUE(Image_WriteFile("picture.png", "BGRA", picture, 6, 5, 24));

  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(catalog, file, "roles.car"));
  const BOMBlock& metadata = catalog.store.blocks[l.metadata];
  const Bytes metadata_before(metadata.data, metadata.data + metadata.size);
  test::CaptureStream out(1);
  test::CaptureStream err(2);
  EXPECT_EQ(ReplaceImage_Run(catalog, "picture.png", "saved.car"), 0);
  (void)out.Finish();
  (void)err.Finish();

  AssetsCatalog saved;
  ASSERT_TRUE(AssetsCatalog_Load(saved, "saved.car"));
  const BOMBlock& kept = saved.store.blocks[l.metadata];
  EXPECT_EQ(Bytes(kept.data, kept.data + kept.size), metadata_before);
  Image replaced;
  ASSERT_TRUE(CSI_DecodeImage(saved.store.blocks[l.rendition_value[0]], replaced));
  EXPECT_EQ(Bytes(replaced.pixels.data, replaced.pixels.data + 24),
            Bytes(picture.begin(), picture.begin() + 24));
}

}  // namespace
}  // namespace skarvel
