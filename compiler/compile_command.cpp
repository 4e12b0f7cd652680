#include "compiler/compile_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/file_system.h"
#include "base/mem.h"
#include "base/project.h"
#include "base/result.h"
#include "catalog/catalog_builder.h"
#include "compiler/app_icon_set.h"
#include "compiler/ar_resource_group.h"
#include "compiler/working_directory.h"

namespace skarvel {

namespace {

// Source trees are a few levels deep; a deeper one (or a loop of directory
// links) is cut off here rather than exhausting the stack.
constexpr int kMaxDepth = 64;
// Directory names are at most 255 bytes.
constexpr size_t kNameSize = 256;

// The names of the sub-directories of the working directory, sorted by their
// bytes so that the catalog does not depend on the file system's order.
struct DirectoryNames {
  char** names = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  DirectoryNames() = default;
  DirectoryNames(const DirectoryNames&) = delete;
  DirectoryNames& operator=(const DirectoryNames&) = delete;
  ~DirectoryNames() {
    for (size_t i = 0; i < count; ++i) Mem_Free(names[i]);
    Mem_Free(names);
  }
};

bool DirectoryNames_Add(DirectoryNames& list, const char* name) {
  if (list.count == list.capacity) {
    const size_t capacity = list.capacity == 0 ? 16 : list.capacity * 2;
    auto** grown = static_cast<char**>(Mem_Realloc(list.names, capacity * sizeof(char*)));
    if (grown == nullptr) return Fail(ENOMEM);
    list.names = grown;
    list.capacity = capacity;
  }
  char* copy = Mem_StrDup(name);
  if (copy == nullptr) return Fail(ENOMEM);
  list.names[list.count++] = copy;
  return true;
}

// Reads the sub-directories of "." (other than "." and ".."). False with the
// enumeration's error code.
bool ListSubdirectories(DirectoryNames& list) {
  DirectoryStream* stream = OpenDirectory(".");
  if (stream == nullptr) return false;
  while (DirectoryEntry* entry = ReadDirectory(stream)) {
    if (entry->type != 4 || std::strcmp(entry->name, ".") == 0 ||
        std::strcmp(entry->name, "..") == 0) {
      continue;
    }
    if (!DirectoryNames_Add(list, entry->name)) {
      (void)CloseDirectory(stream);
      return Fail(ENOMEM);
    }
  }
  (void)CloseDirectory(stream);
  std::sort(list.names, list.names + list.count,
            [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  return true;
}

bool CompileDirectoryAt(AssetsCatalog& catalog, const char* directory, bool verbose, int depth);

// Hands one sub-directory to the compiler of its extension. True when it
// counts as compiled.
bool CompileEntry(AssetsCatalog& catalog, const char* walked, const char* name, bool verbose,
                  int depth) {
  const char* extension = std::strchr(name, '.');
  if (extension == nullptr) return CompileDirectoryAt(catalog, name, verbose, depth + 1);
  if (std::strcmp(extension, ".appiconset") == 0) {
    char set[kNameSize];
    std::snprintf(set, sizeof set, "%s", name);
    return AssetsCatalog_CompileAppIconSet(catalog, set, verbose);
  }
  if (std::strcmp(extension, ".arreferenceimage") == 0) {
    std::fprintf(stderr,
                 "Warning: AR reference image directory '%s' should be in an AR resource group! "
                 "Ignoring.\n",
                 name);
    return false;
  }
  if (std::strcmp(extension, ".arresourcegroup") == 0) {
    char group[kNameSize];
    std::snprintf(group, sizeof group, "%s", name);
    return AssetsCatalog_CompileARResourceGroup(catalog, group, verbose);
  }
  if (std::strcmp(extension, ".launchimage") == 0) return false;
  std::fprintf(stderr,
               "Warning: the Brindlework's asset compiler doesn't know (yet) how to compile '%s' "
               "in %s. PLEASE do notify the author of this problem at %s so as to obtain a patch "
               "quickly (attach your .xcassets directory).\n",
               name, walked, kProjectAddress);
  return false;
}

bool CompileDirectoryAt(AssetsCatalog& catalog, const char* directory, bool verbose, int depth) {
  const int remembered = WorkingDirectory_Remember();
  if (depth > kMaxDepth || ChangeDirectory(directory) != 0) {
    WorkingDirectory_Forget(remembered);
    std::fprintf(stderr, "Warning: failed to enter assets directory '%s'. Ignoring.\n", directory);
    return false;
  }
  if (verbose) std::fprintf(stdout, "Info: compiling directory '%s'.\n", directory);
  DirectoryNames names;
  if (!ListSubdirectories(names)) {
    const int code = errno;
    std::fprintf(stderr, "skarvel: failed to search into assets directory %s (errno = %d)\n",
                 directory, code);
    WorkingDirectory_Return(remembered);
    return false;
  }
  bool compiled = false;
  for (size_t i = 0; i < names.count; ++i) {
    compiled = CompileEntry(catalog, directory, names.names[i], verbose, depth) || compiled;
  }
  WorkingDirectory_Return(remembered);
  return compiled;
}

}  // namespace

bool AssetsCatalog_CompileDirectory(AssetsCatalog& catalog, const char* directory, bool verbose) {
  return CompileDirectoryAt(catalog, directory, verbose, 0);
}

int RunCompileCommand(const CommandLine& cl) {
  if (cl.initial_directory[0] == '\0') {
    std::fprintf(stderr, "skarvel: unable to read the current working directory\n");
    return 1;
  }
  AssetsCatalog catalog;
  struct stat st;
  if (cl.add && StatFile(cl.output, &st) == 0) {
    if (!AssetsCatalog_Load(catalog, cl.output)) {
      std::fprintf(stderr, "skarvel: failed to parse %s as an assets catalog file\n", cl.output);
      return 1;
    }
    // Refused before anything changes: saving a catalog whose additions all
    // failed would still rewrite it.
    if (!AssetsCatalog_CanAdd(catalog)) {
      std::fprintf(stderr,
                   "skarvel: cannot add to %s: new assets go only into catalogs of the older form "
                   "(single-node trees, the default key format, EXTENDED_METADATA, no other "
                   "labelled trees); left unchanged\n",
                   cl.output);
      return 1;
    }
  } else if (!AssetsCatalog_CreateNew(catalog, "ios")) {
    std::fprintf(stderr, "skarvel: unable to create a new empty CAR store\n");
    return 1;
  }
  (void)AssetsCatalog_CompileDirectory(catalog, cl.input, cl.verbose);
  // A relative output pathname names a file in the start-up directory: the
  // catalog is written nowhere else.
  if (ChangeDirectory(cl.initial_directory) != 0) {
    const int code = errno;
    std::fprintf(stderr, "skarvel: failed to return to %s (errno = %d)\n", cl.initial_directory,
                 code);
    return 1;
  }
  if (!AssetsCatalog_Save(catalog, cl.output)) {
    const int code = errno;
    std::fprintf(stderr, "skarvel: failed to save %s (errno = %d)\n", cl.output, code);
    return 1;
  }
  AssetsCatalog_Free(catalog);
  return 0;
}

}  // namespace skarvel
