#include "catalog/catalog_builder.h"

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/mem.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_format.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CatalogFileLayout;
using test::CatalogFileSpec;

// The new catalog's CARHEADER is the first block with data: offset 512.
constexpr size_t kUuidAt = 512 + 404;
constexpr size_t kChecksumAt = 512 + 420;

// Sets SOURCE_DATE_EPOCH for the scope of a test.
class Epoch {
 public:
  explicit Epoch(const char* value) { setenv("SOURCE_DATE_EPOCH", value, 1); }
  ~Epoch() { unsetenv("SOURCE_DATE_EPOCH"); }
};

Bytes ReadAll(const std::string& path) {
  const std::string text = test::ReadFileText(path);
  return Bytes(text.begin(), text.end());
}

Bytes SaveBytes(AssetsCatalog& c, const std::string& path = "saved.car") {
  EXPECT_TRUE(AssetsCatalog_Save(c, path.c_str()));
  return ReadAll(path);
}

// The builder's idea of the same catalog, with the saved file's random UUID
// and checksum.
Bytes Expected(CatalogFileSpec recipe, const Bytes& saved) {
  std::copy(saved.begin() + kUuidAt, saved.begin() + kUuidAt + 16, recipe.uuid.begin());
  recipe.checksum = test::GetU32LE(saved, kChecksumAt);
  return test::BuildCatalogFile(recipe);
}

struct Attributes {
  int32_t v[kAttrCount] = {};
};

int32_t AddRendition(AssetsCatalog& c, int32_t facet, Attributes& a, const char* name = "r") {
  return AssetsCatalog_AddRendition(c, facet, a.v, 10, 20, 200, "BGRA", 1, kLayoutImage, name, 1);
}

Bytes RenditionValue(const char* name = "r") {
  return test::CSIRecordBuilder()
      .Size(10, 20)
      .ScaleFactor(200)
      .PixelFormat("BGRA")
      .Colorspace(1)
      .Layout(12)
      .Name(name)
      .BitmapCount(1)
      .Build();
}

TEST(CatalogCreate, NewEmptyCatalog) {
  test::TempDir dir;
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
  EXPECT_EQ(c.store.count, 512u);
  EXPECT_EQ(c.header_index, 1);
  EXPECT_EQ(c.renditions_tree_index, 2);
  EXPECT_EQ(c.facet_keys_tree_index, 4);
  EXPECT_EQ(c.key_format_index, 6);
  EXPECT_EQ(c.metadata_index, 7);
  EXPECT_EQ(c.bitmap_keys_tree_index, 8);
  EXPECT_EQ(c.facet_count, 0u);
  const BlockKind kinds[] = {BlockKind::None,       BlockKind::CarHeader, BlockKind::TreeHeader,
                             BlockKind::TreeBase,   BlockKind::TreeHeader, BlockKind::TreeBase,
                             BlockKind::KeyFormat,  BlockKind::Metadata,  BlockKind::TreeHeader,
                             BlockKind::TreeBase,   BlockKind::None};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(c.store.blocks[i].kind, kinds[i]) << i;
  EXPECT_EQ(BOMTree_NodeBlockSize(c.renditions_tree), 4096u);
  EXPECT_EQ(BOMTree_NodeBlockSize(c.bitmap_keys_tree), 1024u);
  EXPECT_EQ(BOMTree_Flags(c.bitmap_keys_tree), 1);
  EXPECT_EQ(c.header->uuid[6] & 0xF0, 0x40);
  EXPECT_EQ(c.header->uuid[8] & 0xC0, 0x80);

  const Bytes saved = SaveBytes(c);
  // Every constant, the block layout, the labels and the big-endian trees.
  EXPECT_EQ(saved, Expected(CatalogFileSpec{}, saved));
  EXPECT_EQ(saved[kUuidAt + 6] & 0xF0, 0x40);
  EXPECT_EQ(saved[kUuidAt + 8] & 0xC0, 0x80);
  // Saving leaves the catalog in host order and usable.
  EXPECT_EQ(LoadU32Host(c.renditions_tree.header + 4), 1u);
  Attributes a;
  EXPECT_EQ(AddRendition(c, 5, a), 8);

  AssetsCatalog back;
  ASSERT_TRUE(AssetsCatalog_Load(back, "saved.car"));
  EXPECT_EQ(back.store.count, 512u);
  EXPECT_EQ(back.facet_count, 0u);
  for (uint64_t i = 0; i < back.store.count; ++i) {
    EXPECT_EQ(back.store.blocks[i].size != 0, i >= 1 && i <= 9) << i;
  }
  for (const auto& [label, index] : {std::pair{"CARHEADER", 1}, {"RENDITIONS", 2},
                                     {"FACETKEYS", 4}, {"KEYFORMAT", 6},
                                     {"EXTENDED_METADATA", 7}, {"BITMAPKEYS", 8}}) {
    EXPECT_EQ(BOMStore_FindBlockByLabel(back.store, label), index) << label;
  }

  AssetsCatalog refused;
  errno = 0;
  EXPECT_FALSE(AssetsCatalog_CreateNew(refused, std::string(256, 'p').c_str()));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(AssetsCatalog_CreateNew(refused, std::string(255, 'p').c_str()));
}

TEST(CatalogCreate, SameEpochGivesTheSameBytes) {
  test::TempDir dir;
  auto build = [](const char* epoch, const char* path) {
    Epoch e(epoch);
    AssetsCatalog c;
    EXPECT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
    EXPECT_EQ(AssetsCatalog_AddFacet(c, "AppIcon", 0, 220, nullptr), 1);
    Attributes a;
    EXPECT_GE(AddRendition(c, 1, a), 0);
    return SaveBytes(c, path);
  };
  const Bytes first = build("1700000000", "a.car");
  EXPECT_EQ(build("1700000000", "b.car"), first);
  const Bytes other = build("1700000001", "c.car");
  ASSERT_EQ(other.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    if (i >= kUuidAt && i < kChecksumAt + 4) continue;
    ASSERT_EQ(other[i], first[i]) << "byte " << i;
  }
  EXPECT_NE(Bytes(other.begin() + kUuidAt, other.begin() + kChecksumAt + 4),
            Bytes(first.begin() + kUuidAt, first.begin() + kChecksumAt + 4));

  Epoch e("12345");
  CatalogRandom_Seed();
  std::vector<int> draws;
  for (int i = 0; i < 1000; ++i) draws.push_back(CatalogRandom_Next());
  CatalogRandom_Seed();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(CatalogRandom_Next(), draws[size_t(i)]);
    ASSERT_GE(draws[size_t(i)], 0);
    ASSERT_LE(draws[size_t(i)], 32767);
  }
}

TEST(CatalogFacets, OrderIdsAndBlockPositions) {
  test::TempDir dir;
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
  int32_t bitmap = -1;
  ASSERT_EQ(AssetsCatalog_AddFacet(c, "b", 3, 220, &bitmap), 1);
  EXPECT_EQ(bitmap, 12);
  ASSERT_EQ(AssetsCatalog_AddFacet(c, "a", 4, 181, &bitmap), 2);
  EXPECT_EQ(bitmap, 14);
  ASSERT_EQ(c.facet_count, 2u);
  EXPECT_STREQ(c.facets[0].name, "a");
  EXPECT_EQ(c.facets[0].id, 2);
  EXPECT_EQ(c.facets[0].element, 4);
  EXPECT_EQ(c.facets[0].part, 181);
  EXPECT_STREQ(c.facets[1].name, "b");
  EXPECT_EQ(c.facets[1].id, 1);
  EXPECT_EQ(BOMTree_GetEntry(c.facet_keys_tree, 0).key, 6u);
  EXPECT_EQ(BOMTree_GetEntry(c.facet_keys_tree, 0).value, 7u);
  EXPECT_EQ(BOMTree_GetEntry(c.facet_keys_tree, 1).key, 8u);
  EXPECT_EQ(c.key_format_index, 10);
  EXPECT_EQ(c.metadata_index, 11);
  EXPECT_EQ(c.bitmap_keys_tree_index, 12);
  EXPECT_EQ(BOMTree_ChildIndex(c.bitmap_keys_tree), 13u);
  EXPECT_EQ(BOMTree_GetEntry(c.bitmap_keys_tree, 0).value, 14u);
  EXPECT_EQ(BOMTree_GetEntry(c.bitmap_keys_tree, 0).key, 2u);
  EXPECT_EQ(BOMTree_GetEntry(c.bitmap_keys_tree, 1).value, 15u);
  EXPECT_EQ(c.store.blocks[14].kind, BlockKind::BitmapKey);
  EXPECT_EQ(c.store.blocks[6].kind, BlockKind::FacetKey);
  EXPECT_EQ(c.store.blocks[9].kind, BlockKind::FacetValue);

  const Bytes saved = SaveBytes(c);
  CatalogFileSpec recipe;
  recipe.facets = {{"a", test::FacetPairs(4, 181, 2)}, {"b", test::FacetPairs(3, 220, 1)}};
  EXPECT_EQ(saved, Expected(recipe, saved));
}

TEST(CatalogFacets, PrefixNamesGoAfterTheirPrefix) {
  struct Case {
    std::vector<const char*> added;
    std::vector<const char*> order;
  };
  const Case kCases[] = {
      {{"icon2", "icon"}, {"icon2", "icon"}},
      {{"icon", "icon2"}, {"icon", "icon2"}},
      {{"b", "a", "c", "ab"}, {"a", "ab", "b", "c"}},
      {{"\xC3\xA9", "z"}, {"z", "\xC3\xA9"}},  // bytes compare unsigned
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.added.front());
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
    for (const char* name : c.added) ASSERT_GT(AssetsCatalog_AddFacet(catalog, name, 0, 220, nullptr), 0);
    for (size_t i = 0; i < c.order.size(); ++i) {
      EXPECT_STREQ(catalog.facets[i].name, c.order[i]);
      const BOMBlock& key = catalog.store.blocks[BOMTree_GetEntry(catalog.facet_keys_tree, uint32_t(i)).key];
      EXPECT_EQ(std::string(reinterpret_cast<char*>(key.data), key.size), c.order[i]);
    }
  }
}

TEST(CatalogRenditions, SortedInsertionAndRenumbering) {
  test::TempDir dir;
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
  ASSERT_EQ(AssetsCatalog_AddFacet(c, "icon", 0, 220, nullptr), 1);
  // facet key 6, value 7, key format 8, metadata 9, BITMAPKEYS 10/11, bitmap key 12
  Attributes a;
  a.v[kAttrScale] = 2;
  a.v[kAttrElement] = 77;  // replaced by the facet's element
  EXPECT_EQ(AddRendition(c, 1, a, "two"), 10);
  EXPECT_EQ(a.v[kAttrFacetId], 1);
  EXPECT_EQ(a.v[kAttrElement], 0);
  EXPECT_EQ(c.metadata_index, 11);
  EXPECT_EQ(c.bitmap_keys_tree_index, 12);
  EXPECT_EQ(BOMTree_ChildIndex(c.bitmap_keys_tree), 13u);
  EXPECT_EQ(BOMTree_GetEntry(c.bitmap_keys_tree, 0).value, 14u);

  Attributes one;
  one.v[kAttrScale] = 1;
  EXPECT_EQ(AddRendition(c, 1, one, "one"), 10);  // sorts first
  Attributes dup = one;
  dup.v[kAttrFacetId] = 0;
  EXPECT_EQ(AddRendition(c, 1, dup, "dup"), 12);  // equal key: after the existing one
  Attributes stray;
  stray.v[kAttrElement] = 7;
  stray.v[kAttrScale] = 3;
  EXPECT_EQ(AddRendition(c, 99, stray, "stray"), 16);  // no facet 99
  EXPECT_EQ(stray.v[kAttrElement], 7);

  EXPECT_EQ(Get(c.header->rendition_count), 4u);
  ASSERT_EQ(c.facets[0].rendition_count, 3);
  // In the order added, renumbered as blocks moved: "two", "one", "dup".
  const std::pair<uint32_t, uint32_t> refs[] = {{13, 14}, {9, 10}, {11, 12}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(c.facets[0].renditions[i].key_block, refs[i].first) << i;
    EXPECT_EQ(c.facets[0].renditions[i].value_block, refs[i].second) << i;
  }
  EXPECT_EQ(c.metadata_index, 17);
  EXPECT_EQ(BOMTree_ChildIndex(c.bitmap_keys_tree), 19u);

  const Bytes saved = SaveBytes(c);
  CatalogFileSpec recipe;
  recipe.facets = {{"icon", test::FacetPairs(0, 220, 1)}};
  recipe.renditions = {{test::DefaultKey({{12, 1}, {17, 1}}), RenditionValue("one")},
                       {test::DefaultKey({{12, 1}, {17, 1}}), RenditionValue("dup")},
                       {test::DefaultKey({{12, 2}, {17, 1}}), RenditionValue("two")},
                       {test::DefaultKey({{12, 3}, {17, 99}, {1, 7}}), RenditionValue("stray")}};
  EXPECT_EQ(saved, Expected(recipe, saved));

  AssetsCatalog back;
  ASSERT_TRUE(AssetsCatalog_Load(back, "saved.car"));
  EXPECT_EQ(back.facets[0].rendition_count, 3);
}

TEST(CatalogRenditions, TableCapacity) {
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
  ASSERT_EQ(AssetsCatalog_AddFacet(c, "icon", 0, 220, nullptr), 1);
  Attributes a;
  for (int i = 0; i < 249; ++i) {
    a.v[kAttrDimension2] = i;
    ASSERT_GE(AddRendition(c, 1, a), 0) << i;
  }
  errno = 0;
  EXPECT_EQ(AddRendition(c, 1, a), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(BOMTree_EntryCount(c.renditions_tree), 249);
  EXPECT_EQ(c.facets[0].rendition_count, 249);
  EXPECT_EQ(Get(c.header->rendition_count), 249u);
  errno = 0;
  EXPECT_EQ(AssetsCatalog_AddFacet(c, "more", 0, 220, nullptr), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(c.facet_count, 1u);
}

TEST(CatalogAdditions, RefusedOnLoadedCatalogs) {
  struct Case {
    const char* name;
    CatalogFileSpec recipe;
    int code;
  };
  CatalogFileSpec full;
  full.facets = {{"icon", test::FacetPairs(0, 220, 1)}};
  full.table_count = 0;  // just enough: the last entry holds the bitmap key
  CatalogFileSpec wide;
  wide.key_format.push_back(3);  // 18 attributes
  CatalogFileSpec reordered;
  std::swap(reordered.key_format[0], reordered.key_format[1]);
  const Case kCases[] = {
      {"last table entry in use", full, ENOSPC},
      {"18-attribute key format", wide, ENOTSUP},
      {"reordered key format", reordered, ENOTSUP},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    AssetsCatalog c;
    ASSERT_TRUE(AssetsCatalog_LoadFromBytes(c, test::BuildCatalogFile(k.recipe), "t.car"));
    const uint32_t facets = c.facet_count;
    errno = 0;
    EXPECT_EQ(AssetsCatalog_AddFacet(c, "new", 0, 220, nullptr), -1);
    EXPECT_EQ(errno, k.code);
    Attributes a;
    errno = 0;
    EXPECT_EQ(AddRendition(c, 1, a), -1);
    EXPECT_EQ(errno, k.code);
    EXPECT_EQ(c.facet_count, facets);
    EXPECT_EQ(BOMTree_EntryCount(c.renditions_tree), 0);
  }
}

// (key bytes, value bytes) of every entry of a tree, and of every facet's
// rendition list: what renumbering must preserve.
std::vector<std::string> Contents(const AssetsCatalog& c) {
  auto text = [&](uint32_t index) {
    const BOMBlock& b = c.store.blocks[index];
    return std::string(reinterpret_cast<const char*>(b.data), b.data ? b.size : 0);
  };
  std::vector<std::string> out;
  for (const BOMTree* t : {&c.renditions_tree, &c.facet_keys_tree}) {
    for (uint32_t i = 0; i < BOMTree_EntryCount(*t); ++i) {
      const BOMTreeEntry e = BOMTree_GetEntry(*t, i);
      out.push_back(text(e.key) + "|" + text(e.value));
    }
  }
  for (uint32_t i = 0; i < BOMTree_EntryCount(c.bitmap_keys_tree); ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(c.bitmap_keys_tree, i);
    out.push_back(std::to_string(e.key) + "|" + text(e.value));
  }
  for (uint32_t f = 0; f < c.facet_count; ++f) {
    for (int32_t r = 0; r < c.facets[f].rendition_count; ++r) {
      out.push_back(text(c.facets[f].renditions[r].key_block) + "|" +
                    text(c.facets[f].renditions[r].value_block));
    }
  }
  out.push_back(std::string(reinterpret_cast<const char*>(c.header), 436));
  out.push_back(std::string(reinterpret_cast<const char*>(c.key_format), 80));
  out.push_back(std::string(reinterpret_cast<const char*>(c.metadata), 1028));
  return out;
}

TEST(CatalogInsertBlock, RenumbersEveryReference) {
  CatalogFileSpec recipe;
  recipe.facets = {{"a", test::FacetPairs(0, 220, 1)}, {"b", test::FacetPairs(0, 181, 2)}};
  recipe.renditions = {{test::DefaultKey({{17, 1}, {12, 1}}), test::BytesOf("value a1")},
                       {test::DefaultKey({{17, 2}, {12, 2}}), test::BytesOf("value b2")}};
  CatalogFileLayout l;
  const Bytes file = test::BuildCatalogFile(recipe, &l);
  const uint32_t positions[] = {1, 3, l.facet_key[1], l.key_format, l.rendition_value[0],
                                l.metadata, l.bitmap_keys_node, l.bitmap_key[1], 400, 511};
  for (uint32_t k : positions) {
    SCOPED_TRACE(k);
    AssetsCatalog c;
    ASSERT_TRUE(AssetsCatalog_LoadFromBytes(c, file, "t.car"));
    const std::vector<std::string> before = Contents(c);
    ASSERT_TRUE(AssetsCatalog_InsertBlock(c, int32_t(k)));
    EXPECT_EQ(c.store.count, 512u);
    EXPECT_EQ(c.store.blocks[k].size, 0u);
    EXPECT_EQ(c.store.blocks[k].label, nullptr);
    EXPECT_EQ(Contents(c), before);
    EXPECT_EQ(c.header_index, int32_t(l.header >= k ? l.header + 1 : l.header));
  }

  // An empty last entry that a tree still names is not pushed out.
  CatalogFileSpec spare = recipe;
  spare.table_count = l.bitmap_key.back() + 2;
  CatalogFileLayout sl;
  const Bytes spare_file = test::BuildCatalogFile(spare, &sl);
  const Bytes hostile = test::Patched(
      spare_file, test::PutU32BE(sl.DataAt(sl.renditions_node) + 12, spare.table_count - 1));
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(c, hostile, "t.car"));
  errno = 0;
  EXPECT_FALSE(AssetsCatalog_InsertBlock(c, 1));
  EXPECT_EQ(errno, ENOSPC);
  AssetsCatalog fine;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(fine, spare_file, "t.car"));
  EXPECT_TRUE(AssetsCatalog_InsertBlock(fine, 1));
  EXPECT_FALSE(AssetsCatalog_InsertBlock(fine, 1));
  EXPECT_EQ(errno, ENOSPC);
}

TEST(BitmapKey, SetAttributeMask) {
  const Bytes good = test::BitmapKeyBytes({test::kDefaultKeyMasks.begin(), test::kDefaultKeyMasks.end()});
  struct Case {
    const char* name;
    Bytes block;
    uint32_t attribute;
    bool ok;
    int code;
    size_t changed_at;
  };
  const Case kCases[] = {
      {"scale", good, 12, true, 0, 16},
      {"idiom", good, 15, true, 0, 20},
      {"dimension 2", good, 9, true, 0, 16 + 64},
      {"attribute 5", good, 5, false, ENOENT, 0},
      {"key count 16", test::Patched(good, test::PutU32LE(12, 16)), 12, false, EINVAL, 0},
      {"80 bytes", test::Patched(good, test::Truncate(80)), 12, false, EINVAL, 0},
      {"15 bytes", test::Patched(good, test::Truncate(15)), 12, false, EINVAL, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes copy = c.block;
    BOMBlock block;
    block.data = copy.data();
    block.size = copy.size();
    errno = 0;
    EXPECT_EQ(BitmapKey_SetAttributeMask(block, c.attribute, 0xABCD), c.ok);
    if (c.ok) {
      EXPECT_EQ(test::GetU32LE(copy, c.changed_at), 0xABCDu);
      // Put the old mask back: no other byte may differ.
      const auto old = c.block.begin() + long(c.changed_at);
      copy = test::Patched(copy, test::PutBytes(c.changed_at, Bytes(old, old + 4)));
    } else {
      EXPECT_EQ(errno, c.code);
    }
    EXPECT_EQ(copy, c.block);  // nothing else changed
  }
}

TEST(CatalogSave, FailureLeavesTheTargetAndNoTemporaryFile) {
  test::TempDir dir;
  AssetsCatalog c;
  ASSERT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
  ASSERT_EQ(AssetsCatalog_AddFacet(c, "icon", 0, 220, nullptr), 1);
  test::WriteFileText("out.car", "previous contents");
  std::vector<Bytes> tree_blocks;
  for (int32_t i : {2, 3, 4, 5}) {
    const BOMBlock& b = c.store.blocks[i];
    tree_blocks.push_back(Bytes(b.data, b.data + b.size));
  }

  // A file-size limit makes the write fail part way (as root too).
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  errno = 0;
  const bool ok = AssetsCatalog_Save(c, "out.car");
  const int code = errno;
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(code, EFBIG);
  EXPECT_EQ(test::ReadFileText("out.car"), "previous contents");
  EXPECT_EQ(test::ListTree(dir.path()), "out.car\n");

  // Allocation failure while laying out: same, and the trees are back in
  // host order.
  {
    test::CaptureStream capture(2);
    Mem_FailAfter(0);
    EXPECT_FALSE(AssetsCatalog_Save(c, "out.car"));
    Mem_FailAfter(-1);
    EXPECT_NE(capture.Finish(), "");
  }
  EXPECT_EQ(test::ReadFileText("out.car"), "previous contents");
  for (int32_t i : {2, 3, 4, 5}) {
    const BOMBlock& b = c.store.blocks[i];
    EXPECT_EQ(Bytes(b.data, b.data + b.size), tree_blocks[size_t(i - 2)]) << i;
  }

  // A directory that cannot be created.
  test::WriteFileText("plain", "x");
  EXPECT_FALSE(AssetsCatalog_Save(c, "plain/sub/out.car"));

  // Success replaces the target and leaves nothing else.
  ASSERT_TRUE(AssetsCatalog_Save(c, "out.car"));
  EXPECT_EQ(test::ListTree(dir.path()), "out.car\nplain\n");
  AssetsCatalog back;
  ASSERT_TRUE(AssetsCatalog_Load(back, "out.car"));
  EXPECT_EQ(back.facet_count, 1u);
}

TEST(CatalogAdditions, AllocationFailuresChangeNothing) {
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which == 0 ? "facet" : "rendition");
    for (long n = 0;; ++n) {
      SCOPED_TRACE(n);
      ASSERT_LT(n, 50);
      AssetsCatalog c;
      ASSERT_TRUE(AssetsCatalog_CreateNew(c, "ios"));
      ASSERT_EQ(AssetsCatalog_AddFacet(c, "icon", 0, 220, nullptr), 1);
      Attributes a;
      Mem_FailAfter(n);
      errno = 0;
      const int32_t result = which == 0 ? AssetsCatalog_AddFacet(c, "more", 0, 220, nullptr)
                                        : AddRendition(c, 1, a);
      const int code = errno;
      Mem_FailAfter(-1);
      if (result >= 0) {
        EXPECT_EQ(c.facet_count, which == 0 ? 2u : 1u);
        break;
      }
      EXPECT_EQ(code, ENOMEM);
      EXPECT_EQ(c.facet_count, 1u);
      EXPECT_EQ(BOMTree_EntryCount(c.facet_keys_tree), 1);
      EXPECT_EQ(BOMTree_EntryCount(c.bitmap_keys_tree), 1);
      EXPECT_EQ(BOMTree_EntryCount(c.renditions_tree), 0);
      EXPECT_EQ(c.facets[0].rendition_count, 0);
      EXPECT_EQ(c.metadata_index, 9);  // no block was inserted
    }
  }
}

}  // namespace
}  // namespace skarvel
