// App icon sets: the complete example and the single-source example, atlas
// geometry and element flags, the choice of icons, notices, and every warning
// of a broken set.

#include "compiler/app_icon_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalog/catalog_builder.h"
#include "catalog/rendition_attribute.h"
#include "compiler/app_icon_renditions.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "frontend/command_line.h"
#include "image/image_ops.h"
#include "tests/compiler/compile_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::CaptureStream;
using test::RenditionView;
using test::TempDir;

struct SetRun {
  AssetsCatalog catalog;
  bool result = false;
  std::string err;
};

// Compiles the set directory `dir` of the working directory into a new catalog.
void CompileSet(const std::string& dir, SetRun& run) {
  ASSERT_TRUE(AssetsCatalog_CreateNew(run.catalog, "ios"));
  std::vector<char> name(dir.begin(), dir.end());
  name.push_back('\0');
  CaptureStream err(2);
  run.result = AssetsCatalog_CompileAppIconSet(run.catalog, name.data(), false);
  run.err = err.Finish();
}

const RenditionView* Find(const std::vector<RenditionView>& all, int32_t facet, int32_t idiom,
                          int32_t scale, int32_t part, int32_t dimension1, int32_t dimension2) {
  for (const RenditionView& v : all) {
    if (v.facet == facet && v.idiom == idiom && v.scale == scale && v.part == part &&
        v.dimension1 == dimension1 && v.dimension2 == dimension2) {
      return &v;
    }
  }
  return nullptr;
}

const RenditionView* FindPacked(const std::vector<RenditionView>& all, int32_t idiom, int32_t scale,
                                int32_t pack) {
  return Find(all, 0, idiom, scale, 181, pack, 0);
}

const RenditionView* FindIcon(const std::vector<RenditionView>& all, int32_t idiom, int32_t scale,
                              int32_t icon) {
  return Find(all, 1, idiom, scale, 220, 0, icon);
}

Image Decode(const AssetsCatalog& catalog, const RenditionView* v) {
  Image image;
  if (v == nullptr) {
    ADD_FAILURE() << "no such rendition";
    return image;
  }
  EXPECT_TRUE(CSI_DecodeImage(catalog.store.blocks[v->value], image)) << v->name;
  return image;
}

class AppIconSetTest : public ::testing::Test {
 protected:
  void SetUp() override { IdiomFilter_ResetForTesting(); }
  void TearDown() override { IdiomFilter_ResetForTesting(); }
  TempDir dir_;
};

TEST_F(AppIconSetTest, CompleteSetGivesEveryRendition) {
  test::CopyExample("AppIcon.appiconset", "AppIcon.appiconset");
  SetRun run;
  CompileSet("AppIcon.appiconset", run);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.err, "");

  const auto facets = test::FacetsNamed(run.catalog, "AppIcon");
  ASSERT_EQ(facets.size(), 1u);
  EXPECT_EQ(facets[0]->id, 1);
  EXPECT_EQ(facets[0]->element, 85);
  EXPECT_EQ(facets[0]->part, 220);
  EXPECT_EQ(facets[0]->rendition_count, 26);

  const std::vector<RenditionView> all = test::Renditions(run.catalog);
  ASSERT_EQ(all.size(), 35u);
  EXPECT_EQ(Get(run.catalog.header->rendition_count), 35u);
  int packed = 0, references = 0, singles = 0, scaling = 0;
  for (const RenditionView& v : all) {
    SCOPED_TRACE(v.name);
    switch (v.layout) {
      case kLayoutPackedImage:
        ++packed;
        EXPECT_EQ(v.facet, 0);
        EXPECT_EQ(v.element, 9);
        EXPECT_EQ(v.part, 181);
        EXPECT_EQ(v.name, "ZZZZPackedAsset-" + std::to_string(v.scale) + ".1.0-gamut0");
        break;
      case kLayoutImageReference:
        ++references;
        break;
      case kLayoutImage:
        ++singles;
        break;
      case kLayoutScalingInfo:
        ++scaling;
        EXPECT_EQ(v.name, "AppIcon");
        EXPECT_EQ(v.part, 218);
        EXPECT_EQ(v.scale, 1);
        break;
      default:
        ADD_FAILURE() << "layout " << v.layout;
    }
    if (v.layout != kLayoutPackedImage) {
      EXPECT_EQ(v.facet, 1);
      EXPECT_EQ(v.element, 85);
    }
  }
  EXPECT_EQ(packed, 9);
  EXPECT_EQ(references, 21);
  EXPECT_EQ(singles, 2);
  EXPECT_EQ(scaling, 3);

  // The set's bitmap key: scales 1 to 3, idioms 1, 2 and 6, icon indices 0 to 8.
  int keys = 0;
  for (uint64_t i = 0; i < run.catalog.store.count; ++i) {
    const BOMBlock& b = run.catalog.store.blocks[i];
    if (b.kind != BlockKind::BitmapKey) continue;
    ++keys;
    ASSERT_EQ(b.size, 84u);
    EXPECT_EQ(LoadU32LEAt(b.bytes(), 16 + 4 * 0), 14u);    // scale
    EXPECT_EQ(LoadU32LEAt(b.bytes(), 16 + 4 * 1), 70u);    // idiom
    EXPECT_EQ(LoadU32LEAt(b.bytes(), 16 + 4 * 16), 511u);  // dimension 2
  }
  EXPECT_EQ(keys, 1);

  // Saved and loaded back, the same renditions.
  ASSERT_TRUE(AssetsCatalog_Save(run.catalog, "Assets.car"));
  AssetsCatalog loaded;
  ASSERT_TRUE(AssetsCatalog_Load(loaded, "Assets.car"));
  const std::vector<RenditionView> again = test::Renditions(loaded);
  ASSERT_EQ(again.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(again[i].name, all[i].name);
    EXPECT_EQ(again[i].idiom, all[i].idiom);
    EXPECT_EQ(again[i].dimension2, all[i].dimension2);
  }
}

TEST_F(AppIconSetTest, AtlasesReferencesAndSingles) {
  test::CopyExample("AppIcon.appiconset", "AppIcon.appiconset");
  SetRun run;
  CompileSet("AppIcon.appiconset", run);
  ASSERT_TRUE(run.result) << run.err;
  const std::vector<RenditionView> all = test::Renditions(run.catalog);
  const std::string set = "AppIcon.appiconset/";

  // The iPhone 2x atlas: the 120-pixel icon at column 2, rows 2 to 121, the
  // 114-pixel icon at column 124, rows 8 to 121, each with a bled border.
  const RenditionView* packed = FindPacked(all, 1, 2, 0);
  ASSERT_NE(packed, nullptr);
  EXPECT_EQ(packed->width, 240u);
  EXPECT_EQ(packed->height, 124u);
  const Image atlas = Decode(run.catalog, packed);
  ASSERT_EQ(atlas.width, 240);
  ASSERT_EQ(atlas.height, 124);
  const Image big = test::ReadPicture(set + "Icon-iphone-60x60@2x.png");
  const Image small = test::ReadPicture(set + "Icon-iphone-57x57@2x.png");
  ASSERT_EQ(big.width, 120);
  ASSERT_EQ(small.width, 114);
  EXPECT_EQ(test::Region(atlas, 2, 2, 120, 120), test::Region(big, 0, 0, 120, 120));
  EXPECT_EQ(test::Region(atlas, 124, 8, 114, 114), test::Region(small, 0, 0, 114, 114));
  EXPECT_EQ(test::Region(atlas, 2, 1, 120, 1), test::Region(big, 0, 0, 120, 1));
  EXPECT_EQ(test::Region(atlas, 2, 122, 120, 1), test::Region(big, 0, 119, 120, 1));
  EXPECT_EQ(test::Region(atlas, 1, 1, 1, 1), test::Region(big, 0, 0, 1, 1));
  EXPECT_EQ(test::Region(atlas, 122, 122, 1, 1), test::Region(big, 119, 119, 1, 1));
  EXPECT_EQ(test::Region(atlas, 0, 0, 1, 1), std::vector<uint8_t>(4, 0));
  EXPECT_EQ(test::Region(atlas, 123, 50, 1, 1), test::Region(small, 0, 42, 1, 1));

  // Its reference renditions point back at those places.
  const RenditionView* ref = FindIcon(all, 1, 2, 4);
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->name, "Icon-120.png");
  EXPECT_EQ(ref->width, 120u);
  BOMBlock& ref_block = run.catalog.store.blocks[ref->value];
  const uint64_t at = CSI_GetInfoBlock(ref_block, CSIInfoID::Reference, 0);
  ASSERT_NE(at, 0u);
  const std::span<const uint8_t> sub = ref_block.bytes().subspan(at);
  EXPECT_EQ(LoadU32LEAt(sub, 16), 2u);
  EXPECT_EQ(LoadU32LEAt(sub, 20), 2u);
  EXPECT_EQ(LoadU32LEAt(sub, 24), 120u);
  EXPECT_EQ(LoadU16LEAt(sub, 32), 12u);
  EXPECT_EQ(LoadU32LEAt(sub, 34), 20u);  // four pairs and the zero pair
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 1), 9);
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 2), 181);
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 8), -1);
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 12), 2);
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 15), 1);
  const RenditionView* in_small_pack = FindIcon(all, 1, 3, 0);
  ASSERT_NE(in_small_pack, nullptr);
  BOMBlock& small_block = run.catalog.store.blocks[in_small_pack->value];
  const uint64_t small_at = CSI_GetInfoBlock(small_block, CSIInfoID::Reference, 0);
  ASSERT_NE(small_at, 0u);
  EXPECT_EQ(CSI_GetReferenceAttribute(small_block.bytes().subspan(small_at), 8), 1);

  // Element flags: the iPad 1x small atlas alone is stored in one stream.
  int chunked = 0;
  for (const RenditionView& v : all) {
    if (v.layout != kLayoutPackedImage) continue;
    SCOPED_TRACE(std::to_string(v.idiom) + "/" + std::to_string(v.scale) + "/" +
                 std::to_string(v.dimension1));
    const BOMBlock& b = run.catalog.store.blocks[v.value];
    uint64_t p = 0, size = 0;
    ASSERT_TRUE(CSI_PayloadRange(b, p, size));
    const bool single_stream = v.idiom == 2 && v.scale == 1 && v.dimension1 == 1;
    EXPECT_EQ(LoadU32LEAt(b.bytes(), p + 4), single_stream ? 2u : 3u);
    EXPECT_EQ(LoadU32LEAt(b.bytes(), p + 8), 4u);
    EXPECT_EQ(CSI_IsChunked(b, p), !single_stream);
    chunked += CSI_IsChunked(b, p) ? 1 : 0;
  }
  EXPECT_EQ(chunked, 8);
  const RenditionView* pad_small = FindPacked(all, 2, 1, 1);
  ASSERT_NE(pad_small, nullptr);
  EXPECT_EQ(pad_small->width, 54u);
  EXPECT_EQ(pad_small->height, 32u);

  // The single renditions are their sources.
  const RenditionView* pro = FindIcon(all, 2, 2, 7);
  ASSERT_NE(pro, nullptr);
  EXPECT_EQ(pro->name, "Icon-167.png");
  const Image single = Decode(run.catalog, pro);
  const Image source = test::ReadPicture(set + "Icon-ipad-83.5x83.5@2x.png");
  ASSERT_EQ(single.width, 167);
  EXPECT_EQ(test::Region(single, 0, 0, 167, 167), test::Region(source, 0, 0, 167, 167));
}

TEST_F(AppIconSetTest, SingleSourceFallsBackWithNoticesOnlyWhenAsked) {
  test::CopyExample("Single.appiconset", "Single.appiconset");
  {
    SetRun run;
    CompileSet("Single.appiconset", run);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(test::Renditions(run.catalog).size(), 35u);
  }
  ASSERT_TRUE(IdiomFilter_Set("iphone,ipad,marketing"));
  SetRun run;
  CompileSet("Single.appiconset", run);
  EXPECT_TRUE(run.result);
  test::ExpectGolden("compiler/golden/single_source_notices.txt", run.err);

  // A fallback icon is the best source resized.
  Image expected = test::ReadPicture("Single.appiconset/Icon-1024.png");
  ASSERT_TRUE(Image_Resize("BGRA", expected, 167, 167));
  const Image single = Decode(run.catalog, FindIcon(test::Renditions(run.catalog), 2, 2, 7));
  ASSERT_EQ(single.width, 167);
  EXPECT_EQ(test::Region(single, 0, 0, 167, 167), test::Region(expected, 0, 0, 167, 167));
}

TEST_F(AppIconSetTest, NoticesFollowTheIdiomList) {
  struct Case {
    const char* name;
    const char* idioms;
    const char* item;        // the one item, besides a 1024 App Store icon
    const char* notice;      // a notice that must appear, or null
    const char* absent;      // a notice that must not appear, or null
    bool with_store = true;  // the App Store icon is given too
  };
  const char* store =
      R"({"idiom": "ios-marketing", "size": "1024x1024", "scale": "1x", "filename": "EMPTY_IMAGE"})";
  const Case kCases[] = {
      {"83.5 as text matches", "ipad",
       R"({"idiom": "ipad", "size": "83.5x83.5", "scale": "2x", "filename": "p.png"})", nullptr,
       "iPad 2x (83x83)"},
      {"83.5 as a number matches", "ipad",
       R"({"idiom": "ipad", "size": 83.5, "scale": 2, "filename": "p.png"})", nullptr,
       "iPad 2x (83x83)"},
      {"83 does not match", "ipad",
       R"({"idiom": "ipad", "size": "83x83", "scale": "2x", "filename": "p.png"})",
       "Notice: missing iPad 2x (83x83) image variant in app icon set 'S', falling back on best "
       "resolution icon.\n",
       nullptr},
      {"ios-marketing does not ask for App Store notices", "ios-marketing",
       R"({"idiom": "iphone", "size": "60x60", "scale": "3x", "filename": "p.png"})", nullptr,
       "App Store", false},
      {"marketing does", "marketing",
       R"({"idiom": "iphone", "size": "60x60", "scale": "3x", "filename": "p.png"})",
       "Notice: missing App Store 1x (1024x1024) image variant in app icon set 'S', falling back "
       "on best resolution icon.\n",
       "iPhone", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    IdiomFilter_ResetForTesting();
    ASSERT_TRUE(IdiomFilter_Set(c.idioms));
    test::WriteSet("S.appiconset", std::string("{\"images\": [") + c.item +
                                       (c.with_store ? std::string(", ") + store : "") + "]}");
    test::WritePicture("S.appiconset/p.png", 167, 167, 3);
    SetRun run;
    CompileSet("S.appiconset", run);
    EXPECT_TRUE(run.result);
    if (c.notice != nullptr) {
      EXPECT_NE(run.err.find(c.notice), std::string::npos) << run.err;
    }
    if (c.absent != nullptr) {
      EXPECT_EQ(run.err.find(c.absent), std::string::npos) << run.err;
    }
  }
}

TEST_F(AppIconSetTest, FirstSourceOfEachKindAndTheFirstLargestAsBest) {
  // A watch icon of 100 pixels is the best until two 180-pixel iPhone icons
  // come; the first of those stays the best and is the one drawn.
  test::WriteSet("S.appiconset", R"({"images": [
      {"idiom": "watch", "role": "appLauncher", "size": "50x50", "scale": "2x", "filename": "w.png"},
      {"idiom": "iphone", "size": "60x60", "scale": "3x", "filename": "first.png"},
      {"idiom": "iphone", "size": "60x60", "scale": "3x", "filename": "second.png"},
      {"idiom": "ipad", "size": "29x29", "scale": "2x", "filename": "pad.png"}]})");
  test::WritePicture("S.appiconset/w.png", 100, 100, 1);
  test::WritePicture("S.appiconset/first.png", 180, 180, 2);
  test::WritePicture("S.appiconset/second.png", 180, 180, 3);
  test::WritePicture("S.appiconset/pad.png", 58, 58, 4);
  SetRun run;
  CompileSet("S.appiconset", run);
  ASSERT_TRUE(run.result) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<RenditionView> all = test::Renditions(run.catalog);

  const Image first = test::MakePicture(180, 180, 2);
  const Image phone3 = Decode(run.catalog, FindPacked(all, 1, 3, 0));
  ASSERT_EQ(phone3.height, 184);
  EXPECT_EQ(test::Region(phone3, 2, 2, 180, 180), test::Region(first, 0, 0, 180, 180));

  const Image pad2 = Decode(run.catalog, FindPacked(all, 2, 2, 1));
  const Image pad = test::MakePicture(58, 58, 4);
  ASSERT_EQ(pad2.height, 126);
  EXPECT_EQ(test::Region(pad2, 84, 126 - 58 - 2, 58, 58), test::Region(pad, 0, 0, 58, 58));

  Image expected = test::MakePicture(180, 180, 2);
  ASSERT_TRUE(Image_Resize("BGRA", expected, 1024, 1024));
  const Image store = Decode(run.catalog, FindIcon(all, 6, 1, 8));
  ASSERT_EQ(store.width, 1024);
  EXPECT_EQ(test::Region(store, 0, 0, 1024, 1024), test::Region(expected, 0, 0, 1024, 1024));
}

TEST_F(AppIconSetTest, BrokenSets) {
  const std::string good =
      R"({"idiom": "iphone", "size": "16x16", "scale": "1x", "filename": "good.png"})";
  auto images = [](const std::string& items) { return "{\"images\": [" + items + "]}"; };
  // Sets that compile also get a blank App Store icon (last, so item numbers
  // stay): every other icon is drawn from it, which keeps them quick.
  auto compiling = [&](const std::string& items) {
    return images(
        items + (items.empty() ? "" : ", ") +
        R"({"idiom": "ios-marketing", "size": "1024x1024", "scale": "1x", "filename": "EMPTY_IMAGE"})");
  };
  struct Case {
    const char* name;
    std::string contents;  // "-": no Contents.json
    std::string err;
    bool result;
    bool facet;
  };
  const Case kCases[] = {
      {"no Contents.json", "-",
       "Warning: app icon set 'Broken' has no Contents.json file! ignoring.\n", false, false},
      {"bad JSON", "{\"images\": [",
       "Warning: app icon set 'Broken' has bogus syntax in Contents.json file! ignoring.\n", false,
       false},
      {"no images array", R"({"Images": []})",
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (no images "
       "array)! ignoring.\n",
       false, false},
      {"images is an object", R"({"images": {"size": "16x16"}})",
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (no images "
       "array)! ignoring.\n",
       false, false},
      {"empty images", images(""),
       "Warning: app icon set 'Broken' has no usable image in Contents.json file! ignoring.\n",
       false, true},
      {"watch item without role",
       compiling(R"({"idiom": "watch", "size": "16x16", "scale": "1x", "filename": "good.png"}, )" +
                 good),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file "
       "(watch-specific item #0 has no role)! ignoring.\n",
       true, true},
      {"watch item with an unknown role",
       compiling(
           good +
           R"(, {"idiom": "watch", "role": "wrist", "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file "
       "(watch-specific item #1's role is 'wrist')! ignoring.\n",
       true, true},
      {"watch item with a role",
       compiling(
           R"({"idiom": "watch", "role": "quickLook", "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "", true, true},
      {"iphone item with a role",
       compiling(
           R"({"idiom": "iphone", "role": "wrist", "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "", true, true},
      {"unreadable image",
       compiling(R"({"size": "16x16", "scale": "1x", "filename": "missing.png"}, )" + good),
       "Warning: unable to read image file missing.png for app icon set 'Broken'! ignoring.\n",
       true, true},
      {"unsupported image",
       compiling(R"({"size": "16x16", "scale": "1x", "filename": "icon.gif"}, )" + good),
       "Warning: unsupported image format in icon.gif for app icon set 'Broken' (currently "
       "supported: PNG, JPEG, and 24/32-bit uncompressed BMP only)! ignoring.\n",
       true, true},
      {"corrupt image",
       compiling(R"({"size": "16x16", "scale": "1x", "filename": "bad.png"}, )" + good),
       "Warning: internal image library error reading bad.png for app icon set 'Broken'! "
       "ignoring.\n",
       true, true},
      {"every item fails", images(R"({"size": "16x16", "scale": "1x", "filename": "missing.png"})"),
       "Warning: unable to read image file missing.png for app icon set 'Broken'! ignoring.\n"
       "Warning: app icon set 'Broken' has no usable image in Contents.json file! ignoring.\n",
       false, true},
      {"non-square image",
       compiling(R"({"idiom": "iphone", "size": "16x16", "scale": "1x", "filename": "wide.bmp"})"),
       "Warning: app icon image 'wide.bmp' has non-square dimensions!\n", true, true},
      {"unknown idiom",
       compiling(R"({"idiom": "car", "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #0's "
       "idiom is 'car')! defaulting to 'universal'.\n",
       true, true},
      {"idiom that is a word",
       compiling(R"({"idiom": true, "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #0's "
       "idiom is 'true')! defaulting to 'universal'.\n",
       true, true},
      {"lower-case display gamut",
       compiling(
           R"({"display-gamut": "display-p3", "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #0's "
       "display gamut is 'display-p3')! defaulting to 'sRGB'.\n",
       true, true},
      {"known display gamuts",
       compiling(
           R"({"display-gamut": "display-P3", "size": "16x16", "scale": "1x", "filename": "good.png"}, )"
           R"({"display-gamut": "sRGB", "size": "16x16", "scale": "1x", "filename": "good.png"})"),
       "", true, true},
      {"no size", compiling(R"({"scale": "1x", "filename": "good.png"}, )" + good),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #0 has "
       "no size)! ignoring.\n",
       true, true},
      {"size that is an object",
       compiling(good + R"(, {"size": {"w": 16}, "scale": "1x", "filename": "good.png"})"),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #1 has "
       "no size)! ignoring.\n",
       true, true},
      {"item that is not an object", compiling(R"("16x16", )" + good),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #0 has "
       "no size)! ignoring.\n",
       true, true},
      {"no scale", compiling(R"({"size": "16x16", "filename": "good.png"}, )" + good),
       "Warning: app icon set 'Broken' has unexpected syntax in Contents.json file (item #0 has "
       "no scale)! ignoring.\n",
       true, true},
      {"scale from the subtype",
       compiling(R"({"size": "8x8", "subtype": "2x", "filename": "good.png"})"), "", true, true},
      {"no filename", compiling(R"({"idiom": "iphone", "size": "20x20", "scale": "2x"})"),
       "Notice: item #0 in app icon set 'Broken' has no filename: generating blank 40x40 icon.\n",
       true, true},
      {"blank icon by name",
       compiling(R"({"size": "16x16", "scale": "1x", "filename": "EMPTY_IMAGE"})"), "", true, true},
      {"icon larger than any made",
       compiling(R"({"size": "4097x4097", "scale": "1x", "filename": "good.png"}, )" + good),
       "Warning: unknown error resizing good.png (errno = 22) for app icon set 'Broken'! "
       "ignoring.\n",
       true, true},
      {"Contents.json too large to read", "+",
       "Warning: app icon set 'Broken' has a Contents.json file larger than 16777216 bytes! "
       "ignoring.\n",
       false, false},
      {"size beyond any picture", compiling(R"({"size": "1e30", "scale": "1x"}, )" + good),
       "Notice: item #0 in app icon set 'Broken' has no filename: generating blank -1x-1 icon.\n"
       "Warning: unknown error creating EMPTY_IMAGE (errno = 22) for app icon set 'Broken'! "
       "ignoring.\n",
       true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.contents == "-") {
      ASSERT_EQ(mkdir("Broken.appiconset", 0777), 0);
    } else if (c.contents == "+") {
      test::WriteSet("Broken.appiconset", std::string((16 << 20) + 1, ' '));
    } else {
      test::WriteSet("Broken.appiconset", c.contents);
    }
    test::WritePicture("Broken.appiconset/good.png", 16, 16, 9);
    test::WritePicture("Broken.appiconset/wide.bmp", 20, 10, 8);
    test::WriteFileText("Broken.appiconset/icon.gif", "GIF89a");
    test::WriteFileText("Broken.appiconset/bad.png", "\x89PNG\r\n\x1a\nnot really a PNG file");
    SetRun run;
    CompileSet("Broken.appiconset", run);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(test::FacetsNamed(run.catalog, "Broken").size(), c.facet ? 1u : 0u);
    EXPECT_EQ(test::Renditions(run.catalog).size(), c.result ? 35u : 0u);
    EXPECT_EQ(test::ReadFileText("Broken.appiconset/good.png").empty(), false);  // still inside
  }
}

TEST_F(AppIconSetTest, EnteringAndNaming) {
  TempDir dir;
  {
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
    char name[] = "Missing.appiconset";
    CaptureStream err(2);
    EXPECT_FALSE(AssetsCatalog_CompileAppIconSet(catalog, name, false));
    EXPECT_EQ(err.Finish(),
              "Warning: failed to enter app icon set directory 'Missing.appiconset'. Ignoring.\n");
    EXPECT_EQ(catalog.facet_count, 0u);
  }
  // A long set name: the facet keeps it, rendition names are cut to 127 bytes.
  const std::string long_name(200, 'n');
  test::WriteSet(long_name + ".appiconset",
                 R"({"images": [{"size": "16x16", "scale": "1x", "filename": "EMPTY_IMAGE"}]})");
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
  std::string dir_name = long_name + ".appiconset";
  CaptureStream out(1);
  EXPECT_TRUE(AssetsCatalog_CompileAppIconSet(catalog, dir_name.data(), true));
  EXPECT_EQ(out.Finish(), "Info: compiling app icon set '" + long_name + "'.\n");
  EXPECT_EQ(std::string(dir_name.c_str()), long_name);
  EXPECT_EQ(test::FacetsNamed(catalog, long_name).size(), 1u);
  int scaling = 0;
  for (const RenditionView& v : test::Renditions(catalog)) {
    if (v.layout != kLayoutScalingInfo) continue;
    ++scaling;
    EXPECT_EQ(v.name, std::string(127, 'n'));
  }
  EXPECT_EQ(scaling, 3);
  EXPECT_EQ(test::ReadFileText(long_name + ".appiconset/Contents.json").empty(), false);
}

TEST_F(AppIconSetTest, AStepThatFailsEndsTheSequence) {
  // Without any source nothing can be drawn: the first step fails, nothing is
  // added.
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
  CaptureStream err(2);
  EXPECT_FALSE(AssetsCatalog_AddAppIconRenditions(catalog, "None", 1, {}, -1));
  EXPECT_EQ(err.Finish(),
            "Warning: image resize error while packing app icon set 'None' packed asset for "
            "idiom 'iphone'! ignoring.\n");
  EXPECT_EQ(test::Renditions(catalog).size(), 0u);

  // A catalog that fills up during the sequence keeps what the earlier steps
  // added.
  TempDir dir;
  test::WriteSet("S.appiconset",
                 R"({"images": [{"size": "16x16", "scale": "1x", "filename": "EMPTY_IMAGE"}]})");
  AssetsCatalog full;
  ASSERT_TRUE(AssetsCatalog_CreateNew(full, "ios"));
  // 502 free slots: the facet takes 3, leave room for 11 renditions.
  int32_t attributes[kAttrCount] = {};
  for (int i = 0; i < 238; ++i) {
    ASSERT_GE(AssetsCatalog_AddRendition(full, 99, attributes, 0, 0, 0, "BGRA", 1, 12, "pad", 1),
              0);
  }
  char name[] = "S.appiconset";
  CaptureStream err2(2);
  EXPECT_FALSE(AssetsCatalog_CompileAppIconSet(full, name, false));
  EXPECT_EQ(err2.Finish(),
            "Warning: unable to add app icon set 'S' reference rendition 'Icon-76.png' for idiom "
            "'ipad'! ignoring.\n");
  // The steps before the failing one added 11 renditions, 8 of them in the set's facet.
  ASSERT_EQ(test::FacetsNamed(full, "S").size(), 1u);
  EXPECT_EQ(test::FacetsNamed(full, "S")[0]->rendition_count, 8);
}

}  // namespace
}  // namespace skarvel
