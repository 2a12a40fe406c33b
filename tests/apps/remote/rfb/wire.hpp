#pragma once
// Builds server byte streams for the tests: big-endian integers, rectangles
// and the usual handshake replies.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rfb_test {

struct Wire {
  std::vector<std::uint8_t> bytes;

  Wire& u8(std::uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  Wire& u16(std::uint16_t v) { return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v)); }
  Wire& u32(std::uint32_t v) { return u16(static_cast<std::uint16_t>(v >> 16)).u16(static_cast<std::uint16_t>(v)); }
  Wire& text(std::string_view s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Wire& raw(const std::vector<std::uint8_t>& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  Wire& zeros(std::size_t n) {
    bytes.insert(bytes.end(), n, 0);
    return *this;
  }
  // A client-format pixel on the wire: B, G, R, X.
  Wire& pixel(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return u8(b).u8(g).u8(r).u8(0); }

  // After the FramebufferUpdate type byte: padding and the rectangle count.
  Wire& update(std::uint16_t rects) { return u8(0).u16(rects); }
  Wire& rect(std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h, std::int32_t enc) {
    return u16(x).u16(y).u16(w).u16(h).u32(static_cast<std::uint32_t>(enc));
  }
  Wire& server_init(std::uint16_t w, std::uint16_t h, std::string_view name = "test") {
    u16(w).u16(h);
    u8(32).u8(24).u8(0).u8(1).u16(255).u16(255).u16(255).u8(16).u8(8).u8(0).zeros(3);
    return u32(static_cast<std::uint32_t>(name.size())).text(name);
  }
  Wire& reason(std::string_view s) { return u32(static_cast<std::uint32_t>(s.size())).text(s); }
};

// 0xFF000000 | b << 16 | g << 8 | r, as Framebuffer::pixel gives it.
constexpr std::uint32_t rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return 0xFF000000u | (std::uint32_t{b} << 16) | (std::uint32_t{g} << 8) | r;
}

}  // namespace rfb_test
