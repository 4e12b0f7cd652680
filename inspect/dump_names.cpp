#include "inspect/dump_names.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/result.h"
#include "frontend/command_line.h"

namespace skarvel {

namespace {

bool EndsWithNoCase(const char* text, const char* suffix) {
  const size_t length = std::strlen(text);
  const size_t suffix_length = std::strlen(suffix);
  return length >= suffix_length && strcasecmp(text + length - suffix_length, suffix) == 0;
}

bool HasPictureExtension(const char* name) {
  return EndsWithNoCase(name, ".bmp") || EndsWithNoCase(name, ".png") ||
         EndsWithNoCase(name, ".jpg") || EndsWithNoCase(name, ".jpeg");
}

// Appends `text` at `used` (the length so far), with separators replaced when
// `from_catalog`. False once the name no longer fits (the rest is dropped and
// `out` stays terminated).
bool Append(char* out, size_t size, size_t& used, const char* text, bool from_catalog) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (used + 1 >= size) return false;
    const bool separator = *c == '/' || *c == '\\';
    out[used++] = from_catalog && separator ? kSeparatorStandIn : *c;
    out[used] = '\0';
  }
  return true;
}

// "(block <N>) <name><extension>".
bool ResourceFileName(char* out, size_t size, uint32_t index, const char* name,
                      const char* extension) {
  if (size == 0) return Fail(ENAMETOOLONG);
  out[0] = '\0';
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "(block %d) ", static_cast<int>(index));
  size_t used = 0;
  if (!Append(out, size, used, prefix, false) || !Append(out, size, used, name, true) ||
      !Append(out, size, used, extension, false)) {
    return Fail(ENAMETOOLONG);
  }
  return true;
}

}  // namespace

const char* ImageExtension(const char* name) { return HasPictureExtension(name) ? "" : ".png"; }

const char* RawDataExtension(const char* name, std::span<const uint8_t, 4> pixel_format,
                             std::span<const uint8_t> data) {
  struct Kind {
    char format[5];         // as stored
    const char* extension;  // appended
    const char* also;       // another name ending that is kept, or null
  };
  static constexpr Kind kKinds[] = {
      {" FDP", ".pdf", nullptr}, {" GVS", ".svg", nullptr},  {"GEPJ", ".jpg", ".jpeg"},
      {"JPEG", ".jpg", ".jpeg"}, {"FIEH", ".heic", ".heif"},
  };
  for (const Kind& kind : kKinds) {
    if (std::memcmp(pixel_format.data(), kind.format, 4) != 0) continue;
    const bool named = EndsWithNoCase(name, kind.extension) ||
                       (kind.also != nullptr && EndsWithNoCase(name, kind.also));
    return named ? "" : kind.extension;
  }
  static constexpr char kPdfMagic[] = "%PDF-";
  if (data.size() >= 6 && std::memcmp(data.data(), kPdfMagic, sizeof kPdfMagic - 1) == 0) {
    return EndsWithNoCase(name, ".pdf") ? "" : ".pdf";
  }
  return HasPictureExtension(name) ? "" : ".bin";
}

bool Dump_BlockFileName(char* out, size_t size, const char* input, uint32_t index,
                        const char* label) {
  if (size == 0) return Fail(ENAMETOOLONG);
  out[0] = '\0';
  const char* base = InputBaseName(input);
  const char* dot = std::strrchr(base, '.');
  const size_t base_length = dot != nullptr ? static_cast<size_t>(dot - base) : std::strlen(base);
  if (base_length + 1 > size) {
    std::memcpy(out, base, size - 1);
    out[size - 1] = '\0';
    return Fail(ENAMETOOLONG);
  }
  std::memcpy(out, base, base_length);
  out[base_length] = '\0';
  size_t used = base_length;
  char number[32];
  std::snprintf(number, sizeof number, "-block%d", static_cast<int>(index));
  const bool labelled = label != nullptr && label[0] != '\0';
  if (!Append(out, size, used, number, false) ||
      (labelled &&
       (!Append(out, size, used, "-", false) || !Append(out, size, used, label, true))) ||
      !Append(out, size, used, ".bin", false)) {
    return Fail(ENAMETOOLONG);
  }
  return true;
}

bool Dump_ImageFileName(char* out, size_t size, uint32_t index, const char* name) {
  return ResourceFileName(out, size, index, name, ImageExtension(name));
}

bool Dump_RawFileName(char* out, size_t size, uint32_t index, const char* name,
                      std::span<const uint8_t, 4> pixel_format, std::span<const uint8_t> data) {
  return ResourceFileName(out, size, index, name, RawDataExtension(name, pixel_format, data));
}

}  // namespace skarvel
