#include "inspect/catalog_info.h"

#include <cstring>

#include "base/bytes.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_format.h"
#include "inspect/listing_fields.h"

namespace skarvel {

namespace {

// The values a rendition key leaves for the value block that follows it.
// Before the first key every one of them is -1, as for a key that lacks them.
struct Remembered {
  int32_t idiom = -1;
  int32_t facet_id = -1;
  int32_t dimension2 = -1;
};

int32_t I32At(std::span<const uint8_t> bytes, uint64_t offset) {
  return static_cast<int32_t>(LoadU32LEAt(bytes, offset));
}

int NameLength(std::span<const uint8_t> bytes) {
  const auto* name = reinterpret_cast<const char*>(bytes.data() + offsetof(CSIHeader, name));
  return static_cast<int>(strnlen(name, sizeof(CSIHeader::name)));
}

void PrintScales(FILE* out, std::span<const uint8_t> bytes, uint64_t p) {
  std::fprintf(out, "%11sscales", "");
  bool complete = Range_Fits(p + 8, 4, bytes.size());
  const uint32_t count = complete ? LoadU32LEAt(bytes, p + 8) : 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = p + 12 + 12 * uint64_t{k};
    if (!Range_Fits(at, 12, bytes.size())) {
      complete = false;
      break;
    }
    std::fprintf(out, " %dx%d=%d", I32At(bytes, at), I32At(bytes, at + 4), I32At(bytes, at + 8));
  }
  std::fputs(complete ? "\n" : " ???\n", out);
}

// The last reference subblock (one long enough for its geometry) of the
// chain; subblocks that run past the block end the walk.
bool FindReference(std::span<const uint8_t> bytes, uint64_t p, uint64_t& found) {
  bool have = false;
  uint64_t offset = kCSIHeaderSize;
  while (offset < p && Range_Fits(offset, kCSISubblockHeadSize, bytes.size())) {
    const uint32_t id = LoadU32LEAt(bytes, offset);
    const uint32_t length = LoadU32LEAt(bytes, offset + 4);
    if (!Range_Fits(offset + kCSISubblockHeadSize, length, bytes.size())) break;
    if (id == static_cast<uint32_t>(CSIInfoID::Reference) && length >= 24) {
      found = offset;
      have = true;
    }
    offset += kCSISubblockHeadSize + length;
  }
  return have;
}

void PrintValueLine(FILE* out, uint32_t index, const BOMBlock& block, const Remembered& r) {
  const char* idiom = "???";
  RenditionAttribute_GetNames(kAttrIdiom, r.idiom, nullptr, &idiom);
  if (std::strncmp(idiom, "ios-", 4) == 0) idiom += 4;
  std::fprintf(out, "% 4d%6d %-9s", static_cast<int32_t>(index), r.facet_id, idiom);

  const std::span<const uint8_t> bytes = block.bytes();
  if (bytes.size() < kCSIHeaderSize) {
    std::fprintf(out, "%12sUNKNOWN\n", "");
    return;
  }
  const int32_t width = I32At(bytes, 12);
  const int32_t height = I32At(bytes, 16);
  const uint64_t p = kCSIHeaderSize + LoadU32LEAt(bytes, 168);
  const uint32_t payload_size = LoadU32LEAt(bytes, 180);
  const int name_length = NameLength(bytes);
  const char* name = reinterpret_cast<const char*>(bytes.data() + offsetof(CSIHeader, name));

  if (payload_size != 0 && width > 0 && height > 0) {
    if (Range_Fits(p + 12, 4, bytes.size())) {
      std::fprintf(out, "% 5d% 5d %.*s (%d chunks)\n", width, height, name_length, name,
                   I32At(bytes, p + 12));
    } else {
      std::fprintf(out, "% 5d% 5d %.*s (??? chunks)\n", width, height, name_length, name);
    }
    return;
  }
  if (payload_size != 0) {
    // Only a scaling-information record holds scales; any other payload of a
    // rendition without dimensions (raw data, colours...) is not described.
    if (CodeAt(bytes, p, "SISM")) {
      PrintScales(out, bytes, p);
    } else {
      std::fprintf(out, "%12sUNKNOWN\n", "");
    }
    return;
  }
  uint64_t reference = 0;
  if (!FindReference(bytes, p, reference)) {
    std::fprintf(out, "%12sUNKNOWN\n", "");
    return;
  }
  // Wide enough for four 32-bit numbers at their longest.
  char text[64];
  std::snprintf(text, sizeof text, "%dx%d @%d,%d", I32At(bytes, reference + 24),
                I32At(bytes, reference + 28), I32At(bytes, reference + 16),
                I32At(bytes, reference + 20));
  std::fprintf(out, "%11s%d) %-16s%.*s\n", "", r.dimension2, text, name_length, name);
}

}  // namespace

void Info_Print(FILE* out, const AssetsCatalog& catalog, const char* input, bool all) {
  std::fprintf(out, "\nContents of %s...\n", input);
  std::fputs("Rendition blocks:\n\n", out);
  Remembered remembered;
  bool line_open = false;
  for (uint64_t i = 0; i < catalog.store.count; ++i) {
    const BOMBlock& block = catalog.store.blocks[i];
    if ((block.data == nullptr || block.size == 0) && !all) continue;
    const auto index = static_cast<uint32_t>(i);
    if (block.kind == BlockKind::RenditionKey) {
      remembered.idiom = RenditionKey_GetAttribute(catalog, block, kAttrIdiom);
      remembered.facet_id = RenditionKey_GetAttribute(catalog, block, kAttrFacetId);
      remembered.dimension2 = RenditionKey_GetAttribute(catalog, block, kAttrDimension2);
      std::fprintf(out, "% 4d", static_cast<int32_t>(index));
      line_open = true;
    } else if (block.kind == BlockKind::RenditionValue) {
      PrintValueLine(out, index, block, remembered);
      line_open = false;
    }
  }
  // A key with no value after it would leave its line unfinished.
  if (line_open) std::fputc('\n', out);
}

}  // namespace skarvel
