// Round trips through the compiler: the bundled example compiled, decompiled
// and compiled again, and pictures replaced in the compiled example.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "catalog/assets_catalog.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "csi/csi_replace.h"
#include "decompiler/decompiler.h"
#include "image/image_file.h"
#include "image/image_ops.h"
#include "tests/decompiler/decompile_fixtures.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;

const std::string kExample = std::string(SKARVEL_SOURCE_DIR) + "/examples/Example.xcassets";

// The items of a Contents.json whose members stand one per line.
struct Item {
  std::map<std::string, std::string> values;
  std::string operator[](const std::string& key) const {
    const auto it = values.find(key);
    return it == values.end() ? "" : it->second;
  }
};
std::vector<Item> ParseItems(const std::string& json) {
  std::vector<Item> items;
  bool in_images = false;
  size_t at = 0;
  while (at < json.size()) {
    size_t end = json.find('\n', at);
    if (end == std::string::npos) end = json.size();
    const std::string line = json.substr(at, end - at);
    at = end + 1;
    if (line.find("\"images\"") != std::string::npos) in_images = true;
    if (!in_images) continue;
    if (line.find(']') != std::string::npos) break;
    if (line.find('{') != std::string::npos) items.emplace_back();
    const size_t k0 = line.find('"');
    if (k0 == std::string::npos || items.empty()) continue;
    const size_t k1 = line.find('"', k0 + 1);
    const size_t v0 = line.find('"', k1 + 1);
    const size_t v1 = line.find('"', v0 + 1);
    if (v1 == std::string::npos) continue;
    items.back().values[line.substr(k0 + 1, k1 - k0 - 1)] = line.substr(v0 + 1, v1 - v0 - 1);
  }
  return items;
}

std::string Triple(const Item& item) {
  return item["idiom"] + " " + item["size"] + " " + item["scale"];
}

// Tight BGRA rows of a picture file.
Bytes Pixels(const std::string& path, int32_t width = 0) {
  Image image;
  if (!Image_ReadFile(path.c_str(), "BGRA", image)) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  if (width > 0 && !Image_Resize("BGRA", image, width, width)) {
    ADD_FAILURE() << "cannot resize " << path;
    return {};
  }
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + static_cast<size_t>(y) * image.stride;
    out.insert(out.end(), row, row + static_cast<size_t>(image.width) * 4);
  }
  return out;
}

// Pixel size of an item: size x scale, truncated.
int32_t PixelSize(const Item& item) {
  return static_cast<int32_t>(std::stof(item["size"]) *
                              static_cast<float>(std::stoi(item["scale"])));
}

TEST(RoundTrip, ExampleDecompilesToItsSourcesAndCompilesBackTheSame) {
  test::TempDir dir;
  test::CompileToFile(kExample, "X.car");
  test::DecompileFile("X.car", "X.xcassets");

  const std::string app_icon = test::ReadFileText("X.xcassets/AppIcon.appiconset/Contents.json");
  test::ExpectGolden("decompiler/golden/example_appicon_contents.json", app_icon);
  const std::vector<Item> items = ParseItems(app_icon);
  EXPECT_EQ(items.size(), 23u);

  // The sizes, scales and idioms of the sources, every one once.
  const std::vector<Item> sources =
      ParseItems(test::ReadFileText(kExample + "/AppIcon.appiconset/Contents.json"));
  std::vector<std::string> want, got;
  for (const Item& s : sources) want.push_back(Triple(s));
  for (const Item& i : items) got.push_back(Triple(i));
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);

  // Each picture is the (resized) source of the last entry naming it.
  std::map<std::string, const Item*> last;
  for (const Item& i : items) last[i["filename"]] = &i;
  EXPECT_EQ(last.size(), 19u);
  std::map<std::string, std::string> source_file;
  for (const Item& s : sources) source_file[Triple(s)] = s["filename"];
  for (const auto& [name, item] : last) {
    SCOPED_TRACE(name);
    EXPECT_EQ(
        Pixels("X.xcassets/AppIcon.appiconset/" + name),
        Pixels(kExample + "/AppIcon.appiconset/" + source_file[Triple(*item)], PixelSize(*item)));
  }
  // The single-source set: every icon resized from its one picture.
  const std::vector<Item> single =
      ParseItems(test::ReadFileText("X.xcassets/Single.appiconset/Contents.json"));
  EXPECT_EQ(single.size(), 23u);
  for (const Item& i : single) {
    SCOPED_TRACE(i["filename"]);
    EXPECT_EQ(last.count(i["filename"]), 1u) << "a name the full set does not have";
    EXPECT_EQ(Pixels("X.xcassets/Single.appiconset/" + i["filename"]),
              Pixels(kExample + "/Single.appiconset/Icon-1024.png", PixelSize(i)));
  }

  // Compiled again and decompiled again: the same renditions, and the same
  // pictures for every name (a shared name holds the last entry's picture
  // both times).
  test::CompileToFile("X.xcassets", "Y.car");
  test::DecompileFile("Y.car", "Y.xcassets");
  EXPECT_EQ(test::ListTree("Y.xcassets"), test::ListTree("X.xcassets"));
  for (const char* set : {"AppIcon", "Single"}) {
    const std::string base = std::string("/") + set + ".appiconset/";
    EXPECT_EQ(test::ReadFileText("Y.xcassets" + base + "Contents.json"),
              test::ReadFileText("X.xcassets" + base + "Contents.json"));
    for (const auto& [name, item] : last) {
      SCOPED_TRACE(std::string(set) + " " + name);
      EXPECT_EQ(Pixels("Y.xcassets" + base + name), Pixels("X.xcassets" + base + name));
    }
  }
  AssetsCatalog x, y;
  ASSERT_TRUE(AssetsCatalog_Load(x, "X.car"));
  ASSERT_TRUE(AssetsCatalog_Load(y, "Y.car"));
  const uint32_t count = BOMTree_EntryCount(x.renditions_tree);
  ASSERT_EQ(BOMTree_EntryCount(y.renditions_tree), count);
  for (uint32_t i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    const BOMTreeEntry ex = BOMTree_GetEntry(x.renditions_tree, i);
    const BOMTreeEntry ey = BOMTree_GetEntry(y.renditions_tree, i);
    EXPECT_EQ(ex.key, ey.key);
    EXPECT_EQ(ex.value, ey.value);
    const BOMBlock& kx = x.store.blocks[ex.key];
    const BOMBlock& ky = y.store.blocks[ey.key];
    EXPECT_EQ(Bytes(kx.data, kx.data + kx.size), Bytes(ky.data, ky.data + ky.size));
    // Header up to the subblock sizes: size, scale, format, layout, name.
    EXPECT_EQ(Bytes(x.store.blocks[ex.value].data, x.store.blocks[ex.value].data + 168),
              Bytes(y.store.blocks[ey.value].data, y.store.blocks[ey.value].data + 168));
  }
}

// The pixels of rendition value block `value`, tightly packed.
Bytes RecordPixels(const AssetsCatalog& catalog, uint32_t value) {
  Image image;
  if (!CSI_DecodeImage(catalog.store.blocks[value], image)) return {};
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + static_cast<size_t>(y) * image.stride;
    out.insert(out.end(), row, row + static_cast<size_t>(image.width) * 4);
  }
  return out;
}

Bytes BlockBytes(const AssetsCatalog& catalog, uint32_t index) {
  const BOMBlock& b = catalog.store.blocks[index];
  return Bytes(b.data, b.data + b.size);
}

TEST(RoundTrip, ReplacingPicturesOfTheCompiledExample) {
  test::TempDir dir;
  test::CompileToFile(kExample, "X.car");
  AssetsCatalog before;
  ASSERT_TRUE(AssetsCatalog_Load(before, "X.car"));

  // A 57 x 57 picture: only the 92 x 60 atlases change, and only in the
  // icon's rectangle and its frame.
  Image picture;
  ASSERT_TRUE(Image_CreateBlank("BGRA", 57, 57, picture));
  for (uint64_t i = 0; i < picture.pixels.size; ++i) {
    picture.pixels.data[i] = static_cast<uint8_t>(i * 5 + 1);
  }
  ASSERT_TRUE(Image_WriteFile("p57.png", "BGRA", picture.pixels.bytes(), 57, 57, picture.stride));
  {
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_Load(catalog, "X.car"));
    test::CaptureStream out(1);
    test::CaptureStream err(2);
    EXPECT_EQ(ReplaceImage_Run(catalog, "p57.png", "R.car"), 0);
    // Packed images are written without metrics.
    EXPECT_EQ(err.Finish(),
              "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): "
              "theirs = 0x00000044, ours = 0x00000068\n"
              "skarvel: warning: ISTC header discrepancy at offset 168 (all_subblocks_size): "
              "theirs = 0x00000044, ours = 0x00000068\n");
  }
  AssetsCatalog after;
  ASSERT_TRUE(AssetsCatalog_Load(after, "R.car"));
  ASSERT_EQ(after.store.count, before.store.count);
  int atlases = 0;
  for (uint32_t i = 0; i < BOMTree_EntryCount(before.renditions_tree); ++i) {
    const uint32_t value = BOMTree_GetEntry(before.renditions_tree, i).value;
    const CSIHeader* h = CSI_Header(before.store.blocks[value]);
    ASSERT_NE(h, nullptr);
    if (Get(h->width) != 92 || Get(h->height) != 60) {
      EXPECT_EQ(BlockBytes(after, value), BlockBytes(before, value)) << value;
      continue;
    }
    ++atlases;
    const Bytes old_pixels = RecordPixels(before, value);
    const Bytes new_pixels = RecordPixels(after, value);
    ASSERT_EQ(new_pixels.size(), old_pixels.size());
    for (uint32_t y = 0; y < 60; ++y) {
      for (uint32_t x = 0; x < 92; ++x) {
        const size_t at = (size_t{y} * 92 + x) * 4;
        const bool inside = x >= 1 && x <= 59 && y <= 58;  // the icon and its frame
        if (!inside) {
          ASSERT_EQ(std::memcmp(&new_pixels[at], &old_pixels[at], 4), 0) << x << "," << y;
          continue;
        }
        const uint32_t px = std::clamp<int>(static_cast<int>(x) - 2, 0, 56);
        const uint32_t py = std::clamp<int>(static_cast<int>(y) - 1, 0, 56);
        ASSERT_EQ(std::memcmp(&new_pixels[at],
                              picture.pixels.data + size_t{py} * picture.stride + px * 4, 4),
                  0)
            << x << "," << y;
      }
    }
    // Same method and chunk count.
    const BOMBlock& b = after.store.blocks[value];
    const uint64_t p = kCSIHeaderSize + Get(CSI_Header(b)->all_subblocks_size);
    EXPECT_EQ(LoadU32LEAt(b.bytes(), p + 8), 4u);
    EXPECT_EQ(LoadU32LEAt(b.bytes(), p + 12), 3u);
  }
  EXPECT_EQ(atlases, 2);  // one per icon set

  // A 1024 x 1024 picture with transparent pixels is stored opaque.
  Image store;
  ASSERT_TRUE(Image_CreateBlank("BGRA", 1024, 1024, store));
  for (uint64_t i = 0; i < store.pixels.size; ++i)
    store.pixels.data[i] = static_cast<uint8_t>(i / 3);
  ASSERT_TRUE(Image_WriteFile("p1024.png", "BGRA", store.pixels.bytes(), 1024, 1024, store.stride));
  {
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_Load(catalog, "X.car"));
    test::CaptureStream out(1);
    test::CaptureStream err(2);
    EXPECT_EQ(ReplaceImage_Run(catalog, "p1024.png", "S.car"), 0);
    EXPECT_EQ(err.Finish(), "");
  }
  AssetsCatalog opaque;
  ASSERT_TRUE(AssetsCatalog_Load(opaque, "S.car"));
  Bytes expected;
  for (int32_t y = 0; y < 1024; ++y) {
    const uint8_t* row = store.pixels.data + static_cast<size_t>(y) * store.stride;
    for (int32_t x = 0; x < 1024; ++x) {
      expected.insert(expected.end(), row + x * 4, row + x * 4 + 3);
      expected.push_back(255);
    }
  }
  int stores = 0;
  for (uint32_t i = 0; i < BOMTree_EntryCount(opaque.renditions_tree); ++i) {
    const uint32_t value = BOMTree_GetEntry(opaque.renditions_tree, i).value;
    const CSIHeader* h = CSI_Header(opaque.store.blocks[value]);
    if (Get(h->width) != 1024) continue;
    ++stores;
    EXPECT_EQ(RecordPixels(opaque, value), expected);
  }
  EXPECT_EQ(stores, 2);
}

}  // namespace
}  // namespace skarvel
