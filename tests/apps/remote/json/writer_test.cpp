#include "apps/remote/src/json/writer.hpp"

#include "apps/remote/src/json/utf8.hpp"

#include <gtest/gtest.h>

namespace remote::json {
namespace {

TEST(JsonWriter, CompactEscapesAndOrder) {
  Writer w;
  w.begin_object();
  w.key("z");
  w.string("q\"\\/\b\f\n\r\t\x01\x1f\x7f\xc3\xa9");
  w.key("a");
  w.begin_array();
  w.unsigned_integer(65535);
  w.signed_integer(-3);
  w.boolean(false);
  w.null();
  w.begin_object();
  w.end_object();
  w.end_array();
  w.end_object();
  auto text = std::move(w).finish();
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "{\"z\":\"q\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xc3\xa9\",\"a\":[65535,-3,false,null,{}]}");
}

TEST(JsonWriter, IndentedLikeThePrettyPrinter) {
  Writer w(2);
  w.begin_object();
  w.key("hosts");
  w.begin_array();
  w.begin_object();
  w.key("host");
  w.string("h");
  w.key("port");
  w.unsigned_integer(22);
  w.end_object();
  w.end_array();
  w.key("empty");
  w.begin_array();
  w.end_array();
  w.end_object();
  auto text = std::move(w).finish();
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\n  \"hosts\": [\n    {\n      \"host\": \"h\",\n      \"port\": 22\n    }\n  ],\n  \"empty\": []\n}");
}

TEST(JsonWriter, RefusesInvalidUtf8) {
  Writer w;
  w.begin_object();
  w.key("name");
  w.string("\xff");
  w.end_object();
  EXPECT_FALSE(std::move(w).finish());
}

TEST(Utf8, ValidatesAndRepairs) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"\xc3\xa9\xe2\x80\xa6\xf0\x9f\x98\x80", true},
      {"\xff", false},
      {"\xc0\xaf", false},
      {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false},
      {"\xe2\x80", false},
      {"\x80", false},
  };
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(is_valid_utf8(text), valid) << text;
    EXPECT_TRUE(is_valid_utf8(to_valid_utf8(text)));
    if (valid) {
      EXPECT_EQ(to_valid_utf8(text), text);
    }
  }
  // One replacement per maximal ill-formed subpart, as Rust's lossy decoding does.
  const std::pair<std::string, std::string> repairs[] = {
      {"a\xff"
       "b",
       "a\xef\xbf\xbd"
       "b"},
      {"\xe2\x80"
       "x",
       "\xef\xbf\xbd"
       "x"},
      {"\xf0\x9f\x98", "\xef\xbf\xbd"},
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xc3\xa9\xc3", "\xc3\xa9\xef\xbf\xbd"},
  };
  for (const auto& [text, repaired] : repairs) EXPECT_EQ(to_valid_utf8(text), repaired) << text;
  std::string encoded;
  for (char32_t cp : {U'A', U'\u00e9', U'\u2026', U'\U0001F600', char32_t{0xD800}, char32_t{0x110000}}) {
    append_utf8(encoded, cp);
  }
  EXPECT_EQ(encoded, "A\xc3\xa9\xe2\x80\xa6\xf0\x9f\x98\x80\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
}  // namespace remote::json
