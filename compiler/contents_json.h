#pragma once
// "Contents.json" documents as the asset compilers read them: parsed with
// cJSON, every scalar value read as text. A string gives its characters, a
// number the literal text it has in the file ("83.5" stays "83.5", "29"
// stays "29", "1e1" stays "1e1"), true, false and null those words. Arrays
// and objects have no text.

#include <cstddef>
#include <cstdint>

#include "base/buffer.h"

struct cJSON;

namespace skarvel {

// A parsed document; owns its tree. Move-only.
struct JsonDocument {
  cJSON* root = nullptr;

  JsonDocument() = default;
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;
  JsonDocument(JsonDocument&& other) noexcept;
  JsonDocument& operator=(JsonDocument&& other) noexcept;
  ~JsonDocument();
};

// Parses the NUL-terminated `text` (anything after the first value is not
// looked at). False with EINVAL (bad syntax, or nesting deeper than the
// parser allows) or ENOMEM; the document is then empty.
[[nodiscard]] bool JsonDocument_Parse(JsonDocument& document, const char* text);
void JsonDocument_Free(JsonDocument& document);

// The member `name` of an object (exact, case-sensitive; the first of equal
// names), or null when `object` is null, not an object, or has no such member.
[[nodiscard]] const cJSON* Json_Member(const cJSON* object, const char* name);
// The text of that member as described above; null when it is absent or an
// array or object.
[[nodiscard]] const char* Json_MemberText(const cJSON* object, const char* name);
// True when `value` is an array (an object).
[[nodiscard]] bool Json_IsArray(const cJSON* value);
[[nodiscard]] bool Json_IsObject(const cJSON* value);
// The number of items of an array, and its first item / an item's successor.
[[nodiscard]] int Json_ArraySize(const cJSON* array);
[[nodiscard]] const cJSON* Json_FirstItem(const cJSON* array);
[[nodiscard]] const cJSON* Json_NextItem(const cJSON* item);

// Descriptions are a few kilobytes; a larger "Contents.json" is not read.
inline constexpr int64_t kContentsJsonLimit = int64_t{16} << 20;

// Reads "Contents.json" of the working directory whole (the Buffer keeps
// zero bytes after it, so the text is terminated). False when it is missing
// or unreadable, or larger than kContentsJsonLimit (`too_large` is then set
// and nothing is read).
[[nodiscard]] bool ContentsJson_ReadFile(Buffer& text, bool& too_large);
// The value of an "idiom" text: "universal" 0, "iphone" 1, "ipad" 2, "tv" 3,
// "watch" 5, "ios-marketing" 6 (exact); any other text gives 0 with `known`
// false.
[[nodiscard]] int32_t ContentsJson_IdiomValue(const char* text, bool& known);
// The leading decimal number of a text as the C library reads it (0 when
// there is none), in single precision.
float ContentsJson_LeadingNumber(const char* text);
// The leading decimal integer of a text (0 when there is none), held to 32
// bits.
[[nodiscard]] int32_t ContentsJson_LeadingInteger(const char* text);

}  // namespace skarvel
