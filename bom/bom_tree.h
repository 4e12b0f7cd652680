#pragma once
// BOM trees: a 21-byte header block naming a node block that lists (value,
// key) pairs. Trees are big-endian in the file and converted in place to host
// order when opened; they are converted back only while a store is written.

#include <cstdint>

#include "bom/bom_store.h"

namespace skarvel {

inline constexpr uint64_t kTreeHeaderSize = 21;
inline constexpr uint64_t kTreeNodeHeadSize = 12;

// One entry, value first (host order while the tree is open).
struct BOMTreeEntry {
  uint32_t value = 0;
  uint32_t key = 0;
};

// A view into two blocks of a store; owns nothing. Any call that replaces or
// moves those blocks makes it stale: open the tree again.
struct BOMTree {
  uint8_t* header = nullptr;   // tree header block data (21 bytes)
  uint8_t* node = nullptr;     // node block data
  uint64_t node_size = 0;      // size of the node block in the store
  uint8_t* entries = nullptr;  // node + 12
};

// Creates an empty tree: header (with `label`) at `header_index`, node of
// `node_size` bytes at header_index + 1, both in host order.
[[nodiscard]] bool BOMTree_Create(BOMStore& store, int32_t header_index, const char* label,
                                  uint32_t node_size, uint8_t flags);
// Opens the tree whose header is at `header_index` (-1 allowed), converting it
// to host order when it is still in file order. EINVAL when the header is
// missing or malformed, the node block is missing or too short for its leaf
// count, or an entry names a block outside the table.
[[nodiscard]] bool BOMTree_Open(BOMStore& store, int32_t header_index, BOMTree& tree);
// Inserts (value, key) at `position` (0 to leaf count). ENOSPC when full.
[[nodiscard]] bool BOMTree_InsertEntry(BOMTree& tree, uint32_t position, uint32_t value,
                                       uint32_t key);
// Host order <-> file order, in place. Applying it twice restores the bytes.
void BOMTree_ToggleByteOrder(BOMTree& tree);

// Host-order field access on an open tree.
uint16_t BOMTree_LeafCount(const BOMTree& tree);
uint32_t BOMTree_NodeBlockSize(const BOMTree& tree);  // the header's field
uint32_t BOMTree_ChildIndex(const BOMTree& tree);
uint8_t BOMTree_Flags(const BOMTree& tree);
BOMTreeEntry BOMTree_GetEntry(const BOMTree& tree, uint32_t i);
void BOMTree_SetEntry(BOMTree& tree, uint32_t i, BOMTreeEntry entry);
// True while one more entry fits: (leaf count + 1) * 8 + 21 <= node block size.
bool BOMTree_HasRoom(const BOMTree& tree);

}  // namespace skarvel
