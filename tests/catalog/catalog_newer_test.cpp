// Catalogs in the shapes newer tools write: 29-byte tree headers with and
// without inline key copies, trees whose root is a branch over chained
// leaves, missing EXTENDED_METADATA and BITMAPKEYS, and the other labelled
// trees and blocks. They load for reading, refuse additions, and save their
// trees exactly as read.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/mem.h"
#include "catalog/catalog_builder.h"
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
using test::CatalogTreeShape;

// Three facets and seven renditions: ids 1, 1, 2, 3, 3, 3 and 9 (no facet).
CatalogFileSpec ThreeFacets() {
  CatalogFileSpec recipe;
  recipe.facets = {{"AppIcon", test::FacetPairs(85, 220, 1)},
                   {"Background", test::FacetPairs(85, 181, 2)},
                   {"Tile", test::FacetPairs(85, 181, 3)}};
  const uint16_t ids[] = {1, 1, 2, 3, 3, 3, 9};
  for (uint16_t i = 0; i < 7; ++i) {
    recipe.renditions.push_back({test::DefaultKey({{12, uint16_t(1 + i % 3)}, {17, ids[i]}}),
                                 BytesOf("rendition " + std::to_string(i))});
  }
  return recipe;
}

bool LoadBytes(AssetsCatalog& catalog, const Bytes& file) {
  test::CaptureStream capture(2);
  const bool ok = AssetsCatalog_LoadFromBytes(catalog, file, "test.car");
  const int code = errno;
  EXPECT_EQ(capture.Finish(), "");
  errno = code;
  return ok;
}

std::vector<std::pair<uint32_t, uint32_t>> EntriesOf(const BOMTree& tree) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t i = 0; i < BOMTree_EntryCount(tree); ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(tree, i);
    out.push_back({e.value, e.key});
  }
  return out;
}

struct NewerCase {
  const char* name;
  CatalogFileSpec recipe;
};

std::vector<NewerCase> NewerCases() {
  std::vector<NewerCase> cases;
  {
    NewerCase c{"no EXTENDED_METADATA, no BITMAPKEYS", ThreeFacets()};
    c.recipe.with_metadata = false;
    c.recipe.with_bitmap_keys_tree = false;
    cases.push_back(c);
  }
  {
    NewerCase c{"29-byte headers, RENDITIONS leaf with key copies", ThreeFacets()};
    c.recipe.renditions_shape = CatalogTreeShape{29, 34, 1};
    c.recipe.facet_keys_shape = CatalogTreeShape{29, kTreeKeysOfVaryingLength, 1};
    c.recipe.bitmap_keys_shape = CatalogTreeShape{29, 0, 1};
    cases.push_back(c);
  }
  {
    NewerCase c{"branch roots over chained leaves", ThreeFacets()};
    c.recipe.renditions_shape.leaves = 3;
    c.recipe.facet_keys_shape.leaves = 2;
    c.recipe.bitmap_keys_shape.leaves = 2;
    cases.push_back(c);
  }
  {
    NewerCase c{"29-byte header over chained leaves with key copies", ThreeFacets()};
    c.recipe.renditions_shape = CatalogTreeShape{29, 34, 3};
    cases.push_back(c);
  }
  {
    NewerCase c{"another labelled tree", ThreeFacets()};
    c.recipe.extra_trees = {{"COLORS", {{Bytes(132, 0), Bytes(12, 0)}}, {}, 4096}};
    cases.push_back(c);
  }
  return cases;
}

// Every newer shape reads like the same catalog in the older form: the same
// entries in the same order, facets, rendition lists and block kinds (the
// entry blocks keep their indices; leaves are written after everything).
TEST(CatalogNewer, NewerShapesReadLikeTheOlderForm) {
  AssetsCatalog older;
  CatalogFileLayout ol;
  ASSERT_TRUE(LoadBytes(older, test::BuildCatalogFile(ThreeFacets(), &ol)));
  EXPECT_TRUE(AssetsCatalog_CanAdd(older));
  ASSERT_EQ(older.facets[0].rendition_count, 2);
  ASSERT_EQ(older.facets[1].rendition_count, 1);
  ASSERT_EQ(older.facets[2].rendition_count, 3);
  for (const NewerCase& c : NewerCases()) {
    SCOPED_TRACE(c.name);
    CatalogFileLayout l;
    AssetsCatalog catalog;
    ASSERT_TRUE(LoadBytes(catalog, test::BuildCatalogFile(c.recipe, &l)));
    EXPECT_EQ(l.rendition_key, ol.rendition_key);
    EXPECT_EQ(EntriesOf(catalog.renditions_tree), EntriesOf(older.renditions_tree));
    EXPECT_EQ(EntriesOf(catalog.facet_keys_tree), EntriesOf(older.facet_keys_tree));
    ASSERT_EQ(catalog.facet_count, 3u);
    for (uint32_t f = 0; f < 3; ++f) {
      EXPECT_STREQ(catalog.facets[f].name, older.facets[f].name);
      ASSERT_EQ(catalog.facets[f].rendition_count, older.facets[f].rendition_count);
      for (int r = 0; r < older.facets[f].rendition_count; ++r) {
        EXPECT_EQ(catalog.facets[f].renditions[r].key_block,
                  older.facets[f].renditions[r].key_block);
        EXPECT_EQ(catalog.facets[f].renditions[r].value_block,
                  older.facets[f].renditions[r].value_block);
      }
    }
    for (uint32_t k : l.rendition_key)
      EXPECT_EQ(catalog.store.blocks[k].kind, BlockKind::RenditionKey);
    for (uint32_t v : l.rendition_value) {
      EXPECT_EQ(catalog.store.blocks[v].kind, BlockKind::RenditionValue);
    }
    for (uint32_t k : l.facet_key) EXPECT_EQ(catalog.store.blocks[k].kind, BlockKind::FacetKey);
    for (uint32_t leaf : l.renditions_leaves) {
      EXPECT_EQ(catalog.store.blocks[leaf].kind, BlockKind::TreeBase);
      EXPECT_EQ(AssetsCatalog_TreeOfBlock(catalog, leaf), &catalog.renditions_tree);
    }
    for (uint32_t leaf : l.facet_keys_leaves) {
      EXPECT_EQ(AssetsCatalog_TreeOfBlock(catalog, leaf), &catalog.facet_keys_tree);
    }
    if (c.recipe.with_bitmap_keys_tree) {
      EXPECT_EQ(EntriesOf(catalog.bitmap_keys_tree), EntriesOf(older.bitmap_keys_tree));
      for (uint32_t b : l.bitmap_key) EXPECT_EQ(catalog.store.blocks[b].kind, BlockKind::BitmapKey);
    } else {
      EXPECT_EQ(catalog.bitmap_keys_tree_index, -1);
      EXPECT_EQ(BOMTree_EntryCount(catalog.bitmap_keys_tree), 0u);
    }
    if (c.recipe.with_metadata) {
      EXPECT_EQ(catalog.store.blocks[l.metadata].kind, BlockKind::Metadata);
    } else {
      EXPECT_EQ(catalog.metadata, nullptr);
      EXPECT_EQ(catalog.metadata_index, -1);
    }
  }
}

void AppendU16(Bytes& b, uint16_t v) { test::AppendU16LE(b, v); }

Bytes NamedField(const std::string& name, size_t width, size_t lead_zeros) {
  Bytes b(lead_zeros, 0);
  test::AppendField(b, name, width);
  return b;
}

// A catalog with every other labelled tree and block newer catalogs carry.
CatalogFileSpec OtherBlocksSpec() {
  CatalogFileSpec recipe = ThreeFacets();
  // Position 6 holds the placeholder 5; KEYFORMATWORKAROUND makes it 24.
  recipe.key_format = {7, 12, 15, 17, 1, 2, 5};
  for (test::CatalogRendition& r : recipe.renditions) {
    const uint16_t scale = test::GetU16LE(r.key, 0);
    const uint16_t id = test::GetU16LE(r.key, 20);
    r.key = test::KeyInFormat(recipe.key_format, {{7, 1}, {12, scale}, {17, id}, {5, 2}});
  }
  Bytes any, dark;
  AppendU16(any, 0);
  AppendU16(dark, 1);
  Bytes blue = Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xF5, 0x70, 0x00, 0xFF};
  test::PutU32LE(0, 1)(blue);
  Bytes six;
  test::AppendF32LE(six, 6.0f);
  recipe.extra_trees = {
      {"APPEARANCEKEYS",
       {{BytesOf("UIAppearanceAny"), any}, {BytesOf("UIAppearanceDark"), dark}},
       CatalogTreeShape{29, kTreeKeysOfVaryingLength, 1},
       4096},
      {"COLORS", {{NamedField("controlAccentBlueColor", 128, 4), blue}}, {}, 4096},
      {"FONTSIZES", {{NamedField("NSRegularControlSize", 128, 0), six}}, {}, 4096},
      {"FONTS", {}, {}, 4096},
      {"LOCALIZATIONKEYS", {{BytesOf("en"), any}}, {}, 4096},
  };
  Bytes workaround(4 * recipe.key_format.size(), 0);
  test::PutU32LE(4 * 6, 24)(workaround);
  recipe.extra_blocks = {{"CARGLOBALS", BytesOf("bplist00 settings")},
                         {"KEYFORMATWORKAROUND", workaround}};
  return recipe;
}

TEST(CatalogNewer, OtherLabelledTreesAndBlocks) {
  CatalogFileLayout l;
  AssetsCatalog c;
  ASSERT_TRUE(LoadBytes(c, test::BuildCatalogFile(OtherBlocksSpec(), &l)));
  ASSERT_EQ(c.other_tree_count, 5u);
  const CatalogTreeRole roles[] = {CatalogTreeRole::Appearances, CatalogTreeRole::Colors,
                                   CatalogTreeRole::FontSizes, CatalogTreeRole::Other,
                                   CatalogTreeRole::Other};
  const BlockKind keys[] = {BlockKind::AppearanceKey, BlockKind::ColorKey, BlockKind::FontSizeKey,
                            BlockKind::TreeKey, BlockKind::TreeKey};
  const BlockKind values[] = {BlockKind::AppearanceValue, BlockKind::ColorValue,
                              BlockKind::FontSizeValue, BlockKind::TreeValue, BlockKind::TreeValue};
  for (uint32_t t = 0; t < 5; ++t) {
    SCOPED_TRACE(t);
    const CatalogTree& other = c.other_trees[t];
    EXPECT_EQ(other.role, roles[t]);
    EXPECT_EQ(other.tree.header_index, int32_t(l.extra_tree[t]));
    EXPECT_EQ(BOMTree_EntryCount(other.tree), l.extra_key[t].size());
    EXPECT_EQ(c.store.blocks[l.extra_tree[t]].kind, BlockKind::TreeHeader);
    EXPECT_EQ(c.store.blocks[l.extra_node[t]].kind, BlockKind::TreeBase);
    EXPECT_EQ(AssetsCatalog_TreeOfBlock(c, l.extra_tree[t]), &other.tree);
    EXPECT_EQ(AssetsCatalog_TreeOfBlock(c, l.extra_node[t]), &other.tree);
    for (uint32_t k : l.extra_key[t]) EXPECT_EQ(c.store.blocks[k].kind, keys[t]);
    for (uint32_t v : l.extra_value[t]) EXPECT_EQ(c.store.blocks[v].kind, values[t]);
  }
  EXPECT_EQ(c.store.blocks[l.extra_block[0]].kind, BlockKind::CarGlobals);
  EXPECT_EQ(c.store.blocks[l.extra_block[1]].kind, BlockKind::KeyFormatWorkaround);
  EXPECT_EQ(c.key_format_workaround_index, int32_t(l.extra_block[1]));
  EXPECT_EQ(AssetsCatalog_TreeOfBlock(c, l.rendition_key[0]), nullptr);
  EXPECT_EQ(AssetsCatalog_TreeOfBlock(c, l.renditions_node), &c.renditions_tree);

  EXPECT_STREQ(AssetsCatalog_AppearanceName(c, 1), "UIAppearanceDark");
  EXPECT_STREQ(AssetsCatalog_AppearanceName(c, 0), "UIAppearanceAny");
  EXPECT_EQ(AssetsCatalog_AppearanceName(c, 4), nullptr);

  // The placeholder position reads as the attribute the workaround names.
  EXPECT_EQ(KeyFormat_Attribute(c, 6), 5u);
  EXPECT_EQ(KeyFormat_EffectiveAttribute(c, 6), 24u);
  EXPECT_EQ(KeyFormat_EffectiveAttribute(c, 0), 7u);
  const BOMBlock& key = c.store.blocks[l.rendition_key[0]];
  EXPECT_EQ(RenditionKey_GetAttribute(c, key, kAttrDisplayGamut), 2);
  EXPECT_EQ(RenditionKey_GetAttribute(c, key, kAttrPlaceholder), -1);
  EXPECT_EQ(RenditionKey_GetAttribute(c, key, kAttrAppearance), 1);
  EXPECT_EQ(c.facets[2].rendition_count, 3);
}

TEST(CatalogNewer, UnreadableOtherTreesStayUnclassified) {
  CatalogFileSpec recipe = ThreeFacets();
  recipe.extra_trees = {{"COLORS", {{Bytes(132, 0), Bytes(12, 0)}}, {}, 4096}};
  CatalogFileLayout l;
  const Bytes good = test::BuildCatalogFile(recipe, &l);
  const size_t colors = l.DataAt(l.extra_tree[0]);
  struct Case {
    const char* name;
    test::Patch patch;
  };
  const Case kCases[] = {
      {"node past the table", test::PutU32BE(colors + 8, 9999)},
      {"node is the RENDITIONS node", test::PutU32BE(colors + 8, l.renditions_node)},
      {"node is a rendition value", test::PutU32BE(colors + 8, l.rendition_value[0])},
      {"entry past the table", test::PutU32BE(l.DataAt(l.extra_node[0]) + 12, 9999)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    AssetsCatalog catalog;
    ASSERT_TRUE(LoadBytes(catalog, test::Patched(good, c.patch)));
    EXPECT_EQ(catalog.other_tree_count, 0u);
    EXPECT_EQ(catalog.store.blocks[l.extra_tree[0]].kind, BlockKind::None);
    EXPECT_EQ(catalog.store.blocks[l.renditions_node].kind, BlockKind::TreeBase);
    EXPECT_EQ(catalog.store.blocks[l.rendition_value[0]].kind, BlockKind::RenditionValue);
    EXPECT_EQ(catalog.facets[2].rendition_count, 3);
  }
}

TEST(CatalogNewer, AllocationFailuresAreCleanAndFreeable) {
  CatalogFileSpec recipe = OtherBlocksSpec();
  recipe.renditions_shape = CatalogTreeShape{29, 14, 3};
  const Bytes file = test::BuildCatalogFile(recipe);
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 200);
    AssetsCatalog c;
    Mem_FailAfter(n);
    const bool ok = AssetsCatalog_LoadFromBytes(c, file, "test.car");
    const int code = errno;
    Mem_FailAfter(-1);
    if (ok) {
      EXPECT_EQ(c.other_tree_count, 5u);
      EXPECT_EQ(c.facets[2].rendition_count, 3);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    AssetsCatalog_Free(c);  // leaks show under LeakSanitizer
    EXPECT_EQ(c.other_trees, nullptr);
  }
}

std::vector<Bytes> BlocksOf(const BOMStore& store) {
  std::vector<Bytes> out;
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& b = store.blocks[i];
    out.emplace_back(b.data, b.data + (b.data ? b.size : 0));
  }
  return out;
}

// The builder only grows catalogs whose every reference it renumbers; any
// other catalog is refused before anything changes, and a save writes its
// trees byte for byte as they were read.
TEST(CatalogNewer, AdditionsAreRefusedAndSavesKeepTreesAsRead) {
  std::vector<NewerCase> cases = NewerCases();
  cases.push_back({"other trees and a workaround", OtherBlocksSpec()});
  for (const NewerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = test::BuildCatalogFile(c.recipe);
    AssetsCatalog catalog;
    ASSERT_TRUE(LoadBytes(catalog, file));
    const std::vector<Bytes> before = BlocksOf(catalog.store);

    errno = 0;
    EXPECT_FALSE(AssetsCatalog_CanAdd(catalog));
    EXPECT_EQ(errno, ENOTSUP);
    errno = 0;
    EXPECT_EQ(AssetsCatalog_AddFacet(catalog, "New", 85, 220, nullptr), -1);
    EXPECT_EQ(errno, ENOTSUP);
    int32_t attributes[kAttrCount] = {};
    errno = 0;
    EXPECT_EQ(AssetsCatalog_AddRendition(catalog, 1, attributes, 1, 1, 100, "BGRA", 1, 12, "x", 1),
              -1);
    EXPECT_EQ(errno, ENOTSUP);
    errno = 0;
    EXPECT_FALSE(AssetsCatalog_InsertBlock(catalog, 3));
    EXPECT_EQ(errno, ENOTSUP);
    EXPECT_EQ(BlocksOf(catalog.store), before);
    EXPECT_EQ(catalog.facet_count, 3u);

    test::TempDir dir;
    ASSERT_TRUE(AssetsCatalog_Save(catalog, "saved.car"));
    BOMStore original, saved;
    {
      test::CaptureStream quiet(2);
      ASSERT_TRUE(BOMStore_ReadFromBytes(original, file, "original"));
      ASSERT_TRUE(BOMStore_ReadFromFile(saved, "saved.car"));
    }
    ASSERT_EQ(saved.count, original.count);
    // Every block but the header (new UUID and checksum) is as in the file.
    const std::vector<Bytes> a = BlocksOf(original), b = BlocksOf(saved);
    for (uint64_t i = 0; i < a.size(); ++i) {
      if (int64_t(i) == catalog.header_index) continue;
      EXPECT_EQ(a[i], b[i]) << "block " << i;
    }
  }
}

}  // namespace
}  // namespace skarvel
