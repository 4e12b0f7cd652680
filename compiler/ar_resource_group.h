#pragma once
// AR resource groups: a directory "<name>.arresourcegroup" whose
// "Contents.json" lists, under "resources", the AR reference image
// directories it holds. Each listed image is compiled first; the group then
// becomes a facet (element 85, part 206) with one name-list rendition naming
// the images that compiled.

#include <cstdint>

#include "catalog/assets_catalog.h"

namespace skarvel {

inline constexpr int32_t kARResourceGroupPart = 206;

// Compiles the group in `directory` (relative to the working directory; the
// text is cut at its first '.' in place and the rest is the group's name).
// The listed reference images are compiled with the group's directory as the
// working directory. Prints a warning for every problem. True when at least
// one listed image compiled and the group's rendition was stored. The working
// directory is the same afterwards.
[[nodiscard]] bool AssetsCatalog_CompileARResourceGroup(AssetsCatalog& catalog, char* directory,
                                                        bool verbose);

}  // namespace skarvel
