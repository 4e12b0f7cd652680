#include "tests/support/catalog_file_builder.h"

#include <gtest/gtest.h>

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

Bytes CarHeaderBytes(const CatalogFileSpec& spec) {
  Bytes b;
  AppendText(b, "RATC");
  AppendU32LE(b, spec.coreui_version);
  AppendU32LE(b, spec.storage_version);
  AppendU32LE(b, spec.storage_timestamp);
  AppendU32LE(b, spec.rendition_count >= 0 ? static_cast<uint32_t>(spec.rendition_count)
                                           : static_cast<uint32_t>(spec.renditions.size()));
  AppendField(b, spec.coreui_id, 128);
  AppendField(b, spec.interface_builder_id, 256);
  b.insert(b.end(), spec.uuid.begin(), spec.uuid.end());
  AppendU32LE(b, spec.checksum);
  AppendU32LE(b, spec.schema_version);
  AppendU32LE(b, spec.colorspace_id);
  AppendU32LE(b, spec.key_semantics);
  return b;
}

Bytes MetadataBytes(const CatalogFileSpec& spec) {
  Bytes b;
  AppendText(b, "META");
  AppendField(b, spec.author, 256);
  AppendField(b, spec.xcode_version, 256);
  AppendField(b, spec.platform, 256);
  AppendField(b, spec.coretheme_id, 256);
  return b;
}

Bytes BuildCatalogFile(const CatalogFileSpec& spec, CatalogFileLayout* layout) {
  CatalogFileLayout l;
  StoreFileSpec store;
  uint32_t next = 1;
  auto add = [&](Bytes data, std::string label = "") {
    const uint32_t index = next++;
    store.blocks.push_back({index, std::move(data), std::move(label)});
    return index;
  };

  std::vector<CatalogBitmapKey> bitmaps = spec.bitmap_keys;
  if (spec.bitmap_keys_from_facets) {
    bitmaps.clear();
    for (const CatalogFacet& f : spec.facets) {
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
  for (size_t i = 0; i < spec.facets.size(); ++i) {
    l.facet_key.push_back(at++);
    l.facet_value.push_back(at++);
  }
  l.key_format = at++;
  for (size_t i = 0; i < spec.renditions.size(); ++i) {
    l.rendition_key.push_back(at++);
    l.rendition_value.push_back(at++);
  }
  l.metadata = at++;
  if (spec.with_bitmap_keys_tree) {
    l.bitmap_keys_tree = at++;
    l.bitmap_keys_node = at++;
    for (size_t i = 0; i < bitmaps.size(); ++i) l.bitmap_key.push_back(at++);
  }

  std::vector<std::pair<uint32_t, uint32_t>> rendition_entries, facet_entries, bitmap_entries;
  for (size_t i = 0; i < spec.renditions.size(); ++i) {
    rendition_entries.push_back({l.rendition_value[i], l.rendition_key[i]});
  }
  for (size_t i = 0; i < spec.facets.size(); ++i) {
    facet_entries.push_back({l.facet_value[i], l.facet_key[i]});
  }
  for (size_t i = 0; i < l.bitmap_key.size(); ++i) {
    bitmap_entries.push_back({l.bitmap_key[i], bitmaps[i].id});
  }

  add(CarHeaderBytes(spec), "CARHEADER");
  add(TreeHeaderBytes(l.renditions_node, spec.renditions_node_size,
                      static_cast<uint32_t>(rendition_entries.size()), 0),
      "RENDITIONS");
  add(TreeNodeBytes(spec.renditions_node_size, rendition_entries));
  add(TreeHeaderBytes(l.facet_keys_node, spec.facet_keys_node_size,
                      static_cast<uint32_t>(facet_entries.size()), 0),
      "FACETKEYS");
  add(TreeNodeBytes(spec.facet_keys_node_size, facet_entries));
  for (const CatalogFacet& f : spec.facets) {
    add(BytesOf(f.name));
    add(FacetValueBytes(f.pairs));
  }
  add(KeyFormatBytes(spec.key_format), "KEYFORMAT");
  for (const CatalogRendition& r : spec.renditions) {
    add(r.key);
    add(r.value);
  }
  add(MetadataBytes(spec), "EXTENDED_METADATA");
  if (spec.with_bitmap_keys_tree) {
    add(TreeHeaderBytes(l.bitmap_keys_node, spec.bitmap_keys_node_size,
                        static_cast<uint32_t>(bitmap_entries.size()), 1),
        "BITMAPKEYS");
    add(TreeNodeBytes(spec.bitmap_keys_node_size, bitmap_entries));
    for (const CatalogBitmapKey& b : bitmaps) add(b.value);
  }
  store.count = spec.table_count ? spec.table_count : next;
  if (store.count < next) ADD_FAILURE() << "table_count " << spec.table_count << " < " << next;
  Bytes file = BuildStoreFile(store, &l.store);
  if (layout != nullptr) *layout = std::move(l);
  return file;
}

}  // namespace skarvel::test
