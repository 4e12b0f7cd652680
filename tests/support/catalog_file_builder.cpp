#include "tests/support/catalog_file_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace skarvel::test {

AttributePairs FacetPairs(uint16_t element, uint16_t part, uint16_t id) {
  return {{1, element}, {2, part}, {17, id}};
}

Bytes FacetValueBytes(const AttributePairs& pairs) {
  Bytes b;
  AppendU32LE(b, 0);
  AppendU16LE(b, static_cast<uint16_t>(pairs.size()));
  for (const auto& [attribute, value] : pairs) {
    AppendU16LE(b, attribute);
    AppendU16LE(b, value);
  }
  return b;
}

Bytes KeyInFormat(const std::vector<uint32_t>& format, const AttributePairs& values) {
  Bytes b;
  for (uint32_t attribute : format) {
    uint16_t v = 0;
    for (const auto& [a, value] : values) {
      if (a == attribute) v = value;
    }
    AppendU16LE(b, v);
  }
  return b;
}

Bytes DefaultKey(const AttributePairs& values) {
  return KeyInFormat({kDefaultKeyAttributes.begin(), kDefaultKeyAttributes.end()}, values);
}

Bytes BitmapKeyBytes(const std::vector<uint32_t>& masks) {
  Bytes b;
  AppendU32LE(b, 1);
  AppendU32LE(b, 0);
  AppendU32LE(b, static_cast<uint32_t>(4 + 4 * masks.size()));
  AppendU32LE(b, static_cast<uint32_t>(masks.size()));
  for (uint32_t m : masks) AppendU32LE(b, m);
  return b;
}

Bytes KeyFormatBytes(const std::vector<uint32_t>& attributes) {
  Bytes b;
  AppendText(b, "tmfk");
  AppendU32LE(b, 0);
  AppendU32LE(b, static_cast<uint32_t>(attributes.size()));
  for (uint32_t a : attributes) AppendU32LE(b, a);
  return b;
}

Bytes TreeHeaderBytes(uint32_t child, uint32_t node_size, uint32_t path_count, uint8_t flags) {
  Bytes b;
  AppendText(b, "tree");
  AppendU32BE(b, 1);
  AppendU32BE(b, child);
  AppendU32BE(b, node_size);
  AppendU32BE(b, path_count);
  AppendU8(b, flags);
  return b;
}

Bytes TreeNodeBytes(uint32_t node_size, const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                    bool is_leaf) {
  Bytes b;
  AppendU16BE(b, is_leaf ? 1 : 0);
  AppendU16BE(b, static_cast<uint16_t>(entries.size()));
  AppendU32BE(b, 0);
  AppendU32BE(b, 0);
  for (const auto& [value, key] : entries) {
    AppendU32BE(b, value);
    AppendU32BE(b, key);
  }
  if (b.size() > node_size) {
    ADD_FAILURE() << entries.size() << " entries do not fit a node of " << node_size << " bytes";
  } else {
    AppendZeros(b, node_size - b.size());
  }
  return b;
}

Bytes TreeHeader29Bytes(uint32_t child, uint32_t node_size, uint32_t path_count, uint8_t flags,
                        uint32_t inline_key_length) {
  Bytes b = TreeHeaderBytes(child, node_size, path_count, flags);
  AppendU32BE(b, inline_key_length);
  AppendU32BE(b, 0);
  return b;
}

Bytes BranchNodeBytes(uint32_t node_size, const std::vector<uint32_t>& children,
                      const std::vector<uint32_t>& separators) {
  Bytes b;
  AppendU16BE(b, 0);
  AppendU16BE(b, static_cast<uint16_t>(separators.size()));
  AppendU32BE(b, 0);
  AppendU32BE(b, 0);
  for (size_t i = 0; i < children.size(); ++i) {
    AppendU32BE(b, children[i]);
    AppendU32BE(b, i < separators.size() ? separators[i] : 0);
  }
  if (b.size() > node_size) {
    ADD_FAILURE() << children.size() << " children do not fit a node of " << node_size << " bytes";
  } else {
    AppendZeros(b, node_size - b.size());
  }
  return b;
}

Bytes LeafNodeBytes(uint32_t node_size, const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                    uint32_t forward, uint32_t backward, const std::vector<Bytes>& key_copies) {
  Bytes b = TreeNodeBytes(node_size, entries);
  b = Patched(b, Patches({PutU32BE(4, forward), PutU32BE(8, backward)}));
  if (key_copies.empty()) return b;
  // The copies start right after the entries and 4 zero bytes.
  size_t at = 12 + 8 * entries.size() + 4;
  for (const Bytes& copy : key_copies) {
    b.resize(b.size() + copy.size());
    if (at + copy.size() <= b.size()) std::copy(copy.begin(), copy.end(), b.begin() + long(at));
    at += copy.size();
  }
  return b;
}

namespace {

using Entries = std::vector<std::pair<uint32_t, uint32_t>>;

// The blocks of one tree: its header, then either a single leaf or a branch
// root whose leaves go to `leaf_indices`. `keys` are the key blocks' bytes
// (for copies); separators are the last key of each leaf but the last.
struct TreeBlocks {
  Bytes header;
  Bytes root;
  std::vector<Bytes> leaves;
};

TreeBlocks BuildTree(const CatalogTreeShape& shape, uint32_t node_index, uint32_t node_size,
                     uint8_t flags, const Entries& entries, const std::vector<Bytes>& keys,
                     const std::vector<uint32_t>& leaf_indices) {
  TreeBlocks t;
  const auto count = static_cast<uint32_t>(entries.size());
  t.header = shape.header_size == 29
                 ? TreeHeader29Bytes(node_index, node_size, count, flags, shape.inline_key_length)
                 : TreeHeaderBytes(node_index, node_size, count, flags);
  const bool copies = shape.header_size == 29 && shape.inline_key_length != 0 &&
                      shape.inline_key_length != 0xFFFFFFFF && keys.size() == entries.size();
  auto leaf = [&](size_t from, size_t to, uint32_t forward, uint32_t backward) {
    const Entries part(entries.begin() + long(from), entries.begin() + long(to));
    std::vector<Bytes> part_keys;
    if (copies) part_keys.assign(keys.begin() + long(from), keys.begin() + long(to));
    return LeafNodeBytes(node_size, part, forward, backward, part_keys);
  };
  if (shape.leaves <= 1) {
    t.root = leaf(0, entries.size(), 0, 0);
    return t;
  }
  std::vector<uint32_t> separators;
  const size_t n = shape.leaves;
  for (size_t j = 0; j < n; ++j) {
    const size_t from = j * entries.size() / n;
    const size_t to = (j + 1) * entries.size() / n;
    const uint32_t forward = j + 1 < n ? leaf_indices[j + 1] : 0;
    const uint32_t backward = j > 0 ? leaf_indices[j - 1] : 0;
    t.leaves.push_back(leaf(from, to, forward, backward));
    if (j + 1 < n) separators.push_back(to > 0 ? entries[to - 1].second : 0);
  }
  t.root = BranchNodeBytes(node_size, leaf_indices, separators);
  return t;
}

}  // namespace

Bytes CarHeaderBytes(const CatalogFileSpec& recipe) {
  Bytes b;
  AppendText(b, "RATC");
  AppendU32LE(b, recipe.coreui_version);
  AppendU32LE(b, recipe.storage_version);
  AppendU32LE(b, recipe.storage_timestamp);
  AppendU32LE(b, recipe.rendition_count >= 0 ? static_cast<uint32_t>(recipe.rendition_count)
                                             : static_cast<uint32_t>(recipe.renditions.size()));
  AppendField(b, recipe.coreui_id, 128);
  AppendField(b, recipe.interface_builder_id, 256);
  b.insert(b.end(), recipe.uuid.begin(), recipe.uuid.end());
  AppendU32LE(b, recipe.checksum);
  AppendU32LE(b, recipe.schema_version);
  AppendU32LE(b, recipe.colorspace_id);
  AppendU32LE(b, recipe.key_semantics);
  return b;
}

Bytes MetadataBytes(const CatalogFileSpec& recipe) {
  Bytes b;
  AppendText(b, "META");
  AppendField(b, recipe.author, 256);
  AppendField(b, recipe.xcode_version, 256);
  AppendField(b, recipe.platform, 256);
  AppendField(b, recipe.coretheme_id, 256);
  return b;
}

Bytes BuildCatalogFile(const CatalogFileSpec& recipe, CatalogFileLayout* layout) {
  CatalogFileLayout l;
  StoreFileSpec store;
  uint32_t next = 1;
  auto add = [&](Bytes data, std::string label = "") {
    const uint32_t index = next++;
    store.blocks.push_back({index, std::move(data), std::move(label)});
    return index;
  };

  std::vector<CatalogBitmapKey> bitmaps = recipe.bitmap_keys;
  if (recipe.bitmap_keys_from_facets) {
    bitmaps.clear();
    for (const CatalogFacet& f : recipe.facets) {
      uint32_t id = 0;
      for (const auto& [a, v] : f.pairs) {
        if (a == 17) id = v;
      }
      bitmaps.push_back({id, BitmapKeyBytes({kDefaultKeyMasks.begin(), kDefaultKeyMasks.end()})});
    }
  }

  // Indices are known before the contents: fix them first.
  l.header = 1;
  l.renditions_tree = 2;
  l.renditions_node = 3;
  l.facet_keys_tree = 4;
  l.facet_keys_node = 5;
  uint32_t at = 6;
  for (size_t i = 0; i < recipe.facets.size(); ++i) {
    l.facet_key.push_back(at++);
    l.facet_value.push_back(at++);
  }
  l.key_format = at++;
  for (size_t i = 0; i < recipe.renditions.size(); ++i) {
    l.rendition_key.push_back(at++);
    l.rendition_value.push_back(at++);
  }
  if (recipe.with_metadata) l.metadata = at++;
  if (recipe.with_bitmap_keys_tree) {
    l.bitmap_keys_tree = at++;
    l.bitmap_keys_node = at++;
    for (size_t i = 0; i < bitmaps.size(); ++i) l.bitmap_key.push_back(at++);
  }
  for (const CatalogExtraTree& t : recipe.extra_trees) {
    l.extra_tree.push_back(at++);
    l.extra_node.push_back(at++);
    l.extra_key.emplace_back();
    l.extra_value.emplace_back();
    for (size_t i = 0; i < t.entries.size(); ++i) {
      l.extra_key.back().push_back(at++);
      l.extra_value.back().push_back(at++);
    }
  }
  for (size_t i = 0; i < recipe.extra_blocks.size(); ++i) l.extra_block.push_back(at++);
  auto leaves = [&](const CatalogTreeShape& shape, std::vector<uint32_t>& out) {
    for (uint32_t j = 0; shape.leaves > 1 && j < shape.leaves; ++j) out.push_back(at++);
  };
  leaves(recipe.renditions_shape, l.renditions_leaves);
  leaves(recipe.facet_keys_shape, l.facet_keys_leaves);
  if (recipe.with_bitmap_keys_tree) leaves(recipe.bitmap_keys_shape, l.bitmap_keys_leaves);

  std::vector<std::pair<uint32_t, uint32_t>> rendition_entries, facet_entries, bitmap_entries;
  for (size_t i = 0; i < recipe.renditions.size(); ++i) {
    rendition_entries.push_back({l.rendition_value[i], l.rendition_key[i]});
  }
  for (size_t i = 0; i < recipe.facets.size(); ++i) {
    facet_entries.push_back({l.facet_value[i], l.facet_key[i]});
  }
  for (size_t i = 0; i < l.bitmap_key.size(); ++i) {
    bitmap_entries.push_back({l.bitmap_key[i], bitmaps[i].id});
  }

  std::vector<Bytes> rendition_keys, facet_keys, bitmap_ids;
  for (const CatalogRendition& r : recipe.renditions) rendition_keys.push_back(r.key);
  for (const CatalogFacet& f : recipe.facets) facet_keys.push_back(BytesOf(f.name));
  const TreeBlocks renditions =
      BuildTree(recipe.renditions_shape, l.renditions_node, recipe.renditions_node_size, 0,
                rendition_entries, rendition_keys, l.renditions_leaves);
  const TreeBlocks facet_tree =
      BuildTree(recipe.facet_keys_shape, l.facet_keys_node, recipe.facet_keys_node_size, 0,
                facet_entries, facet_keys, l.facet_keys_leaves);
  const TreeBlocks bitmap_tree =
      BuildTree(recipe.bitmap_keys_shape, l.bitmap_keys_node, recipe.bitmap_keys_node_size, 1,
                bitmap_entries, bitmap_ids, l.bitmap_keys_leaves);

  add(CarHeaderBytes(recipe), "CARHEADER");
  add(renditions.header, "RENDITIONS");
  add(renditions.root);
  add(facet_tree.header, "FACETKEYS");
  add(facet_tree.root);
  for (const CatalogFacet& f : recipe.facets) {
    add(BytesOf(f.name));
    add(FacetValueBytes(f.pairs));
  }
  add(KeyFormatBytes(recipe.key_format), "KEYFORMAT");
  for (const CatalogRendition& r : recipe.renditions) {
    add(r.key);
    add(r.value);
  }
  if (recipe.with_metadata) add(MetadataBytes(recipe), "EXTENDED_METADATA");
  if (recipe.with_bitmap_keys_tree) {
    add(bitmap_tree.header, "BITMAPKEYS");
    add(bitmap_tree.root);
    for (const CatalogBitmapKey& b : bitmaps) add(b.value);
  }
  for (size_t t = 0; t < recipe.extra_trees.size(); ++t) {
    const CatalogExtraTree& tree = recipe.extra_trees[t];
    Entries entries;
    std::vector<Bytes> keys;
    for (size_t i = 0; i < tree.entries.size(); ++i) {
      entries.push_back({l.extra_value[t][i], l.extra_key[t][i]});
      keys.push_back(tree.entries[i].first);
    }
    CatalogTreeShape single = tree.shape;
    single.leaves = 1;  // extra trees are written as one leaf
    const TreeBlocks blocks =
        BuildTree(single, l.extra_node[t], tree.node_size, 0, entries, keys, {});
    add(blocks.header, tree.label);
    add(blocks.root);
    for (const auto& [key, value] : tree.entries) {
      add(key);
      add(value);
    }
  }
  for (const CatalogExtraBlock& b : recipe.extra_blocks) add(b.data, b.label);
  for (const TreeBlocks* tree : {&renditions, &facet_tree, &bitmap_tree}) {
    for (const Bytes& leaf : tree->leaves) add(leaf);
  }
  store.count = recipe.table_count ? recipe.table_count : next;
  if (store.count < next) ADD_FAILURE() << "table_count " << recipe.table_count << " < " << next;
  Bytes file = BuildStoreFile(store, &l.store);
  if (layout != nullptr) *layout = std::move(l);
  return file;
}

}  // namespace skarvel::test
