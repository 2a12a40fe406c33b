#pragma once
// The client's copy of the remote screen: pixels in a reference-counted
// buffer, and the drawing operations decoders use on it (fill, copy, put
// rows), which own the clipping, the damage and the buffer recycling. Copies
// share the buffer; a buffer another copy shares is never written, so a frame
// handed to the UI never changes under it.
//
// The buffer holds each pixel as Cairo's native-endian ARGB32 word (bytes
// B, G, R, A on little-endian machines, the client pixel format's own wire
// order), so the renderer draws it as it is. Pixels as numbers (pixel,
// set_pixel, fill_rect) are 0xFF000000 | blue << 16 | green << 8 | red.
//
// Every copy knows what the last few updates wrote, so the UI can ask what
// changed since the frame it showed before and redraw only that.
//
// The worker's own framebuffer may recycle: it keeps the buffers of frames it
// published, and once nobody else holds one it brings that buffer up to date
// by copying only what the updates since then changed, instead of copying
// the whole screen before every update.
//
// Within an update that copy is lazy: the recycled buffer is left behind the
// published one in the areas still to be brought up to date, an area the
// update overwrites completely is never copied, an area it reads is copied
// (or read from the published buffer) first, and the rest is copied when the
// update ends.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace remote::rfb {

// The largest framebuffer, in pixels (4096 × 4096).
inline constexpr std::uint64_t kMaxFramebufferPixels = 16'777'216;
// Updates whose damage every copy remembers.
inline constexpr std::size_t kDamageHistory = 8;

// A pixel number (0xAABBGGRR) as the buffer stores it (0xAARRGGBB), and back:
// red and blue trade places.
constexpr std::uint32_t stored_pixel(std::uint32_t v) {
  return (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
}

// An area of the framebuffer in pixels, inside it.
struct Area {
  std::uint32_t x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Area&) const = default;
};

class Framebuffer {
 public:
  // All zero, generation 0. Over kMaxFramebufferPixels the buffer is empty:
  // reads give 0 and writes are dropped.
  Framebuffer(std::uint16_t width, std::uint16_t height);
  ~Framebuffer();
  // Copies share the pixels and never carry the recycling state.
  Framebuffer(const Framebuffer& other);
  Framebuffer& operator=(const Framebuffer& other);
  Framebuffer(Framebuffer&& other) noexcept;
  Framebuffer& operator=(Framebuffer&& other) noexcept;

  std::uint16_t width() const { return width_; }
  std::uint16_t height() const { return height_; }
  std::uint64_t generation() const { return generation_; }

  // Row-major pixels as stored, width × 4 bytes per row (empty for an
  // oversized framebuffer).
  std::span<const std::uint8_t> pixels() const;
  // The shared buffer itself, for a painter that keeps it alive as an image.
  std::shared_ptr<const std::vector<std::uint8_t>> shared_pixels() const {
    if (behind_) catch_up();
    return pixels_;
  }

  // 0xFF000000 | blue << 16 | green << 8 | red, or 0 outside the buffer.
  std::uint32_t pixel(std::uint32_t x, std::uint32_t y) const;
  // Dropped outside the buffer or while another copy shares it.
  void set_pixel(std::uint32_t x, std::uint32_t y, std::uint32_t value);

  // Where the updates after `generation`, up to this frame's, wrote (areas
  // may overlap; none for an unchanged frame). Nothing when that is not
  // known: `generation` is newer or older than the remembered updates.
  std::optional<std::vector<Area>> changed_since(std::uint64_t generation) const;

  // Makes the buffer exclusive when another copy still shares it: by
  // recycling an earlier buffer when that is possible, else by copying.
  void make_unique();

  // One update: begin_update is make_unique that may leave areas behind, to
  // be filled in by end_update unless the update overwrites them first.
  void begin_update();
  void end_update();

  // Drawing, between begin_update and end_update (or after make_unique).
  // Every operation clips to the framebuffer (coordinates are 64-bit sums, so
  // nothing wraps) and does nothing while another copy shares the buffer or
  // it is empty.

  // Every pixel of the w × h area at (x, y) becomes `pixel`.
  void fill_rect(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h, std::uint32_t pixel);
  // CopyRect: copies the w × h area at (sx, sy) to (x, y) as if every source
  // pixel were read before any is written; source pixels outside the
  // framebuffer read as 0.
  void copy_rect(std::uint64_t x, std::uint64_t y, std::uint64_t sx, std::uint64_t sy, std::uint64_t w,
                 std::uint64_t h);
  // `rows` rows of w pixels at (x, y): for each visible row r, top first,
  // write_row(r, out, cols) stores the row's first `cols` pixels at `out`,
  // in the buffer's layout.
  template <class WriteRow>
  void put_rows(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t rows, WriteRow&& write_row) {
    const Target t = overwrite_target(x, y, w, rows);
    for (std::uint32_t r = 0; r < t.rows; ++r) write_row(r, t.first + std::size_t{r} * t.stride, t.cols);
  }
  // Keep up to kSpareBuffers earlier buffers for make_unique to reuse.
  void enable_recycling();
  static constexpr std::size_t kSpareBuffers = 2;

  // Bytes copied so far from a published buffer to make this one exclusive
  // (the copy-on-write and bringing recycled buffers up to date).
  std::uint64_t bytes_copied() const { return copied_; }

  void advance_generation();
  void set_generation(std::uint64_t g);

 private:
  struct Recycler;
  struct Behind;
  struct Damage;
  // The visible part of an area about to be written whole, or 0 rows.
  struct Target {
    std::uint8_t* first = nullptr;
    std::size_t stride = 0;
    std::uint32_t cols = 0;
    std::uint32_t rows = 0;
  };
  // Notes the visible part of the area as damage and stops it lagging, since
  // the caller writes all of it before reading any.
  Target overwrite_target(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h);
  // An area (clipped here) the current update writes.
  void note_damage(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h);
  bool reuse_spare();
  void retire(std::shared_ptr<std::vector<std::uint8_t>> old);
  void drop_behind(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h);
  // Brings what lies behind in this area (all of it by default) up to date.
  void catch_up(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) const;
  void catch_up() const;

  std::shared_ptr<std::vector<std::uint8_t>> pixels_;
  // What the remembered updates wrote, oldest first; shared with every copy.
  std::vector<std::shared_ptr<const Damage>> history_;
  // What the update under way has written so far (or since the last update
  // that completed, when one failed part way); only the worker's own copy.
  std::unique_ptr<Damage> pending_;
  std::unique_ptr<Recycler> recycler_;
  // Set only inside an update; anything that looks at the pixels catches up first.
  mutable std::unique_ptr<Behind> behind_;
  std::uint64_t generation_ = 0;
  mutable std::uint64_t copied_ = 0;
  std::uint16_t width_;
  std::uint16_t height_;
};

}  // namespace remote::rfb
