#include "apps/remote/src/vt/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::u32string decode(std::string_view in) {
  remote::vt::Utf8Decoder d;
  std::u32string out;
  for (unsigned char b : in) {
    char32_t buf[remote::vt::Utf8Decoder::kMaxOutput];
    const int n = d.push(b, buf);
    out.append(buf, buf + n);
  }
  return out;
}

TEST(Utf8Decoder, DecodesWellFormedAndReplacesMaximalInvalidSubparts) {
  struct Case {
    const char* name;
    std::string in;
    std::u32string out;
  };
  const Case cases[] = {
      {"ascii", "Az~", U"Az~"},
      {"two bytes", "\xC3\xA9", U"\u00E9"},
      {"three bytes", "\xE2\x82\xAC", U"\u20AC"},
      {"four bytes", "\xF0\x9F\x98\x80", U"\U0001F600"},
      {"highest scalar", "\xF4\x8F\xBF\xBF", U"\U0010FFFF"},
      {"stray continuation",
       "\x80"
       "a",
       U"\uFFFDa"},
      {"invalid byte FF", "\xFF", U"\uFFFD"},
      {"overlong two-byte lead", "\xC0\xAF", U"\uFFFD\uFFFD"},
      {"overlong three bytes", "\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD"},
      {"surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"truncated then ascii",
       "\xE2\x82"
       "A",
       U"\uFFFDA"},
      {"truncated then new lead", "\xE2\xC3\xA9", U"\uFFFD\u00E9"},
      {"truncated then ESC keeps ESC", "\xF0\x9F\x1B", U"\uFFFD\x1B"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.in), c.out) << c.name;
  }
}

TEST(Utf8Decoder, CarriesAPartialCharacterAcrossCalls) {
  remote::vt::Utf8Decoder d;
  char32_t buf[remote::vt::Utf8Decoder::kMaxOutput];
  EXPECT_EQ(d.push(0xF0, buf), 0);
  EXPECT_EQ(d.push(0x9F, buf), 0);
  EXPECT_TRUE(d.pending());
  EXPECT_EQ(d.push(0x98, buf), 0);
  ASSERT_EQ(d.push(0x80, buf), 1);
  EXPECT_EQ(buf[0], U'\U0001F600');
  EXPECT_FALSE(d.pending());
}

}  // namespace
