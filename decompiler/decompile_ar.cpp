#include "decompiler/decompile_ar.h"

#include <cstdio>

namespace skarvel {

// AR resource groups are not rebuilt yet: they are reported like any other
// facet kind the decompiler does not handle.
bool AssetsCatalog_DecompileARResourceGroup(const AssetsCatalog& catalog, const char* name) {
  (void)catalog;
  (void)name;
  std::fprintf(stderr, "WARNING: unsupported facet type: \"%s\"\n", "arresourcegroup");
  return false;
}

}  // namespace skarvel
