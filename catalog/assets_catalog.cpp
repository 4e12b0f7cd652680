#include "catalog/assets_catalog.h"

#include <algorithm>
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

void MarkBlock(BOMStore& store, uint32_t index, BlockKind kind) {
  if (BOMBlock* block = BOMStore_Block(store, index)) block->kind = kind;
}

// Opening tells a tree still in file order (big-endian) from one already in
// host order by its version field, 1 in every catalog, which reads above 256
// only in the other order. A version of 0 reads the same both ways: such a
// tree would be taken for one in host order whatever it holds, and after a
// save it could no longer be told apart. It is refused. A tree stored
// little-endian with a non-zero version is used as it is and saved
// big-endian.
bool HasTellableVersion(const BOMStore& store, int32_t index) {
  const BOMBlock* header = BOMStore_Block(store, index);
  if (header == nullptr || header->size < 8) return true;  // the open refuses it
  uint32_t version = 0;
  std::memcpy(&version, header->data + 4, sizeof version);
  return version != 0;
}

// Opens the tree whose header block is `index`; EINVAL when it is missing or
// malformed.
bool OpenTreeAt(BOMStore& store, int32_t index, BOMTree& tree) {
  if (!HasTellableVersion(store, index)) return Fail(EINVAL);
  return BOMTree_Open(store, index, tree);
}

// Opens the tree labelled `label`; EINVAL when it is missing or malformed.
bool OpenTree(BOMStore& store, const char* label, int32_t& index, BOMTree& tree) {
  index = BOMStore_FindBlockByLabel(store, label);
  return OpenTreeAt(store, index, tree);
}

// No block may serve two of the main trees (or twice in one): a node shared
// with another tree would be converted twice or read as the wrong thing.
// Well-formed catalogs never do this.
bool TreesAreDistinct(const AssetsCatalog& c) {
  const BOMTree* trees[3] = {&c.renditions_tree, &c.facet_keys_tree, &c.bitmap_keys_tree};
  auto* seen = static_cast<uint8_t*>(Mem_AllocZeroed(static_cast<size_t>(c.store.count), 1));
  if (seen == nullptr) return Fail(ENOMEM);
  bool distinct = true;
  auto claim = [&](uint64_t index) {
    if (index >= c.store.count || seen[index] != 0) {
      distinct = false;
    } else {
      seen[index] = 1;
    }
  };
  for (const BOMTree* tree : trees) {
    if (tree->header == nullptr) continue;
    claim(static_cast<uint64_t>(tree->header_index));
    for (uint32_t n = 0; n < BOMTree_NodeCount(*tree); ++n) claim(BOMTree_NodeIndex(*tree, n));
  }
  Mem_Free(seen);
  return distinct ? true : Fail(EINVAL);
}

// The key-format position of the facet id, or -1.
int64_t FacetIdPosition(const AssetsCatalog& c) {
  const uint32_t count = KeyFormat_Count(c);
  for (uint32_t i = 0; i < count; ++i) {
    if (KeyFormat_EffectiveAttribute(c, i) == kAttrFacetId) return i;
  }
  return -1;
}

int32_t KeyValueAt(const BOMBlock& key, int64_t position) {
  if (position < 0 || !Range_Fits(2 * static_cast<uint64_t>(position), 2, key.bytes().size())) {
    return -1;
  }
  return LoadU16LEAt(key.bytes(), 2 * static_cast<uint64_t>(position));
}

// Fills facet i from FACETKEYS entry i.
bool LoadFacet(AssetsCatalog& c, uint32_t i) {
  const BOMTreeEntry entry = BOMTree_GetEntry(c.facet_keys_tree, i);
  MarkBlock(c.store, entry.key, BlockKind::FacetKey);
  MarkBlock(c.store, entry.value, BlockKind::FacetValue);
  const BOMBlock& key = AssetsCatalog_EntryBlock(c, entry.key);
  const BOMBlock& value = AssetsCatalog_EntryBlock(c, entry.value);
  Facet& facet = c.facets[i];
  facet.name = key.data != nullptr ? Mem_StrNDup(reinterpret_cast<const char*>(key.data),
                                                 static_cast<size_t>(key.size))
                                   : Mem_StrDup("");
  if (facet.name == nullptr) return Fail(ENOMEM);
  facet.element = FacetValue_GetAttribute(value, kAttrElement);
  facet.part = FacetValue_GetAttribute(value, kAttrPart);
  facet.id = FacetValue_GetAttribute(value, kAttrFacetId);
  return true;
}

struct FacetSlot {
  int32_t id;
  uint32_t facet;
};

// Gives every facet the renditions whose key carries its id, in tree order.
// The facets are indexed by id, so the work grows with facets + renditions;
// a rendition goes to every facet that has its id. Facets that share an id
// (or all lack one) over many renditions would multiply into lists far
// larger than the file: the lists together are held to one entry per 8
// bytes of block data (real catalogs list each rendition once at most), and
// a catalog that needs more is refused (EINVAL) before they are allocated.
bool AttachRenditions(AssetsCatalog& c) {
  if (c.facet_count == 0) return true;
  uint64_t limit = 0;
  for (uint64_t i = 0; i < c.store.count; ++i) limit += c.store.blocks[i].size;
  limit /= sizeof(RenditionRef);
  uint64_t listed = 0;
  auto* slots = static_cast<FacetSlot*>(Mem_AllocZeroed(c.facet_count, sizeof(FacetSlot)));
  if (slots == nullptr) return Fail(ENOMEM);
  for (uint32_t f = 0; f < c.facet_count; ++f) slots[f] = {c.facets[f].id, f};
  auto by_id = [](const FacetSlot& a, const FacetSlot& b) {
    return a.id != b.id ? a.id < b.id : a.facet < b.facet;
  };
  std::sort(slots, slots + c.facet_count, by_id);
  const int64_t position = FacetIdPosition(c);
  const uint32_t renditions = BOMTree_EntryCount(c.renditions_tree);

  // Two passes: count, then fill the exact arrays.
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t r = 0; r < renditions; ++r) {
      const BOMTreeEntry e = BOMTree_GetEntry(c.renditions_tree, r);
      const int32_t id = KeyValueAt(AssetsCatalog_EntryBlock(c, e.key), position);
      const FacetSlot probe{id, 0};
      for (const FacetSlot* s = std::lower_bound(slots, slots + c.facet_count, probe, by_id);
           s != slots + c.facet_count && s->id == id; ++s) {
        if (pass == 0 && ++listed > limit) {
          Mem_Free(slots);
          return Fail(EINVAL);
        }
        Facet& facet = c.facets[s->facet];
        if (pass == 1) facet.renditions[facet.rendition_count] = {e.key, e.value};
        ++facet.rendition_count;
      }
    }
    if (pass == 1) break;
    for (uint32_t f = 0; f < c.facet_count; ++f) {
      Facet& facet = c.facets[f];
      if (facet.rendition_count == 0) continue;
      facet.renditions = static_cast<RenditionRef*>(
          Mem_AllocZeroed(static_cast<size_t>(facet.rendition_count), sizeof(RenditionRef)));
      if (facet.renditions == nullptr) {
        Mem_Free(slots);
        return Fail(ENOMEM);
      }
      facet.rendition_count = 0;
    }
  }
  Mem_Free(slots);
  return true;
}

// Labels of the blocks the loader reads by name.
constexpr const char* kKnownLabels[] = {"CARHEADER",  "KEYFORMAT",          "EXTENDED_METADATA",
                                        "RENDITIONS", "FACETKEYS",          "BITMAPKEYS",
                                        "CARGLOBALS", "KEYFORMATWORKAROUND"};

bool IsKnownLabel(const char* label) {
  for (const char* known : kKnownLabels) {
    if (std::strcmp(label, known) == 0) return true;
  }
  return false;
}

bool LooksLikeTreeHeader(const BOMBlock& b) {
  return (b.size == kTreeHeaderSize || b.size == kTreeHeaderExtendedSize) &&
         std::memcmp(b.data, "tree", 4) == 0;
}

CatalogTreeRole RoleOfLabel(const char* label) {
  if (std::strcmp(label, "APPEARANCEKEYS") == 0) return CatalogTreeRole::Appearances;
  if (std::strcmp(label, "COLORS") == 0) return CatalogTreeRole::Colors;
  if (std::strcmp(label, "FONTSIZES") == 0) return CatalogTreeRole::FontSizes;
  return CatalogTreeRole::Other;
}

// Marks a block not claimed by anything else.
void MarkUnclaimed(BOMStore& store, uint32_t index, BlockKind kind) {
  BOMBlock* block = BOMStore_Block(store, index);
  if (block != nullptr && block->kind == BlockKind::None) block->kind = kind;
}

// Opens every other labelled tree, read as stored. One that cannot be read,
// or whose header or nodes belong to something else, is left unclassified.
bool LoadOtherTrees(AssetsCatalog& c) {
  BOMStore& store = c.store;
  uint32_t candidates = 0;
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& b = store.blocks[i];
    if (b.label != nullptr && b.label[0] != '\0' && !IsKnownLabel(b.label) &&
        LooksLikeTreeHeader(b) && candidates < kMaxOtherTrees) {
      ++candidates;
    }
  }
  if (candidates == 0) return true;
  c.other_trees = static_cast<CatalogTree*>(Mem_AllocZeroed(candidates, sizeof(CatalogTree)));
  if (c.other_trees == nullptr) return Fail(ENOMEM);
  for (uint32_t t = 0; t < candidates; ++t) c.other_trees[t] = CatalogTree{};
  for (uint64_t i = 0; i < store.count && c.other_tree_count < candidates; ++i) {
    const BOMBlock& b = store.blocks[i];
    if (b.label == nullptr || b.label[0] == '\0' || IsKnownLabel(b.label) ||
        !LooksLikeTreeHeader(b) || BOMStore_FindBlockByLabel(store, b.label) != int32_t(i)) {
      continue;
    }
    CatalogTree& slot = c.other_trees[c.other_tree_count];
    if (!BOMTree_OpenAsRead(store, static_cast<int32_t>(i), slot.tree)) {
      if (errno == ENOMEM) return false;
      continue;
    }
    bool claimed = b.kind != BlockKind::None;
    for (uint32_t n = 0; n < BOMTree_NodeCount(slot.tree) && !claimed; ++n) {
      claimed = store.blocks[BOMTree_NodeIndex(slot.tree, n)].kind != BlockKind::None;
    }
    if (claimed) {
      BOMTree_Close(slot.tree);
      continue;
    }
    slot.role = RoleOfLabel(b.label);
    BOMTree_MarkBlocks(store, slot.tree);
    BlockKind key_kind = BlockKind::TreeKey;
    BlockKind value_kind = BlockKind::TreeValue;
    switch (slot.role) {
      case CatalogTreeRole::Appearances:
        key_kind = BlockKind::AppearanceKey;
        value_kind = BlockKind::AppearanceValue;
        break;
      case CatalogTreeRole::Colors:
        key_kind = BlockKind::ColorKey;
        value_kind = BlockKind::ColorValue;
        break;
      case CatalogTreeRole::FontSizes:
        key_kind = BlockKind::FontSizeKey;
        value_kind = BlockKind::FontSizeValue;
        break;
      case CatalogTreeRole::Other:
        break;
    }
    const bool keys_are_blocks = BOMTree_Flags(slot.tree) != 1;
    for (uint32_t e = 0; e < BOMTree_EntryCount(slot.tree); ++e) {
      const BOMTreeEntry entry = BOMTree_GetEntry(slot.tree, e);
      if (keys_are_blocks) MarkUnclaimed(store, entry.key, key_kind);
      MarkUnclaimed(store, entry.value, value_kind);
    }
    ++c.other_tree_count;
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
  other_trees = other.other_trees;
  other_tree_count = other.other_tree_count;
  key_format_workaround_index = other.key_format_workaround_index;
  // Leave the source as a freshly constructed record (what it owned is ours).
  other.facets = nullptr;
  other.facet_count = 0;
  other.other_trees = nullptr;
  other.other_tree_count = 0;
  other.facet_keys_tree = BOMTree{};
  other.bitmap_keys_tree = BOMTree{};
  other.renditions_tree = BOMTree{};
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
  for (uint32_t i = 0; i < catalog.other_tree_count && catalog.other_trees != nullptr; ++i) {
    BOMTree_Close(catalog.other_trees[i].tree);
  }
  Mem_Free(catalog.other_trees);
  catalog.other_trees = nullptr;
  catalog.other_tree_count = 0;
  catalog.key_format_workaround_index = -1;
  BOMTree_Close(catalog.facet_keys_tree);
  BOMTree_Close(catalog.bitmap_keys_tree);
  BOMTree_Close(catalog.renditions_tree);
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

  // The metadata and BITMAPKEYS carry nothing a reader needs: either may be
  // missing, but when present they must be well formed.
  c.metadata_index = BOMStore_FindBlockByLabel(store, "EXTENDED_METADATA");
  if (BOMBlock* metadata = BOMStore_Block(store, c.metadata_index)) {
    if (metadata->size != kExtendedMetadataSize) return Fail(EINVAL);
    metadata->kind = BlockKind::Metadata;
    c.metadata = reinterpret_cast<ExtendedMetadata*>(metadata->data);
  }

  c.key_format_workaround_index = BOMStore_FindBlockByLabel(store, "KEYFORMATWORKAROUND");
  if (BOMBlock* workaround = BOMStore_Block(store, c.key_format_workaround_index)) {
    workaround->kind = BlockKind::KeyFormatWorkaround;
  }
  if (BOMBlock* globals = BOMStore_Block(store, BOMStore_FindBlockByLabel(store, "CARGLOBALS"))) {
    globals->kind = BlockKind::CarGlobals;
  }

  // Open the trees before anything walks them; each open checks that its
  // entries name blocks inside the table.
  if (!OpenTree(store, "RENDITIONS", c.renditions_tree_index, c.renditions_tree)) return false;
  if (!OpenTree(store, "FACETKEYS", c.facet_keys_tree_index, c.facet_keys_tree)) return false;
  c.bitmap_keys_tree_index = BOMStore_FindBlockByLabel(store, "BITMAPKEYS");
  if (c.bitmap_keys_tree_index >= 0 &&
      !OpenTreeAt(store, c.bitmap_keys_tree_index, c.bitmap_keys_tree)) {
    return false;
  }
  if (!TreesAreDistinct(c)) return false;

  const uint32_t renditions = BOMTree_EntryCount(c.renditions_tree);
  for (uint32_t i = 0; i < renditions; ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(c.renditions_tree, i);
    MarkBlock(store, e.key, BlockKind::RenditionKey);
    MarkBlock(store, e.value, BlockKind::RenditionValue);
  }

  const uint32_t facets = BOMTree_EntryCount(c.facet_keys_tree);
  c.facets = static_cast<Facet*>(Mem_AllocZeroed(facets, sizeof(Facet)));
  if (c.facets == nullptr) return Fail(ENOMEM);
  c.facet_count = facets;
  for (uint32_t i = 0; i < facets; ++i) c.facets[i] = Facet{};
  for (uint32_t i = 0; i < facets; ++i) {
    if (!LoadFacet(c, i)) return false;
  }
  if (!AttachRenditions(c)) return false;

  // BITMAPKEYS keys are facet ids: only the values are blocks.
  const uint32_t bitmaps = BOMTree_EntryCount(c.bitmap_keys_tree);
  for (uint32_t i = 0; i < bitmaps; ++i) {
    MarkBlock(store, BOMTree_GetEntry(c.bitmap_keys_tree, i).value, BlockKind::BitmapKey);
  }
  return LoadOtherTrees(c);
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

uint32_t KeyFormat_EffectiveAttribute(const AssetsCatalog& catalog, uint32_t i) {
  const uint32_t stored = KeyFormat_Attribute(catalog, i);
  if (stored != kAttrPlaceholder) return stored;
  const BOMBlock* workaround = BOMStore_Block(catalog.store, catalog.key_format_workaround_index);
  if (workaround == nullptr || !Range_Fits(uint64_t{4} * i, 4, workaround->bytes().size())) {
    return stored;
  }
  const uint32_t substitute = LoadU32LEAt(workaround->bytes(), uint64_t{4} * i);
  return substitute != 0 ? substitute : stored;
}

int32_t RenditionKey_GetAttribute(const AssetsCatalog& catalog, const BOMBlock& key_block,
                                  uint32_t attribute) {
  const uint32_t count = KeyFormat_Count(catalog);
  for (uint32_t i = 0; i < count; ++i) {
    if (KeyFormat_EffectiveAttribute(catalog, i) != attribute) continue;
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

const char* AssetsCatalog_AppearanceName(const AssetsCatalog& catalog, int32_t value) {
  for (uint32_t t = 0; t < catalog.other_tree_count; ++t) {
    const CatalogTree& other = catalog.other_trees[t];
    if (other.role != CatalogTreeRole::Appearances) continue;
    for (uint32_t e = 0; e < BOMTree_EntryCount(other.tree); ++e) {
      const BOMTreeEntry entry = BOMTree_GetEntry(other.tree, e);
      const BOMBlock& id = AssetsCatalog_EntryBlock(catalog, entry.value);
      const BOMBlock& name = AssetsCatalog_EntryBlock(catalog, entry.key);
      if (id.size >= 2 && name.data != nullptr && LoadU16LEAt(id.bytes(), 0) == value) {
        return reinterpret_cast<const char*>(name.data);
      }
    }
  }
  return nullptr;
}

const BOMBlock& AssetsCatalog_EntryBlock(const AssetsCatalog& catalog, uint32_t index) {
  static const BOMBlock kNoBlock;
  const BOMBlock* block = BOMStore_Block(catalog.store, index);
  return block != nullptr ? *block : kNoBlock;
}

const BOMTree* AssetsCatalog_TreeOfBlock(const AssetsCatalog& catalog, uint64_t index) {
  for (const BOMTree* tree :
       {&catalog.renditions_tree, &catalog.facet_keys_tree, &catalog.bitmap_keys_tree}) {
    if (BOMTree_UsesBlock(*tree, index)) return tree;
  }
  for (uint32_t t = 0; t < catalog.other_tree_count; ++t) {
    if (BOMTree_UsesBlock(catalog.other_trees[t].tree, index)) return &catalog.other_trees[t].tree;
  }
  return nullptr;
}

}  // namespace skarvel
