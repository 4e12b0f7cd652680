// Compiling the bundled example's app icon sets: the whole compile (new
// catalog, the set, save), and on their own the parts no compile can avoid:
// reading the pictures, resizing the icons a set lacks from its best picture,
// LZFSE-compressing the stored pictures (every packed asset and single
// rendition, with their chunk counts), and saving. Sets: "AppIcon" (every
// size given, 23 pictures) and "Single" (one 1024 x 1024 picture, every other
// size resized from it).

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/catalog_builder.h"
#include "compiler/app_icon_set.h"
#include "csi/csi_build.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "image/image_file.h"
#include "image/image_ops.h"

namespace skarvel {
namespace {

const char* const kSets[] = {"AppIcon", "Single"};

std::string ExampleDir() { return std::string(SKARVEL_SOURCE_DIR) + "/examples/Example.xcassets"; }

std::string SavePath() { return "/tmp/skarvel-compile-bench-" + std::to_string(getpid()) + ".car"; }

// Compiles one set of the example into `catalog`; false when it did not
// compile cleanly.
bool CompileSet(const char* set, AssetsCatalog& catalog) {
  if (!AssetsCatalog_CreateNew(catalog, "ios")) return false;
  const std::string here = ExampleDir();
  char previous[4096];
  if (getcwd(previous, sizeof previous) == nullptr || chdir(here.c_str()) != 0) return false;
  std::string name = std::string(set) + ".appiconset";
  const bool ok = AssetsCatalog_CompileAppIconSet(catalog, name.data(), false);
  return chdir(previous) == 0 && ok;
}

// The picture files of a set (its directory's PNG files).
std::vector<std::string> Pictures(const char* set) {
  std::vector<std::string> out;
  const std::string dir = ExampleDir() + "/" + set + ".appiconset";
  DIR* d = opendir(dir.c_str());
  while (d != nullptr) {
    const dirent* e = readdir(d);
    if (e == nullptr) break;
    const size_t n = std::strlen(e->d_name);
    if (n > 4 && std::strcmp(e->d_name + n - 4, ".png") == 0) out.push_back(dir + "/" + e->d_name);
  }
  if (d != nullptr) closedir(d);
  return out;
}

// What the compile of `set` stored: its pictures, with their chunk counts.
struct Stored {
  std::vector<Image> images;
  std::vector<uint32_t> chunks;
  size_t raw = 0;
};

const Stored& StoredPictures(const char* set) {
  static Stored stored[2];
  Stored& s = stored[std::strcmp(set, "AppIcon") == 0 ? 0 : 1];
  if (!s.images.empty()) return s;
  AssetsCatalog catalog;
  if (!CompileSet(set, catalog)) return s;
  for (uint64_t i = 0; i < catalog.store.count; ++i) {
    const BOMBlock& b = catalog.store.blocks[i];
    uint64_t p = 0, size = 0;
    if (b.kind != BlockKind::RenditionValue || !CSI_PayloadRange(b, p, size) || size < 16 ||
        std::memcmp(b.data + p, "MLEC", 4) != 0) {
      continue;
    }
    Image image;
    if (!CSI_DecodeImage(b, image)) continue;
    s.chunks.push_back(CSI_IsChunked(b, p) ? LoadU32LEAt(b.bytes(), p + 12) : 0);
    s.raw += image.pixels.size;
    s.images.push_back(std::move(image));
  }
  return s;
}

void BM_Compile(benchmark::State& state, const char* set) {
  const std::string path = SavePath();
  for (auto _ : state) {
    AssetsCatalog catalog;
    if (!CompileSet(set, catalog) || !AssetsCatalog_Save(catalog, path.c_str())) {
      state.SkipWithError("compile failed");
      break;
    }
  }
  std::remove(path.c_str());
}

void BM_ReadPictures(benchmark::State& state, const char* set) {
  const std::vector<std::string> files = Pictures(set);
  for (auto _ : state) {
    for (const std::string& f : files) {
      Image image;
      if (!Image_ReadFile(f.c_str(), "BGRA", image)) state.SkipWithError("read failed");
      benchmark::DoNotOptimize(image.pixels.data);
    }
  }
  state.counters["pictures"] = static_cast<double>(files.size());
}

// The icons a set has no picture for, drawn from its largest one: the pixel
// sizes of the sequence's icons, as many as the set lacks.
void BM_ResizeFallbacks(benchmark::State& state, const char* set) {
  // Every pack and single step's pixel size, in sequence order.
  static const int32_t kSizes[] = {29, 57,  40,  72, 76, 20, 29,  1024, 114, 120, 40, 58,
                                   80, 144, 152, 40, 58, 80, 167, 120,  180, 60,  87};
  const bool all_given = std::strcmp(set, "AppIcon") == 0;
  Image best;
  if (!Image_ReadFile((ExampleDir() + "/Single.appiconset/Icon-1024.png").c_str(), "BGRA", best)) {
    state.SkipWithError("no picture");
    return;
  }
  int resized = 0;
  for (auto _ : state) {
    resized = 0;
    if (all_given) continue;  // every icon has its own picture at its size
    for (int32_t size : kSizes) {
      if (size == 1024) continue;  // the App Store icon is the picture itself
      Image copy;
      if (!Buffer_Append(copy.pixels, best.pixels.data, best.pixels.size)) break;
      copy.width = best.width;
      copy.height = best.height;
      copy.stride = best.stride;
      if (!Image_Resize("BGRA", copy, size, size)) state.SkipWithError("resize failed");
      ++resized;
    }
  }
  state.counters["resized"] = resized;
}

void BM_Compress(benchmark::State& state, const char* set) {
  const Stored& stored = StoredPictures(set);
  if (stored.images.empty()) {
    state.SkipWithError("compile failed");
    return;
  }
  size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (size_t i = 0; i < stored.images.size(); ++i) {
      const Image& image = stored.images[i];
      Buffer out;
      if (!CSI_CompressPixels(image.pixels.bytes(), static_cast<uint32_t>(image.width),
                              static_cast<uint32_t>(image.height),
                              static_cast<uint32_t>(image.stride), 4, CompressionMethod::LZFSE,
                              stored.chunks[i], out)) {
        state.SkipWithError("compression failed");
      }
      compressed += out.size;
    }
  }
  state.counters["pictures"] = static_cast<double>(stored.images.size());
  state.counters["ratio"] = static_cast<double>(stored.raw) / static_cast<double>(compressed);
}

void BM_Save(benchmark::State& state, const char* set) {
  AssetsCatalog catalog;
  if (!CompileSet(set, catalog)) {
    state.SkipWithError("compile failed");
    return;
  }
  const std::string path = SavePath();
  for (auto _ : state) {
    if (!AssetsCatalog_Save(catalog, path.c_str())) state.SkipWithError("save failed");
  }
  std::remove(path.c_str());
}

void RegisterAll() {
  for (const char* set : kSets) {
    benchmark::RegisterBenchmark((std::string("Compile/") + set).c_str(), BM_Compile, set)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Part/ReadPictures/") + set).c_str(), BM_ReadPictures,
                                 set)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Part/ResizeFallbacks/") + set).c_str(),
                                 BM_ResizeFallbacks, set)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Part/Compress/") + set).c_str(), BM_Compress, set)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Part/Save/") + set).c_str(), BM_Save, set)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace skarvel

int main(int argc, char** argv) {
  skarvel::RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
