#include "bom/bom_tree.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/bytes.h"
#include "tests/support/byte_patch.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/capture.h"
#include "tests/support/store_file_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using Entries = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr int32_t kHeader = 2;
constexpr uint32_t kNode = 3;

// A store with a big-endian tree at blocks 2 (header) and 3 (node), and
// blocks 4 to 9 holding one byte each for the entries to name.
test::StoreFileSpec TreeSpec(const Entries& entries, uint32_t node_size = 4096, uint8_t flags = 0) {
  test::StoreFileSpec spec;
  spec.blocks.push_back(
      {2, test::TreeHeaderBytes(kNode, node_size, uint32_t(entries.size()), flags), "TREE"});
  spec.blocks.push_back({kNode, test::TreeNodeBytes(node_size, entries), ""});
  for (uint32_t i = 4; i <= 9; ++i) spec.blocks.push_back({i, Bytes{uint8_t(i)}, ""});
  spec.count = 10;
  return spec;
}

void Load(BOMStore& store, const Bytes& file) {
  test::CaptureStream quiet(2);
  ASSERT_TRUE(BOMStore_ReadFromBytes(store, file, "tree.car"));
}

Bytes BlockBytes(const BOMStore& store, uint32_t i) {
  const BOMBlock& b = store.blocks[i];
  return Bytes(b.data, b.data + b.size);
}

Entries EntriesOf(const BOMTree& tree) {
  Entries out;
  for (uint32_t i = 0; i < BOMTree_LeafCount(tree); ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(tree, i);
    out.push_back({e.value, e.key});
  }
  return out;
}

TEST(BOMTree, OpenConvertsFileOrderOnceAndMarksKinds) {
  const Entries entries = {{5, 4}, {7, 6}};
  BOMStore store;
  Load(store, test::BuildStoreFile(TreeSpec(entries)));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), entries);
  EXPECT_EQ(BOMTree_ChildIndex(tree), kNode);
  EXPECT_EQ(BOMTree_NodeBlockSize(tree), 4096u);
  EXPECT_EQ(BOMTree_Flags(tree), 0);
  EXPECT_EQ(LoadU32Host(tree.header + 4), 1u);
  EXPECT_EQ(LoadU32Host(tree.header + 16), 2u);  // path count
  EXPECT_EQ(LoadU16Host(tree.node), 1u);         // is root tree
  EXPECT_EQ(store.blocks[kHeader].kind, BlockKind::TreeHeader);
  EXPECT_EQ(store.blocks[kNode].kind, BlockKind::TreeBase);
  EXPECT_EQ(store.blocks[4].kind, BlockKind::None);
  EXPECT_EQ(tree.node_size, 4096u);
  EXPECT_EQ(tree.entries, tree.node + 12);

  // Opening again changes nothing.
  const Bytes header = BlockBytes(store, kHeader);
  const Bytes node = BlockBytes(store, kNode);
  BOMTree again;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, again));
  EXPECT_EQ(BlockBytes(store, kHeader), header);
  EXPECT_EQ(BlockBytes(store, kNode), node);
  EXPECT_EQ(EntriesOf(again), entries);
}

TEST(BOMTree, HostOrderTreeIsUsedAsItIs) {
  // Version bytes 01 00 00 00: already in (little-endian) host order.
  Bytes header = test::Patched(
      Bytes(21, 0), test::Patches({test::PutText(0, "tree"), test::PutU32LE(4, 1),
                                   test::PutU32LE(8, kNode), test::PutU32LE(12, 64),
                                   test::PutU32LE(16, 1)}));
  Bytes node(64, 0);
  node = test::Patched(node, test::Patches({test::PutU16LE(0, 1), test::PutU16LE(2, 1),
                                            test::PutU32LE(12, 9), test::PutU32LE(16, 8)}));
  test::StoreFileSpec spec;
  spec.blocks = {{2, header, "TREE"}, {kNode, node, ""}};
  spec.count = 10;
  BOMStore store;
  Load(store, test::BuildStoreFile(spec));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), (Entries{{9, 8}}));
  EXPECT_EQ(BlockBytes(store, kHeader), header);
  EXPECT_EQ(BlockBytes(store, kNode), node);
}

TEST(BOMTree, MalformedTreesAreRefusedUntouched) {
  test::StoreFileLayout l;
  const Bytes good = test::BuildStoreFile(TreeSpec({{5, 4}, {7, 6}}), &l);
  const size_t h = l.DataAt(kHeader);
  const size_t n = l.DataAt(kNode);
  struct BadTree {
    const char* name;
    test::Patch patch;
    int32_t index;
  };
  const BadTree kBadTrees[] = {
      {"no header", test::NoPatch(), -1},
      {"header index past the table", test::NoPatch(), 10},
      {"header of 20 bytes", test::PutU32BE(l.BlockLengthAt(kHeader), 20), kHeader},
      {"header of 29 bytes", test::PutU32BE(l.BlockLengthAt(kHeader), 29), kHeader},
      {"child outside the table", test::PutU32BE(h + 8, 10), kHeader},
      {"child is an empty block", test::PutU32BE(h + 8, 1), kHeader},
      {"child is the header itself", test::PutU32BE(h + 8, kHeader), kHeader},
      {"node shorter than its entries",
       test::Patches({test::PutU32BE(l.BlockLengthAt(kNode), 27)}), kHeader},
      {"node shorter than its head", test::PutU32BE(l.BlockLengthAt(kNode), 11), kHeader},
      {"leaf count beyond the node", test::PutU16BE(n + 2, 600), kHeader},
      {"root is a branch", test::PutU16BE(n, 0), kHeader},
      {"entry value outside the table", test::PutU32BE(n + 12 + 8, 10), kHeader},
      {"entry key outside the table", test::PutU32BE(n + 16, 0xFFFFFFFF), kHeader},
  };
  for (const BadTree& c : kBadTrees) {
    SCOPED_TRACE(c.name);
    BOMStore store;
    Load(store, test::Patched(good, c.patch));
    Bytes before[10];
    for (uint32_t i = 0; i < 10; ++i) before[i] = BlockBytes(store, i);
    BOMTree tree;
    errno = 0;
    test::CaptureStream capture(2);
    EXPECT_FALSE(BOMTree_Open(store, c.index, tree));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(capture.Finish(), "");
    for (uint32_t i = 0; i < 10; ++i) {
      EXPECT_EQ(BlockBytes(store, i), before[i]) << "block " << i;
      EXPECT_EQ(store.blocks[i].kind, BlockKind::None) << "block " << i;
    }
  }
  // With flags 1 the keys are numbers, not block indices.
  BOMStore store;
  Load(store, test::BuildStoreFile(TreeSpec({{5, 70000}}, 1024, 1)));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), (Entries{{5, 70000}}));
}

TEST(BOMTree, CreateInsertAndCapacity) {
  struct Case {
    uint32_t node_size;
    uint32_t capacity;
  };
  for (const Case& c : {Case{4096, 509}, Case{1024, 125}}) {
    SCOPED_TRACE(c.node_size);
    BOMStore store;
    ASSERT_TRUE(BOMTree_Create(store, 4, "NEW", c.node_size, 0));
    EXPECT_EQ(store.count, 512u);
    EXPECT_EQ(store.blocks[4].size, 21u);
    EXPECT_EQ(store.blocks[5].size, c.node_size);
    EXPECT_EQ(BOMStore_FindBlockByLabel(store, "NEW"), 4);
    BOMTree tree;
    ASSERT_TRUE(BOMTree_Open(store, 4, tree));
    EXPECT_EQ(BOMTree_ChildIndex(tree), 5u);
    EXPECT_EQ(BOMTree_LeafCount(tree), 0);
    for (uint32_t i = 0; i < c.capacity; ++i) {
      ASSERT_TRUE(BOMTree_HasRoom(tree));
      ASSERT_TRUE(BOMTree_InsertEntry(tree, i, i, i));
    }
    EXPECT_FALSE(BOMTree_HasRoom(tree));
    errno = 0;
    EXPECT_FALSE(BOMTree_InsertEntry(tree, 0, 1, 1));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(BOMTree_LeafCount(tree), c.capacity);
    EXPECT_EQ(LoadU32Host(tree.header + 16), c.capacity);
    EXPECT_EQ(BOMTree_GetEntry(tree, 0).value, 0u);
  }
}

TEST(BOMTree, InsertMovesLaterEntriesUp) {
  BOMStore store;
  ASSERT_TRUE(BOMTree_Create(store, 2, "T", 4096, 0));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, 2, tree));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 0, 10, 11));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 1, 12, 13));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 0, 20, 21));
  EXPECT_EQ(EntriesOf(tree), (Entries{{20, 21}, {10, 11}, {12, 13}}));
  EXPECT_EQ(LoadU32Host(tree.header + 16), 3u);
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 2, 30, 31));
  EXPECT_EQ(EntriesOf(tree), (Entries{{20, 21}, {10, 11}, {30, 31}, {12, 13}}));
  errno = 0;
  EXPECT_FALSE(BOMTree_InsertEntry(tree, 5, 1, 1));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(BOMTree_LeafCount(tree), 4);
}

TEST(BOMTree, CapacityAlsoFollowsTheNodeBlock) {
  // A header that claims 4096 bytes over a 28-byte node holds two entries.
  test::StoreFileLayout l;
  const Bytes file = test::BuildStoreFile(TreeSpec({{5, 4}}, 4096), &l);
  BOMStore store;
  Load(store, test::Patched(file, test::PutU32BE(l.BlockLengthAt(kNode), 28)));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 1, 7, 6));
  EXPECT_FALSE(BOMTree_InsertEntry(tree, 2, 9, 8));
  EXPECT_EQ(errno, ENOSPC);
}

TEST(BOMTree, ToggleGivesTheFileBytesAndBack) {
  for (uint32_t count : {2u, 300u}) {
    SCOPED_TRACE(count);
    Entries entries;
    for (uint32_t i = 0; i < count; ++i) entries.push_back({4 + i % 6, 4 + (i * 7) % 6});
    const test::StoreFileSpec spec = TreeSpec(entries);
    BOMStore store;
    Load(store, test::BuildStoreFile(spec));
    BOMTree tree;
    ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
    const Bytes host_header = BlockBytes(store, kHeader);
    const Bytes host_node = BlockBytes(store, kNode);
    BOMTree_ToggleByteOrder(tree);
    EXPECT_EQ(BlockBytes(store, kHeader), spec.blocks[0].data);
    EXPECT_EQ(BlockBytes(store, kNode), spec.blocks[1].data);
    BOMTree_ToggleByteOrder(tree);
    EXPECT_EQ(BlockBytes(store, kHeader), host_header);
    EXPECT_EQ(BlockBytes(store, kNode), host_node);
  }
}

}  // namespace
}  // namespace skarvel
