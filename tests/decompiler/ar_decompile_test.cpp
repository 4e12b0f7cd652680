// AR resource groups and reference images decompiled: the two descriptions
// line by line, pictures, units, the entries' commas, hostile name lists, and
// the round trip through the compiler.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "bom/bom_tree.h"
#include "catalog/assets_catalog.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "decompiler/decompile_ar.h"
#include "decompiler/decompiler.h"
#include "image/image_file.h"
#include "tests/decompiler/decompile_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::AttributePairs;
using test::Bytes;
using test::CatalogFileSpec;
using test::CSIRecordBuilder;
using test::DefaultKey;
using test::FacetPairs;

// Decompiles the catalog bytes into Out.xcassets, which is always made.
test::DecompileRun Decompile(const Bytes& file) {
  test::DecompileRun run = test::DecompileBytes(file);
  EXPECT_TRUE(run.ok);
  return run;
}

// The rendition of reference image facet `id`: a 2 x 2 gray-and-alpha
// picture (uncompressed) with a properties subblock when `unit` is not
// negative.
Bytes ImageRecord(const std::string& name, const Bytes& pixels, int64_t unit = 0,
                  float width = 0.5f) {
  CSIRecordBuilder b;
  b.Size(2, 2)
      .Name(name)
      .PixelFormat(" 8AG")
      .Colorspace(2)
      .Layout(12)
      .Slices({{0, static_cast<uint32_t>(256 - 2), 1024, 1024}})
      .Metrics({{0, 0, 0, 0, 2, 2}})
      .Composition(0, 1.0f);
  if (unit >= 0) b.Properties(static_cast<uint32_t>(unit), width, width);
  return b.Orientation(1).BytesPerLine(4).Element(0, pixels, 1).Build();
}

Bytes ImageKey(uint16_t facet, uint16_t idiom) {
  return DefaultKey({{17, facet}, {1, 85}, {2, 181}, {12, 1}, {15, idiom}});
}

Bytes GroupRecord(const std::vector<std::string>& names) {
  return CSIRecordBuilder()
      .PixelFormat("")
      .Layout(1005)
      .Name("CoreStructuredImage")
      .Composition(0, 0.0f)
      .Orientation(1)
      .NameList(names)
      .Build();
}

Bytes GroupKey(uint16_t facet) { return DefaultKey({{17, facet}, {1, 85}, {2, 206}, {12, 1}}); }

constexpr char kGroupHead[] =
    "{\n"
    "    \"info\": {\n"
    "        \"version\": 1,\n"
    "        \"author\": \"xcode\"\n"
    "    },\n"
    "    \"resources\": [\n";
constexpr char kGroupTail[] =
    "    ]\n"
    "}\n";

std::string GroupEntry(const std::string& directory, bool comma) {
  return "        {\n            \"filename\": \"" + directory + "\"\n        }" +
         (comma ? ",\n" : "\n");
}

std::string ImageContents(const std::string& entries, const std::string& properties) {
  return "{\n    \"images\": [\n" + entries +
         "    ],\n"
         "    \"info\": {\n"
         "        \"version\": 1,\n"
         "        \"author\": \"xcode\"\n"
         "    },\n"
         "    \"properties\": {\n" +
         properties + "    }\n}";
}

std::string ImageEntry(const std::string& idiom, const std::string& file, bool comma) {
  return "        {\n            \"idiom\": \"" + idiom + "\",\n            \"filename\": \"" +
         file + "\"\n        }" + (comma ? ",\n" : "\n");
}

// A group "G" (facet 1) and reference images "A" (2) and "B" (3).
CatalogFileSpec GroupSpec() {
  CatalogFileSpec recipe;
  recipe.facets = {
      {"G", FacetPairs(85, 206, 1)}, {"A", FacetPairs(85, 181, 2)}, {"B", FacetPairs(85, 181, 3)}};
  return recipe;
}

const Bytes kPixels = test::PatternPixels(2, 2, 2, 9);

TEST(DecompileAR, GroupsAndImagesLineByLine) {
  struct Case {
    const char* name;
    std::vector<test::CatalogRendition> renditions;
    const char* tree;   // every file written, sorted
    std::string group;  // G.arresourcegroup/Contents.json
    std::string image;  // G.arresourcegroup/A.arreferenceimage/Contents.json, if any
    const char* err;
  };
  const Case kCases[] = {
      {"two renditions of one name each",
       {{GroupKey(1), GroupRecord({"A"})},
        {GroupKey(1), GroupRecord({"B"})},
        {ImageKey(2, 0), ImageRecord("photo.jpg", kPixels, 1, 10.0f)},
        {ImageKey(3, 1), ImageRecord("tower", kPixels)}},
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/photo.jpg\n"
       "Out.xcassets/G.arresourcegroup/B.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/B.arreferenceimage/tower.png\n"
       "Out.xcassets/G.arresourcegroup/Contents.json\n",
       std::string(kGroupHead) + GroupEntry("A.arreferenceimage", true) +
           GroupEntry("B.arreferenceimage", false) + kGroupTail,
       ImageContents(ImageEntry("universal", "photo.jpg", false),
                     "        \"unit\": \"centimeters\",\n        \"width\": 10.000000\n"),
       ""},
      {"a name whose facet is missing keeps its entry",
       {{GroupKey(1), GroupRecord({"Nowhere", "A"})},
        {ImageKey(2, 2), ImageRecord("a.png", kPixels, 0, 0.099999994f)}},
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/a.png.png\n"
       "Out.xcassets/G.arresourcegroup/Contents.json\n",
       std::string(kGroupHead) + GroupEntry("Nowhere.arreferenceimage", true) +
           GroupEntry("A.arreferenceimage", false) + kGroupTail,
       ImageContents(ImageEntry("ipad", "a.png.png", false), "        \"width\": 0.100000\n"),
       "Warning: AR reference image 'Nowhere' has no rendition! ignoring.\n"},
      {"a rendition without names list, one with an empty list",
       {{GroupKey(1), test::BareRecord("CoreStructuredImage")}, {GroupKey(1), GroupRecord({})}},
       "Out.xcassets/G.arresourcegroup/Contents.json\n",
       std::string(kGroupHead) + kGroupTail,
       "",
       "Warning: AR resource group 'G' has no names list in its rendition [@0]! ignoring.\n"},
      {"properties of the last rendition only, every unit",
       {{GroupKey(1), GroupRecord({"A"})},
        {ImageKey(2, 0), ImageRecord("first.png", kPixels, 4, 3.0f)},
        {ImageKey(2, 6), ImageRecord("second.png", kPixels, 7, 1.25f)}},
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/first.png\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/second.png\n"
       "Out.xcassets/G.arresourcegroup/Contents.json\n",
       std::string(kGroupHead) + GroupEntry("A.arreferenceimage", false) + kGroupTail,
       ImageContents(ImageEntry("universal", "first.png", true) +
                         ImageEntry("ios-marketing", "second.png", false),
                     "        \"unit\": \"???\",\n        \"width\": 1.250000\n"),
       ""},
      {"a width that is not a finite number",
       {{GroupKey(1), GroupRecord({"A"})},
        {ImageKey(2, 0),
         ImageRecord("pic.png", kPixels, 1, std::numeric_limits<float>::infinity())}},
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/pic.png\n"
       "Out.xcassets/G.arresourcegroup/Contents.json\n",
       std::string(kGroupHead) + GroupEntry("A.arreferenceimage", false) + kGroupTail,
       ImageContents(ImageEntry("universal", "pic.png", false), ""),
       "Warning: AR reference image 'A' has a physical width that is not a finite number in its "
       "rendition [@1]! ignoring.\n"},
      {"no properties, and a rendition without picture",
       {{GroupKey(1), GroupRecord({"A"})},
        {ImageKey(2, 0), ImageRecord("pic.png", kPixels, -1)},
        {ImageKey(2, 0), test::BareRecord("nothing.png")}},
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/pic.png\n"
       "Out.xcassets/G.arresourcegroup/Contents.json\n",
       std::string(kGroupHead) + GroupEntry("A.arreferenceimage", false) + kGroupTail,
       ImageContents(ImageEntry("universal", "pic.png", false), ""),
       "Warning: AR reference image 'A' has no image payload in its rendition [@2]! "
       "ignoring.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    CatalogFileSpec recipe = GroupSpec();
    recipe.renditions = c.renditions;
    test::CatalogFileLayout layout;
    const test::DecompileRun r = Decompile(test::BuildCatalogFile(recipe, &layout));
    std::string err = c.err;
    for (size_t at; (at = err.find("[@")) != std::string::npos;) {
      const size_t i = static_cast<size_t>(err[at + 2] - '0');
      err.replace(at, 4,
                  "[" + std::to_string(layout.rendition_key[i]) + ":" +
                      std::to_string(layout.rendition_value[i]) + "]");
    }
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, "\nDecompiling in.car to Out.xcassets...\n");
    EXPECT_EQ(test::ListTree(dir.path()), c.tree);
    EXPECT_EQ(test::ReadFileText("Out.xcassets/G.arresourcegroup/Contents.json"), c.group);
    if (!c.image.empty()) {
      EXPECT_EQ(
          test::ReadFileText("Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json"),
          c.image);
    }
  }
}

TEST(DecompileAR, PicturesKeepGrayAndAlpha) {
  test::TempDir dir;
  CatalogFileSpec recipe = GroupSpec();
  recipe.renditions = {{GroupKey(1), GroupRecord({"A"})},
                       {ImageKey(2, 0), ImageRecord("pic.png", kPixels)}};
  Decompile(test::BuildCatalogFile(recipe));
  Image image;
  ASSERT_TRUE(
      Image_ReadFile("Out.xcassets/G.arresourcegroup/A.arreferenceimage/pic.png", "MA", image));
  ASSERT_EQ(image.width, 2);
  ASSERT_EQ(image.height, 2);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 2; ++x) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      const uint8_t* px = image.pixels.data + y * image.stride + 2 * x;
      EXPECT_EQ(px[0], kPixels[static_cast<size_t>(4 * y + 2 * x)]);
      EXPECT_EQ(px[1], kPixels[static_cast<size_t>(4 * y + 2 * x + 1)]);
    }
  }
}

TEST(DecompileAR, GroupsThatCannotBeRebuilt) {
  struct Case {
    const char* name;
    std::vector<test::CatalogRendition> renditions;
    const char* prepare;  // a directory to make inside Out.xcassets first, or null
    const char* err;
    const char* tree;
  };
  const Case kCases[] = {
      {"group without renditions",
       {},
       nullptr,
       "Warning: AR resource group 'G' has no rendition! ignoring.\n",
       ""},
      {"descriptions that cannot be created",
       {{GroupKey(1), GroupRecord({"A"})}, {ImageKey(2, 0), ImageRecord("pic.png", kPixels)}},
       "G.arresourcegroup/A.arreferenceimage/Contents.json",
       "Warning: failed to create Contents.json for AR reference image 'A'\n",
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/pic.png\n"
       "Out.xcassets/G.arresourcegroup/Contents.json\n"},
      {"group description that cannot be created",
       {{GroupKey(1), GroupRecord({"A"})}, {ImageKey(2, 0), ImageRecord("pic.png", kPixels)}},
       "G.arresourcegroup/Contents.json",
       "Warning: failed to create Contents.json for AR resource group 'G'\n",
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/Contents.json\n"
       "Out.xcassets/G.arresourcegroup/A.arreferenceimage/pic.png\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    if (c.prepare != nullptr) {
      ASSERT_EQ(mkdir("Out.xcassets", 0777), 0);
      std::string path = "Out.xcassets";
      std::string rest = c.prepare;
      for (size_t at = 0; at != std::string::npos;) {
        const size_t slash = rest.find('/', at);
        path += "/" + rest.substr(at, slash == std::string::npos ? slash : slash - at);
        ASSERT_EQ(mkdir(path.c_str(), 0777), 0) << path;
        at = slash == std::string::npos ? slash : slash + 1;
      }
    }
    CatalogFileSpec recipe = GroupSpec();
    recipe.renditions = c.renditions;
    const test::DecompileRun r = Decompile(test::BuildCatalogFile(recipe));
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(test::ListTree(dir.path()), c.tree);
  }
}

// Name lists from the catalog never lead outside the output directory, and
// one whose lengths run past its subblock is refused.
TEST(DecompileAR, HostileNameLists) {
  test::TempDir dir;
  const std::string absolute = dir.Path("abs");
  const std::string long_name(239, 'n');  // with ".arreferenceimage", 256 bytes
  auto names = [](uint32_t count, const std::vector<std::pair<uint32_t, std::string>>& list) {
    Bytes content;
    test::AppendU32LE(content, count);
    test::AppendU32LE(content, 0);
    for (const auto& [length, text] : list) {
      test::AppendU32LE(content, length);
      for (char c : text) test::AppendU8(content, static_cast<uint8_t>(c));
    }
    return content;
  };
  struct Case {
    const char* name;
    Bytes list;  // the content of the group's name-list subblock
    bool malformed;
    std::string err;
    std::string tree;  // below work/Out.xcassets/G.arresourcegroup
  };
  std::string safe_absolute = absolute;
  for (char& c : safe_absolute) c = c == '/' ? '_' : c;
  const Case kCases[] = {
      {"a length past the subblock", names(2, {{1, "A"}, {50, "B"}}), true, "", "Contents.json\n"},
      {"a huge length", names(1, {{0xFFFFFFFF, "A"}}), true, "", "Contents.json\n"},
      {"a count above the names present", names(0xFFFFFFFF, {{1, "A"}}), true, "",
       "Contents.json\n"},
      {"no room for the count", Bytes{1, 0, 0, 0}, true, "", "Contents.json\n"},
      {"parent and absolute names", names(3, {{4, "../A"}, {4, "..\\A"}, {0, ""}}), false,
       "Warning: AR reference image '../A' has path separators in its name! writing it as "
       "'.._A.arreferenceimage'.\n"
       "Warning: AR reference image '..\\A' has path separators in its name! writing it as "
       "'.._A.arreferenceimage'.\n"
       "Warning: AR reference image '' has no rendition! ignoring.\n",
       ".._A.arreferenceimage/Contents.json\n"
       ".._A.arreferenceimage/pic.png\n"
       "Contents.json\n"},
      {"an absolute name", names(1, {{static_cast<uint32_t>(absolute.size()), absolute}}), false,
       "Warning: AR reference image '" + absolute +
           "' has path separators in its name! writing it as '" + safe_absolute +
           ".arreferenceimage'.\n",
       "Contents.json\n" + safe_absolute + ".arreferenceimage/Contents.json\n" + safe_absolute +
           ".arreferenceimage/pic.png\n"},
      {"a name too long for a directory",
       names(2, {{static_cast<uint32_t>(long_name.size()), long_name}, {1, "A"}}), false,
       "Warning: AR resource group 'G' lists a name too long for a directory in its rendition "
       "[@]! ignoring.\n",
       "A.arreferenceimage/Contents.json\nA.arreferenceimage/pic.png\nContents.json\n"},
      {"a name of 300 bytes", names(1, {{300, std::string(300, 'x')}}), false,
       "Warning: AR resource group 'G' lists a name too long for a directory in its rendition "
       "[@]! ignoring.\n",
       "Contents.json\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir.Path("work"));
    ASSERT_EQ(mkdir(dir.Path("work").c_str(), 0777), 0);
    ASSERT_EQ(chdir(dir.Path("work").c_str()), 0);
    CatalogFileSpec recipe;
    recipe.facets = {{"G", FacetPairs(85, 206, 1)},
                     {"A", FacetPairs(85, 181, 2)},
                     {"../A", FacetPairs(85, 181, 3)},
                     {"..\\A", FacetPairs(85, 181, 4)},
                     {absolute, FacetPairs(85, 181, 5)}};
    recipe.renditions = {{GroupKey(1), CSIRecordBuilder()
                                           .PixelFormat("")
                                           .Layout(1005)
                                           .Name("CoreStructuredImage")
                                           .Composition(0, 0.0f)
                                           .Orientation(1)
                                           .Subblock(1013, c.list)
                                           .Build()}};
    for (uint16_t id = 2; id <= 5; ++id) {
      recipe.renditions.push_back({ImageKey(id, 0), ImageRecord("pic.png", kPixels)});
    }
    test::CatalogFileLayout layout;
    const test::DecompileRun r = Decompile(test::BuildCatalogFile(recipe, &layout));
    const std::string where = "[" + std::to_string(layout.rendition_key[0]) + ":" +
                              std::to_string(layout.rendition_value[0]) + "]";
    std::string err = c.malformed ? "Warning: AR resource group 'G' has a malformed names list "
                                    "in its rendition [@]! ignoring.\n"
                                  : c.err;
    const size_t at = err.find("[@]");
    if (at != std::string::npos) err.replace(at, 3, where);
    EXPECT_EQ(r.err, err);
    // Every file lies in the group's directory, inside the output directory.
    std::string tree;
    for (size_t from = 0, end; (end = c.tree.find('\n', from)) != std::string::npos;
         from = end + 1) {
      tree += "work/Out.xcassets/G.arresourcegroup/" + c.tree.substr(from, end - from) + "\n";
    }
    EXPECT_EQ(test::ListTree(dir.path()), tree);
  }
}

// A gray-and-alpha picture of `width` x `height`, as a tightly packed "MA"
// image read back from `path`.
Bytes GrayPixels(const std::string& path) {
  Image image;
  if (!Image_ReadFile(path.c_str(), "MA", image)) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + static_cast<size_t>(y) * image.stride;
    out.insert(out.end(), row, row + static_cast<size_t>(image.width) * 2);
  }
  return out;
}

// The stored pixels of reference image facet `name`.
Bytes StoredPixels(const AssetsCatalog& catalog, const char* name) {
  const Facet* facet = AssetsCatalog_FindFacetByName(catalog, name);
  if (facet == nullptr || facet->rendition_count != 1) {
    ADD_FAILURE() << "no facet " << name;
    return {};
  }
  Image image;
  EXPECT_TRUE(CSI_DecodeImage(catalog.store.blocks[facet->renditions[0].value_block], image));
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + static_cast<size_t>(y) * image.stride;
    out.insert(out.end(), row, row + static_cast<size_t>(image.width) * 2);
  }
  return out;
}

void WritePicture(const std::string& path, int32_t size, uint8_t seed) {
  Image image;
  ASSERT_TRUE(Image_CreateBlank("BGRA", size, size, image));
  for (int32_t y = 0; y < size; ++y) {
    for (int32_t x = 0; x < size; ++x) {
      uint8_t* px = image.pixels.data + static_cast<size_t>(y) * image.stride + 4 * x;
      px[0] = static_cast<uint8_t>(seed + x);
      px[1] = static_cast<uint8_t>(seed * 3 + x + 2 * y);
      px[2] = static_cast<uint8_t>(y);
      px[3] = static_cast<uint8_t>(255 - x);
    }
  }
  ASSERT_TRUE(
      Image_WriteFile(path.c_str(), "BGRA", image.pixels.bytes(), size, size, image.stride));
}

TEST(DecompileAR, RoundTripThroughTheCompiler) {
  test::TempDir dir;
  const std::string group = "Src.xcassets/Places.arresourcegroup";
  std::filesystem::create_directories(group + "/Tower.arreferenceimage");
  std::filesystem::create_directories(group + "/Bridge.arreferenceimage");
  test::WriteFileText(group + "/Contents.json",
                      R"({"resources": [{"filename": "Tower.arreferenceimage"},
                                        {"filename": "Bridge.arreferenceimage"}]})");
  test::WriteFileText(group + "/Tower.arreferenceimage/Contents.json",
                      R"({"images": [{"idiom": "universal", "filename": "photo.jpg"}],
                          "properties": {"width": 10, "unit": "centimeters"}})");
  test::WriteFileText(group + "/Bridge.arreferenceimage/Contents.json",
                      R"({"images": [{"idiom": "iphone", "filename": "bridge.png"}],
                          "properties": {"width": "2"}})");
  WritePicture(group + "/Tower.arreferenceimage/photo.jpg", 300, 5);
  WritePicture(group + "/Bridge.arreferenceimage/bridge.png", 80, 40);

  test::CompileToFile("Src.xcassets", "X.car");
  test::DecompileFile("X.car", "X.xcassets");
  const std::string out = "X.xcassets/Places.arresourcegroup/";
  EXPECT_EQ(test::ListTree("X.xcassets"),
            "Places.arresourcegroup/Bridge.arreferenceimage/Contents.json\n"
            "Places.arresourcegroup/Bridge.arreferenceimage/bridge.png\n"
            "Places.arresourcegroup/Contents.json\n"
            "Places.arresourcegroup/Tower.arreferenceimage/Contents.json\n"
            "Places.arresourcegroup/Tower.arreferenceimage/photo.jpg\n");
  test::ExpectGolden("decompiler/golden/ar_group_contents.json",
                     test::ReadFileText(out + "Contents.json"));
  test::ExpectGolden("decompiler/golden/ar_tower_contents.json",
                     test::ReadFileText(out + "Tower.arreferenceimage/Contents.json"));
  test::ExpectGolden("decompiler/golden/ar_bridge_contents.json",
                     test::ReadFileText(out + "Bridge.arreferenceimage/Contents.json"));

  // The pictures: a JPEG and a PNG of 640 x 640, the PNG with the stored
  // gray and alpha.
  const std::string jpeg = test::ReadFileText(out + "Tower.arreferenceimage/photo.jpg");
  ASSERT_GT(jpeg.size(), 2u);
  EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
  AssetsCatalog x;
  ASSERT_TRUE(AssetsCatalog_Load(x, "X.car"));
  const Bytes bridge = GrayPixels(out + "Bridge.arreferenceimage/bridge.png");
  EXPECT_EQ(bridge.size(), 640u * 640 * 2);
  EXPECT_EQ(bridge, StoredPixels(x, "Bridge"));

  // Compiled again: the same keys and headers, the same PNG pixels, JPEG
  // pixels within the loss of one more JPEG encoding; decompiled again, the
  // same descriptions.
  test::CompileToFile("X.xcassets", "Y.car");
  AssetsCatalog y;
  ASSERT_TRUE(AssetsCatalog_Load(y, "Y.car"));
  const uint32_t count = BOMTree_EntryCount(x.renditions_tree);
  ASSERT_EQ(count, 3u);
  ASSERT_EQ(BOMTree_EntryCount(y.renditions_tree), count);
  for (uint32_t i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    const BOMTreeEntry ex = BOMTree_GetEntry(x.renditions_tree, i);
    const BOMTreeEntry ey = BOMTree_GetEntry(y.renditions_tree, i);
    const BOMBlock& kx = x.store.blocks[ex.key];
    const BOMBlock& ky = y.store.blocks[ey.key];
    EXPECT_EQ(Bytes(kx.data, kx.data + kx.size), Bytes(ky.data, ky.data + ky.size));
    EXPECT_EQ(Bytes(x.store.blocks[ex.value].data, x.store.blocks[ex.value].data + 168),
              Bytes(y.store.blocks[ey.value].data, y.store.blocks[ey.value].data + 168));
  }
  EXPECT_EQ(StoredPixels(y, "Bridge"), StoredPixels(x, "Bridge"));
  const Bytes tower_x = StoredPixels(x, "Tower");
  const Bytes tower_y = StoredPixels(y, "Tower");
  ASSERT_EQ(tower_x.size(), tower_y.size());
  // Gray within the loss of one more JPEG encoding, alpha (opaque) kept.
  int worst = 0;
  double total = 0;
  for (size_t i = 0; i < tower_x.size(); i += 2) {
    const int d = std::abs(tower_x[i] - tower_y[i]);
    worst = std::max(worst, d);
    total += d;
    ASSERT_EQ(tower_y[i + 1], 255);
  }
  EXPECT_LE(worst, 16);
  EXPECT_LT(total / static_cast<double>(tower_x.size() / 2), 1.0);
  test::DecompileFile("Y.car", "Y.xcassets");
  EXPECT_EQ(test::ListTree("Y.xcassets"), test::ListTree("X.xcassets"));
  for (const char* file : {"Contents.json", "Tower.arreferenceimage/Contents.json",
                           "Bridge.arreferenceimage/Contents.json"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(test::ReadFileText(std::string("Y.xcassets/Places.arresourcegroup/") + file),
              test::ReadFileText(out + file));
  }
}

}  // namespace
}  // namespace skarvel
