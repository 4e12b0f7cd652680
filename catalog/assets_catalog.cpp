#include "catalog/assets_catalog.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/mem.h"
#include "base/result.h"
#include "catalog/rendition_attribute.h"

namespace skarvel {

namespace {

constexpr uint64_t kKeyFormatCountAt = 8;
constexpr uint64_t kFacetValueCountAt = 4;
constexpr uint64_t kFacetValuePairsAt = 6;

// A tree entry's block, or an empty stand-in when the index is outside the
// table (keys of a tree flagged as numbers are not checked on opening).
const BOMBlock& EntryBlock(const BOMStore& store, uint32_t index) {
  static const BOMBlock kNoBlock;
  const BOMBlock* block = BOMStore_Block(store, index);
  return block != nullptr ? *block : kNoBlock;
}

void MarkBlock(BOMStore& store, uint32_t index, BlockKind kind) {
  if (BOMBlock* block = BOMStore_Block(store, index)) block->kind = kind;
}

// Opens the tree labelled `label`; EINVAL when it is missing or malformed.
bool OpenTree(BOMStore& store, const char* label, int32_t& index, BOMTree& tree) {
  index = BOMStore_FindBlockByLabel(store, label);
  return BOMTree_Open(store, index, tree);
}

// Two trees sharing a node block (or using another tree's header as node)
// would see each other's conversions; well-formed catalogs never do this.
bool TreesAreDistinct(const AssetsCatalog& c) {
  const int64_t blocks[6] = {c.renditions_tree_index,
                             BOMTree_ChildIndex(c.renditions_tree),
                             c.facet_keys_tree_index,
                             BOMTree_ChildIndex(c.facet_keys_tree),
                             c.bitmap_keys_tree_index,
                             BOMTree_ChildIndex(c.bitmap_keys_tree)};
  for (int i = 0; i < 6; ++i) {
    for (int j = i + 1; j < 6; ++j) {
      if (blocks[i] == blocks[j]) return false;
    }
  }
  return true;
}

// Fills facet i from FACETKEYS entry i and collects its renditions.
bool LoadFacet(AssetsCatalog& c, uint32_t i) {
  const BOMTreeEntry entry = BOMTree_GetEntry(c.facet_keys_tree, i);
  MarkBlock(c.store, entry.key, BlockKind::FacetKey);
  MarkBlock(c.store, entry.value, BlockKind::FacetValue);
  const BOMBlock& key = EntryBlock(c.store, entry.key);
  const BOMBlock& value = EntryBlock(c.store, entry.value);
  Facet& facet = c.facets[i];
  facet.name = key.data != nullptr
                   ? Mem_StrNDup(reinterpret_cast<const char*>(key.data), static_cast<size_t>(key.size))
                   : Mem_StrDup("");
  if (facet.name == nullptr) return Fail(ENOMEM);
  facet.element = FacetValue_GetAttribute(value, kAttrElement);
  facet.part = FacetValue_GetAttribute(value, kAttrPart);
  facet.id = FacetValue_GetAttribute(value, kAttrFacetId);

  const uint16_t rendition_total = BOMTree_LeafCount(c.renditions_tree);
  int32_t matches = 0;
  for (uint32_t r = 0; r < rendition_total; ++r) {
    const BOMTreeEntry re = BOMTree_GetEntry(c.renditions_tree, r);
    if (RenditionKey_GetAttribute(c, EntryBlock(c.store, re.key), kAttrFacetId) == facet.id) ++matches;
  }
  if (matches == 0) return true;
  facet.renditions = static_cast<RenditionRef*>(
      Mem_AllocZeroed(static_cast<size_t>(matches), sizeof(RenditionRef)));
  if (facet.renditions == nullptr) return Fail(ENOMEM);
  for (uint32_t r = 0; r < rendition_total; ++r) {
    const BOMTreeEntry re = BOMTree_GetEntry(c.renditions_tree, r);
    if (RenditionKey_GetAttribute(c, EntryBlock(c.store, re.key), kAttrFacetId) == facet.id) {
      facet.renditions[facet.rendition_count++] = {re.key, re.value};
    }
  }
  return true;
}

}  // namespace

AssetsCatalog::AssetsCatalog(AssetsCatalog&& other) noexcept { *this = std::move(other); }

AssetsCatalog& AssetsCatalog::operator=(AssetsCatalog&& other) noexcept {
  if (this == &other) return *this;
  AssetsCatalog_Free(*this);
  store = std::move(other.store);
  header_index = other.header_index;
  renditions_tree_index = other.renditions_tree_index;
  facet_keys_tree_index = other.facet_keys_tree_index;
  key_format_index = other.key_format_index;
  metadata_index = other.metadata_index;
  bitmap_keys_tree_index = other.bitmap_keys_tree_index;
  header = other.header;
  key_format = other.key_format;
  key_format_attributes = other.key_format_attributes;
  metadata = other.metadata;
  facet_keys_tree = other.facet_keys_tree;
  bitmap_keys_tree = other.bitmap_keys_tree;
  renditions_tree = other.renditions_tree;
  facets = other.facets;
  facet_count = other.facet_count;
  // Leave the source as a freshly constructed record.
  other.facets = nullptr;
  other.facet_count = 0;
  AssetsCatalog_Free(other);
  return *this;
}

AssetsCatalog::~AssetsCatalog() { AssetsCatalog_Free(*this); }

void AssetsCatalog_Free(AssetsCatalog& catalog) {
  for (uint32_t i = 0; i < catalog.facet_count && catalog.facets != nullptr; ++i) {
    Mem_Free(catalog.facets[i].name);
    Mem_Free(catalog.facets[i].renditions);
  }
  Mem_Free(catalog.facets);
  catalog.facets = nullptr;
  catalog.facet_count = 0;
  BOMStore_Free(catalog.store);
  catalog.header_index = -1;
  catalog.renditions_tree_index = -1;
  catalog.facet_keys_tree_index = -1;
  catalog.key_format_index = -1;
  catalog.metadata_index = -1;
  catalog.bitmap_keys_tree_index = -1;
  catalog.header = nullptr;
  catalog.key_format = nullptr;
  catalog.key_format_attributes = nullptr;
  catalog.metadata = nullptr;
  catalog.facet_keys_tree = BOMTree{};
  catalog.bitmap_keys_tree = BOMTree{};
  catalog.renditions_tree = BOMTree{};
}

namespace {

// Everything after the store has been read.
bool LoadFromStore(AssetsCatalog& c) {
  BOMStore& store = c.store;
  for (uint64_t i = 0; i < store.count; ++i) store.blocks[i].kind = BlockKind::None;

  c.header_index = BOMStore_FindBlockByLabel(store, "CARHEADER");
  BOMBlock* header = BOMStore_Block(store, c.header_index);
  if (header == nullptr || header->size != kCARHeaderSize) return Fail(EINVAL);
  header->kind = BlockKind::CarHeader;
  c.header = reinterpret_cast<CARHeader*>(header->data);

  c.key_format_index = BOMStore_FindBlockByLabel(store, "KEYFORMAT");
  BOMBlock* key_format = BOMStore_Block(store, c.key_format_index);
  if (key_format == nullptr || key_format->size < kKeyFormatHeadSize) return Fail(EINVAL);
  key_format->kind = BlockKind::KeyFormat;
  c.key_format = key_format->data;
  c.key_format_attributes = key_format->data + kKeyFormatHeadSize;
  const uint32_t key_count = LoadU32LEAt(key_format->bytes(), kKeyFormatCountAt);
  if (key_format->size != kKeyFormatHeadSize + uint64_t{4} * key_count) return Fail(EINVAL);

  c.metadata_index = BOMStore_FindBlockByLabel(store, "EXTENDED_METADATA");
  BOMBlock* metadata = BOMStore_Block(store, c.metadata_index);
  if (metadata == nullptr || metadata->size != kExtendedMetadataSize) return Fail(EINVAL);
  metadata->kind = BlockKind::Metadata;
  c.metadata = reinterpret_cast<ExtendedMetadata*>(metadata->data);

  // Open the three trees before anything walks them; each open checks that
  // its entries name blocks inside the table.
  if (!OpenTree(store, "RENDITIONS", c.renditions_tree_index, c.renditions_tree)) return false;
  if (!OpenTree(store, "FACETKEYS", c.facet_keys_tree_index, c.facet_keys_tree)) return false;
  if (!OpenTree(store, "BITMAPKEYS", c.bitmap_keys_tree_index, c.bitmap_keys_tree)) return false;
  if (!TreesAreDistinct(c)) return Fail(EINVAL);

  const uint16_t renditions = BOMTree_LeafCount(c.renditions_tree);
  for (uint32_t i = 0; i < renditions; ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(c.renditions_tree, i);
    MarkBlock(store, e.key, BlockKind::RenditionKey);
    MarkBlock(store, e.value, BlockKind::RenditionValue);
  }

  const uint16_t facets = BOMTree_LeafCount(c.facet_keys_tree);
  c.facets = static_cast<Facet*>(Mem_AllocZeroed(facets, sizeof(Facet)));
  if (c.facets == nullptr) return Fail(ENOMEM);
  c.facet_count = facets;
  for (uint32_t i = 0; i < facets; ++i) c.facets[i] = Facet{};
  for (uint32_t i = 0; i < facets; ++i) {
    if (!LoadFacet(c, i)) return false;
  }

  // BITMAPKEYS keys are facet ids: only the values are blocks.
  const uint16_t bitmaps = BOMTree_LeafCount(c.bitmap_keys_tree);
  for (uint32_t i = 0; i < bitmaps; ++i) {
    MarkBlock(store, BOMTree_GetEntry(c.bitmap_keys_tree, i).value, BlockKind::BitmapKey);
  }
  return true;
}

}  // namespace

bool AssetsCatalog_Load(AssetsCatalog& catalog, const char* path) {
  AssetsCatalog_Free(catalog);
  if (!BOMStore_ReadFromFile(catalog.store, path)) return false;
  return LoadFromStore(catalog);
}

bool AssetsCatalog_LoadFromBytes(AssetsCatalog& catalog, std::span<const uint8_t> bytes,
                                 const char* name) {
  AssetsCatalog_Free(catalog);
  if (!BOMStore_ReadFromBytes(catalog.store, bytes, name)) return false;
  return LoadFromStore(catalog);
}

const Facet* AssetsCatalog_FindFacetByName(const AssetsCatalog& catalog, const char* name) {
  if (name == nullptr) return nullptr;
  for (uint32_t i = 0; i < catalog.facet_count; ++i) {
    const Facet& f = catalog.facets[i];
    if (f.name != nullptr && std::strcmp(f.name, name) == 0) return &f;
  }
  return nullptr;
}

uint32_t KeyFormat_Count(const AssetsCatalog& catalog) {
  const BOMBlock* block = BOMStore_Block(catalog.store, catalog.key_format_index);
  if (block == nullptr || block->size < kKeyFormatHeadSize) return 0;
  const uint32_t count = LoadU32LEAt(block->bytes(), kKeyFormatCountAt);
  const uint64_t fits = (block->size - kKeyFormatHeadSize) / 4;
  return count <= fits ? count : static_cast<uint32_t>(fits);
}

uint32_t KeyFormat_Attribute(const AssetsCatalog& catalog, uint32_t i) {
  if (i >= KeyFormat_Count(catalog)) return 0;
  const BOMBlock& block = catalog.store.blocks[catalog.key_format_index];
  return LoadU32LEAt(block.bytes(), kKeyFormatHeadSize + uint64_t{4} * i);
}

int32_t RenditionKey_GetAttribute(const AssetsCatalog& catalog, const BOMBlock& key_block,
                                  uint32_t attribute) {
  const uint32_t count = KeyFormat_Count(catalog);
  for (uint32_t i = 0; i < count; ++i) {
    if (KeyFormat_Attribute(catalog, i) != attribute) continue;
    // A key too short for this position lacks the attribute.
    if (!Range_Fits(uint64_t{2} * i, 2, key_block.bytes().size())) return -1;
    return LoadU16LEAt(key_block.bytes(), uint64_t{2} * i);
  }
  return -1;
}

int32_t FacetValue_GetAttribute(const BOMBlock& facet_value_block, uint32_t attribute) {
  const std::span<const uint8_t> b = facet_value_block.bytes();
  if (b.size() < kFacetValuePairsAt) return -1;
  const uint16_t count = LoadU16LEAt(b, kFacetValueCountAt);
  // Only pairs that lie wholly inside the block are looked at.
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kFacetValuePairsAt + uint64_t{4} * i;
    if (!Range_Fits(at, 4, b.size())) break;
    if (LoadU16LEAt(b, at) == attribute) return LoadU16LEAt(b, at + 2);
  }
  return -1;
}

}  // namespace skarvel
