// Every real catalog of the corpus either loads, with the facet and rendition
// counts it really has, or is refused cleanly (EINVAL, nothing printed by the
// catalog layer). Shapes this reader does not take yet (29-byte tree headers,
// trees whose root is a branch, a missing BITMAPKEYS tree) are refused.

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalog/assets_catalog.h"
#include "tests/support/capture.h"

namespace skarvel {
namespace {

struct CorpusCase {
  const char* file;
  bool loads;
  int facets;      // when it loads
  int renditions;  // when it loads
  const char* why;
};

const CorpusCase kCorpus[] = {
    {"ios-appicon-classic-lzfse.car", true, 1, 39, "older form, 18-attribute keys"},
    {"ios-framework-methods8-10.car", true, 20, 128, "older form"},
    {"ios-gray-method10.car", true, 8, 16, "older form"},
    {"ios-inline-keys-rle.car", false, 0, 0, "29-byte tree headers"},
    {"ios-lzvn-uncompressed.car", false, 0, 0, "29-byte RENDITIONS header"},
    {"ios-no-renditions-no-bitmapkeys.car", false, 0, 0, "no BITMAPKEYS"},
    {"ios-older-rawdata.car", true, 11, 14, "older form"},
    {"ios-thinned-appearances-method11.car", false, 0, 0, "29-byte tree headers"},
    {"macos-29byte-trees-lzfse.car", false, 0, 0, "29-byte tree headers"},
    {"macos-effects-gradients.car", true, 0, 65, "older form, no facets"},
    {"macos-fontsizes-colors.car", true, 0, 306, "older form, extra trees ignored"},
    {"macos-recent-colors-vectors-method11.car", false, 0, 0, "29-byte tree headers"},
    {"macos-two-leaf-tree.car", false, 0, 0, "RENDITIONS root is a branch"},
};

std::vector<std::string> CorpusFiles(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".car") == 0) out.push_back(name);
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(CatalogCorpus, EachFileLoadsOrIsRefusedCleanly) {
  const std::string dir = SKARVEL_CORPUS_DIR;
  const std::vector<std::string> files = CorpusFiles(dir);
  if (files.empty()) GTEST_SKIP() << "no corpus catalogs in " << dir;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const CorpusCase* expected = nullptr;
    for (const CorpusCase& c : kCorpus) {
      if (name == c.file) expected = &c;
    }
    AssetsCatalog catalog;
    test::CaptureStream capture(2);
    errno = 0;
    const bool ok = AssetsCatalog_Load(catalog, (dir + "/" + name).c_str());
    const int code = errno;
    EXPECT_EQ(capture.Finish(), "");
    ASSERT_NE(expected, nullptr) << "a corpus file without an expectation";
    EXPECT_EQ(ok, expected->loads) << expected->why;
    if (!ok) {
      EXPECT_EQ(code, EINVAL);
      continue;
    }
    EXPECT_EQ(int(catalog.facet_count), expected->facets);
    EXPECT_EQ(BOMTree_LeafCount(catalog.renditions_tree), expected->renditions);
    EXPECT_EQ(Get(catalog.header->rendition_count), uint32_t(expected->renditions));
    int attached = 0;
    for (uint32_t i = 0; i < catalog.facet_count; ++i) {
      attached += catalog.facets[i].rendition_count;
      for (int r = 0; r < catalog.facets[i].rendition_count; ++r) {
        const RenditionRef ref = catalog.facets[i].renditions[r];
        EXPECT_EQ(catalog.store.blocks[ref.key_block].kind, BlockKind::RenditionKey);
        EXPECT_EQ(catalog.store.blocks[ref.value_block].kind, BlockKind::RenditionValue);
      }
    }
    EXPECT_LE(attached, expected->renditions);
  }
}

}  // namespace
}  // namespace skarvel
