#pragma once

// A real H.264 stream for the tests: colour bars with a block that moves
// 16 pixels per frame, encoded by openh264.

#include <cstdint>
#include <vector>

#include "platform/vesk_callstream/encoder.hpp"

namespace vesk_callstream::testing {

struct BarColor {
  std::uint8_t r, g, b;
};
inline constexpr BarColor kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
inline constexpr BarColor kBlockColor = {255, 128, 0};
inline constexpr std::uint32_t kBlockSide = 32;

inline std::uint32_t block_x(std::uint32_t frame, std::uint32_t width) { return (frame * 16) % (width - kBlockSide); }

// Bars fill the picture; the block sits at rows [16, 48).
inline std::vector<std::uint8_t> bars_picture(std::uint32_t w, std::uint32_t h, std::uint32_t frame) {
  std::vector<std::uint8_t> rgba(std::size_t{w} * h * 4);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      BarColor c = kBars[std::min<std::uint32_t>(x / (w / 8), 7)];
      const std::uint32_t bx = block_x(frame, w);
      if (y >= 16 && y < 16 + kBlockSide && x >= bx && x < bx + kBlockSide) {
        c = kBlockColor;
      }
      std::uint8_t* p = &rgba[(std::size_t{y} * w + x) * 4];
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      p[3] = 255;
    }
  }
  return rgba;
}

inline std::vector<encoder::EncodedFrame> encode_bars(std::uint32_t w, std::uint32_t h, std::uint32_t frames,
                                                      std::uint32_t idr_interval) {
  auto enc = encoder::H264Encoder::create({w, h, 30.0f, idr_interval, 2'000'000});
  std::vector<encoder::EncodedFrame> out;
  if (!enc) {
    return out;
  }
  for (std::uint32_t i = 0; i < frames; ++i) {
    auto f = enc->encode_rgba(bars_picture(w, h, i), i * 33);
    if (!f) {
      return {};
    }
    out.push_back(std::move(*f));
  }
  return out;
}

}  // namespace vesk_callstream::testing
