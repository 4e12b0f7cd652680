#pragma once
// AR reference images: a directory "<name>.arreferenceimage" inside an AR
// resource group, holding a "Contents.json" (the physical width and its unit,
// and the picture file) and the picture. It becomes a facet (element 85,
// part 181) with one rendition: the picture as 640 x 640 gray and alpha
// pixels, with its physical size in meters.

#include <cstdint>

#include "catalog/assets_catalog.h"

namespace skarvel {

inline constexpr int32_t kARElement = 85;
inline constexpr int32_t kARReferenceImagePart = 181;
// Width and height of the stored picture.
inline constexpr int32_t kARReferenceImageSize = 640;

// Compiles the reference image in `directory` (relative to the working
// directory; the text is cut at its first '.' in place, and the rest is the
// image's name; a name without '.' is taken whole). Prints a warning for every
// problem. True when the rendition and its pixels were stored. The working
// directory is the same afterwards.
[[nodiscard]] bool AssetsCatalog_CompileARReferenceImage(AssetsCatalog& catalog, char* directory,
                                                         bool verbose);

}  // namespace skarvel
