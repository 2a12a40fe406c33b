#include "platform/vesk_ui/theme/surface.hpp"

#include <algorithm>

namespace vesk_ui::surface {

using scene::Color;
using scene::Rect;
using scene::RoundedRect;

namespace {
double clamp_radius(const Rect& r, double radius) {
  const Rect n = r.normalized();
  return std::clamp(radius, 0.0, std::min(n.width(), n.height()) / 2.0);
}
}  // namespace

void card(scene::Scene& scene, const scene::Affine& transform, const Rect& rect, const Color& fill, double radius) {
  const Rect r = rect.normalized();
  scene.fill(transform, fill, RoundedRect{r, clamp_radius(r, radius)});
  const Color rim = fill.mix(Color::white(), 0.06f).with_alpha(0.55f * fill.a);
  scene.stroke(scene::StrokeStyle::of_width(1.0), transform, rim, edge_outline(r, radius));
}

void pill(scene::Scene& scene, const scene::Affine& transform, const Rect& rect, const Color& fill,
          std::optional<Color> outline, std::uint8_t flag) {
  const Rect r = rect.normalized();
  const double radius = flag == 0 ? r.height() / 2.0 : std::min(r.height() / 2.0, 7.0);
  scene.fill(transform, fill, RoundedRect{r, clamp_radius(r, radius)});
  if (outline) scene.stroke(scene::StrokeStyle::of_width(1.0), transform, *outline, edge_outline(r, radius));
}

scene::Shape edge_outline(const Rect& rect, double radius) {
  const Rect r = rect.normalized().inset(0.5);
  if (r.x1 < r.x0 || r.y1 < r.y0) return RoundedRect{rect.normalized(), 0.0};
  return RoundedRect{r, clamp_radius(r, radius - 0.5)};
}

Color edge_on(const Color& base) { return base.mix(Color::white(), 0.07f); }

Color edge_on_with(const Color& base, std::uint8_t alpha) {
  return base.mix(Color::white(), 0.55f).with_alpha(static_cast<float>(alpha) / 255.0f);
}

}  // namespace vesk_ui::surface

namespace vesk_ui::chrome::shell {

scene::Brush chrome_hairline(const tokens::Tokens& tokens) { return tokens.colors.border; }

scene::Brush panel_ground(const tokens::Tokens& tokens) {
  return tokens.colors.surface.mix(tokens.colors.text_primary, 0.03f);
}

scene::Brush panel_border(const tokens::Tokens& tokens) {
  return tokens.colors.border.mix(tokens.colors.text_primary, 0.12f);
}

}  // namespace vesk_ui::chrome::shell
