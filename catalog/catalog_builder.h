#pragma once
// Creating, growing and saving a catalog: the new empty catalog, block
// insertion in tree order with full renumbering, facets, renditions, bitmap
// key masks and the save with a fresh UUID.

#include <cstdint>

#include "catalog/assets_catalog.h"

namespace skarvel {

// A new empty catalog (blocks 1 to 9 of a 512-entry table) for `platform`
// (under 256 bytes). False when a block could not be stored.
[[nodiscard]] bool AssetsCatalog_CreateNew(AssetsCatalog& catalog, const char* platform);
// Opens an empty slot at `index`, renumbering every reference (tree child
// indices, tree entries, facet rendition lists) and refreshing the record's
// pointers and views. ENOSPC when the last table entry is in use or still
// named by a tree; EINVAL for an index outside the table; ENOTSUP when the
// catalog holds references this builder does not renumber (a main tree not
// in the older single-node form, another labelled tree) or no
// EXTENDED_METADATA. Never grows the table.
[[nodiscard]] bool AssetsCatalog_InsertBlock(AssetsCatalog& catalog, int32_t index);
// True when facets and renditions can be added to the catalog: its key format
// is the default one, its three trees are in the older single-node form, it
// has EXTENDED_METADATA and no other labelled trees. Otherwise false with
// ENOTSUP: the additions below refuse such a catalog without changing it, so
// a command can refuse it before doing anything.
[[nodiscard]] bool AssetsCatalog_CanAdd(const AssetsCatalog& catalog);
// Adds a facet; returns its new id, or -1 with ENOSPC (a full tree or block
// table), ENOMEM, or ENOTSUP (the catalog's key format is not the default
// one, or blocks cannot be inserted, see AssetsCatalog_InsertBlock; such a
// catalog is left untouched). `bitmap_key` (optional) receives the new bitmap key block's index,
// valid until the next block insertion. A failure changes no tree or list
// (slots already opened stay as empty blocks).
[[nodiscard]] int32_t AssetsCatalog_AddFacet(AssetsCatalog& catalog, const char* name,
                                             int32_t element, int32_t part, int32_t* bitmap_key);
// Adds a rendition with a bare 184-byte CSI header and returns its value
// block's index (an index, because block pointers go stale on insertion), or
// -1 with ENOSPC, ENOMEM or ENOTSUP (as for facets). `attributes` has
// kAttrCount entries indexed by attribute identifier; entries 17 (and 1 when
// the facet exists) are set here. Keys are kept sorted; equal keys are
// accepted and go after the existing ones.
[[nodiscard]] int32_t AssetsCatalog_AddRendition(AssetsCatalog& catalog, int32_t facet_id,
                                                 int32_t attributes[], uint32_t width,
                                                 uint32_t height, uint32_t scale_factor,
                                                 const char pixel_format[4], uint32_t colorspace_id,
                                                 uint32_t layout, const char* name,
                                                 uint32_t bitmap_count);
// Replaces the mask of `attribute` in a bitmap key block. EINVAL for a
// malformed block, ENOENT for an attribute outside the default key format.
[[nodiscard]] bool BitmapKey_SetAttributeMask(BOMBlock& bitmap_key, uint32_t attribute,
                                              uint32_t mask);
// Writes the catalog with a new UUID and checksum, through a temporary file
// in the target's directory renamed over the target only when the whole write
// succeeded ("/stdout/" and "/stderr/" are written directly). A failed save
// leaves the previous file untouched and no temporary file; errno is the
// system's code, ENOMEM or EINVAL (no usable CARHEADER). The trees are
// restored to host order whatever the outcome; trees read as stored are
// written byte for byte as they were read.
[[nodiscard]] bool AssetsCatalog_Save(AssetsCatalog& catalog, const char* path);

// The catalog's pseudo-random generator: 0 to 32767 per draw, seeded from the
// time, or from SOURCE_DATE_EPOCH when that is set.
void CatalogRandom_Seed();
[[nodiscard]] int CatalogRandom_Next();

}  // namespace skarvel
