#include "platform/vesk_ui/text/text_renderer.hpp"

#include <algorithm>
#include <cmath>

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace vesk_ui::text {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

// Text here also refuses NUL, which the shared checker accepts.
bool is_nul_free_utf8(std::string_view text) {
  return text.find('\0') == std::string_view::npos && utf8::is_valid(text);
}

std::string sanitize_utf8(std::string_view text) {
  if (is_nul_free_utf8(text)) return std::string(text);
  std::string out = utf8::repair(text);
  for (std::size_t at = out.find('\0'); at != std::string::npos; at = out.find('\0', at)) {
    out.replace(at, 1, kReplacement);
  }
  return out;
}

std::size_t floor_char_boundary(std::string_view text, std::size_t index) {
  if (index >= text.size()) return text.size();
  while (index > 0 && (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80) --index;
  return index;
}

std::size_t count_code_points(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

TextStyle normalize_style(const TextStyle& style) {
  float size = style.size;
  if (!(size >= kMinTextSize)) size = kMinTextSize;  // also NaN
  if (size > kMaxTextSize) size = kMaxTextSize;
  std::optional<double> width;
  if (style.max_width && std::isfinite(*style.max_width) && *style.max_width > 0.0) width = *style.max_width;
  return TextStyle{size, std::min<std::uint8_t>(style.weight, 3), style.family, width};
}

TextStyle TextRenderer::effective_style(const TextStyle& style) const {
  TextStyle s = style;
  const double k = scale_factor();
  if (std::isfinite(k) && k > 0.0 && k != 1.0) s.size = static_cast<float>(s.size * k);
  return normalize_style(s);
}

TextSize TextRenderer::measure(std::string_view text, float size, std::optional<double> max_width) {
  return measure_styled(text, TextStyle{size, kDefaultWeight, FontFamily::Sans, max_width});
}

TextSize TextRenderer::measure_weighted(std::string_view text, float size, std::optional<double> max_width,
                                        std::uint8_t weight) {
  return measure_styled(text, TextStyle{size, weight, FontFamily::Sans, max_width});
}

TextSize TextRenderer::measure_styled(std::string_view text, const TextStyle& style) {
  return do_measure(sanitize_utf8(text), effective_style(style));
}

void TextRenderer::draw_text(scene::Scene& scene, std::string_view text, float size, const scene::Color& color,
                             const scene::Affine& transform, std::optional<double> max_width) {
  draw_text_styled(scene, text, TextStyle{size, kDefaultWeight, FontFamily::Sans, max_width}, color, transform);
}

void TextRenderer::draw_text_weighted(scene::Scene& scene, std::string_view text, float size, const scene::Color& color,
                                      const scene::Affine& transform, std::optional<double> max_width,
                                      std::uint8_t weight) {
  draw_text_styled(scene, text, TextStyle{size, weight, FontFamily::Sans, max_width}, color, transform);
}

void TextRenderer::draw_text_styled(scene::Scene& scene, std::string_view text, const TextStyle& style,
                                    const scene::Color& color, const scene::Affine& transform) {
  if (text.empty()) return;
  const TextStyle s = effective_style(style);
  scene.draw_text(scene::TextRun{sanitize_utf8(text), s.size, s.weight, s.family, color, transform, s.max_width});
}

double TextRenderer::caret_x(std::string_view text, const TextStyle& style, std::size_t byte_index) {
  const std::string valid = sanitize_utf8(text);
  // Indices refer to the caller's bytes; they agree with the repaired text
  // whenever the caller's text was valid, which editing keeps true.
  return do_caret_x(valid, effective_style(style), floor_char_boundary(valid, byte_index));
}

std::size_t TextRenderer::index_at_x(std::string_view text, const TextStyle& style, double x) {
  const std::string valid = sanitize_utf8(text);
  if (!std::isfinite(x) || x <= 0.0) return 0;
  return std::min(do_index_at_x(valid, effective_style(style), x), valid.size());
}

double StubTextRenderer::advance(const TextStyle& style) {
  return style.size * (style.family == FontFamily::Mono ? kMonoAdvanceEm : 0.5);
}

TextSize StubTextRenderer::do_measure(const std::string& text, const TextStyle& style) {
  const double adv = advance(style);
  const double line_h = style.size * 1.25;
  std::size_t lines = 1;
  std::size_t widest = 0;
  std::size_t current = 0;
  std::size_t per_line = SIZE_MAX;
  if (style.max_width) per_line = std::max<std::size_t>(1, static_cast<std::size_t>(*style.max_width / adv));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;
    if (c == '\n') {
      widest = std::max(widest, current);
      current = 0;
      ++lines;
      continue;
    }
    if (current == per_line) {
      widest = std::max(widest, current);
      current = 0;
      ++lines;
    }
    ++current;
  }
  widest = std::max(widest, current);
  return TextSize{static_cast<double>(widest) * adv, static_cast<double>(lines) * line_h};
}

double StubTextRenderer::do_caret_x(const std::string& text, const TextStyle& style, std::size_t byte_index) {
  return static_cast<double>(count_code_points(std::string_view(text).substr(0, byte_index))) * advance(style);
}

std::size_t StubTextRenderer::do_index_at_x(const std::string& text, const TextStyle& style, double x) {
  const double adv = advance(style);
  const auto target = static_cast<std::size_t>(std::floor(x / adv + 0.5));
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars == target) return i;
    ++chars;
  }
  return text.size();
}

}  // namespace vesk_ui::text
