#pragma once
// Catalogs for the listing tests, built with the test builders and loaded
// through the catalog loader, and a FILE* that collects what is printed.

#include <cstdio>
#include <string>

#include "catalog/assets_catalog.h"
#include "tests/support/catalog_file_builder.h"

namespace skarvel::test {

// An open_memstream FILE* whose text can be read back.
class MemoryStream {
 public:
  MemoryStream();
  ~MemoryStream();
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  FILE* file() { return file_; }
  std::string Text();

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* file_ = nullptr;
};

// One facet and a rendition for every pixel format, subblock kind and
// payload kind the listings decode; `table_count` 0 keeps the block table
// just long enough.
CatalogFileSpec AllKindsSpec(uint32_t table_count);
// Renditions, facets and keys whose counts and lengths run past their blocks.

// Builds and loads a catalog (test failure when it does not load).
void LoadCatalog(const CatalogFileSpec& recipe, AssetsCatalog& catalog);

}  // namespace skarvel::test
