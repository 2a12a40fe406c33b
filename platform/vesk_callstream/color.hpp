#pragma once

// Conversions between 8-bit I420 planes and tightly packed RGBA (or B, G, R,
// A), BT.601 limited range (Y 16..235, Cb/Cr 16..240), integer arithmetic.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vesk_callstream::color {

// Read-only view of an I420 picture; chroma planes are (w+1)/2 by (h+1)/2.
struct I420View {
  const std::uint8_t* y = nullptr;
  const std::uint8_t* u = nullptr;
  const std::uint8_t* v = nullptr;
  std::size_t y_stride = 0;
  std::size_t uv_stride = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Writable I420 planes, same layout rules.
struct I420Planes {
  std::uint8_t* y = nullptr;
  std::uint8_t* u = nullptr;
  std::uint8_t* v = nullptr;
  std::size_t y_stride = 0;
  std::size_t uv_stride = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// `rgba` must hold width * height * 4 bytes; alpha is written as 255.
void i420_to_rgba(const I420View& in, std::span<std::uint8_t> rgba);
// The same pixels with red and blue swapped: B, G, R, A bytes.
void i420_to_bgra(const I420View& in, std::span<std::uint8_t> bgra);

// `rgba` holds width * height * 4 bytes; alpha is ignored. Chroma is the mean
// of each 2x2 block (edge blocks use the pixels that exist).
void rgba_to_i420(std::span<const std::uint8_t> rgba, const I420Planes& out);

}  // namespace vesk_callstream::color
