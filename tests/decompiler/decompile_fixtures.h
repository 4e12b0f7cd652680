#pragma once
// Small app icon catalogs for the decompiler tests, built byte by byte: image
// renditions with uncompressed pixels, packed assets, reference renditions
// and scaling information, keyed in the default key format.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel::test {

// Distinct bytes for width x height pixels of `bpp` bytes (rows tightly packed).
Bytes PatternPixels(uint32_t width, uint32_t height, uint32_t bpp, uint8_t seed);

// A stand-alone image rendition: slices, metrics, composition, orientation,
// bytes per line (width x 4) and an uncompressed "BGRA" element.
Bytes ImageRecord(const std::string& name, uint32_t width, uint32_t height, uint32_t scale,
                  const Bytes& pixels);
// A packed asset ("ZZZZPackedAsset-..."): one zero slice, composition,
// orientation, bytes per line and an uncompressed "BGRA" element.
Bytes PackedRecord(uint32_t width, uint32_t height, uint32_t scale, const Bytes& pixels);
// A reference rendition of width x height at (x, y from the bottom) with the
// packed asset's key pairs.
Bytes ReferenceRecord(const std::string& name, uint32_t size, uint32_t scale, int32_t x, int32_t y,
                      const AttributePairs& pairs);
// A scaling information rendition (no pixel format).
Bytes ScalingRecord(const std::string& name);

// A 2 x 2 "BGRA" header without subblocks or payload, and one with a raw
// data payload.
Bytes BareRecord(const std::string& name);
Bytes RawDataRecord(const std::string& name);

// The key of a rendition of app icon facet `facet` (element 85, part 220).
Bytes IconKey(uint16_t facet, uint16_t idiom, uint16_t scale, uint16_t icon_index);
// The key of a packed asset (facet id 0, element 9, part 181).
Bytes PackedKey(uint16_t idiom, uint16_t scale, uint16_t pack_index);

// What a decompiling run returned and printed.
struct DecompileRun {
  bool ok = false;
  std::string out;
  std::string err;
};
// Loads the catalog bytes and decompiles them into Out.xcassets in the
// current directory (a fixture that does not load fails the test).
DecompileRun DecompileBytes(const Bytes& file);
// Compiles the .xcassets directory `source` into a new catalog saved at
// `path`; any message fails the test.
void CompileToFile(const std::string& source, const char* path);
// Decompiles the catalog at `path` into `out`; anything printed but the
// "Decompiling" line fails the test.
void DecompileFile(const char* path, const char* out);

}  // namespace skarvel::test
