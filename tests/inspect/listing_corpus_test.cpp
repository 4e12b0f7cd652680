// -info and -list over every real catalog of the corpus: one info line per
// rendition, every block with data listed and classified, and every block
// decoded to its end (no unknown blocks, extra data or truncated fields).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inspect/block_listing.h"
#include "inspect/catalog_info.h"
#include "tests/inspect/inspect_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

struct CorpusListing {
  const char* file;
  int renditions;  // info lines
  int blocks;      // blocks with data, each listed
};

const CorpusListing kCorpus[] = {
    {"ios-appicon-classic-lzfse.car", 39, 90}, {"ios-framework-methods8-10.car", 128, 325},
    {"ios-gray-method10.car", 16, 65},         {"ios-inline-keys-rle.car", 15, 46},
    {"ios-lzvn-uncompressed.car", 103, 524},   {"ios-no-renditions-no-bitmapkeys.car", 0, 9},
    {"ios-older-rawdata.car", 14, 70},         {"ios-thinned-appearances-method11.car", 10, 43},
    {"macos-29byte-trees-lzfse.car", 39, 132}, {"macos-effects-gradients.car", 65, 140},
    {"macos-fontsizes-colors.car", 306, 696},  {"macos-recent-colors-vectors-method11.car", 11, 58},
    {"macos-two-leaf-tree.car", 614, 1306},
};

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ListingCorpus, EveryRenditionAndBlockIsListed) {
  const std::string dir = SKARVEL_CORPUS_DIR;
  const std::vector<std::string> files = test::CorpusCatalogs();
  if (files.empty()) GTEST_SKIP() << "no corpus catalogs in " << dir;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const CorpusListing* expected = nullptr;
    for (const CorpusListing& c : kCorpus) {
      if (name == c.file) expected = &c;
    }
    ASSERT_NE(expected, nullptr) << "a corpus file without an expectation";
    AssetsCatalog catalog;
    {
      test::CaptureStream quiet(2);
      ASSERT_TRUE(AssetsCatalog_Load(catalog, (dir + "/" + name).c_str()));
      EXPECT_EQ(quiet.Finish(), "");
    }
    test::MemoryStream info;
    Info_Print(info.file(), catalog, "in.car", false);
    const std::string info_text = info.Text();
    const std::string heading = "\nContents of in.car...\nRendition blocks:\n\n";
    ASSERT_EQ(info_text.rfind(heading, 0), 0u);
    EXPECT_EQ(Count(info_text.substr(heading.size()), "\n"), expected->renditions);

    test::MemoryStream list;
    Listing_Print(list.file(), catalog, "in.car", ListingOptions{});
    const std::string text = list.Text();
    EXPECT_EQ(Count(text, "\n+ Block index: "), expected->blocks);
    EXPECT_EQ(Count(text, "(rendition value)\n"), expected->renditions);
    EXPECT_EQ(Count(text, "??? UNKNOWN BLOCK"), 0);
    EXPECT_EQ(Count(text, "??? UNKNOWN EXTRA DATA"), 0);
    EXPECT_EQ(Count(text, "??? UNKNOWN PAYLOAD"), 0);
    EXPECT_EQ(Count(text, "??? TRUNCATED DATA"), 0);
    EXPECT_EQ(Count(text, "??? DIFFERS FROM"), 0);  // inline key copies match their keys
  }
}

}  // namespace
}  // namespace skarvel
