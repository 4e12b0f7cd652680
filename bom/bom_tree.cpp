#include "bom/bom_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

namespace {

// Header fields (offsets in the header block).
constexpr uint64_t kVersionAt = 4;
constexpr uint64_t kChildAt = 8;
constexpr uint64_t kNodeSizeAt = 12;
constexpr uint64_t kPathCountAt = 16;
constexpr uint64_t kFlagsAt = 20;
constexpr uint64_t kInlineKeyLengthAt = 21;
// Node fields.
constexpr uint64_t kIsLeafAt = 0;
constexpr uint64_t kLeafCountAt = 2;
constexpr uint64_t kNextAt = 4;
constexpr uint64_t kPreviousAt = 8;

constexpr uint32_t kHostVersionLimit = 256;

void Swap16(uint8_t* p) {
  const uint8_t t = p[0];
  p[0] = p[1];
  p[1] = t;
}

void Swap32(uint8_t* p) {
  uint8_t t = p[0];
  p[0] = p[3];
  p[3] = t;
  t = p[1];
  p[1] = p[2];
  p[2] = t;
}

// Swaps the byte order of every field of a tree in the older form: the
// header's words, the node's head and its first `count` entries.
void SwapOlderFields(uint8_t* h, uint8_t* node, uint64_t count) {
  Swap32(h + kVersionAt);
  Swap32(h + kChildAt);
  Swap32(h + kNodeSizeAt);
  Swap32(h + kPathCountAt);
  Swap16(node + kIsLeafAt);
  Swap16(node + kLeafCountAt);
  Swap32(node + kNextAt);
  Swap32(node + kPreviousAt);
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t* entry = node + kTreeNodeHeadSize + 8 * i;
    Swap32(entry);
    Swap32(entry + 4);
  }
}

uint32_t Swapped32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
uint16_t Swapped16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// A field as it reads in host order, `swap` telling whether its bytes are
// the other way round.
uint32_t Field32(const uint8_t* p, bool swap) {
  const uint32_t v = LoadU32Host(p);
  return swap ? Swapped32(v) : v;
}
uint16_t Field16(const uint8_t* p, bool swap) {
  const uint16_t v = LoadU16Host(p);
  return swap ? Swapped16(v) : v;
}

// True when every entry of a node names blocks inside the table (keys only
// when they are block indices).
bool EntriesInTable(const BOMStore& store, const uint8_t* node, uint32_t count, bool swap,
                    bool keys_are_blocks) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = node + kTreeNodeHeadSize + 8 * uint64_t{i};
    if (Field32(entry, swap) >= store.count) return false;
    if (keys_are_blocks && Field32(entry + 4, swap) >= store.count) return false;
  }
  return true;
}

// One walk over a tree read as stored: the branches depth first in child
// order, which gives the leaves in key order. The first pass checks and
// counts; the second (with `fill`) copies the entries and node indices.
struct StoredWalk {
  const BOMStore* store = nullptr;
  bool swap = false;
  bool keys_are_blocks = true;
  bool root_is_branch = false;
  uint8_t* visited = nullptr;  // one bit per block of the table
  // Results.
  uint64_t nodes = 0;
  uint64_t entries = 0;
  const uint8_t* last_leaf = nullptr;
  // The second pass's destination.
  bool fill = false;
  uint8_t* entry_out = nullptr;
  uint32_t* node_out = nullptr;
};

bool Visited(const StoredWalk& w, uint64_t index) {
  return ((w.visited[index / 8] >> (index % 8)) & 1) != 0;
}
void SetVisited(StoredWalk& w, uint64_t index) {
  w.visited[index / 8] = static_cast<uint8_t>(w.visited[index / 8] | (1u << (index % 8)));
}

bool VisitNode(StoredWalk& w, uint32_t index, uint32_t depth) {
  const BOMBlock* block = BOMStore_Block(*w.store, index);
  // A node reached twice (from two branches, or the header itself) is a
  // cycle or a shared node: either way not a tree.
  if (block == nullptr || block->data == nullptr || block->size < kTreeNodeHeadSize ||
      Visited(w, index)) {
    return false;
  }
  SetVisited(w, index);
  const uint8_t* node = block->data;
  const uint16_t count = Field16(node + kLeafCountAt, w.swap);
  if (w.fill) w.node_out[w.nodes] = index;
  ++w.nodes;
  if (Field16(node + kIsLeafAt, w.swap) == 0) {
    // A branch with n separators has n + 1 children.
    if (depth >= kTreeMaxDepth) return false;
    const uint64_t children = uint64_t{count} + 1;
    if (!Range_Fits(kTreeNodeHeadSize, 8 * children, block->size)) return false;
    for (uint64_t c = 0; c < children; ++c) {
      if (!VisitNode(w, Field32(node + kTreeNodeHeadSize + 8 * c, w.swap), depth + 1)) {
        return false;
      }
    }
    return true;
  }
  if (!Range_Fits(kTreeNodeHeadSize, uint64_t{8} * count, block->size) ||
      !EntriesInTable(*w.store, node, count, w.swap, w.keys_are_blocks)) {
    return false;
  }
  // Under a branch the leaves are also chained, in the same order: the
  // previous leaf's forward link must name this one.
  if (w.root_is_branch && w.last_leaf != nullptr &&
      Field32(w.last_leaf + kNextAt, w.swap) != index) {
    return false;
  }
  w.last_leaf = node;
  if (w.fill) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = node + kTreeNodeHeadSize + 8 * uint64_t{i};
      uint8_t* out = w.entry_out + 8 * (w.entries + i);
      StoreU32Host(out, Field32(entry, w.swap));
      StoreU32Host(out + 4, Field32(entry + 4, w.swap));
    }
  }
  w.entries += count;
  return true;
}

// Runs one pass from the root; false for any defect.
bool WalkStored(StoredWalk& w, uint32_t header_index, uint32_t root) {
  std::memset(w.visited, 0, static_cast<size_t>((w.store->count + 7) / 8));
  SetVisited(w, header_index);
  w.nodes = 0;
  w.entries = 0;
  w.last_leaf = nullptr;
  if (!VisitNode(w, root, 0)) return false;
  // The last leaf ends the chain.
  if (w.root_is_branch && Field32(w.last_leaf + kNextAt, w.swap) != 0) return false;
  return w.entries <= UINT32_MAX;
}

// Opens a tree without changing its blocks: copies its entries in order.
bool OpenStored(BOMStore& store, uint32_t header_index, uint8_t* h, uint64_t header_size, bool swap,
                BOMTree& tree) {
  const uint32_t root = Field32(h + kChildAt, swap);
  StoredWalk w;
  w.store = &store;
  w.swap = swap;
  w.keys_are_blocks = h[kFlagsAt] != 1;
  const BOMBlock* root_block = BOMStore_Block(store, root);
  w.root_is_branch = root_block != nullptr && root_block->size >= kTreeNodeHeadSize &&
                     Field16(root_block->data + kIsLeafAt, swap) == 0;
  w.visited = static_cast<uint8_t*>(Mem_AllocZeroed(static_cast<size_t>((store.count + 7) / 8), 1));
  if (w.visited == nullptr) return Fail(ENOMEM);
  if (!WalkStored(w, header_index, root)) {
    Mem_Free(w.visited);
    return Fail(EINVAL);
  }
  const uint64_t entry_bytes = 8 * w.entries;
  uint8_t* owned = static_cast<uint8_t*>(Mem_Alloc(static_cast<size_t>(entry_bytes + 4 * w.nodes)));
  if (owned == nullptr) {
    Mem_Free(w.visited);
    return Fail(ENOMEM);
  }
  w.fill = true;
  w.entry_out = owned;
  w.node_out = reinterpret_cast<uint32_t*>(owned + entry_bytes);
  const bool filled = WalkStored(w, header_index, root);
  Mem_Free(w.visited);
  if (!filled) {  // cannot happen: nothing changed between the passes
    Mem_Free(owned);
    return Fail(EINVAL);
  }
  std::sort(w.node_out, w.node_out + w.nodes);
  tree.header = h;
  tree.node = root_block->data;
  tree.node_size = root_block->size;
  tree.entries = owned;
  tree.header_size = header_size;
  tree.as_read = true;
  tree.swapped = swap;
  tree.entry_count = static_cast<uint32_t>(w.entries);
  tree.node_count = static_cast<uint32_t>(w.nodes);
  tree.nodes = w.node_out;
  tree.owned = owned;
  return true;
}

// Opens a tree in the older form, converting it to host order in place.
bool OpenOlder(BOMStore& store, uint8_t* h, BOMBlock& node_block, bool swap, BOMTree& tree) {
  uint8_t* node = node_block.data;
  const uint16_t leaf_count = Field16(node + kLeafCountAt, swap);
  if (!Range_Fits(kTreeNodeHeadSize, uint64_t{8} * leaf_count, node_block.size) ||
      !EntriesInTable(store, node, leaf_count, swap, h[kFlagsAt] != 1)) {
    return Fail(EINVAL);
  }
  // Everything checked: convert in place.
  if (swap) SwapOlderFields(h, node, leaf_count);
  tree.header = h;
  tree.node = node;
  tree.node_size = node_block.size;
  tree.entries = node + kTreeNodeHeadSize;
  tree.header_size = kTreeHeaderSize;
  return true;
}

bool OpenTree(BOMStore& store, int32_t header_index, BOMTree& tree, bool convert_older) {
  BOMTree_Close(tree);
  BOMBlock* header = BOMStore_Block(store, header_index);
  if (header == nullptr ||
      (header->size != kTreeHeaderSize && header->size != kTreeHeaderExtendedSize)) {
    return Fail(EINVAL);
  }
  uint8_t* h = header->data;
  // A tree still in file order reads its version 1 as 0x01000000.
  const bool swap = LoadU32Host(h + kVersionAt) > kHostVersionLimit;
  BOMBlock* root = BOMStore_Block(store, Field32(h + kChildAt, swap));
  if (root == nullptr || root == header || root->data == nullptr ||
      root->size < kTreeNodeHeadSize) {
    return Fail(EINVAL);
  }
  // Only a 21-byte header over a root that is a leaf is the older form.
  const bool older = header->size == kTreeHeaderSize && Field16(root->data + kIsLeafAt, swap) != 0;
  const bool ok = older && convert_older ? OpenOlder(store, h, *root, swap, tree)
                                         : OpenStored(store, static_cast<uint32_t>(header_index), h,
                                                      header->size, swap, tree);
  if (ok) tree.header_index = header_index;
  return ok;
}

}  // namespace

bool BOMTree_Create(BOMStore& store, int32_t header_index, const char* label, uint32_t node_size,
                    uint8_t flags) {
  if (header_index < 0 || header_index == INT32_MAX || node_size < kTreeNodeHeadSize) {
    return Fail(EINVAL);
  }
  uint8_t header[kTreeHeaderSize] = {};
  std::memcpy(header, "tree", 4);
  StoreU32Host(header + kVersionAt, 1);
  StoreU32Host(header + kChildAt, static_cast<uint32_t>(header_index) + 1);
  StoreU32Host(header + kNodeSizeAt, node_size);
  StoreU32Host(header + kPathCountAt, 0);
  header[kFlagsAt] = flags;
  auto* node = static_cast<uint8_t*>(Mem_AllocZeroed(node_size, 1));
  if (node == nullptr) return Fail(ENOMEM);
  StoreU16Host(node + kIsLeafAt, 1);
  const bool ok = BOMStore_WriteBlock(store, header_index, label, header, sizeof header) &&
                  BOMStore_WriteBlock(store, header_index + 1, nullptr, node, node_size);
  const int code = errno;
  Mem_Free(node);
  if (!ok) return Fail(code);
  store.blocks[header_index].kind = BlockKind::TreeHeader;
  store.blocks[header_index + 1].kind = BlockKind::TreeBase;
  return true;
}

bool BOMTree_Open(BOMStore& store, int32_t header_index, BOMTree& tree) {
  if (!OpenTree(store, header_index, tree, true)) return false;
  BOMTree_MarkBlocks(store, tree);
  return true;
}

bool BOMTree_OpenAsRead(BOMStore& store, int32_t header_index, BOMTree& tree) {
  return OpenTree(store, header_index, tree, false);
}

void BOMTree_Close(BOMTree& tree) {
  Mem_Free(tree.owned);
  tree = BOMTree{};
}

void BOMTree_MarkBlocks(BOMStore& store, const BOMTree& tree) {
  if (tree.header == nullptr) return;
  if (BOMBlock* header = BOMStore_Block(store, tree.header_index)) {
    header->kind = BlockKind::TreeHeader;
  }
  for (uint32_t n = 0; n < BOMTree_NodeCount(tree); ++n) {
    if (BOMBlock* node = BOMStore_Block(store, BOMTree_NodeIndex(tree, n))) {
      node->kind = BlockKind::TreeBase;
    }
  }
}

bool BOMTree_IsOlderForm(const BOMTree& tree) { return tree.header != nullptr && !tree.as_read; }

uint32_t BOMTree_EntryCount(const BOMTree& tree) {
  if (tree.header == nullptr) return 0;
  return tree.as_read ? tree.entry_count : LoadU16Host(tree.node + kLeafCountAt);
}

uint16_t BOMTree_Field16(const BOMTree& tree, const uint8_t* p) { return Field16(p, tree.swapped); }
uint32_t BOMTree_Field32(const BOMTree& tree, const uint8_t* p) { return Field32(p, tree.swapped); }

uint32_t BOMTree_NodeBlockSize(const BOMTree& tree) {
  return BOMTree_Field32(tree, tree.header + kNodeSizeAt);
}
uint32_t BOMTree_ChildIndex(const BOMTree& tree) {
  return BOMTree_Field32(tree, tree.header + kChildAt);
}
uint32_t BOMTree_PathCount(const BOMTree& tree) {
  return BOMTree_Field32(tree, tree.header + kPathCountAt);
}
uint8_t BOMTree_Flags(const BOMTree& tree) { return tree.header[kFlagsAt]; }

uint32_t BOMTree_InlineKeyLength(const BOMTree& tree) {
  if (tree.header_size != kTreeHeaderExtendedSize) return 0;
  return BOMTree_Field32(tree, tree.header + kInlineKeyLengthAt);
}

uint32_t BOMTree_NodeCount(const BOMTree& tree) {
  if (tree.header == nullptr) return 0;
  return tree.as_read ? tree.node_count : 1;
}

uint32_t BOMTree_NodeIndex(const BOMTree& tree, uint32_t i) {
  return tree.as_read ? tree.nodes[i] : BOMTree_ChildIndex(tree);
}

bool BOMTree_UsesBlock(const BOMTree& tree, uint64_t index) {
  if (tree.header == nullptr) return false;
  if (tree.header_index >= 0 && index == static_cast<uint64_t>(tree.header_index)) return true;
  if (!tree.as_read) return index == BOMTree_ChildIndex(tree);
  return index <= UINT32_MAX &&
         std::binary_search(tree.nodes, tree.nodes + tree.node_count, static_cast<uint32_t>(index));
}

BOMTreeEntry BOMTree_GetEntry(const BOMTree& tree, uint32_t i) {
  const uint8_t* p = tree.entries + 8 * uint64_t{i};
  return {LoadU32Host(p), LoadU32Host(p + 4)};
}

void BOMTree_SetEntry(BOMTree& tree, uint32_t i, BOMTreeEntry entry) {
  if (tree.as_read) return;
  uint8_t* p = tree.entries + 8 * uint64_t{i};
  StoreU32Host(p, entry.value);
  StoreU32Host(p + 4, entry.key);
}

bool BOMTree_HasRoom(const BOMTree& tree) {
  if (!BOMTree_IsOlderForm(tree)) return false;
  const uint64_t needed = (uint64_t{BOMTree_EntryCount(tree)} + 1) * 8;
  // The header's node size sets the capacity; the node block itself must
  // also hold the entry (a header may claim more than its node has).
  return needed + kTreeHeaderSize <= BOMTree_NodeBlockSize(tree) &&
         needed + kTreeNodeHeadSize <= tree.node_size && BOMTree_EntryCount(tree) < UINT16_MAX;
}

bool BOMTree_InsertEntry(BOMTree& tree, uint32_t position, uint32_t value, uint32_t key) {
  if (!BOMTree_IsOlderForm(tree)) return Fail(ENOTSUP);
  const uint32_t count = BOMTree_EntryCount(tree);
  if (position > count) return Fail(EINVAL);
  if (!BOMTree_HasRoom(tree)) return Fail(ENOSPC);
  uint8_t* at = tree.entries + 8 * uint64_t{position};
  std::memmove(at + 8, at, 8 * uint64_t{count - position});
  BOMTree_SetEntry(tree, position, {value, key});
  StoreU16Host(tree.node + kLeafCountAt, static_cast<uint16_t>(count + 1));
  StoreU32Host(tree.header + kPathCountAt, LoadU32Host(tree.header + kPathCountAt) + 1);
  return true;
}

void BOMTree_ToggleByteOrder(BOMTree& tree) {
  if (tree.header == nullptr || tree.node == nullptr || tree.node_size < kTreeNodeHeadSize ||
      tree.as_read) {
    return;
  }
  // The view knows which order the blocks are in: a version read from the
  // header cannot tell (0, for one, reads the same both ways).
  const uint16_t stored = LoadU16Host(tree.node + kLeafCountAt);
  const uint64_t count = tree.swapped ? Swapped16(stored) : stored;
  const uint64_t fits = (tree.node_size - kTreeNodeHeadSize) / 8;
  SwapOlderFields(tree.header, tree.node, count < fits ? count : fits);
  tree.swapped = !tree.swapped;
}

}  // namespace skarvel
