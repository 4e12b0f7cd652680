#pragma once
// The asset catalog: a BOMStore whose labelled blocks follow the CoreUI
// layout (CARHEADER, KEYFORMAT, EXTENDED_METADATA and the RENDITIONS,
// FACETKEYS and BITMAPKEYS trees), the facet list built while loading, and
// the accessors the commands use. The catalog's own blocks are little-endian
// and used in place.
//
// Catalogs made by newer tools also carry trees in newer shapes (read as
// stored, see bom/bom_tree.h), more labelled trees (APPEARANCEKEYS, COLORS,
// FONTSIZES, ...) and plain blocks (CARGLOBALS, KEYFORMATWORKAROUND); they may
// lack BITMAPKEYS and EXTENDED_METADATA. All of them load for reading.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "bom/bom_store.h"
#include "bom/bom_tree.h"

namespace skarvel {

// CARHEADER, exactly 436 bytes.
struct CARHeader {
  uint8_t magic[4];  // "RATC"
  LE32 coreui_version;
  LE32 storage_version;
  LE32 storage_timestamp;
  LE32 rendition_count;
  char coreui_id[128];
  char interface_builder_id[256];
  uint8_t uuid[16];
  LE32 checksum;
  LE32 schema_version;
  LE32 colorspace_id;
  LE32 key_semantics;
};
static_assert(sizeof(CARHeader) == 436 && alignof(CARHeader) == 1);
static_assert(offsetof(CARHeader, coreui_version) == 4);
static_assert(offsetof(CARHeader, storage_version) == 8);
static_assert(offsetof(CARHeader, storage_timestamp) == 12);
static_assert(offsetof(CARHeader, rendition_count) == 16);
static_assert(offsetof(CARHeader, coreui_id) == 20);
static_assert(offsetof(CARHeader, interface_builder_id) == 148);
static_assert(offsetof(CARHeader, uuid) == 404);
static_assert(offsetof(CARHeader, checksum) == 420);
static_assert(offsetof(CARHeader, schema_version) == 424);
static_assert(offsetof(CARHeader, colorspace_id) == 428);
static_assert(offsetof(CARHeader, key_semantics) == 432);

// EXTENDED_METADATA, exactly 1028 bytes.
struct ExtendedMetadata {
  uint8_t magic[4];  // "META"
  char author[256];
  char xcode_version[256];
  char target_platform[256];
  char coretheme_id[256];
};
static_assert(sizeof(ExtendedMetadata) == 1028 && alignof(ExtendedMetadata) == 1);
static_assert(offsetof(ExtendedMetadata, author) == 4);
static_assert(offsetof(ExtendedMetadata, xcode_version) == 260);
static_assert(offsetof(ExtendedMetadata, target_platform) == 516);
static_assert(offsetof(ExtendedMetadata, coretheme_id) == 772);

inline constexpr uint64_t kCARHeaderSize = sizeof(CARHeader);
inline constexpr uint64_t kExtendedMetadataSize = sizeof(ExtendedMetadata);
inline constexpr uint64_t kKeyFormatHeadSize = 12;  // "tmfk", reserved, count

// One RENDITIONS entry as a facet lists it: key block first.
struct RenditionRef {
  uint32_t key_block = 0;
  uint32_t value_block = 0;
};

// One FACETKEYS entry. id, element and part are -1 when the facet value has
// no such pair. Plain record owned by the catalog (name and renditions).
struct Facet {
  int32_t id = -1;
  char* name = nullptr;
  int32_t element = -1;
  int32_t part = -1;
  RenditionRef* renditions = nullptr;
  int32_t rendition_count = 0;
};

// What a labelled tree other than the three main ones holds.
enum class CatalogTreeRole : uint8_t {
  Appearances = 1,  // APPEARANCEKEYS: appearance name -> u16 id (the values of attribute 7)
  Colors = 2,       // COLORS: named system colours
  FontSizes = 3,    // FONTSIZES: font size name -> f32
  Other = 4,        // FONTS, GLYPHS, BEZELS and any other tree: entries not decoded
};

// A labelled tree other than RENDITIONS, FACETKEYS and BITMAPKEYS, read as
// stored. Plain record owned by the catalog (its view's arrays).
struct CatalogTree {
  CatalogTreeRole role = CatalogTreeRole::Other;
  BOMTree tree;  // tree.header_index is its labelled header block
};

// At most this many other labelled trees are opened; the rest list as
// unknown blocks.
inline constexpr uint32_t kMaxOtherTrees = 64;

// An open catalog. Owns its store, facet list and the arrays of its tree
// views; the pointers and tree views point into block data and are refreshed
// whenever a block is inserted. Move-only; the destructor calls
// AssetsCatalog_Free.
//
// Walk a tree's entries with BOMTree_EntryCount and BOMTree_GetEntry (any
// shape). metadata is null and bitmap_keys_tree_index -1 when the catalog
// has no such block.
struct AssetsCatalog {
  BOMStore store;
  int32_t header_index = -1;
  int32_t renditions_tree_index = -1;
  int32_t facet_keys_tree_index = -1;
  int32_t key_format_index = -1;
  int32_t metadata_index = -1;
  int32_t bitmap_keys_tree_index = -1;
  CARHeader* header = nullptr;
  uint8_t* key_format = nullptr;             // the KEYFORMAT block data
  uint8_t* key_format_attributes = nullptr;  // key_format + 12
  ExtendedMetadata* metadata = nullptr;
  BOMTree facet_keys_tree;
  BOMTree bitmap_keys_tree;
  BOMTree renditions_tree;
  Facet* facets = nullptr;
  uint32_t facet_count = 0;
  CatalogTree* other_trees = nullptr;  // owned, in label block order
  uint32_t other_tree_count = 0;
  int32_t key_format_workaround_index = -1;  // "KEYFORMATWORKAROUND", or -1

  AssetsCatalog() = default;
  AssetsCatalog(const AssetsCatalog&) = delete;
  AssetsCatalog& operator=(const AssetsCatalog&) = delete;
  AssetsCatalog(AssetsCatalog&& other) noexcept;
  AssetsCatalog& operator=(AssetsCatalog&& other) noexcept;
  ~AssetsCatalog();
};

// Loads a catalog. False when the file is not a usable catalog (the store
// layer has printed its own messages; the catalog layer prints nothing):
// errno EINVAL (also for facets whose rendition lists would together hold
// more entries than the file has 8-byte words) or ENOMEM. A labelled tree
// other than the main three that cannot be read is left unclassified rather
// than refused.
[[nodiscard]] bool AssetsCatalog_Load(AssetsCatalog& catalog, const char* path);
// The same on bytes in memory (`name` stands for the path in messages).
[[nodiscard]] bool AssetsCatalog_LoadFromBytes(AssetsCatalog& catalog,
                                               std::span<const uint8_t> bytes, const char* name);
// Releases everything and zeroes the record; safe after a failed load.
void AssetsCatalog_Free(AssetsCatalog& catalog);
// First facet, in list order, whose name equals `name`; null otherwise.
[[nodiscard]] const Facet* AssetsCatalog_FindFacetByName(const AssetsCatalog& catalog,
                                                         const char* name);

// Number of attributes in the key format, and the identifier at position i
// as stored.
uint32_t KeyFormat_Count(const AssetsCatalog& catalog);
uint32_t KeyFormat_Attribute(const AssetsCatalog& catalog, uint32_t i);
// The attribute that position i really holds: where the key format stores
// the placeholder attribute 5 and KEYFORMATWORKAROUND names a substitute at
// that position, the substitute; otherwise the stored identifier.
uint32_t KeyFormat_EffectiveAttribute(const AssetsCatalog& catalog, uint32_t i);
// The key's 16-bit value at the first key-format position holding
// `attribute` (after substitution); -1 when the key format lacks it (or the
// key is too short).
[[nodiscard]] int32_t RenditionKey_GetAttribute(const AssetsCatalog& catalog,
                                                const BOMBlock& key_block, uint32_t attribute);
// The value of the first pair with `attribute`; -1 when there is none (or the
// block is too short to hold it).
[[nodiscard]] int32_t FacetValue_GetAttribute(const BOMBlock& facet_value_block,
                                              uint32_t attribute);

// The name APPEARANCEKEYS gives to appearance id `value` (a NUL-terminated
// view into the key block, valid until a block is inserted); null when the
// catalog has no such entry.
[[nodiscard]] const char* AssetsCatalog_AppearanceName(const AssetsCatalog& catalog, int32_t value);
// The block a tree entry names, or an empty stand-in (no label, no data) when
// the index is outside the table: the keys of a tree flagged as holding
// numbers are not checked when the tree is opened.
const BOMBlock& AssetsCatalog_EntryBlock(const AssetsCatalog& catalog, uint32_t index);
// The open tree (main or other) whose header or node is block `index`; null
// when none is.
[[nodiscard]] const BOMTree* AssetsCatalog_TreeOfBlock(const AssetsCatalog& catalog,
                                                       uint64_t index);

}  // namespace skarvel
