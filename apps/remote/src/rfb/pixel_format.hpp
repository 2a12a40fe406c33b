#pragma once
// The RFB PIXEL_FORMAT record and conversion of wire pixels to RGBA.

#include <array>
#include <cstdint>
#include <span>

namespace remote::rfb {

struct PixelFormat {
  std::uint8_t bits_per_pixel = 32;
  std::uint8_t depth = 24;
  bool big_endian = false;
  bool true_colour = true;
  std::uint16_t red_max = 255;
  std::uint16_t green_max = 255;
  std::uint16_t blue_max = 255;
  std::uint8_t red_shift = 16;
  std::uint8_t green_shift = 8;
  std::uint8_t blue_shift = 0;

  static constexpr std::size_t kWireSize = 16;

  static PixelFormat from_wire(std::span<const std::uint8_t, kWireSize> bytes);
  std::array<std::uint8_t, kWireSize> to_wire() const;

  // 1 to 4 wire bytes to 0xFF000000 | blue << 16 | green << 8 | red.
  std::uint32_t decode_pixel(std::span<const std::uint8_t> bytes) const;

  // (bits per pixel + 7) / 8.
  unsigned bytes_per_pixel() const { return (unsigned{bits_per_pixel} + 7) / 8; }

  bool operator==(const PixelFormat&) const = default;
};

// The only format the client decodes: 32 bits, little-endian, blue in the low byte.
inline constexpr PixelFormat kClientPixelFormat{};

}  // namespace remote::rfb
