#include "apps/remote/src/doc/text.hpp"

#include <gtest/gtest.h>

#include <clocale>

#include "tests/support/scoped_env.hpp"

namespace remote::text {
namespace {

TEST(DocTextTrim, UnicodeWhiteSpaceOnly) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"  host  ", "host"},
      {"\t\n\v\f\rhost\r\n", "host"},
      {"\u00a0host\u00a0", "host"},  // no-break space
      {"\u3000host\u3000", "host"},  // ideographic space
      {"\u0085host\u0085", "host"},  // next line
      {"\u2028\u2029\u202f\u205f\u1680\u2000\u200ahost", "host"},
      {"\ufeffhost\ufeff", "\ufeffhost\ufeff"},  // BOM is not white space
      {"\u200bhost", "\u200bhost"},              // nor is the zero-width space
      {"a b", "a b"},
      {"   ", ""},
      {"", ""},
      {"\u00a0 \u3000", ""},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(trim(in), out) << '"' << in << '"';
}

TEST(DocTextTrim, InvalidBytesAreNotWhiteSpace) {
  EXPECT_EQ(trim(" \xff "), "\xff");
  EXPECT_EQ(trim("\xc2 a"), "\xc2 a");  // a cut-off NBSP is kept
  EXPECT_EQ(trim(" a\xc2"), "a\xc2");
}

TEST(DocTextLower, FullMappingIndependentOfLocale) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"ABC xyz", "abc xyz"},
      {"ÄÖÜ ÀÉ", "äöü àé"},
      {"ΑΒΓ", "αβγ"},
      {"ΟΔΟΣ", "οδος"},       // final sigma
      {"\u0130", "i\u0307"},  // capital I with dot: two code points
      {"I", "i"},             // not the Turkish dotless i
      {"ＡＢＣ", "ａｂｃ"},
      {"ǅ", "ǆ"},
      {"straße", "straße"},  // lower-casing does not fold ß
      {"", ""},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(to_lower(in), out) << in;
  EXPECT_EQ(to_lower("A\xff"
                     "B"),
            "a\xff"
            "b");  // stray bytes pass through
  // The process locale plays no part.
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (std::setlocale(LC_ALL, "tr_TR.UTF-8") != nullptr) {
    EXPECT_EQ(to_lower("I"), "i");
  }
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(DocTextChars, CountsAndPrefixesInCodePoints) {
  EXPECT_EQ(char_count("h\u00e9\u2026"), 3u);
  EXPECT_EQ(first_chars("h\u00e9\u2026x", 3), "h\u00e9\u2026");
  EXPECT_EQ(first_chars("ab", 5), "ab");
  EXPECT_EQ(first_chars("ab", 0), "");
}

TEST(DocTextFill, FillsPlaceholdersInOrder) {
  EXPECT_EQ(fill("load key {}: {}", {"/k", "gone"}), "load key /k: gone");
  EXPECT_EQ(fill("{} and {}", {"only"}), "only and {}");
  EXPECT_EQ(fill("no holes", {"x"}), "no holes");
  EXPECT_EQ(fill("{}{}", {"{}", "b"}), "{}b");  // arguments are not rescanned
}

TEST(DocTextEnv, InvalidUtf8CountsAsUnset) {
  ScopedEnv env("REMOTE_DOC_TEXT_TEST");
  env.unset();
  EXPECT_EQ(env_var("REMOTE_DOC_TEXT_TEST"), std::nullopt);
  env.set("");
  EXPECT_EQ(env_var("REMOTE_DOC_TEXT_TEST"), "");
  env.set("caf\u00e9");
  EXPECT_EQ(env_var("REMOTE_DOC_TEXT_TEST"), "caf\u00e9");
  env.set("caf\xe9");
  EXPECT_EQ(env_var("REMOTE_DOC_TEXT_TEST"), std::nullopt);
}

}  // namespace
}  // namespace remote::text
