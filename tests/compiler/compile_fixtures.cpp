#include "tests/compiler/compile_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "catalog/rendition_attribute.h"
#include "csi/csi_format.h"
#include "image/image_file.h"
#include "tests/support/temp_dir.h"

namespace skarvel::test {

Image MakePicture(int32_t width, int32_t height, uint8_t seed) {
  Image image;
  EXPECT_TRUE(Image_CreateBlank("BGRA", width, height, image));
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image.pixels.data + int64_t{y} * image.stride;
    for (int32_t x = 0; x < width; ++x) {
      row[4 * x] = static_cast<uint8_t>(seed + 3 * x);
      row[4 * x + 1] = static_cast<uint8_t>(seed * 7 + 5 * y);
      row[4 * x + 2] = static_cast<uint8_t>(seed * 13 + x + y);
      row[4 * x + 3] = 255;
    }
  }
  return image;
}

void WritePicture(const std::string& path, int32_t width, int32_t height, uint8_t seed) {
  const Image image = MakePicture(width, height, seed);
  ASSERT_TRUE(
      Image_WriteFile(path.c_str(), "BGRA", image.pixels.bytes(), width, height, image.stride))
      << path;
}

Image ReadPicture(const std::string& path) {
  Image image;
  EXPECT_TRUE(Image_ReadFile(path.c_str(), "BGRA", image)) << path << " errno " << errno;
  return image;
}

void CopyExample(const std::string& what, const std::string& to) {
  namespace fs = std::filesystem;
  const fs::path from = fs::path(SKARVEL_SOURCE_DIR) / "examples" / "Example.xcassets" / what;
  std::error_code error;
  if (fs::path(to).has_parent_path()) fs::create_directories(fs::path(to).parent_path(), error);
  fs::copy(from, to, fs::copy_options::recursive, error);
  ASSERT_FALSE(error) << from << ": " << error.message();
}

void WriteSet(const std::string& dir, const std::string& contents_json) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  ASSERT_FALSE(error) << dir;
  WriteFileText(dir + "/Contents.json", contents_json);
}

std::vector<RenditionView> Renditions(const AssetsCatalog& catalog) {
  std::vector<RenditionView> out;
  for (uint64_t i = 1; i < catalog.store.count; ++i) {
    const BOMBlock& value = catalog.store.blocks[i];
    const BOMBlock& key = catalog.store.blocks[i - 1];
    if (value.kind != BlockKind::RenditionValue || key.kind != BlockKind::RenditionKey) continue;
    const CSIHeader* h = CSI_Header(value);
    if (h == nullptr) {
      ADD_FAILURE() << "block " << i << " is not a CSI record";
      continue;
    }
    RenditionView v;
    v.key = static_cast<int32_t>(i - 1);
    v.value = static_cast<int32_t>(i);
    v.facet = RenditionKey_GetAttribute(catalog, key, kAttrFacetId);
    v.element = RenditionKey_GetAttribute(catalog, key, kAttrElement);
    v.part = RenditionKey_GetAttribute(catalog, key, kAttrPart);
    v.idiom = RenditionKey_GetAttribute(catalog, key, kAttrIdiom);
    v.scale = RenditionKey_GetAttribute(catalog, key, kAttrScale);
    v.dimension1 = RenditionKey_GetAttribute(catalog, key, kAttrDimension1);
    v.dimension2 = RenditionKey_GetAttribute(catalog, key, kAttrDimension2);
    v.name.assign(h->name, strnlen(h->name, sizeof h->name));
    v.width = Get(h->width);
    v.height = Get(h->height);
    v.layout = Get(h->layout);
    out.push_back(v);
  }
  return out;
}

std::vector<const Facet*> FacetsNamed(const AssetsCatalog& catalog, const std::string& name) {
  std::vector<const Facet*> out;
  for (uint32_t i = 0; i < catalog.facet_count; ++i) {
    if (catalog.facets[i].name != nullptr && name == catalog.facets[i].name) {
      out.push_back(&catalog.facets[i]);
    }
  }
  return out;
}

std::vector<uint8_t> Region(const Image& image, int32_t x, int32_t y, int32_t columns,
                            int32_t rows) {
  std::vector<uint8_t> out;
  for (int32_t r = y; r < y + rows; ++r) {
    const uint8_t* row = image.pixels.data + int64_t{r} * image.stride + int64_t{x} * 4;
    out.insert(out.end(), row, row + int64_t{columns} * 4);
  }
  return out;
}

}  // namespace skarvel::test
