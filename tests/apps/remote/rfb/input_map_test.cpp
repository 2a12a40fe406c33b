#include <gtest/gtest.h>

#include "apps/remote/src/rfb/input_map.hpp"

namespace {

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

}  // namespace
