#include "apps/remote/src/doc/uuid.hpp"

#include <gtest/gtest.h>

#include <set>

namespace remote {
namespace {

constexpr std::string_view kCanonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";

TEST(DocUuidText, AcceptsEveryFormInEitherCase) {
  const std::string_view forms[] = {
      "67e55044-10b1-426f-9247-bb680e5fe0c8",
      "67E55044-10B1-426F-9247-BB680E5FE0C8",
      "67e5504410b1426f9247bb680e5fe0c8",
      "67E5504410B1426F9247BB680E5FE0C8",
      "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
      "{67E55044-10b1-426F-9247-bb680e5fe0c8}",
      "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
      "urn:uuid:67E55044-10B1-426F-9247-BB680E5FE0C8",
  };
  for (auto form : forms) {
    const auto id = Uuid::parse(form);
    ASSERT_TRUE(id) << form;
    EXPECT_EQ(id->to_string(), kCanonical) << form;
  }
}

TEST(DocUuidText, RefusesOtherShapes) {
  const std::string_view bad[] = {
      "",
      "67e55044-10b1-426f-9247-bb680e5fe0c",    // short
      "67e55044-10b1-426f-9247-bb680e5fe0c8a",  // long
      "67e5504410b1-426f-9247-bb680e5fe0c8-",   // hyphens misplaced
      "67e55044_10b1_426f_9247_bb680e5fe0c8",
      "g7e55044-10b1-426f-9247-bb680e5fe0c8",  // not hex
      "67e5504410b1426f9247bb680e5fe0cg",
      "{67e5504410b1426f9247bb680e5fe0c8}",  // braces need hyphens
      "(67e55044-10b1-426f-9247-bb680e5fe0c8)",
      "{67e55044-10b1-426f-9247-bb680e5fe0c8",
      "URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8",
      "urn:uuid:67e5504410b1426f9247bb680e5fe0c8",
      " 67e55044-10b1-426f-9247-bb680e5fe0c8",
      "+7e55044-10b1-426f-9247-bb680e5fe0c8",
  };
  for (auto text : bad) EXPECT_FALSE(Uuid::parse(text)) << '"' << text << '"';
}

TEST(DocUuidText, RandomIdsAreVersionFourAndRoundTrip) {
  std::set<Uuid> seen;
  for (int i = 0; i < 64; ++i) {
    const Uuid id = Uuid::new_v4();
    EXPECT_EQ(id.bytes()[6] >> 4, 4);
    EXPECT_EQ(id.bytes()[8] >> 6, 2);  // RFC 4122 variant
    const std::string text = id.to_string();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(Uuid::parse(text), id);
    for (char c : text) EXPECT_TRUE(c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << text;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_EQ(Uuid::nil().to_string(), "00000000-0000-0000-0000-000000000000");
}

}  // namespace
}  // namespace remote
