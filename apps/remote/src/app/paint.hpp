#pragma once
// The small painters every screen shares, and the bundle of what a paint
// pass draws with. Every shape is painted with the base transform; every text
// with the base transform times a translation to the top-left of its box.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "apps/remote/src/app/state.hpp"
#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"
#include "platform/vesk_ui/widget/context.hpp"
#include "platform/vesk_ui/widget/text_input.hpp"

namespace remote::app {

using vesk_ui::scene::Color;
using vesk_ui::scene::Point;

// Weight codes of the text renderer.
inline constexpr std::uint8_t kWeightNormal = 0;
inline constexpr std::uint8_t kWeightMedium = 1;
inline constexpr std::uint8_t kWeightSemibold = 2;
inline constexpr std::uint8_t kWeightBold = 3;

// The navigation rail's width; also the strip a narrow window keeps for it.
inline constexpr double kRailWidth = 64.0;

struct PaintBundle {
  vesk_ui::scene::Scene& scene;
  const vesk_ui::scene::Affine& base;
  vesk_ui::text::TextRenderer& text;
  const vesk_ui::tokens::Tokens& tokens;
  Point pointer;  // the last pointer position, for hover looks

  const vesk_ui::tokens::Colors& colors() const { return tokens.colors; }
  bool hovered(const Rect& r) const { return r.contains(pointer); }

  void fill(const vesk_ui::scene::Shape& shape, const vesk_ui::scene::Brush& brush) { scene.fill(base, brush, shape); }
  void stroke(const vesk_ui::scene::Shape& shape, const vesk_ui::scene::Brush& brush, double width) {
    scene.stroke(vesk_ui::scene::StrokeStyle::of_width(width), base, brush, shape);
  }
  vesk_ui::text::TextSize measure(std::string_view s, float size, std::optional<std::uint8_t> weight = {},
                                  std::optional<double> max_width = {}) {
    return weight ? text.measure_weighted(s, size, max_width, *weight) : text.measure(s, size, max_width);
  }
  // Text with its box's top-left corner at (x, y).
  void text_at(std::string_view s, float size, const Color& color, double x, double y,
               std::optional<std::uint8_t> weight = {}, std::optional<double> max_width = {}) {
    const auto at = base * vesk_ui::scene::Affine::translate(x, y);
    if (weight) {
      text.draw_text_weighted(scene, s, size, color, at, max_width, *weight);
    } else {
      text.draw_text(scene, s, size, color, at, max_width);
    }
  }
  // Text centred horizontally on cx, its top at y; answers its measured size.
  vesk_ui::text::TextSize text_centred(std::string_view s, float size, const Color& color, double cx, double y,
                                       std::optional<std::uint8_t> weight = {}) {
    const auto m = measure(s, size, weight);
    text_at(s, size, color, cx - m.width / 2.0, y, weight);
    return m;
  }
};

// min(half the shorter side, cap): the radius of a rounded rectangle.
double corner_radius(const Rect& r, double cap);
vesk_ui::scene::RoundedRect rounded(const Rect& r, double cap);

// Same red, green and blue bytes; alpha = clamp(alpha, 0, 1) × 255, truncated.
Color colour_with_alpha(const Color& colour, float alpha);
// At most 12 characters, else the first 12 and "…" (characters, not bytes).
std::string shorten_label(std::string_view text);
// Height of "Hg" at this size, weight 2.
double line_height(vesk_ui::text::TextRenderer& text, float size);
// Width of the text at this size, weight 2.
double text_width(vesk_ui::text::TextRenderer& text, std::string_view s, float size);
// The fill and the edge of a selected or active surface.
std::pair<Color, Color> edge_colours(const Color& colour);

// Lines of wrapped text for painting one by one (centred, or cut to a
// height). Breaks at spaces and newlines; a word wider than the line (a
// fingerprint, a path) is broken between characters instead of being cut.
// When more lines would be needed than `max_lines`, the last line shown ends
// in "…" — except that the bytes of `s` before `keep_whole` are always shown
// whole, taking as many lines as they need.
struct TextBlock {
  std::vector<std::string> lines;
  bool cut = false;  // some of the text is left out
};
TextBlock wrap_block(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                     std::optional<std::uint8_t> weight = {}, std::size_t max_lines = SIZE_MAX,
                     std::size_t keep_whole = 0);
// The lines joined by newlines, for one text run that keeps the breaks.
std::string join_lines(const std::vector<std::string>& lines);
// The end of the last of `needles` found in `s` (0 when none is): a text
// painted from `s` must keep everything before it.
std::size_t end_of_last(std::string_view s, const std::vector<std::string_view>& needles);

// The text as it is when it fits max_width; otherwise (or always, with
// `force`) its longest start, cut at a character, that fits with "…" after it.
// The first `keep` bytes stay even when they do not fit.
std::string fit_with_ellipsis(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                              std::optional<std::uint8_t> weight = {}, bool force = false, std::size_t keep = 0);

// fit_with_ellipsis with the measured size of what it answers, measuring a
// text that fits only once.
struct FittedText {
  std::string text;
  vesk_ui::text::TextSize size;
};
FittedText fit_text(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                    std::optional<std::uint8_t> weight = {});

void paint_button(PaintBundle& p, std::string_view label, const Rect& rect, std::uint8_t style);
// The selected index is none when nothing is chosen.
void paint_toggle_group(PaintBundle& p, const std::vector<Rect>& segments, const std::vector<std::string>& labels,
                        std::optional<std::size_t> selected);
// Caption at (x, y); answers the y of the line below it.
double paint_field_label(PaintBundle& p, std::string_view caption, double x, double y);
// One rail button; answers its rectangle.
Rect paint_rail_button(PaintBundle& p, std::string_view glyph, double rail_x0, double rail_x1, double rail_y0,
                       int index, bool active);
// Where a painted text input went, and the scroll that showed its caret there.
struct InputPlacement {
  Rect rect;
  double scroll_x = 0;
};
// The field's card, focus ring, and the text input drawn as if laid out 12
// inside it; answers that placement for the frame to keep.
InputPlacement paint_form_field(PaintBundle& p, const vesk_ui::widget::PaintContext& paint, const Rect& rect,
                                const vesk_ui::widget::text_input::TextInput& input, bool focused);

}  // namespace remote::app
