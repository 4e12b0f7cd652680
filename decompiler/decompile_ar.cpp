#include "decompiler/decompile_ar.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/bytes.h"
#include "base/file_system.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "decompiler/decompiler.h"

namespace skarvel {

namespace {

constexpr char kGroupExtension[] = ".arresourcegroup";
constexpr char kImageExtension[] = ".arreferenceimage";

// A "Contents.json" being written. Each entry's closing brace waits for the
// next entry (which adds the comma) or for the end of the list, so the last
// entry written has none whatever was skipped after it.
struct EntryList {
  FILE* file = nullptr;
  bool entry_open = false;
};

void EntryList_Begin(EntryList& list) {
  if (list.entry_open) std::fputs(",\n", list.file);
  std::fputs("        {\n", list.file);
}

void EntryList_End(EntryList& list) {
  std::fputs("        }", list.file);
  list.entry_open = true;
}

// Closes the last entry before the list's closing bracket.
void EntryList_Finish(EntryList& list) {
  if (list.entry_open) std::fputs("\n", list.file);
  list.entry_open = false;
}

// The decompiled directory for facet `name`, entered. False (after a
// warning naming `kind`) when it cannot be named or entered.
bool EnterFacetDirectory(const char* kind, const char* name, const char* extension,
                         DecompileDirectory& directory) {
  char directory_name[kDecompiledNameSize];
  bool replaced = false;
  if (!DecompiledDirectoryName(name, extension, directory_name, replaced)) {
    std::fprintf(stderr, "Warning: %s '%s' has a name too long for a directory! ignoring.\n", kind,
                 name);
    return false;
  }
  if (replaced) {
    std::fprintf(stderr, "Warning: %s '%s' has path separators in its name! writing it as '%s'.\n",
                 kind, name, directory_name);
  }
  if (!DecompileDirectory_Enter(directory_name, directory)) {
    std::fprintf(stderr, "Warning: failed to create directory '%s' for %s '%s'! ignoring.\n",
                 directory_name, kind, name);
    return false;
  }
  return true;
}

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
                         RenditionRef ref, EntryList& json) {
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
    EntryList_Begin(json);
    std::fputs("            \"filename\": \"", json.file);
    ContentsJson_WriteText(json.file, directory_name);
    std::fputs("\"\n", json.file);
    EntryList_End(json);
  }
  (void)AssetsCatalog_DecompileARReferenceImage(catalog, name);
}

void DecompileGroupRendition(const AssetsCatalog& catalog, const char* group, RenditionRef ref,
                             EntryList& json) {
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
  if (unit != 0) std::fprintf(file, "        \"unit\": \"%s\",\n", UnitName(unit));
  std::fprintf(file, "        \"width\": %f\n", static_cast<double>(width));
}

bool HasImagePayload(const BOMBlock& block) {
  uint64_t at = 0;
  uint64_t size = 0;
  if (CSI_Header(block) == nullptr || !CSI_PayloadRange(block, at, size) || size < 4) {
    return false;
  }
  return std::memcmp(block.data + at, "MLEC", 4) == 0;
}

void DecompileImageRendition(const AssetsCatalog& catalog, const char* name, RenditionRef ref,
                             EntryList& json) {
  const BOMBlock* value = BOMStore_Block(catalog.store, ref.value_block);
  if (value == nullptr || !HasImagePayload(*value)) {
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
    EntryList_Begin(json);
    std::fprintf(json.file, "            \"idiom\": \"%s\",\n", idiom_name);
    std::fputs("            \"filename\": \"", json.file);
    ContentsJson_WriteText(json.file, file_name);
    std::fputs("\"\n", json.file);
    EntryList_End(json);
  }
  Image image;
  if (!CSI_DecodeImage(*value, image)) {
    std::fprintf(stderr, "Warning: failed to extract image for rendition '%s'\n", rendition_name);
    return;
  }
  WriteDecompiledImage(file_name, image.pixel_format, image.pixels.bytes(), image.width,
                       image.height, image.stride);
}

}  // namespace

bool AssetsCatalog_DecompileARResourceGroup(const AssetsCatalog& catalog, const char* name) {
  const Facet* facet = AssetsCatalog_FindFacetByName(catalog, name);
  if (facet == nullptr || facet->rendition_count <= 0) {
    std::fprintf(stderr, "Warning: AR resource group '%s' has no rendition! ignoring.\n", name);
    return false;
  }
  DecompileDirectory directory;
  if (!EnterFacetDirectory("AR resource group", name, kGroupExtension, directory)) return false;

  EntryList json;
  json.file = OpenFile("Contents.json", "wb");
  if (json.file == nullptr) {
    std::fprintf(stderr, "Warning: failed to create Contents.json for AR resource group '%s'\n",
                 name);
  } else {
    std::fputs("{\n", json.file);
    std::fputs("    \"info\": {\n", json.file);
    std::fputs("        \"version\": 1,\n", json.file);
    std::fputs("        \"author\": \"xcode\"\n", json.file);
    std::fputs("    },\n", json.file);
    std::fputs("    \"resources\": [\n", json.file);
  }
  for (int32_t i = 0; i < facet->rendition_count; ++i) {
    DecompileGroupRendition(catalog, name, facet->renditions[i], json);
  }
  if (json.file != nullptr) {
    EntryList_Finish(json);
    std::fputs("    ]\n", json.file);
    std::fputs("}\n", json.file);
    std::fclose(json.file);
  }
  DecompileDirectory_Leave(directory);
  return true;
}

bool AssetsCatalog_DecompileARReferenceImage(const AssetsCatalog& catalog, const char* name) {
  const Facet* facet = AssetsCatalog_FindFacetByName(catalog, name);
  if (facet == nullptr || facet->rendition_count <= 0) {
    std::fprintf(stderr, "Warning: AR reference image '%s' has no rendition! ignoring.\n", name);
    return false;
  }
  DecompileDirectory directory;
  if (!EnterFacetDirectory("AR reference image", name, kImageExtension, directory)) return false;

  EntryList json;
  json.file = OpenFile("Contents.json", "wb");
  if (json.file == nullptr) {
    std::fprintf(stderr, "Warning: failed to create Contents.json for AR reference image '%s'\n",
                 name);
  } else {
    std::fputs("{\n", json.file);
    std::fputs("    \"images\": [\n", json.file);
  }
  for (int32_t i = 0; i < facet->rendition_count; ++i) {
    DecompileImageRendition(catalog, name, facet->renditions[i], json);
  }
  if (json.file != nullptr) {
    EntryList_Finish(json);
    std::fputs("    ],\n", json.file);
    std::fputs("    \"info\": {\n", json.file);
    std::fputs("        \"version\": 1,\n", json.file);
    std::fputs("        \"author\": \"xcode\"\n", json.file);
    std::fputs("    },\n", json.file);
    std::fputs("    \"properties\": {\n", json.file);
    WriteProperties(json.file, catalog, name, facet->renditions[facet->rendition_count - 1]);
    std::fputs("    }\n", json.file);
    std::fputs("}", json.file);
    std::fclose(json.file);
  }
  DecompileDirectory_Leave(directory);
  return true;
}

}  // namespace skarvel
