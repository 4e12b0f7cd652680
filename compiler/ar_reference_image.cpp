#include "compiler/ar_reference_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "catalog/catalog_builder.h"
#include "catalog/rendition_attribute.h"
#include "compiler/asset_directory.h"
#include "compiler/working_directory.h"
#include "csi/csi_build.h"
#include "csi/csi_format.h"
#include "image/image_file.h"
#include "image/image_ops.h"

namespace skarvel {

namespace {

constexpr char kGrayAlpha[4] = {' ', '8', 'A', 'G'};
constexpr uint32_t kColorspaceDisplayP3 = 2;
constexpr uint32_t kUnitMeters = 0;
// The pixels are stored in four chunks, with element flag bit 0 set.
constexpr uint32_t kChunkCount = 4;
constexpr uint32_t kElementFlags = 1;
constexpr char kKind[] = "AR reference image";

// The factor that turns a width in `unit` into meters, applied in single
// precision (10 centimeters are 0.099999994 m). False (and 1) for a unit
// other than these, compared exactly.
bool UnitFactor(const char* unit, float& factor) {
  struct Unit {
    const char* text;
    float factor;
  };
  static constexpr Unit kUnits[] = {
      {"meters", 1.0f},    {"centimeters", 0.01f}, {"feet", 0.3048f},
      {"inches", 0.0254f}, {"yards", 0.9144f},
  };
  for (const Unit& u : kUnits) {
    if (std::strcmp(unit, u.text) == 0) {
      factor = u.factor;
      return true;
    }
  }
  factor = 1.0f;
  return false;
}

// The physical width in meters, from the "properties" object. False (after
// its warning) when there is none.
bool ReadWidth(const cJSON* root, const char* name, float& width) {
  const cJSON* properties = Json_Member(root, "properties");
  if (!Json_IsObject(properties)) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has unexpected syntax in Contents.json file (no "
                 "properties object)! ignoring.\n",
                 name);
    return false;
  }
  const char* width_text = Json_MemberText(properties, "width");
  if (width_text == nullptr) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has unexpected syntax in Contents.json file (no "
                 "width property)! ignoring.\n",
                 name);
    return false;
  }
  width = ContentsJson_LeadingNumber(width_text);
  if (const char* unit = Json_MemberText(properties, "unit")) {
    float factor = 1.0f;
    if (!UnitFactor(unit, factor)) {
      std::fprintf(stderr,
                   "Warning: unknown unit (%s) given as unit property for AR reference image '%s'! "
                   "defaulting to meters.\n",
                   unit, name);
    }
    width = width * factor;
  }
  return true;
}

// Adds the facet and the rendition of the picture. False after a warning.
bool StoreImage(AssetsCatalog& catalog, const char* name, const char* file, int32_t idiom,
                float width, const Image& image) {
  const int32_t facet_id =
      AssetDirectory_AddFacet(catalog, kKind, name, kARElement, kARReferenceImagePart, nullptr);
  if (facet_id < 0) return false;
  int32_t attributes[kAttrCount] = {};
  attributes[kAttrPart] = kARReferenceImagePart;
  attributes[kAttrScale] = 1;
  attributes[kAttrIdiom] = idiom;
  const auto side = static_cast<uint32_t>(image.width);
  const int32_t index = AssetsCatalog_AddRendition(
      catalog, facet_id, attributes, side, static_cast<uint32_t>(image.height), 100, kGrayAlpha,
      kColorspaceDisplayP3, kLayoutImage, file, 1);
  if (index < 0) {
    std::fprintf(stderr, "Warning: unable to add AR reference image rendition '%s'! ignoring.\n",
                 name);
    return false;
  }
  BOMBlock& block = *BOMStore_Block(catalog.store, index);
  const auto height = static_cast<uint32_t>(image.height);
  // The slice's y is 256 - height, a negative number kept in an unsigned
  // field as its two's complement.
  const CSISliceRect slice[] = {{0, static_cast<uint32_t>(256 - image.height), 1024, 1024}};
  const CSIMetric metric[] = {{0, 0, 0, 0, side, height}};
  const float physical_height =
      width * (static_cast<float>(image.height) / static_cast<float>(image.width));
  const auto stride = static_cast<uint32_t>(image.stride);
  const bool stored =
      CSI_AddSlices(block, slice) && CSI_AddMetrics(block, metric) &&
      CSI_AddComposition(block, 0, 1.0f) &&
      CSI_AddProperties(block, kUnitMeters, width, physical_height) &&
      CSI_AddOrientation(block, 1) && CSI_AddBytesPerLine(block, stride) &&
      CSI_SetImagePayload(block, kElementFlags, CompressionMethod::LZFSE, kChunkCount,
                          image.pixels.bytes(), side, height, stride, 2);
  if (!stored) {
    const int code = errno;
    std::fprintf(stderr, "Warning: error storing AR reference image '%s'! [errno = %d] ignoring.\n",
                 name, code);
    return false;
  }
  return true;
}

// Steps after entering the directory: the description, the picture, the
// facet and the rendition.
bool CompileEnteredImage(AssetsCatalog& catalog, const char* name) {
  JsonDocument json;
  if (!AssetDirectory_ReadContents(json, kKind, name)) return false;
  float width = 0;
  if (!ReadWidth(json.root, name, width)) return false;

  const cJSON* item = Json_FirstItem(Json_Member(json.root, "images"));
  if (item == nullptr) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has unexpected syntax in Contents.json file (no "
                 "image object)! ignoring.\n",
                 name);
    return false;
  }
  int32_t idiom = 0;
  if (const char* text_idiom = Json_MemberText(item, "idiom")) {
    bool known = true;
    idiom = ContentsJson_IdiomValue(text_idiom, known);
    if (!known) {
      std::fprintf(stderr,
                   "Warning: AR reference image %s has unexpected idiom value in Contents.json "
                   "file (%s)! defaulting to 'universal'.\n",
                   name, text_idiom);
    }
  }
  const char* file = Json_MemberText(item, "filename");
  if (file == nullptr) {
    std::fprintf(stderr,
                 "Warning: AR reference image '%s' has unexpected syntax in Contents.json file (no "
                 "image filename)! ignoring.\n",
                 name);
    return false;
  }

  Image image;
  if (!Image_ReadFile(file, "MA", image)) {
    AssetDirectory_WarnImageRead(file, kKind, name, errno);
    return false;
  }
  if (image.width != image.height) {
    std::fprintf(stderr, "Warning: AR reference image '%s' has non-square dimensions!\n", name);
  }
  if (!Image_Resize("MA", image, kARReferenceImageSize, kARReferenceImageSize)) {
    AssetDirectory_WarnImageResize(file, kKind, name, errno);
    return false;
  }
  return StoreImage(catalog, name, file, idiom, width, image);
}

}  // namespace

bool AssetsCatalog_CompileARReferenceImage(AssetsCatalog& catalog, char* directory, bool verbose) {
  int remembered = -1;
  if (!AssetDirectory_Enter(directory, kKind, verbose, remembered)) return false;
  const bool compiled = CompileEnteredImage(catalog, directory);
  WorkingDirectory_Return(remembered);
  return compiled;
}

}  // namespace skarvel
