#include "catalog/assets_catalog.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/mem.h"
#include "catalog/rendition_attribute.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::BytesOf;
using test::CatalogFileLayout;
using test::CatalogFileSpec;

// Two facets ("icon" id 3, "other" id 7) and three renditions: two of icon,
// one whose facet id (9) matches no facet.
CatalogFileSpec TwoFacets() {
  CatalogFileSpec recipe;
  recipe.facets = {{"icon", test::FacetPairs(0, 220, 3)}, {"other", test::FacetPairs(5, 181, 7)}};
  recipe.renditions = {{test::DefaultKey({{17, 3}, {12, 1}}), BytesOf("r0")},
                       {test::DefaultKey({{17, 3}, {12, 2}}), BytesOf("r1")},
                       {test::DefaultKey({{17, 9}}), BytesOf("r2")}};
  return recipe;
}

bool LoadBytes(AssetsCatalog& catalog, const Bytes& file, std::string* err = nullptr) {
  test::CaptureStream capture(2);
  const bool ok = AssetsCatalog_LoadFromBytes(catalog, file, "test.car");
  const int code = errno;
  const std::string text = capture.Finish();
  if (err) *err = text;
  errno = code;
  return ok;
}

TEST(AssetsCatalogLoad, IndicesKindsFacetsAndRenditions) {
  CatalogFileLayout l;
  const Bytes file = test::BuildCatalogFile(TwoFacets(), &l);
  test::TempDir dir;
  {
    FILE* f = std::fopen("two.car", "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
    std::fclose(f);
  }
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_Load(c, "two.car"));
  EXPECT_EQ(c.header_index, int32_t(l.header));
  EXPECT_EQ(c.renditions_tree_index, int32_t(l.renditions_tree));
  EXPECT_EQ(c.facet_keys_tree_index, int32_t(l.facet_keys_tree));
  EXPECT_EQ(c.key_format_index, int32_t(l.key_format));
  EXPECT_EQ(c.metadata_index, int32_t(l.metadata));
  EXPECT_EQ(c.bitmap_keys_tree_index, int32_t(l.bitmap_keys_tree));
  EXPECT_EQ(std::memcmp(c.header->magic, "RATC", 4), 0);
  EXPECT_EQ(Get(c.header->rendition_count), 3u);
  EXPECT_STREQ(c.metadata->target_platform, "ios");
  EXPECT_EQ(c.key_format_attributes, c.key_format + 12);
  ASSERT_EQ(KeyFormat_Count(c), 17u);
  EXPECT_EQ(KeyFormat_Attribute(c, 0), 12u);
  EXPECT_EQ(KeyFormat_Attribute(c, 16), 9u);
  EXPECT_EQ(KeyFormat_Attribute(c, 17), 0u);

  // Every block's kind.
  std::vector<BlockKind> expected(c.store.count, BlockKind::None);
  expected[l.header] = BlockKind::CarHeader;
  for (uint32_t t : {l.renditions_tree, l.facet_keys_tree, l.bitmap_keys_tree}) {
    expected[t] = BlockKind::TreeHeader;
  }
  for (uint32_t n : {l.renditions_node, l.facet_keys_node, l.bitmap_keys_node}) {
    expected[n] = BlockKind::TreeBase;
  }
  for (uint32_t k : l.facet_key) expected[k] = BlockKind::FacetKey;
  for (uint32_t v : l.facet_value) expected[v] = BlockKind::FacetValue;
  expected[l.key_format] = BlockKind::KeyFormat;
  for (uint32_t k : l.rendition_key) expected[k] = BlockKind::RenditionKey;
  for (uint32_t v : l.rendition_value) expected[v] = BlockKind::RenditionValue;
  expected[l.metadata] = BlockKind::Metadata;
  for (uint32_t b : l.bitmap_key) expected[b] = BlockKind::BitmapKey;
  for (uint64_t i = 0; i < c.store.count; ++i) {
    EXPECT_EQ(c.store.blocks[i].kind, expected[i]) << "block " << i;
  }
  // Facet ids 3 and 7 are BITMAPKEYS keys; blocks 3 and 7 keep their own kinds.
  EXPECT_EQ(c.store.blocks[3].kind, BlockKind::TreeBase);
  EXPECT_EQ(c.store.blocks[7].kind, BlockKind::FacetValue);

  ASSERT_EQ(c.facet_count, 2u);
  EXPECT_STREQ(c.facets[0].name, "icon");
  EXPECT_EQ(c.facets[0].id, 3);
  EXPECT_EQ(c.facets[0].element, 0);
  EXPECT_EQ(c.facets[0].part, 220);
  ASSERT_EQ(c.facets[0].rendition_count, 2);
  EXPECT_EQ(c.facets[0].renditions[0].key_block, l.rendition_key[0]);
  EXPECT_EQ(c.facets[0].renditions[0].value_block, l.rendition_value[0]);
  EXPECT_EQ(c.facets[0].renditions[1].key_block, l.rendition_key[1]);
  EXPECT_EQ(c.facets[1].id, 7);
  EXPECT_EQ(c.facets[1].element, 5);
  EXPECT_EQ(c.facets[1].rendition_count, 0);
  EXPECT_EQ(c.facets[1].renditions, nullptr);

  EXPECT_EQ(AssetsCatalog_FindFacetByName(c, "other"), &c.facets[1]);
  EXPECT_EQ(AssetsCatalog_FindFacetByName(c, "othe"), nullptr);
  EXPECT_EQ(AssetsCatalog_FindFacetByName(c, "icon2"), nullptr);

  const BOMBlock& key1 = c.store.blocks[l.rendition_key[1]];
  EXPECT_EQ(RenditionKey_GetAttribute(c, key1, kAttrScale), 2);
  EXPECT_EQ(RenditionKey_GetAttribute(c, key1, kAttrFacetId), 3);
  EXPECT_EQ(RenditionKey_GetAttribute(c, key1, 5), -1);
  const BOMBlock& value1 = c.store.blocks[l.facet_value[1]];
  EXPECT_EQ(FacetValue_GetAttribute(value1, kAttrPart), 181);
  EXPECT_EQ(FacetValue_GetAttribute(value1, kAttrIdiom), -1);
}

TEST(AssetsCatalogLoad, FacetListEdgeCases) {
  {
    SCOPED_TRACE("no facets");
    CatalogFileSpec recipe = TwoFacets();
    recipe.facets.clear();
    AssetsCatalog c;
    ASSERT_TRUE(LoadBytes(c, test::BuildCatalogFile(recipe)));
    EXPECT_EQ(c.facet_count, 0u);
    EXPECT_EQ(BOMTree_EntryCount(c.renditions_tree), 3);
  }
  {
    SCOPED_TRACE("duplicate names: the first in tree order is found");
    CatalogFileSpec recipe = TwoFacets();
    recipe.facets[1].name = "icon";
    AssetsCatalog c;
    ASSERT_TRUE(LoadBytes(c, test::BuildCatalogFile(recipe)));
    EXPECT_EQ(AssetsCatalog_FindFacetByName(c, "icon"), &c.facets[0]);
  }
  {
    SCOPED_TRACE("key format without facet id");
    CatalogFileSpec recipe;
    recipe.key_format = {12, 15, 1};
    recipe.facets = {{"withid", test::FacetPairs(0, 220, 4)}, {"noid", {{1, 0}, {2, 220}}}};
    recipe.renditions = {{test::KeyInFormat(recipe.key_format, {{12, 1}}), BytesOf("a")},
                         {test::KeyInFormat(recipe.key_format, {{12, 2}}), BytesOf("b")}};
    AssetsCatalog c;
    ASSERT_TRUE(LoadBytes(c, test::BuildCatalogFile(recipe)));
    EXPECT_EQ(c.facets[0].rendition_count, 0);
    EXPECT_EQ(c.facets[1].id, -1);
    EXPECT_EQ(c.facets[1].rendition_count, 2);
  }
}

// A rendition goes to every facet with its id. Facets that share one (or all
// lack one) over many renditions would multiply into lists far beyond what
// the file holds: such a catalog is refused before the lists are allocated.
TEST(AssetsCatalogLoad, FacetsSharingAnIdAreHeldToTheFile) {
  const struct {
    const char* name;
    int facets;
    int renditions;
    bool with_ids;  // false: the key format and the facets lack attribute 17
    bool loads;
  } kCases[] = {
      {"two facets sharing an id list both renditions", 2, 2, true, true},
      {"300 facets sharing an id over 300 renditions", 300, 300, true, false},
      {"300 facets without an id over 300 keys without one", 300, 300, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    CatalogFileSpec recipe;
    recipe.table_count = 0;
    recipe.bitmap_keys_from_facets = false;
    if (!c.with_ids) recipe.key_format = {12, 15};
    for (int f = 0; f < c.facets; ++f) {
      recipe.facets.push_back({"facet" + std::to_string(1000 + f),
                               c.with_ids ? test::FacetPairs(85, 220, 1)
                                          : test::AttributePairs{{1, 85}, {2, 220}}});
    }
    for (int r = 0; r < c.renditions; ++r) {
      const uint16_t scale = static_cast<uint16_t>(r);
      recipe.renditions.push_back(
          {c.with_ids ? test::DefaultKey({{17, 1}, {12, scale}})
                      : test::KeyInFormat(recipe.key_format, {{12, scale}}),
           BytesOf("r")});
    }
    const Bytes file = test::BuildCatalogFile(recipe);
    AssetsCatalog catalog;
    errno = 0;
    ASSERT_EQ(LoadBytes(catalog, file), c.loads);
    if (!c.loads) {
      EXPECT_EQ(errno, EINVAL);
      continue;
    }
    ASSERT_EQ(catalog.facet_count, uint32_t(c.facets));
    for (uint32_t f = 0; f < catalog.facet_count; ++f) {
      EXPECT_EQ(catalog.facets[f].rendition_count, c.renditions);
    }
  }
}

TEST(AssetsCatalogLoad, ShortKeysAndFacetValuesReadAsMissing) {
  CatalogFileLayout l;
  const Bytes good = test::BuildCatalogFile(TwoFacets(), &l);
  // Rendition key 0 cut to 20 bytes: attribute 17 (position 10, bytes 20-21)
  // is gone. Facet value 0 claims 3 pairs in 14 bytes: only (1, 0) and (2,
  // 220) remain readable.
  const Bytes file = test::Patched(
      good, test::Patches({test::PutU32BE(l.store.BlockLengthAt(l.rendition_key[0]), 20),
                           test::PutU32BE(l.store.BlockLengthAt(l.facet_value[0]), 14)}));
  AssetsCatalog c;
  ASSERT_TRUE(LoadBytes(c, file));
  const BOMBlock& key0 = c.store.blocks[l.rendition_key[0]];
  EXPECT_EQ(RenditionKey_GetAttribute(c, key0, kAttrScale), 1);
  EXPECT_EQ(RenditionKey_GetAttribute(c, key0, kAttrFacetId), -1);
  EXPECT_EQ(RenditionKey_GetAttribute(c, key0, kAttrDimension2), -1);
  EXPECT_EQ(c.facets[0].part, 220);
  EXPECT_EQ(c.facets[0].id, -1);
  // Facet 0 and key 0 both lack the facet id now, so they match.
  ASSERT_EQ(c.facets[0].rendition_count, 1);
  EXPECT_EQ(c.facets[0].renditions[0].key_block, l.rendition_key[0]);
  BOMBlock tiny;
  uint8_t five[5] = {0, 0, 0, 0, 9};
  tiny.data = five;
  tiny.size = 5;
  EXPECT_EQ(FacetValue_GetAttribute(tiny, 1), -1);
  tiny.data = nullptr;
  tiny.size = 0;
  EXPECT_EQ(FacetValue_GetAttribute(tiny, 1), -1);
}

TEST(AssetsCatalogLoad, MalformedCatalogsAreRefused) {
  CatalogFileLayout l;
  const Bytes good = test::BuildCatalogFile(TwoFacets(), &l);
  auto rename = [&](uint32_t block, const char* to) {
    return test::PutText(l.store.label_entry_at.at(block) + 5, to);
  };
  auto length = [&](uint32_t block, uint32_t n) {
    return test::PutU32BE(l.store.BlockLengthAt(block), n);
  };
  CatalogFileLayout el;
  const Bytes empty = test::BuildCatalogFile(CatalogFileSpec{}, &el);
  CatalogFileSpec short_format = TwoFacets();
  short_format.key_format.pop_back();  // 16 attributes: 76 bytes

  struct BadCatalog {
    const char* name;
    Bytes file;
  };
  const BadCatalog kBadCatalogs[] = {
      {"no CARHEADER", test::Patched(good, rename(l.header, "CARHEADEX"))},
      {"CARHEADER of 435 bytes", test::Patched(good, length(l.header, 435))},
      {"CARHEADER of 437 bytes", test::Patched(good, length(l.header, 437))},
      {"no KEYFORMAT", test::Patched(good, rename(l.key_format, "KEYFORMAX"))},
      {"KEYFORMAT of 11 bytes", test::Patched(good, length(l.key_format, 11))},
      {"KEYFORMAT of 80 bytes with count 16",
       test::Patched(good, test::PutU32LE(l.DataAt(l.key_format) + 8, 16))},
      {"KEYFORMAT count overflowing 32 bits",
       test::Patched(good, test::PutU32LE(l.DataAt(l.key_format) + 8, 0x40000011))},
      {"metadata of 1027 bytes", test::Patched(good, length(l.metadata, 1027))},
      {"no RENDITIONS", test::Patched(good, rename(l.renditions_tree, "RENDITIONX"))},
      {"no FACETKEYS", test::Patched(good, rename(l.facet_keys_tree, "FACETKEYX"))},
      {"BITMAPKEYS header of 20 bytes", test::Patched(good, length(l.bitmap_keys_tree, 20))},
      {"RENDITIONS root is a branch over blocks that are not nodes",
       test::Patched(good, test::PutU16BE(l.DataAt(l.renditions_node), 0))},
      {"FACETKEYS entry names a block past the table",
       test::Patched(good, test::PutU32BE(l.DataAt(l.facet_keys_node) + 12 + 4, 512))},
      {"RENDITIONS value past the table",
       test::Patched(good, test::PutU32BE(l.DataAt(l.renditions_node) + 12, 0x7FFFFFFF))},
      {"BITMAPKEYS value past the table",
       test::Patched(good, test::PutU32BE(l.DataAt(l.bitmap_keys_node) + 12, 600))},
      {"FACETKEYS shares the RENDITIONS node",
       test::Patched(good, test::PutU32BE(l.DataAt(l.facet_keys_tree) + 8, l.renditions_node))},
      {"two empty trees share one node",
       test::Patched(empty, test::PutU32BE(el.DataAt(el.facet_keys_tree) + 8, el.renditions_node))},
      {"BITMAPKEYS node is the FACETKEYS header",
       test::Patched(good, test::PutU32BE(l.DataAt(l.bitmap_keys_tree) + 8, l.facet_keys_tree))},
  };
  for (const BadCatalog& c : kBadCatalogs) {
    SCOPED_TRACE(c.name);
    AssetsCatalog catalog;
    std::string err;
    errno = 0;
    EXPECT_FALSE(LoadBytes(catalog, c.file, &err));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(err, "");  // the catalog layer prints nothing
    AssetsCatalog_Free(catalog);
    EXPECT_EQ(catalog.store.count, 0u);
    EXPECT_EQ(catalog.facets, nullptr);
  }
  // The same files load when the defect is absent.
  AssetsCatalog ok;
  EXPECT_TRUE(LoadBytes(ok, test::Patched(good, length(l.header, 436))));
  EXPECT_TRUE(LoadBytes(ok, test::BuildCatalogFile(short_format)));
  EXPECT_EQ(KeyFormat_Count(ok), 16u);
}

TEST(AssetsCatalogLoad, StoreFailuresPassThrough) {
  AssetsCatalog c;
  std::string err;
  EXPECT_FALSE(LoadBytes(c, BytesOf("not a store at all, just text bytes"), &err));
  EXPECT_EQ(err, "BOMStore_ReadFromFile(): test.car is not a BOMStore file\n");
  test::TempDir dir;
  test::CaptureStream capture(2);
  EXPECT_FALSE(AssetsCatalog_Load(c, "missing.car"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(capture.Finish(),
            "BOMStore_ReadFromFile(): Buffer_ReadFromFile() failed reading missing.car\n");
}

TEST(AssetsCatalogLoad, AllocationFailuresAreCleanAndFreeable) {
  const Bytes file = test::BuildCatalogFile(TwoFacets());
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 200);
    AssetsCatalog c;
    test::CaptureStream quiet(2);
    Mem_FailAfter(n);
    const bool ok = AssetsCatalog_LoadFromBytes(c, file, "test.car");
    const int code = errno;
    Mem_FailAfter(-1);
    quiet.Finish();
    if (ok) {
      EXPECT_EQ(c.facets[0].rendition_count, 2);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    AssetsCatalog_Free(c);  // after a failure part way; leaks show under LeakSanitizer
    EXPECT_EQ(c.facets, nullptr);
  }
}

TEST(AssetsCatalogLoad, MoveTransfersOwnership) {
  AssetsCatalog a;
  ASSERT_TRUE(LoadBytes(a, test::BuildCatalogFile(TwoFacets())));
  const CARHeader* header = a.header;
  AssetsCatalog b(std::move(a));
  EXPECT_EQ(b.header, header);
  EXPECT_EQ(b.facet_count, 2u);
  EXPECT_STREQ(b.facets[1].name, "other");
  EXPECT_EQ(a.store.count, 0u);
  EXPECT_EQ(a.facets, nullptr);
  EXPECT_EQ(a.header, nullptr);
  EXPECT_EQ(a.header_index, -1);
  AssetsCatalog c;
  ASSERT_TRUE(LoadBytes(c, test::BuildCatalogFile(CatalogFileSpec{})));
  c = std::move(b);  // the old contents of c are released
  EXPECT_EQ(c.facet_count, 2u);
  EXPECT_EQ(b.facet_count, 0u);
}

}  // namespace
}  // namespace skarvel
