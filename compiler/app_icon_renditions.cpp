#include "compiler/app_icon_renditions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/buffer.h"
#include "catalog/catalog_builder.h"
#include "catalog/rendition_attribute.h"
#include "frontend/command_line.h"
#include "image/image_ops.h"

namespace skarvel {

namespace {

// Keys of the packed assets (no facet) and of the set's own renditions.
constexpr int32_t kPackedAssetElement = 9;
constexpr int32_t kPackedAssetPart = 181;
constexpr int32_t kScalingInfoPart = 218;
constexpr uint32_t kColorspaceSRGB = 1;
constexpr char kBGRA[4] = {'B', 'G', 'R', 'A'};
constexpr char kNoPixelFormat[4] = {0, 0, 0, 0};
// Element flags of a packed asset's pixels: bit 0 when they are chunked.
constexpr uint32_t kPackedFlags = 2;
constexpr uint32_t kChunkedFlags = 3;

enum class StepKind : uint8_t { Pack, Store, Reference, Single, Scaling };

struct Step {
  StepKind kind;
  int32_t idiom;
  int32_t scale = 0;
  float size = 0;
  int32_t x = 0;
  int32_t y = 0;  // from the atlas's bottom edge
  int32_t atlas_width = 0;
  int32_t atlas_height = 0;
  int32_t pack = 0;
  int32_t icon = 0;
  const char* name = nullptr;
  uint32_t chunks = 0;
};

constexpr Step Pack(int32_t idiom, int32_t scale, float size, int32_t x, int32_t y, int32_t w,
                    int32_t h) {
  return {.kind = StepKind::Pack,
          .idiom = idiom,
          .scale = scale,
          .size = size,
          .x = x,
          .y = y,
          .atlas_width = w,
          .atlas_height = h};
}
constexpr Step Store(int32_t idiom, int32_t scale, int32_t pack, int32_t w, int32_t h,
                     uint32_t chunks) {
  return {.kind = StepKind::Store,
          .idiom = idiom,
          .scale = scale,
          .atlas_width = w,
          .atlas_height = h,
          .pack = pack,
          .chunks = chunks};
}
constexpr Step Ref(int32_t idiom, int32_t scale, float size, int32_t x, int32_t y, int32_t pack,
                   int32_t icon, const char* name) {
  return {.kind = StepKind::Reference,
          .idiom = idiom,
          .scale = scale,
          .size = size,
          .x = x,
          .y = y,
          .pack = pack,
          .icon = icon,
          .name = name};
}
constexpr Step Single(int32_t idiom, int32_t scale, float size, int32_t icon, const char* name,
                      uint32_t chunks) {
  return {.kind = StepKind::Single,
          .idiom = idiom,
          .scale = scale,
          .size = size,
          .icon = icon,
          .name = name,
          .chunks = chunks};
}
constexpr Step Scaling(int32_t idiom) { return {.kind = StepKind::Scaling, .idiom = idiom}; }

constexpr int32_t kPhone = kIdiomPhone;
constexpr int32_t kPad = kIdiomPad;
constexpr int32_t kStore = kIdiomMarketing;

// The atlas layout is fixed: each icon keeps a pixel of space around it for
// the bleed, and each reference repeats the position its pack step drew at.
constexpr Step kSteps[kAppIconSequenceSteps] = {
    Pack(kPhone, 1, 29, 61, 2, 92, 60),
    Pack(kPhone, 1, 57, 2, 2, 92, 60),
    Store(kPhone, 1, 0, 92, 60, 3),
    Scaling(kPhone),
    Ref(kPhone, 1, 29, 61, 2, 0, 1, "Icon-Small.png"),
    Ref(kPhone, 1, 57, 2, 2, 0, 3, "Icon.png"),
    Pack(kPad, 1, 40, 2, 80, 154, 122),
    Pack(kPad, 1, 72, 80, 2, 154, 122),
    Pack(kPad, 1, 76, 2, 2, 154, 122),
    Store(kPad, 1, 0, 154, 122, 4),
    Pack(kPad, 1, 20, 33, 2, 54, 32),
    Pack(kPad, 1, 29, 2, 2, 54, 32),
    Store(kPad, 1, 1, 54, 32, 0),
    Scaling(kPad),
    Ref(kPad, 1, 20, 33, 2, 1, 0, "Icon-Notification.png"),
    Ref(kPad, 1, 29, 2, 2, 1, 1, "Icon-Small.png"),
    Ref(kPad, 1, 40, 2, 80, 0, 2, "Icon-Small-40.png"),
    Ref(kPad, 1, 72, 80, 2, 0, 5, "Icon-72.png"),
    Ref(kPad, 1, 76, 2, 2, 0, 6, "Icon-76.png"),
    Scaling(kStore),
    Single(kStore, 1, 1024, 8, "Icon-Store.png", 4),
    Pack(kPhone, 2, 57, 124, 2, 240, 124),
    Pack(kPhone, 2, 60, 2, 2, 240, 124),
    Store(kPhone, 2, 0, 240, 124, 4),
    Pack(kPhone, 2, 20, 2, 84, 144, 126),
    Pack(kPhone, 2, 29, 84, 2, 144, 126),
    Pack(kPhone, 2, 40, 2, 2, 144, 126),
    Store(kPhone, 2, 1, 144, 126, 3),
    Ref(kPhone, 2, 20, 2, 84, 1, 0, "Icon-Notification@2x.png"),
    Ref(kPhone, 2, 29, 84, 2, 1, 1, "Icon-Small@2x.png"),
    Ref(kPhone, 2, 40, 2, 2, 1, 2, "Icon-Small-80.png"),
    Ref(kPhone, 2, 57, 124, 2, 0, 3, "Icon@2x.png"),
    Ref(kPhone, 2, 60, 2, 2, 0, 4, "Icon-120.png"),
    Pack(kPad, 2, 72, 156, 2, 302, 156),
    Pack(kPad, 2, 76, 2, 2, 302, 156),
    Store(kPad, 2, 0, 302, 156, 3),
    Pack(kPad, 2, 20, 2, 84, 144, 126),
    Pack(kPad, 2, 29, 84, 2, 144, 126),
    Pack(kPad, 2, 40, 2, 2, 144, 126),
    Store(kPad, 2, 1, 144, 126, 3),
    Ref(kPad, 2, 20, 2, 84, 1, 0, "Icon-Notification@2x.png"),
    Ref(kPad, 2, 29, 84, 2, 1, 1, "Icon-Small@2x.png"),
    Ref(kPad, 2, 40, 2, 2, 1, 2, "Icon-Small-80.png"),
    Ref(kPad, 2, 72, 156, 2, 0, 5, "Icon-144.png"),
    Ref(kPad, 2, 76, 2, 2, 0, 6, "Icon-152.png"),
    Single(kPad, 2, 83.5f, 7, "Icon-167.png", 4),
    Pack(kPhone, 3, 40, 184, 2, 306, 184),
    Pack(kPhone, 3, 60, 2, 2, 306, 184),
    Store(kPhone, 3, 0, 306, 184, 4),
    Pack(kPhone, 3, 20, 91, 2, 152, 90),
    Pack(kPhone, 3, 29, 2, 2, 152, 90),
    Store(kPhone, 3, 1, 152, 90, 3),
    Ref(kPhone, 3, 20, 91, 2, 1, 0, "Icon-Notification@3x.png"),
    Ref(kPhone, 3, 29, 2, 2, 1, 1, "Icon-Small@3x.png"),
    Ref(kPhone, 3, 40, 184, 2, 0, 2, "Icon-Small-120.png"),
    Ref(kPhone, 3, 60, 2, 2, 0, 4, "Icon-180.png"),
};

constexpr CSIScalingEntry kPhoneSizes[] = {
    {20, 20, 0}, {29, 29, 1}, {40, 40, 2}, {57, 57, 3}, {60, 60, 4}};
constexpr CSIScalingEntry kPadSizes[] = {{20, 20, 0}, {29, 29, 1}, {40, 40, 2},
                                         {72, 72, 5}, {76, 76, 6}, {83, 83, 7}};
constexpr CSIScalingEntry kStoreSizes[] = {{1024, 1024, 8}};

std::span<const CSIScalingEntry> SizesOf(int32_t idiom) {
  switch (idiom) {
    case kPhone:
      return kPhoneSizes;
    case kPad:
      return kPadSizes;
    default:
      return kStoreSizes;
  }
}

const char* IdiomName(int32_t idiom) {
  switch (idiom) {
    case kPhone:
      return "iphone";
    case kPad:
      return "ipad";
    case kStore:
      return "ios-marketing";
    default:
      return "???";
  }
}

// The device name of the missing-variant notice, and the -idioms word that
// asks for it.
const char* NoticeName(int32_t idiom) {
  switch (idiom) {
    case kPhone:
      return "iPhone";
    case kPad:
      return "iPad";
    default:
      return "App Store";
  }
}

bool NoticeWanted(int32_t idiom) {
  switch (idiom) {
    case kPhone:
      return IdiomFilter_Contains("iphone");
    case kPad:
      return IdiomFilter_Contains("ipad");
    case kStore:
      return IdiomFilter_Contains("marketing");
    default:
      return false;
  }
}

// The icon of (idiom, scale, size): the first source of exactly that kind as
// it is, or else a copy of the best source resized into `scratch`. Null (with
// errno) when the fallback cannot be made.
const Image* ChooseIcon(const char* set_name, int32_t idiom, int32_t scale, float size,
                        std::span<const AppIconSource> sources, int32_t best, Image& scratch) {
  const int32_t pixel_size = AppIcon_PixelSize(size, scale);
  for (const AppIconSource& s : sources) {
    if (s.idiom == idiom && s.scale == scale && s.size == size) return &s.image;
  }
  if (NoticeWanted(idiom)) {
    std::fprintf(stderr,
                 "Notice: missing %s %dx (%dx%d) image variant in app icon set '%s', falling back "
                 "on best resolution icon.\n",
                 NoticeName(idiom), scale, static_cast<int32_t>(size), static_cast<int32_t>(size),
                 set_name);
  }
  if (best < 0 || static_cast<size_t>(best) >= sources.size()) {
    errno = EINVAL;
    return nullptr;
  }
  const Image& source = sources[static_cast<size_t>(best)].image;
  Buffer_Free(scratch.pixels);
  if (!Buffer_Append(scratch.pixels, source.pixels.data, source.pixels.size)) return nullptr;
  scratch.width = source.width;
  scratch.height = source.height;
  scratch.stride = source.stride;
  Image_SetFormatText(scratch, "BGRA");
  if (!Image_Resize("BGRA", scratch, pixel_size, pixel_size)) return nullptr;
  return &scratch;
}

uint32_t U32(int32_t v) { return static_cast<uint32_t>(v); }

// Adds the rendition of icon `icon_index` of (idiom, scale) to the set's
// facet, a `pixel_size` square of "BGRA" pixels; its value block's index, or
// -1 with errno.
int32_t AddIconRendition(AssetsCatalog& catalog, int32_t facet_id, int32_t idiom, int32_t scale,
                         int32_t icon_index, int32_t pixel_size, uint32_t layout,
                         const char* name) {
  int32_t attributes[kAttrCount] = {};
  attributes[kAttrElement] = kAppIconSetElement;
  attributes[kAttrPart] = kAppIconSetPart;
  attributes[kAttrDimension2] = icon_index;
  attributes[kAttrScale] = scale;
  attributes[kAttrIdiom] = idiom;
  return AssetsCatalog_AddRendition(catalog, facet_id, attributes, U32(pixel_size),
                                    U32(pixel_size), U32(100 * scale), kBGRA, kColorspaceSRGB,
                                    layout, name, 1);
}

// The slice and the metric of an icon `size` pixels square.
bool AddIconGeometry(BOMBlock& block, uint32_t size) {
  const CSISliceRect slice[] = {{0, 0, size, size}};
  const CSIMetric metric[] = {{0, 0, 0, 0, size, size}};
  return CSI_AddSlices(block, slice) && CSI_AddMetrics(block, metric);
}

}  // namespace

int32_t AppIconSequence_SlotOf(int32_t idiom, int32_t scale, float size) {
  for (int32_t i = 0; i < kAppIconSequenceSteps; ++i) {
    const Step& s = kSteps[i];
    if ((s.kind == StepKind::Pack || s.kind == StepKind::Single) && s.idiom == idiom &&
        s.scale == scale && s.size == size) {
      return i;
    }
  }
  return -1;
}

bool AppIconAtlas_PackIcon(const char* set_name, Image& atlas, int32_t atlas_width,
                           int32_t atlas_height, int32_t idiom, int32_t scale, float size,
                           int32_t x, int32_t y, std::span<const AppIconSource> sources,
                           int32_t best) {
  if (atlas.pixels.data == nullptr &&
      !Image_CreateBlank("BGRA", atlas_width, atlas_height, atlas)) {
    std::fprintf(stderr,
                 "Warning: memory allocation error while packing app icon set '%s' packed asset "
                 "for idiom '%s'! ignoring.\n",
                 set_name, IdiomName(idiom));
    return false;
  }
  Image scratch;
  const Image* icon = ChooseIcon(set_name, idiom, scale, size, sources, best, scratch);
  if (icon == nullptr) {
    std::fprintf(stderr,
                 "Warning: image resize error while packing app icon set '%s' packed asset for "
                 "idiom '%s'! ignoring.\n",
                 set_name, IdiomName(idiom));
    return false;
  }
  const int32_t pixel_size = AppIcon_PixelSize(size, scale);
  if (!Image_Paste("BGRA", atlas, "BGRA", *icon, x, atlas_height - pixel_size - y, true)) {
    std::fprintf(stderr,
                 "Warning: image overlay error while packing app icon set '%s' packed asset for "
                 "idiom '%s'! ignoring.\n",
                 set_name, IdiomName(idiom));
    return false;
  }
  return true;
}

bool AssetsCatalog_AddPackedAsset(AssetsCatalog& catalog, const char* set_name, int32_t idiom,
                                  int32_t scale, int32_t pack_index, Image& atlas,
                                  int32_t atlas_width, int32_t atlas_height, uint32_t chunk_count) {
  char name[64];
  std::snprintf(name, sizeof name, "ZZZZPackedAsset-%d.1.0-gamut0", scale);
  int32_t attributes[kAttrCount] = {};
  attributes[kAttrElement] = kPackedAssetElement;
  attributes[kAttrPart] = kPackedAssetPart;
  attributes[kAttrDimension1] = pack_index;
  attributes[kAttrScale] = scale;
  attributes[kAttrIdiom] = idiom;
  const int32_t index = AssetsCatalog_AddRendition(catalog, 0, attributes, U32(atlas_width),
                                                   U32(atlas_height), U32(100 * scale), kBGRA,
                                                   kColorspaceSRGB, kLayoutPackedImage, name, 1);
  if (index < 0) {
    std::fprintf(stderr,
                 "Warning: unable to add app icon set '%s' packed asset '%s' for idiom '%s'! "
                 "ignoring.\n",
                 set_name, name, IdiomName(idiom));
    return false;
  }
  BOMBlock& block = *BOMStore_Block(catalog.store, index);
  const CSISliceRect slice[] = {{0, 0, 0, 0}};
  const bool stored =
      CSI_AddSlices(block, slice) && CSI_AddComposition(block, 0, 1.0f) &&
      CSI_AddOrientation(block, 1) && CSI_AddBytesPerLine(block, U32(atlas.stride)) &&
      CSI_SetImagePayload(block, chunk_count > 0 ? kChunkedFlags : kPackedFlags,
                          CompressionMethod::LZFSE, chunk_count, atlas.pixels.bytes(),
                          U32(atlas.width), U32(atlas.height), U32(atlas.stride), 4);
  if (!stored) {
    const int code = errno;
    std::fprintf(stderr,
                 "Warning: error storing app icon set '%s' packed asset '%s' for idiom '%s'! "
                 "[errno = %d] ignoring.\n",
                 set_name, name, IdiomName(idiom), code);
    return false;
  }
  Buffer_Free(atlas.pixels);
  atlas.width = atlas.height = atlas.stride = 0;
  return true;
}

bool AssetsCatalog_AddReferenceRendition(AssetsCatalog& catalog, const char* set_name,
                                         int32_t facet_id, int32_t idiom, int32_t scale,
                                         int32_t pack_index, int32_t icon_index, float size,
                                         int32_t x, int32_t y, const char* name) {
  const int32_t pixel_size = AppIcon_PixelSize(size, scale);
  const int32_t index = AddIconRendition(catalog, facet_id, idiom, scale, icon_index, pixel_size,
                                         kLayoutImageReference, name);
  if (index < 0) {
    std::fprintf(stderr,
                 "Warning: unable to add app icon set '%s' reference rendition '%s' for idiom "
                 "'%s'! ignoring.\n",
                 set_name, name, IdiomName(idiom));
    return false;
  }
  // The key of the packed asset that holds the pixels.
  CSIReferencePair pairs[5];
  size_t n = 0;
  pairs[n++] = {kAttrElement, kPackedAssetElement};
  pairs[n++] = {kAttrPart, kPackedAssetPart};
  if (pack_index > 0) pairs[n++] = {kAttrDimension1, static_cast<uint16_t>(pack_index)};
  pairs[n++] = {kAttrScale, static_cast<uint16_t>(scale)};
  pairs[n++] = {kAttrIdiom, static_cast<uint16_t>(idiom)};

  BOMBlock& block = *BOMStore_Block(catalog.store, index);
  const uint32_t p = U32(pixel_size);
  const bool stored = AddIconGeometry(block, p) &&
                      CSI_AddReference(block, x, y, p, p, kLayoutImage,
                                       std::span<const CSIReferencePair>(pairs, n)) &&
                      CSI_AddComposition(block, 0, 1.0f) && CSI_AddOrientation(block, 1);
  if (!stored) {
    const int code = errno;
    std::fprintf(stderr,
                 "Warning: error storing app icon set '%s' reference rendition '%s' for idiom "
                 "'%s'! [errno = %d] ignoring.\n",
                 set_name, name, IdiomName(idiom), code);
    return false;
  }
  return true;
}

bool AssetsCatalog_AddSingleRendition(AssetsCatalog& catalog, const char* set_name,
                                      int32_t facet_id, int32_t idiom, int32_t scale, float size,
                                      int32_t icon_index, uint32_t chunk_count, const char* name,
                                      std::span<const AppIconSource> sources, int32_t best) {
  Image scratch;
  const Image* icon = ChooseIcon(set_name, idiom, scale, size, sources, best, scratch);
  if (icon == nullptr) {
    std::fprintf(stderr,
                 "Warning: image resize error while storing app icon set '%s' single rendition "
                 "'%s' for idiom '%s'! ignoring.\n",
                 set_name, name, IdiomName(idiom));
    return false;
  }
  const int32_t pixel_size = AppIcon_PixelSize(size, scale);
  const int32_t index = AddIconRendition(catalog, facet_id, idiom, scale, icon_index, pixel_size,
                                         kLayoutImage, name);
  if (index < 0) {
    std::fprintf(stderr,
                 "Warning: unable to add app icon set '%s' single rendition '%s' for idiom '%s'! "
                 "ignoring.\n",
                 set_name, name, IdiomName(idiom));
    return false;
  }
  BOMBlock& block = *BOMStore_Block(catalog.store, index);
  const bool stored = AddIconGeometry(block, U32(pixel_size)) &&
                      CSI_AddComposition(block, 0, 1.0f) && CSI_AddOrientation(block, 1) &&
                      CSI_AddBytesPerLine(block, U32(icon->stride)) &&
                      CSI_SetImagePayload(block, kChunkedFlags, CompressionMethod::LZFSE,
                                          chunk_count, icon->pixels.bytes(), U32(icon->width),
                                          U32(icon->height), U32(icon->stride), 4);
  if (!stored) {
    const int code = errno;
    std::fprintf(stderr,
                 "Warning: error storing app icon set '%s' single rendition '%s' for idiom '%s'! "
                 "[errno = %d] ignoring.\n",
                 set_name, name, IdiomName(idiom), code);
    return false;
  }
  return true;
}

bool AssetsCatalog_AddScalingInformation(AssetsCatalog& catalog, const char* set_name,
                                         int32_t facet_id, int32_t idiom,
                                         std::span<const CSIScalingEntry> entries) {
  int32_t attributes[kAttrCount] = {};
  attributes[kAttrElement] = kAppIconSetElement;
  attributes[kAttrPart] = kScalingInfoPart;
  attributes[kAttrScale] = 1;
  attributes[kAttrIdiom] = idiom;
  const int32_t index = AssetsCatalog_AddRendition(
      catalog, facet_id, attributes, 0, 0, 0, kNoPixelFormat, 0, kLayoutScalingInfo, set_name, 1);
  if (index < 0) {
    std::fprintf(stderr,
                 "Warning: unable to add app icon set '%s' scaling information for idiom '%s'! "
                 "ignoring.\n",
                 set_name, IdiomName(idiom));
    return false;
  }
  BOMBlock& block = *BOMStore_Block(catalog.store, index);
  const bool stored = CSI_AddComposition(block, 0, 0.0f) && CSI_AddOrientation(block, 1) &&
                      CSI_SetScalingInfo(block, entries);
  if (!stored) {
    const int code = errno;
    std::fprintf(stderr,
                 "Warning: error storing app icon set '%s' scaling information for idiom '%s'! "
                 "[errno = %d] ignoring.\n",
                 set_name, IdiomName(idiom), code);
    return false;
  }
  return true;
}

bool AssetsCatalog_AddAppIconRenditions(AssetsCatalog& catalog, const char* set_name,
                                        int32_t facet_id, std::span<const AppIconSource> sources,
                                        int32_t best) {
  Image atlas;
  for (const Step& s : kSteps) {
    bool ok = false;
    switch (s.kind) {
      case StepKind::Pack:
        ok = AppIconAtlas_PackIcon(set_name, atlas, s.atlas_width, s.atlas_height, s.idiom, s.scale,
                                   s.size, s.x, s.y, sources, best);
        break;
      case StepKind::Store:
        ok = AssetsCatalog_AddPackedAsset(catalog, set_name, s.idiom, s.scale, s.pack, atlas,
                                          s.atlas_width, s.atlas_height, s.chunks);
        break;
      case StepKind::Reference:
        ok = AssetsCatalog_AddReferenceRendition(catalog, set_name, facet_id, s.idiom, s.scale,
                                                 s.pack, s.icon, s.size, s.x, s.y, s.name);
        break;
      case StepKind::Single:
        ok = AssetsCatalog_AddSingleRendition(catalog, set_name, facet_id, s.idiom, s.scale, s.size,
                                              s.icon, s.chunks, s.name, sources, best);
        break;
      case StepKind::Scaling:
        ok = AssetsCatalog_AddScalingInformation(catalog, set_name, facet_id, s.idiom,
                                                 SizesOf(s.idiom));
        break;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace skarvel
