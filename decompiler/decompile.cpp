#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/file_system.h"
#include "base/project.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_decode.h"
#include "decompiler/decompile_ar.h"
#include "decompiler/decompiler.h"
#include "frontend/input_catalog.h"
#include "frontend/report.h"
#include "image/image_file.h"

namespace skarvel {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool EndsWithNoCase(const char* text, size_t length, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return length >= n && strncasecmp(text + length - n, suffix, n) == 0;
}

// Copies `length` bytes of `text` into `out` at `at`, replacing separators.
void CopySafe(char* out, size_t at, const char* text, size_t length, bool& replaced) {
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (IsSeparator(c)) {
      c = '_';
      replaced = true;
    }
    out[at + i] = c;
  }
}

// Opens a descriptor on the current directory, to come back to it later.
int OpenCurrentDirectory() { return ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

void PrintClosingNote() {
  std::fputs("\n", stdout);
  std::fputs("PLEASE NOTE:  Some of the assets could not be decompiled. If you want to have\n",
             stdout);
  std::fprintf(stdout, "them supported in a next version, please e-mail the author at <%s>\n",
               kProjectAddress);
  std::fputs("and send him this .car file for examination. If you have the source .xcassets\n",
             stdout);
  std::fputs("directory, please attach it too.\n", stdout);
}

}  // namespace

void RenditionName_Copy(const char (&name_field)[128], char (&out)[128]) {
  const size_t length = strnlen(name_field, sizeof name_field - 1);
  std::memcpy(out, name_field, length);
  out[length] = '\0';
}

bool RenditionImageFileName(const char (&name_field)[128], char (&file_name)[kDecompiledNameSize]) {
  const size_t length = strnlen(name_field, sizeof name_field - 1);
  bool replaced = false;
  CopySafe(file_name, 0, name_field, length, replaced);
  file_name[length] = '\0';
  const bool has_extension =
      length >= 6 &&
      (EndsWithNoCase(name_field, length, ".bmp") || EndsWithNoCase(name_field, length, ".png") ||
       EndsWithNoCase(name_field, length, ".jpg") || EndsWithNoCase(name_field, length, ".jpeg"));
  // 127 bytes and ".png" always fit the 256-byte buffer.
  if (!has_extension) std::memcpy(file_name + length, ".png", 5);
  return replaced;
}

bool DecompiledDirectoryName(const char* name, const char* extension,
                             char (&out)[kDecompiledNameSize], bool& replaced) {
  replaced = false;
  const size_t name_length = std::strlen(name);
  const size_t extension_length = std::strlen(extension);
  if (name_length > kDecompiledNameSize - 1 ||
      extension_length > kDecompiledNameSize - 1 - name_length) {
    out[0] = '\0';
    return false;
  }
  CopySafe(out, 0, name, name_length, replaced);
  std::memcpy(out + name_length, extension, extension_length + 1);
  return true;
}

bool DecompileDirectory_Enter(const char* name, DecompileDirectory& directory) {
  directory.parent = OpenCurrentDirectory();
  if (directory.parent < 0) return false;
  (void)MakeDirectory(name);  // an existing directory is reused
  if (ChangeDirectory(name) != 0) {
    const int code = errno;
    ::close(directory.parent);
    directory.parent = -1;
    errno = code;
    return false;
  }
  return true;
}

void DecompileDirectory_Leave(DecompileDirectory& directory) {
  if (directory.parent < 0) return;
  // Going back through the descriptor, not "..": a directory reached through
  // an emulated link has another parent.
  (void)::fchdir(directory.parent);
  ::close(directory.parent);
  directory.parent = -1;
}

void ContentsJson_WriteText(FILE* file, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      std::fputc('\\', file);
      std::fputc(c, file);
    } else if (c < 0x20) {
      std::fprintf(file, "\\u%04x", c);
    } else {
      std::fputc(c, file);
    }
  }
}

void ContentsJson_WriteInfo(FILE* file) {
  std::fputs("    \"info\": {\n", file);
  std::fputs("        \"version\": 1,\n", file);
  std::fputs("        \"author\": \"xcode\"\n", file);
  std::fputs("    },\n", file);
}

void WriteDecompiledImage(const char* file_name, const char* pixel_format,
                          std::span<const uint8_t> pixels, int32_t width, int32_t height,
                          int32_t stride) {
  if (Image_WriteFile(file_name, pixel_format, pixels, width, height, stride)) return;
  const int code = errno;
  Report_ImageWriteFailure(stderr, file_name, code);
}

void WarnExtractFailure(const char* rendition_name) {
  std::fprintf(stderr, "Warning: failed to extract image for rendition '%s'\n", rendition_name);
}

void WriteRenditionImage(const BOMBlock& block, const char* rendition_name, const char* file_name) {
  Image image;
  if (!CSI_DecodeImage(block, image)) {
    WarnExtractFailure(rendition_name);
    return;
  }
  WriteDecompiledImage(file_name, image.pixel_format, image.pixels.bytes(), image.width,
                       image.height, image.stride);
}

bool Rendition_HasImagePayload(const BOMBlock& block) {
  uint64_t at = 0;
  uint64_t size = 0;
  if (!CSI_PayloadRange(block, at, size) || size < 4) return false;
  return std::memcmp(block.data + at, "MLEC", 4) == 0;
}

bool DecompiledFacet_Begin(const AssetsCatalog& catalog, const char* kind, const char* name,
                           const char* extension, DecompiledFacet& out) {
  out.facet = AssetsCatalog_FindFacetByName(catalog, name);
  if (out.facet == nullptr || out.facet->rendition_count <= 0) {
    std::fprintf(stderr, "Warning: %s '%s' has no rendition! ignoring.\n", kind, name);
    return false;
  }
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
  if (!DecompileDirectory_Enter(directory_name, out.directory)) {
    std::fprintf(stderr, "Warning: failed to create directory '%s' for %s '%s'! ignoring.\n",
                 directory_name, kind, name);
    return false;
  }
  out.contents = OpenFile("Contents.json", "wb");
  if (out.contents == nullptr) {
    std::fprintf(stderr, "Warning: failed to create Contents.json for %s '%s'\n", kind, name);
  }
  return true;
}

void DecompiledFacet_End(DecompiledFacet& facet) {
  if (facet.contents != nullptr) std::fclose(facet.contents);
  facet.contents = nullptr;
  DecompileDirectory_Leave(facet.directory);
}

void JsonEntryList_Begin(JsonEntryList& list) {
  if (list.entry_open) std::fputs(",\n", list.file);
  std::fputs("        {\n", list.file);
}

void JsonEntryList_End(JsonEntryList& list) {
  std::fputs("        }", list.file);
  list.entry_open = true;
}

void JsonEntryList_Finish(JsonEntryList& list) {
  if (list.entry_open) std::fputs("\n", list.file);
  list.entry_open = false;
}

bool AssetsCatalog_Decompile(const AssetsCatalog& catalog, const char* input,
                             const char* output_directory) {
  std::fprintf(stdout, "\nDecompiling %s to %s...\n", input, output_directory);
  DecompileDirectory output;
  if (!DecompileDirectory_Enter(output_directory, output)) {
    const int code = errno;
    std::fprintf(stderr, "skarvel: unable to create output directory %s (errno = %d)\n",
                 output_directory, code);
    return false;
  }
  bool decompiled = false;
  PackedAssetCache packed_assets;
  for (uint32_t i = 0; i < catalog.facet_count; ++i) {
    const Facet& facet = catalog.facets[i];
    const char* part_name = nullptr;
    RenditionAttribute_GetNames(kAttrPart, facet.part, nullptr, &part_name);
    if (std::strcmp(part_name, "appiconset") == 0) {
      decompiled |= AssetsCatalog_DecompileAppIconSet(catalog, facet.name, &packed_assets);
    } else if (std::strcmp(part_name, "arresourcegroup") == 0) {
      decompiled |= AssetsCatalog_DecompileARResourceGroup(catalog, facet.name);
    } else if (std::strncmp(part_name, "arreferenceimage", 16) == 0) {
      // Rebuilt by the group that lists it.
    } else {
      std::fprintf(stderr, "WARNING: unsupported facet type: \"%s\"\n", part_name);
    }
  }
  if (catalog.facet_count > 0 && !decompiled) {
    PrintClosingNote();
  }
  DecompileDirectory_Leave(output);
  return true;
}

int RunDecompileCommand(const CommandLine& cl) {
  AssetsCatalog catalog;
  LoadInputCatalog(cl, catalog);
  const bool ok = AssetsCatalog_Decompile(catalog, cl.input, cl.output);
  ReleaseInputCatalog(catalog);
  return ok ? 0 : 1;
}

}  // namespace skarvel
