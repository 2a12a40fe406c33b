#include "apps/remote/src/ssh/text.hpp"

#include <gtest/gtest.h>

namespace {

using remote::ssh::is_valid_utf8;
using remote::ssh::to_valid_utf8;

TEST(SshText, Utf8FromPeersIsRepaired) {
  struct Case {
    std::string_view in;
    bool valid;
    std::string_view repaired;
  };
  const Case cases[] = {
      {"plain", true, "plain"},
      {"caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x98\x80", true, "caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x98\x80"},
      {"\xff", false, "\xef\xbf\xbd"},
      {"a\xc3", false, "a\xef\xbf\xbd"},                                                // cut short
      {"\xc0\xaf", false, "\xef\xbf\xbd\xef\xbf\xbd"},                                  // overlong
      {"\xed\xa0\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},                  // surrogate
      {"\xf4\x90\x80\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_utf8(c.in), c.valid) << c.in;
    EXPECT_EQ(to_valid_utf8(c.in), c.repaired) << c.in;
  }
}

}  // namespace
