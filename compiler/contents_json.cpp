#include "compiler/contents_json.h"

#include <cjson/cJSON.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/file_system.h"
#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

namespace {

// cJSON allocates through the program's allocation funnel, so that a failed
// allocation can be told apart from bad syntax.
bool g_allocation_failed = false;

void* JsonAllocate(size_t size) {
  void* p = Mem_Alloc(size);
  if (p == nullptr) g_allocation_failed = true;
  return p;
}

void JsonRelease(void* p) { Mem_Free(p); }

void InstallHooks() {
  static bool installed = false;
  if (installed) return;
  cJSON_Hooks hooks = {JsonAllocate, JsonRelease};
  cJSON_InitHooks(&hooks);
  installed = true;
}

// cJSON keeps only the value of a number. Its literal text is recovered by
// walking the source text alongside the tree, member by member and item by
// item, with the parser's own rules for what a token covers; each number
// node then carries its literal in `valuestring` (released with the tree).
struct LiteralScan {
  const char* text = nullptr;
  size_t pos = 0;
  bool matched = true;
  bool out_of_memory = false;
};

void SkipSpace(LiteralScan& s) {
  while (s.text[s.pos] != '\0' && static_cast<unsigned char>(s.text[s.pos]) <= 32) ++s.pos;
}

bool Expect(LiteralScan& s, const char* word) {
  const size_t length = std::strlen(word);
  if (std::strncmp(s.text + s.pos, word, length) != 0) return s.matched = false;
  s.pos += length;
  return true;
}

bool SkipString(LiteralScan& s) {
  if (!Expect(s, "\"")) return false;
  while (s.text[s.pos] != '\0' && s.text[s.pos] != '"') {
    if (s.text[s.pos] == '\\' && s.text[s.pos + 1] != '\0') ++s.pos;
    ++s.pos;
  }
  return Expect(s, "\"");
}

// The parser copies at most 63 characters of [0-9+-eE.] and converts them;
// the token is what the conversion consumed.
bool TakeNumber(LiteralScan& s, cJSON* node) {
  char digits[64];
  size_t n = 0;
  while (n < sizeof digits - 1 && s.text[s.pos + n] != '\0' &&
         std::strchr("0123456789+-eE.", s.text[s.pos + n]) != nullptr) {
    digits[n] = s.text[s.pos + n];
    ++n;
  }
  digits[n] = '\0';
  char* end = nullptr;
  (void)std::strtod(digits, &end);
  const auto length = static_cast<size_t>(end - digits);
  if (length == 0) return s.matched = false;
  auto* literal = static_cast<char*>(cJSON_malloc(length + 1));
  if (literal == nullptr) {
    s.out_of_memory = true;
    return false;
  }
  std::memcpy(literal, s.text + s.pos, length);
  literal[length] = '\0';
  node->valuestring = literal;
  s.pos += length;
  return true;
}

bool ScanValue(LiteralScan& s, cJSON* node);

// Items (or members, with their names) up to the closing bracket.
bool ScanChildren(LiteralScan& s, cJSON* node, bool members, const char* close) {
  for (cJSON* child = node->child; child != nullptr; child = child->next) {
    SkipSpace(s);
    if (members) {
      if (!SkipString(s)) return false;
      SkipSpace(s);
      if (!Expect(s, ":")) return false;
      SkipSpace(s);
    }
    if (!ScanValue(s, child)) return false;
    SkipSpace(s);
    if (child->next != nullptr && !Expect(s, ",")) return false;
  }
  SkipSpace(s);
  return Expect(s, close);
}

bool ScanValue(LiteralScan& s, cJSON* node) {
  switch (node->type & 0xFF) {
    case cJSON_NULL:
      return Expect(s, "null");
    case cJSON_False:
      return Expect(s, "false");
    case cJSON_True:
      return Expect(s, "true");
    case cJSON_String:
      return SkipString(s);
    case cJSON_Number:
      return TakeNumber(s, node);
    case cJSON_Array:
      return Expect(s, "[") && ScanChildren(s, node, false, "]");
    case cJSON_Object:
      return Expect(s, "{") && ScanChildren(s, node, true, "}");
    default:
      return s.matched = false;
  }
}

}  // namespace

JsonDocument::JsonDocument(JsonDocument&& other) noexcept
    : root(std::exchange(other.root, nullptr)) {}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
  if (this != &other) {
    JsonDocument_Free(*this);
    root = std::exchange(other.root, nullptr);
  }
  return *this;
}

JsonDocument::~JsonDocument() { JsonDocument_Free(*this); }

bool JsonDocument_Parse(JsonDocument& document, const char* text) {
  JsonDocument_Free(document);
  if (text == nullptr) return Fail(EINVAL);
  InstallHooks();
  g_allocation_failed = false;
  cJSON* root = cJSON_Parse(text);
  if (root == nullptr) return Fail(g_allocation_failed ? ENOMEM : EINVAL);
  LiteralScan scan{text};
  if (std::strncmp(text, "\xEF\xBB\xBF", 3) == 0) scan.pos = 3;  // the parser skips a BOM
  SkipSpace(scan);
  if (!ScanValue(scan, root)) {
    cJSON_Delete(root);
    return Fail(scan.out_of_memory ? ENOMEM : EINVAL);
  }
  document.root = root;
  return true;
}

void JsonDocument_Free(JsonDocument& document) {
  if (document.root != nullptr) cJSON_Delete(document.root);
  document.root = nullptr;
}

const cJSON* Json_Member(const cJSON* object, const char* name) {
  if (object == nullptr || !cJSON_IsObject(object)) return nullptr;
  return cJSON_GetObjectItemCaseSensitive(object, name);
}

const char* Json_MemberText(const cJSON* object, const char* name) {
  const cJSON* member = Json_Member(object, name);
  if (member == nullptr) return nullptr;
  switch (member->type & 0xFF) {
    case cJSON_String:
    case cJSON_Number:
      return member->valuestring;
    case cJSON_True:
      return "true";
    case cJSON_False:
      return "false";
    case cJSON_NULL:
      return "null";
    default:
      return nullptr;
  }
}

bool Json_IsArray(const cJSON* value) { return value != nullptr && cJSON_IsArray(value); }

bool Json_IsObject(const cJSON* value) { return value != nullptr && cJSON_IsObject(value); }

int Json_ArraySize(const cJSON* array) {
  return Json_IsArray(array) ? cJSON_GetArraySize(array) : 0;
}

const cJSON* Json_FirstItem(const cJSON* array) {
  return Json_IsArray(array) ? array->child : nullptr;
}

const cJSON* Json_NextItem(const cJSON* item) { return item != nullptr ? item->next : nullptr; }

bool ContentsJson_ReadFile(Buffer& text, bool& too_large) {
  too_large = false;
  struct stat st;
  if (StatFile("Contents.json", &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_size > kContentsJsonLimit) {
    too_large = true;
    return false;
  }
  return Buffer_ReadFromFile(text, "Contents.json");
}

int32_t ContentsJson_IdiomValue(const char* text, bool& known) {
  struct Name {
    const char* text;
    int32_t value;
  };
  static constexpr Name kIdioms[] = {
      {"universal", 0}, {"iphone", 1}, {"ipad", 2}, {"tv", 3}, {"watch", 5}, {"ios-marketing", 6},
  };
  for (const Name& n : kIdioms) {
    if (std::strcmp(text, n.text) == 0) {
      known = true;
      return n.value;
    }
  }
  known = false;
  return 0;
}

float ContentsJson_LeadingNumber(const char* text) {
  return static_cast<float>(std::strtod(text, nullptr));
}

int32_t ContentsJson_LeadingInteger(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace skarvel
