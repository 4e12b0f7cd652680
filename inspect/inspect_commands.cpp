#include "inspect/inspect_commands.h"

#include <cstdio>

#include "frontend/input_catalog.h"
#include "inspect/block_listing.h"
#include "inspect/catalog_info.h"

namespace skarvel {

int RunInfoCommand(const CommandLine& cl) {
  AssetsCatalog catalog;
  LoadInputCatalog(cl, catalog);
  Info_Print(stdout, catalog, cl.input, cl.all);
  ReleaseInputCatalog(catalog);
  return 0;
}

int RunListCommand(const CommandLine& cl) {
  AssetsCatalog catalog;
  LoadInputCatalog(cl, catalog);
  ListingOptions options;
  options.all = cl.all;
  Listing_Print(stdout, catalog, cl.input, options);
  ReleaseInputCatalog(catalog);
  return 0;
}

}  // namespace skarvel
