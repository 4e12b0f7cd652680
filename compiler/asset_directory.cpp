#include "compiler/asset_directory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/buffer.h"
#include "base/file_system.h"
#include "base/result.h"
#include "catalog/catalog_builder.h"
#include "compiler/working_directory.h"

namespace skarvel {

bool AssetDirectory_Enter(char* directory, const char* kind, bool verbose, int& remembered) {
  remembered = WorkingDirectory_Remember();
  if (ChangeDirectory(directory) != 0) {
    WorkingDirectory_Forget(remembered);
    remembered = -1;
    std::fprintf(stderr, "Warning: failed to enter %s directory '%s'. Ignoring.\n", kind,
                 directory);
    return false;
  }
  if (char* dot = std::strchr(directory, '.')) *dot = '\0';
  if (verbose) std::fprintf(stdout, "Info: compiling %s '%s'.\n", kind, directory);
  return true;
}

bool AssetDirectory_ReadContents(JsonDocument& json, const char* kind, const char* name) {
  Buffer text;
  bool too_large = false;
  if (!ContentsJson_ReadFile(text, too_large)) {
    if (too_large) {
      std::fprintf(stderr,
                   "Warning: %s '%s' has a Contents.json file larger than %lld bytes! ignoring.\n",
                   kind, name, static_cast<long long>(kContentsJsonLimit));
    } else {
      std::fprintf(stderr, "Warning: %s '%s' has no Contents.json file! ignoring.\n", kind, name);
    }
    return false;
  }
  if (!JsonDocument_Parse(json, reinterpret_cast<const char*>(text.data))) {
    if (errno == ENOMEM) {
      std::fprintf(stderr, "Warning: out of memory reading Contents.json for %s '%s'! ignoring.\n",
                   kind, name);
    } else {
      std::fprintf(stderr, "Warning: %s '%s' has bogus syntax in Contents.json file! ignoring.\n",
                   kind, name);
    }
    return false;
  }
  return true;
}

int32_t AssetDirectory_AddFacet(AssetsCatalog& catalog, const char* kind, const char* name,
                                int32_t element, int32_t part, int32_t* bitmap_key) {
  const int32_t facet_id = AssetsCatalog_AddFacet(catalog, name, element, part, bitmap_key);
  if (facet_id < 0) {
    const int code = errno;
    std::fprintf(stderr, "Warning: unable to add %s facet '%s'! [errno = %d] ignoring.\n", kind,
                 name, code);
  }
  return facet_id;
}

void AssetDirectory_WarnImageRead(const char* file, const char* kind, const char* name, int code) {
  switch (code) {
    case ENOENT:
      std::fprintf(stderr, "Warning: unable to read image file %s for %s '%s'! ignoring.\n", file,
                   kind, name);
      break;
    case kErrUnsupported:
      std::fprintf(stderr,
                   "Warning: unsupported image format in %s for %s '%s' (currently supported: "
                   "PNG, JPEG, and 24/32-bit uncompressed BMP only)! ignoring.\n",
                   file, kind, name);
      break;
    case ENOMEM:
      std::fprintf(stderr, "Warning: out of memory reading %s for %s '%s'! ignoring.\n", file, kind,
                   name);
      break;
    case EINVAL:
      std::fprintf(stderr,
                   "Warning: internal image library error reading %s for %s '%s'! ignoring.\n",
                   file, kind, name);
      break;
    default:
      std::fprintf(stderr,
                   "Warning: unknown error reading %s (errno = %d) for %s '%s'! ignoring.\n", file,
                   code, kind, name);
      break;
  }
}

void AssetDirectory_WarnImageResize(const char* file, const char* kind, const char* name,
                                    int code) {
  if (code == ENOMEM) {
    std::fprintf(stderr, "Warning: out of memory resizing %s for %s '%s'! ignoring.\n", file, kind,
                 name);
  } else {
    std::fprintf(stderr,
                 "Warning: unknown error resizing %s (errno = %d) for %s '%s'! ignoring.\n", file,
                 code, kind, name);
  }
}

}  // namespace skarvel
