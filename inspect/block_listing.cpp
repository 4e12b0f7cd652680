#include "inspect/block_listing.h"

#include <bit>
#include <cinttypes>
#include <cstring>

#include "catalog/rendition_attribute.h"
#include "inspect/hex_dump.h"
#include "inspect/listing_fields.h"
#include "inspect/listing_names.h"

namespace skarvel {

namespace {

const char* AttributeName(uint32_t attribute) {
  const char* name = "???";
  RenditionAttribute_GetListingNames(attribute, 0, &name, nullptr);
  return name;
}

void DecodeCarHeader(FieldReader& f) {
  FILE* out = f.out;
  const char* in = "  ";
  if (!Fields_Have(f, 0, 4, in)) return;
  PrintCode(out, "  + magic: \"", f.bytes.data(), "\" (CoreTheme ARchive)\n");
  if (Fields_Have(f, 4, 4, in))
    std::fprintf(out, "  + CoreUI major version: %d\n", Fields_I32(f, 4));
  if (Fields_Have(f, 8, 4, in)) std::fprintf(out, "  + storage version: %d\n", Fields_I32(f, 8));
  if (Fields_Have(f, 12, 4, in)) {
    std::fprintf(out, "  + storage timestamp: %d\n", Fields_I32(f, 12));
  }
  if (Fields_Have(f, 16, 4, in)) std::fprintf(out, "  + rendition count: %d\n", Fields_I32(f, 16));
  if (Fields_Have(f, 20, 128, in)) {
    std::fputs("  + CoreUI ID string: \"", out);
    PrintFieldText(out, f.bytes.subspan(20, 128), true);
    std::fputs("\"\n", out);
  }
  if (Fields_Have(f, 148, 256, in)) {
    std::fputs("  + InterfaceBuilder ID string: \"", out);
    PrintFieldText(out, f.bytes.subspan(148, 256), false);
    std::fputs("\"\n", out);
  }
  if (Fields_Have(f, 404, 16, in)) {
    const uint8_t* u = f.bytes.data() + 404;
    std::fprintf(out,
                 "  + UUID: %02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x\n",
                 u[0], u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12],
                 u[13], u[14], u[15]);
  }
  if (Fields_Have(f, 420, 4, in))
    std::fprintf(out, "  + checksum???: 0x%08x\n", Fields_U32(f, 420));
  if (Fields_Have(f, 424, 4, in)) std::fprintf(out, "  + schema version: %d\n", Fields_I32(f, 424));
  if (Fields_Have(f, 428, 4, in)) {
    const uint32_t colorspace = Fields_U32(f, 428);
    std::fprintf(out, "  + colorspace ID: %d (%s)\n", static_cast<int32_t>(colorspace),
                 ColorspaceName(colorspace));
  }
  if (Fields_Have(f, 432, 4, in)) std::fprintf(out, "  + key semantics: %d\n", Fields_I32(f, 432));
}

// Tree fields in the order their tree is kept in: host order for trees in
// the older form, as stored for trees read as stored. A tree block that
// belongs to no open tree is read in host order.
struct TreeFields {
  const BOMTree* tree = nullptr;

  uint32_t U32(const FieldReader& f, uint64_t offset) const {
    const uint8_t* p = f.bytes.data() + offset;
    return tree != nullptr ? BOMTree_Field32(*tree, p) : LoadU32Host(p);
  }
  uint16_t U16(const FieldReader& f, uint64_t offset) const {
    const uint8_t* p = f.bytes.data() + offset;
    return tree != nullptr ? BOMTree_Field16(*tree, p) : LoadU16Host(p);
  }
  int32_t I32(const FieldReader& f, uint64_t offset) const {
    return static_cast<int32_t>(U32(f, offset));
  }
};

const char* InlineKeyMeaning(uint32_t length) {
  if (length == 0) return "no key copies";
  if (length == kTreeKeysOfVaryingLength) return "keys of varying length, no key copies";
  return "all keys this long, copied in the leaves";
}

void DecodeTreeHeader(FieldReader& f, const TreeFields& t) {
  FILE* out = f.out;
  const char* in = "  ";
  if (!Fields_Have(f, 0, 4, in)) return;
  PrintCode(out, "  + magic: \"", f.bytes.data(), "\" (tree header)\n");
  if (Fields_Have(f, 4, 4, in)) std::fprintf(out, "  + version: %d\n", t.I32(f, 4));
  if (Fields_Have(f, 8, 8, in)) {
    std::fprintf(out, "  + tree block index/size: %d (%d bytes)\n", t.I32(f, 8), t.I32(f, 12));
  }
  if (Fields_Have(f, 16, 4, in)) std::fprintf(out, "  + path count: %d\n", t.I32(f, 16));
  if (Fields_Have(f, 20, 1, in)) {
    const uint8_t flags = f.bytes[20];
    const char* meaning = flags == 0   ? "nodes and leaves are block indices"
                          : flags == 1 ? "nodes are resource IDs"
                                       : "??? UNKNOWN VALUE";
    std::fprintf(out, "  + flags: 0x%02x (%s)\n", flags, meaning);
  }
  // The newer header goes on with the inline key length and a reserved word.
  if (f.bytes.size() < kTreeHeaderExtendedSize) return;
  if (Fields_Have(f, 21, 4, in)) {
    const uint32_t length = t.U32(f, 21);
    std::fprintf(out, "  + inline key length: %u (%s)\n", length, InlineKeyMeaning(length));
  }
  if (Fields_Have(f, 25, 4, in)) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", t.U32(f, 25), t.U32(f, 25));
  }
}

// The copies of a leaf's keys that trees with a fixed inline key length
// keep after the entries (and 4 zero bytes); each is compared with its key
// block.
void DecodeKeyCopies(FieldReader& f, const TreeFields& t, const AssetsCatalog& catalog,
                     uint16_t count) {
  FILE* out = f.out;
  const uint32_t length = BOMTree_InlineKeyLength(*t.tree);
  const uint64_t end_of_entries = kTreeNodeHeadSize + 8 * uint64_t{count};
  if (!Fields_Have(f, end_of_entries, 4, "  ")) return;
  std::fprintf(out, "  + end of entries: 0x%08x\n", t.U32(f, end_of_entries));
  std::fprintf(out, "  + inline key copies: %d of %u bytes\n", count, length);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = end_of_entries + 4 + uint64_t{length} * i;
    if (!Fields_Have(f, at, length, "    ")) return;
    std::fprintf(out, "    + [%d]:", static_cast<int>(i));
    for (uint64_t b = 0; b < length; ++b) std::fprintf(out, " %02X", f.bytes[at + b]);
    const uint32_t key = t.U32(f, kTreeNodeHeadSize + 8 * uint64_t{i} + 4);
    const BOMBlock* block = BOMStore_Block(catalog.store, key);
    const bool same = block != nullptr && block->size == length &&
                      std::memcmp(block->data, f.bytes.data() + at, length) == 0;
    std::fprintf(out, " (%s block %u)\n", same ? "same as" : "??? DIFFERS FROM", key);
  }
}

void DecodeTreeNode(FieldReader& f, const TreeFields& t, const AssetsCatalog& catalog) {
  FILE* out = f.out;
  const char* in = "  ";
  if (!Fields_Have(f, 0, 2, in)) return;
  // Only the nodes of an open tree are read as branches: a node block that
  // no tree reads is shown as a leaf, whatever its first field says.
  const bool is_root_tree = t.U16(f, 0) != 0;
  const bool leaf = is_root_tree || t.tree == nullptr;
  std::fprintf(out, "  + is root tree: %s\n", is_root_tree ? "true" : "false");
  if (!Fields_Have(f, 2, 2, in)) return;
  const uint16_t leaf_count = t.U16(f, 2);
  std::fprintf(out, "  + leaf count: %d\n", leaf_count);
  if (Fields_Have(f, 4, 4, in)) std::fprintf(out, "  + next leaf: %d\n", t.I32(f, 4));
  if (Fields_Have(f, 8, 4, in)) std::fprintf(out, "  + previous leaf: %d\n", t.I32(f, 8));
  if (f.stopped) return;
  // A branch node lists n + 1 children; each but the last carries the last
  // key of its child as separator.
  const uint64_t slots = leaf ? leaf_count : uint64_t{leaf_count} + 1;
  std::fputs(leaf ? "  + leaves: " : "  + children (node:separator): ", out);
  for (uint64_t i = 0; i < slots; ++i) {
    const uint64_t at = kTreeNodeHeadSize + 8 * i;
    if (!Range_Fits(at, 8, f.bytes.size())) {
      std::fputc('\n', out);
      (void)Fields_Have(f, at, 8, in);
      return;
    }
    (void)Fields_Have(f, at, 8, in);
    if (leaf || i + 1 < slots) {
      std::fprintf(out, "%s%d:%d", i > 0 ? "," : "", t.I32(f, at), t.I32(f, at + 4));
    } else {
      std::fprintf(out, "%s%d", i > 0 ? "," : "", t.I32(f, at));
    }
  }
  std::fputc('\n', out);
  uint64_t length = kTreeNodeHeadSize + 8 * slots;
  if (leaf && t.tree != nullptr) {
    const uint32_t key_length = BOMTree_InlineKeyLength(*t.tree);
    if (key_length != 0 && key_length != kTreeKeysOfVaryingLength) {
      DecodeKeyCopies(f, t, catalog, leaf_count);
      if (f.stopped) return;
      length = f.decoded;
    }
  }
  if (f.bytes.size() != length) {
    std::fprintf(out, "  + null-padding: %llu bytes\n",
                 static_cast<unsigned long long>(f.bytes.size() - length));
    f.decoded = f.bytes.size();
  }
}

void DecodeFacetValue(FieldReader& f, const AssetsCatalog& catalog) {
  FILE* out = f.out;
  const char* in = "  ";
  if (Fields_Have(f, 0, 4, in)) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", Fields_U32(f, 0), Fields_U32(f, 0));
  }
  if (!Fields_Have(f, 4, 2, in)) return;
  const uint16_t count = Fields_U16(f, 4);
  std::fprintf(out, "  + key/value count: %d\n", count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = 6 + 4 * uint64_t{i};
    if (!Fields_Have(f, at, 4, "    ")) return;
    PrintAttributePair(out, "    ", i, catalog, Fields_U16(f, at), Fields_U16(f, at + 2));
  }
}

void DecodeKeyFormat(FieldReader& f, const AssetsCatalog& catalog) {
  FILE* out = f.out;
  const char* in = "  ";
  if (!Fields_Have(f, 0, 4, in)) return;
  PrintCode(out, "  + magic: \"", f.bytes.data(), "\" (key format)\n");
  if (Fields_Have(f, 4, 4, in)) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", Fields_U32(f, 4), Fields_U32(f, 4));
  }
  if (!Fields_Have(f, 8, 4, in)) return;
  const uint32_t count = Fields_U32(f, 8);
  std::fprintf(out, "  + key count: %d\n", static_cast<int32_t>(count));
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kKeyFormatHeadSize + 4 * uint64_t{i};
    if (!Fields_Have(f, at, 4, "    ")) return;
    const uint32_t attribute = Fields_U32(f, at);
    std::fprintf(out, "    + [%d]: %d (%s)", static_cast<int>(i), static_cast<int32_t>(attribute),
                 AttributeName(attribute));
    // KEYFORMATWORKAROUND names the attribute a placeholder stands for.
    const uint32_t effective = KeyFormat_EffectiveAttribute(catalog, i);
    if (effective != attribute) {
      std::fprintf(out, " = %d (%s) by KEYFORMATWORKAROUND", static_cast<int32_t>(effective),
                   AttributeName(effective));
    }
    std::fputc('\n', out);
  }
}

// Positions beyond the key format have no attribute to name them: they are
// left undecoded and appear in the extra data.
void DecodeRenditionKey(FieldReader& f, const AssetsCatalog& catalog) {
  const uint64_t values = f.bytes.size() / 2;
  const uint64_t attributes = KeyFormat_Count(catalog);
  for (uint32_t i = 0; i < values && i < attributes; ++i) {
    (void)Fields_Have(f, 2 * uint64_t{i}, 2, "  ");
    PrintAttributePair(f.out, "  ", i, catalog, KeyFormat_EffectiveAttribute(catalog, i),
                       Fields_U16(f, 2 * uint64_t{i}));
  }
}

void DecodeMetadata(FieldReader& f) {
  FILE* out = f.out;
  const char* in = "  ";
  if (!Fields_Have(f, 0, 4, in)) return;
  PrintCode(out, "  + magic: \"", f.bytes.data(), "\" (extended metadata)\n");
  static constexpr struct {
    const char* label;
    uint64_t offset;
    bool escape;
  } kTexts[] = {
      {"author", 4, false},
      {"Xcode version", 260, false},
      {"target platform", 516, false},
      {"CoreTheme ID string", 772, true},
  };
  for (const auto& text : kTexts) {
    if (!Fields_Have(f, text.offset, 256, in)) return;
    std::fprintf(out, "  + %s: \"", text.label);
    PrintFieldText(out, f.bytes.subspan(text.offset, 256), text.escape);
    std::fputs("\"\n", out);
  }
}

void DecodeBitmapKey(FieldReader& f, const AssetsCatalog& catalog) {
  FILE* out = f.out;
  const char* in = "  ";
  if (Fields_Have(f, 0, 4, in)) std::fprintf(out, "  + version: %d\n", Fields_I32(f, 0));
  if (Fields_Have(f, 4, 4, in)) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", Fields_U32(f, 4), Fields_U32(f, 4));
  }
  if (Fields_Have(f, 8, 4, in)) {
    std::fprintf(out, "  + unknown3???: 0x%08x (%u)\n", Fields_U32(f, 8), Fields_U32(f, 8));
  }
  if (!Fields_Have(f, 12, 4, in)) return;
  const uint32_t count = Fields_U32(f, 12);
  std::fprintf(out, "  + key count: %d\n", static_cast<int32_t>(count));
  const uint32_t attributes = KeyFormat_Count(catalog);
  for (uint32_t i = 0; i < count && i < attributes; ++i) {
    const uint64_t at = 16 + 4 * uint64_t{i};
    if (!Fields_Have(f, at, 4, "    ")) return;
    const uint32_t attribute = KeyFormat_EffectiveAttribute(catalog, i);
    const uint32_t mask = Fields_U32(f, at);
    std::fprintf(out, "    + [%d]: key %d (%s) attribute = 0x%08x (%d)\n", static_cast<int>(i),
                 static_cast<int32_t>(attribute), AttributeName(attribute), mask,
                 static_cast<int32_t>(mask));
  }
}

void DecodeAppearanceValue(FieldReader& f) {
  if (Fields_Have(f, 0, 2, "  ")) std::fprintf(f.out, "  + appearance ID: %d\n", Fields_U16(f, 0));
}

// COLORS key: a reserved word, then the colour's name in a 128-byte field.
void DecodeColorKey(FieldReader& f) {
  FILE* out = f.out;
  if (Fields_Have(f, 0, 4, "  ")) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", Fields_U32(f, 0), Fields_U32(f, 0));
  }
  if (!Fields_Have(f, 4, 128, "  ")) return;
  std::fputs("  + color name: \"", out);
  PrintFieldText(out, f.bytes.subspan(4, 128), false);
  std::fputs("\"\n", out);
}

// COLORS value: version, reserved, then 8-bit blue, green, red, alpha.
void DecodeColorValue(FieldReader& f) {
  FILE* out = f.out;
  if (Fields_Have(f, 0, 4, "  ")) std::fprintf(out, "  + version: %d\n", Fields_I32(f, 0));
  if (Fields_Have(f, 4, 4, "  ")) {
    std::fprintf(out, "  + reserved: 0x%08x (%u)\n", Fields_U32(f, 4), Fields_U32(f, 4));
  }
  if (Fields_Have(f, 8, 4, "  ")) {
    std::fprintf(out, "  + blue/green/red/alpha: %u,%u,%u,%u\n", f.bytes[8], f.bytes[9],
                 f.bytes[10], f.bytes[11]);
  }
}

void DecodeFontSizeKey(FieldReader& f) {
  if (!Fields_Have(f, 0, 128, "  ")) return;
  std::fputs("  + font size name: \"", f.out);
  PrintFieldText(f.out, f.bytes.subspan(0, 128), false);
  std::fputs("\"\n", f.out);
}

void DecodeFontSizeValue(FieldReader& f) {
  if (!Fields_Have(f, 0, 4, "  ")) return;
  std::fprintf(f.out, "  + font size: %f\n",
               static_cast<double>(std::bit_cast<float>(Fields_U32(f, 0))));
}

// A block that is a name as it stands (a facet or appearance key).
void DecodeName(FieldReader& f, const char* what) {
  std::fprintf(f.out, "  + %s: \"", what);
  std::fwrite(f.bytes.data(), 1, f.bytes.size(), f.out);
  std::fputs("\"\n", f.out);
  f.decoded = f.bytes.size();
}

// A key or value of a tree whose entries have no known layout, or a plain
// block of settings: shown raw.
void DecodeRaw(FieldReader& f, const char* what) {
  std::fprintf(f.out, "  + %s: %d bytes\n", what, static_cast<int32_t>(f.bytes.size()));
  f.decoded = HexDump(f.out, f.bytes.data(), f.bytes.size(), 16, "%s", "");
}

// KEYFORMATWORKAROUND: per key-format position, the attribute the
// placeholder there stands for (0: none).
void DecodeKeyFormatWorkaround(FieldReader& f) {
  for (uint32_t i = 0; 4 * uint64_t{i} + 4 <= f.bytes.size(); ++i) {
    (void)Fields_Have(f, 4 * uint64_t{i}, 4, "  ");
    const uint32_t attribute = Fields_U32(f, 4 * uint64_t{i});
    std::fprintf(f.out, "  + [%d]: %d (%s)\n", static_cast<int>(i), static_cast<int32_t>(attribute),
                 attribute != 0 ? AttributeName(attribute) : "none");
  }
}

}  // namespace

const char* BlockKind_RoleText(BlockKind kind, uint64_t size) {
  switch (kind) {
    case BlockKind::CarHeader:
      return "   (CoreUI ARchive header)";
    case BlockKind::TreeHeader:
      return "   (tree header)";
    case BlockKind::TreeBase:
      return "   (tree base)";
    case BlockKind::FacetKey:
      return "   (facet key)";
    case BlockKind::FacetValue:
      return "   (facet value)";
    case BlockKind::KeyFormat:
      return "   (key format information)";
    case BlockKind::RenditionKey:
      return "   (rendition key)";
    case BlockKind::RenditionValue:
      return "   (rendition value)";
    case BlockKind::Metadata:
      return "   (metadata)";
    case BlockKind::BitmapKey:
      return "   (bitmap key)";
    case BlockKind::AppearanceKey:
      return "   (appearance key)";
    case BlockKind::AppearanceValue:
      return "   (appearance value)";
    case BlockKind::ColorKey:
      return "   (color key)";
    case BlockKind::ColorValue:
      return "   (color value)";
    case BlockKind::FontSizeKey:
      return "   (font size key)";
    case BlockKind::FontSizeValue:
      return "   (font size value)";
    case BlockKind::TreeKey:
      return "   (tree key)";
    case BlockKind::TreeValue:
      return "   (tree value)";
    case BlockKind::CarGlobals:
      return "   (CAR globals)";
    case BlockKind::KeyFormatWorkaround:
      return "   (key format workaround)";
    case BlockKind::None:
      break;
  }
  return size == 0 ? "   (empty block)" : "   (??? UNKNOWN BLOCK)";
}

void Listing_PrintBlock(FILE* out, const AssetsCatalog& catalog, uint32_t index,
                        const ListingOptions& options) {
  if (index >= catalog.store.count) return;
  const BOMBlock& block = catalog.store.blocks[index];
  const std::span<const uint8_t> bytes = block.bytes();
  std::fprintf(out, "\n+ Block index: %d   Size: %d", static_cast<int32_t>(index),
               static_cast<int32_t>(static_cast<uint32_t>(block.size)));
  if (block.label != nullptr && block.label[0] != '\0') {
    std::fprintf(out, "   Label: \"%s\"", block.label);
  }
  std::fputs(BlockKind_RoleText(block.kind, block.size), out);
  if (options.hooks.dump_block != nullptr) {
    options.hooks.dump_block(options.hooks.context, out, index, block);
  }
  std::fputc('\n', out);
  if (bytes.empty()) return;

  FieldReader f{.out = out, .bytes = bytes};
  switch (block.kind) {
    case BlockKind::CarHeader:
      DecodeCarHeader(f);
      break;
    case BlockKind::TreeHeader:
      DecodeTreeHeader(f, TreeFields{AssetsCatalog_TreeOfBlock(catalog, index)});
      break;
    case BlockKind::TreeBase:
      DecodeTreeNode(f, TreeFields{AssetsCatalog_TreeOfBlock(catalog, index)}, catalog);
      break;
    case BlockKind::FacetKey:
      DecodeName(f, "facet name");
      break;
    case BlockKind::FacetValue:
      DecodeFacetValue(f, catalog);
      break;
    case BlockKind::KeyFormat:
      DecodeKeyFormat(f, catalog);
      break;
    case BlockKind::RenditionKey:
      DecodeRenditionKey(f, catalog);
      break;
    case BlockKind::RenditionValue:
      f.decoded = Rendition_Print(out, catalog, index, block, options.hooks);
      break;
    case BlockKind::Metadata:
      DecodeMetadata(f);
      break;
    case BlockKind::BitmapKey:
      DecodeBitmapKey(f, catalog);
      break;
    case BlockKind::AppearanceKey:
      DecodeName(f, "appearance name");
      break;
    case BlockKind::AppearanceValue:
      DecodeAppearanceValue(f);
      break;
    case BlockKind::ColorKey:
      DecodeColorKey(f);
      break;
    case BlockKind::ColorValue:
      DecodeColorValue(f);
      break;
    case BlockKind::FontSizeKey:
      DecodeFontSizeKey(f);
      break;
    case BlockKind::FontSizeValue:
      DecodeFontSizeValue(f);
      break;
    case BlockKind::TreeKey:
      DecodeRaw(f, "key data");
      break;
    case BlockKind::TreeValue:
      DecodeRaw(f, "value data");
      break;
    case BlockKind::CarGlobals:
      DecodeRaw(f, std::memcmp(bytes.data(), "bplist00", bytes.size() < 8 ? bytes.size() : 8) == 0
                       ? "binary property list"
                       : "settings data");
      break;
    case BlockKind::KeyFormatWorkaround:
      DecodeKeyFormatWorkaround(f);
      break;
    case BlockKind::None:
      std::fprintf(out, "  + ??? UNKNOWN DATA (%d bytes)\n", static_cast<int32_t>(bytes.size()));
      f.decoded = HexDump(out, bytes.data(), bytes.size(), 16, "%s", "");
      break;
  }
  if (f.decoded < bytes.size()) {
    HexDump(out, bytes.data() + f.decoded, bytes.size() - f.decoded, 16,
            "  + ??? UNKNOWN EXTRA DATA\n");
  }
}

void Listing_Print(FILE* out, const AssetsCatalog& catalog, const char* input,
                   const ListingOptions& options) {
  std::fprintf(out, "\n%s %s...\n", options.heading, input);
  std::fputs("Bill Of Materials:\n", out);
  for (uint64_t i = 0; i < catalog.store.count; ++i) {
    const BOMBlock& block = catalog.store.blocks[i];
    if ((block.data == nullptr || block.size == 0) && !options.all) continue;
    Listing_PrintBlock(out, catalog, static_cast<uint32_t>(i), options);
  }
}

}  // namespace skarvel
