#pragma once
// -dump / -dump-all: the block listing with every listed block written to a
// file and the pictures and raw data of rendition values extracted; and
// -dump_res: every picture and raw-data payload written under its rendition
// name. Files go to the current directory (names in inspect/dump_names.h); a
// failed file is reported and the command goes on.

#include <cstdio>

#include "catalog/assets_catalog.h"
#include "frontend/command_line.h"

namespace skarvel {

// The listing of the dump command on `out` (extraction failures on `err`).
// `input` is the input pathname: the heading shows it and the block dump
// files are named after its base name. `all` lists the empty blocks too.
void Dump_Print(FILE* out, FILE* err, const AssetsCatalog& catalog, const char* input, bool all);
// The resource extraction of -dump_res: its first line and one line per file
// written on `out`, writing failures on `err`. Pictures that cannot be
// decoded are passed over in silence.
void DumpRes_Extract(FILE* out, FILE* err, const AssetsCatalog& catalog, const char* input);

// The commands as the front end dispatches them: load the input catalog
// (ending the process with status 1 when it is not one), run, release, 0.
int RunDumpCommand(const CommandLine& cl);
int RunDumpResCommand(const CommandLine& cl);

}  // namespace skarvel
