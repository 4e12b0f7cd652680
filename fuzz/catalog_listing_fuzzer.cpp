// Catalog loading on any bytes, then the -info lines and the -list block
// listing of what loaded (blocks without data included), into /dev/null.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "catalog/assets_catalog.h"
#include "inspect/block_listing.h"
#include "inspect/catalog_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace skarvel;
  static FILE* const null = std::fopen("/dev/null", "w");
  if (null == nullptr) std::abort();
  AssetsCatalog catalog;
  if (!AssetsCatalog_LoadFromBytes(catalog, std::span<const uint8_t>(data, size), "fuzz.car")) {
    return 0;
  }
  for (const bool all : {false, true}) {
    Info_Print(null, catalog, "fuzz.car", all);
    ListingOptions options;
    options.all = all;
    Listing_Print(null, catalog, "fuzz.car", options);
  }
  return 0;
}
