#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalog/assets_catalog.h"
#include "decompiler/decompiler.h"
#include "image/image_file.h"
#include "tests/decompiler/decompile_fixtures.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::AttributePairs;
using test::Bytes;
using test::CatalogFileSpec;
using test::DefaultKey;
using test::FacetPairs;

const AttributePairs kPackPairs1x = {{1, 9}, {2, 181}, {12, 1}, {15, 1}};

// The rectangle at column x, row y (from the top) of a tightly packed BGRA
// picture of `width` pixels per row.
Bytes Region(const Bytes& pixels, uint32_t width, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  Bytes out;
  for (uint32_t row = y; row < y + h; ++row) {
    const size_t at = (size_t{row} * width + x) * 4;
    out.insert(out.end(), pixels.begin() + static_cast<ptrdiff_t>(at),
               pixels.begin() + static_cast<ptrdiff_t>(at + size_t{w} * 4));
  }
  return out;
}

// The pixels of a picture file read back as BGRA rows without padding.
Bytes ReadPicture(const std::string& path, int32_t& width, int32_t& height) {
  Image image;
  if (!Image_ReadFile(path.c_str(), "BGRA", image)) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  width = image.width;
  height = image.height;
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + static_cast<size_t>(y) * image.stride;
    out.insert(out.end(), row, row + static_cast<size_t>(image.width) * 4);
  }
  return out;
}

// `text` with "[@]" replaced by "[key:value]" of rendition `i` of the layout.
std::string WithRef(std::string text, const test::CatalogFileLayout& layout, size_t i) {
  const size_t at = text.find("[@]");
  if (at == std::string::npos) return text;
  return text.replace(at, 3,
                      "[" + std::to_string(layout.rendition_key[i]) + ":" +
                          std::to_string(layout.rendition_value[i]) + "]");
}

constexpr char kTail[] =
    "    ],\n"
    "    \"info\": {\n"
    "        \"version\": 1,\n"
    "        \"author\": \"xcode\"\n"
    "    },\n"
    "    \"properties\": {\n"
    "        \"pre-rendered\": \"false\"\n"
    "    }\n"
    "}";

// An atlas of 10 x 8 with a 3 x 3 icon at x 1, y 2 from the bottom (rows 3
// to 5 from the top), a scaling information rendition and a 3 x 3 image at
// 200 percent.
struct IconSet {
  Bytes atlas = test::PatternPixels(10, 8, 4, 1);
  Bytes image = test::PatternPixels(3, 3, 4, 100);
  CatalogFileSpec recipe;

  IconSet() {
    recipe.facets = {{"AppIcon", FacetPairs(85, 220, 1)}};
    recipe.renditions = {
        {test::PackedKey(1, 1, 0), test::PackedRecord(10, 8, 100, atlas)},
        {DefaultKey({{15, 1}, {17, 1}, {1, 85}, {2, 218}}), test::ScalingRecord("AppIcon")},
        {test::IconKey(1, 1, 1, 1),
         test::ReferenceRecord("Icon-Small.png", 3, 100, 1, 2, kPackPairs1x)},
        {test::IconKey(1, 2, 2, 7), test::ImageRecord("Icon-167.png", 3, 3, 200, image)},
    };
  }
};

TEST(Decompile, IconSetGivesContentsEntriesAndPictures) {
  test::TempDir dir;
  IconSet set;
  const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(set.recipe));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.out, "\nDecompiling in.car to Out.xcassets...\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::ListTree(dir.path()),
            "Out.xcassets/AppIcon.appiconset/Contents.json\n"
            "Out.xcassets/AppIcon.appiconset/Icon-167.png\n"
            "Out.xcassets/AppIcon.appiconset/Icon-Small.png\n");
  EXPECT_EQ(test::ReadFileText("Out.xcassets/AppIcon.appiconset/Contents.json"),
            std::string("{\n"
                        "    \"images\": [\n"
                        "        {\n"
                        "            \"idiom\": \"iphone\",\n"
                        "            \"size\": \"3x3\",\n"
                        "            \"scale\": \"1x\",\n"
                        "            \"filename\": \"Icon-Small.png\"\n"
                        "        },\n"
                        "        {\n"
                        "            \"idiom\": \"ipad\",\n"
                        "            \"size\": \"1.5x1.5\",\n"
                        "            \"scale\": \"2x\",\n"
                        "            \"filename\": \"Icon-167.png\"\n"
                        "        }\n") +
                kTail);

  int32_t w = 0, h = 0;
  EXPECT_EQ(ReadPicture("Out.xcassets/AppIcon.appiconset/Icon-Small.png", w, h),
            Region(set.atlas, 10, 1, 3, 3, 3));
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(ReadPicture("Out.xcassets/AppIcon.appiconset/Icon-167.png", w, h), set.image);
}

TEST(Decompile, WorkingDirectoryIsKeptAndExistingOutputReused) {
  test::TempDir dir;
  ASSERT_EQ(mkdir("Out.xcassets", 0777), 0);
  test::WriteFileText("Out.xcassets/keep.txt", "x");
  IconSet set;
  EXPECT_TRUE(test::DecompileBytes(test::BuildCatalogFile(set.recipe)).ok);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), dir.path());
  EXPECT_TRUE(test::FileExists("Out.xcassets/keep.txt"));
  // A second run overwrites file by file.
  EXPECT_TRUE(test::DecompileBytes(test::BuildCatalogFile(set.recipe)).ok);
  EXPECT_TRUE(test::FileExists("Out.xcassets/AppIcon.appiconset/Icon-167.png"));
}

// Renditions that produce no entry, and the comma of the entry before them.
TEST(Decompile, SkippedRenditionsAndTheCommaRule) {
  const Bytes pixels = test::PatternPixels(2, 2, 4, 9);
  const Bytes bare = test::BareRecord("bare.png");
  const Bytes raw = test::RawDataRecord("raw.png");
  struct Case {
    const char* name;
    test::CatalogRendition last;  // after one good image rendition
    const char* err;
  };
  const Case cases[] = {
      {"reference whose packed asset is missing",
       {test::IconKey(1, 2, 1, 1), test::ReferenceRecord("Icon-Small.png", 3, 100, 1, 2,
                                                         {{1, 9}, {2, 181}, {12, 1}, {15, 2}})},
       "Warning: couldn't find packed asset in app icon set 'AppIcon' for rendition [@]! "
       "ignoring.\n"},
      {"pixel format but no element",
       {test::IconKey(1, 1, 1, 3), bare},
       "Warning: app icon set 'AppIcon' has no image payload in its rendition [@]! "
       "ignoring.\n"},
      {"raw data payload",
       {test::IconKey(1, 1, 1, 3), raw},
       "Warning: app icon set 'AppIcon' has no image payload in its rendition [@]! "
       "ignoring.\n"},
      {"not a CSI record",
       {test::IconKey(1, 1, 1, 3), test::BytesOf("not a record")},
       "Warning: app icon set 'AppIcon' has no image payload in its rendition [@]! "
       "ignoring.\n"},
      {"scaling information", {test::IconKey(1, 1, 1, 3), test::ScalingRecord("AppIcon")}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    CatalogFileSpec recipe;
    recipe.facets = {{"AppIcon", FacetPairs(85, 220, 1)}};
    recipe.renditions = {{test::IconKey(1, 1, 1, 0), test::ImageRecord("a.png", 2, 2, 100, pixels)},
                         c.last};
    test::CatalogFileLayout layout;
    const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(recipe, &layout));
    EXPECT_EQ(r.err, WithRef(c.err, layout, 1));
    EXPECT_EQ(test::ReadFileText("Out.xcassets/AppIcon.appiconset/Contents.json"),
              std::string("{\n"
                          "    \"images\": [\n"
                          "        {\n"
                          "            \"idiom\": \"iphone\",\n"
                          "            \"size\": \"2x2\",\n"
                          "            \"scale\": \"1x\",\n"
                          "            \"filename\": \"a.png.png\"\n"
                          "        }\n") +
                  kTail);
  }
}

// The entry of one image rendition under various keys and sizes.
TEST(Decompile, EntryLines) {
  const std::vector<uint32_t> no_gamut_subtype = {12, 15, 25, 23, 22, 4, 20, 21,
                                                  17, 1,  2,  10, 6,  8, 9};
  struct Case {
    const char* name;
    uint32_t width, height, scale;
    AttributePairs key;  // facet 1, element 85, part 220 added
    std::vector<uint32_t> key_format;
    const char* lines;  // between the opening and closing braces
    const char* err;
  };
  const std::vector<uint32_t> def(test::kDefaultKeyAttributes.begin(),
                                  test::kDefaultKeyAttributes.end());
  const Case cases[] = {
      {"120 at 200 percent",
       120,
       120,
       200,
       {{12, 2}, {15, 1}},
       def,
       "            \"idiom\": \"iphone\",\n            \"size\": \"60x60\",\n"
       "            \"scale\": \"2x\",\n",
       ""},
      {"167 at 200 percent",
       167,
       167,
       200,
       {{12, 2}, {15, 2}},
       def,
       "            \"idiom\": \"ipad\",\n            \"size\": \"83.5x83.5\",\n"
       "            \"scale\": \"2x\",\n",
       ""},
      {"57 at 100 percent",
       57,
       57,
       100,
       {{12, 1}, {15, 1}},
       def,
       "            \"idiom\": \"iphone\",\n            \"size\": \"57x57\",\n"
       "            \"scale\": \"1x\",\n",
       ""},
      {"only the width decides the format",
       4,
       3,
       200,
       {{12, 2}, {15, 0}},
       def,
       "            \"idiom\": \"universal\",\n            \"size\": \"2x2\",\n"
       "            \"scale\": \"2x\",\n",
       ""},
      {"display gamut and subtype",
       2,
       2,
       100,
       {{12, 1}, {15, 5}, {24, 2}, {16, 1}},
       def,
       "            \"display-gamut\": \"display-p3\",\n            \"idiom\": \"watch\",\n"
       "            \"size\": \"2x2\",\n            \"scale\": \"1x\",\n"
       "            \"subtype\": \"38mm\",\n",
       ""},
      {"unnamed values",
       2,
       2,
       100,
       {{12, 0}, {15, 9}, {24, 7}, {16, 3}},
       def,
       "            \"display-gamut\": \"???\",\n            \"idiom\": \"???\",\n"
       "            \"size\": \"2x2\",\n            \"scale\": \"\",\n"
       "            \"subtype\": \"???\",\n",
       ""},
      {"key format without display gamut or subtype",
       2,
       2,
       100,
       {{12, 3}, {15, 1}},
       no_gamut_subtype,
       "            \"idiom\": \"iphone\",\n            \"size\": \"2x2\",\n"
       "            \"scale\": \"3x\",\n",
       ""},
      {"scaling percentage 0",
       6,
       6,
       0,
       {{12, 1}, {15, 1}},
       def,
       "            \"idiom\": \"iphone\",\n            \"size\": \"6x6\",\n"
       "            \"scale\": \"1x\",\n",
       "Warning: app icon set 'AppIcon' has no scale factor in its rendition [@]! "
       "writing its size as at 1x.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    CatalogFileSpec recipe;
    recipe.key_format = c.key_format;
    recipe.facets = {{"AppIcon", FacetPairs(85, 220, 1)}};
    AttributePairs key = c.key;
    key.insert(key.end(), {{17, 1}, {1, 85}, {2, 220}});
    recipe.renditions = {{test::KeyInFormat(c.key_format, key),
                          test::ImageRecord("icon.png", c.width, c.height, c.scale,
                                            test::PatternPixels(c.width, c.height, 4, 3))}};
    test::CatalogFileLayout layout;
    const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(recipe, &layout));
    EXPECT_EQ(r.err, WithRef(c.err, layout, 0));
    EXPECT_EQ(test::ReadFileText("Out.xcassets/AppIcon.appiconset/Contents.json"),
              std::string("{\n    \"images\": [\n        {\n") + c.lines +
                  "            \"filename\": \"icon.png\"\n        }\n" + kTail);
  }
}

TEST(Decompile, RenditionImageFileNames) {
  struct Case {
    std::string name;
    const char* file;
    bool replaced;
  };
  const Case cases[] = {
      {"a.png", "a.png.png", false},
      {"ab.png", "ab.png", false},
      {"Icon.JPG", "Icon.JPG", false},
      {"x.jpeg", "x.jpeg", false},
      {"Icon.gif", "Icon.gif.png", false},
      {"Pic.BmP", "Pic.BmP", false},
      {"tower", "tower.png", false},
      {"", ".png", false},
      {"../../evil.png", ".._.._evil.png", true},
      {"a\\b", "a_b.png", true},
      {"/abs", "_abs.png", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char field[128] = {};
    std::memcpy(field, c.name.data(), c.name.size());
    char file[kDecompiledNameSize];
    EXPECT_EQ(RenditionImageFileName(field, file), c.replaced);
    EXPECT_STREQ(file, c.file);
  }
  // A field without a terminating zero is taken up to 127 bytes.
  char full[128];
  std::memset(full, 'n', sizeof full);
  char file[kDecompiledNameSize];
  EXPECT_FALSE(RenditionImageFileName(full, file));
  EXPECT_EQ(std::string(file), std::string(127, 'n') + ".png");
  char name[128];
  RenditionName_Copy(full, name);
  EXPECT_EQ(std::string(name), std::string(127, 'n'));
}

TEST(Decompile, FindPackedAsset) {
  CatalogFileSpec recipe;
  const Bytes px = test::PatternPixels(2, 2, 4, 0);
  Bytes named_other = test::PackedRecord(2, 2, 100, px);
  std::memcpy(named_other.data() + test::kCSINameAt, "ZZZZPackedAsseT-", 16);
  recipe.renditions = {
      {test::PackedKey(1, 1, 0), test::PackedRecord(2, 2, 100, px)},  // 0
      {test::PackedKey(0, 1, 1), test::PackedRecord(2, 2, 100, px)},  // 1: any idiom
      {test::PackedKey(2, 2, 0), test::PackedRecord(2, 2, 200, px)},  // 2
      {DefaultKey({{12, 1}, {15, 2}, {17, 5}, {1, 9}, {2, 181}}),
       test::PackedRecord(2, 2, 100, px)},                            // 3: has a facet
      {test::PackedKey(2, 1, 0), named_other},                        // 4: other name
      {test::PackedKey(3, 1, 0), test::PackedRecord(2, 2, 100, px)},  // 5
      {test::PackedKey(1, 1, 0), test::PackedRecord(2, 2, 100, px)},  // 6: a second set's
  };
  struct Case {
    const char* name;
    uint32_t scale;
    int32_t idiom, pack;
    uint32_t ordinal;
    int expected;  // position in recipe.renditions, -1 none
  };
  const Case cases[] = {
      {"exact", 100, 1, 0, 0, 0},
      {"idiom 0 matches any", 100, 2, 1, 0, 1},
      {"pack index 1", 100, 1, 1, 0, 1},
      {"scale", 200, 2, 0, 0, 2},
      {"scale differs", 300, 1, 0, 0, -1},
      {"facet id and name rule out the rest", 100, 2, 0, 0, -1},
      {"later block", 100, 3, 0, 0, 5},
      {"idiom absent from the pairs", 100, -1, 0, 0, -1},
      {"the second set's packed asset", 100, 1, 0, 1, 6},
      {"a rank beyond the candidates takes the first", 100, 1, 0, 2, 0},
  };
  // The same catalog with RENDITIONS as one leaf, and as a branch over three
  // chained leaves: every leaf is searched.
  for (const uint32_t leaves : {1u, 3u}) {
    SCOPED_TRACE(leaves);
    recipe.renditions_shape.leaves = leaves;
    test::CatalogFileLayout layout;
    const Bytes file = test::BuildCatalogFile(recipe, &layout);
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_LoadFromBytes(catalog, file, "t.car"));
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const int32_t expected =
          c.expected < 0 ? -1 : static_cast<int32_t>(layout.rendition_value[c.expected]);
      EXPECT_EQ(FindPackedAsset(catalog, c.scale, c.idiom, c.pack, c.ordinal), expected);
    }
  }
}

TEST(Decompile, FacetKindsAndClosingNote) {
  const std::string note =
      "\nPLEASE NOTE:  Some of the assets could not be decompiled. If you want to have\n"
      "them supported in a next version, please e-mail the author at "
      "<https://skarvel.example.org>\n"
      "and send him this .car file for examination. If you have the source .xcassets\n"
      "directory, please attach it too.\n";
  const std::string head = "\nDecompiling in.car to Out.xcassets...\n";
  struct Case {
    const char* name;
    std::vector<test::CatalogFacet> facets;
    const char* err;
    bool note;
  };
  const Case cases[] = {
      {"no facets", {}, "", false},
      {"scaling information facets",
       {{"A", FacetPairs(85, 218, 1)}, {"B", FacetPairs(85, 218, 2)}},
       "WARNING: unsupported facet type: \"scaling information\"\n"
       "WARNING: unsupported facet type: \"scaling information\"\n",
       true},
      {"unnamed part",
       {{"A", FacetPairs(85, 7, 1)}},
       "WARNING: unsupported facet type: \"???\"\n",
       true},
      {"AR reference image alone is passed over", {{"Tower", FacetPairs(0, 181, 1)}}, "", true},
      {"app icon set without renditions",
       {{"Empty", FacetPairs(85, 220, 1)}},
       "Warning: app icon set 'Empty' has no rendition! ignoring.\n",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    CatalogFileSpec recipe;
    recipe.facets = c.facets;
    const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(recipe));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, c.note ? head + note : head);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(test::ListTree(dir.path()), "");
  }
}

TEST(Decompile, FailedWrites) {
  IconSet set;
  const Bytes file = test::BuildCatalogFile(set.recipe);
  {
    SCOPED_TRACE("output directory is a file");
    test::TempDir dir;
    test::WriteFileText("Out.xcassets", "a file");
    const test::DecompileRun r = test::DecompileBytes(file);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, "skarvel: unable to create output directory Out.xcassets (errno = 20)\n");
    EXPECT_EQ(test::ListTree(dir.path()), "Out.xcassets\n");
  }
  {
    SCOPED_TRACE("set directory is a file");
    test::TempDir dir;
    ASSERT_EQ(mkdir("Out.xcassets", 0777), 0);
    test::WriteFileText("Out.xcassets/AppIcon.appiconset", "a file");
    const test::DecompileRun r = test::DecompileBytes(file);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err,
              "Warning: failed to create directory 'AppIcon.appiconset' for app icon set "
              "'AppIcon'! ignoring.\n");
    EXPECT_NE(r.out.find("PLEASE NOTE"), std::string::npos);
    EXPECT_EQ(test::ListTree(dir.path()), "Out.xcassets/AppIcon.appiconset\n");
  }
  {
    SCOPED_TRACE("Contents.json and a picture cannot be created");
    test::TempDir dir;
    ASSERT_EQ(mkdir("Out.xcassets", 0777), 0);
    ASSERT_EQ(mkdir("Out.xcassets/AppIcon.appiconset", 0777), 0);
    ASSERT_EQ(mkdir("Out.xcassets/AppIcon.appiconset/Contents.json", 0777), 0);
    ASSERT_EQ(mkdir("Out.xcassets/AppIcon.appiconset/Icon-167.png", 0777), 0);
    const test::DecompileRun r = test::DecompileBytes(file);
    EXPECT_EQ(r.err,
              "Warning: failed to create Contents.json for app icon set 'AppIcon'\n"
              "skarvel: unable to create output file Icon-167.png\n");
    EXPECT_EQ(test::ListTree(dir.path()), "Out.xcassets/AppIcon.appiconset/Icon-Small.png\n");
  }
  {
    SCOPED_TRACE("pictures that do not decode keep their entries");
    test::TempDir dir;
    IconSet broken;
    broken.recipe.renditions[0].value = test::Patched(
        broken.recipe.renditions[0].value, test::PutU32LE(test::kCSIPixelFormatAt, 0x47455050));
    // An element method that does not decode.
    broken.recipe.renditions[3].value =
        test::Patched(broken.recipe.renditions[3].value, test::PutU32LE(184 + 104 + 8, 7));
    const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(broken.recipe));
    EXPECT_EQ(r.err,
              "Warning: failed to extract image for rendition 'Icon-Small.png'\n"
              "Warning: failed to extract image for rendition 'Icon-167.png'\n");
    const std::string json = test::ReadFileText("Out.xcassets/AppIcon.appiconset/Contents.json");
    EXPECT_NE(json.find("\"filename\": \"Icon-Small.png\""), std::string::npos);
    EXPECT_NE(json.find("\"filename\": \"Icon-167.png\""), std::string::npos);
    EXPECT_EQ(test::ListTree(dir.path()), "Out.xcassets/AppIcon.appiconset/Contents.json\n");
  }
  {
    SCOPED_TRACE("reference outside its atlas");
    test::TempDir dir;
    IconSet outside;
    outside.recipe.renditions[2].value =
        test::ReferenceRecord("Icon-Small.png", 3, 100, 8, 2, kPackPairs1x);
    const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(outside.recipe));
    EXPECT_EQ(r.err, "Warning: failed to extract image for rendition 'Icon-Small.png'\n");
    EXPECT_FALSE(test::FileExists("Out.xcassets/AppIcon.appiconset/Icon-Small.png"));
  }
}

// Names from the catalog never lead outside the output directory.
TEST(Decompile, HostileNamesStayInside) {
  test::TempDir dir;
  ASSERT_EQ(mkdir("work", 0777), 0);
  ASSERT_EQ(chdir("work"), 0);
  const std::string absolute = dir.Path("abs");
  const std::string long_name(300, 'L');
  CatalogFileSpec recipe;
  recipe.facets = {{"../up", FacetPairs(85, 220, 1)},
                   {absolute, FacetPairs(85, 220, 2)},
                   {"..\\win", FacetPairs(85, 220, 3)},
                   {long_name, FacetPairs(85, 220, 4)}};
  const Bytes px = test::PatternPixels(1, 1, 4, 0);
  recipe.renditions = {
      {test::IconKey(1, 1, 1, 0), test::ImageRecord("../../evil.png", 1, 1, 100, px)},
      {test::IconKey(2, 1, 1, 0), test::ImageRecord(dir.Path("abs.png"), 1, 1, 100, px)},
      {test::IconKey(3, 1, 1, 0), test::ImageRecord("..\\..\\win.png", 1, 1, 100, px)},
      {test::IconKey(4, 1, 1, 0), test::ImageRecord(std::string(127, 'r'), 1, 1, 100, px)},
  };
  const test::DecompileRun r = test::DecompileBytes(test::BuildCatalogFile(recipe));
  EXPECT_TRUE(r.ok);
  std::string safe_absolute = absolute;
  for (char& c : safe_absolute) c = c == '/' ? '_' : c;
  std::string safe_abs_png = dir.Path("abs.png");
  for (char& c : safe_abs_png) c = c == '/' ? '_' : c;
  EXPECT_EQ(test::ListTree(dir.path()),
            "work/Out.xcassets/.._up.appiconset/.._.._evil.png\n"
            "work/Out.xcassets/.._up.appiconset/Contents.json\n"
            "work/Out.xcassets/.._win.appiconset/.._.._win.png\n"
            "work/Out.xcassets/.._win.appiconset/Contents.json\n"
            "work/Out.xcassets/" +
                safe_absolute +
                ".appiconset/Contents.json\n"
                "work/Out.xcassets/" +
                safe_absolute + ".appiconset/" + safe_abs_png + "\n");
  EXPECT_NE(r.err.find("Warning: app icon set '../up' has path separators in its name! "
                       "writing it as '.._up.appiconset'.\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("Warning: app icon set '../up' rendition '../../evil.png' has path "
                       "separators in its name! writing it as '.._.._evil.png'.\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("Warning: app icon set '" + long_name +
                       "' has a name too long for a directory! ignoring.\n"),
            std::string::npos);
  EXPECT_NE(test::ReadFileText("Out.xcassets/.._up.appiconset/Contents.json")
                .find("\"filename\": \".._.._evil.png\""),
            std::string::npos);
}

TEST(Decompile, DirectoryNames) {
  char out[kDecompiledNameSize];
  bool replaced = true;
  ASSERT_TRUE(DecompiledDirectoryName(std::string(244, 'a').c_str(), ".appiconset", out, replaced));
  EXPECT_EQ(std::strlen(out), 255u);
  EXPECT_FALSE(replaced);
  EXPECT_FALSE(
      DecompiledDirectoryName(std::string(245, 'a').c_str(), ".appiconset", out, replaced));
}

TEST(Decompile, ContentsJsonTextIsEscaped) {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  ASSERT_NE(f, nullptr);
  ContentsJson_WriteText(f,
                         "a\"b\\c\n\x01"
                         "d");
  std::fclose(f);
  EXPECT_EQ(std::string(text, size), "a\\\"b\\\\c\\u000a\\u0001d");
  free(text);
}

}  // namespace
}  // namespace skarvel
