#include "decompiler/decompile_ar.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/bytes.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_format.h"
#include "decompiler/decompiler.h"

namespace skarvel {

namespace {

constexpr char kGroupExtension[] = ".arresourcegroup";
constexpr char kImageExtension[] = ".arreferenceimage";

// The content of the rendition's first subblock `id` (head excluded), or
// false when the record has none (or is not a CSI record).
bool FindSubblock(const BOMBlock& block, CSIInfoID id, std::span<const uint8_t>& content) {
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) {
    if (sub.id != static_cast<uint32_t>(id)) continue;
    content = block.bytes().subspan(sub.offset + kCSISubblockHeadSize, sub.length);
    return true;
  }
  return false;
}

// A name list: a count, a reserved word, then each name as a byte count and
// its bytes. `Next` yields the names in order; `Check` tells whether every
// name the count promises lies inside the subblock.
struct NameListReader {
  ByteReader reader;
  uint32_t remaining = 0;
};

NameListReader NameList_Open(std::span<const uint8_t> content) {
  NameListReader list{ByteReader{content}};
  list.remaining = ByteReader_U32LE(list.reader);
  (void)ByteReader_U32LE(list.reader);
  return list;
}

bool NameList_Next(NameListReader& list, std::span<const uint8_t>& name) {
  if (list.reader.failed || list.remaining == 0) return false;
  const uint32_t length = ByteReader_U32LE(list.reader);
  name = ByteReader_Bytes(list.reader, length);
  if (list.reader.failed) return false;
  --list.remaining;
  return true;
}

bool NameList_Check(std::span<const uint8_t> content) {
  NameListReader list = NameList_Open(content);
  std::span<const uint8_t> name;
  while (NameList_Next(list, name)) {
  }
  // Every name read costs at least 4 bytes, so the walk ends within the
  // subblock whatever the count says.
  return !list.reader.failed && list.remaining == 0;
}

// The group entry for `name` (text), and its reference image.
void DecompileListedName(const AssetsCatalog& catalog, const char* group, const char* name,
                         RenditionRef ref, JsonEntryList& json) {
  char directory_name[kDecompiledNameSize];
  bool replaced = false;
  if (!DecompiledDirectoryName(name, kImageExtension, directory_name, replaced)) {
    std::fprintf(stderr,
                 "Warning: AR resource group '%s' lists a name too long for a directory in its "
                 "rendition [%d:%d]! ignoring.\n",
                 group, static_cast<int>(ref.key_block), static_cast<int>(ref.value_block));
    return;
  }
  if (json.file != nullptr) {
    // The entry names the directory as it is written.
    JsonEntryList_Begin(json);
    std::fputs("            \"filename\": \"", json.file);
    ContentsJson_WriteText(json.file, directory_name);
    std::fputs("\"\n", json.file);
    JsonEntryList_End(json);
  }
  (void)AssetsCatalog_DecompileARReferenceImage(catalog, name);
}

void DecompileGroupRendition(const AssetsCatalog& catalog, const char* group, RenditionRef ref,
                             JsonEntryList& json) {
  const int key_index = static_cast<int>(ref.key_block);
  const int value_index = static_cast<int>(ref.value_block);
  const BOMBlock* value = BOMStore_Block(catalog.store, ref.value_block);
  std::span<const uint8_t> content;
  if (value == nullptr || !FindSubblock(*value, CSIInfoID::NameList, content)) {
    std::fprintf(stderr,
                 "Warning: AR resource group '%s' has no names list in its rendition [%d:%d]! "
                 "ignoring.\n",
                 group, key_index, value_index);
    return;
  }
  if (!NameList_Check(content)) {
    std::fprintf(stderr,
                 "Warning: AR resource group '%s' has a malformed names list in its rendition "
                 "[%d:%d]! ignoring.\n",
                 group, key_index, value_index);
    return;
  }
  NameListReader list = NameList_Open(content);
  std::span<const uint8_t> bytes;
  while (NameList_Next(list, bytes)) {
    char name[kDecompiledNameSize];
    if (bytes.size() >= sizeof name) {
      std::fprintf(stderr,
                   "Warning: AR resource group '%s' lists a name too long for a directory in its "
                   "rendition [%d:%d]! ignoring.\n",
                   group, key_index, value_index);
      continue;
    }
    std::memcpy(name, bytes.data(), bytes.size());
    name[bytes.size()] = '\0';
    DecompileListedName(catalog, group, name, ref, json);
  }
}

const char* UnitName(uint32_t unit) {
  switch (unit) {
    case 1:
      return "centimeters";
    case 2:
      return "feet";
    case 3:
      return "inches";
    case 4:
      return "yards";
    default:
      return "???";
  }
}

// The "properties" lines: the unit (unless meters) and the physical width of
// the rendition's properties subblock. A record holds one; should it hold
// more, the first is the one the record means, and one width keeps the
// description valid JSON.
void WriteProperties(FILE* file, const AssetsCatalog& catalog, const char* name, RenditionRef ref) {
  const BOMBlock* value = BOMStore_Block(catalog.store, ref.value_block);
  std::span<const uint8_t> content;
  if (value == nullptr || !FindSubblock(*value, CSIInfoID::Properties, content)) return;
  if (content.size() < 12) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has a malformed properties subblock in its "
                 "rendition [%d:%d]! ignoring.\n",
                 name, static_cast<int>(ref.key_block), static_cast<int>(ref.value_block));
    return;
  }
  const uint32_t unit = LoadU32LEAt(content, 0);
  const float width = std::bit_cast<float>(LoadU32LEAt(content, 4));
  // printf would write "inf" or "nan", which no JSON reader takes.
  if (!std::isfinite(width)) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has a physical width that is not a finite "
                 "number in its rendition [%d:%d]! ignoring.\n",
                 name, static_cast<int>(ref.key_block), static_cast<int>(ref.value_block));
    return;
  }
  if (unit != 0) std::fprintf(file, "        \"unit\": \"%s\",\n", UnitName(unit));
  std::fprintf(file, "        \"width\": %f\n", static_cast<double>(width));
}

void DecompileImageRendition(const AssetsCatalog& catalog, const char* name, RenditionRef ref,
                             JsonEntryList& json) {
  const BOMBlock* value = BOMStore_Block(catalog.store, ref.value_block);
  if (value == nullptr || !Rendition_HasImagePayload(*value)) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has no image payload in its rendition "
                 "[%d:%d]! ignoring.\n",
                 name, static_cast<int>(ref.key_block), static_cast<int>(ref.value_block));
    return;
  }
  const CSIHeader& header = *CSI_Header(*value);
  char rendition_name[128];
  RenditionName_Copy(header.name, rendition_name);
  char file_name[kDecompiledNameSize];
  if (RenditionImageFileName(header.name, file_name)) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' rendition '%s' has path separators in its "
                 "name! writing it as '%s'.\n",
                 name, rendition_name, file_name);
  }
  if (json.file != nullptr) {
    const BOMBlock* key = BOMStore_Block(catalog.store, ref.key_block);
    const int32_t idiom =
        key != nullptr ? RenditionKey_GetAttribute(catalog, *key, kAttrIdiom) : -1;
    const char* idiom_name = nullptr;
    RenditionAttribute_GetNames(kAttrIdiom, idiom, nullptr, &idiom_name);
    JsonEntryList_Begin(json);
    std::fprintf(json.file, "            \"idiom\": \"%s\",\n", idiom_name);
    std::fputs("            \"filename\": \"", json.file);
    ContentsJson_WriteText(json.file, file_name);
    std::fputs("\"\n", json.file);
    JsonEntryList_End(json);
  }
  WriteRenditionImage(*value, rendition_name, file_name);
}

}  // namespace

bool AssetsCatalog_DecompileARResourceGroup(const AssetsCatalog& catalog, const char* name) {
  DecompiledFacet decompiled;
  if (!DecompiledFacet_Begin(catalog, "AR resource group", name, kGroupExtension, decompiled)) {
    return false;
  }
  const Facet* facet = decompiled.facet;
  JsonEntryList json{decompiled.contents};
  if (json.file != nullptr) {
    std::fputs("{\n", json.file);
    ContentsJson_WriteInfo(json.file);
    std::fputs("    \"resources\": [\n", json.file);
  }
  for (int32_t i = 0; i < facet->rendition_count; ++i) {
    DecompileGroupRendition(catalog, name, facet->renditions[i], json);
  }
  if (json.file != nullptr) {
    JsonEntryList_Finish(json);
    std::fputs("    ]\n", json.file);
    std::fputs("}\n", json.file);
  }
  DecompiledFacet_End(decompiled);
  return true;
}

bool AssetsCatalog_DecompileARReferenceImage(const AssetsCatalog& catalog, const char* name) {
  DecompiledFacet decompiled;
  if (!DecompiledFacet_Begin(catalog, "AR reference image", name, kImageExtension, decompiled)) {
    return false;
  }
  const Facet* facet = decompiled.facet;
  JsonEntryList json{decompiled.contents};
  if (json.file != nullptr) {
    std::fputs("{\n", json.file);
    std::fputs("    \"images\": [\n", json.file);
  }
  for (int32_t i = 0; i < facet->rendition_count; ++i) {
    DecompileImageRendition(catalog, name, facet->renditions[i], json);
  }
  if (json.file != nullptr) {
    JsonEntryList_Finish(json);
    std::fputs("    ],\n", json.file);
    ContentsJson_WriteInfo(json.file);
    std::fputs("    \"properties\": {\n", json.file);
    WriteProperties(json.file, catalog, name, facet->renditions[facet->rendition_count - 1]);
    std::fputs("    }\n", json.file);
    std::fputs("}", json.file);
  }
  DecompiledFacet_End(decompiled);
  return true;
}

}  // namespace skarvel
