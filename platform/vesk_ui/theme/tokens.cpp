#include "platform/vesk_ui/theme/tokens.hpp"

#include <algorithm>

namespace vesk_ui::tokens {

using scene::Color;

namespace colors {

Colors Colors::dark() {
  Colors c;
  c.background = Color::from_hex(0x0f1115);
  c.surface = Color::from_hex(0x181b22);
  c.surface_raised = Color::from_hex(0x242833);
  c.border = Color::from_hex(0x2c313c);
  c.text_primary = Color::from_hex(0xe9ecf2);
  c.text_secondary = Color::from_hex(0x98a1b0);
  c.text_on_accent = Color::from_hex(0xffffff);
  c.accent = Color::from_hex(0x4c8dff);
  c.accent_secondary = Color::from_hex(0xa77bff);
  c.success = Color::from_hex(0x35c77a);
  c.warning = Color::from_hex(0xf2b441);
  c.danger = Color::from_hex(0xf2555a);
  c.info = Color::from_hex(0x38bde0);
  c.focus = Color::from_hex(0x6ea8ff);
  c.scrim = Color::from_hex(0x040508);
  return c;
}

Color Colors::lift(float amount) const {
  return surface.mix(text_primary, 0.16f * std::clamp(amount, 0.0f, 1.0f)).with_alpha(1.0f);
}

}  // namespace colors

namespace terminal_palette {

TerminalPalette TerminalPalette::dark() {
  TerminalPalette p;
  constexpr unsigned hex[16] = {
      0x1d2026, 0xe5534b, 0x57c27a, 0xd9b342, 0x4c8dff, 0xb07ee8, 0x3fbcd4, 0xc9ced8,
      0x5a6170, 0xff7b72, 0x7ee2a0, 0xf0cf65, 0x79aaff, 0xcf9fff, 0x6fd8ea, 0xf4f6fa,
  };
  for (std::size_t i = 0; i < 16; ++i) p.colors[i] = Color::from_hex(hex[i]);
  p.foreground = Color::from_hex(0xd8dde6);
  p.background = Color::from_hex(0x0b0d11);
  return p;
}

}  // namespace terminal_palette

}  // namespace vesk_ui::tokens
