#include "apps/remote/src/json/reader.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace remote::json {
namespace {

// A small type with the shapes the application's payloads use: a struct
// with an integer, a text and a flag, inside an enum with a unit variant.
struct Pair {
  std::uint16_t port = 0;
  std::string name;
  bool flag = false;
};

constexpr std::array<std::string_view, 3> kPairFields{"port", "name", "flag"};
constexpr StructShape kPairShape{"struct Pair", "struct Pair with 3 elements", kPairFields};

Result<Pair> read_pair(Reader& r) {
  Pair p;
  auto s = read_struct(r, kPairShape, [&](std::size_t field) -> Status {
    switch (field) {
      case 0: {
        auto v = read_u16(r);
        if (!v) return std::unexpected(v.error());
        p.port = *v;
        return {};
      }
      case 1: {
        auto v = read_string(r);
        if (!v) return std::unexpected(v.error());
        p.name = *v;
        return {};
      }
      default: {
        auto v = read_bool(r);
        if (!v) return std::unexpected(v.error());
        p.flag = *v;
        return {};
      }
    }
  });
  if (!s) return std::unexpected(s.error());
  return p;
}

std::string pair_error(std::string_view text) {
  auto v = read_document<Pair>(text, read_pair);
  return v ? std::string("ok") : v.error();
}

constexpr std::array<std::string_view, 2> kShapeVariants{"Empty", "Pair"};

std::expected<std::string, std::string> read_shape(std::string_view text) {
  return read_document<std::string>(text, [](Reader& r) {
    return read_enum<std::string>(r, kShapeVariants, [&](std::size_t index, Variant& v) -> Result<std::string> {
      if (index == 0) {
        if (auto s = v.unit(); !s) return std::unexpected(s.error());
        return std::string("Empty");
      }
      Pair p;
      auto s = v.struct_body(kPairShape, [&](std::size_t field) -> Status {
        // Only the shape matters here; read every field as any value.
        (void)field;
        return v.reader().skip_value();
      });
      if (!s) return std::unexpected(s.error());
      return std::string("Pair");
    });
  });
}

std::string shape_error(std::string_view text) {
  auto v = read_shape(text);
  return v ? "ok:" + *v : v.error();
}

struct Case {
  std::string input;
  std::string expected;
};

TEST(JsonReaderStruct, MessagesAndPositions) {
  const Case cases[] = {
      {R"({"port":22,"name":"a","flag":true})", "ok"},
      {R"( [22,"a",true] )", "ok"},
      {R"({"flag":false,"name":"","port":0})", "ok"},
      {R"({"port":65535,"name":"a","flag":true})", "ok"},
      {R"({"x":[{"a":[1,2.5e3,{"b":null}]},"s\"\u00e9"],"port":1,"name":"","flag":false,"y":{}})", "ok"},
      {R"({"name":"a","flag":true})", "missing field `port` at line 1 column 24"},
      {R"({"port":1})", "missing field `name` at line 1 column 10"},
      {R"({"port":1,"port":2})", "duplicate field `port` at line 1 column 16"},
      {R"({"port":1,"port" :2})", "duplicate field `port` at line 1 column 17"},
      {"{\n\"port\": 1,\n\"port\": 2}", "duplicate field `port` at line 3 column 6"},
      {R"([22,"a"])", "invalid length 2, expected struct Pair with 3 elements at line 1 column 8"},
      {R"([])", "invalid length 0, expected struct Pair with 3 elements at line 1 column 2"},
      {R"([22,"a",true,1])", "trailing characters at line 1 column 14"},
      {R"([22,"a",true,])", "trailing comma at line 1 column 14"},
      {R"([22,"a",])", "trailing comma at line 1 column 9"},
      {R"({"port":65536})", "invalid value: integer `65536`, expected u16 at line 1 column 13"},
      {R"({"port":-1})", "invalid value: integer `-1`, expected u16 at line 1 column 10"},
      {R"({"port":22.0})", "invalid type: floating point `22`, expected u16 at line 1 column 12"},
      {R"({"port":1e2})", "invalid type: floating point `100`, expected u16 at line 1 column 11"},
      {R"({"port":-0})", "invalid type: floating point `-0`, expected u16 at line 1 column 10"},
      {R"({"port":"22"})", "invalid type: string \"22\", expected u16 at line 1 column 12"},
      {R"({"port":null})", "invalid type: null, expected u16 at line 1 column 12"},
      {R"({"port":[]})", "invalid type: sequence, expected u16 at line 1 column 8"},
      {R"({"port":01})", "invalid number at line 1 column 10"},
      {R"({"port":1e999})", "number out of range at line 1 column 13"},
      {R"({"port":99999999999999999999})",
       "invalid type: floating point `100000000000000000000`, expected u16 at line 1 column 28"},
      {R"({"name":7})", "invalid type: integer `7`, expected a string at line 1 column 9"},
      {R"({"flag":"yes"})", "invalid type: string \"yes\", expected a boolean at line 1 column 13"},
      {R"({"flag":tru})", "expected ident at line 1 column 12"},
      {R"("Pair")", "invalid type: string \"Pair\", expected struct Pair at line 1 column 6"},
      {R"(5)", "invalid type: integer `5`, expected struct Pair at line 1 column 1"},
      {R"(true)", "invalid type: boolean `true`, expected struct Pair at line 1 column 4"},
      {R"({"port":1,"name":"a","flag":true} x)", "trailing characters at line 1 column 35"},
      {"{\"port\":1,\"name\":\"a\",\"flag\":true}\n\t \r\n", "ok"},
      {"\xEF\xBB\xBF{\"port\":1,\"name\":\"a\",\"flag\":true}", "expected value at line 1 column 1"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {R"({"port":1)", "EOF while parsing an object at line 1 column 9"},
      {R"({"port":1,)", "EOF while parsing a value at line 1 column 10"},
      {R"({"port":1,})", "trailing comma at line 1 column 11"},
      {R"({"port" 1})", "expected `:` at line 1 column 9"},
      {R"({port:1})", "key must be a string at line 1 column 2"},
      {R"({"port":1 "name":"a"})", "expected `,` or `}` at line 1 column 11"},
      {R"([1 "a"])", "expected `,` or `]` at line 1 column 4"},
      {R"({"name":"a)", "EOF while parsing a string at line 1 column 10"},
      {R"({"name":"\q"})", "invalid escape at line 1 column 11"},
      {R"({"name":"\ud800"})", "unexpected end of hex escape at line 1 column 16"},
      {R"({"name":"\udc00"})", "lone leading surrogate in hex escape at line 1 column 15"},
      {"{\"name\":\"a\nb\"}", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"{\"name\":\"\xff\"}", "invalid unicode code point at line 1 column 11"},
      {"{\"name\":\"\xc0\xaf\"}", "invalid unicode code point at line 1 column 12"},
      {"{\"name\":\"\xed\xa0\x80\"}", "invalid unicode code point at line 1 column 13"},
      {"{\"skipped\":\"\xff\"}", "invalid unicode code point at line 1 column 14"},
      {"{\"x\":[1,{\"a\" 2}]}", "expected `:` at line 1 column 14"},
      {"{\"x\":[1 2]}", "expected `,` or `]` at line 1 column 9"},
      {"{\"x\":[1,", "EOF while parsing a value at line 1 column 8"},
      {"{\"x\":[1", "EOF while parsing a list at line 1 column 7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pair_error(c.input), c.expected) << c.input;
  }
}

TEST(JsonReaderStruct, DecodesEscapesAndValues) {
  auto v =
      read_document<Pair>(R"({"name":"q\"b\\s\/\b\f\n\r\t\u00e9\ud83d\ude00","port":65535,"flag":true})", read_pair);
  ASSERT_TRUE(v) << v.error();
  EXPECT_EQ(v->name, "q\"b\\s/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80");
  EXPECT_EQ(v->port, 65535);
  EXPECT_TRUE(v->flag);
}

std::string nested(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(JsonReaderLimits, NestingCountsSkippedLevels) {
  // The struct itself is the first level; 126 more inside a skipped member
  // make 127, the deepest accepted.
  const std::string tail = R"(,"port":1,"name":"","flag":true})";
  EXPECT_EQ(pair_error(R"({"x":)" + nested(126) + tail), "ok");
  EXPECT_EQ(pair_error(R"({"x":)" + nested(127) + tail), "recursion limit exceeded at line 1 column 132");
  // Objects count like arrays.
  std::string objects;
  for (int i = 0; i < 127; ++i) objects += R"({"k":)";
  objects += "1";
  for (int i = 0; i < 127; ++i) objects += "}";
  EXPECT_EQ(pair_error(R"({"x":)" + objects + tail), "recursion limit exceeded at line 1 column 636");
  // Siblings do not add up: levels are given back when a container closes.
  std::string wide = R"({"a":)" + nested(126) + R"(,"b":)" + nested(126) + tail;
  EXPECT_EQ(pair_error(wide), "ok");
  // A huge flat or deep skipped value never recurses on the stack.
  EXPECT_EQ(pair_error(R"({"x":)" + nested(100000) + tail), "recursion limit exceeded at line 1 column 132");
}

TEST(JsonReaderEnum, VariantForms) {
  const Case cases[] = {
      {R"("Empty")", "ok:Empty"},
      {R"({"Empty":null})", "ok:Empty"},
      {R"( { "Empty" : null } )", "ok:Empty"},
      {R"({"Pair":{"port":1,"name":"","flag":true}})", "ok:Pair"},
      {R"({"Pair":[1,"",true]})", "ok:Pair"},
      {R"({"Empty":{}})", "invalid type: map, expected unit at line 1 column 9"},
      {R"({"Empty":1})", "invalid type: integer `1`, expected unit at line 1 column 10"},
      {R"("Pair")", "invalid type: unit variant, expected struct variant"},
      {R"("Nope")", "unknown variant `Nope`, expected `Empty` or `Pair` at line 1 column 6"},
      {R"({"pair":[1,"",true]})", "unknown variant `pair`, expected `Empty` or `Pair` at line 1 column 7"},
      {R"({"Pair":[1,"",true],"x":1})", "expected value at line 1 column 19"},
      {R"({"Pair":[1,"",true])", "EOF while parsing an object at line 1 column 19"},
      {R"({"Pair":5})", "invalid type: integer `5`, expected struct Pair at line 1 column 9"},
      {R"({})", "expected value at line 1 column 2"},
      {R"({1:2})", "invalid type: integer `1`, expected variant identifier at line 1 column 2"},
      {R"(5)", "expected value at line 1 column 1"},
      {R"([])", "expected value at line 1 column 1"},
      {R"(null)", "expected value at line 1 column 1"},
      {R"("Empty" "x")", "trailing characters at line 1 column 9"},
      {"", "EOF while parsing a value at line 1 column 0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shape_error(c.input), c.expected) << c.input;
  }
}

TEST(JsonReaderText, UnexpectedValueNames) {
  EXPECT_EQ(describe_float(22.0), "floating point `22`");
  EXPECT_EQ(describe_float(-0.0), "floating point `-0`");
  EXPECT_EQ(describe_float(0.5), "floating point `0.5`");
  EXPECT_EQ(describe_float(1e-7), "floating point `0.0000001`");
  EXPECT_EQ(describe_float(123.456), "floating point `123.456`");
  EXPECT_EQ(describe_string("a\"\\\n\x01"), "string \"a\\\"\\\\\\n\\u{1}\"");
  std::array<std::string_view, 4> four{"A", "B", "C", "D"};
  EXPECT_EQ(unknown_variant("x", four).message, "unknown variant `x`, expected one of `A`, `B`, `C`, `D`");
  EXPECT_EQ(unknown_variant("x", std::span(four).first(1)).message, "unknown variant `x`, expected `A`");
}

TEST(JsonReaderSeq, ReadsElements) {
  auto v =
      read_document<std::vector<std::string>>(R"([ "a" , "b" ])", [](Reader& r) -> Result<std::vector<std::string>> {
        std::vector<std::string> out;
        auto s = read_seq(r, "a sequence", [&](Reader& rr) -> Status {
          auto e = read_string(rr);
          if (!e) return std::unexpected(e.error());
          out.push_back(*e);
          return {};
        });
        if (!s) return std::unexpected(s.error());
        return out;
      });
  ASSERT_TRUE(v) << v.error();
  EXPECT_EQ(*v, (std::vector<std::string>{"a", "b"}));
  auto bad = read_document<int>(R"({"a":1})", [](Reader& r) -> Result<int> {
    auto s = read_seq(r, "a sequence", [](Reader& rr) { return rr.skip_value(); });
    if (!s) return std::unexpected(s.error());
    return 0;
  });
  EXPECT_EQ(bad.error(), "invalid type: map, expected a sequence at line 1 column 0");
}

}  // namespace
}  // namespace remote::json
