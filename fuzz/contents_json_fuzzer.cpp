// App icon set descriptions: the input is written as the Contents.json of a
// set (beside a small PNG and BMP it may name) in a sandbox directory and the
// set is compiled into a new catalog. Whatever the description says, the
// compile must come back to the directory it started in, leave at most the
// set's facet, and store either every rendition of the sequence or stop
// short; its catalog must still save and load.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalog/catalog_builder.h"
#include "compiler/app_icon_set.h"
#include "fuzz/fuzz_sandbox.h"
#include "image/image.h"
#include "image/image_file.h"

namespace {

std::string g_sandbox;

bool MakeSandbox() {
  g_sandbox = skarvel::fuzz::MakeSandbox("json");
  if (g_sandbox.empty()) return false;
  const std::string set = g_sandbox + "/F.appiconset";
  if (mkdir(set.c_str(), 0700) != 0) return false;
  skarvel::Image icon;
  if (!skarvel::Image_CreateBlank("BGRA", 6, 4, icon)) return false;
  for (uint64_t i = 0; i < icon.pixels.size; ++i)
    icon.pixels.data[i] = static_cast<uint8_t>(i * 37);
  return skarvel::Image_WriteFile((set + "/a.png").c_str(), "BGRA", icon.pixels.bytes(), 6, 4,
                                  icon.stride) &&
         skarvel::Image_WriteFile((set + "/b.bmp").c_str(), "BGRA", icon.pixels.bytes(), 6, 4,
                                  icon.stride);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace skarvel;
  static const bool ready = MakeSandbox();
  char previous[4096];
  if (!ready || getcwd(previous, sizeof previous) == nullptr || chdir(g_sandbox.c_str()) != 0) {
    __builtin_trap();
  }
  FILE* f = std::fopen("F.appiconset/Contents.json", "wb");
  if (f == nullptr) __builtin_trap();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);

  AssetsCatalog catalog;
  if (!AssetsCatalog_CreateNew(catalog, "ios")) __builtin_trap();
  char name[] = "F.appiconset";
  const bool compiled = AssetsCatalog_CompileAppIconSet(catalog, name, false);

  char here[4096];
  if (getcwd(here, sizeof here) == nullptr || g_sandbox != here) __builtin_trap();
  if (catalog.facet_count > 1) __builtin_trap();
  const uint32_t renditions = Get(catalog.header->rendition_count);
  if (compiled ? renditions != 35 : renditions >= 35) __builtin_trap();
  if (catalog.facet_count == 1 &&
      static_cast<uint32_t>(catalog.facets[0].rendition_count) > renditions) {
    __builtin_trap();
  }
  if (!AssetsCatalog_Save(catalog, "out.car")) __builtin_trap();
  AssetsCatalog loaded;
  if (!AssetsCatalog_Load(loaded, "out.car")) __builtin_trap();
  if (loaded.facet_count != catalog.facet_count) __builtin_trap();
  // Back where the fuzzer was started, so that relative corpus paths still read.
  if (chdir(previous) != 0) __builtin_trap();
  return 0;
}
