#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "inspect/block_listing.h"
#include "tests/inspect/inspect_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel {
namespace {

using test::Bytes;

std::string List(const AssetsCatalog& catalog, const ListingOptions& options) {
  test::MemoryStream out;
  Listing_Print(out.file(), catalog, "test.car", options);
  return out.Text();
}

TEST(ListingTest, GoldenListing) {
  AssetsCatalog catalog;
  test::LoadCatalog(test::AllKindsSpec(512), catalog);
  test::ExpectGolden("inspect/golden/list_all_kinds.txt", List(catalog, ListingOptions{}));
}

// The "-all" variants add the blocks without data, and only those.
TEST(ListingTest, AllSwitchAddsEmptyBlocks) {
  AssetsCatalog catalog;
  test::LoadCatalog(test::AllKindsSpec(0), catalog);
  const std::string heading = "\nContents of test.car...\nBill Of Materials:\n";
  const std::string plain = List(catalog, ListingOptions{});
  ASSERT_EQ(plain.rfind(heading, 0), 0u);
  ListingOptions all;
  all.all = true;
  EXPECT_EQ(List(catalog, all), heading + "\n+ Block index: 0   Size: 0   (empty block)\n" +
                                    plain.substr(heading.size()));
}

// One rendition record alone in a catalog, listed; returns the listing.
std::string ListRecord(const Bytes& record) {
  test::CatalogFileSpec recipe;
  recipe.renditions = {{test::DefaultKey({{17, 1}}), record}};
  AssetsCatalog catalog;
  test::LoadCatalog(recipe, catalog);
  return List(catalog, ListingOptions{});
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Raw formats are named in the stored order and in reading order.
TEST(ListingTest, ChannelOrderNames) {
  struct Case {
    const char* code;  // "" = four zero bytes
    const char* line;
  };
  const Case kCases[] = {
      {"BGRA", "  + channel order: BGRA (32-bit BGRA)\n"},
      {" 8AG", "  + channel order:  8AG (grayscale + 8-bit alpha)\n"},
      {"GEPJ", "  + channel order: GEPJ (raw JPEG data)\n"},
      {"JPEG", "  + channel order: JPEG (raw JPEG data)\n"},
      {"PbeW", "  + channel order: PbeW (raw WebP data)\n"},
      {"WebP", "  + channel order: WebP (raw WebP data)\n"},
      {"ATAD", "  + channel order: ATAD (raw data)\n"},
      {"DATA", "  + channel order: DATA (raw data)\n"},
      {" FDP", "  + channel order:  FDP (raw PDF data)\n"},
      {"", "  + channel order: ???? (SISM data)\n"},
      {"PDF ", "  + channel order: PDF  (??\?)\n"},
      {"G\x01\xE9Z", "  + channel order: G??Z (??\?)\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    const Bytes record = test::CSIRecordBuilder().PixelFormat(c.code).Build();
    EXPECT_TRUE(Contains(ListRecord(record), c.line));
  }
}

TEST(ListingTest, ElementLines) {
  struct Case {
    const char* name;
    test::CSIRecordBuilder record;
    std::vector<const char*> lines;
  };
  const Bytes data(8, 1);
  const Case kCases[] = {
      {"uncompressed",
       test::CSIRecordBuilder().Element(0, data),
       {"    + CoreUI element flags: 0x00000000 [!noalpha !unknown0]\n",
        "    + CoreUI element compression method: 0 (uncompressed)\n",
        "    + CoreUI element payload size: 8 bytes\n", "    + Image data\n"}},
      {"RLE, noalpha",
       test::CSIRecordBuilder().Element(1, data, 2),
       {"    + CoreUI element flags: 0x00000002 [noalpha !unknown0]\n",
        "    + CoreUI element compression method: 1 (RLE with row offsets table)\n"}},
      {"GZip, unknown0",
       test::CSIRecordBuilder().Element(2, data, 0x101),
       {"    + CoreUI element flags: 0x00000101 [!noalpha unknown0]\n",
        "    + CoreUI element compression method: 2 (GZip)\n"}},
      {"LZVN",
       test::CSIRecordBuilder().Element(3, data),
       {"    + CoreUI element compression method: 3 (LZVN)\n"}},
      {"chunked LZFSE",
       test::CSIRecordBuilder().ChunkedElement(4, {{2, Bytes(4, 1)}, {2, Bytes(4, 2)}}, 3),
       {"    + CoreUI element flags: 0x00000003 [noalpha unknown0]\n",
        "    + CoreUI element compression method: 4 (LZFSE)\n",
        "    + CoreUI element chunk count: 2 chunks\n", "    + Image data\n"}},
      {"blurred",
       test::CSIRecordBuilder().Element(5, data),
       {"    + CoreUI element compression method: 5 (blurred image [???])\n"}},
      {"palette image",
       test::CSIRecordBuilder().Element(8, data),
       {"    + CoreUI element compression method: 8 (palette image)\n"}},
      {"deepmap2",
       test::CSIRecordBuilder().Element(11, data),
       {"    + CoreUI element compression method: 11 (deepmap2)\n"}},
      {"unknown method",
       test::CSIRecordBuilder().Element(13, data),
       {"    + CoreUI element compression method: 13 (??\?)\n"}},
      // "KCBC" at P + 16 counts only when the block goes on past P + 20.
      {"KCBC too close to the end",
       test::CSIRecordBuilder().Element(4, test::BytesOf("KCBC")),
       {"    + CoreUI element payload size: 4 bytes\n"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::CSIRecordBuilder record = c.record;
    const std::string text = ListRecord(record.Size(2, 2).Build());
    for (const char* line : c.lines) EXPECT_TRUE(Contains(text, line)) << line << "in:\n" << text;
  }
}

TEST(ListingTest, HeaderFlags) {
  struct Case {
    uint32_t flags;
    const char* line;
  };
  const Case kCases[] = {
      {0x08, "  + flags: 0x00000008 [bitmap encoding 0] [opaque !vector !nofilter !fpo]\n"},
      {0x07, "  + flags: 0x00000007 [bitmap encoding 0] [!opaque vector nofilter fpo]\n"},
      {0xFFFFFFA0, "  + flags: 0xffffffa0 [bitmap encoding a] [!opaque !vector !nofilter !fpo]\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_TRUE(Contains(ListRecord(test::CSIRecordBuilder().Flags(c.flags).Build()), c.line));
  }
}

// Blocks that hold less than their layout claims print what is there and no
// byte beyond them; the rest shows as extra data.
Bytes MalformedFile() {
  using namespace test;
  CatalogFileSpec recipe;
  recipe.table_count = 0;
  recipe.facets = {{"Broken", FacetPairs(85, 220, 1)}};
  recipe.bitmap_keys_from_facets = false;
  recipe.bitmap_keys = {{1, BitmapKeyBytes(std::vector<uint32_t>(20, 3))}};

  auto record = [](const char* name) { return CSIRecordBuilder().Size(2, 2).Name(name); };
  CSIRecordLayout layout;

  Bytes short_header = record("short-header").Build();
  short_header.resize(100);
  Bytes slices_content;
  for (uint32_t v : {1000u, 1u, 2u, 3u, 4u}) AppendU32LE(slices_content, v);
  Bytes name_list = record("name-list").NameList({std::string(300, 'n'), "second"}).Build(&layout);
  // The second name's length: head, count, reserved, first length and name.
  name_list = Patched(name_list, PutU32LE(layout.subblock_at[0] + 8 + 8 + 4 + 300, 200));
  Bytes sism = record("sism-count-10").Size(0, 0).ScalingInfo({{1, 1, 1}}).Build(&layout);
  sism = Patched(sism, PutU32LE(layout.payload_at + 8, 10));
  Bytes raw = record("raw-past-end").RawData(Bytes(4, 9)).Build(&layout);
  raw = Patched(raw, PutU32LE(layout.payload_at + 8, 1000));
  Bytes full_name = Patched(record("").Build(), PutText(kCSINameAt, std::string(128, 'N')));
  Bytes long_key = DefaultKey({{17, 1}, {15, 1}});
  AppendU16LE(long_key, 0x1111);
  AppendU16LE(long_key, 0x2222);
  AppendU8(long_key, 0x33);

  const Bytes key = DefaultKey({{17, 1}});
  recipe.renditions = {
      {key, short_header},
      {key, record("chain-past-end").Orientation(1).AllSubblocksSize(400).Build()},
      {key, record("content-past-end").Orientation(1).Subblock(1004, Bytes(8, 0), 1000).Build()},
      {key, record("slices-past-subblock").Subblock(1001, slices_content).Orientation(1).Build()},
      {key, record("key-length-2").Reference(0, 0, 1, 1, 12, {}, 2).Build()},
      {key, record("key-length-100").Reference(0, 0, 1, 1, 12, {{15, 1}}, 100).Build()},
      {key, name_list},
      {key, record("short-composition").Subblock(1004, Bytes(4, 0)).Build()},
      {key, sism},
      {key, record("element-past-end").Element(4, Bytes(8, 7)).PayloadSize(5000).Build()},
      {key, raw},
      {key, full_name},
      {long_key, record("long-key").Build()},
  };
  CatalogFileLayout catalog_layout;
  const Bytes file = BuildCatalogFile(recipe, &catalog_layout);
  // The facet value claims 50 pairs.
  return Patched(file, PutU16LE(catalog_layout.DataAt(catalog_layout.facet_value[0]) + 4, 50));
}

// Blocks no loader would accept, given their roles directly.
void AddMalformedBlocks(AssetsCatalog& catalog) {
  using namespace test;
  CatalogFileSpec texts;
  texts.coreui_id = std::string(130, 'c');            // no terminator in its field
  texts.author = std::string(256, 'a');               // no terminator in its field
  texts.coretheme_id = std::string(200, 't') + "\n";  // longer than 127 characters
  Bytes short_header = CarHeaderBytes(texts);
  short_header.resize(100);
  Bytes tree_header = BytesOf("tree");
  const uint32_t one = 1;
  tree_header.insert(tree_header.end(), reinterpret_cast<const uint8_t*>(&one),
                     reinterpret_cast<const uint8_t*>(&one) + 4);
  AppendZeros(tree_header, 2);
  Bytes tree_node(20, 0);
  const uint16_t leaves = 5;
  std::memcpy(tree_node.data() + 2, &leaves, 2);
  Bytes key_format = Patched(KeyFormatBytes({12, 15}), PutU32LE(8, 30));
  Bytes short_metadata = MetadataBytes(texts);
  short_metadata.resize(600);
  Bytes facet_value = FacetValueBytes({{1, 85}, {2, 220}, {17, 1}});
  AppendU16LE(facet_value, 0xABCD);
  Bytes unknown = BytesOf("Some 100% opaque bytes that nobody owns.");

  const struct {
    BlockKind kind;
    Bytes bytes;
  } kBlocks[] = {
      {BlockKind::CarHeader, short_header},
      {BlockKind::CarHeader, CarHeaderBytes(texts)},
      {BlockKind::TreeHeader, tree_header},
      {BlockKind::TreeBase, tree_node},
      {BlockKind::KeyFormat, key_format},
      {BlockKind::Metadata, MetadataBytes(texts)},
      {BlockKind::Metadata, short_metadata},
      {BlockKind::FacetValue, facet_value},
      {BlockKind::None, unknown},
  };
  auto index = static_cast<int32_t>(catalog.store.count);
  for (const auto& b : kBlocks) {
    ASSERT_TRUE(BOMStore_WriteBlock(catalog.store, index, nullptr, b.bytes.data(), b.bytes.size()));
    catalog.store.blocks[index].kind = b.kind;
    ++index;
  }
}

TEST(ListingTest, MalformedBlocksPrintSafely) {
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(catalog, MalformedFile(), "test.car"));
  AddMalformedBlocks(catalog);
  test::ExpectGolden("inspect/golden/list_malformed.txt", List(catalog, ListingOptions{}));
}

// The dump command's hooks: the block step runs inside the header line, the
// extraction hooks replace the image line and follow the raw-data lines.
struct Recorder {
  std::vector<std::string> calls;
};

TEST(ListingTest, HooksPlugIntoTheWalk) {
  AssetsCatalog catalog;
  test::LoadCatalog(test::AllKindsSpec(0), catalog);
  Recorder recorder;
  ListingOptions options;
  options.heading = "Dumping";
  options.hooks.context = &recorder;
  options.hooks.dump_block = [](void* context, FILE* out, uint32_t index, const BOMBlock& block) {
    std::fprintf(out, " [dump %u]", index);
    static_cast<Recorder*>(context)->calls.push_back("block " + std::to_string(block.size));
  };
  options.hooks.extract_image = [](void* context, FILE* out, uint32_t index, const BOMBlock&,
                                   const char* name) {
    std::fprintf(out, "    + image hook %u %s\n", index, name);
    static_cast<Recorder*>(context)->calls.push_back(std::string("image ") + name);
  };
  options.hooks.extract_raw = [](void* context, FILE* out, uint32_t index, const BOMBlock&,
                                 const char* name, std::span<const uint8_t> raw) {
    std::fprintf(out, "    + raw hook %u %s\n", index, name);
    static_cast<Recorder*>(context)->calls.push_back(
        std::string("raw ") + name + " " +
        std::string(reinterpret_cast<const char*>(raw.data()), raw.size()));
  };
  const std::string text = List(catalog, options);
  EXPECT_EQ(text.rfind("\nDumping test.car...\nBill Of Materials:\n", 0), 0u);
  EXPECT_TRUE(Contains(
      text,
      "+ Block index: 1   Size: 436   Label: \"CARHEADER\"   (CoreUI ARchive header) [dump 1]\n"));
  EXPECT_FALSE(Contains(text, "    + Image data\n"));
  EXPECT_TRUE(Contains(text, "    + image hook "));
  std::vector<std::string> non_block;
  size_t blocks = 0;
  for (const std::string& call : recorder.calls) {
    if (call.rfind("block ", 0) == 0) {
      ++blocks;
    } else {
      non_block.push_back(call);
    }
  }
  EXPECT_EQ(blocks, catalog.store.count - 1);  // every block with data (block 0 is empty)
  const std::vector<std::string> expected = {"image AppIcon60x60@2x.png", "image gray",
                                             "raw vector %PDF-1.4\n%%EOF\n"};
  EXPECT_EQ(non_block, expected);
}

}  // namespace
}  // namespace skarvel
