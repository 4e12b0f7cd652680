// Loading catalogs of many facets and renditions: the RENDITIONS and
// FACETKEYS trees are branch roots over chained leaves, as real catalogs
// with thousands of renditions have them. Matching renditions to facets is
// indexed by facet id, so the load time should grow about linearly.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/bytes.h"
#include "bom/bom_store.h"
#include "catalog/assets_catalog.h"

namespace skarvel {
namespace {

using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
void PutBE16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void PutLE32(Bytes& b, uint32_t v) {
  for (int s = 0; s < 32; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
}
void PutLE16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

constexpr uint32_t kNodeSize = 4096;
constexpr uint32_t kPerLeaf = 256;

struct Writer {
  BOMStore store;
  uint32_t next = 1;

  uint32_t Add(const Bytes& data, const char* label = nullptr) {
    const uint32_t index = next++;
    if (!BOMStore_WriteBlock(store, static_cast<int32_t>(index), label, data.data(), data.size())) {
      std::abort();
    }
    return index;
  }
};

Bytes TreeHeader(uint32_t root, uint32_t paths) {
  Bytes b = {'t', 'r', 'e', 'e'};
  PutBE32(b, 1);
  PutBE32(b, root);
  PutBE32(b, kNodeSize);
  PutBE32(b, paths);
  b.push_back(0);
  return b;
}

// Writes a tree over `entries` (value, key): a branch root at `root` over
// leaves of kPerLeaf entries written at the end.
void WriteTree(Writer& w, uint32_t root,
               const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  const uint32_t leaves = static_cast<uint32_t>((entries.size() + kPerLeaf - 1) / kPerLeaf);
  const uint32_t first_leaf = w.next;
  Bytes branch;
  PutBE16(branch, 0);
  PutBE16(branch, static_cast<uint16_t>(leaves - 1));
  PutBE32(branch, 0);
  PutBE32(branch, 0);
  for (uint32_t j = 0; j < leaves; ++j) {
    const size_t from = j * size_t{kPerLeaf};
    const size_t to = std::min(entries.size(), from + kPerLeaf);
    Bytes leaf;
    PutBE16(leaf, 1);
    PutBE16(leaf, static_cast<uint16_t>(to - from));
    PutBE32(leaf, j + 1 < leaves ? first_leaf + j + 1 : 0);
    PutBE32(leaf, j > 0 ? first_leaf + j - 1 : 0);
    for (size_t i = from; i < to; ++i) {
      PutBE32(leaf, entries[i].first);
      PutBE32(leaf, entries[i].second);
    }
    leaf.resize(kNodeSize);
    w.Add(leaf);
    PutBE32(branch, first_leaf + j);
    PutBE32(branch, j + 1 < leaves ? entries[to - 1].second : 0);
  }
  branch.resize(kNodeSize);
  if (!BOMStore_WriteBlock(w.store, static_cast<int32_t>(root), nullptr, branch.data(),
                           branch.size())) {
    std::abort();
  }
}

// A catalog of `facets` facets with `per_facet` renditions each.
Bytes CatalogFile(uint32_t facets, uint32_t per_facet) {
  Writer w;
  Bytes header(436, 0);
  std::memcpy(header.data(), "RATC", 4);
  w.Add(header, "CARHEADER");
  const uint32_t renditions_header = w.next++;
  const uint32_t renditions_root = w.next++;
  const uint32_t facets_header = w.next++;
  const uint32_t facets_root = w.next++;
  Bytes key_format = {'t', 'm', 'f', 'k'};
  PutLE32(key_format, 0);
  PutLE32(key_format, 3);
  for (uint32_t a : {12u, 17u, 2u}) PutLE32(key_format, a);
  w.Add(key_format, "KEYFORMAT");

  std::vector<std::pair<uint32_t, uint32_t>> facet_entries, rendition_entries;
  for (uint32_t f = 0; f < facets; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "facet%08u", f);
    const uint32_t key = w.Add(Bytes(name, name + std::strlen(name)));
    Bytes value;
    PutLE32(value, 0);
    PutLE16(value, 2);
    for (uint16_t v : {uint16_t{2}, uint16_t{220}, uint16_t{17}, static_cast<uint16_t>(f + 1)}) {
      PutLE16(value, v);
    }
    facet_entries.push_back({w.Add(value), key});
  }
  for (uint32_t f = 0; f < facets; ++f) {
    for (uint32_t r = 0; r < per_facet; ++r) {
      Bytes key;
      PutLE16(key, static_cast<uint16_t>(r));
      PutLE16(key, static_cast<uint16_t>(f + 1));
      PutLE16(key, 220);
      const uint32_t key_index = w.Add(key);
      rendition_entries.push_back({w.Add(Bytes(184, 0)), key_index});
    }
  }
  auto header_block = [&](uint32_t index, uint32_t root, uint32_t paths, const char* label) {
    const Bytes h = TreeHeader(root, paths);
    if (!BOMStore_WriteBlock(w.store, static_cast<int32_t>(index), label, h.data(), h.size())) {
      std::abort();
    }
  };
  header_block(renditions_header, renditions_root, static_cast<uint32_t>(rendition_entries.size()),
               "RENDITIONS");
  header_block(facets_header, facets_root, facets, "FACETKEYS");
  WriteTree(w, renditions_root, rendition_entries);
  WriteTree(w, facets_root, facet_entries);
  Buffer image;
  if (!BOMStore_WriteToBuffer(w.store, image, "bench.car")) std::abort();
  return Bytes(image.data, image.data + image.size);
}

void BM_LoadCatalog(benchmark::State& state) {
  const auto facets = static_cast<uint32_t>(state.range(0));
  const Bytes file = CatalogFile(facets, 4);
  for (auto _ : state) {
    AssetsCatalog catalog;
    if (!AssetsCatalog_LoadFromBytes(catalog, file, "bench.car")) {
      state.SkipWithError("the catalog did not load");
      break;
    }
    benchmark::DoNotOptimize(catalog.facets);
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_LoadCatalog)->RangeMultiplier(4)->Range(256, 16384)->Complexity();

}  // namespace
}  // namespace skarvel

BENCHMARK_MAIN();
