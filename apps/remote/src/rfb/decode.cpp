// FramebufferUpdate decoding: reading rectangle headers and bodies, the
// limits on what a server may announce, and converting wire pixels. Drawing,
// clipping and the buffer's damage and recycling belong to the framebuffer.

#include "apps/remote/src/rfb/decode.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace remote::rfb {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the buffer's layout is the wire's B, G, R, X on little-endian");

inline void store(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, 4); }

bool is_client_format(const PixelFormat& f) { return f == kClientPixelFormat; }

constexpr std::size_t kRawBatchBytes = 64 * 1024;

// One row of client-format pixels: the wire's B, G, R, X is already the
// buffer's layout, so only the unused byte becomes an opaque alpha. The
// pointers never overlap, which lets the compiler vectorise it, with AVX2
// where the CPU has it.
__attribute__((target_clones("avx2", "default"))) void copy_client_row(const std::uint8_t* __restrict src,
                                                                       std::uint8_t* __restrict dst,
                                                                       std::uint32_t count) {
  for (std::uint32_t c = 0; c < count; ++c) {
    std::uint32_t v;
    std::memcpy(&v, src + std::size_t{c} * 4, 4);
    v |= 0xFF000000u;
    std::memcpy(dst + std::size_t{c} * 4, &v, 4);
  }
}

}  // namespace

Result<RectHeader> read_rect_header(InputStream& in) {
  auto v = in.read_view(12);
  if (!v) return std::unexpected(v.error());
  const auto& b = *v;
  auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]); };
  RectHeader h;
  h.x = u16(0);
  h.y = u16(2);
  h.width = u16(4);
  h.height = u16(6);
  h.encoding = static_cast<std::int32_t>((std::uint32_t{b[8]} << 24) | (std::uint32_t{b[9]} << 16) |
                                         (std::uint32_t{b[10]} << 8) | std::uint32_t{b[11]});
  return h;
}

Result<void> check_pixel_work(std::uint64_t width, std::uint64_t height, std::string_view label) {
  // Division instead of a product, so no pair of arguments can overflow.
  if (height != 0 && width > kPixelWorkLimit / height) {
    return invalid_data(std::string(label) + " exceeds the pixel work limit");
  }
  return {};
}

Result<void> decode_raw_rect(InputStream& in, Framebuffer& fb, const PixelFormat& format, const RectHeader& rect) {
  const unsigned bpp = format.bytes_per_pixel();
  // 65535 × 65535 × 4 fits in 64 bits, so the product cannot overflow.
  const std::uint64_t size = std::uint64_t{rect.width} * rect.height * bpp;
  if (size > kMaxRawRectBytes) return invalid_data("RFB raw rectangle is too large");
  if (size == 0) return {};

  const std::size_t src_stride = std::size_t{rect.width} * bpp;
  const bool fast = is_client_format(format);
  // Rows arrive in batches of about kRawBatchBytes: stored while they are
  // still in the cache, and a socket buffer never grows to a whole rectangle.
  const std::uint32_t rows_per_batch =
      static_cast<std::uint32_t>(std::max<std::size_t>(1, kRawBatchBytes / src_stride));
  for (std::uint32_t r0 = 0; r0 < rect.height; r0 += rows_per_batch) {
    const std::uint32_t rows = std::min<std::uint32_t>(rows_per_batch, rect.height - r0);
    auto bytes = in.read_view(std::size_t{rows} * src_stride);
    if (!bytes) return std::unexpected(bytes.error());
    if (bytes->size() < std::size_t{rows} * src_stride) return invalid_data("raw rectangle pixel buffer too short");
    // Only rows that did arrive: a stream that ends later leaves the rest as it was.
    const std::uint8_t* first = bytes->data();
    if (fast) {
      fb.put_rows(rect.x, std::uint64_t{rect.y} + r0, rect.width, rows,
                  [&](std::uint32_t r, std::uint8_t* out, std::uint32_t cols) {
                    copy_client_row(first + r * src_stride, out, cols);
                  });
    } else {
      fb.put_rows(
          rect.x, std::uint64_t{rect.y} + r0, rect.width, rows,
          [&](std::uint32_t r, std::uint8_t* out, std::uint32_t cols) {
            const std::uint8_t* src = first + r * src_stride;
            for (std::uint32_t c = 0; c < cols; ++c) {
              store(out + std::size_t{c} * 4, stored_pixel(format.decode_pixel({src + std::size_t{c} * bpp, bpp})));
            }
          });
    }
  }
  return {};
}

Result<void> decode_copy_rect(InputStream& in, Framebuffer& fb, const RectHeader& rect) {
  auto sx16 = in.read_u16();
  if (!sx16) return std::unexpected(sx16.error());
  auto sy16 = in.read_u16();
  if (!sy16) return std::unexpected(sy16.error());
  if (std::uint64_t{rect.width} * rect.height > kMaxCopyRectPixels) {
    return invalid_data("RFB copy rectangle is too large");
  }
  fb.copy_rect(rect.x, rect.y, *sx16, *sy16, rect.width, rect.height);
  return {};
}

Result<void> decode_rre_rect(InputStream& in, Framebuffer& fb, const PixelFormat& format, const RectHeader& rect) {
  auto count = in.read_u32();
  if (!count) return std::unexpected(count.error());
  if (*count > kMaxRreSubrects) return invalid_data("RFB RRE update has too many subrectangles");
  if (auto ok = check_pixel_work(rect.width, rect.height, "RRE background rectangle"); !ok) return ok;

  const unsigned bpp = format.bytes_per_pixel();
  auto bg = in.read_view(bpp);
  if (!bg) return std::unexpected(bg.error());
  const std::uint32_t background = format.decode_pixel(*bg);

  struct Subrect {
    std::uint32_t pixel;
    std::uint16_t x, y, w, h;
  };
  // Read in batches so a socket buffer never has to hold all of them at once,
  // and grow the list only as subrectangles really arrive.
  constexpr std::uint32_t kBatch = 4096;
  std::vector<Subrect> subrects;
  subrects.reserve(std::min(kBatch, *count));
  std::uint64_t area = 0;
  const std::size_t each = bpp + 8;
  for (std::uint32_t done = 0; done < *count;) {
    const std::uint32_t n = std::min(kBatch, *count - done);
    auto view = in.read_view(std::size_t{n} * each);
    if (!view) return std::unexpected(view.error());
    if (view->size() < std::size_t{n} * each) return invalid_data("RRE subrectangle buffer too short");
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* p = view->data() + std::size_t{i} * each;
      const std::uint8_t* g = p + bpp;
      Subrect s{format.decode_pixel({p, bpp}), static_cast<std::uint16_t>((g[0] << 8) | g[1]),
                static_cast<std::uint16_t>((g[2] << 8) | g[3]), static_cast<std::uint16_t>((g[4] << 8) | g[5]),
                static_cast<std::uint16_t>((g[6] << 8) | g[7])};
      if (auto ok = check_pixel_work(s.w, s.h, "RRE subrectangle"); !ok) return ok;
      area += std::uint64_t{s.w} * s.h;
      if (area > kPixelWorkLimit) return invalid_data("RRE subrectangles exceed the pixel work limit");
      subrects.push_back(s);
    }
    done += n;
  }

  fb.fill_rect(rect.x, rect.y, rect.width, rect.height, background);
  for (const Subrect& s : subrects) {
    // Not clipped to the rectangle, only to the framebuffer.
    fb.fill_rect(std::uint64_t{rect.x} + s.x, std::uint64_t{rect.y} + s.y, s.w, s.h, s.pixel);
  }
  return {};
}

Result<std::uint16_t> read_framebuffer_update(InputStream& in, Framebuffer& fb, const PixelFormat& format,
                                              UpdateStats* stats) {
  if (fb.generation() > kMaxGenerationBeforeUpdate) {
    return invalid_data("RFB framebuffer generation exhausted");
  }
  auto head = in.read_view(3);
  if (!head) return std::unexpected(head.error());
  const std::uint16_t count = static_cast<std::uint16_t>(((*head)[1] << 8) | (*head)[2]);
  if (count > kMaxRectsPerUpdate) return invalid_data("RFB update has too many rectangles");
  const unsigned bpp = format.bytes_per_pixel();
  if (bpp < 1 || bpp > 4) return invalid_data("invalid RFB pixel format");

  fb.begin_update();
  // Whatever way the update ends, the buffer catches up with what it did not overwrite.
  struct EndUpdate {
    Framebuffer& fb;
    ~EndUpdate() { fb.end_update(); }
  } end_update{fb};
  for (std::uint16_t i = 0; i < count; ++i) {
    auto rect = read_rect_header(in);
    if (!rect) return std::unexpected(rect.error());
    Result<void> applied;
    UpdateStats ignored;
    UpdateStats& counts = stats != nullptr ? *stats : ignored;
    switch (rect->encoding) {
      case kEncodingRaw:
        applied = decode_raw_rect(in, fb, format, *rect);
        ++counts.raw;
        break;
      case kEncodingCopyRect:
        applied = decode_copy_rect(in, fb, *rect);
        ++counts.copy_rect;
        break;
      case kEncodingRre:
        applied = decode_rre_rect(in, fb, format, *rect);
        ++counts.rre;
        break;
      default: return invalid_data("unsupported RFB encoding " + std::to_string(rect->encoding));
    }
    if (!applied) return std::unexpected(applied.error());
  }
  fb.advance_generation();
  return count;
}

}  // namespace remote::rfb
