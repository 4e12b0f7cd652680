// Runs a fuzz target over files, without libFuzzer: each argument is a file
// or a directory of files (not descended into further). Every input is copied
// into a heap block of exactly its size, so that a read past its end is
// caught by the sanitizers. Fails when an argument cannot be read or no input
// was found.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "replay: cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  // malloc(0) may return null; keep one real byte-sized block instead.
  uint8_t* exact = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
  if (exact == nullptr) return false;
  if (!bytes.empty()) std::memcpy(exact, bytes.data(), bytes.size());
  LLVMFuzzerTestOneInput(exact, bytes.size());
  std::free(exact);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    struct stat st;
    if (stat(arg.c_str(), &st) != 0) {
      std::fprintf(stderr, "replay: cannot read %s\n", arg.c_str());
      return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
      if (!RunFile(arg)) return 1;
      ++count;
      continue;
    }
    DIR* dir = opendir(arg.c_str());
    if (dir == nullptr) {
      std::fprintf(stderr, "replay: cannot open directory %s\n", arg.c_str());
      return 1;
    }
    std::vector<std::string> names;
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      names.push_back(arg + "/" + name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& path : names) {
      if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (!RunFile(path)) return 1;
      ++count;
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 1;
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
