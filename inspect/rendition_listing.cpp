// The rendition value printer: the CSI header field by field, each
// information subblock, then the payload.

#include <bit>
#include <cstring>

#include "catalog/rendition_attribute.h"
#include "csi/csi_format.h"
#include "inspect/block_listing.h"
#include "inspect/listing_fields.h"
#include "inspect/listing_names.h"

namespace skarvel {

namespace {

constexpr const char* kField = "      ";
constexpr const char* kEntry = "        ";

float F32(const FieldReader& f, uint64_t offset) {
  return std::bit_cast<float>(Fields_U32(f, offset));
}

const char* Not(uint32_t flags, uint32_t bit) { return (flags & bit) != 0 ? "" : "!"; }

void PrintHeader(FieldReader& f) {
  FILE* out = f.out;
  const char* in = "  ";
  if (!Fields_Have(f, 0, 4, in)) return;
  PrintCode(out, "  + magic: \"", f.bytes.data(), "\" (CoreTheme Structured Image)\n");
  if (Fields_Have(f, 4, 4, in)) std::fprintf(out, "  + version: %d\n", Fields_I32(f, 4));
  if (Fields_Have(f, 8, 4, in)) {
    const uint32_t flags = Fields_U32(f, 8);
    std::fprintf(
        out, "  + flags: 0x%08x [bitmap encoding %x] [%sopaque %svector %snofilter %sfpo]\n", flags,
        (flags >> 4) & 0xF, Not(flags, 8), Not(flags, 4), Not(flags, 2), Not(flags, 1));
  }
  if (Fields_Have(f, 12, 4, in)) std::fprintf(out, "  + image width: %d\n", Fields_I32(f, 12));
  if (Fields_Have(f, 16, 4, in)) std::fprintf(out, "  + image height: %d\n", Fields_I32(f, 16));
  if (Fields_Have(f, 20, 4, in)) {
    std::fprintf(out, "  + scaling percentage: %d%%\n", Fields_I32(f, 20));
  }
  if (Fields_Have(f, 24, 4, in)) {
    const uint8_t* code = f.bytes.data() + 24;
    std::fprintf(out, "  + channel order: %c%c%c%c (%s)\n", CodeChar(code[0]), CodeChar(code[1]),
                 CodeChar(code[2]), CodeChar(code[3]), PixelFormatDescription(code));
  }
  if (Fields_Have(f, 28, 4, in)) {
    const uint32_t colorspace = Fields_U32(f, 28);
    std::fprintf(out, "  + colorspace ID: %d (%s)\n", static_cast<int32_t>(colorspace),
                 ColorspaceName(colorspace));
  }
  if (Fields_Have(f, 32, 4, in))
    std::fprintf(out, "  + modification date: %u\n", Fields_U32(f, 32));
  if (Fields_Have(f, 36, 4, in)) {
    std::fprintf(out, "  + layout or rendition type ???: %d\n", Fields_I32(f, 36));
  }
  if (Fields_Have(f, 40, 128, in)) {
    const uint64_t size = f.bytes.size();
    const bool tile_packed = Range_Fits(180, 4, size) &&
                             static_cast<int32_t>(Fields_U32(f, 16)) >= 1 &&
                             Fields_U32(f, 180) == 0;
    std::fputs("  + name: \"", out);
    PrintFieldText(out, f.bytes.subspan(40, 128), false);
    std::fprintf(out, "\"%s\n", tile_packed ? " (tile-packed in another block)" : "");
  }
  if (Fields_Have(f, 168, 4, in)) {
    std::fprintf(out, "  + all subblocks size: %d bytes\n", Fields_I32(f, 168));
  }
  if (Fields_Have(f, 172, 4, in)) {
    std::fprintf(out, "  + bitmap count (??? unsure): %d\n", Fields_I32(f, 172));
  }
  if (Fields_Have(f, 176, 4, in)) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", Fields_U32(f, 176), Fields_U32(f, 176));
  }
  if (Fields_Have(f, 180, 4, in)) std::fprintf(out, "  + %d bytes payload\n", Fields_I32(f, 180));
}

// `s` covers one whole subblock, head included; offsets are from its start.
void PrintSlices(FieldReader& s) {
  if (!Fields_Have(s, 8, 4, kField)) return;
  const uint32_t count = Fields_U32(s, 8);
  std::fprintf(s.out, "      + slice count: %d slices\n", static_cast<int32_t>(count));
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = 12 + 16 * uint64_t{k};
    if (!Fields_Have(s, at, 16, kEntry)) return;
    std::fprintf(s.out, "        + slice %d X/Y: %d,%d px, width/height: %d,%d px\n",
                 static_cast<int>(k), Fields_I32(s, at), Fields_I32(s, at + 4),
                 Fields_I32(s, at + 8), Fields_I32(s, at + 12));
  }
}

void PrintMetrics(FieldReader& s) {
  if (!Fields_Have(s, 8, 4, kField)) return;
  const uint32_t count = Fields_U32(s, 8);
  std::fprintf(s.out, "      + metric count: %d metrics\n", static_cast<int32_t>(count));
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = 12 + 24 * uint64_t{k};
    if (!Fields_Have(s, at, 24, kEntry)) return;
    const int n = static_cast<int>(k);
    std::fprintf(s.out, "        + metric %d top right inset width/height: %d,%d px\n", n,
                 Fields_I32(s, at), Fields_I32(s, at + 4));
    std::fprintf(s.out, "        + metric %d bottom left inset width/height: %d,%d px\n", n,
                 Fields_I32(s, at + 8), Fields_I32(s, at + 12));
    std::fprintf(s.out, "        + metric %d inner width/height: %d,%d px\n", n,
                 Fields_I32(s, at + 16), Fields_I32(s, at + 20));
  }
}

void PrintComposition(FieldReader& s) {
  if (Fields_Have(s, 8, 4, kField)) {
    const uint32_t mode = Fields_U32(s, 8);
    std::fprintf(s.out, "      + blend mode: %d (%s)\n", static_cast<int32_t>(mode),
                 BlendModeName(mode));
  }
  if (Fields_Have(s, 12, 4, kField)) {
    std::fprintf(s.out, "      + opacity: %f\n", static_cast<double>(F32(s, 12)));
  }
}

void PrintOrientation(FieldReader& s) {
  if (!Fields_Have(s, 8, 4, kField)) return;
  const uint32_t orientation = Fields_U32(s, 8);
  std::fprintf(s.out, "      + EXIF orientation: %d (%s)\n", static_cast<int32_t>(orientation),
               OrientationName(orientation));
}

void PrintBytesPerLine(FieldReader& s) {
  if (!Fields_Have(s, 8, 4, kField)) return;
  std::fprintf(s.out, "      + scanline size: %d bytes\n", Fields_I32(s, 8));
}

void PrintReference(FieldReader& s) {
  FILE* out = s.out;
  if (!Fields_Have(s, 8, 4, kField)) return;
  PrintCode(out, "      + magic: \"", s.bytes.data() + 8, "\" (reference)\n");
  if (Fields_Have(s, 12, 4, kField)) {
    std::fprintf(out, "      + reserved: 0x%08x (%u)\n", Fields_U32(s, 12), Fields_U32(s, 12));
  }
  if (Fields_Have(s, 16, 8, kField)) {
    std::fprintf(out, "      + texture left/bottom shift: %d,%d px\n", Fields_I32(s, 16),
                 Fields_I32(s, 20));
  }
  if (Fields_Have(s, 24, 8, kField)) {
    std::fprintf(out, "      + width/height: %d,%d px\n", Fields_I32(s, 24), Fields_I32(s, 28));
  }
  if (Fields_Have(s, 32, 2, kField)) std::fprintf(out, "      + layout: %d\n", Fields_U16(s, 32));
  if (!Fields_Have(s, 34, 4, kField)) return;
  const uint32_t length = Fields_U32(s, 34);
  std::fprintf(out, "      + key/values length: %d bytes\n", static_cast<int32_t>(length));
  // The length counts the pairs and a 4-byte terminator; below 8 there is no pair.
  const uint32_t pairs = length < 8 ? 0 : length / 4 - 1;
  for (uint32_t k = 0; k < pairs; ++k) {
    const uint64_t at = 38 + 4 * uint64_t{k};
    if (!Fields_Have(s, at, 4, kEntry)) return;
    const uint16_t attribute = Fields_U16(s, at);
    const uint16_t value = Fields_U16(s, at + 2);
    const char* attribute_name = "???";
    const char* value_name = "???";
    RenditionAttribute_GetNames(attribute, value, &attribute_name, &value_name);
    std::fprintf(out, "        + [%d]: %d (%s) = %d (%s)\n", static_cast<int>(k), attribute,
                 attribute_name, value, value_name);
  }
}

void PrintNameList(FieldReader& s) {
  FILE* out = s.out;
  if (!Fields_Have(s, 8, 4, kField)) return;
  const uint32_t count = Fields_U32(s, 8);
  std::fprintf(out, "      + name count: %d\n", static_cast<int32_t>(count));
  if (!Fields_Have(s, 12, 4, kField)) return;
  std::fprintf(out, "      + reserved: 0x%08x (%u)\n", Fields_U32(s, 12), Fields_U32(s, 12));
  uint64_t at = 16;
  for (uint32_t k = 0; k < count; ++k) {
    if (!Fields_Have(s, at, 4, kEntry)) return;
    const uint32_t length = Fields_U32(s, at);
    if (!Fields_Have(s, at + 4, length, kEntry)) return;
    std::fprintf(out, "        + name %d: \"", static_cast<int>(k));
    PrintFieldText(out, s.bytes.subspan(at + 4, length), false);
    std::fputs("\"\n", out);
    at += 4 + uint64_t{length};
  }
}

void PrintProperties(FieldReader& s) {
  if (Fields_Have(s, 8, 4, kField)) {
    const uint32_t unit = Fields_U32(s, 8);
    std::fprintf(s.out, "      + unit: %d (%s)\n", static_cast<int32_t>(unit), UnitName(unit));
  }
  if (Fields_Have(s, 12, 4, kField)) {
    std::fprintf(s.out, "      + width: %f (units)\n", static_cast<double>(F32(s, 12)));
  }
  if (Fields_Have(s, 16, 4, kField)) {
    std::fprintf(s.out, "      + height: %f (units)\n", static_cast<double>(F32(s, 16)));
  }
}

const char* SubblockName(uint32_t id) {
  switch (static_cast<CSIInfoID>(id)) {
    case CSIInfoID::Slices:
      return "slices";
    case CSIInfoID::Metrics:
      return "metrics";
    case CSIInfoID::Composition:
      return "composition";
    case CSIInfoID::Orientation:
      return "orientation";
    case CSIInfoID::BytesPerLine:
      return "bytes per line";
    case CSIInfoID::Reference:
      return "reference";
    case CSIInfoID::NameList:
      return "name list";
    case CSIInfoID::Properties:
      return "properties";
  }
  return "??? UNKNOWN VALUE";
}

// Prints the fields of a subblock that lies inside its block.
void PrintSubblockFields(FILE* out, std::span<const uint8_t> subblock, uint32_t id,
                         uint32_t length) {
  FieldReader s{.out = out, .bytes = subblock};
  switch (static_cast<CSIInfoID>(id)) {
    case CSIInfoID::Slices:
      PrintSlices(s);
      return;
    case CSIInfoID::Metrics:
      PrintMetrics(s);
      return;
    case CSIInfoID::Composition:
      PrintComposition(s);
      return;
    case CSIInfoID::Orientation:
      PrintOrientation(s);
      return;
    case CSIInfoID::BytesPerLine:
      PrintBytesPerLine(s);
      return;
    case CSIInfoID::Reference:
      PrintReference(s);
      return;
    case CSIInfoID::NameList:
      PrintNameList(s);
      return;
    case CSIInfoID::Properties:
      PrintProperties(s);
      return;
  }
  if (length != 0) std::fputs("      + UNKNOWN DATA\n", out);
}

bool CodeIs(std::span<const uint8_t> bytes, uint64_t offset, const char* code) {
  return Range_Fits(offset, 4, bytes.size()) && std::memcmp(bytes.data() + offset, code, 4) == 0;
}

void PrintScalingInfo(FieldReader& f, uint64_t p) {
  FILE* out = f.out;
  PrintCode(out, "    + SISM magic: \"", f.bytes.data() + p, "\" (scaling information)\n");
  if (Fields_Have(f, p + 4, 4, "    "))
    std::fprintf(out, "    + SISM version: %d\n", Fields_I32(f, p + 4));
  if (!Fields_Have(f, p + 8, 4, "    ")) return;
  const uint32_t count = Fields_U32(f, p + 8);
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = p + 12 + 12 * uint64_t{k};
    if (!Fields_Have(f, at, 12, kField)) return;
    std::fprintf(out, "      + scale %d: %dx%d => %d\n", static_cast<int>(k), Fields_I32(f, at),
                 Fields_I32(f, at + 4), Fields_I32(f, at + 8));
  }
}

void PrintElement(FieldReader& f, uint64_t p, uint32_t payload_size, uint32_t index,
                  const BOMBlock& block, const char* name, const ListingHooks& hooks) {
  FILE* out = f.out;
  const bool chunked = p + kCSIChunkHeaderSize < f.bytes.size() && CodeIs(f.bytes, p + 16, "KCBC");
  PrintCode(out, "    + CoreUI element magic: \"", f.bytes.data() + p, "\"\n");
  if (Fields_Have(f, p + 4, 4, "    ")) {
    const uint32_t flags = Fields_U32(f, p + 4);
    std::fprintf(out, "    + CoreUI element flags: 0x%08x [%snoalpha %sunknown0]\n", flags,
                 Not(flags, 2), Not(flags, 1));
  }
  if (Fields_Have(f, p + 8, 4, "    ")) {
    const uint32_t method = Fields_U32(f, p + 8);
    std::fprintf(out, "    + CoreUI element compression method: %d (%s)\n",
                 static_cast<int32_t>(method), CompressionMethodName(method));
  }
  if (Fields_Have(f, p + 12, 4, "    ")) {
    std::fprintf(out, "    + CoreUI element %s: %d %s\n", chunked ? "chunk count" : "payload size",
                 Fields_I32(f, p + 12), chunked ? "chunks" : "bytes");
  }
  if (!Fields_Have(f, p, payload_size, "    ")) return;
  if (hooks.extract_image != nullptr) {
    hooks.extract_image(hooks.context, out, index, block, name);
  } else {
    std::fputs("    + Image data\n", out);
  }
}

void PrintRawData(FieldReader& f, uint64_t p, uint32_t index, const BOMBlock& block,
                  const char* name, const ListingHooks& hooks) {
  FILE* out = f.out;
  PrintCode(out, "    + RAWD magic: \"", f.bytes.data() + p, "\" (raw data)\n");
  if (Fields_Have(f, p + 4, 4, "    ")) {
    std::fprintf(out, "    + RAWD reserved: 0x%08x (%d)\n", Fields_U32(f, p + 4),
                 Fields_I32(f, p + 4));
  }
  if (!Fields_Have(f, p + 8, 4, "    ")) return;
  const uint32_t size = Fields_U32(f, p + 8);
  std::fprintf(out, "    + RAWD payload size: %d bytes\n", static_cast<int32_t>(size));
  if (!Fields_Have(f, p + 12, size, "    ")) return;
  if (hooks.extract_raw != nullptr) {
    hooks.extract_raw(hooks.context, out, index, block, name, f.bytes.subspan(p + 12, size));
  }
}

}  // namespace

uint64_t Rendition_Print(FILE* out, const AssetsCatalog& catalog, uint32_t index,
                         const BOMBlock& block, const ListingHooks& hooks) {
  (void)catalog;
  FieldReader f{.out = out, .bytes = block.bytes()};
  PrintHeader(f);
  if (f.stopped) return f.decoded;

  const uint64_t p = kCSIHeaderSize + Fields_U32(f, 168);
  uint64_t offset = kCSIHeaderSize;
  while (offset < p) {
    if (!Fields_Have(f, offset, kCSISubblockHeadSize, "    ")) return f.decoded;
    const uint32_t id = Fields_U32(f, offset);
    const uint32_t length = Fields_U32(f, offset + 4);
    std::fprintf(out, "    + subblock ID: %d (%s) - %d bytes payload\n", static_cast<int32_t>(id),
                 SubblockName(id), static_cast<int32_t>(length));
    // Contents running past the block are not decoded: they and everything
    // after them appear as extra data.
    if (!Fields_Have(f, offset + kCSISubblockHeadSize, length, kField)) return f.decoded;
    const uint64_t total = kCSISubblockHeadSize + length;
    PrintSubblockFields(out, f.bytes.subspan(offset, total), id, length);
    offset += total;
  }

  const uint32_t payload_size = Fields_U32(f, 180);
  if (payload_size == 0) return p > f.decoded ? p : f.decoded;
  if (!Fields_Have(f, p, 4, "    ")) return f.decoded;

  char name[sizeof(CSIHeader::name) + 1] = {};
  std::memcpy(name, f.bytes.data() + offsetof(CSIHeader, name), sizeof(CSIHeader::name));

  if (CodeIs(f.bytes, p, "SISM")) {
    PrintScalingInfo(f, p);
  } else if (CodeIs(f.bytes, p, "MLEC")) {
    PrintElement(f, p, payload_size, index, block, name, hooks);
  } else if (CodeIs(f.bytes, p, "DWAR")) {
    PrintRawData(f, p, index, block, name, hooks);
  } else {
    PrintCode(out, "    + ??? UNKNOWN PAYLOAD: magic: \"", f.bytes.data() + p, "\"\n");
    return p;
  }
  return f.decoded;
}

}  // namespace skarvel
