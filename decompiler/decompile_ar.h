#pragma once
// AR resource groups and the AR reference images they list, rebuilt as
// <name>.arresourcegroup directories by the -decompile command: the group's
// "Contents.json" lists its reference images, and each image gets a
// <name>.arreferenceimage directory inside the group's, with its own
// "Contents.json" (idiom, file name, physical width and unit) and picture.
//
// Names from a name list go through the same rules as facet names: path
// separators become "_" (with a warning) and a directory name that would not
// fit 255 bytes is refused, so nothing is written outside the output
// directory.

#include "catalog/assets_catalog.h"

namespace skarvel {

// Rebuilds the AR resource group facet `name` in the current directory, and
// each reference image its name lists inside the group's directory. True when
// the facet exists, has renditions and its directory could be entered,
// whatever became of its reference images; false (after a warning on stderr)
// otherwise. The working directory is the same afterwards.
[[nodiscard]] bool AssetsCatalog_DecompileARResourceGroup(const AssetsCatalog& catalog,
                                                          const char* name);

// Rebuilds the AR reference image facet `name` as <name>.arreferenceimage in
// the current directory: one entry and one picture per image rendition, and
// the physical width of the facet's last rendition. True as for groups.
[[nodiscard]] bool AssetsCatalog_DecompileARReferenceImage(const AssetsCatalog& catalog,
                                                           const char* name);

}  // namespace skarvel
