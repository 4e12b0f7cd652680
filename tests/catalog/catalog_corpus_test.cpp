// Every real catalog of the corpus loads, whatever the shape of its trees
// (29-byte headers, inline key copies, a branch root), with the facet and
// rendition counts it really has; missing BITMAPKEYS is accepted.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/assets_catalog.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

struct CorpusCase {
  const char* file;
  int facets;
  int renditions;
  int attached;     // renditions whose facet id names a facet (packed atlases have none)
  int other_trees;  // labelled trees beyond the main three
  const char* shape;
};

const CorpusCase kCorpus[] = {
    {"ios-appicon-classic-lzfse.car", 1, 39, 30, 0, "older form, 18-attribute keys"},
    {"ios-framework-methods8-10.car", 20, 128, 104, 0, "older form"},
    {"ios-gray-method10.car", 8, 16, 16, 0, "older form"},
    {"ios-inline-keys-rle.car", 1, 15, 12, 1, "29-byte headers with inline key copies"},
    {"ios-lzvn-uncompressed.car", 103, 103, 103, 0, "29-byte RENDITIONS and BITMAPKEYS headers"},
    {"ios-no-renditions-no-bitmapkeys.car", 1, 0, 0, 0, "no BITMAPKEYS"},
    {"ios-older-rawdata.car", 11, 14, 11, 0, "older form"},
    {"ios-thinned-appearances-method11.car", 2, 10, 9, 1, "29-byte headers, APPEARANCEKEYS"},
    {"macos-29byte-trees-lzfse.car", 15, 39, 35, 0, "29-byte headers with inline key copies"},
    {"macos-effects-gradients.car", 0, 65, 0, 0, "older form, no facets"},
    {"macos-fontsizes-colors.car", 0, 306, 0, 2, "COLORS and FONTSIZES"},
    {"macos-recent-colors-vectors-method11.car", 9, 11, 11, 0,
     "29-byte headers with inline key copies"},
    {"macos-two-leaf-tree.car", 0, 614, 0, 1, "RENDITIONS root is a branch over two leaves"},
};

TEST(CatalogCorpus, EveryFileLoads) {
  const std::string dir = SKARVEL_CORPUS_DIR;
  const std::vector<std::string> files = test::CorpusCatalogs();
  if (files.empty()) GTEST_SKIP() << "no corpus catalogs in " << dir;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const CorpusCase* expected = nullptr;
    for (const CorpusCase& c : kCorpus) {
      if (name == c.file) expected = &c;
    }
    ASSERT_NE(expected, nullptr) << "a corpus file without an expectation";
    SCOPED_TRACE(expected->shape);
    AssetsCatalog catalog;
    test::CaptureStream capture(2);
    const bool ok = AssetsCatalog_Load(catalog, (dir + "/" + name).c_str());
    EXPECT_EQ(capture.Finish(), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(int(catalog.facet_count), expected->facets);
    EXPECT_EQ(int(catalog.other_tree_count), expected->other_trees);
    EXPECT_EQ(BOMTree_EntryCount(catalog.renditions_tree), uint32_t(expected->renditions));
    EXPECT_EQ(BOMTree_PathCount(catalog.renditions_tree), uint32_t(expected->renditions));
    EXPECT_EQ(Get(catalog.header->rendition_count), uint32_t(expected->renditions));
    // Every rendition is marked.
    int marked = 0;
    for (uint64_t i = 0; i < catalog.store.count; ++i) {
      marked += catalog.store.blocks[i].kind == BlockKind::RenditionValue;
    }
    EXPECT_EQ(marked, expected->renditions);
    int attached = 0;
    for (uint32_t i = 0; i < catalog.facet_count; ++i) {
      attached += catalog.facets[i].rendition_count;
      for (int r = 0; r < catalog.facets[i].rendition_count; ++r) {
        const RenditionRef ref = catalog.facets[i].renditions[r];
        EXPECT_EQ(catalog.store.blocks[ref.key_block].kind, BlockKind::RenditionKey);
        EXPECT_EQ(catalog.store.blocks[ref.value_block].kind, BlockKind::RenditionValue);
      }
    }
    EXPECT_EQ(attached, expected->attached);
  }
}

}  // namespace
}  // namespace skarvel
