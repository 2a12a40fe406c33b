// The paint pass as a whole, the navigation rail and the narrow toggle, and
// the small painters the screens share.
#include "apps/remote/src/app/paint.hpp"

#include <algorithm>
#include <cmath>

#include "apps/remote/src/app/remote_app.hpp"
#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"
#include "platform/vesk_ui/widget/tooltip.hpp"

namespace remote::app {

using vesk_ui::scene::RoundedRect;

double corner_radius(const Rect& r, double cap) {
  const Rect n = r.normalized();
  return std::min(std::min(n.width(), n.height()) / 2.0, cap);
}

RoundedRect rounded(const Rect& r, double cap) { return RoundedRect{r.normalized(), corner_radius(r, cap)}; }

Color colour_with_alpha(const Color& colour, float alpha) {
  const vesk_ui::scene::Rgba8 bytes = vesk_ui::color_compat::ColorCompat::to_rgba8(colour);
  const float a = alpha >= 0.0f ? std::min(alpha, 1.0f) : 0.0f;  // NaN counts as 0
  return vesk_ui::color_compat::ColorCompat::from_rgba8(
      {bytes.r, bytes.g, bytes.b, static_cast<std::uint8_t>(a * 255.0f)});
}

std::string shorten_label(std::string_view text) {
  constexpr std::size_t kMaxChars = 12;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80) continue;  // continuation byte
    if (chars == kMaxChars) return std::string(text.substr(0, i)) + "\u2026";
    ++chars;
  }
  return std::string(text);
}

double line_height(vesk_ui::text::TextRenderer& text, float size) {
  return text.measure_weighted("Hg", size, std::nullopt, kWeightSemibold).height;
}

double text_width(vesk_ui::text::TextRenderer& text, std::string_view s, float size) {
  return text.measure_weighted(s, size, std::nullopt, kWeightSemibold).width;
}

std::pair<Color, Color> edge_colours(const Color& colour) {
  return {vesk_ui::surface::edge_on(colour), vesk_ui::surface::edge_on_with(colour, 92)};
}

std::vector<std::string> wrap_words(vesk_ui::text::TextRenderer& text, std::string_view s, float size,
                                    double max_width) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t at = 0;
  while (at <= s.size()) {
    std::size_t end = s.find(' ', at);
    if (end == std::string_view::npos) end = s.size();
    const std::string_view word = s.substr(at, end - at);
    std::string candidate = line.empty() ? std::string(word) : line + " " + std::string(word);
    if (!line.empty() && text.measure(candidate, size, std::nullopt).width > max_width) {
      lines.push_back(std::move(line));
      line = std::string(word);
    } else {
      line = std::move(candidate);
    }
    at = end + 1;
  }
  if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
  return lines;
}

std::string fit_with_ellipsis(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                              std::optional<std::uint8_t> weight, bool force) {
  const auto width = [&](std::string_view t) {
    return weight ? text.measure_weighted(t, size, std::nullopt, *weight).width
                  : text.measure(t, size, std::nullopt).width;
  };
  if (!force && width(s) <= max_width) return std::string(s);
  std::vector<std::size_t> cuts;  // character boundaries
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) cuts.push_back(i);
  }
  cuts.push_back(s.size());
  const auto with_ellipsis = [&](std::size_t k) {
    std::string_view head = s.substr(0, cuts[k]);
    while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
    return std::string(head) + "\u2026";
  };
  // The longest start that fits (none but "…" when nothing does).
  std::size_t lo = 0, hi = cuts.size() - 1;
  while (lo < hi) {
    const std::size_t mid = (lo + hi + 1) / 2;
    if (width(with_ellipsis(mid)) <= max_width) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return with_ellipsis(lo);
}

void paint_button(PaintBundle& p, std::string_view label, const Rect& rect, std::uint8_t style) {
  vesk_ui::widget::button::Button button;
  button.label = std::string(label);
  button.rect = rect;
  button.style = style;
  button.hovered = p.hovered(rect);
  button.text_size = 13.0f;
  button.paint(p.scene, p.base, p.text, p.tokens);
}

void paint_toggle_group(PaintBundle& p, const std::vector<Rect>& segments, const std::vector<std::string>& labels,
                        std::optional<std::size_t> selected) {
  vesk_ui::widget::toggle_group::ToggleGroup group;
  group.segments = segments;
  group.labels = labels;
  group.selected = selected.value_or(segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (p.hovered(segments[i])) {
      group.hovered = i;
      break;
    }
  }
  group.corner_radius = 8.0;
  group.label_size = 13.0f;
  group.paint(p.scene, p.base, p.text, p.tokens);
}

double paint_field_label(PaintBundle& p, std::string_view caption, double x, double y) {
  p.text_at(caption, 12.0f, p.colors().text_secondary, x, y, kWeightSemibold);
  return y + p.measure(caption, 12.0f, kWeightSemibold).height + 4.0;
}

Rect paint_rail_button(PaintBundle& p, std::string_view glyph, double rail_x0, double rail_x1, double rail_y0,
                       int index, bool active) {
  const double top = rail_y0 + 72.0 + 56.0 * index;
  const Rect r{rail_x0 + 12.0, top, rail_x1 - 12.0, top + 40.0};
  const auto& c = p.colors();
  Color glyph_colour = c.text_secondary;
  if (active) {
    const auto [fill, edge] = edge_colours(c.surface);
    p.fill(rounded(r, 8.0), fill);
    p.stroke(vesk_ui::surface::edge_outline(r, 8.0), edge, 1.0);
    glyph_colour = c.text_primary;
  } else if (p.hovered(r)) {
    p.fill(rounded(r, 8.0), c.lift(0.5f));
  }
  const auto m = p.measure(glyph, 22.0f);
  p.text_at(glyph, 22.0f, glyph_colour, r.x0 + (r.width() - m.width) / 2.0, r.y0 + 6.0);
  return r;
}

void paint_form_field(PaintBundle& p, vesk_ui::widget::PaintContext& paint, const Rect& rect,
                      vesk_ui::widget::text_input::TextInput& input, bool focused) {
  vesk_ui::surface::card(p.scene, p.base, rect, p.colors().background, 8.0);
  if (focused) p.stroke(rounded(rect, 8.0), p.colors().focus, 2.0);
  input.apply_layout_external(Rect{rect.x0 + 12.0, rect.y0, rect.x1 - 12.0, rect.y1});
  input.draw(p.scene, p.base, p.text, p.tokens, paint);
}

// ---- the pass ----

bool RemoteApp::navigation_open() const {
  const FlapState& flap = state_.flap;
  if (flap.open == FlapOpen::Automatic) return flap.automatic_default && !state_.narrow;
  return flap.open == FlapOpen::Open;
}

bool RemoteApp::tooltips_painted() const {
  const bool fullscreen = state_.fullscreen && state_.screen.normalized().kind == Screen::Normalized::Kind::Session;
  return !state_.confirmation && !fullscreen;
}

void RemoteApp::draw(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base,
                     vesk_ui::text::TextRenderer& text, const vesk_ui::tokens::Tokens& tokens,
                     vesk_ui::widget::PaintContext& paint) {
  // Hit regions emptied, inputs refreshed, flap stepped, session content taken in.
  begin_paint(paint.now);
  PaintBundle p{scene, base, text, tokens, Point{state_.pointer_x, state_.pointer_y}};
  const Rect window = bounds_;
  p.fill(window, tokens.colors.background);

  const Screen::Normalized screen = state_.screen.normalized();
  const bool fullscreen = screen.kind == Screen::Normalized::Kind::Session && state_.fullscreen;
  const double reveal = state_.flap.reveal();
  Rect content = window;
  if (!fullscreen) content.x0 = window.x0 + (state_.narrow ? kRailWidth : reveal * kRailWidth);

  switch (screen.kind) {
    case Screen::Normalized::Kind::Form: paint_form(p, paint, content); break;
    case Screen::Normalized::Kind::List: paint_list(p, paint, content); break;
    case Screen::Normalized::Kind::Session: paint_session(p, content); break;
  }
  if (state_.notice) paint_notice(p);
  if (state_.confirmation) {
    paint_confirmation(p);
    return;  // nothing is painted over a dialog
  }
  if (fullscreen) return;
  paint_navigation(p, reveal);

  if (state_.tooltip.tick(paint.now)) state_.redraw = true;
  if (state_.tooltip.shown() && state_.tooltip.request()) {
    const auto& request = *state_.tooltip.request();
    vesk_ui::widget::tooltip::draw_hover_tooltip(scene, base, text, tokens, request.anchor, request.text, window);
  }
}

void RemoteApp::paint_navigation(PaintBundle& p, double reveal) {
  const Rect window = bounds_;
  const auto& c = p.colors();
  constexpr double kVisible = 0.001;
  if (state_.narrow && reveal > kVisible) {
    p.fill(window, colour_with_alpha(Color::black(), static_cast<float>(0.26 * reveal)));
  }
  if (reveal > kVisible) {
    const double x0 = window.x0 - (1.0 - state_.flap.slide()) * kRailWidth;
    const double x1 = x0 + kRailWidth;
    p.fill(Rect{x0, window.y0, x1, window.y1}, c.surface);
    p.fill(Rect{x1 - 1.0, window.y0, x1, window.y1}, vesk_ui::chrome::shell::chrome_hairline(p.tokens));
    // The mark (a small screen on its stand). In narrow layout the toggle
    // sits where the mark would, so the mark is left out there.
    if (!state_.narrow) {
      p.fill(RoundedRect{Rect{x0 + 16.0, window.y0 + 18.0, x0 + 48.0, window.y0 + 44.0}, 5.0}, c.accent);
      p.fill(Rect{x0 + 26.0, window.y0 + 44.0, x0 + 38.0, window.y0 + 49.0}, c.accent);
    }
    const bool list = state_.screen.kind == Screen::Kind::ConnectionList;
    record(UiMessage::show_connections(), paint_rail_button(p, "\u2261", x0, x1, window.y0, 0, list));
    record(UiMessage::new_connection(), paint_rail_button(p, "+", x0, x1, window.y0, 1, false));
  }
  if (!state_.narrow) return;
  // The toggle goes on top of the rail so it stays visible while the flap is open.
  const Rect t{window.x0 + 12.0, window.y0 + 12.0, window.x0 + 52.0, window.y0 + 52.0};
  vesk_ui::surface::card(p.scene, p.base, t, c.surface, 8.0);
  if (p.hovered(t))
    p.stroke(vesk_ui::surface::edge_outline(t, 8.0), vesk_ui::surface::edge_on_with(c.surface, 92), 1.0);
  const Point centre = t.center();
  if (navigation_open()) {
    const auto m = p.measure("\u2039", 22.0f, kWeightBold);
    p.text_at("\u2039", 22.0f, c.text_primary, centre.x - m.width / 2.0, t.y0 + 6.0, kWeightBold);
  } else {
    for (double dy : {-6.0, 0.0, 6.0}) {
      const double top = centre.y + dy;
      p.fill(RoundedRect{Rect{centre.x - 9.0, top, centre.x + 9.0, top + 2.0}, 1.0}, c.text_primary);
    }
  }
  record(UiMessage::toggle_navigation(), t);
}

}  // namespace remote::app
