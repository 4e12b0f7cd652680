#pragma once
// AR resource groups and the AR reference images they list, rebuilt as
// <name>.arresourcegroup directories by the -decompile command.

#include "catalog/assets_catalog.h"

namespace skarvel {

// Rebuilds the AR resource group facet `name` in the current directory. True
// when the group could be decompiled; false (after a message on stderr)
// otherwise.
[[nodiscard]] bool AssetsCatalog_DecompileARResourceGroup(const AssetsCatalog& catalog,
                                                          const char* name);

}  // namespace skarvel
