#include "apps/remote/src/json/writer.hpp"

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

}  // namespace
}  // namespace remote::json
