#include "apps/remote/src/rfb/input_map.hpp"

#include "apps/remote/src/rfb/text.hpp"

namespace rfb {

std::optional<std::uint32_t> keysym_for_text(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto* b = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t len = 1;
  if (b[0] >= 0xF0)
    len = 4;
  else if (b[0] >= 0xE0)
    len = 3;
  else if (b[0] >= 0xC0)
    len = 2;
  if (len > text.size() || !is_valid_utf8({b, len})) return std::nullopt;
  std::uint32_t cp = len == 1 ? b[0] : b[0] & (0x7F >> len);
  for (std::size_t i = 1; i < len; ++i) cp = (cp << 6) | (b[i] & 0x3F);
  // Latin-1 keysyms are the code points themselves; X11 gives every other
  // character the keysym 0x01000000 | code point.
  return cp <= 0xFF ? cp : kUnicodeKeysymBase | cp;
}

std::uint8_t button_bit(PointerButton button) {
  switch (button) {
    case PointerButton::Left: return 1;
    case PointerButton::Middle: return 2;
    case PointerButton::Right: return 4;
    case PointerButton::Other: break;
  }
  return 0;
}

std::uint8_t update_button_mask(std::uint8_t mask, PointerButton button, bool pressed) {
  const std::uint8_t bit = button_bit(button);
  return static_cast<std::uint8_t>(pressed ? mask | bit : mask & ~bit);
}

bool send_key_stroke(VncSession& session, std::uint32_t keysym) {
  const bool down = session.send_input(VncKey{true, keysym}).has_value();
  const bool up = session.send_input(VncKey{false, keysym}).has_value();
  return down && up;
}

}  // namespace rfb
