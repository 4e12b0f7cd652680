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
    const uint32_t layout = Fields_U32(f, 36);
    if (const char* name = NewerLayoutName(layout)) {
      std::fprintf(out, "  + layout or rendition type ???: %d (%s)\n", static_cast<int32_t>(layout),
                   name);
    } else {
      std::fprintf(out, "  + layout or rendition type ???: %d\n", static_cast<int32_t>(layout));
    }
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

void PrintReference(FieldReader& s, const AssetsCatalog& catalog) {
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
    PrintAttributePair(out, kEntry, k, catalog, Fields_U16(s, at), Fields_U16(s, at + 2));
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

// The key of a layer: (attribute, value) pairs up to a (0, 0) pair or the
// end of its L bytes.
void PrintLayerKey(FieldReader& s, uint64_t at, uint32_t length, const AssetsCatalog& catalog) {
  for (uint32_t k = 0; 4 * uint64_t{k} + 4 <= length; ++k) {
    const uint64_t pair = at + 4 * uint64_t{k};
    if (!Fields_Have(s, pair, 4, "          ")) return;
    const uint16_t attribute = Fields_U16(s, pair);
    const uint16_t value = Fields_U16(s, pair + 2);
    if (attribute == 0 && value == 0) return;
    PrintAttributePair(s.out, "          ", k, catalog, attribute, value);
  }
}

void PrintUTI(FieldReader& s) {
  if (!Fields_Have(s, 8, 8, kField)) return;
  const uint32_t length = Fields_U32(s, 8);
  std::fprintf(s.out, "      + UTI length: %d bytes\n", static_cast<int32_t>(length));
  std::fprintf(s.out, "      + flags: 0x%08x (%u)\n", Fields_U32(s, 12), Fields_U32(s, 12));
  if (!Fields_Have(s, 16, length, kField)) return;
  std::fputs("      + UTI: \"", s.out);
  PrintFieldText(s.out, s.bytes.subspan(16, length), false);
  std::fputs("\"\n", s.out);
}

// Layers of a layered image: frame, blend mode, opacity and the short key of
// the rendition each layer draws.
void PrintLayerReferences(FieldReader& s, const AssetsCatalog& catalog) {
  FILE* out = s.out;
  if (!Fields_Have(s, 8, 8, kField)) return;
  const uint32_t count = Fields_U32(s, 8);
  std::fprintf(out, "      + layer count: %d\n", static_cast<int32_t>(count));
  std::fprintf(out, "      + flags: 0x%08x (%u)\n", Fields_U32(s, 12), Fields_U32(s, 12));
  uint64_t at = 16;
  for (uint32_t k = 0; k < count; ++k) {
    if (!Fields_Have(s, at, 32, kEntry)) return;
    const int n = static_cast<int>(k);
    const uint32_t mode = Fields_U32(s, at + 20);
    std::fprintf(out, "        + layer %d flags: 0x%08x\n", n, Fields_U32(s, at));
    std::fprintf(out, "        + layer %d X/Y: %d,%d px, width/height: %d,%d px\n", n,
                 Fields_I32(s, at + 4), Fields_I32(s, at + 8), Fields_I32(s, at + 12),
                 Fields_I32(s, at + 16));
    std::fprintf(out, "        + layer %d blend mode: %d (%s), opacity: %f\n", n,
                 static_cast<int32_t>(mode), BlendModeName(mode),
                 static_cast<double>(F32(s, at + 24)));
    const uint32_t length = Fields_U32(s, at + 28);
    std::fprintf(out, "        + layer %d key: %d bytes\n", n, static_cast<int32_t>(length));
    if (!Fields_Have(s, at + 32, length, kEntry)) return;
    PrintLayerKey(s, at + 32, length, catalog);
    at += 32 + uint64_t{length};
  }
}

void PrintLayerFills(FieldReader& s) {
  FILE* out = s.out;
  if (!Fields_Have(s, 8, 8, kField)) return;
  const uint32_t count = Fields_U32(s, 8);
  std::fprintf(out, "      + layer count: %d\n", static_cast<int32_t>(count));
  std::fprintf(out, "      + reserved: 0x%08x (%u)\n", Fields_U32(s, 12), Fields_U32(s, 12));
  uint64_t at = 16;
  for (uint32_t k = 0; k < count; ++k) {
    if (!Fields_Have(s, at, 12, kEntry)) return;
    const uint32_t length = Fields_U32(s, at + 8);
    if (!Fields_Have(s, at + 12, length, kEntry)) return;
    std::fprintf(out, "        + layer %d fill: kind %d, value 0x%08x, name \"",
                 static_cast<int>(k), Fields_I32(s, at), Fields_U32(s, at + 4));
    PrintFieldText(out, s.bytes.subspan(at + 12, length), false);
    std::fputs("\"\n", out);
    at += 12 + uint64_t{length};
  }
}

void PrintLayerEffects(FieldReader& s) {
  FILE* out = s.out;
  if (!Fields_Have(s, 8, 8, kField)) return;
  const uint32_t count = Fields_U32(s, 8);
  std::fprintf(out, "      + layer count: %d\n", static_cast<int32_t>(count));
  std::fprintf(out, "      + reserved: 0x%08x (%u)\n", Fields_U32(s, 12), Fields_U32(s, 12));
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = 16 + 20 * uint64_t{k};
    if (!Fields_Have(s, at, 20, kEntry)) return;
    std::fprintf(out, "        + layer %d settings: %d, %f, %d, %f, %d\n", static_cast<int>(k),
                 Fields_I32(s, at), static_cast<double>(F32(s, at + 4)), Fields_I32(s, at + 8),
                 static_cast<double>(F32(s, at + 12)), Fields_I32(s, at + 16));
  }
}

// Subblocks known by name whose contents are not decoded here.
constexpr uint32_t kUTI = 1005;
constexpr uint32_t kLayerReferences = 1012;
constexpr uint32_t kLayerFills = 1020;
constexpr uint32_t kLayerEffects = 1021;

// Prints the fields of a subblock that lies inside its block.
void PrintSubblockFields(FILE* out, std::span<const uint8_t> subblock, uint32_t id, uint32_t length,
                         const AssetsCatalog& catalog) {
  FieldReader s{.out = out, .bytes = subblock};
  switch (id) {
    case static_cast<uint32_t>(CSIInfoID::Slices):
      PrintSlices(s);
      return;
    case static_cast<uint32_t>(CSIInfoID::Metrics):
      PrintMetrics(s);
      return;
    case static_cast<uint32_t>(CSIInfoID::Composition):
      PrintComposition(s);
      return;
    case static_cast<uint32_t>(CSIInfoID::Orientation):
      PrintOrientation(s);
      return;
    case static_cast<uint32_t>(CSIInfoID::BytesPerLine):
      PrintBytesPerLine(s);
      return;
    case static_cast<uint32_t>(CSIInfoID::Reference):
      PrintReference(s, catalog);
      return;
    case static_cast<uint32_t>(CSIInfoID::NameList):
      PrintNameList(s);
      return;
    case static_cast<uint32_t>(CSIInfoID::Properties):
      PrintProperties(s);
      return;
    case kUTI:
      PrintUTI(s);
      return;
    case kLayerReferences:
      PrintLayerReferences(s, catalog);
      return;
    case kLayerFills:
      PrintLayerFills(s);
      return;
    case kLayerEffects:
      PrintLayerEffects(s);
      return;
    default:
      break;
  }
  if (length == 0) return;
  if (SubblockName(id) != nullptr) {
    std::fprintf(out, "      + contents not decoded (%d bytes)\n", static_cast<int32_t>(length));
  } else {
    std::fputs("      + UNKNOWN DATA\n", out);
  }
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
  const bool chunked = p + kCSIChunkHeaderSize < f.bytes.size() && CodeAt(f.bytes, p + 16, "KCBC");
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
    // Newer catalogs use the word as flags: bit 0 marks LZFSE-compressed data.
    if ((Fields_U32(f, p + 4) & 1) != 0) std::fputs("    + RAWD data is LZFSE-compressed\n", out);
  }
  if (!Fields_Have(f, p + 8, 4, "    ")) return;
  const uint32_t size = Fields_U32(f, p + 8);
  std::fprintf(out, "    + RAWD payload size: %d bytes\n", static_cast<int32_t>(size));
  if (!Fields_Have(f, p + 12, size, "    ")) return;
  if (hooks.extract_raw != nullptr) {
    hooks.extract_raw(hooks.context, out, index, block, name, f.bytes.subspan(p + 12, size));
  }
}

double F64(const FieldReader& f, uint64_t offset) {
  const uint64_t bits =
      uint64_t{Fields_U32(f, offset)} | (uint64_t{Fields_U32(f, offset + 4)} << 32);
  return std::bit_cast<double>(bits);
}

// A colour: colour info, then one f64 per component.
void PrintColor(FieldReader& f, uint64_t p) {
  FILE* out = f.out;
  PrintCode(out, "    + RLOC magic: \"", f.bytes.data() + p, "\" (color)\n");
  if (!Fields_Have(f, p + 4, 12, "    ")) return;
  std::fprintf(out, "    + RLOC version: %d\n", Fields_I32(f, p + 4));
  const uint32_t info = Fields_U32(f, p + 8);
  std::fprintf(out, "    + RLOC color info: 0x%08x [color space %u (%s)]\n", info, info & 0xFF,
               ColorRecordSpaceName(info & 0xFF));
  const uint32_t count = Fields_U32(f, p + 12);
  std::fprintf(out, "    + RLOC component count: %d\n", static_cast<int32_t>(count));
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = p + 16 + 8 * uint64_t{k};
    if (!Fields_Have(f, at, 8, kField)) return;
    std::fprintf(out, "      + component %d: %f\n", static_cast<int>(k), F64(f, at));
  }
}

// A gradient: fill colour, angle, then its colour and opacity nodes.
void PrintGradient(FieldReader& f, uint64_t p) {
  FILE* out = f.out;
  PrintCode(out, "    + DARG magic: \"", f.bytes.data() + p, "\" (gradient)\n");
  if (!Fields_Have(f, p + 4, 76, "    ")) return;
  std::fprintf(out, "    + DARG flags: 0x%08x\n", Fields_U32(f, p + 4));
  const uint32_t list_length = Fields_U32(f, p + 8);
  std::fprintf(out, "    + DARG node list length: %d bytes\n", static_cast<int32_t>(list_length));
  PrintCode(out, "    + DARG style: \"", f.bytes.data() + p + 12, "\"\n");
  std::fprintf(out, "    + DARG version: %d\n", Fields_I32(f, p + 16));
  const uint32_t mode = Fields_U32(f, p + 20);
  std::fprintf(out, "    + DARG blend mode: %d (%s)\n", static_cast<int32_t>(mode),
               BlendModeName(mode));
  std::fprintf(out, "    + DARG fill color: %f,%f,%f,%f\n", F64(f, p + 24), F64(f, p + 32),
               F64(f, p + 40), F64(f, p + 48));
  std::fprintf(out, "    + DARG angle: %f\n", static_cast<double>(F32(f, p + 56)));
  std::fprintf(out, "    + DARG smoothing: %f\n", static_cast<double>(F32(f, p + 60)));
  std::fprintf(out,
               "    + DARG counts: %d color stops, %d color midpoints, %d opacity stops, %d "
               "opacity midpoints\n",
               Fields_I32(f, p + 64), Fields_I32(f, p + 68), Fields_I32(f, p + 72),
               Fields_I32(f, p + 76));
  for (uint32_t k = 0; k < list_length / 72; ++k) {
    const uint64_t at = p + 80 + 72 * uint64_t{k};
    if (!Fields_Have(f, at, 72, kField)) return;
    PrintCode(out, "      + node: \"", f.bytes.data() + at, "\"");
    std::fprintf(out, " at %f:", static_cast<double>(F32(f, at + 4)));
    for (uint64_t v = 0; v < 8; ++v)
      std::fprintf(out, "%s%f", v > 0 ? "," : " ", F64(f, at + 8 + 8 * v));
    std::fputc('\n', out);
  }
}

// A named gradient: its stops name colour renditions.
void PrintNamedGradient(FieldReader& f, uint64_t p) {
  FILE* out = f.out;
  PrintCode(out, "    + ARGG magic: \"", f.bytes.data() + p, "\" (named gradient)\n");
  if (!Fields_Have(f, p + 4, 28, "    ")) return;
  const uint32_t count = Fields_U32(f, p + 4);
  std::fprintf(out, "    + ARGG stop count: %d\n", static_cast<int32_t>(count));
  std::fprintf(out, "    + ARGG type: %d\n", Fields_I32(f, p + 8));
  std::fprintf(out, "    + ARGG reserved: 0x%08x (%u)\n", Fields_U32(f, p + 12),
               Fields_U32(f, p + 12));
  std::fprintf(out, "    + ARGG start point: %f,%f\n", static_cast<double>(F32(f, p + 16)),
               static_cast<double>(F32(f, p + 20)));
  std::fprintf(out, "    + ARGG end point: %f,%f\n", static_cast<double>(F32(f, p + 24)),
               static_cast<double>(F32(f, p + 28)));
  uint64_t at = p + 32;
  for (uint32_t k = 0; k < count; ++k) {
    if (!Fields_Have(f, at, 8, kField)) return;
    const uint32_t length = Fields_U32(f, at + 4);
    if (!Fields_Have(f, at + 8, length, kField)) return;
    std::fprintf(out, "      + stop %d at %f: \"", static_cast<int>(k),
                 static_cast<double>(F32(f, at)));
    PrintFieldText(out, f.bytes.subspan(at + 8, length), false);
    std::fputs("\"\n", out);
    at += 8 + uint64_t{length};
  }
}

// One effect parameter: its value's type follows its id (2 an opacity, 0 and
// 1 colours whose first three bytes are red, green and blue, 6 an angle in
// the low 16 bits, 7 a blend mode given as a number or a four-character
// code); other ids show the word.
void PrintEffectParameter(FieldReader& f, uint64_t at) {
  FILE* out = f.out;
  const uint32_t id = Fields_U32(f, at);
  const uint32_t value = Fields_U32(f, at + 4);
  const uint8_t* bytes = f.bytes.data() + at + 4;
  std::fprintf(out, "        + parameter %d: 0x%08x", static_cast<int32_t>(id), value);
  switch (id) {
    case 0:
    case 1:
      std::fprintf(out, " (color %u,%u,%u)\n", bytes[0], bytes[1], bytes[2]);
      break;
    case 2:
      std::fprintf(out, " (opacity %f)\n", static_cast<double>(std::bit_cast<float>(value)));
      break;
    case 6:
      std::fprintf(out, " (angle %u)\n", value & 0xFFFF);
      break;
    case 7:
      if (value < 256) {
        std::fprintf(out, " (blend mode %u: %s)\n", value, BlendModeName(value));
      } else {
        PrintCode(out, " (blend mode \"", bytes, "\")\n");
      }
      break;
    default:
      std::fprintf(out, " (%d)\n", static_cast<int32_t>(value));
      break;
  }
}

// An effect preset: components, each a tag and (id, value) parameters. Its
// record's payload-size field holds the whole record length, so the payload
// is read up to the end of the block.
void PrintEffect(FieldReader& f, uint64_t p) {
  FILE* out = f.out;
  PrintCode(out, "    + XFTC magic: \"", f.bytes.data() + p, "\" (effect)\n");
  if (!Fields_Have(f, p + 4, 16, "    ")) return;
  std::fprintf(out, "    + XFTC reserved: 0x%08x 0x%08x 0x%08x\n", Fields_U32(f, p + 4),
               Fields_U32(f, p + 8), Fields_U32(f, p + 12));
  const uint32_t count = Fields_U32(f, p + 16);
  std::fprintf(out, "    + XFTC component count: %d\n", static_cast<int32_t>(count));
  const uint64_t ends = p + 20;
  if (!Fields_Have(f, ends, 4 * (uint64_t{count} + 1), "    ")) return;
  const uint64_t area = ends + 4 * (uint64_t{count} + 1);
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t from = area + Fields_U32(f, ends + 4 * uint64_t{k});
    const uint64_t to = area + Fields_U32(f, ends + 4 * uint64_t{k} + 4);
    if (to < from + 8 || !Fields_Have(f, from, to - from, kField)) {
      (void)Fields_Have(f, f.bytes.size(), 1, kField);
      return;
    }
    const uint8_t* tag = f.bytes.data() + from;
    const uint32_t parameters = Fields_U32(f, from + 4);
    PrintCode(out, "      + component: \"", tag, "\"");
    std::fprintf(out, " (%s), %d parameters\n", EffectComponentName(tag),
                 static_cast<int32_t>(parameters));
    for (uint32_t n = 0; n < parameters; ++n) {
      const uint64_t at = from + 8 + 8 * uint64_t{n};
      if (at + 8 > to) break;
      PrintEffectParameter(f, at);
    }
  }
}

}  // namespace

uint64_t Rendition_Print(FILE* out, const AssetsCatalog& catalog, uint32_t index,
                         const BOMBlock& block, const ListingHooks& hooks) {
  FieldReader f{.out = out, .bytes = block.bytes()};
  PrintHeader(f);
  if (f.stopped) return f.decoded;

  const uint64_t p = kCSIHeaderSize + Fields_U32(f, 168);
  uint64_t offset = kCSIHeaderSize;
  while (offset < p) {
    if (!Fields_Have(f, offset, kCSISubblockHeadSize, "    ")) return f.decoded;
    const uint32_t id = Fields_U32(f, offset);
    const uint32_t length = Fields_U32(f, offset + 4);
    const char* subblock_name = SubblockName(id);
    std::fprintf(out, "    + subblock ID: %d (%s) - %d bytes payload\n", static_cast<int32_t>(id),
                 subblock_name != nullptr ? subblock_name : "??? UNKNOWN VALUE",
                 static_cast<int32_t>(length));
    // Contents running past the block are not decoded: they and everything
    // after them appear as extra data.
    if (!Fields_Have(f, offset + kCSISubblockHeadSize, length, kField)) return f.decoded;
    const uint64_t total = kCSISubblockHeadSize + length;
    PrintSubblockFields(out, f.bytes.subspan(offset, total), id, length, catalog);
    offset += total;
  }

  const uint32_t payload_size = Fields_U32(f, 180);
  if (payload_size == 0) return p > f.decoded ? p : f.decoded;
  if (!Fields_Have(f, p, 4, "    ")) return f.decoded;
  const struct {
    const char* magic;
    void (*print)(FieldReader&, uint64_t);
  } kNewerPayloads[] = {{"RLOC", PrintColor},
                        {"DARG", PrintGradient},
                        {"ARGG", PrintNamedGradient},
                        {"XFTC", PrintEffect}};
  for (const auto& payload : kNewerPayloads) {
    if (CodeAt(f.bytes, p, payload.magic)) {
      payload.print(f, p);
      return f.decoded;
    }
  }

  char name[sizeof(CSIHeader::name) + 1] = {};
  std::memcpy(name, f.bytes.data() + offsetof(CSIHeader, name), sizeof(CSIHeader::name));

  if (CodeAt(f.bytes, p, "SISM")) {
    PrintScalingInfo(f, p);
  } else if (CodeAt(f.bytes, p, "MLEC")) {
    PrintElement(f, p, payload_size, index, block, name, hooks);
  } else if (CodeAt(f.bytes, p, "DWAR")) {
    PrintRawData(f, p, index, block, name, hooks);
  } else {
    PrintCode(out, "    + ??? UNKNOWN PAYLOAD: magic: \"", f.bytes.data() + p, "\"\n");
    return p;
  }
  return f.decoded;
}

}  // namespace skarvel
