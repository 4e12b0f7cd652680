#pragma once
// Builds asset catalogs in the older form, byte by byte and independent of
// the catalog code: CARHEADER, a key format, EXTENDED_METADATA and the
// RENDITIONS, FACETKEYS and BITMAPKEYS trees as single-node big-endian trees.
// Blocks are laid out in the order the catalog writer keeps:
//
//   1 CARHEADER, 2/3 RENDITIONS header/node, 4/5 FACETKEYS header/node,
//   facet key/value pairs, KEYFORMAT, rendition key/value pairs,
//   EXTENDED_METADATA, BITMAPKEYS header/node, bitmap keys
//
// Entries go into the trees in the order given (the builder never sorts).
//
//   CatalogFileSpec recipe;
//   recipe.facets = {{"AppIcon", FacetPairs(0, 220, 1)}};
//   recipe.renditions = {{DefaultKey({{17, 1}, {12, 2}}), csi_record_bytes}};
//   CatalogFileLayout layout;
//   Bytes file = BuildCatalogFile(recipe, &layout);
//   // break the first rendition key's length in the block table:
//   Bytes bad = Patched(file, PutU32BE(layout.store.BlockLengthAt(layout.rendition_key[0]), 3));

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/byte_patch.h"
#include "tests/support/store_file_builder.h"

namespace skarvel::test {

// The 17 attributes of the default key format, in key order, and the default
// bitmap-key masks.
inline constexpr std::array<uint32_t, 17> kDefaultKeyAttributes = {
    12, 15, 16, 25, 23, 22, 24, 4, 20, 21, 17, 1, 2, 10, 6, 8, 9};
inline constexpr std::array<uint32_t, 17> kDefaultKeyMasks = {2, 1, 1, 1, 1, 1, 1, 1, 1,
                                                              1, 0, 0, 0, 1, 0, 1, 1};

using AttributePairs = std::vector<std::pair<uint16_t, uint16_t>>;  // (attribute, value)

// The pairs a new facet carries: (1, element), (2, part), (17, id).
AttributePairs FacetPairs(uint16_t element, uint16_t part, uint16_t id);
// A facet value block: reserved 0, pair count, pairs (little-endian).
Bytes FacetValueBytes(const AttributePairs& pairs);
// A rendition key in `format` (default: the 17-attribute format): one
// little-endian u16 per position, 0 for attributes not given.
Bytes DefaultKey(const AttributePairs& values);
Bytes KeyInFormat(const std::vector<uint32_t>& format, const AttributePairs& values);
// A bitmap key: version 1, reserved 0, mask table length 4 + 4n, count n, masks.
Bytes BitmapKeyBytes(const std::vector<uint32_t>& masks);
// A key format block: "tmfk", reserved 0, count, attributes.
Bytes KeyFormatBytes(const std::vector<uint32_t>& attributes);

// Tree blocks in file (big-endian) order.
Bytes TreeHeaderBytes(uint32_t child, uint32_t node_size, uint32_t path_count, uint8_t flags);
// Node of exactly `node_size` bytes (at least 12 + 8 × entries) holding
// (value, key) pairs; is-root-tree 1 unless `is_leaf` is false.
Bytes TreeNodeBytes(uint32_t node_size, const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                    bool is_leaf = true);

// Bytes of the newer 29-byte tree header (file order).
Bytes TreeHeader29Bytes(uint32_t child, uint32_t node_size, uint32_t path_count, uint8_t flags,
                        uint32_t inline_key_length);
// A branch node of exactly `node_size` bytes (file order): count n =
// separators, n + 1 (child, separator) slots, the last separator 0.
Bytes BranchNodeBytes(uint32_t node_size, const std::vector<uint32_t>& children,
                      const std::vector<uint32_t>& separators);
// A leaf in file order with its forward and backward links and, when
// `key_copies` is not empty, the newer inline key copies: 4 zero bytes after
// the entries, then every copy; the block is node_size + copies' bytes long.
Bytes LeafNodeBytes(uint32_t node_size, const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                    uint32_t forward, uint32_t backward, const std::vector<Bytes>& key_copies = {});

// How a tree of the catalog is written. The default is the older form.
struct CatalogTreeShape {
  uint32_t header_size = 21;       // 21, or 29 for the newer header
  uint32_t inline_key_length = 0;  // 29-byte header: 0, 0xFFFFFFFF, or the length of every
                                   // key (leaves then carry copies of their keys)
  uint32_t leaves = 1;  // above 1: a branch root (at the usual node index) over that many
                        // chained leaves, written after every other block
};

// A labelled tree beyond the main three, or a labelled plain block.
struct CatalogExtraTree {
  std::string label;
  std::vector<std::pair<Bytes, Bytes>> entries;  // (key block, value block), in order
  CatalogTreeShape shape;
  uint32_t node_size = 4096;
};
struct CatalogExtraBlock {
  std::string label;
  Bytes data;
};

struct CatalogFacet {
  std::string name;      // the facet key block's bytes
  AttributePairs pairs;  // the facet value's pairs
};

struct CatalogRendition {
  Bytes key;    // the rendition key block
  Bytes value;  // the rendition value block (a CSI record, or anything)
};

struct CatalogBitmapKey {
  uint32_t id = 0;  // the BITMAPKEYS entry's key (a facet id)
  Bytes value;
};

struct CatalogFileSpec {
  std::vector<uint32_t> key_format{kDefaultKeyAttributes.begin(), kDefaultKeyAttributes.end()};
  std::vector<CatalogFacet> facets;
  std::vector<CatalogRendition> renditions;
  // BITMAPKEYS entries; by default one per facet (its attribute 17, default
  // masks), in facet order.
  bool bitmap_keys_from_facets = true;
  std::vector<CatalogBitmapKey> bitmap_keys;
  bool with_bitmap_keys_tree = true;  // false: no BITMAPKEYS blocks at all
  bool with_metadata = true;          // false: no EXTENDED_METADATA block
  CatalogTreeShape renditions_shape, facet_keys_shape, bitmap_keys_shape;
  // Written after the BITMAPKEYS blocks: each tree's header, node, then its
  // key and value blocks; then the plain blocks.
  std::vector<CatalogExtraTree> extra_trees;
  std::vector<CatalogExtraBlock> extra_blocks;

  // CARHEADER fields (little-endian in the block).
  uint32_t coreui_version = 493;
  uint32_t storage_version = 14;
  uint32_t storage_timestamp = 0;
  int64_t rendition_count = -1;  // -1: the number of renditions
  std::string coreui_id = "@(#)PROGRAM:CoreUI  PROJECT:CoreUI-493.4\n";
  std::string interface_builder_id = "IBCocoaTouchImageCatalogTool-9.3.1";
  std::array<uint8_t, 16> uuid{};
  uint32_t checksum = 0;
  uint32_t schema_version = 2;
  uint32_t colorspace_id = 1;
  uint32_t key_semantics = 2;

  // EXTENDED_METADATA texts.
  std::string author;
  std::string xcode_version = "11.3";
  std::string platform = "ios";
  std::string coretheme_id = "@(#)PROGRAM:CoreThemeDefinition  PROJECT:CoreThemeDefinition-339.7\n";

  uint32_t renditions_node_size = 4096;
  uint32_t facet_keys_node_size = 4096;
  uint32_t bitmap_keys_node_size = 1024;
  uint32_t table_count = 512;  // 0: just enough
};

// Block indices of everything (use layout.store for file offsets).
struct CatalogFileLayout {
  StoreFileLayout store;
  uint32_t header = 0, renditions_tree = 0, renditions_node = 0, facet_keys_tree = 0,
           facet_keys_node = 0, key_format = 0, metadata = 0, bitmap_keys_tree = 0,
           bitmap_keys_node = 0;
  std::vector<uint32_t> facet_key, facet_value, rendition_key, rendition_value, bitmap_key;
  // Leaves of the main trees written with more than one leaf (in order).
  std::vector<uint32_t> renditions_leaves, facet_keys_leaves, bitmap_keys_leaves;
  // Per extra tree: header, node, key and value blocks; per extra block.
  std::vector<uint32_t> extra_tree, extra_node, extra_block;
  std::vector<std::vector<uint32_t>> extra_key, extra_value;

  // File offset of block `index`'s data.
  size_t DataAt(uint32_t index) const { return store.DataAt(index); }
};

// The CARHEADER (436 bytes) and EXTENDED_METADATA (1028 bytes) of a recipe.
Bytes CarHeaderBytes(const CatalogFileSpec& recipe);
Bytes MetadataBytes(const CatalogFileSpec& recipe);

Bytes BuildCatalogFile(const CatalogFileSpec& recipe, CatalogFileLayout* layout = nullptr);

}  // namespace skarvel::test
