#pragma once
// Text measurement and recording of text runs into the scene.
//
// Sizes are logical pixels. Weight codes: 0 normal, 1 medium, 2 semibold,
// 3 bold (larger codes are taken as 3). Text that is not valid UTF-8 is
// repaired (each bad sequence becomes U+FFFD) before it is measured or
// recorded, so any byte string is safe to pass.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/vesk_ui/scene/scene.hpp"

namespace vesk_ui::text {

using scene::FontFamily;

struct TextSize {
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const TextSize&, const TextSize&) = default;
};

struct TextStyle {
  float size = 14.0f;
  std::uint8_t weight = 0;
  FontFamily family = FontFamily::Sans;
  std::optional<double> max_width;  // wrap width in logical pixels
};

// The cell advance of the monospace face, as a fraction of the size: 8.4 px at
// size 14. The renderers space monospace glyphs to exactly this advance so a
// terminal grid of fixed cells lines up with the painted glyphs.
inline constexpr double kMonoAdvanceEm = 0.6;

// Sizes outside this range (and NaN) are clamped into it.
inline constexpr float kMinTextSize = 1.0f;
inline constexpr float kMaxTextSize = 512.0f;

// Valid UTF-8 for any input: invalid or truncated sequences, overlongs,
// surrogates and NUL bytes each become U+FFFD.
std::string sanitize_utf8(std::string_view text);
// True when `text` is valid UTF-8 without NUL bytes.
bool is_nul_free_utf8(std::string_view text);

class TextRenderer {
 public:
  static constexpr std::uint8_t kDefaultWeight = 0;

  virtual ~TextRenderer() = default;

  TextSize measure(std::string_view text, float size, std::optional<double> max_width);
  TextSize measure_weighted(std::string_view text, float size, std::optional<double> max_width, std::uint8_t weight);
  TextSize measure_styled(std::string_view text, const TextStyle& style);

  void draw_text(scene::Scene& scene, std::string_view text, float size, const scene::Color& color,
                 const scene::Affine& transform, std::optional<double> max_width);
  void draw_text_weighted(scene::Scene& scene, std::string_view text, float size, const scene::Color& color,
                          const scene::Affine& transform, std::optional<double> max_width, std::uint8_t weight);
  void draw_text_styled(scene::Scene& scene, std::string_view text, const TextStyle& style, const scene::Color& color,
                        const scene::Affine& transform);

  // Single-line caret geometry, logical pixels from the text's left edge.
  // `byte_index` is clamped to the text and moved back to a character start.
  double caret_x(std::string_view text, const TextStyle& style, std::size_t byte_index);
  // The character boundary (byte index) nearest to x.
  std::size_t index_at_x(std::string_view text, const TextStyle& style, double x);

  // The text scale factor (1 unless text is enlarged for accessibility):
  // every size passed in is multiplied by it before measuring and drawing.
  virtual double scale_factor() const { return 1.0; }

 protected:
  // The style as measured and drawn: scaled by scale_factor(), then normalised.
  TextStyle effective_style(const TextStyle& style) const;
  // Called with valid UTF-8 and a normalised style.
  virtual TextSize do_measure(const std::string& text, const TextStyle& style) = 0;
  virtual double do_caret_x(const std::string& text, const TextStyle& style, std::size_t byte_index) = 0;
  virtual std::size_t do_index_at_x(const std::string& text, const TextStyle& style, double x) = 0;
};

// Clamped size and weight, and a wrap width that is finite and positive or absent.
TextStyle normalize_style(const TextStyle& style);

// Byte index of the character boundary at or before `index` in valid UTF-8.
std::size_t floor_char_boundary(std::string_view text, std::size_t index);
// Number of code points in valid UTF-8.
std::size_t count_code_points(std::string_view text);

// Deterministic metrics without fonts, for geometry tests: every code point is
// 0.5 em wide (monospace 0.6 em), a line is 1.25 em high, wrapping is greedy by
// code point. Draws record the same text runs as the real renderer.
class StubTextRenderer final : public TextRenderer {
 public:
  explicit StubTextRenderer(double scale = 1.0) : scale_(scale) {}
  double scale_factor() const override { return scale_; }
  static double advance(const TextStyle& style);

 protected:
  TextSize do_measure(const std::string& text, const TextStyle& style) override;
  double do_caret_x(const std::string& text, const TextStyle& style, std::size_t byte_index) override;
  std::size_t do_index_at_x(const std::string& text, const TextStyle& style, double x) override;

 private:
  double scale_;
};

}  // namespace vesk_ui::text
