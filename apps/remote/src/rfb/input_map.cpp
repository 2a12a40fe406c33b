#include "apps/remote/src/rfb/input_map.hpp"

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::rfb {

std::optional<std::uint32_t> keysym_for_text(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t at = 0;
  bool ok = true;
  const std::uint32_t cp = vesk_ui::utf8::decode_at(text, at, ok);
  if (!ok) return std::nullopt;
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

}  // namespace remote::rfb
