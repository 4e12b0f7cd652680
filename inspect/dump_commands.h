#pragma once
// -dump / -dump-all: the block listing with every listed block written to a
// file and the pictures and raw data of rendition values extracted; and
// -dump_res: every picture and raw-data payload written under its rendition
// name. Files go to the current directory (names in inspect/dump_names.h); a
// failed file is reported and the command goes on.

#include <cstdint>
#include <cstdio>
#include <span>

#include "base/buffer.h"
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

// Bit of the flags word after a raw-data head's "DWAR" magic: the data is one
// LZFSE stream whose decoded length is not stored.
inline constexpr uint32_t kRawDataCompressed = 1;

// The most bytes a compressed raw-data payload of `stored_size` bytes may
// decode to: 64 times its size, at least 1 MiB, at most 256 MiB.
[[nodiscard]] uint64_t RawData_DecodedLimit(uint64_t stored_size);
// Decodes the LZFSE stream `stream` into `out` (its content is replaced). The
// room grows as the data needs it, up to RawData_DecodedLimit. errno: EINVAL
// a stream that does not decode, ENOSPC one that decodes to more than the
// limit, ENOMEM; `out` then holds nothing of use.
[[nodiscard]] bool RawData_Decompress(std::span<const uint8_t> stream, Buffer& out);

// The commands as the front end dispatches them: load the input catalog
// (ending the process with status 1 when it is not one), run, release, 0.
[[nodiscard]] int RunDumpCommand(const CommandLine& cl);
[[nodiscard]] int RunDumpResCommand(const CommandLine& cl);

}  // namespace skarvel
