// The listing of catalogs in newer shapes: 29-byte tree headers with key
// copies, branch roots, trees kept in file order, the other labelled trees and
// blocks, attribute substitution and appearance names, newer layouts, pixel
// formats, methods, payloads and subblocks.

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
using test::BytesOf;
using test::CatalogFileSpec;
using test::CatalogTreeShape;
using test::CSIRecordBuilder;

void AppendF64(Bytes& b, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  test::AppendU32LE(b, static_cast<uint32_t>(bits));
  test::AppendU32LE(b, static_cast<uint32_t>(bits >> 32));
}

Bytes ColorPayload(uint32_t info, const std::vector<double>& components) {
  Bytes b = BytesOf("RLOC");
  test::AppendU32LE(b, 1);
  test::AppendU32LE(b, info);
  test::AppendU32LE(b, static_cast<uint32_t>(components.size()));
  for (double c : components) AppendF64(b, c);
  return b;
}

Bytes GradientPayload() {
  Bytes b = BytesOf("DARG");
  test::AppendU32LE(b, 0);
  test::AppendU32LE(b, 2 * 72);
  test::AppendText(b, " rnL");
  test::AppendU32LE(b, 2);
  test::AppendU32LE(b, 27);
  for (double c : {0.5, 0.25, 0.125, 1.0}) AppendF64(b, c);
  test::AppendF32LE(b, 90.0f);
  test::AppendF32LE(b, 1.0f);
  for (uint32_t n : {1u, 0u, 1u, 0u}) test::AppendU32LE(b, n);
  test::AppendText(b, "RLOC");
  test::AppendF32LE(b, 0.0f);
  for (double c : {1.0, 0.5, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0}) AppendF64(b, c);
  test::AppendText(b, "TCPO");
  test::AppendF32LE(b, 1.0f);
  for (double c : {0.0, 0.0, 0.0, 0.75, 0.0, 0.0, 0.0, 0.0}) AppendF64(b, c);
  return b;
}

Bytes NamedGradientPayload() {
  Bytes b = BytesOf("ARGG");
  test::AppendU32LE(b, 2);
  test::AppendU32LE(b, 1);
  test::AppendU32LE(b, 0);
  for (float v : {0.5f, 0.0f, 0.5f, 1.0f}) test::AppendF32LE(b, v);
  for (const char* name : {"icon_Assets/Color-10", "icon_Assets/Color-12"}) {
    test::AppendF32LE(b, name[19] == '0' ? 0.0f : 1.0f);
    test::AppendU32LE(b, static_cast<uint32_t>(std::strlen(name) + 1));
    test::AppendText(b, name);
    test::AppendU8(b, 0);
  }
  return b;
}

// Two components: a colour fill (colour, opacity, blend mode as a number)
// and a drop shadow (angle, blend mode as a code).
Bytes EffectPayload() {
  Bytes components;
  test::AppendText(components, "rloC");
  test::AppendU32LE(components, 3);
  test::AppendU32LE(components, 0);
  components.insert(components.end(), {0x10, 0x20, 0x30, 0xEE});
  test::AppendU32LE(components, 2);
  test::AppendF32LE(components, 0.5f);
  test::AppendU32LE(components, 7);
  test::AppendU32LE(components, 26);
  const uint32_t first_end = static_cast<uint32_t>(components.size());
  test::AppendText(components, "porD");
  test::AppendU32LE(components, 2);
  test::AppendU32LE(components, 6);
  test::AppendU32LE(components, 0xABCD005A);  // 90 degrees, unrelated upper bytes
  test::AppendU32LE(components, 7);
  test::AppendText(components, " lum");
  Bytes b = BytesOf("XFTC");
  for (int i = 0; i < 3; ++i) test::AppendU32LE(b, 0);
  test::AppendU32LE(b, 2);
  test::AppendU32LE(b, 0);
  test::AppendU32LE(b, first_end);
  test::AppendU32LE(b, static_cast<uint32_t>(components.size()));
  test::AppendBytes(b, components);
  return b;
}

Bytes LayerReferences() {
  Bytes b;
  test::AppendU32LE(b, 1);
  test::AppendU32LE(b, 0);
  for (uint32_t v : {0u, 0u, 0u, 1024u, 1024u, 0u}) test::AppendU32LE(b, v);
  test::AppendF32LE(b, 1.0f);
  test::AppendU32LE(b, 16);
  for (uint16_t v : {1, 85, 2, 246, 17, 9, 0, 0}) test::AppendU16LE(b, v);
  return b;
}

Bytes LayerFills() {
  Bytes b;
  test::AppendU32LE(b, 1);
  test::AppendU32LE(b, 0);
  test::AppendU32LE(b, 1);
  test::AppendU32LE(b, 0);
  test::AppendU32LE(b, 21);
  test::AppendText(b, "icon_Assets/Color-12");
  test::AppendU8(b, 0);
  return b;
}

Bytes LayerEffects() {
  Bytes b;
  test::AppendU32LE(b, 1);
  test::AppendU32LE(b, 0);
  test::AppendU32LE(b, 1);
  test::AppendF32LE(b, 0.5f);
  test::AppendU32LE(b, 3);
  test::AppendF32LE(b, 0.5f);
  test::AppendU32LE(b, 0);
  return b;
}

Bytes UTI(const char* text) {
  Bytes b;
  test::AppendU32LE(b, static_cast<uint32_t>(std::strlen(text) + 1));
  test::AppendU32LE(b, 0);
  test::AppendText(b, text);
  test::AppendU8(b, 0);
  return b;
}

constexpr uint16_t kIcon = 1, kColors = 2;

// Keys in the format {7 appearance, 12 scale, 17 facet id, 1 element, 2
// part, 5 placeholder}; the workaround turns position 5 into 24.
const std::vector<uint32_t> kFormat = {7, 12, 17, 1, 2, 5};

Bytes Key(uint16_t appearance, uint16_t scale, uint16_t facet, uint16_t part) {
  return test::KeyInFormat(kFormat,
                           {{7, appearance}, {12, scale}, {17, facet}, {1, 85}, {2, part}, {5, 2}});
}

CatalogFileSpec NewerSpec() {
  CatalogFileSpec recipe;
  recipe.key_format = kFormat;
  recipe.coreui_version = 969;
  recipe.storage_version = 17;
  recipe.facets = {{"AppIcon", test::FacetPairs(85, 220, kIcon)},
                   {"Colors", test::FacetPairs(85, 217, kColors)}};
  recipe.renditions = {
      {Key(0, 2, kIcon, 220), CSIRecordBuilder()
                                  .Size(1, 1)
                                  .PixelFormat("WBGR")
                                  .Colorspace(4)
                                  .Name("wide")
                                  .Composition(0, 1.0f)
                                  .Element(11, Bytes(8, 0))
                                  .Build()},
      {Key(1, 2, kIcon, 220), CSIRecordBuilder()
                                  .Flags(0x04)
                                  .PixelFormat(" GVS")
                                  .Layout(9)
                                  .Name("image.svg")
                                  .Composition(0, 1.0f)
                                  .Orientation(1)
                                  .RawData(BytesOf("bvxn...."), 1)
                                  .Build()},
      {Key(0, 1, kIcon, 245), CSIRecordBuilder()
                                  .Size(1024, 1024)
                                  .PixelFormat("ATAD")
                                  .Layout(1019)
                                  .Name("stack")
                                  .Subblock(1012, LayerReferences())
                                  .Subblock(1020, LayerFills())
                                  .Subblock(1021, LayerEffects())
                                  .Subblock(1005, UTI("public.layeredimage"))
                                  .Subblock(1011, Bytes(4, 0))
                                  .RawData({})
                                  .Build()},
      {Key(0, 0, kColors, 217), CSIRecordBuilder()
                                    .PixelFormat("")
                                    .Layout(1009)
                                    .Name("Color-10")
                                    .Payload(ColorPayload(3, {0.969, 0.752, -0.032, 1.0}))
                                    .Build()},
      {Key(0, 1, kColors, 217),
       CSIRecordBuilder().Layout(6).Name("Gradient").Payload(GradientPayload()).Build()},
      {Key(0, 2, kColors, 217), CSIRecordBuilder()
                                    .PixelFormat("")
                                    .Layout(1021)
                                    .Name("Gradient-5")
                                    .Payload(NamedGradientPayload())
                                    .Build()},
      // The effect's payload-size field holds the whole record length.
      {Key(0, 3, kColors, 217), CSIRecordBuilder()
                                    .Layout(7)
                                    .Name("effect")
                                    .Composition(0, 1.0f)
                                    .Payload(EffectPayload())
                                    .PayloadSize(184 + 16 + 80)
                                    .Build()},
  };
  recipe.bitmap_keys_from_facets = false;
  recipe.bitmap_keys = {{kIcon, test::BitmapKeyBytes({7, 14, 2, 1, 1, 5})},
                        {kColors, test::BitmapKeyBytes({1, 15, 4, 1, 1, 5})}};
  recipe.renditions_shape = CatalogTreeShape{29, 12, 2};
  recipe.facet_keys_shape = CatalogTreeShape{29, 0xFFFFFFFF, 1};
  recipe.bitmap_keys_shape = CatalogTreeShape{29, 0, 1};
  Bytes any, dark;
  test::AppendU16LE(any, 0);
  test::AppendU16LE(dark, 1);
  Bytes color_key(4, 0);
  test::AppendField(color_key, "controlAccentBlueColor", 128);
  Bytes size_key;
  test::AppendField(size_key, "NSRegularControlSize", 128);
  Bytes six;
  test::AppendF32LE(six, 6.0f);
  Bytes workaround(4 * kFormat.size(), 0);
  test::PutU32LE(4 * 5, 24)(workaround);
  recipe.extra_trees = {
      {"APPEARANCEKEYS",
       {{BytesOf("UIAppearanceAny"), any}, {BytesOf("UIAppearanceDark"), dark}},
       CatalogTreeShape{29, 0xFFFFFFFF, 1},
       4096},
      {"COLORS", {{color_key, Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0xF5, 0x70, 0x00, 0xFF}}}, {}, 4096},
      {"FONTSIZES", {{size_key, six}}, {}, 4096},
      {"GLYPHS", {{BytesOf("glyph"), Bytes{1, 2, 3}}}, {}, 4096},
  };
  recipe.extra_blocks = {{"CARGLOBALS", BytesOf("bplist00")}, {"KEYFORMATWORKAROUND", workaround}};
  recipe.table_count = 0;
  return recipe;
}

std::string List(const AssetsCatalog& catalog) {
  test::MemoryStream stream;
  Listing_Print(stream.file(), catalog, "newer.car", ListingOptions{});
  return stream.Text();
}

TEST(ListingNewerTest, GoldenListing) {
  AssetsCatalog catalog;
  test::LoadCatalog(NewerSpec(), catalog);
  test::ExpectGolden("inspect/golden/list_newer.txt", List(catalog));
}

// Newer payloads and subblocks whose counts or lengths run past their
// blocks stop at the first field that does not fit.
TEST(ListingNewerTest, TruncatedNewerRecordsPrintSafely) {
  Bytes color = ColorPayload(3, {1.0, 1.0});
  test::PutU32LE(12, 40)(color);
  Bytes gradient = GradientPayload();
  test::PutU32LE(8, 72 * 50)(gradient);
  Bytes named = NamedGradientPayload();
  test::PutU32LE(32 + 4, 4000)(named);
  Bytes effect = EffectPayload();
  test::PutU32LE(20 + 4, 9000)(effect);
  Bytes backwards = EffectPayload();
  test::PutU32LE(20 + 8, 4)(backwards);
  Bytes layers = LayerReferences();
  test::PutU32LE(8 + 28, 4000)(layers);
  Bytes fills = LayerFills();
  test::PutU32LE(0, 3)(fills);
  Bytes uti = UTI("public.layeredimage");
  test::PutU32LE(0, 400)(uti);
  struct Case {
    const char* name;
    Bytes record;
    const char* line;  // printed before the record stops
  };
  const Case kCases[] = {
      {"color components past the block", CSIRecordBuilder().Layout(1009).Payload(color).Build(),
       "      + component 1: "},
      {"gradient nodes past the block", CSIRecordBuilder().Layout(6).Payload(gradient).Build(),
       "      + node: \"TCPO\""},
      {"named gradient stop past the block", CSIRecordBuilder().Layout(1021).Payload(named).Build(),
       "    + ARGG stop count: 2\n"},
      {"effect offsets past the block", CSIRecordBuilder().Layout(7).Payload(effect).Build(),
       "    + XFTC component count: 2\n"},
      {"effect offsets going backwards", CSIRecordBuilder().Layout(7).Payload(backwards).Build(),
       "      + component: \"rloC\""},
      {"layer key past the subblock",
       CSIRecordBuilder().Layout(1019).Subblock(1012, layers).RawData({}).Build(),
       "        + layer 0 key: 4000 bytes\n"},
      {"layer fills past the subblock",
       CSIRecordBuilder().Layout(1019).Subblock(1020, fills).RawData({}).Build(),
       "        + layer 0 fill: kind 1"},
      {"UTI past the subblock",
       CSIRecordBuilder().Layout(1000).Subblock(1005, uti).RawData({}).Build(),
       "      + UTI length: 400 bytes\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CatalogFileSpec recipe;
    recipe.facets = {{"Icon", test::FacetPairs(85, 220, 1)}};
    recipe.renditions = {{test::DefaultKey({{17, 1}}), c.record}};
    AssetsCatalog catalog;
    test::LoadCatalog(recipe, catalog);
    const std::string text = List(catalog);
    EXPECT_NE(text.find(c.line), std::string::npos) << text;
    EXPECT_NE(text.find("+ ??? TRUNCATED DATA\n"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace skarvel
