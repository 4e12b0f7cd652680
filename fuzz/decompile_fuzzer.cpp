// The decompiler on a fuzzed catalog, run in a directory of its own: the
// output directory must be the only thing it creates there, nothing may
// appear beside that directory, and every entry below it must be a plain
// file or directory. The output is removed after each input.

#include <dirent.h>
#include <fcntl.h>
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

#include "base/file_system.h"
#include "catalog/assets_catalog.h"
#include "fuzz/fuzz_sandbox.h"
#include "decompiler/decompiler.h"

namespace {

constexpr char kOutput[] = "out.xcassets";

// <root>/work is where the decompiler runs; nothing else may appear in <root>.
struct Sandbox {
  std::string root;
  std::string work;
};

const Sandbox& GetSandbox() {
  static const Sandbox sandbox = [] {
    const std::string& root = skarvel::fuzz::MakeSandbox("decompile");
    if (root.empty()) std::abort();
    Sandbox s{root, root + "/work"};
    if (mkdir(s.work.c_str(), 0700) != 0) std::abort();
    return s;
  }();
  return sandbox;
}

[[noreturn]] void Trap(const char* what, const char* path) {
  std::fprintf(stderr, "decompile fuzzer: %s: %s\n", what, path);
  __builtin_trap();
}

// Only the work directory in the root, only the output directory in the
// work directory.
void CheckTopLevel(const std::string& dir, const char* allowed) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) std::abort();
  while (const dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (std::strcmp(e->d_name, allowed) != 0)
      Trap("written outside the output directory", e->d_name);
  }
  closedir(d);
}

int CheckAndRemove(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type != FTW_DP && type != FTW_F) Trap("neither a file nor a directory", path);
  if (type == FTW_F && !S_ISREG(st->st_mode)) Trap("not a plain file", path);
  return remove(path);
}

// Sends the standard streams to /dev/null while `run` runs.
template <typename Run>
void Quietly(Run run) {
  std::fflush(stdout);
  std::fflush(stderr);
  const int saved_out = dup(1);
  const int saved_err = dup(2);
  const int null = open("/dev/null", O_WRONLY);
  if (saved_out < 0 || saved_err < 0 || null < 0) std::abort();
  dup2(null, 1);
  dup2(null, 2);
  close(null);
  run();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(saved_out);
  close(saved_err);
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
    Quietly([&] { (void)AssetsCatalog_Decompile(catalog, "fuzz.car", kOutput); });
  }
  char now[4096];
  if (getcwd(now, sizeof now) == nullptr || sandbox.work != now)
    Trap("working directory moved", now);
  CheckTopLevel(sandbox.root, "work");
  CheckTopLevel(sandbox.work, kOutput);
  const std::string output = sandbox.work + "/" + kOutput;
  struct stat st;
  if (lstat(output.c_str(), &st) == 0) {
    if (nftw(output.c_str(), CheckAndRemove, 16, FTW_DEPTH | FTW_PHYS) != 0) std::abort();
  }
  if (chdir(previous) != 0) std::abort();
  return 0;
}
