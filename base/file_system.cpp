#include "base/file_system.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Limits of the resolver: resolved paths fit the program's 1024-byte path
// buffers, and a chain of links is followed at most kMaxExpansions times
// (a link that leads back to itself would otherwise restart the walk forever).
constexpr size_t kMaxResolvedLength = 1023;
constexpr int kMaxExpansions = 40;
// Emulated links are small files: 1 to 1023 bytes.
constexpr int64_t kLinkFileLimit = 1024;
constexpr char kSymlinkMagic[] = "!<symlink>";
constexpr size_t kSymlinkMagicLength = sizeof kSymlinkMagic - 1;

// One cached path status. Entries live until FileStatusCache_ResetForTesting.
struct CacheEntry {
  CacheEntry* next = nullptr;  // bucket chain
  uint32_t hash = 0;
  bool is_directory = false;
  bool is_regular = false;
  bool probed = false;
  bool unusable = false;
  int64_t size = 0;
  char* path = nullptr;         // owned
  char* link_target = nullptr;  // owned; null when the file is not a link
};

// The process-wide status cache: a chained hash table over CacheEntry.
struct StatusCache {
  CacheEntry** buckets = nullptr;
  size_t bucket_count = 0;
  size_t count = 0;
};

StatusCache g_cache;

// A cache key in two pieces (the working directory and a relative path), so
// that lookups need no concatenated copy.
struct CacheKey {
  const char* head = "";
  size_t head_length = 0;
  const char* tail = "";
  size_t tail_length = 0;
};

uint32_t HashBytes(uint32_t h, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<int32_t>(static_cast<signed char>(text[i]));
    h = h * 101u + static_cast<uint32_t>(byte);
  }
  return h;
}

bool KeyEquals(const CacheEntry& e, const CacheKey& key) {
  return std::strncmp(e.path, key.head, key.head_length) == 0 &&
         std::strncmp(e.path + key.head_length, key.tail, key.tail_length) == 0 &&
         e.path[key.head_length + key.tail_length] == '\0';
}

// Doubles the bucket array once the chains get long. A failed growth only
// costs speed, so it is not reported.
void GrowBuckets() {
  const size_t new_count = g_cache.bucket_count == 0 ? 256 : g_cache.bucket_count * 2;
  auto** buckets = static_cast<CacheEntry**>(Mem_AllocZeroed(new_count, sizeof(CacheEntry*)));
  if (buckets == nullptr) return;
  for (size_t b = 0; b < g_cache.bucket_count; ++b) {
    CacheEntry* e = g_cache.buckets[b];
    while (e != nullptr) {
      CacheEntry* next = e->next;
      CacheEntry*& head = buckets[e->hash & (new_count - 1)];
      e->next = head;
      head = e;
      e = next;
    }
  }
  Mem_Free(g_cache.buckets);
  g_cache.buckets = buckets;
  g_cache.bucket_count = new_count;
}

void FreeEntry(CacheEntry* e) {
  Mem_Free(e->path);
  Mem_Free(e->link_target);
  Mem_Free(e);
}

// Finds the entry for `key`, or creates it with the status of `path` (the same
// file, named relative to the current directory). Null only with ENOMEM.
CacheEntry* Lookup(const CacheKey& key, const char* path) {
  const uint32_t hash =
      HashBytes(HashBytes(0, key.head, key.head_length), key.tail, key.tail_length);
  if (g_cache.bucket_count != 0) {
    for (CacheEntry* e = g_cache.buckets[hash & (g_cache.bucket_count - 1)]; e != nullptr;
         e = e->next) {
      if (e->hash == hash && KeyEquals(*e, key)) return e;
    }
  }
  if (g_cache.count >= g_cache.bucket_count * 2) GrowBuckets();
  if (g_cache.bucket_count == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  auto* e = static_cast<CacheEntry*>(Mem_AllocZeroed(1, sizeof(CacheEntry)));
  char* copy = static_cast<char*>(Mem_Alloc(key.head_length + key.tail_length + 1));
  if (e == nullptr || copy == nullptr) {
    Mem_Free(e);
    Mem_Free(copy);
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(copy, key.head, key.head_length);
  std::memcpy(copy + key.head_length, key.tail, key.tail_length);
  copy[key.head_length + key.tail_length] = '\0';
  e->path = copy;
  e->hash = hash;
  const int saved = errno;
  struct stat st;
  if (::stat(path, &st) == 0) {
    e->is_directory = S_ISDIR(st.st_mode);
    e->is_regular = S_ISREG(st.st_mode);
    e->size = st.st_size;
  } else {
    e->probed = true;
    e->unusable = true;
  }
  errno = saved;
  CacheEntry*& head = g_cache.buckets[hash & (g_cache.bucket_count - 1)];
  e->next = head;
  head = e;
  ++g_cache.count;
  return e;
}

bool IsWhiteSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes that may appear in a plain-path link file.
bool IsAllowedInPath(uint8_t c) {
  if (c >= 0x80) return true;
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return c != 0 && std::strchr(" !#$%&'()+,-./;=@[\\]^_`{}~", c) != nullptr;
}

// The link probe: decides once whether the file of `e` (reachable as `path`)
// is an emulated link. False only with ENOMEM (the entry is left unprobed).
bool Probe(CacheEntry& e, const char* path) {
  e.probed = true;
  // Only regular files are read: opening a FIFO or a device could block.
  if (!e.is_regular || e.size <= 0 || e.size >= kLinkFileLimit) return true;
  const auto size = static_cast<size_t>(e.size);
  char content[kLinkFileLimit + 1];
  const int saved = errno;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    errno = saved;
    e.unusable = true;
    return true;
  }
  const size_t got = std::fread(content, 1, size, f);
  std::fclose(f);
  errno = saved;
  if (got != size) return true;
  content[size] = '\0';
  const auto first = static_cast<uint8_t>(content[0]);
  if (IsWhiteSpace(first) || first == '#' || (size >= 2 && content[0] == '/' && content[1] == '*')) {
    return true;
  }
  const char* target = nullptr;
  size_t target_length = 0;
  if (size >= kSymlinkMagicLength && std::memcmp(content, kSymlinkMagic, kSymlinkMagicLength) == 0) {
    target = content + kSymlinkMagicLength;
    target_length = std::strlen(target);
  } else {
    for (size_t i = 0; i < size; ++i) {
      const auto c = static_cast<uint8_t>(content[i]);
      if (!IsAllowedInPath(c) && !(c == ':' && i == 1)) return true;
    }
    target = content;
    target_length = size;
  }
  e.link_target = Mem_StrNDup(target, target_length);
  if (e.link_target == nullptr) {
    e.probed = false;
    return Fail(ENOMEM);
  }
  return true;
}

// One path component: a view into the argument or a link target, and the
// length of the resolved prefix in front of it once it has been reached.
struct Component {
  const char* text = nullptr;
  size_t length = 0;
  size_t prefix_length = 0;
};

bool IsRoot(const Component& c) { return c.length == 0; }
bool IsDrive(const Component& c) { return c.length == 2 && c.text[1] == ':'; }
bool IsDotDot(const Component& c) {
  return c.length == 2 && c.text[0] == '.' && c.text[1] == '.';
}

// A growable list of components, owned through the allocation funnel.
struct ComponentList {
  Component* items = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  ComponentList() = default;
  ComponentList(const ComponentList&) = delete;
  ComponentList& operator=(const ComponentList&) = delete;
  ~ComponentList() { Mem_Free(items); }
};

bool Push(ComponentList& list, const char* text, size_t length) {
  if (list.count == list.capacity) {
    const size_t capacity = list.capacity == 0 ? 16 : list.capacity * 2;
    auto* items = static_cast<Component*>(Mem_Realloc(list.items, capacity * sizeof(Component)));
    if (items == nullptr) return Fail(ENOMEM);
    list.items = items;
    list.capacity = capacity;
  }
  list.items[list.count++] = Component{text, length, 0};
  return true;
}

// Splits `text` at slashes and backslashes. A leading separator gives the
// empty root component; "." components are dropped.
bool Split(const char* text, ComponentList& list) {
  if (IsSeparator(text[0]) && !Push(list, text, 0)) return false;
  const char* p = text;
  while (*p != '\0') {
    while (IsSeparator(*p)) ++p;
    const char* start = p;
    while (*p != '\0' && !IsSeparator(*p)) ++p;
    const auto length = static_cast<size_t>(p - start);
    if (length == 0 || (length == 1 && start[0] == '.')) continue;
    if (!Push(list, start, length)) return false;
  }
  return true;
}

bool Append(ComponentList& list, const Component* items, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (!Push(list, items[k].text, items[k].length)) return false;
  }
  return true;
}

void Swap(ComponentList& a, ComponentList& b) {
  std::swap(a.items, b.items);
  std::swap(a.count, b.count);
  std::swap(a.capacity, b.capacity);
}

// The working directory, fetched once per resolution: cache entries of
// relative paths are keyed by the absolute name, so that a path looked up
// again after a change of directory does not reuse another file's status.
struct WorkingDirectory {
  bool fetched = false;
  bool known = false;
  char text[PATH_MAX] = {};
};

// The cache entry for `path`; null with ENOMEM, or with `unknown` set when the
// working directory cannot be determined.
CacheEntry* LookupPath(const char* path, size_t length, WorkingDirectory& cwd, bool& unknown) {
  unknown = false;
  CacheKey key;
  key.tail = path;
  key.tail_length = length;
  if (path[0] != '/') {
    if (!cwd.fetched) {
      cwd.fetched = true;
      const int saved = errno;
      cwd.known = ::getcwd(cwd.text, sizeof cwd.text) != nullptr;
      errno = saved;
      if (cwd.known) {
        const size_t n = std::strlen(cwd.text);
        // "/" stays as it is; any other directory gets a separator.
        if (n + 1 < sizeof cwd.text && cwd.text[n - 1] != '/') {
          cwd.text[n] = '/';
          cwd.text[n + 1] = '\0';
        } else if (cwd.text[n - 1] != '/') {
          cwd.known = false;
        }
      }
    }
    if (!cwd.known) {
      unknown = true;
      return nullptr;
    }
    key.head = cwd.text;
    key.head_length = std::strlen(cwd.text);
  }
  return Lookup(key, path);
}

bool ReturnArgument(const char* path, ResolvedPath& out) {
  out.path = path;
  return true;
}

}  // namespace

uint32_t FileStatusCache_Hash(const char* text, size_t length) {
  return HashBytes(0, text, length);
}

bool ResolvePath(const char* path, ResolvedPath& out) {
  Mem_Free(out.owned);
  out.owned = nullptr;
  out.path = nullptr;
  if (path == nullptr) return Fail(EINVAL);
  if (std::strcmp(path, ".") == 0) return ReturnArgument(path, out);
  WorkingDirectory cwd;
  bool unknown = false;
  const size_t length = std::strlen(path);

  // A path ending in a separator that names a directory (or an ordinary file)
  // needs no walk.
  if (length > 0 && IsSeparator(path[length - 1])) {
    char* copy = Mem_StrNDup(path, length);
    if (copy == nullptr) return Fail(ENOMEM);
    for (size_t k = 0; k < length; ++k) {
      if (copy[k] == '\\') copy[k] = '/';
    }
    CacheEntry* e = LookupPath(copy, length, cwd, unknown);
    bool ok = e != nullptr || unknown;
    if (e != nullptr && !e->is_directory && e->is_regular && !e->probed) ok = Probe(*e, copy);
    Mem_Free(copy);
    if (!ok) return Fail(ENOMEM);
    if (e != nullptr &&
        (e->is_directory || (e->is_regular && !e->unusable && e->link_target == nullptr))) {
      return ReturnArgument(path, out);
    }
  }

  ComponentList comps;
  if (!Split(path, comps)) return false;
  if (comps.count == 0) return ReturnArgument(path, out);
  const bool trailing = length >= 2 && IsSeparator(path[length - 1]);

  char prefix[kMaxResolvedLength + 1];
  size_t prefix_length = 0;
  int expansions = 0;
  size_t i = 0;
  while (i < comps.count) {
    Component& c = comps.items[i];
    if (IsDotDot(c) && i > 0 && !IsDotDot(comps.items[i - 1]) && !IsRoot(comps.items[i - 1])) {
      // "x/.." cancels: drop both and go on with what followed.
      prefix_length = comps.items[i - 1].prefix_length;
      std::memmove(&comps.items[i - 1], &comps.items[i + 1],
                   (comps.count - i - 1) * sizeof(Component));
      comps.count -= 2;
      i -= 1;
      continue;
    }
    c.prefix_length = prefix_length;
    const size_t separator = i > 0 ? 1 : 0;
    if (prefix_length + separator > kMaxResolvedLength ||
        c.length > kMaxResolvedLength - prefix_length - separator) {
      return Fail(ENAMETOOLONG);
    }
    if (separator != 0) prefix[prefix_length++] = '/';
    std::memcpy(prefix + prefix_length, c.text, c.length);
    prefix_length += c.length;
    prefix[prefix_length] = '\0';
    if (IsRoot(c) || IsDrive(c)) {
      ++i;
      continue;
    }
    CacheEntry* e = LookupPath(prefix, prefix_length, cwd, unknown);
    if (e == nullptr) return unknown ? ReturnArgument(path, out) : false;
    if (e->is_directory) {
      ++i;
      continue;
    }
    if (!e->probed && !Probe(*e, prefix)) return false;
    if (e->unusable) return ReturnArgument(path, out);
    if (e->link_target == nullptr) {
      if (i + 1 != comps.count) return ReturnArgument(path, out);
      ++i;
      continue;
    }
    if (++expansions > kMaxExpansions) return Fail(ELOOP);
    ComponentList target;
    if (!Split(e->link_target, target)) return false;
    // A link to nothing cannot be followed; the caller gets the link file.
    if (target.count == 0) return ReturnArgument(path, out);
    ComponentList next;
    const bool absolute = IsRoot(target.items[0]) || IsDrive(target.items[0]);
    if ((!absolute && !Append(next, comps.items, i)) ||
        !Append(next, target.items, target.count) ||
        !Append(next, comps.items + i + 1, comps.count - i - 1)) {
      return false;
    }
    Swap(comps, next);
    i = 0;
    prefix_length = 0;
  }

  if (comps.count == 0) {
    // Every component cancelled out ("a/.."): the current directory.
    prefix[prefix_length++] = '.';
  } else if (prefix_length == 0) {
    // Only the root is left.
    prefix[prefix_length++] = '/';
  }
  if (trailing && prefix[prefix_length - 1] != '/') {
    if (prefix_length >= kMaxResolvedLength) return Fail(ENAMETOOLONG);
    prefix[prefix_length++] = '/';
  }
  out.owned = Mem_StrNDup(prefix, prefix_length);
  if (out.owned == nullptr) return Fail(ENOMEM);
  out.path = out.owned;
  return true;
}

void FileStatusCache_ResetForTesting() {
  for (size_t b = 0; b < g_cache.bucket_count; ++b) {
    CacheEntry* e = g_cache.buckets[b];
    while (e != nullptr) {
      CacheEntry* next = e->next;
      FreeEntry(e);
      e = next;
    }
  }
  Mem_Free(g_cache.buckets);
  g_cache = StatusCache{};
}

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
  const struct dirent* pending = nullptr;  // the entry read ahead by OpenDirectory
  DirectoryEntry entry;
  char* pattern = nullptr;  // owned: the directory followed by "*" or "/*"
};

namespace {

int32_t EntryType(DIR* dir, const struct dirent* d) {
  bool is_dir = d->d_type == DT_DIR;
  if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK) {
    // The file system did not say, or a real link: ask for the target's status.
    const int saved = errno;
    struct stat st;
    is_dir = ::fstatat(::dirfd(dir), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    errno = saved;
  }
  return is_dir ? 4 : 8;
}

}  // namespace

DirectoryStream* OpenDirectory(const char* path) {
  if (path == nullptr || path[0] == '\0') {
    errno = EINVAL;
    return nullptr;
  }
  const size_t length = std::strlen(path);
  const bool ends_with_separator = IsSeparator(path[length - 1]);
  auto* stream = static_cast<DirectoryStream*>(Mem_AllocZeroed(1, sizeof(DirectoryStream)));
  char* pattern = static_cast<char*>(Mem_Alloc(length + 3));
  if (stream == nullptr || pattern == nullptr) {
    Mem_Free(stream);
    Mem_Free(pattern);
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(pattern, path, length);
  std::memcpy(pattern + length, ends_with_separator ? "*" : "/*", ends_with_separator ? 2 : 3);
  stream->pattern = pattern;
  // The directory to read is the pattern without its final "*".
  const size_t star = std::strlen(pattern) - 1;
  pattern[star] = '\0';
  DIR* dir = ::opendir(pattern);
  pattern[star] = '*';
  if (dir == nullptr) {
    const int saved = errno;
    Mem_Free(pattern);
    Mem_Free(stream);
    errno = saved;
    return nullptr;
  }
  stream->dir = dir;
  errno = 0;
  stream->pending = ::readdir(dir);
  if (stream->pending == nullptr && errno != 0) {
    const int saved = errno;
    ::closedir(dir);
    Mem_Free(pattern);
    Mem_Free(stream);
    errno = saved;
    return nullptr;
  }
  return stream;
}

const char* DirectoryStream_Pattern(const DirectoryStream* stream) {
  return stream != nullptr ? stream->pattern : nullptr;
}

DirectoryEntry* ReadDirectory(DirectoryStream* stream) {
  if (stream == nullptr || stream->dir == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  const struct dirent* d = stream->pending;
  stream->pending = nullptr;
  if (d == nullptr) d = ::readdir(stream->dir);
  if (d == nullptr) return nullptr;
  stream->entry.type = EntryType(stream->dir, d);
  stream->entry.name = d->d_name;
  return &stream->entry;
}

int CloseDirectory(DirectoryStream* stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  const int rc = stream->dir != nullptr ? ::closedir(stream->dir) : -1;
  Mem_Free(stream->pattern);
  Mem_Free(stream);
  if (rc != 0) {
    errno = EBADF;
    return -1;
  }
  return 0;
}

}  // namespace skarvel
