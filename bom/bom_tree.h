#pragma once
// BOM trees: a header block naming a root node block; the nodes list (value,
// key) pairs. Trees are big-endian in the file.
//
// Two shapes are told apart when a tree is opened:
// - the older form (a 21-byte header over a root that is itself the only
//   leaf) is converted in place to host order, can take new entries, and is
//   converted back only while a store is written;
// - every other tree (a 29-byte header, a root that is a branch over chained
//   leaves) is read as it is stored and never changed: its entries are copied,
//   in order and in host order, into an array the view owns, so its blocks
//   are written back byte for byte. Such a tree takes no new entries.
//
// Readers walk any tree the same way:
//   for (uint32_t i = 0; i < BOMTree_EntryCount(tree); ++i) {
//     const BOMTreeEntry e = BOMTree_GetEntry(tree, i);  // value, key
//   }

#include <cstdint>

#include "bom/bom_store.h"

namespace skarvel {

inline constexpr uint64_t kTreeHeaderSize = 21;
// The newer header: the older fields, then the inline key length and a
// reserved word (both big-endian in the file).
inline constexpr uint64_t kTreeHeaderExtendedSize = 29;
inline constexpr uint64_t kTreeNodeHeadSize = 12;
// Inline key length of a tree whose keys differ in length (no key copies).
inline constexpr uint32_t kTreeKeysOfVaryingLength = 0xFFFFFFFF;
// Deepest branch nesting accepted below the root (real catalogs use 1).
inline constexpr uint32_t kTreeMaxDepth = 8;

// One entry, value first (host order while the tree is open).
struct BOMTreeEntry {
  uint32_t value = 0;
  uint32_t key = 0;
};

// A view into the blocks of a store. For a tree in the older form it owns
// nothing and points into the blocks; a tree read as stored also owns the
// copy of its entries and its node list (`owned`), released by BOMTree_Close
// (the catalog does this for its trees). Any call that replaces or moves the
// tree's blocks makes the view stale: open the tree again.
struct BOMTree {
  int32_t header_index = -1;   // the header block's index
  uint8_t* header = nullptr;   // tree header block data (21 or 29 bytes)
  uint8_t* node = nullptr;     // root node block data
  uint64_t node_size = 0;      // size of the root node block in the store
  uint8_t* entries = nullptr;  // (value, key) pairs in host order
  uint64_t header_size = 0;    // 21 or 29
  bool as_read = false;        // not in the older form, or opened with BOMTree_OpenAsRead
  bool swapped = false;        // the blocks' fields are not in host order (as read, or
                               // an older-form tree between the toggles of a save)
  uint32_t entry_count = 0;    // as_read: number of entries
  uint32_t node_count = 0;     // as_read: number of node blocks
  uint32_t* nodes = nullptr;   // as_read: node block indices, ascending, in `owned`
  uint8_t* owned = nullptr;    // as_read: the entries, then the node indices
};

// Creates an empty tree in the older form: header (with `label`) at
// `header_index`, node of `node_size` bytes at header_index + 1, both in host
// order.
[[nodiscard]] bool BOMTree_Create(BOMStore& store, int32_t header_index, const char* label,
                                  uint32_t node_size, uint8_t flags);
// Opens the tree whose header is at `header_index` (-1 allowed) and marks its
// header and node blocks TreeHeader and TreeBase. A tree in the older form is
// converted to host order when it is still in file order; any other tree is
// read as stored. `tree` is overwritten (its previous arrays released), so it
// must be a fresh, closed or previously opened view, never a copy. EINVAL when
// the header is missing or malformed, a node block is missing, shared, too
// short for its entries or children, the branches nest deeper than
// kTreeMaxDepth, the leaf chain disagrees with the branches (a cycle, a
// missing or extra leaf), or an entry names a block outside the table;
// ENOMEM. A refused tree leaves the store unchanged.
[[nodiscard]] bool BOMTree_Open(BOMStore& store, int32_t header_index, BOMTree& tree);
// The same checks, but the tree is always read as stored (never converted,
// even in the older form) and no block kind is set.
[[nodiscard]] bool BOMTree_OpenAsRead(BOMStore& store, int32_t header_index, BOMTree& tree);
// Releases what the view owns and clears it. Safe on a fresh or closed view.
void BOMTree_Close(BOMTree& tree);
// Marks the header TreeHeader and every node TreeBase.
void BOMTree_MarkBlocks(BOMStore& store, const BOMTree& tree);

// Inserts (value, key) at `position` (0 to the entry count) of a tree in the
// older form. ENOSPC when full, EINVAL for a position past the end, ENOTSUP
// for a tree read as stored.
[[nodiscard]] bool BOMTree_InsertEntry(BOMTree& tree, uint32_t position, uint32_t value,
                                       uint32_t key);
// Host order <-> file order, in place, for a tree in the older form. Applying
// it twice restores the bytes; in between, BOMTree_Field16/32 read the fields
// in file order. A tree read as stored is left as it is.
void BOMTree_ToggleByteOrder(BOMTree& tree);

// True for an open tree in the older form (converted, able to grow).
[[nodiscard]] bool BOMTree_IsOlderForm(const BOMTree& tree);
// Number of entries of the whole tree, in key order.
uint32_t BOMTree_EntryCount(const BOMTree& tree);
// Entry i (i below the entry count).
BOMTreeEntry BOMTree_GetEntry(const BOMTree& tree, uint32_t i);
// Replaces entry i of a tree in the older form (a tree read as stored is
// never changed).
void BOMTree_SetEntry(BOMTree& tree, uint32_t i, BOMTreeEntry entry);
// True while one more entry fits a tree in the older form: (entry count + 1)
// * 8 + 21 <= node block size. Always false for a tree read as stored.
[[nodiscard]] bool BOMTree_HasRoom(const BOMTree& tree);

// Header fields, whatever the order the tree is kept in.
uint32_t BOMTree_NodeBlockSize(const BOMTree& tree);  // the header's field
uint32_t BOMTree_ChildIndex(const BOMTree& tree);     // the root node's block index
uint32_t BOMTree_PathCount(const BOMTree& tree);
uint8_t BOMTree_Flags(const BOMTree& tree);
// The inline key length of a 29-byte header (0 for a 21-byte one): 0 or
// kTreeKeysOfVaryingLength (no key copies), or the length of every key, whose
// copies follow the entries of each leaf.
uint32_t BOMTree_InlineKeyLength(const BOMTree& tree);
// Node blocks: 1 for the older form, every node (branches and leaves) of a
// tree read as stored, by ascending block index.
uint32_t BOMTree_NodeCount(const BOMTree& tree);
uint32_t BOMTree_NodeIndex(const BOMTree& tree, uint32_t i);
// True when block `index` is the tree's header or one of its nodes.
[[nodiscard]] bool BOMTree_UsesBlock(const BOMTree& tree, uint64_t index);
// Reads a 16/32-bit field of one of the tree's blocks (header or node) in the
// order the tree is kept in.
uint16_t BOMTree_Field16(const BOMTree& tree, const uint8_t* p);
uint32_t BOMTree_Field32(const BOMTree& tree, const uint8_t* p);

}  // namespace skarvel
