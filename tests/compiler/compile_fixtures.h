#pragma once
// Source trees and catalog readers for the compiler tests: pictures written
// through the image library, copies of the bundled example, and a view of the
// renditions a compile stored.

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/assets_catalog.h"
#include "image/image.h"

namespace skarvel::test {

// A "BGRA" picture whose pixels depend on `seed` and their position (with
// alpha 255), written to `path` (type by extension).
void WritePicture(const std::string& path, int32_t width, int32_t height, uint8_t seed);
// The picture of WritePicture, in memory.
Image MakePicture(int32_t width, int32_t height, uint8_t seed);
// A "BGRA" picture read from a file (the test fails when it cannot be read).
Image ReadPicture(const std::string& path);

// Copies examples/Example.xcassets/<what> (a set, or "" for the whole
// catalog) to `to` in the working directory.
void CopyExample(const std::string& what, const std::string& to);
// Makes directory `dir` (parents included) and writes its Contents.json.
void WriteSet(const std::string& dir, const std::string& contents_json);

// One rendition of a catalog: its blocks and key attributes.
struct RenditionView {
  int32_t key = 0;
  int32_t value = 0;
  int32_t facet = 0;
  int32_t element = 0;
  int32_t part = 0;
  int32_t idiom = 0;
  int32_t scale = 0;
  int32_t dimension1 = 0;
  int32_t dimension2 = 0;
  std::string name;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t layout = 0;
};
// Every rendition, in block order (the key block stands just before its value).
std::vector<RenditionView> Renditions(const AssetsCatalog& catalog);
// The facets named `name`, in list order.
std::vector<const Facet*> FacetsNamed(const AssetsCatalog& catalog, const std::string& name);

// Rows [y, y + rows) and columns [x, x + columns) of an image, tightly packed.
std::vector<uint8_t> Region(const Image& image, int32_t x, int32_t y, int32_t columns,
                            int32_t rows);

}  // namespace skarvel::test
