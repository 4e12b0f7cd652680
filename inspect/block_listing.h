#pragma once
// The block listing of -list and -dump: a header line per block with its
// index, size, label and role, then the block decoded field by field, then
// whatever the decoder did not account for as a hex dump.

#include <cstdint>
#include <cstdio>
#include <span>

#include "bom/bom_store.h"
#include "catalog/assets_catalog.h"

namespace skarvel {

// Where the dump command plugs into the walk. Every hook is optional; the
// list command leaves them all null.
struct ListingHooks {
  void* context = nullptr;
  // Called for every listed block while its header line is still open (it
  // may print a continuation of that line, without a newline).
  void (*dump_block)(void* context, FILE* out, uint32_t index, const BOMBlock& block) = nullptr;
  // Called for a CoreUI element payload that lies inside its block, in place
  // of the "    + Image data" line. `name` is the rendition name.
  void (*extract_image)(void* context, FILE* out, uint32_t index, const BOMBlock& block,
                        const char* name) = nullptr;
  // Called after the RAWD lines of a raw-data payload whose bytes lie inside
  // the block; `raw` is the data that follows the 12-byte raw-data head.
  void (*extract_raw)(void* context, FILE* out, uint32_t index, const BOMBlock& block,
                      const char* name, std::span<const uint8_t> raw) = nullptr;
};

struct ListingOptions {
  const char* heading = "Contents of";  // "Dumping" for the dump command
  bool all = false;                     // list blocks without data too
  ListingHooks hooks;
};

// Prints the whole listing of `catalog` (read from `input`) on `out`.
void Listing_Print(FILE* out, const AssetsCatalog& catalog, const char* input,
                   const ListingOptions& options);
// Prints one block: header line, decoded contents, extra data.
void Listing_PrintBlock(FILE* out, const AssetsCatalog& catalog, uint32_t index,
                        const ListingOptions& options);

// The role text of a block kind (" (empty block)" for an empty None block).
[[nodiscard]] const char* BlockKind_RoleText(BlockKind kind, uint64_t size);

// Prints the decoded contents of a rendition value block and returns the
// number of bytes accounted for, counted from the block's start (never more
// than the block's size).
[[nodiscard]] uint64_t Rendition_Print(FILE* out, const AssetsCatalog& catalog, uint32_t index,
                                       const BOMBlock& block, const ListingHooks& hooks);

}  // namespace skarvel
