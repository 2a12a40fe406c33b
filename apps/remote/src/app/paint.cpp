// The paint pass as a whole, the navigation rail and the narrow toggle, and
// the small painters the screens share.
#include "apps/remote/src/app/paint.hpp"

#include <algorithm>
#include <cmath>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/views.hpp"
#include "apps/remote/src/doc/list.hpp"
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

namespace {

double width_of(vesk_ui::text::TextRenderer& text, std::string_view s, float size, std::optional<std::uint8_t> weight) {
  return weight ? text.measure_weighted(s, size, std::nullopt, *weight).width
                : text.measure(s, size, std::nullopt).width;
}

// Byte offsets of the character starts in [from, to), then `to`.
std::vector<std::size_t> char_cuts(std::string_view s, std::size_t from, std::size_t to) {
  std::vector<std::size_t> cuts;
  for (std::size_t i = from; i < to; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) cuts.push_back(i);
  }
  cuts.push_back(to);
  return cuts;
}

// The largest k with fits(cuts[k]) among k >= lo, assuming fits is monotone;
// lo itself when none fits.
template <class Fits>
std::size_t longest_fitting(const std::vector<std::size_t>& cuts, std::size_t lo, const Fits& fits) {
  std::size_t hi = cuts.size() - 1;
  while (lo < hi) {
    const std::size_t mid = (lo + hi + 1) / 2;
    if (fits(cuts[mid])) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return lo;
}

bool is_break(char c) { return c == ' ' || c == '\n'; }

}  // namespace

std::string fit_with_ellipsis(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                              std::optional<std::uint8_t> weight, bool force, std::size_t keep) {
  if (!force && width_of(text, s, size, weight) <= max_width) return std::string(s);
  keep = std::min(keep, s.size());
  const std::vector<std::size_t> cuts = char_cuts(s, 0, s.size());
  const auto with_ellipsis = [&](std::size_t at) {
    std::string_view head = s.substr(0, at);
    while (head.size() > keep && head.back() == ' ') head.remove_suffix(1);
    return std::string(head) + "\u2026";
  };
  // The first cut at or after `keep`: the shortest start allowed.
  const std::size_t lo = static_cast<std::size_t>(std::lower_bound(cuts.begin(), cuts.end(), keep) - cuts.begin());
  const std::size_t k = longest_fitting(
      cuts, lo, [&](std::size_t at) { return width_of(text, with_ellipsis(at), size, weight) <= max_width; });
  return with_ellipsis(cuts[k]);
}

FittedText fit_text(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                    std::optional<std::uint8_t> weight) {
  const auto measure = [&](std::string_view t) {
    return weight ? text.measure_weighted(t, size, std::nullopt, *weight) : text.measure(t, size, std::nullopt);
  };
  const vesk_ui::text::TextSize whole = measure(s);
  if (whole.width <= max_width) return {std::string(s), whole};
  std::string cut = fit_with_ellipsis(text, s, size, max_width, weight, true);
  const vesk_ui::text::TextSize shown = measure(cut);
  return {std::move(cut), shown};
}

TextBlock wrap_block(vesk_ui::text::TextRenderer& text, std::string_view s, float size, double max_width,
                     std::optional<std::uint8_t> weight, std::size_t max_lines, std::size_t keep_whole) {
  struct Span {
    std::size_t begin, end;
  };
  max_lines = std::max<std::size_t>(max_lines, 1);
  // At least one character goes on every line, however narrow it is.
  max_width = std::max(max_width, 1.0);
  std::vector<Span> spans;
  std::size_t pos = 0;
  const auto skip_spaces = [&] {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  };
  skip_spaces();
  bool cut = false;
  while (pos < s.size()) {
    if (spans.size() >= max_lines && pos >= keep_whole) {
      cut = true;
      break;
    }
    const std::size_t begin = pos;
    std::size_t end = begin;  // the accepted words end here
    std::size_t at = begin;
    bool forced = false;  // a newline ends the line
    while (at <= s.size()) {
      std::size_t word_end = at;
      while (word_end < s.size() && !is_break(s[word_end])) ++word_end;
      if (width_of(text, s.substr(begin, word_end - begin), size, weight) <= max_width) {
        end = word_end;
        if (word_end == s.size()) break;
        if (s[word_end] == '\n') {
          forced = true;
          break;
        }
        at = word_end + 1;
        continue;
      }
      if (end == begin) {
        // One word wider than the line: as many of its characters as fit
        // (at least one), the rest on the next line.
        const std::vector<std::size_t> cuts = char_cuts(s, begin, word_end);
        const std::size_t k = longest_fitting(cuts, 1, [&](std::size_t cut_at) {
          return width_of(text, s.substr(begin, cut_at - begin), size, weight) <= max_width;
        });
        end = cuts[k];
      }
      break;
    }
    std::size_t trimmed = end;
    while (trimmed > begin && s[trimmed - 1] == ' ') --trimmed;
    spans.push_back({begin, trimmed});
    pos = end;
    if (forced)
      ++pos;  // past the newline
    else
      skip_spaces();
    if (pos < s.size() && s[pos] == '\n' && !forced) ++pos;
  }

  TextBlock block;
  block.cut = cut;
  for (const Span& span : spans) block.lines.emplace_back(s.substr(span.begin, span.end - span.begin));
  if (cut && !spans.empty()) {
    const Span last = spans.back();
    const std::size_t keep = keep_whole > last.begin ? std::min(keep_whole, last.end) - last.begin : 0;
    std::string& line = block.lines.back();
    std::string fitted = fit_with_ellipsis(text, line, size, max_width, weight, true, keep);
    if (width_of(text, fitted, size, weight) <= max_width) {
      line = std::move(fitted);
    } else {
      block.lines.emplace_back("\u2026");  // the kept text fills its line
    }
  }
  if (block.lines.empty()) block.lines.emplace_back();
  return block;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += '\n';
    out += lines[i];
  }
  return out;
}

std::size_t end_of_last(std::string_view s, const std::vector<std::string_view>& needles) {
  std::size_t end = 0;
  for (std::string_view needle : needles) {
    if (needle.empty()) continue;
    if (const auto at = s.rfind(needle); at != std::string_view::npos) end = std::max(end, at + needle.size());
  }
  return end;
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

InputPlacement paint_form_field(PaintBundle& p, const vesk_ui::widget::PaintContext& paint, const Rect& rect,
                                const vesk_ui::widget::text_input::TextInput& input, bool focused) {
  vesk_ui::surface::card(p.scene, p.base, rect, p.colors().background, 8.0);
  if (focused) p.stroke(rounded(rect, 8.0), p.colors().focus, 2.0);
  const Rect inside{rect.x0 + 12.0, rect.y0, rect.x1 - 12.0, rect.y1};
  return {inside, input.draw_at(inside, p.scene, p.base, p.text, p.tokens, paint)};
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

void RemoteApp::draw_entry(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base,
                           vesk_ui::text::TextRenderer& text, const vesk_ui::tokens::Tokens& tokens,
                           vesk_ui::widget::PaintContext& paint) {
  advance_frame(paint.now);
  draw(scene, base, text, tokens, paint);
}

void RemoteApp::draw(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base,
                     vesk_ui::text::TextRenderer& text, const vesk_ui::tokens::Tokens& tokens,
                     vesk_ui::widget::PaintContext& paint) {
  const Screen::Normalized screen = state_.screen.normalized();
  AppView view{state_, bounds_, navigation_open(), nullptr, std::nullopt};
  if (screen.kind == Screen::Normalized::Kind::List) view.list = &list_results();
  // The status card offers to trust or forget the key the session saw.
  const bool connected = state_.live_session && state_.live_session->status().is_connected();
  if (screen.kind == Screen::Normalized::Kind::Session && !connected) {
    const SavedConnection* c = find_connection(state_.connections, state_.screen.id);
    if (c && c->kind == ConnectionKind::Ssh) view.host_key = pending_host_key(c->id);
  }
  PaintRecorder out;
  // The last frame's regions give up their storage to this frame's.
  out.hit_regions = std::move(state_.hit_regions);
  out.hit_regions.clear();
  out.inputs.reserve(state_.inputs.size());
  paint_frame(scene, base, text, tokens, paint, view, out);
  keep_painted(std::move(out));
}

void RemoteApp::keep_painted(PaintRecorder&& painted) {
  state_.hit_regions = std::move(painted.hit_regions);
  if (painted.list) {
    state_.list_metrics = painted.list->metrics;
    state_.list_scroll = painted.list->scroll;
    state_.list_scroll_max = painted.list->scroll_max;
    if (painted.list->stacked_rows) state_.stacked_rows = *painted.list->stacked_rows;
  }
  if (painted.session_surface) state_.session_surface = painted.session_surface;
  for (const PlacedInput& placed : painted.inputs) {
    state_.inputs[placed.field.number()].place(placed.at.rect, placed.at.scroll_x);
  }
}

void paint_frame(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base, vesk_ui::text::TextRenderer& text,
                 const vesk_ui::tokens::Tokens& tokens, const vesk_ui::widget::PaintContext& paint, const AppView& view,
                 PaintRecorder& out) {
  const AppState& state = view.state;
  PaintBundle p{scene, base, text, tokens, Point{state.pointer_x, state.pointer_y}};
  const Rect window = view.window;
  p.fill(window, tokens.colors.background);

  const Screen::Normalized screen = state.screen.normalized();
  const bool fullscreen = screen.kind == Screen::Normalized::Kind::Session && state.fullscreen;
  const double reveal = state.flap.reveal();
  Rect content = window;
  if (!fullscreen) content.x0 = window.x0 + (state.narrow ? kRailWidth : reveal * kRailWidth);

  switch (screen.kind) {
    case Screen::Normalized::Kind::Form: paint_form(p, paint, view, content, out); break;
    case Screen::Normalized::Kind::List: paint_list(p, paint, view, content, out); break;
    case Screen::Normalized::Kind::Session: paint_session(p, view, content, out); break;
  }
  if (state.notice) paint_notice(p, view);
  if (state.confirmation) {
    paint_confirmation(p, view, out);
    return;  // nothing is painted over a dialog
  }
  if (fullscreen) return;
  paint_navigation(p, view, reveal, out);

  if (state.tooltip.shown() && state.tooltip.request()) {
    const auto& request = *state.tooltip.request();
    vesk_ui::widget::tooltip::draw_hover_tooltip(scene, base, text, tokens, request.anchor, request.text, window);
  }
}

void paint_navigation(PaintBundle& p, const AppView& view, double reveal, PaintRecorder& out) {
  const AppState& state = view.state;
  const Rect window = view.window;
  const auto& c = p.colors();
  constexpr double kVisible = 0.001;
  if (state.narrow && reveal > kVisible) {
    p.fill(window, colour_with_alpha(Color::black(), static_cast<float>(0.26 * reveal)));
  }
  if (reveal > kVisible) {
    const double x0 = window.x0 - (1.0 - state.flap.slide()) * kRailWidth;
    const double x1 = x0 + kRailWidth;
    p.fill(Rect{x0, window.y0, x1, window.y1}, c.surface);
    p.fill(Rect{x1 - 1.0, window.y0, x1, window.y1}, vesk_ui::chrome::shell::chrome_hairline(p.tokens));
    // The mark (a small screen on its stand). In narrow layout the toggle
    // sits where the mark would, so the mark is left out there.
    if (!state.narrow) {
      p.fill(RoundedRect{Rect{x0 + 16.0, window.y0 + 18.0, x0 + 48.0, window.y0 + 44.0}, 5.0}, c.accent);
      p.fill(Rect{x0 + 26.0, window.y0 + 44.0, x0 + 38.0, window.y0 + 49.0}, c.accent);
    }
    const bool list = state.screen.kind == Screen::Kind::ConnectionList;
    out.record(UiMessage::show_connections(), paint_rail_button(p, "\u2261", x0, x1, window.y0, 0, list));
    out.record(UiMessage::new_connection(), paint_rail_button(p, "+", x0, x1, window.y0, 1, false));
  }
  if (!state.narrow) return;
  // The toggle goes on top of the rail so it stays visible while the flap is open.
  const Rect t{window.x0 + 12.0, window.y0 + 12.0, window.x0 + 52.0, window.y0 + 52.0};
  vesk_ui::surface::card(p.scene, p.base, t, c.surface, 8.0);
  if (p.hovered(t))
    p.stroke(vesk_ui::surface::edge_outline(t, 8.0), vesk_ui::surface::edge_on_with(c.surface, 92), 1.0);
  const Point centre = t.center();
  if (view.navigation_open) {
    const auto m = p.measure("\u2039", 22.0f, kWeightBold);
    p.text_at("\u2039", 22.0f, c.text_primary, centre.x - m.width / 2.0, t.y0 + 6.0, kWeightBold);
  } else {
    for (double dy : {-6.0, 0.0, 6.0}) {
      const double top = centre.y + dy;
      p.fill(RoundedRect{Rect{centre.x - 9.0, top, centre.x + 9.0, top + 2.0}, 1.0}, c.text_primary);
    }
  }
  out.record(UiMessage::toggle_navigation(), t);
}

}  // namespace remote::app
