#include "apps/remote/src/rfb/pixel_format.hpp"

namespace remote::rfb {
namespace {

std::uint16_t be16(std::span<const std::uint8_t, PixelFormat::kWireSize> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

// Scales one channel to 8 bits, rounding to nearest. A shift of 32 or more
// leaves nothing of the value.
std::uint32_t channel(std::uint32_t v, std::uint16_t max, std::uint8_t shift) {
  if (max == 0) return 0;
  const std::uint32_t raw = shift >= 32 ? 0 : (v >> shift) & max;
  return (raw * 255 + max / 2) / max;
}

}  // namespace

PixelFormat PixelFormat::from_wire(std::span<const std::uint8_t, kWireSize> b) {
  PixelFormat f;
  f.bits_per_pixel = b[0];
  f.depth = b[1];
  f.big_endian = b[2] != 0;
  f.true_colour = b[3] != 0;
  f.red_max = be16(b, 4);
  f.green_max = be16(b, 6);
  f.blue_max = be16(b, 8);
  f.red_shift = b[10];
  f.green_shift = b[11];
  f.blue_shift = b[12];
  return f;
}

std::array<std::uint8_t, PixelFormat::kWireSize> PixelFormat::to_wire() const {
  return {bits_per_pixel,
          depth,
          static_cast<std::uint8_t>(big_endian ? 1 : 0),
          static_cast<std::uint8_t>(true_colour ? 1 : 0),
          static_cast<std::uint8_t>(red_max >> 8),
          static_cast<std::uint8_t>(red_max),
          static_cast<std::uint8_t>(green_max >> 8),
          static_cast<std::uint8_t>(green_max),
          static_cast<std::uint8_t>(blue_max >> 8),
          static_cast<std::uint8_t>(blue_max),
          red_shift,
          green_shift,
          blue_shift,
          0,
          0,
          0};
}

std::uint32_t PixelFormat::decode_pixel(std::span<const std::uint8_t> bytes) const {
  std::uint32_t v = 0;
  const std::size_t n = bytes.size() > 4 ? 4 : bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (big_endian) {
      v = (v << 8) | bytes[i];
    } else {
      v |= std::uint32_t{bytes[i]} << (8 * i);
    }
  }
  const std::uint32_t r = channel(v, red_max, red_shift);
  const std::uint32_t g = channel(v, green_max, green_shift);
  const std::uint32_t b = channel(v, blue_max, blue_shift);
  return 0xFF000000u | (b << 16) | (g << 8) | r;
}

}  // namespace remote::rfb
