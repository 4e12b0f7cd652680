// -compile-add into a fuzzed catalog: a small app icon set is compiled into
// whatever loaded, in a sandbox directory, and the catalog is saved. Whatever
// the catalog held, the compile comes back to its directory, the save
// succeeds (or is refused with a code) and a saved catalog loads again.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "base/file_system.h"
#include "catalog/assets_catalog.h"
#include "catalog/catalog_builder.h"
#include "compiler/app_icon_set.h"
#include "fuzz/fuzz_sandbox.h"
#include "image/image.h"
#include "image/image_file.h"

namespace {

std::string g_sandbox;

// <sandbox>/F.appiconset: two iPhone notification icons of 20 and 40
// pixels; the rest of the sequence is left out.
bool MakeSandbox() {
  g_sandbox = skarvel::fuzz::MakeSandbox("add");
  if (g_sandbox.empty()) return false;
  const std::string set = g_sandbox + "/F.appiconset";
  if (mkdir(set.c_str(), 0700) != 0) return false;
  for (const int size : {20, 40}) {
    skarvel::Image icon;
    if (!skarvel::Image_CreateBlank("BGRA", size, size, icon)) return false;
    for (uint64_t i = 0; i < icon.pixels.size; ++i) {
      icon.pixels.data[i] = static_cast<uint8_t>(i * 13 + size);
    }
    const std::string path = set + "/i" + std::to_string(size) + ".png";
    if (!skarvel::Image_WriteFile(path.c_str(), "BGRA", icon.pixels.bytes(), size, size,
                                  icon.stride)) {
      return false;
    }
  }
  FILE* f = std::fopen((set + "/Contents.json").c_str(), "w");
  if (f == nullptr) return false;
  std::fputs(
      "{\"images\":[{\"size\":\"20x20\",\"idiom\":\"iphone\",\"filename\":\"i20.png\","
      "\"scale\":\"1x\"},{\"size\":\"20x20\",\"idiom\":\"iphone\",\"filename\":\"i40.png\","
      "\"scale\":\"2x\"}],\"info\":{\"version\":1,\"author\":\"xcode\"}}\n",
      f);
  return std::fclose(f) == 0;
}

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "compile_add fuzzer: %s\n", what);
  __builtin_trap();
}

void AddInSandbox(const uint8_t* data, size_t size) {
  using namespace skarvel;
  AssetsCatalog catalog;
  if (!AssetsCatalog_LoadFromBytes(catalog, std::span<const uint8_t>(data, size), "fuzz.car")) {
    return;
  }
  FILE* saved_err = stderr;
  FILE* null = std::fopen("/dev/null", "w");
  if (null == nullptr) __builtin_trap();
  stderr = null;
  char name[] = "F.appiconset";
  (void)AssetsCatalog_CompileAppIconSet(catalog, name, false);
  char here[4096];
  const bool returned = getcwd(here, sizeof here) != nullptr && g_sandbox == here;
  const bool saved = AssetsCatalog_Save(catalog, "out.car");
  const int code = errno;
  stderr = saved_err;
  std::fclose(null);
  if (!returned) Broken("the compile did not come back to its directory");
  if (!saved) {
    if (code == 0) Broken("a failed save without a code");
    return;
  }
  AssetsCatalog again;
  if (!AssetsCatalog_Load(again, "out.car")) Broken("the saved catalog does not load");
  unlink("out.car");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = MakeSandbox();
  char previous[4096];
  if (!ready || getcwd(previous, sizeof previous) == nullptr || chdir(g_sandbox.c_str()) != 0) {
    __builtin_trap();
  }
  skarvel::FileStatusCache_ResetForTesting();
  errno = 0;
  AddInSandbox(data, size);
  if (chdir(previous) != 0) __builtin_trap();
  return 0;
}
