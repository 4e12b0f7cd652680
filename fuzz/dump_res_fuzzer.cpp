// Resource extraction and the dump listing of a fuzzed catalog, run in a
// directory of their own: every file they write must land directly in that
// directory, never beside it or below it. The files are removed after each
// input.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "base/file_system.h"
#include "catalog/assets_catalog.h"
#include "fuzz/fuzz_sandbox.h"
#include "inspect/dump_commands.h"

namespace {

// <root>/work is where the commands run; nothing else may appear in <root>.
struct Sandbox {
  std::string root;
  std::string work;
};

const Sandbox& GetSandbox() {
  static const Sandbox sandbox = [] {
    const std::string& root = skarvel::fuzz::MakeSandbox("dump");
    if (root.empty()) std::abort();
    Sandbox s{root, root + "/work"};
    if (mkdir(s.work.c_str(), 0700) != 0) std::abort();
    return s;
  }();
  return sandbox;
}

// Calls `visit` for every entry of `dir` except "." and "..".
template <typename Visit>
void ForEachEntry(const std::string& dir, Visit visit) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) std::abort();
  while (const dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) visit(e->d_name);
  }
  closedir(d);
}

// Everything written is a plain file directly in the work directory, and the
// work directory is all the root holds. Removes the files.
void CheckAndEmpty(const Sandbox& s) {
  ForEachEntry(s.root, [&](const char* name) {
    if (std::strcmp(name, "work") != 0) {
      std::fprintf(stderr, "dump_res fuzzer: %s written outside the work directory\n", name);
      __builtin_trap();
    }
  });
  ForEachEntry(s.work, [&](const char* name) {
    const std::string path = s.work + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "dump_res fuzzer: %s is not a plain file\n", name);
      __builtin_trap();
    }
    unlink(path.c_str());
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace skarvel;
  const Sandbox& sandbox = GetSandbox();
  char previous[4096];
  if (getcwd(previous, sizeof previous) == nullptr || chdir(sandbox.work.c_str()) != 0) {
    std::abort();
  }
  // The status cache would otherwise keep every name of every input.
  FileStatusCache_ResetForTesting();
  AssetsCatalog catalog;
  if (AssetsCatalog_LoadFromBytes(catalog, std::span<const uint8_t>(data, size), "fuzz.car")) {
    FILE* null = std::fopen("/dev/null", "w");
    if (null == nullptr) std::abort();
    DumpRes_Extract(null, null, catalog, "fuzz.car");
    Dump_Print(null, null, catalog, "../fuzz.car", true);
    std::fclose(null);
  }
  CheckAndEmpty(sandbox);
  if (chdir(previous) != 0) std::abort();
  return 0;
}
