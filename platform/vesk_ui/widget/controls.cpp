#include "platform/vesk_ui/widget/controls.hpp"

#include <algorithm>

#include "platform/vesk_ui/theme/surface.hpp"

namespace vesk_ui::widget {

using scene::Color;
using scene::Rect;
using scene::RoundedRect;

namespace {
constexpr double kButtonRadius = 8.0;
constexpr std::uint8_t kLabelWeight = 2;

double radius_for(const Rect& r, double radius) {
  return std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2.0);
}

void centred_label(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                   const std::string& label, float size, const Rect& r, const Color& color) {
  if (label.empty()) return;
  const text::TextSize m = text.measure_weighted(label, size, std::nullopt, kLabelWeight);
  const scene::Point c = r.center();
  text.draw_text_weighted(scene, label, size, color,
                          transform * scene::Affine::translate(c.x - m.width / 2.0, c.y - m.height / 2.0), std::nullopt,
                          kLabelWeight);
}
}  // namespace

void button::Button::paint(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                           const tokens::Tokens& tokens) const {
  const tokens::Colors& c = tokens.colors;
  const Rect r = rect.normalized();
  const RoundedRect shape{r, radius_for(r, kButtonRadius)};
  Color fill = c.surface_raised;
  std::optional<Color> edge = c.border;
  Color label_color = c.text_primary;
  switch (style) {
    case kPrimary:
      fill = hovered ? c.accent.mix(Color::white(), 0.12f) : c.accent;
      edge.reset();
      label_color = c.text_on_accent;
      break;
    case kDestructive:
      fill = hovered ? c.danger.mix(Color::white(), 0.12f) : c.danger;
      edge.reset();
      label_color = c.text_on_accent;
      break;
    case kQuiet:
      fill = hovered ? c.lift(0.5f) : Color::transparent();
      edge.reset();
      break;
    case kDestructiveOutline:
      fill = c.danger.with_alpha(hovered ? 0.22f : 0.12f);
      edge = c.danger.with_alpha(0.8f);
      label_color = c.danger.mix(Color::white(), 0.15f);
      break;
    default:
      if (hovered) fill = c.surface_raised.mix(c.text_primary, 0.08f);
      break;
  }
  if (fill.a > 0.0f) scene.fill(transform, fill, shape);
  if (edge) scene.stroke(scene::StrokeStyle::of_width(1.0), transform, *edge, surface::edge_outline(r, kButtonRadius));
  centred_label(scene, transform, text, label, text_size, r, label_color);
}

void toggle_group::ToggleGroup::paint(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                                      const tokens::Tokens& tokens) const {
  if (segments.empty()) return;
  const tokens::Colors& c = tokens.colors;
  Rect outer = segments.front().normalized();
  for (const Rect& s : segments) {
    const Rect n = s.normalized();
    outer =
        Rect{std::min(outer.x0, n.x0), std::min(outer.y0, n.y0), std::max(outer.x1, n.x1), std::max(outer.y1, n.y1)};
  }
  scene.fill(transform, c.background, RoundedRect{outer, radius_for(outer, corner_radius)});
  scene.stroke(scene::StrokeStyle::of_width(1.0), transform, c.border, surface::edge_outline(outer, corner_radius));
  const double inner_radius = std::max(0.0, corner_radius - 3.0);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Rect seg = segments[i].normalized().inset(3.0);
    const bool is_selected = i == selected;
    const bool is_hovered = hovered && *hovered == i;
    if (is_selected) {
      scene.fill(transform, surface::edge_on(c.surface_raised), RoundedRect{seg, radius_for(seg, inner_radius)});
      scene.stroke(scene::StrokeStyle::of_width(1.0), transform, c.accent.with_alpha(0.7f),
                   surface::edge_outline(seg, inner_radius));
    } else if (is_hovered) {
      scene.fill(transform, c.lift(0.5f), RoundedRect{seg, radius_for(seg, inner_radius)});
    }
    const std::string& label = i < labels.size() ? labels[i] : std::string();
    centred_label(scene, transform, text, label, label_size, segments[i].normalized(),
                  is_selected ? c.text_primary : c.text_secondary);
  }
}

}  // namespace vesk_ui::widget
