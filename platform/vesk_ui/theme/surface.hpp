#pragma once
// Surfaces and window chrome: cards, pills, outlines and the brushes of
// separators and panels, all drawn from the theme tokens.

#include <cstdint>
#include <optional>

#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"

namespace vesk_ui::surface {

// A filled rounded card with a faint rim.
void card(scene::Scene& scene, const scene::Affine& transform, const scene::Rect& rect, const scene::Color& fill,
          double radius);

// A pill: fully rounded ends for status and kind pills (flag 0); list badges
// (flag 1) use tighter corners. The optional outline is stroked 1 wide.
void pill(scene::Scene& scene, const scene::Affine& transform, const scene::Rect& rect, const scene::Color& fill,
          std::optional<scene::Color> outline, std::uint8_t flag);

// The rounded outline of `rect`, inset by half a pixel so a 1-wide stroke
// stays inside the rectangle.
scene::Shape edge_outline(const scene::Rect& rect, double radius);

// The fill of a selected or active surface of colour `base`.
scene::Color edge_on(const scene::Color& base);
// The edge of such a surface, with `alpha` (0..255) as its opacity.
scene::Color edge_on_with(const scene::Color& base, std::uint8_t alpha);

}  // namespace vesk_ui::surface

namespace vesk_ui::chrome::shell {

// 1-pixel separators.
scene::Brush chrome_hairline(const tokens::Tokens& tokens);
// The fill of a floating panel (dialogs).
scene::Brush panel_ground(const tokens::Tokens& tokens);
// The border of a floating panel.
scene::Brush panel_border(const tokens::Tokens& tokens);

}  // namespace vesk_ui::chrome::shell
