// Writes seed inputs for the fuzz targets, made with the test builders and
// the rendition compressor: small but complete catalogs in the older and the
// newer tree shapes with pictures of every classic method, stores, and
// round-trip headers. Usage: fuzz_seed_corpus <directory>; each target's
// seeds land in <directory>/<target>/.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "csi/csi_build.h"
#include "tests/support/byte_patch.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/store_file_builder.h"

namespace {

using skarvel::test::Bytes;
using skarvel::test::BytesOf;
using skarvel::test::CatalogFileSpec;
using skarvel::test::CatalogTreeShape;
using skarvel::test::CSIRecordBuilder;

std::string g_root;

bool Write(const char* target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_root + "/" + target;
  mkdir(dir.c_str(), 0755);
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

Bytes Pixels(uint32_t width, uint32_t height, uint32_t stride, uint8_t seed) {
  Bytes p(size_t{stride} * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < stride; ++x) {
      p[size_t{y} * stride + x] = static_cast<uint8_t>(seed + (x / 4) * 9 + y * 5 + x % 4);
    }
  }
  (void)width;
  return p;
}

// A picture record of `method` (0 to 4), compressed by the product's own
// compressor, chunked when `chunks` is above 0.
Bytes PictureRecord(const char* name, uint32_t method, uint32_t chunks, bool gray) {
  const uint32_t width = 6, height = 5, bpp = gray ? 2 : 4;
  const uint32_t stride = method == 0 ? width * bpp : width * bpp + 4;
  const Bytes pixels = Pixels(width, height, stride, static_cast<uint8_t>(method * 40));
  skarvel::Buffer data;
  if (!skarvel::CSI_CompressPixels(pixels, width, height, stride, bpp,
                                   static_cast<skarvel::CompressionMethod>(method), chunks,
                                   data)) {
    return {};
  }
  CSIRecordBuilder b;
  b.Size(width, height).Name(name).PixelFormat(gray ? " 8AG" : "BGRA").Layout(12);
  b.Slices({{0, 0, width, height}}).Metrics({{0, 0, 0, 0, width, height}});
  b.Composition(0, 1.0f).BytesPerLine(stride);
  const Bytes compressed(data.data, data.data + data.size);
  if (chunks == 0) {
    b.Element(method, compressed);
  } else {
    // The compressor's output already holds the chunk headers: set it as
    // the element data behind the chunk count.
    Bytes element = BytesOf("MLEC");
    skarvel::test::AppendU32LE(element, 0);
    skarvel::test::AppendU32LE(element, method);
    skarvel::test::AppendU32LE(element, chunks);
    element.insert(element.end(), compressed.begin(), compressed.end());
    b.Payload(element);
  }
  return b.Build();
}

// Three facets, six renditions: pictures of every classic method (one
// chunked, one gray), a raw data record and an icon with a hostile name.
CatalogFileSpec Pictures() {
  CatalogFileSpec recipe;
  recipe.table_count = 0;
  recipe.renditions_node_size = 512;
  recipe.facet_keys_node_size = 256;
  recipe.bitmap_keys_node_size = 128;
  recipe.facets = {{"AppIcon", skarvel::test::FacetPairs(85, 220, 1)},
                   {"Background", skarvel::test::FacetPairs(85, 181, 2)},
                   {"../Data", skarvel::test::FacetPairs(85, 181, 3)}};
  const struct {
    uint16_t id, scale;
    Bytes value;
  } renditions[] = {
      {1, 1, PictureRecord("AppIcon.png", 4, 0, false)},
      {1, 2, PictureRecord("AppIcon@2x.png", 3, 2, false)},
      {2, 1, PictureRecord("Background.png", 2, 0, false)},
      {2, 2, PictureRecord("Background@2x.png", 1, 3, true)},
      {2, 3, PictureRecord("Background@3x.png", 0, 0, false)},
      {3, 1, CSIRecordBuilder().Name("../../data.bin").Layout(1000).RawData(BytesOf("raw")).Build()},
  };
  for (const auto& r : renditions) {
    recipe.renditions.push_back({skarvel::test::DefaultKey({{12, r.scale}, {17, r.id}}), r.value});
  }
  return recipe;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_corpus <directory>\n");
    return 2;
  }
  g_root = argv[1];
  mkdir(g_root.c_str(), 0755);
  bool ok = true;

  struct Named {
    const char* name;
    CatalogFileSpec recipe;
  };
  std::vector<Named> catalogs;
  catalogs.push_back({"older-trees.car", Pictures()});
  {
    Named c{"29-byte-trees-key-copies.car", Pictures()};
    c.recipe.renditions_shape = CatalogTreeShape{29, 34, 1};
    c.recipe.facet_keys_shape = CatalogTreeShape{29, 0xFFFFFFFF, 1};
    c.recipe.bitmap_keys_shape = CatalogTreeShape{29, 0, 1};
    catalogs.push_back(c);
  }
  {
    Named c{"branch-over-leaves.car", Pictures()};
    c.recipe.renditions_shape.leaves = 3;
    c.recipe.facet_keys_shape.leaves = 2;
    catalogs.push_back(c);
  }
  {
    Named c{"other-trees.car", Pictures()};
    c.recipe.with_metadata = false;
    Bytes any(2, 0);
    c.recipe.extra_trees = {
        {"APPEARANCEKEYS", {{BytesOf("UIAppearanceAny"), any}}, CatalogTreeShape{}, 128},
        {"COLORS", {{Bytes(132, 0), Bytes(12, 0)}}, CatalogTreeShape{}, 128}};
    c.recipe.extra_blocks = {{"CARGLOBALS", BytesOf("bplist00")},
                             {"KEYFORMATWORKAROUND", Bytes(4 * 17, 0)}};
    catalogs.push_back(c);
  }
  for (const Named& c : catalogs) {
    const Bytes file = skarvel::test::BuildCatalogFile(c.recipe);
    for (const char* target :
         {"catalog_listing", "dump_res", "decompile", "bom_store", "replace_img", "compile_add"}) {
      ok = Write(target, c.name, file) && ok;
    }
  }
  // Trees with room for the renditions an added icon set brings.
  {
    CatalogFileSpec roomy = Pictures();
    roomy.renditions_node_size = 4096;
    roomy.facet_keys_node_size = 4096;
    roomy.bitmap_keys_node_size = 1024;
    roomy.table_count = 512;
    ok = Write("compile_add", "roomy-trees.car", skarvel::test::BuildCatalogFile(roomy)) && ok;
  }

  // Replacement regression: one uncompressed record whose bytes per line
  // is longer than its rows; -replace_img once rebuilt it into a record that
  // no longer decoded.
  {
    CatalogFileSpec recipe;
    recipe.table_count = 0;
    recipe.with_metadata = false;
    recipe.with_bitmap_keys_tree = false;
    recipe.renditions_node_size = 64;
    recipe.facet_keys_node_size = 64;
    recipe.facets = {{"G", skarvel::test::FacetPairs(85, 181, 1)}};
    Bytes rows(16 * 5);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 3);
    CSIRecordBuilder b;
    b.Size(6, 5).PixelFormat(" 8AG").BytesPerLine(16).Element(0, rows);
    recipe.renditions = {{skarvel::test::DefaultKey({{12, 1}, {17, 1}}), b.Build()}};
    ok = Write("replace_img", "regress-01-uncompressed-padded-rows-rebuilt-undecodable.car",
               skarvel::test::BuildCatalogFile(recipe)) &&
         ok;
  }

  skarvel::test::StoreFileSpec store;
  store.blocks = {{1, BytesOf("first"), "FIRST"}, {2, {}, "EMPTY"}, {4, Bytes(40, 7), ""}};
  store.extra_labels = {{9, "DANGLING"}, {1, "AGAIN"}};
  ok = Write("bom_store", "labels-and-gaps.bom", skarvel::test::BuildStoreFile(store)) && ok;

  // Round-trip headers: method, format, chunk count, width, height, padding.
  for (uint8_t method = 0; method < 5; ++method) {
    Bytes seed = {method, static_cast<uint8_t>(method & 1), static_cast<uint8_t>(method),
                  static_cast<uint8_t>(17 + method), 9, 3};
    for (int i = 0; i < 48; ++i) seed.push_back(static_cast<uint8_t>(i < 24 ? 0x40 : i * 7));
    ok = Write("csi_compress_round_trip", "method-" + std::to_string(method) + ".bin", seed) && ok;
  }
  if (!ok) std::fprintf(stderr, "fuzz_seed_corpus: cannot write every seed in %s\n", argv[1]);
  return ok ? 0 : 1;
}
