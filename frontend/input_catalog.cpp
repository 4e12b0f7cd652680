#include "frontend/input_catalog.h"

#include <cstdlib>

namespace skarvel {

bool InputCatalog_Load(const CommandLine& cl, AssetsCatalog& catalog, FILE* err) {
  const char* path = cl.input != nullptr ? cl.input : "";
  if (AssetsCatalog_Load(catalog, path)) return true;
  AssetsCatalog_Free(catalog);
  std::fprintf(err, "skarvel: failed to parse %s as an assets catalog file\n", path);
  return false;
}

void LoadInputCatalog(const CommandLine& cl, AssetsCatalog& catalog) {
  if (!InputCatalog_Load(cl, catalog, stderr)) {
    std::fflush(stdout);
    std::exit(1);
  }
}

void ReleaseInputCatalog(AssetsCatalog& catalog) { AssetsCatalog_Free(catalog); }

}  // namespace skarvel
