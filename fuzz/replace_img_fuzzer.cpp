// -replace_img on a fuzzed catalog, in a sandbox directory: the replacement
// picture takes the size of the first rendition record of at most 128 x 128
// pixels, so that the fuzzed records are rebuilt. Whatever the catalog holds:
// every rendition record that changed decodes, a full replacement of a "BGRA" record
// decodes to the picture itself, and a catalog that was saved loads again.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "catalog/assets_catalog.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "csi/csi_replace.h"
#include "fuzz/fuzz_sandbox.h"
#include "image/image.h"
#include "image/image_file.h"

namespace {

std::string g_sandbox;

bool MakeSandbox() {
  g_sandbox = skarvel::fuzz::MakeSandbox("replace");
  return !g_sandbox.empty();
}

[[noreturn]] void Broken(const char* what, uint64_t index) {
  std::fprintf(stderr, "replace_img fuzzer: %s (block %llu)\n", what,
               static_cast<unsigned long long>(index));
  __builtin_trap();
}

// The replacement picture: a pattern with varied alpha.
std::vector<uint8_t> Picture(uint32_t width, uint32_t height) {
  std::vector<uint8_t> p(size_t{width} * height * 4);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 7 + i / 5);
  return p;
}

}  // namespace

namespace {

void ReplaceInSandbox(const uint8_t* data, size_t size) {
  using namespace skarvel;
  AssetsCatalog catalog;
  if (!AssetsCatalog_LoadFromBytes(catalog, std::span<const uint8_t>(data, size), "fuzz.car")) {
    return;
  }
  uint32_t width = 0;
  uint32_t height = 0;
  for (uint64_t i = 0; i < catalog.store.count && width == 0; ++i) {
    const CSIHeader* header = CSI_Header(catalog.store.blocks[i]);
    if (header == nullptr) continue;
    const uint32_t w = Get(header->width);
    const uint32_t h = Get(header->height);
    if (w >= 1 && h >= 1 && w <= 128 && h <= 128) {
      width = w;
      height = h;
    }
  }
  if (width == 0) return;
  const std::vector<uint8_t> picture = Picture(width, height);
  if (!Image_WriteFile("picture.png", "BGRA", picture, static_cast<int32_t>(width),
                       static_cast<int32_t>(height), static_cast<int32_t>(width * 4))) {
    __builtin_trap();
  }
  // A 1024 x 1024 picture would be made opaque; nothing here is that large.
  std::vector<std::vector<uint8_t>> before(catalog.store.count);
  for (uint64_t i = 0; i < catalog.store.count; ++i) {
    const std::span<const uint8_t> b = catalog.store.blocks[i].bytes();
    before[i].assign(b.begin(), b.end());
  }

  FILE* saved_out = stdout;
  FILE* saved_err = stderr;
  FILE* null = std::fopen("/dev/null", "w");
  if (null == nullptr) __builtin_trap();
  stdout = null;
  stderr = null;
  const int status = ReplaceImage_Run(catalog, "picture.png", "out.car");
  stdout = saved_out;
  stderr = saved_err;
  std::fclose(null);

  char here[4096];
  if (getcwd(here, sizeof here) == nullptr || g_sandbox != here) Broken("directory moved", 0);
  for (uint64_t i = 0; i < catalog.store.count && i < before.size(); ++i) {
    const BOMBlock& block = catalog.store.blocks[i];
    const std::span<const uint8_t> now = block.bytes();
    // Saving rewrites the header and the trees (whatever their bytes look
    // like); only rendition records matter here.
    if (block.kind != BlockKind::RenditionValue) continue;
    BOMBlock old;
    old.data = before[i].data();
    old.size = before[i].size();
    if (CSI_Header(old) == nullptr) continue;
    if (now.size() == before[i].size() &&
        std::memcmp(now.data(), before[i].data(), now.size()) == 0) {
      continue;
    }
    Image decoded;
    if (!CSI_DecodeImage(block, decoded)) Broken("a rebuilt record does not decode", i);
    if (std::memcmp(decoded.pixel_format, "BGRA", 4) != 0 ||
        decoded.width != static_cast<int32_t>(width) ||
        decoded.height != static_cast<int32_t>(height)) {
      continue;
    }
    for (uint32_t y = 0; y < height; ++y) {
      if (std::memcmp(decoded.pixels.data + uint64_t{static_cast<uint32_t>(decoded.stride)} * y,
                      picture.data() + uint64_t{width} * 4 * y, size_t{width} * 4) != 0) {
        Broken("a full replacement decodes to other pixels", i);
      }
    }
  }
  if (status == 0) {
    AssetsCatalog saved;
    if (!AssetsCatalog_Load(saved, "out.car")) Broken("the saved catalog does not load", 0);
  }
  unlink("out.car");
  unlink("picture.png");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = MakeSandbox();
  char previous[4096];
  if (!ready || getcwd(previous, sizeof previous) == nullptr || chdir(g_sandbox.c_str()) != 0) {
    __builtin_trap();
  }
  // The status cache would otherwise keep every name of every input.
  skarvel::FileStatusCache_ResetForTesting();
  ReplaceInSandbox(data, size);
  if (chdir(previous) != 0) __builtin_trap();
  return 0;
}
