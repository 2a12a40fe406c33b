#include "platform/vesk_ui/utf8/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk_ui::utf8 {
namespace {

// The checker skips ASCII eight bytes at a time: a bad byte must be found at
// every offset around that stride, including the last byte of a word.
TEST(Utf8, FindsABadByteAtEveryOffset) {
  for (std::size_t at = 0; at < 20; ++at) {
    for (std::string bad : {std::string("\xff"), std::string("\xc3"), std::string("\xed\xa0\x80")}) {
      const std::string text = std::string(at, 'a') + bad + std::string(3, 'b');
      EXPECT_FALSE(is_valid(text)) << at;
      EXPECT_TRUE(is_valid(repair(text))) << at;
      EXPECT_TRUE(is_valid(std::string(at, 'a') + "\xc3\xa9" + "bbb")) << at;
    }
  }
  EXPECT_TRUE(is_valid(std::string("a\0b", 3)));  // NUL is a character here
}

// decode, decode_at, sequence_length and for_each_code_point agree on valid
// text; decode refuses what the checker refuses.
TEST(Utf8, DecodersAgree) {
  const std::string valid = "A\xc3\xa9\xe2\x80\xa6\xf0\x9f\x98\x80z";
  const std::vector<char32_t> want = {U'A', U'\u00e9', U'\u2026', U'\U0001F600', U'z'};
  std::vector<char32_t> got;
  ASSERT_TRUE(decode(valid, got));
  EXPECT_EQ(got, want);
  std::vector<char32_t> walked;
  for_each_code_point(valid, [&](char32_t cp) { walked.push_back(cp); });
  EXPECT_EQ(walked, want);
  std::string rebuilt;
  for (std::size_t i = 0, k = 0; i < valid.size(); ++k) {
    const std::size_t n = sequence_length(valid, i);
    bool ok = false;
    EXPECT_EQ(decode_at(valid, i, ok), want[k]);
    EXPECT_TRUE(ok);
    append(rebuilt, want[k]);
    EXPECT_EQ(rebuilt.size(), i);
    EXPECT_GT(n, 0u);
  }
  EXPECT_EQ(rebuilt, valid);
  for (const std::string bad : {"\xc0\xaf", "\xe2\x80", "\xf4\x90\x80\x80", "x\x80"}) {
    std::vector<char32_t> out;
    EXPECT_FALSE(decode(bad, out)) << bad;
    EXPECT_FALSE(is_valid(bad)) << bad;
  }
}

// Strict checking, and one U+FFFD per maximal ill-formed subpart.
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
      {"\xc3", false},          // truncated
      {"\xe0\x80\xaf", false},  // overlong
      {"\xf5\x80\x80\x80", false},
      {"a\xffz", false},
      {std::string("a\0b", 3), true},
  };
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(is_valid(text), valid) << text;
    EXPECT_TRUE(is_valid(repair(text)));
    if (valid) {
      EXPECT_EQ(repair(text), text);
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
      {"\xff", "\xef\xbf\xbd"},
      {"a\xc3", "a\xef\xbf\xbd"},                                                // cut short
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                                  // overlong
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // past U+10FFFF
  };
  for (const auto& [text, repaired] : repairs) EXPECT_EQ(repair(text), repaired) << text;
  std::string encoded;
  for (char32_t cp : {U'A', U'\u00e9', U'\u2026', U'\U0001F600', char32_t{0xD800}, char32_t{0x110000}}) {
    append(encoded, cp);
  }
  EXPECT_EQ(encoded, "A\xc3\xa9\xe2\x80\xa6\xf0\x9f\x98\x80\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
}  // namespace vesk_ui::utf8
