#pragma once
// Colours: straight (not premultiplied) sRGB with alpha, 32-bit float channels.

#include <algorithm>
#include <cstdint>

namespace vesk_ui::scene {

struct Rgba8 {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
  friend bool operator==(const Rgba8&, const Rgba8&) = default;
};

struct Color {
  float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;

  static constexpr Color from_rgba8(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return Color{r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f};
  }
  static constexpr Color from_hex(std::uint32_t rgb) {
    return from_rgba8(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                      static_cast<std::uint8_t>(rgb));
  }
  static constexpr Color black() { return Color{0, 0, 0, 1}; }
  static constexpr Color white() { return Color{1, 1, 1, 1}; }
  static constexpr Color transparent() { return Color{0, 0, 0, 0}; }

  // Channels rounded to the nearest byte.
  Rgba8 to_rgba8() const {
    auto q = [](float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
    return Rgba8{q(r), q(g), q(b), q(a)};
  }
  Color with_alpha(float alpha) const { return Color{r, g, b, std::clamp(alpha, 0.0f, 1.0f)}; }
  Color multiply_alpha(float k) const { return with_alpha(a * k); }
  // Linear blend toward `other` by t in 0..1 (alpha blended too).
  Color mix(const Color& other, float t) const {
    t = std::clamp(t, 0.0f, 1.0f);
    return Color{r + (other.r - r) * t, g + (other.g - g) * t, b + (other.b - b) * t, a + (other.a - a) * t};
  }
  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace vesk_ui::scene

namespace vesk_ui::color_compat {

// Byte-level access to scene colours, for code that works on 8-bit channels.
struct ColorCompat {
  static scene::Rgba8 to_rgba8(const scene::Color& c) { return c.to_rgba8(); }
  static scene::Color from_rgba8(scene::Rgba8 c) { return scene::Color::from_rgba8(c.r, c.g, c.b, c.a); }
};

}  // namespace vesk_ui::color_compat
