#pragma once
// Server byte streams for the benchmarks: full-screen Raw, CopyRect scrolls
// and RRE with many subrectangles, in the client pixel format.

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace rfb_bench {

constexpr std::uint16_t kWidth = 1920;
constexpr std::uint16_t kHeight = 1080;
constexpr std::size_t kRreSubrects = 10'000;

struct Bytes {
  std::vector<std::uint8_t> v;
  void u8(std::uint8_t x) { v.push_back(x); }
  void u16(std::uint16_t x) {
    u8(static_cast<std::uint8_t>(x >> 8));
    u8(static_cast<std::uint8_t>(x));
  }
  void u32(std::uint32_t x) {
    u16(static_cast<std::uint16_t>(x >> 16));
    u16(static_cast<std::uint16_t>(x));
  }
  void rect(std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h, std::int32_t enc) {
    u16(x), u16(y), u16(w), u16(h), u32(static_cast<std::uint32_t>(enc));
  }
  void pixel(std::uint32_t rgb) {  // wire bytes B, G, R, X
    u8(static_cast<std::uint8_t>(rgb)), u8(static_cast<std::uint8_t>(rgb >> 8)),
        u8(static_cast<std::uint8_t>(rgb >> 16)), u8(0);
  }
};

// One full-screen Raw update (with its type byte); `seed` varies the picture.
inline void raw_update(Bytes& b, std::uint32_t seed, bool with_type = true) {
  if (with_type) b.u8(0);
  b.u8(0), b.u16(1), b.rect(0, 0, kWidth, kHeight, 0);
  const std::size_t at = b.v.size();
  b.v.resize(at + std::size_t{kWidth} * kHeight * 4);
  std::uint8_t* p = b.v.data() + at;
  for (std::uint32_t y = 0; y < kHeight; ++y) {
    for (std::uint32_t x = 0; x < kWidth; ++x, p += 4) {
      const std::uint32_t v = (x * 3 + seed) ^ (y * 7) ^ (seed << 8);
      p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 5),
      p[2] = static_cast<std::uint8_t>(v >> 11), p[3] = 0;
    }
  }
}

// A scroll of the whole screen up by one row (the source stays on screen,
// which libvncclient insists on).
inline void copy_rect_update(Bytes& b, bool with_type = true) {
  if (with_type) b.u8(0);
  b.u8(0), b.u16(1), b.rect(0, 0, kWidth, kHeight - 1, 1), b.u16(0), b.u16(1);
}

// One full-screen RRE rectangle with kRreSubrects 16 × 16 subrectangles.
inline void rre_update(Bytes& b, std::uint32_t seed, bool with_type = true) {
  std::mt19937 rng(seed);
  if (with_type) b.u8(0);
  b.u8(0), b.u16(1), b.rect(0, 0, kWidth, kHeight, 2);
  b.u32(kRreSubrects);
  b.pixel(rng() & 0xFFFFFF);
  for (std::size_t i = 0; i < kRreSubrects; ++i) {
    b.pixel(rng() & 0xFFFFFF);
    b.u16(static_cast<std::uint16_t>(rng() % (kWidth - 16))), b.u16(static_cast<std::uint16_t>(rng() % (kHeight - 16)));
    b.u16(16), b.u16(16);
  }
}

}  // namespace rfb_bench
