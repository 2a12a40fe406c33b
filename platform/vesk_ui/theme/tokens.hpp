#pragma once
// Theme tokens: the dark colour set every view paints with, and the terminal
// palette.

#include <array>

#include "platform/vesk_ui/scene/color.hpp"

namespace vesk_ui::tokens {

namespace colors {

struct Colors {
  scene::Color background;      // window background, field cards
  scene::Color surface;         // rails, bars, rows, cards
  scene::Color surface_raised;  // neutral buttons, hovered surfaces
  scene::Color border;          // hairlines and outlines
  scene::Color text_primary;
  scene::Color text_secondary;
  scene::Color text_on_accent;  // labels on accent, success and danger fills
  scene::Color accent;
  scene::Color accent_secondary;  // the second accent
  scene::Color success;
  scene::Color warning;
  scene::Color danger;
  scene::Color info;
  scene::Color focus;
  scene::Color scrim;

  static Colors dark();

  // The surface colour raised toward the text colour by `amount` (0..1): the
  // hover fill of controls that have no fill of their own.
  scene::Color lift(float amount) const;
};

}  // namespace colors

namespace terminal_palette {

struct TerminalPalette {
  std::array<scene::Color, 16> colors;  // ANSI 0-7, then the bright 8-15
  scene::Color foreground;
  scene::Color background;

  static TerminalPalette dark();
};

}  // namespace terminal_palette

using colors::Colors;
using terminal_palette::TerminalPalette;

// Everything a painter needs from the theme.
struct Tokens {
  Colors colors = Colors::dark();
  static Tokens dark() { return Tokens{}; }
};

}  // namespace vesk_ui::tokens
