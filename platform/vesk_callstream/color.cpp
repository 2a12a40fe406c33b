#include "platform/vesk_callstream/color.hpp"

#include <algorithm>

namespace vesk_callstream::color {

namespace {

inline std::uint8_t clamp_byte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// BT.601 limited-range coefficients scaled by 256.
inline int luma(int r, int g, int b) { return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16; }
inline int chroma_u(int r, int g, int b) { return ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128; }
inline int chroma_v(int r, int g, int b) { return ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128; }

}  // namespace

namespace {

// (luma term + chroma term) >> 8 lies within [-320, 576) for any 8-bit input;
// one table lookup replaces two comparisons per channel.
struct ClampTable {
  static constexpr int kOffset = 320;
  std::uint8_t v[896];
  constexpr ClampTable() : v() {
    for (int i = 0; i < 896; ++i) v[i] = static_cast<std::uint8_t>(std::clamp(i - kOffset, 0, 255));
  }
  std::uint8_t operator()(int x) const { return v[(x >> 8) + kOffset]; }
};
constexpr ClampTable kClamp;

// Red at byte kRed, blue at byte 2 - kRed.
template <int kRed>
inline void put_pixel(std::uint8_t* out, int c, int rv, int guv, int bu) {
  out[kRed] = kClamp(c + rv);
  out[1] = kClamp(c + guv);
  out[2 - kRed] = kClamp(c + bu);
  out[3] = 255;
}

template <int kRed>
void i420_to_rows(const I420View& in, std::span<std::uint8_t> pixels) {
  const std::size_t w = in.width;
  for (std::size_t row = 0; row < in.height; ++row) {
    const std::uint8_t* y_row = in.y + row * in.y_stride;
    const std::uint8_t* u_row = in.u + (row / 2) * in.uv_stride;
    const std::uint8_t* v_row = in.v + (row / 2) * in.uv_stride;
    std::uint8_t* out = pixels.data() + row * w * 4;
    // Two luma samples share each chroma sample; the odd last column uses it alone.
    for (std::size_t col = 0; col < w; col += 2) {
      const int d = int{u_row[col / 2]} - 128;
      const int e = int{v_row[col / 2]} - 128;
      const int rv = 409 * e + 128;
      const int guv = -100 * d - 208 * e + 128;
      const int bu = 516 * d + 128;
      put_pixel<kRed>(out, 298 * (int{y_row[col]} - 16), rv, guv, bu);
      if (col + 1 < w) {
        put_pixel<kRed>(out + 4, 298 * (int{y_row[col + 1]} - 16), rv, guv, bu);
      }
      out += 8;
    }
  }
}

}  // namespace

void i420_to_rgba(const I420View& in, std::span<std::uint8_t> rgba) { i420_to_rows<0>(in, rgba); }

void i420_to_bgra(const I420View& in, std::span<std::uint8_t> bgra) { i420_to_rows<2>(in, bgra); }

void rgba_to_i420(std::span<const std::uint8_t> rgba, const I420Planes& out) {
  const std::size_t w = out.width;
  const std::size_t h = out.height;
  for (std::size_t row = 0; row < h; ++row) {
    const std::uint8_t* in = rgba.data() + row * w * 4;
    std::uint8_t* y_row = out.y + row * out.y_stride;
    for (std::size_t col = 0; col < w; ++col) {
      y_row[col] = clamp_byte(luma(in[0], in[1], in[2]));
      in += 4;
    }
  }
  for (std::size_t cy = 0; cy < (h + 1) / 2; ++cy) {
    std::uint8_t* u_row = out.u + cy * out.uv_stride;
    std::uint8_t* v_row = out.v + cy * out.uv_stride;
    for (std::size_t cx = 0; cx < (w + 1) / 2; ++cx) {
      int r = 0, g = 0, b = 0, n = 0;
      for (std::size_t dy = 0; dy < 2; ++dy) {
        for (std::size_t dx = 0; dx < 2; ++dx) {
          const std::size_t px = cx * 2 + dx;
          const std::size_t py = cy * 2 + dy;
          if (px < w && py < h) {
            const std::uint8_t* p = rgba.data() + (py * w + px) * 4;
            r += p[0];
            g += p[1];
            b += p[2];
            ++n;
          }
        }
      }
      r = (r + n / 2) / n;
      g = (g + n / 2) / n;
      b = (b + n / 2) / n;
      u_row[cx] = clamp_byte(chroma_u(r, g, b));
      v_row[cx] = clamp_byte(chroma_v(r, g, b));
    }
  }
}

}  // namespace vesk_callstream::color
