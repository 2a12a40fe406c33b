#include <gtest/gtest.h>

#include "apps/remote/src/rfb/input_map.hpp"

namespace {

using remote::rfb::FramePoint;
using remote::rfb::PointerButton;

// The named-key table is in the application's key maps, tested whole there.
TEST(RfbInputMap, Text) {
  struct TextCase {
    std::string_view text;
    std::optional<std::uint32_t> keysym;
  } texts[] = {{"a", 0x61},
               {"A", 0x41},
               {"ab", 0x61},
               {"\xC3\xA9", 0xE9},
               {"\xC3\xBF", 0xFF},
               // Above Latin-1, X11's Unicode keysyms: 0x01000000 | code point.
               {"\xE2\x82\xAC", 0x010020AC},
               {"\xD0\xB6", 0x01000436},
               {"\xC4\x80", 0x01000100},
               {"\xF0\x9F\x98\x80", 0x0101F600},
               {"", std::nullopt},
               {"\xC3", std::nullopt},
               {"\xFF", std::nullopt}};
  for (const auto& c : texts) EXPECT_EQ(remote::rfb::keysym_for_text(c.text), c.keysym) << c.text;
}

TEST(RfbInputMap, ButtonMask) {
  EXPECT_EQ(remote::rfb::button_bit(PointerButton::Left), 1);
  EXPECT_EQ(remote::rfb::button_bit(PointerButton::Middle), 2);
  EXPECT_EQ(remote::rfb::button_bit(PointerButton::Right), 4);
  EXPECT_EQ(remote::rfb::button_bit(PointerButton::Other), 0);
  std::uint8_t mask = 0;
  mask = remote::rfb::update_button_mask(mask, PointerButton::Left, true);
  mask = remote::rfb::update_button_mask(mask, PointerButton::Right, true);
  EXPECT_EQ(mask, 5);
  mask = remote::rfb::update_button_mask(mask, PointerButton::Left, false);
  EXPECT_EQ(mask, 4);
}

TEST(RfbInputMap, PointerMapping) {
  const remote::rfb::SurfaceRect s{100, 50, 201, 150};  // 101 wide, 100 high
  struct Case {
    double x, y;
    remote::rfb::FrameSize frame;
    std::optional<FramePoint> expected;
  } cases[] = {
      {100, 50, {101, 100}, FramePoint{0, 0}},
      {150.5, 100, {101, 100}, FramePoint{50, 50}},         // halfway across 101 pixels
      {200.999, 149.999, {101, 100}, FramePoint{100, 99}},  // just inside the edge: w − 1
      {201, 100, {101, 100}, std::nullopt},                 // on the right edge
      {150, 150, {101, 100}, std::nullopt},                 // on the bottom edge
      {99.9, 100, {101, 100}, std::nullopt},
      {150, 100, {0, 100}, std::nullopt},
      {150, 100, {65535, 65535}, FramePoint{32443, 32767}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(remote::rfb::map_to_frame(c.x, c.y, s, c.frame), c.expected) << c.x << "," << c.y;
  EXPECT_EQ(remote::rfb::map_to_frame(5, 5, {10, 10, 10, 20}, {10, 10}), std::nullopt);  // empty surface
}

}  // namespace
