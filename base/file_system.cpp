#include "base/file_system.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

ResolvedPath::ResolvedPath(ResolvedPath&& other) noexcept
    : path(std::exchange(other.path, nullptr)), owned(std::exchange(other.owned, nullptr)) {}

ResolvedPath& ResolvedPath::operator=(ResolvedPath&& other) noexcept {
  if (this != &other) {
    Mem_Free(owned);
    path = std::exchange(other.path, nullptr);
    owned = std::exchange(other.owned, nullptr);
  }
  return *this;
}

ResolvedPath::~ResolvedPath() { Mem_Free(owned); }

// Placeholder resolver: returns the argument unchanged. The full resolver
// (normalisation, emulated links, status cache) replaces it.
bool ResolvePath(const char* path, ResolvedPath& out) {
  Mem_Free(out.owned);
  out.owned = nullptr;
  out.path = nullptr;
  if (path == nullptr) return Fail(EINVAL);
  out.path = path;
  return true;
}

void FileStatusCache_ResetForTesting() {}

FILE* OpenFile(const char* path, const char* mode) {
  ResolvedPath resolved;
  if (!ResolvePath(path, resolved)) return nullptr;
  return std::fopen(resolved.path, mode);
}

int StatFile(const char* path, struct stat* st) {
  ResolvedPath resolved;
  if (!ResolvePath(path, resolved)) return -1;
  return ::stat(resolved.path, st);
}

int MakeDirectory(const char* path) {
  ResolvedPath resolved;
  if (!ResolvePath(path, resolved)) return -1;
  return ::mkdir(resolved.path, 0777);
}

int ChangeDirectory(const char* path) {
  ResolvedPath resolved;
  if (!ResolvePath(path, resolved)) return -1;
  return ::chdir(resolved.path);
}

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool File_CreateParentDirectories(const char* path) {
  const size_t length = std::strlen(path);
  size_t cut = length;
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) return true;  // no directory part
  char* dir = Mem_StrNDup(path, cut - 1);
  if (dir == nullptr) return Fail(ENOMEM);
  const size_t dir_length = cut - 1;
  // Every prefix that ends on a non-separator and is followed by a separator
  // or the end names a directory to create. A one-letter first component
  // ("a" of "a/b") is created too: on this platform it is a real directory.
  for (size_t end = 1; end <= dir_length; ++end) {
    if (IsSeparator(dir[end - 1])) continue;
    if (end < dir_length && !IsSeparator(dir[end])) continue;
    const char saved = dir[end];
    dir[end] = '\0';
    const int keep = errno;
    (void)MakeDirectory(dir);
    errno = keep;
    dir[end] = saved;
  }
  Mem_Free(dir);
  return true;
}

struct DirectoryStream {
  DIR* dir = nullptr;
  DirectoryEntry entry;
};

DirectoryStream* OpenDirectory(const char* path) {
  if (path == nullptr || path[0] == '\0') {
    errno = EINVAL;
    return nullptr;
  }
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return nullptr;
  auto* stream = static_cast<DirectoryStream*>(Mem_AllocZeroed(1, sizeof(DirectoryStream)));
  if (stream == nullptr) {
    ::closedir(dir);
    errno = ENOMEM;
    return nullptr;
  }
  stream->dir = dir;
  return stream;
}

DirectoryEntry* ReadDirectory(DirectoryStream* stream) {
  if (stream == nullptr || stream->dir == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  const struct dirent* d = ::readdir(stream->dir);
  if (d == nullptr) return nullptr;
  bool is_dir = d->d_type == DT_DIR;
  if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK) {
    struct stat st;
    is_dir = ::fstatat(::dirfd(stream->dir), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
  }
  stream->entry.type = is_dir ? 4 : 8;
  stream->entry.name = d->d_name;
  return &stream->entry;
}

int CloseDirectory(DirectoryStream* stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  const int rc = stream->dir ? ::closedir(stream->dir) : -1;
  Mem_Free(stream);
  if (rc != 0) {
    errno = EBADF;
    return -1;
  }
  return 0;
}

}  // namespace skarvel
