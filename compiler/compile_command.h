#pragma once
// The compile command: builds a catalog from an .xcassets source directory,
// or adds to an existing one (-compile-add), and saves it.

#include "catalog/assets_catalog.h"
#include "frontend/command_line.h"

namespace skarvel {

// Creates (or, with -compile-add and an existing output file, loads) the
// catalog, compiles the input directory into it, returns to the start-up
// directory and saves the catalog to the output pathname. Returns the exit
// status: 1 when no catalog could be had, the start-up directory could not be
// returned to, or the catalog could not be saved; 0 otherwise, whatever the
// single assets did.
[[nodiscard]] int RunCompileCommand(const CommandLine& cl);

// Walks `directory` (relative to the working directory, or absolute): each
// sub-directory, in byte order of the names, is walked in turn when its name
// has no '.', or compiled by the asset compiler of its extension (the part of
// the name from the first '.'). True when at least one asset in it or below
// it compiled. The working directory is the same afterwards.
[[nodiscard]] bool AssetsCatalog_CompileDirectory(AssetsCatalog& catalog, const char* directory,
                                                  bool verbose);

}  // namespace skarvel
