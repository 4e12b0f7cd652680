#include "compiler/app_icon_set.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "base/buffer.h"
#include "base/mem.h"
#include "base/result.h"
#include "catalog/catalog_builder.h"
#include "catalog/rendition_attribute.h"
#include "compiler/app_icon_renditions.h"
#include "compiler/asset_directory.h"
#include "compiler/working_directory.h"
#include "image/image_file.h"
#include "image/image_ops.h"

namespace skarvel {

namespace {

constexpr char kEmptyImage[] = "EMPTY_IMAGE";
constexpr char kKind[] = "app icon set";

// The largest icon made: four times the largest size any step draws (1024).
// A larger size would only be a fallback picture, and would cost a copy of
// that size for every icon drawn from it.
constexpr int32_t kMaxIconPixelSize = 4096;

// Masks of the set's bitmap key: scales 1 to 3, idioms iphone, ipad and
// ios-marketing, icon indices 0 to 8.
constexpr uint32_t kScaleMask = 14;
constexpr uint32_t kIdiomMask = 70;
constexpr uint32_t kDimension2Mask = 511;

// The sources kept so far. Slot `count` may hold an item being read; it is
// reused when that item fails.
struct SourceList {
  AppIconSource* items = nullptr;
  size_t count = 0;        // complete sources
  size_t constructed = 0;  // slots holding a record
  size_t capacity = 0;

  SourceList() = default;
  SourceList(const SourceList&) = delete;
  SourceList& operator=(const SourceList&) = delete;
  ~SourceList() {
    for (size_t i = 0; i < constructed; ++i) items[i].~AppIconSource();
    Mem_Free(items);
  }
};

// A fresh record in slot `count`. False (ENOMEM) when the list cannot grow;
// the sources already kept stay.
bool SourceList_NextSlot(SourceList& list) {
  if (list.count < list.constructed) {
    list.items[list.count].~AppIconSource();
    new (&list.items[list.count]) AppIconSource();
    return true;
  }
  if (list.constructed == list.capacity) {
    const size_t capacity = list.capacity == 0 ? 8 : list.capacity * 2;
    auto* items = static_cast<AppIconSource*>(Mem_Alloc(capacity * sizeof(AppIconSource)));
    if (items == nullptr) return Fail(ENOMEM);
    for (size_t i = 0; i < list.constructed; ++i) {
      new (&items[i]) AppIconSource(std::move(list.items[i]));
      list.items[i].~AppIconSource();
    }
    Mem_Free(list.items);
    list.items = items;
    list.capacity = capacity;
  }
  new (&list.items[list.constructed]) AppIconSource();
  ++list.constructed;
  return true;
}

int32_t WatchRole(const char* text) {
  static constexpr const char* kRoles[] = {"notificationCenter", "companionSettings", "appLauncher",
                                           "longLook", "quickLook"};
  for (int32_t i = 0; i < 5; ++i) {
    if (std::strcmp(text, kRoles[i]) == 0) return i + 1;
  }
  return 0;
}

// Brings the item's picture into `source.image` at `pixel_size`: a blank icon
// or the file resized. Warns and returns false when it cannot.
bool LoadIcon(AppIconSource& source, int32_t pixel_size, const char* set) {
  const char* file = source.file_name;
  const bool too_large = pixel_size > kMaxIconPixelSize;
  if (std::strcmp(file, kEmptyImage) == 0) {
    if (!too_large && Image_CreateBlank("BGRA", pixel_size, pixel_size, source.image)) return true;
    const int code = too_large ? EINVAL : errno;
    if (code == ENOMEM) {
      std::fprintf(stderr, "Warning: out of memory creating %s for app icon set '%s'! ignoring.\n",
                   file, set);
    } else {
      std::fprintf(stderr,
                   "Warning: unknown error creating %s (errno = %d) for app icon set '%s'! "
                   "ignoring.\n",
                   file, code, set);
    }
    return false;
  }
  if (!too_large) {
    if (!Image_ReadFile(file, "BGRA", source.image)) {
      AssetDirectory_WarnImageRead(file, kKind, set, errno);
      return false;
    }
    if (source.image.width != source.image.height) {
      std::fprintf(stderr, "Warning: app icon image '%s' has non-square dimensions!\n", file);
    }
    if (Image_Resize("BGRA", source.image, pixel_size, pixel_size)) return true;
  }
  const int code = too_large ? EINVAL : errno;
  Buffer_Free(source.image.pixels);
  AssetDirectory_WarnImageResize(file, kKind, set, code);
  return false;
}

// Reads item `i` into slot `sources.count`. False (after its warning) when
// the item is skipped.
bool ReadItem(const cJSON* item, int i, const char* set, SourceList& sources) {
  bool known = true;
  int32_t idiom = kIdiomUniversal;
  if (const char* text = Json_MemberText(item, "idiom")) {
    idiom = ContentsJson_IdiomValue(text, known);
    if (!known) {
      std::fprintf(stderr,
                   "Warning: app icon set '%s' has unexpected syntax in Contents.json file (item "
                   "#%d's idiom is '%s')! defaulting to 'universal'.\n",
                   set, i, text);
    }
  }
  const char* size_text = Json_MemberText(item, "size");
  if (size_text == nullptr) {
    std::fprintf(stderr,
                 "Warning: app icon set '%s' has unexpected syntax in Contents.json file (item "
                 "#%d has no size)! ignoring.\n",
                 set, i);
    return false;
  }
  const float size = ContentsJson_LeadingNumber(size_text);
  const char* scale_text = Json_MemberText(item, "scale");
  if (scale_text == nullptr) scale_text = Json_MemberText(item, "subtype");
  if (scale_text == nullptr) {
    std::fprintf(stderr,
                 "Warning: app icon set '%s' has unexpected syntax in Contents.json file (item "
                 "#%d has no scale)! ignoring.\n",
                 set, i);
    return false;
  }
  const int32_t scale = ContentsJson_LeadingInteger(scale_text);
  const int32_t pixel_size = AppIcon_PixelSize(size, scale);

  const char* file_name = Json_MemberText(item, "filename");
  if (file_name == nullptr) {
    std::fprintf(stderr,
                 "Notice: item #%d in app icon set '%s' has no filename: generating blank %dx%d "
                 "icon.\n",
                 i, set, pixel_size, pixel_size);
    file_name = kEmptyImage;
  } else if (std::strcmp(file_name, kEmptyImage) == 0) {
    file_name = kEmptyImage;
  }

  int32_t gamut = 1;
  if (const char* text = Json_MemberText(item, "display-gamut")) {
    if (std::strcmp(text, "display-P3") == 0) {
      gamut = 2;
    } else if (std::strcmp(text, "sRGB") != 0) {
      std::fprintf(stderr,
                   "Warning: app icon set '%s' has unexpected syntax in Contents.json file (item "
                   "#%d's display gamut is '%s')! defaulting to 'sRGB'.\n",
                   set, i, text);
    }
  }

  int32_t role = 0;
  if (idiom == kIdiomWatch) {
    const char* text = Json_MemberText(item, "role");
    if (text == nullptr) {
      std::fprintf(stderr,
                   "Warning: app icon set '%s' has unexpected syntax in Contents.json file "
                   "(watch-specific item #%d has no role)! ignoring.\n",
                   set, i);
      return false;
    }
    role = WatchRole(text);
    if (role == 0) {
      std::fprintf(stderr,
                   "Warning: app icon set '%s' has unexpected syntax in Contents.json file "
                   "(watch-specific item #%d's role is '%s')! ignoring.\n",
                   set, i, text);
      return false;
    }
  }

  if (!SourceList_NextSlot(sources)) {
    std::fprintf(stderr,
                 "Warning: memory reallocation error while adding icon rendition to app icon set "
                 "'%s'! ignoring.\n",
                 set);
    return false;
  }
  AppIconSource& source = sources.items[sources.count];
  source.file_name = file_name;
  source.size = size;
  source.idiom = idiom;
  source.scale = scale;
  source.display_gamut = gamut;
  source.role = role;
  return LoadIcon(source, pixel_size, set);
}

// Which kept source each looked-up (idiom, scale, size) of the sequence will
// use: the first complete one. Only those and the best source are ever read
// again, so every other picture is released as soon as it is known not to be
// needed, which bounds the memory a set takes whatever its item count.
struct SourceUse {
  int32_t first[kAppIconSequenceSteps];
  int32_t best = -1;
  int64_t best_area = -1;
  SourceUse() {
    for (int32_t& f : first) f = -1;
  }
};

bool IsFirstOfItsSlot(const SourceUse& use, const AppIconSource& s, int32_t index) {
  const int32_t slot = AppIconSequence_SlotOf(s.idiom, s.scale, s.size);
  return slot >= 0 && use.first[slot] == index;
}

void KeepSource(SourceList& sources, SourceUse& use) {
  const auto index = static_cast<int32_t>(sources.count);
  AppIconSource& s = sources.items[index];
  const int32_t slot = AppIconSequence_SlotOf(s.idiom, s.scale, s.size);
  if (slot >= 0 && use.first[slot] < 0) use.first[slot] = index;
  const int64_t area = int64_t{s.image.width} * s.image.height;
  if (use.best < 0 || area > use.best_area) {
    const int32_t previous = use.best;
    use.best = index;
    use.best_area = area;
    if (previous >= 0 && !IsFirstOfItsSlot(use, sources.items[previous], previous)) {
      Buffer_Free(sources.items[previous].image.pixels);
    }
  } else if (!IsFirstOfItsSlot(use, s, index)) {
    Buffer_Free(s.image.pixels);
  }
  ++sources.count;
}

// The description, the facet and the renditions, with the working directory
// inside the set.
bool CompileEnteredSet(AssetsCatalog& catalog, const char* set) {
  JsonDocument json;
  if (!AssetDirectory_ReadContents(json, kKind, set)) return false;
  const cJSON* images = Json_Member(json.root, "images");
  if (!Json_IsArray(images)) {
    std::fprintf(
        stderr,
        "Warning: app icon set '%s' has unexpected syntax in Contents.json file (no images "
        "array)! ignoring.\n",
        set);
    return false;
  }
  const int n = Json_ArraySize(images);

  int32_t bitmap_key = -1;
  const int32_t facet_id = AssetDirectory_AddFacet(catalog, kKind, set, kAppIconSetElement,
                                                   kAppIconSetPart, &bitmap_key);
  if (facet_id < 0) return false;
  if (BOMBlock* key = BOMStore_Block(catalog.store, bitmap_key)) {
    (void)BitmapKey_SetAttributeMask(*key, kAttrScale, kScaleMask);
    (void)BitmapKey_SetAttributeMask(*key, kAttrIdiom, kIdiomMask);
    (void)BitmapKey_SetAttributeMask(*key, kAttrDimension2, kDimension2Mask);
  }

  SourceList sources;
  SourceUse use;
  const cJSON* item = Json_FirstItem(images);
  for (int i = 0; i < n; ++i, item = Json_NextItem(item)) {
    if (item == nullptr) {
      std::fprintf(stderr,
                   "Warning: app icon set '%s' has unexpected syntax in Contents.json file (unable "
                   "to get item #%d in resources array)! ignoring.\n",
                   set, i);
      continue;
    }
    if (ReadItem(item, i, set, sources)) KeepSource(sources, use);
  }
  if (sources.count == 0) {
    // Nothing to draw any icon from: the facet stays, without renditions.
    std::fprintf(
        stderr, "Warning: app icon set '%s' has no usable image in Contents.json file! ignoring.\n",
        set);
    return false;
  }
  return AssetsCatalog_AddAppIconRenditions(
      catalog, set, facet_id, std::span<const AppIconSource>(sources.items, sources.count),
      use.best);
}

}  // namespace

int32_t AppIcon_PixelSize(float size, int32_t scale) {
  const float pixels = size * static_cast<float>(scale);
  // Out of range (or not a number): no picture can have that size.
  if (!(pixels > -2147483648.0f && pixels < 2147483648.0f)) return -1;
  return static_cast<int32_t>(pixels);
}

bool AssetsCatalog_CompileAppIconSet(AssetsCatalog& catalog, char* directory, bool verbose) {
  int remembered = -1;
  if (!AssetDirectory_Enter(directory, kKind, verbose, remembered)) return false;
  const bool compiled = CompileEnteredSet(catalog, directory);
  WorkingDirectory_Return(remembered);
  return compiled;
}

}  // namespace skarvel
