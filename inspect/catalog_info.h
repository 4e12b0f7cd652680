#pragma once
// The brief listing of -info: one line per rendition.

#include <cstdio>

#include "catalog/assets_catalog.h"

namespace skarvel {

// Prints the rendition lines of `catalog` (read from `input`) on `out`. With
// `all`, blocks without data are visited too (they never print anything).
void Info_Print(FILE* out, const AssetsCatalog& catalog, const char* input, bool all);

}  // namespace skarvel
