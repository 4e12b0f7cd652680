// Contents.json values read as text: strings, number literals as written,
// the three words, and no text for arrays and objects.

#include "compiler/contents_json.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/mem.h"

namespace skarvel {
namespace {

TEST(ContentsJson, ValuesReadAsText) {
  struct Case {
    const char* name;
    const char* json;
    const char* expected;  // null: no text
  };
  const Case kCases[] = {
      {"string", R"({"v": "29x29"})", "29x29"},
      {"integer", R"({"v": 29})", "29"},
      {"fraction", R"({"v": 83.5})", "83.5"},
      {"trailing zero kept", R"({"v": 83.50})", "83.50"},
      {"exponent kept", R"({"v": 1e1})", "1e1"},
      {"signed exponent", R"({"v": -2.5E+2})", "-2.5E+2"},
      {"negative zero", R"({"v": -0})", "-0"},
      {"true", R"({"v": true})", "true"},
      {"false", R"({"v": false})", "false"},
      {"null", R"({"v": null})", "null"},
      {"array", R"({"v": [1, 2]})", nullptr},
      {"object", R"({"v": {"a": 1}})", nullptr},
      {"absent", R"({"w": 1})", nullptr},
      {"names are exact", R"({"V": 1})", nullptr},
      {"first of equal names", R"({"v": 7, "v": 8})", "7"},
      // Numbers elsewhere in the document must not shift the literals.
      {"after nested numbers", R"({"a": [1.25, {"b": 2e3, "c": ["x\"]", 3]}], "v": 4.75})", "4.75"},
      {"after escaped quotes", R"({"a\"": "5", "v": 6.0})", "6.0"},
      {"byte order mark", "\xEF\xBB\xBF {\"v\": 0.1}", "0.1"},
      {"whitespace around", " {\n\t\"v\" :\r\n 12 } ", "12"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    JsonDocument doc;
    ASSERT_TRUE(JsonDocument_Parse(doc, c.json));
    const char* text = Json_MemberText(doc.root, "v");
    if (c.expected == nullptr) {
      EXPECT_EQ(text, nullptr);
    } else {
      ASSERT_NE(text, nullptr);
      EXPECT_STREQ(text, c.expected);
    }
  }
}

TEST(ContentsJson, NumberTextsGiveTheNumbersOfTheirLiterals) {
  // Sizes are read as the leading decimal number, scales as the leading
  // integer: the literal and the text must agree for both readings, where a
  // formatted value would not ("1e1" read as an integer is 1, not 10).
  const char* const kLiterals[] = {"83.5", "29", "1e1", "0.1", "1024", "2.999999999999", "-3"};
  for (const char* literal : kLiterals) {
    SCOPED_TRACE(literal);
    JsonDocument doc;
    ASSERT_TRUE(JsonDocument_Parse(doc, (std::string("{\"v\": ") + literal + "}").c_str()));
    const char* text = Json_MemberText(doc.root, "v");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(static_cast<float>(std::strtod(text, nullptr)),
              static_cast<float>(std::strtod(literal, nullptr)));
    EXPECT_EQ(std::strtol(text, nullptr, 10), std::strtol(literal, nullptr, 10));
  }
}

TEST(ContentsJson, ArraysAndMembers) {
  JsonDocument doc;
  ASSERT_TRUE(JsonDocument_Parse(doc, R"({"images": [{"a": 1}, "x", 3], "o": {"images": 1}})"));
  const cJSON* images = Json_Member(doc.root, "images");
  ASSERT_TRUE(Json_IsArray(images));
  EXPECT_EQ(Json_ArraySize(images), 3);
  const cJSON* first = Json_FirstItem(images);
  EXPECT_STREQ(Json_MemberText(first, "a"), "1");
  const cJSON* second = Json_NextItem(first);
  EXPECT_EQ(Json_MemberText(second, "a"), nullptr);  // not an object
  EXPECT_EQ(Json_NextItem(Json_NextItem(second)), nullptr);
  EXPECT_FALSE(Json_IsArray(Json_Member(doc.root, "o")));
  EXPECT_EQ(Json_ArraySize(Json_Member(doc.root, "o")), 0);
  EXPECT_EQ(Json_Member(nullptr, "images"), nullptr);
}

TEST(ContentsJson, BadSyntaxAndMemory) {
  const char* const kBad[] = {"", "{", R"({"images": [)", R"({"a" 1})", "{\"a\": 0x10}", "nul"};
  for (const char* text : kBad) {
    SCOPED_TRACE(text);
    JsonDocument doc;
    errno = 0;
    EXPECT_FALSE(JsonDocument_Parse(doc, text));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(doc.root, nullptr);
  }
  // Every allocation failure, in the parser or for a literal, is ENOMEM.
  const char* json = R"({"images": [{"size": 83.5, "scale": "2x"}, {"size": 1e1}]})";
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    JsonDocument doc;
    Mem_FailAfter(n);
    const bool ok = JsonDocument_Parse(doc, json);
    const int code = errno;
    Mem_FailAfter(-1);
    if (ok) {
      EXPECT_STREQ(Json_MemberText(Json_FirstItem(Json_Member(doc.root, "images")), "size"),
                   "83.5");
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(doc.root, nullptr);
    ASSERT_LT(n, 100);
  }
}

}  // namespace
}  // namespace skarvel
