#pragma once
// File-system access. Every path the program opens, queries, creates or
// enters goes through ResolvePath first, which normalises it and follows
// emulated symbolic links ("!<symlink>" files and files holding a bare path).

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace skarvel {

// The path to use: `path` is either the argument itself or `owned`, a string
// the record frees. Move-only.
struct ResolvedPath {
  const char* path = nullptr;
  char* owned = nullptr;

  ResolvedPath() = default;
  ResolvedPath(const ResolvedPath&) = delete;
  ResolvedPath& operator=(const ResolvedPath&) = delete;
  ResolvedPath(ResolvedPath&& other) noexcept;
  ResolvedPath& operator=(ResolvedPath&& other) noexcept;
  ~ResolvedPath();
};

// Resolves `path`: normalises separators, "." and "x/.." and follows emulated
// links, consulting the process-wide status cache (a path's status is queried
// once and kept). False with EINVAL (no path), ENOMEM, ELOOP (more than 40
// link expansions) or ENAMETOOLONG (a result of 1024 bytes or more). Any other
// difficulty (a missing component, an unreadable file, a non-directory in the
// middle) gives the argument back unchanged, so that the following system
// call reports it.
[[nodiscard]] bool ResolvePath(const char* path, ResolvedPath& out);

// fopen / stat on the resolved path (binary mode). errno as the system sets it.
[[nodiscard]] FILE* OpenFile(const char* path, const char* mode);
[[nodiscard]] int StatFile(const char* path, struct stat* st);
// mkdir (mode 0777) / chdir on the resolved path; 0 or -1 with errno.
[[nodiscard]] int MakeDirectory(const char* path);
[[nodiscard]] int ChangeDirectory(const char* path);
// Creates the directories of `path`'s directory part, outermost first, as the
// whole-file writer needs; failures (such as existing directories) are ignored.
// False only for an allocation failure (ENOMEM).
[[nodiscard]] bool File_CreateParentDirectories(const char* path);

// Directory enumeration, including "." and "..". Type 4: directory, 8: other.
struct DirectoryEntry {
  int32_t type = 0;
  const char* name = nullptr;  // valid until the next ReadDirectory
};
struct DirectoryStream;
// Null with EINVAL (missing or empty path), ENOMEM, or the system's error.
[[nodiscard]] DirectoryStream* OpenDirectory(const char* path);
// The next entry, or null at the end (EBADF for an invalid stream).
[[nodiscard]] DirectoryEntry* ReadDirectory(DirectoryStream* stream);
// 0, or -1 with EBADF; releases the stream in both cases.
[[nodiscard]] int CloseDirectory(DirectoryStream* stream);

// The search pattern of an open stream: the directory followed by "*" when it
// ends with a separator, by "/*" otherwise. Owned by the stream.
[[nodiscard]] const char* DirectoryStream_Pattern(const DirectoryStream* stream);

// The status cache's hash of a path: h = h * 101 + c over its bytes, each
// taken as a signed 8-bit value, from 0, modulo 2^32.
uint32_t FileStatusCache_Hash(const char* text, size_t length);
// Forgets every cached path status (tests only).
void FileStatusCache_ResetForTesting();

}  // namespace skarvel
