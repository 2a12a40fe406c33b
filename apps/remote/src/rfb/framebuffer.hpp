#pragma once
// The client's copy of the remote screen: RGBA bytes in a reference-counted
// buffer. Copies share the buffer; a buffer another copy shares is never
// written, so a frame handed to the UI never changes under it.
//
// The worker's own framebuffer may recycle: it keeps the buffers of frames it
// published, and once nobody else holds one it brings that buffer up to date
// by copying only what the updates since then changed, instead of copying
// the whole screen before every update.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace rfb {

// The largest framebuffer, in pixels (4096 × 4096).
inline constexpr std::uint64_t kMaxFramebufferPixels = 16'777'216;

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

  // Row-major RGBA bytes, width × 4 bytes per row (empty for an oversized framebuffer).
  std::span<const std::uint8_t> pixels() const;
  // The shared buffer itself, for a painter that keeps it alive as an image.
  std::shared_ptr<const std::vector<std::uint8_t>> shared_pixels() const { return pixels_; }

  // 0xFF000000 | blue << 16 | green << 8 | red, or 0 outside the buffer.
  std::uint32_t pixel(std::uint32_t x, std::uint32_t y) const;
  // Dropped outside the buffer or while another copy shares it.
  void set_pixel(std::uint32_t x, std::uint32_t y, std::uint32_t value);

  // Makes the buffer exclusive when another copy still shares it: by
  // recycling an earlier buffer when that is possible, else by copying.
  void make_unique();

  // Keep up to kSpareBuffers earlier buffers for make_unique to reuse.
  void enable_recycling();
  static constexpr std::size_t kSpareBuffers = 2;
  // Decoders: an area (clipped here) the current update writes.
  void note_damage(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h);

  // Decoders only: the writable bytes, or nullptr while the buffer is shared
  // or empty. Call make_unique() first.
  std::uint8_t* writable_data();
  bool has_storage() const { return !pixels_->empty(); }

  void advance_generation();
  void set_generation(std::uint64_t g);

 private:
  struct Recycler;
  bool reuse_spare();
  void retire(std::shared_ptr<std::vector<std::uint8_t>> old);

  std::shared_ptr<std::vector<std::uint8_t>> pixels_;
  std::unique_ptr<Recycler> recycler_;
  std::uint64_t generation_ = 0;
  std::uint16_t width_;
  std::uint16_t height_;
};

}  // namespace rfb
