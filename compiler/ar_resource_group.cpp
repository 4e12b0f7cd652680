#include "compiler/ar_resource_group.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/mem.h"
#include "catalog/catalog_builder.h"
#include "catalog/rendition_attribute.h"
#include "compiler/ar_reference_image.h"
#include "compiler/asset_directory.h"
#include "compiler/working_directory.h"
#include "csi/csi_build.h"
#include "csi/csi_format.h"

namespace skarvel {

namespace {

constexpr char kNoPixelFormat[4] = {0, 0, 0, 0};
constexpr uint32_t kColorspaceSRGB = 1;
constexpr char kRenditionName[] = "CoreStructuredImage";
constexpr char kKind[] = "AR resource group";

// One slot per listed item: the name of its reference image when that
// compiled, null otherwise.
struct NameList {
  char** names = nullptr;
  size_t count = 0;

  NameList() = default;
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;
  ~NameList() {
    for (size_t i = 0; i < count; ++i) Mem_Free(names[i]);
    Mem_Free(names);
  }
};

void WarnAllocation(size_t bytes, const char* group) {
  std::fprintf(stderr,
               "Warning: memory allocation error for %zd bytes while compiling AR resource group "
               "'%s'! ignoring.\n",
               static_cast<ssize_t>(bytes), group);
}

// Compiles the reference image of item `i` and keeps its name in slot `i`
// when it compiled. True when it did.
bool CompileItem(AssetsCatalog& catalog, const cJSON* item, int i, const char* group,
                 NameList& list, bool verbose) {
  const char* file = Json_MemberText(item, "filename");
  if (file == nullptr) {
    std::fprintf(stderr,
                 "Warning: AR resource group '%s' has unexpected syntax in Contents.json file "
                 "(unable to get item #%d's filename in resources array)! ignoring.\n",
                 group, i);
    return false;
  }
  // Each item names a directory of the group itself; a path would make the
  // compile read images from anywhere on the disk.
  if (std::strchr(file, '/') != nullptr || std::strcmp(file, ".") == 0 ||
      std::strcmp(file, "..") == 0) {
    std::fprintf(stderr,
                 "Warning: AR resource group '%s' lists '%s', which is not a directory of the "
                 "group! ignoring.\n",
                 group, file);
    return false;
  }
  // The image compiler cuts its copy of the directory name at the first '.',
  // which leaves exactly the name the list keeps.
  char* name = Mem_StrDup(file);
  if (name == nullptr) {
    WarnAllocation(std::strlen(file) + 1, group);
    return false;
  }
  if (!AssetsCatalog_CompileARReferenceImage(catalog, name, verbose)) {
    Mem_Free(name);
    return false;
  }
  list.names[i] = name;
  return true;
}

// Steps after entering the directory: the description, the reference
// images, then the group's facet and rendition.
bool CompileEnteredGroup(AssetsCatalog& catalog, const char* group, bool verbose) {
  JsonDocument json;
  if (!AssetDirectory_ReadContents(json, kKind, group)) return false;
  const cJSON* resources = Json_Member(json.root, "resources");
  if (!Json_IsArray(resources)) {
    std::fprintf(stderr,
                 "Warning: AR resource group '%s' has unexpected syntax in Contents.json file (no "
                 "resources array)! ignoring.\n",
                 group);
    return false;
  }
  const int n = Json_ArraySize(resources);
  NameList list;
  if (n > 0) {
    list.names = static_cast<char**>(Mem_AllocZeroed(static_cast<size_t>(n), sizeof(char*)));
    if (list.names == nullptr) {
      WarnAllocation(static_cast<size_t>(n) * sizeof(char*), group);
      return false;
    }
    list.count = static_cast<size_t>(n);
  }

  bool compiled = false;
  const cJSON* item = Json_FirstItem(resources);
  for (int i = 0; i < n; ++i, item = Json_NextItem(item)) {
    compiled = CompileItem(catalog, item, i, group, list, verbose) || compiled;
  }

  const int32_t facet_id =
      AssetDirectory_AddFacet(catalog, kKind, group, kARElement, kARResourceGroupPart, nullptr);
  if (facet_id < 0) return compiled;
  int32_t attributes[kAttrCount] = {};
  attributes[kAttrPart] = kARResourceGroupPart;
  attributes[kAttrScale] = 1;
  const int32_t index =
      AssetsCatalog_AddRendition(catalog, facet_id, attributes, 0, 0, 100, kNoPixelFormat,
                                 kColorspaceSRGB, kLayoutNameList, kRenditionName, 1);
  if (index < 0) {
    std::fprintf(stderr, "Warning: unable to add AR resource group rendition '%s'! ignoring.\n",
                 group);
    return false;
  }
  BOMBlock& block = *BOMStore_Block(catalog.store, index);
  const char* const* names = list.names;
  const bool stored = CSI_AddComposition(block, 0, 0.0f) && CSI_AddOrientation(block, 1) &&
                      CSI_AddNameList(block, std::span<const char* const>(names, list.count));
  if (!stored) {
    // A group without its name list would come back empty: report it.
    const int code = errno;
    std::fprintf(stderr, "Warning: error storing AR resource group '%s'! [errno = %d] ignoring.\n",
                 group, code);
    return false;
  }
  return compiled;
}

}  // namespace

bool AssetsCatalog_CompileARResourceGroup(AssetsCatalog& catalog, char* directory, bool verbose) {
  int remembered = -1;
  if (!AssetDirectory_Enter(directory, kKind, verbose, remembered)) return false;
  const bool compiled = CompileEnteredGroup(catalog, directory, verbose);
  WorkingDirectory_Return(remembered);
  return compiled;
}

}  // namespace skarvel
