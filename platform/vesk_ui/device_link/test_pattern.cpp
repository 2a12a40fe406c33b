#include "platform/vesk_ui/device_link/test_pattern.hpp"

#include <algorithm>
#include <cmath>

namespace vesk_ui::device_link::pattern {

namespace {

void fill(std::span<std::uint8_t> rgba, const Layout& l, std::int64_t x0, std::int64_t y0, std::int64_t w,
          std::int64_t h, Rgb c) {
  const std::int64_t x1 = std::clamp<std::int64_t>(x0 + w, 0, l.width);
  const std::int64_t y1 = std::clamp<std::int64_t>(y0 + h, 0, l.height);
  x0 = std::clamp<std::int64_t>(x0, 0, l.width);
  y0 = std::clamp<std::int64_t>(y0, 0, l.height);
  for (std::int64_t y = y0; y < y1; ++y) {
    std::uint8_t* p = rgba.data() + (static_cast<std::size_t>(y) * l.width + x0) * 4;
    for (std::int64_t x = x0; x < x1; ++x) {
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      p[3] = 255;
      p += 4;
    }
  }
}

bool bit_set(std::span<const std::uint8_t> rgba, std::uint32_t width, std::uint32_t x, std::uint32_t y) {
  const Rgb c = sample(rgba, width, x, y);
  return (int{c.r} + c.g + c.b) > 3 * 128;
}

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kBlack = {0, 0, 0};

}  // namespace

std::uint32_t Layout::block_x(std::uint64_t frame_number) const {
  const std::uint64_t span = width - kBlockSize;
  return static_cast<std::uint32_t>((frame_number * kBlockStep) % span) & ~1u;
}

Layout layout_for(std::uint32_t width, std::uint32_t height) {
  Layout l;
  l.width = width;
  l.height = height;
  l.bars_bottom = (height * 2 / 3) & ~1u;
  l.bar_width = width / 8;
  l.counter_top = height - kCell;
  l.key_row_top = l.counter_top - 2 * kCell;
  l.key_lamp_x = 0;
  l.key_bits_x = 2 * kCell;
  l.button_lamps_x = l.key_bits_x + (kKeyCodeBits + 1) * kCell;
  return l;
}

void render(const PatternState& s, const Layout& l, std::span<std::uint8_t> rgba) {
  for (std::uint32_t i = 0; i < kBars.size(); ++i) {
    const std::uint32_t right = i + 1 == kBars.size() ? l.width : (i + 1) * l.bar_width;
    fill(rgba, l, i * l.bar_width, 0, right - i * l.bar_width, l.bars_bottom, kBars[i]);
  }
  fill(rgba, l, l.block_x(s.frame_number), kBlockTop, kBlockSize, kBlockSize, kBlock);
  fill(rgba, l, 0, l.bars_bottom, l.width, l.height - l.bars_bottom, kBand);

  fill(rgba, l, l.key_lamp_x, l.key_row_top, kCell, kCell, s.key_down ? kKeyLampOn : kLampOff);
  for (unsigned i = 0; i < kKeyCodeBits; ++i) {
    const bool on = (s.last_key >> (kKeyCodeBits - 1 - i)) & 1u;
    fill(rgba, l, l.key_bits_x + i * kCell, l.key_row_top, kCell, kCell, on ? kWhite : kBlack);
  }
  for (unsigned i = 0; i < 3; ++i) {
    const bool on = (s.buttons >> i) & 1u;
    fill(rgba, l, l.button_lamps_x + i * 2 * kCell, l.key_row_top, kCell, kCell, on ? kButtonLampOn : kLampOff);
  }

  if (s.pointer) {
    const double px = (*s.pointer)[0];
    const double py = (*s.pointer)[1];
    if (std::isfinite(px) && std::isfinite(py)) {
      const auto x = static_cast<std::int64_t>(std::clamp(px, 0.0, double(l.width - 1)));
      const auto y = static_cast<std::int64_t>(std::clamp(py, 0.0, double(l.height - 1)));
      const std::int64_t half = kPointerSize / 2;
      fill(rgba, l, x - half, y - half, kPointerSize, kPointerSize, kBlack);
      fill(rgba, l, x - half / 2, y - half / 2, half, half, kWhite);
    }
  }

  fill(rgba, l, 0, l.counter_top, l.width, kCell, kBlack);
  for (unsigned i = 0; i < kFrameNumberBits; ++i) {
    if ((s.frame_number >> (kFrameNumberBits - 1 - i)) & 1u) {
      fill(rgba, l, i * kCell, l.counter_top, kCell, kCell, kWhite);
    }
  }
}

Rgb sample(std::span<const std::uint8_t> rgba, std::uint32_t width, std::uint32_t x, std::uint32_t y) {
  const std::size_t at = (std::size_t{y + kCell / 2} * width + x + kCell / 2) * 4;
  if (at + 3 >= rgba.size()) {
    return {};
  }
  return {rgba[at], rgba[at + 1], rgba[at + 2]};
}

std::uint64_t read_frame_number(std::span<const std::uint8_t> rgba, const Layout& l) {
  std::uint64_t n = 0;
  for (unsigned i = 0; i < kFrameNumberBits; ++i) {
    n = (n << 1) | (bit_set(rgba, l.width, i * kCell, l.counter_top) ? 1 : 0);
  }
  return n;
}

std::uint32_t read_key_code(std::span<const std::uint8_t> rgba, const Layout& l) {
  std::uint32_t code = 0;
  for (unsigned i = 0; i < kKeyCodeBits; ++i) {
    code = (code << 1) | (bit_set(rgba, l.width, l.key_bits_x + i * kCell, l.key_row_top) ? 1 : 0);
  }
  return code;
}

}  // namespace vesk_ui::device_link::pattern
