#pragma once
// The directory a file-writing fuzz target works in: made once per process
// under $TMPDIR (or /tmp) as skarvel-fuzz-<tag>-XXXXXX, and removed with
// everything in it when the process ends normally. A crash leaves it behind
// for a look at what the input wrote.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace skarvel::fuzz {

inline std::string& SandboxPath() {
  static std::string path;
  return path;
}

inline int RemoveSandboxEntry(const char* path, const struct stat*, int, struct FTW*) {
  return std::remove(path);
}

inline void RemoveSandbox() {
  if (chdir("/") == 0) nftw(SandboxPath().c_str(), RemoveSandboxEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// Makes the sandbox and returns its path, or "" when it cannot be made.
// The path outlives the removal registered here, which runs first at exit.
inline const std::string& MakeSandbox(const char* tag) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") +
                        "/skarvel-fuzz-" + tag + "-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) {
    SandboxPath() = pattern;
    std::atexit(RemoveSandbox);
  }
  return SandboxPath();
}

}  // namespace skarvel::fuzz
