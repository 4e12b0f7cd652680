#include <gtest/gtest.h>

#include <string>

#include "inspect/catalog_info.h"
#include "tests/inspect/inspect_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIRecordBuilder;

std::string Info(const AssetsCatalog& catalog, bool all) {
  test::MemoryStream out;
  Info_Print(out.file(), catalog, "test.car", all);
  return out.Text();
}

constexpr const char* kHead = "\nContents of test.car...\nRendition blocks:\n\n";

TEST(InfoTest, GoldenAndAllSwitch) {
  AssetsCatalog catalog;
  test::LoadCatalog(test::AllKindsSpec(512), catalog);
  const std::string text = Info(catalog, false);
  test::ExpectGolden("inspect/golden/info_all_kinds.txt", text);
  // Empty blocks are visited with the all switch but never print.
  EXPECT_EQ(Info(catalog, true), text);
}

TEST(InfoTest, NoRenditions) {
  AssetsCatalog catalog;
  test::LoadCatalog(test::CatalogFileSpec{}, catalog);
  EXPECT_EQ(Info(catalog, false), kHead);
}

// One rendition per catalog (no facets: key in block 7, value in block 8).
TEST(InfoTest, RenditionLines) {
  struct Case {
    const char* name;
    test::AttributePairs key;
    Bytes value;
    const char* line;
  };
  test::CSIRecordLayout layout;
  Bytes short_sism = CSIRecordBuilder().ScalingInfo({{60, 60, 1}}).Build(&layout);
  short_sism = test::Patched(short_sism, test::PutU32LE(layout.payload_at + 8, 3));
  Bytes short_element = CSIRecordBuilder().Size(2, 2).Name("cut").Element(0, Bytes(16, 0)).Build();
  short_element.resize(184 + 8);
  const Case kCases[] = {
      {"bitmap",
       {{15, 1}, {17, 4321}},
       CSIRecordBuilder()
           .Size(120, 120)
           .Name("Icon")
           .ChunkedElement(4, {{120, Bytes(9, 1)}})
           .Build(),
       "   7   8  4321 iphone     120  120 Icon (1 chunks)\n"},
      {"marketing idiom loses ios-",
       {{15, 6}, {17, 3}},
       CSIRecordBuilder().Size(1024, 1024).Name("M").Element(0, Bytes(4, 1)).Build(),
       "   7   8     3 marketing 1024 1024 M (4 chunks)\n"},
      {"scaling information",
       {{15, 0}, {17, 1}},
       CSIRecordBuilder().Name("s").ScalingInfo({{60, 60, 1}, {120, 120, 2}}).Build(),
       "   7   8     1 universal           scales 60x60=1 120x120=2\n"},
      {"reference",
       {{15, 2}, {17, 1}, {9, 3}},
       CSIRecordBuilder()
           .Size(120, 120)
           .Name("Ref")
           .Reference(0, 0, 120, 120, 12, {{1, 1}})
           .Build(),
       "   7   8     1 ipad                3) 120x120 @0,0    Ref\n"},
      {"last reference wins",
       {{15, 2}, {17, 1}, {9, 3}},
       CSIRecordBuilder()
           .Size(1, 1)
           .Name("Two")
           .Reference(9, 9, 9, 9, 12, {})
           .Orientation(1)
           .Reference(5, 6, 7, 8, 12, {})
           .Build(),
       "   7   8     1 ipad                3) 7x8 @5,6        Two\n"},
      {"no payload, no reference",
       {{15, 5}, {17, 1}},
       CSIRecordBuilder().Size(1, 1).Name("x").Orientation(1).Build(),
       "   7   8     1 watch                UNKNOWN\n"},
      {"unknown idiom, key without attributes",
       {{15, 9}},
       CSIRecordBuilder().Name("x").Build(),
       "   7   8     0 ???                  UNKNOWN\n"},
      {"raw data without dimensions",
       {{15, 1}, {17, 1}},
       CSIRecordBuilder().PixelFormat(" FDP").Name("v").RawData(test::BytesOf("%PDF-1.3")).Build(),
       "   7   8     1 iphone               UNKNOWN\n"},
      // Malformed values: nothing past the block is read.
      {"value shorter than the header",
       {{15, 1}, {17, 1}},
       test::BytesOf("ISTC"),
       "   7   8     1 iphone               UNKNOWN\n"},
      {"chunk word past the block",
       {{15, 1}, {17, 1}},
       short_element,
       "   7   8     1 iphone       2    2 cut (??? chunks)\n"},
      {"scales past the block",
       {{15, 1}, {17, 1}},
       short_sism,
       "   7   8     1 iphone              scales 60x60=1 ???\n"},
      {"reference text over 23 characters",
       {{15, 1}, {17, 1}, {9, 2}},
       CSIRecordBuilder()
           .Size(1, 1)
           .Name("far")
           .Reference(-2000000000, -2000000000, 4000000000u, 7, 12, {})
           .Build(),
       "   7   8     1 iphone              2) -294967296x7 @-2000000000,-2000000000far\n"},
      {"reference too short for its geometry",
       {{15, 1}, {17, 1}},
       CSIRecordBuilder().Size(1, 1).Name("short").Subblock(1010, Bytes(20, 0)).Build(),
       "   7   8     1 iphone               UNKNOWN\n"},
      {"subblock chain past the block",
       {{15, 1}, {17, 1}},
       CSIRecordBuilder()
           .Size(1, 1)
           .Name("chain")
           .Reference(0, 0, 1, 1, 12, {})
           .AllSubblocksSize(900)
           .Build(),
       "   7   8     1 iphone              0) 1x1 @0,0        chain\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::CatalogFileSpec recipe;
    recipe.renditions = {{test::DefaultKey(c.key), c.value}};
    AssetsCatalog catalog;
    test::LoadCatalog(recipe, catalog);
    EXPECT_EQ(Info(catalog, false), std::string(kHead) + c.line);
  }
}

// A value block ahead of every key uses -1 for the remembered values; a key
// with no value after it still ends its line.
TEST(InfoTest, UnpairedBlocks) {
  test::CatalogFileSpec recipe;
  recipe.renditions = {
      {test::DefaultKey({{15, 1}, {17, 5}}), CSIRecordBuilder().Name("x").Build()}};
  AssetsCatalog catalog;
  test::LoadCatalog(recipe, catalog);
  const Bytes early = CSIRecordBuilder().Size(1, 1).Name("early").Orientation(1).Build();
  {
    test::CaptureStream err(2);  // the store warns about block 0
    ASSERT_TRUE(BOMStore_WriteBlock(catalog.store, 0, nullptr, early.data(), early.size()));
  }
  catalog.store.blocks[0].kind = BlockKind::RenditionValue;
  const Bytes key = test::DefaultKey({{15, 2}});
  const auto last = static_cast<int32_t>(catalog.store.count);
  ASSERT_TRUE(BOMStore_WriteBlock(catalog.store, last, nullptr, key.data(), key.size()));
  catalog.store.blocks[last].kind = BlockKind::RenditionKey;
  char dangling[16];
  std::snprintf(dangling, sizeof dangling, "% 4d\n", last);
  EXPECT_EQ(Info(catalog, false), std::string(kHead) +
                                      "   0    -1 ???                  UNKNOWN\n"
                                      "   7   8     5 iphone               UNKNOWN\n" +
                                      dangling);
}

}  // namespace
}  // namespace skarvel
