#pragma once
// The loading step shared by the commands that read a catalog (info, list,
// dump, dump_res, decompile, replace_img).

#include <cstdio>

#include "catalog/assets_catalog.h"
#include "frontend/command_line.h"

namespace skarvel {

// Loads the input pathname into `catalog`. On failure prints "skarvel: failed
// to parse ... as an assets catalog file" on `err` (after the lower layers'
// own lines) and returns false.
[[nodiscard]] bool InputCatalog_Load(const CommandLine& cl, AssetsCatalog& catalog, FILE* err);
// Loads the input catalog; returns only when it is loaded, otherwise reports
// the failure on stderr and ends the process with status 1.
void LoadInputCatalog(const CommandLine& cl, AssetsCatalog& catalog);
// Releases a catalog loaded by LoadInputCatalog.
void ReleaseInputCatalog(AssetsCatalog& catalog);

}  // namespace skarvel
