#pragma once
// The fixed sequence of app icon renditions: for iPhone at 1x, 2x and 3x,
// iPad at 1x and 2x and the App Store, the small icons drawn into atlases
// stored as packed assets with one reference rendition per icon, the two
// large icons as single renditions, and one scaling information rendition
// per idiom. Every step prints its own warning when it fails.

#include <cstdint>
#include <span>

#include "catalog/assets_catalog.h"
#include "compiler/app_icon_set.h"
#include "csi/csi_build.h"
#include "image/image.h"

namespace skarvel {

// The steps of the sequence.
inline constexpr int32_t kAppIconSequenceSteps = 56;
// The first step that looks up an icon of this idiom, scale and size (points,
// compared exactly), or -1 when no step does.
[[nodiscard]] int32_t AppIconSequence_SlotOf(int32_t idiom, int32_t scale, float size);

// Runs the 56 steps in order, stopping at the first that fails (what earlier
// steps added stays). `best` indexes the source every missing size falls back
// on (-1: none, and any size without a source of its own fails). True when
// every step succeeded.
[[nodiscard]] bool AssetsCatalog_AddAppIconRenditions(AssetsCatalog& catalog, const char* set_name,
                                                      int32_t facet_id,
                                                      std::span<const AppIconSource> sources,
                                                      int32_t best);

// Draws the icon of (idiom, scale, size) into the atlas at (x, y), y counted
// up from the atlas's bottom edge, creating the blank atlas first when it is
// empty. The picture's one-pixel border is bled around it.
[[nodiscard]] bool AppIconAtlas_PackIcon(const char* set_name, Image& atlas, int32_t atlas_width,
                                         int32_t atlas_height, int32_t idiom, int32_t scale,
                                         float size, int32_t x, int32_t y,
                                         std::span<const AppIconSource> sources, int32_t best);
// Stores the atlas as a packed asset (no facet) and releases it.
[[nodiscard]] bool AssetsCatalog_AddPackedAsset(AssetsCatalog& catalog, const char* set_name,
                                                int32_t idiom, int32_t scale, int32_t pack_index,
                                                Image& atlas, int32_t atlas_width,
                                                int32_t atlas_height, uint32_t chunk_count);
// A rendition whose pixels lie at (x, y) in the packed asset of (idiom,
// scale, pack index).
[[nodiscard]] bool AssetsCatalog_AddReferenceRendition(AssetsCatalog& catalog, const char* set_name,
                                                       int32_t facet_id, int32_t idiom,
                                                       int32_t scale, int32_t pack_index,
                                                       int32_t icon_index, float size, int32_t x,
                                                       int32_t y, const char* name);
// A rendition with its own pixels.
[[nodiscard]] bool AssetsCatalog_AddSingleRendition(AssetsCatalog& catalog, const char* set_name,
                                                    int32_t facet_id, int32_t idiom, int32_t scale,
                                                    float size, int32_t icon_index,
                                                    uint32_t chunk_count, const char* name,
                                                    std::span<const AppIconSource> sources,
                                                    int32_t best);
// The idiom's table of icon sizes, named after the set.
[[nodiscard]] bool AssetsCatalog_AddScalingInformation(AssetsCatalog& catalog, const char* set_name,
                                                       int32_t facet_id, int32_t idiom,
                                                       std::span<const CSIScalingEntry> entries);

}  // namespace skarvel
