#include "apps/remote/src/rfb/decode.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace rfb {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixels are stored as little-endian 32-bit values");

// The part of a rectangle at (x, y) of size (w, h) that lies inside the
// framebuffer, as counts of columns and rows from its top left corner. Sums
// are 64-bit, so nothing wraps.
struct Visible {
  std::uint32_t cols = 0;
  std::uint32_t rows = 0;
};

Visible visible_part(const Framebuffer& fb, std::uint64_t x, std::uint64_t y, std::uint64_t w,
                     std::uint64_t h) {
  Visible v;
  if (x < fb.width()) v.cols = static_cast<std::uint32_t>(std::min<std::uint64_t>(w, fb.width() - x));
  if (y < fb.height()) v.rows = static_cast<std::uint32_t>(std::min<std::uint64_t>(h, fb.height() - y));
  return v;
}

inline void store(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, 4); }

bool is_client_format(const PixelFormat& f) { return f == kClientPixelFormat; }

constexpr std::size_t kRawBatchBytes = 64 * 1024;


// The client format's wire bytes B, G, R, X become R, G, B, 0xFF.
inline std::uint32_t convert_client_pixel(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return 0xFF000000u | ((v >> 16) & 0xFF) | (v & 0xFF00) | ((v & 0xFF) << 16);
}

// One row of client-format pixels; the pointers never overlap, which lets
// the compiler vectorise the byte shuffle, with AVX2 where the CPU has it.
__attribute__((target_clones("avx2", "default"))) void convert_client_row(const std::uint8_t* __restrict src, std::uint8_t* __restrict dst, std::uint32_t count) {
  for (std::uint32_t c = 0; c < count; ++c) {
    const std::uint32_t v = convert_client_pixel(src + std::size_t{c} * 4);
    std::memcpy(dst + std::size_t{c} * 4, &v, 4);
  }
}

void fill_clipped(Framebuffer& fb, std::uint8_t* data, std::uint64_t x, std::uint64_t y,
                  std::uint64_t w, std::uint64_t h, std::uint32_t pixel) {
  const Visible vis = visible_part(fb, x, y, w, h);
  if (vis.cols == 0 || vis.rows == 0) return;
  const std::size_t stride = std::size_t{fb.width()} * 4;
  for (std::uint32_t r = 0; r < vis.rows; ++r) {
    std::uint8_t* row = data + (y + r) * stride + x * 4;
    for (std::uint32_t c = 0; c < vis.cols; ++c) store(row + std::size_t{c} * 4, pixel);
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

Result<void> decode_raw_rect(InputStream& in, Framebuffer& fb, const PixelFormat& format,
                             const RectHeader& rect) {
  const unsigned bpp = format.bytes_per_pixel();
  // 65535 × 65535 × 4 fits in 64 bits, so the product cannot overflow.
  const std::uint64_t size = std::uint64_t{rect.width} * rect.height * bpp;
  if (size > kMaxRawRectBytes) return invalid_data("RFB raw rectangle is too large");
  if (size == 0) return {};

  const Visible vis = visible_part(fb, rect.x, rect.y, rect.width, rect.height);
  std::uint8_t* data = fb.writable_data();
  const bool draw = data != nullptr && vis.cols > 0 && vis.rows > 0;
  if (draw) fb.note_damage(rect.x, rect.y, rect.width, rect.height);
  const std::size_t stride = std::size_t{fb.width()} * 4;
  const std::size_t src_stride = std::size_t{rect.width} * bpp;
  const bool fast = is_client_format(format);
  // Rows arrive in batches of about kRawBatchBytes: converted while they are
  // still in the cache, and a socket buffer never grows to a whole rectangle.
  const std::uint32_t rows_per_batch =
      static_cast<std::uint32_t>(std::max<std::size_t>(1, kRawBatchBytes / src_stride));
  for (std::uint32_t r0 = 0; r0 < rect.height; r0 += rows_per_batch) {
    const std::uint32_t rows = std::min<std::uint32_t>(rows_per_batch, rect.height - r0);
    auto bytes = in.read_view(std::size_t{rows} * src_stride);
    if (!bytes) return std::unexpected(bytes.error());
    if (bytes->size() < std::size_t{rows} * src_stride) return invalid_data("raw rectangle pixel buffer too short");
    if (!draw || r0 >= vis.rows) continue;
    const std::uint32_t visible_rows = std::min(rows, vis.rows - r0);
    for (std::uint32_t r = 0; r < visible_rows; ++r) {
      const std::uint8_t* src = bytes->data() + r * src_stride;
      std::uint8_t* dst = data + (std::size_t{rect.y} + r0 + r) * stride + std::size_t{rect.x} * 4;
      if (fast) {
        convert_client_row(src, dst, vis.cols);
      } else {
        for (std::uint32_t c = 0; c < vis.cols; ++c) {
          store(dst + std::size_t{c} * 4, format.decode_pixel({src + std::size_t{c} * bpp, bpp}));
        }
      }
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
  const Visible dst = visible_part(fb, rect.x, rect.y, rect.width, rect.height);
  std::uint8_t* data = fb.writable_data();
  if (data == nullptr || dst.cols == 0 || dst.rows == 0) return {};
  fb.note_damage(rect.x, rect.y, rect.width, rect.height);

  // Source pixels outside the framebuffer read as 0. Rows are visited in the
  // order that never overwrites a source row before it is read, and memmove
  // handles overlap within a row, which gives the same picture as reading
  // every source pixel before writing any.
  const std::uint64_t sx = *sx16, sy = *sy16;
  const std::size_t stride = std::size_t{fb.width()} * 4;
  const std::uint32_t src_cols =
      sx < fb.width() ? static_cast<std::uint32_t>(std::min<std::uint64_t>(dst.cols, fb.width() - sx)) : 0;
  const bool bottom_up = rect.y > sy;
  for (std::uint32_t i = 0; i < dst.rows; ++i) {
    const std::uint32_t r = bottom_up ? dst.rows - 1 - i : i;
    std::uint8_t* out = data + (std::size_t{rect.y} + r) * stride + std::size_t{rect.x} * 4;
    const std::uint64_t src_row = sy + r;
    std::uint32_t copied = 0;
    if (src_row < fb.height() && src_cols > 0) {
      std::memmove(out, data + src_row * stride + sx * 4, std::size_t{src_cols} * 4);
      copied = src_cols;
    }
    if (copied < dst.cols) std::memset(out + std::size_t{copied} * 4, 0, std::size_t{dst.cols - copied} * 4);
  }
  return {};
}

Result<void> decode_rre_rect(InputStream& in, Framebuffer& fb, const PixelFormat& format,
                             const RectHeader& rect) {
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

  std::uint8_t* data = fb.writable_data();
  if (data == nullptr) return {};
  // One box around the rectangle and all its subrectangles.
  std::uint64_t x1 = std::uint64_t{rect.x} + rect.width, y1 = std::uint64_t{rect.y} + rect.height;
  for (const Subrect& s : subrects) {
    x1 = std::max(x1, std::uint64_t{rect.x} + s.x + s.w);
    y1 = std::max(y1, std::uint64_t{rect.y} + s.y + s.h);
  }
  fb.note_damage(rect.x, rect.y, x1 - rect.x, y1 - rect.y);
  fill_clipped(fb, data, rect.x, rect.y, rect.width, rect.height, background);
  for (const Subrect& s : subrects) {
    // Not clipped to the rectangle, only to the framebuffer.
    fill_clipped(fb, data, std::uint64_t{rect.x} + s.x, std::uint64_t{rect.y} + s.y, s.w, s.h, s.pixel);
  }
  return {};
}

Result<std::uint16_t> read_framebuffer_update(InputStream& in, Framebuffer& fb,
                                              const PixelFormat& format, UpdateStats* stats) {
  if (fb.generation() > kMaxGenerationBeforeUpdate) {
    return invalid_data("RFB framebuffer generation exhausted");
  }
  auto head = in.read_view(3);
  if (!head) return std::unexpected(head.error());
  const std::uint16_t count = static_cast<std::uint16_t>(((*head)[1] << 8) | (*head)[2]);
  if (count > kMaxRectsPerUpdate) return invalid_data("RFB update has too many rectangles");
  const unsigned bpp = format.bytes_per_pixel();
  if (bpp < 1 || bpp > 4) return invalid_data("invalid RFB pixel format");

  fb.make_unique();
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
      default:
        return invalid_data("unsupported RFB encoding " + std::to_string(rect->encoding));
    }
    if (!applied) return std::unexpected(applied.error());
  }
  fb.advance_generation();
  return count;
}

}  // namespace rfb
