#pragma once
// The -decompile command: rebuilds an .xcassets source directory from a
// loaded catalog, one sub-directory per app icon set (and per AR resource
// group), each with its "Contents.json" and the pictures of its renditions.
//
// Every file and directory is written inside the output directory: names
// taken from the catalog have their path separators ("/" and "\") replaced by
// "_" (with a warning), and a name that would not fit a 255-byte file name is
// refused with a warning.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "catalog/assets_catalog.h"
#include "csi/csi_format.h"
#include "frontend/command_line.h"
#include "image/image.h"

namespace skarvel {

// Size of a file or directory name buffer, terminator included.
inline constexpr size_t kDecompiledNameSize = 256;

// The command as the front end dispatches it: loads the input catalog (ending
// the process with status 1 when it is not one), decompiles it into
// cl.output and returns the exit status (1 only when the output directory
// could not be entered).
[[nodiscard]] int RunDecompileCommand(const CommandLine& cl);

// Prints the "Decompiling ..." line, creates `output_directory` and rebuilds
// every facet inside it, then prints the closing note when the catalog has
// facets and none of them could be decompiled. The working directory is the
// same before and after. False (after a message on stderr, nothing written)
// when the output directory cannot be created or entered.
[[nodiscard]] bool AssetsCatalog_Decompile(const AssetsCatalog& catalog, const char* input,
                                           const char* output_directory);

// The packed asset decoded last, kept so that the references into one
// packed asset decode it once, however many sets and renditions point at it
// (a hostile catalog can hold thousands of references to a large one).
struct PackedAssetCache {
  int32_t block = -1;  // index of the packed asset's value block; -1: none yet
  bool decoded = false;
  Image atlas;
};

// Rebuilds the app icon set facet `name` as <name>.appiconset in the current
// directory. True when the facet exists, has renditions and its directory
// could be entered, whatever became of the single renditions. `cache` may be
// shared by the sets of one catalog; without one the set keeps its own.
[[nodiscard]] bool AssetsCatalog_DecompileAppIconSet(const AssetsCatalog& catalog,
                                                     const char* name,
                                                     PackedAssetCache* cache = nullptr);

// The picture file name of a rendition: its name field up to the first zero
// byte (at most 127 bytes), with ".png" appended unless it is at least 6
// characters long and ends in ".bmp", ".png", ".jpg" or ".jpeg" (any case).
// Path separators become "_"; the result is true when one was replaced.
[[nodiscard]] bool RenditionImageFileName(const char (&name_field)[128],
                                          char (&file_name)[kDecompiledNameSize]);

// Writes a decoded picture with Image_WriteFile (the type follows the file
// name's extension) and reports a failure on stderr; never stops the command.
void WriteDecompiledImage(const char* file_name, const char* pixel_format,
                          std::span<const uint8_t> pixels, int32_t width, int32_t height,
                          int32_t stride);
// Prints "Warning: failed to extract image for rendition '<name>'".
void WarnExtractFailure(const char* rendition_name);
// Decodes the picture of the rendition in `block` and writes it to
// `file_name`; a picture that does not decode gets WarnExtractFailure.
void WriteRenditionImage(const BOMBlock& block, const char* rendition_name, const char* file_name);
// True when the record's payload lies in the block and is a CoreUI element.
[[nodiscard]] bool Rendition_HasImagePayload(const BOMBlock& block);

// The value block index of the packed asset a reference rendition points
// into, or -1 when there is none. The candidates are the rendition value
// blocks whose name starts with "ZZZZPackedAsset-", whose scaling percentage
// is `scale_factor` and whose key (the RENDITIONS entry naming the block) has
// facet id 0, idiom 0 or `idiom`, and dimension 1 (absent counts as 0) equal
// to `pack_index`; the result is the candidate of rank `ordinal` in block
// order, or the first one when there are not that many.
[[nodiscard]] int32_t FindPackedAsset(const AssetsCatalog& catalog, uint32_t scale_factor,
                                      int32_t idiom, int32_t pack_index, uint32_t ordinal = 0);

// The rendition name as text: the field up to its first zero byte, at most
// 127 bytes.
void RenditionName_Copy(const char (&name_field)[128], char (&out)[128]);

// Shared by the writers of every asset kind.

// `name` + `extension` with "/" and "\" replaced by "_". False when the
// result would be longer than 255 bytes; `replaced` tells whether a
// separator was replaced.
[[nodiscard]] bool DecompiledDirectoryName(const char* name, const char* extension,
                                           char (&out)[kDecompiledNameSize], bool& replaced);

// Creates the directory `name` in the current directory (an existing one is
// reused) and enters it, remembering where it came from. False (nothing to
// leave) when it cannot be entered.
struct DecompileDirectory {
  int parent = -1;  // descriptor of the directory to return to
};
[[nodiscard]] bool DecompileDirectory_Enter(const char* name, DecompileDirectory& directory);
// Returns to the directory that was current before Enter.
void DecompileDirectory_Leave(DecompileDirectory& directory);

// A facet being rebuilt: its directory entered, its "Contents.json" open
// (null when it could not be created: the pictures are still written).
struct DecompiledFacet {
  const Facet* facet = nullptr;
  DecompileDirectory directory;
  FILE* contents = nullptr;
};
// Finds the facet `name` and enters its directory <name><extension>. False
// (after a warning naming the facet by `kind`, "app icon set" for one) when
// the facet does not exist or has no renditions, or its directory cannot be
// named or entered; nothing is left to end then.
[[nodiscard]] bool DecompiledFacet_Begin(const AssetsCatalog& catalog, const char* kind,
                                         const char* name, const char* extension,
                                         DecompiledFacet& out);
// Closes "Contents.json" and returns to the directory Begin came from.
void DecompiledFacet_End(DecompiledFacet& facet);

// The entries of a list in a "Contents.json" being written. Each entry's
// closing brace waits for the next entry (which adds the comma) or for the
// end of the list, so the last entry written has none whatever was skipped
// after it.
struct JsonEntryList {
  FILE* file = nullptr;
  bool entry_open = false;
};
void JsonEntryList_Begin(JsonEntryList& list);   // an entry's opening brace
void JsonEntryList_End(JsonEntryList& list);     // its closing brace
void JsonEntryList_Finish(JsonEntryList& list);  // the line end before the list's ']'

// Writes `text` as the inside of a JSON string: the double quote, the
// backslash and control bytes are escaped, everything else is copied.
void ContentsJson_WriteText(FILE* file, const char* text);
// Writes the "info" member (version 1, author "xcode") and its comma.
void ContentsJson_WriteInfo(FILE* file);

}  // namespace skarvel
