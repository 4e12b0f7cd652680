#pragma once
// The steps every asset compiler takes in its own directory: entering it,
// reading its "Contents.json" and reading and resizing its pictures. Each
// step prints its warnings naming the asset by its kind ("app icon set",
// "AR resource group", "AR reference image") and its name.

#include <cstdint>

#include "catalog/assets_catalog.h"
#include "compiler/contents_json.h"

namespace skarvel {

// Enters `directory` (relative to the working directory) and cuts the text at
// its first '.' in place, which leaves the asset's name; with `verbose` says
// so on stdout. `remembered` is then the directory to return to with
// WorkingDirectory_Return. False (after its warning, nothing to return to)
// when the directory cannot be entered.
[[nodiscard]] bool AssetDirectory_Enter(char* directory, const char* kind, bool verbose,
                                        int& remembered);

// Reads and parses "Contents.json" of the working directory into `json`.
// False after its warning when the file is missing, too large, malformed or
// cannot be held in memory.
[[nodiscard]] bool AssetDirectory_ReadContents(JsonDocument& json, const char* kind,
                                               const char* name);

// Adds the asset's facet (AssetsCatalog_AddFacet); its id, or -1 after its
// warning.
[[nodiscard]] int32_t AssetDirectory_AddFacet(AssetsCatalog& catalog, const char* kind,
                                              const char* name, int32_t element, int32_t part,
                                              int32_t* bitmap_key);

// The warnings of a picture `file` that could not be read (the code of
// Image_ReadFile) or resized (the code of Image_Resize).
void AssetDirectory_WarnImageRead(const char* file, const char* kind, const char* name, int code);
void AssetDirectory_WarnImageResize(const char* file, const char* kind, const char* name,
                                    int code);

}  // namespace skarvel
