#include "apps/remote/src/rfb/framebuffer.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <utility>

namespace rfb {
namespace {

// Updates whose damage is remembered; an older spare buffer is not reused.
constexpr std::size_t kDamageHistory = 4;

struct Box {
  std::uint32_t x, y, w, h;
};

// What the update that produced `generation` wrote.
struct Damage {
  std::uint64_t generation = 0;
  bool full = false;
  std::vector<Box> boxes;
};

struct Spare {
  std::shared_ptr<std::vector<std::uint8_t>> buffer;
  std::uint64_t generation = 0;
};

// Pairs with the release of the last other copy of a buffer, so that copy's
// reads of the pixels happen before our writes.
void acquire_exclusive() { std::atomic_thread_fence(std::memory_order_acquire); }

}  // namespace

struct Framebuffer::Recycler {
  std::vector<Box> pending;
  std::uint64_t pending_area = 0;
  bool pending_full = false;
  std::deque<Damage> history;  // consecutive generations, newest last
  std::deque<Spare> spares;    // oldest first
};

Framebuffer::Framebuffer(std::uint16_t width, std::uint16_t height) : width_(width), height_(height) {
  const std::uint64_t count = std::uint64_t{width} * height;
  pixels_ = std::make_shared<std::vector<std::uint8_t>>(
      count > kMaxFramebufferPixels ? 0 : static_cast<std::size_t>(count * 4), 0);
}

Framebuffer::~Framebuffer() = default;

Framebuffer::Framebuffer(const Framebuffer& o)
    : pixels_(o.pixels_), generation_(o.generation_), width_(o.width_), height_(o.height_) {}

Framebuffer& Framebuffer::operator=(const Framebuffer& o) {
  if (this != &o) {
    pixels_ = o.pixels_;
    recycler_.reset();
    generation_ = o.generation_;
    width_ = o.width_;
    height_ = o.height_;
  }
  return *this;
}

Framebuffer::Framebuffer(Framebuffer&& o) noexcept = default;
Framebuffer& Framebuffer::operator=(Framebuffer&& o) noexcept = default;

std::span<const std::uint8_t> Framebuffer::pixels() const { return *pixels_; }

std::uint32_t Framebuffer::pixel(std::uint32_t x, std::uint32_t y) const {
  if (x >= width_ || y >= height_) return 0;
  const std::uint64_t at = (std::uint64_t{y} * width_ + x) * 4;
  if (at + 4 > pixels_->size()) return 0;
  const std::uint8_t* p = pixels_->data() + at;
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

void Framebuffer::set_pixel(std::uint32_t x, std::uint32_t y, std::uint32_t value) {
  if (x >= width_ || y >= height_) return;
  const std::uint64_t at = (std::uint64_t{y} * width_ + x) * 4;
  if (at + 4 > pixels_->size() || pixels_.use_count() != 1) return;
  acquire_exclusive();
  note_damage(x, y, 1, 1);
  std::uint8_t* p = pixels_->data() + at;
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

void Framebuffer::enable_recycling() {
  if (!recycler_) recycler_ = std::make_unique<Recycler>();
}

void Framebuffer::note_damage(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) {
  if (!recycler_ || recycler_->pending_full) return;
  if (x >= width_ || y >= height_ || w == 0 || h == 0) return;
  const Box box{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                static_cast<std::uint32_t>(std::min<std::uint64_t>(w, width_ - x)),
                static_cast<std::uint32_t>(std::min<std::uint64_t>(h, height_ - y))};
  Recycler& r = *recycler_;
  r.pending_area += std::uint64_t{box.w} * box.h;
  // Past the screen's area a whole copy is cheaper than the list.
  if (r.pending_area >= std::uint64_t{width_} * height_ || r.pending.size() >= 4096) {
    r.pending_full = true;
    r.pending.clear();
    return;
  }
  r.pending.push_back(box);
}

void Framebuffer::advance_generation() {
  ++generation_;
  if (!recycler_) return;
  Recycler& r = *recycler_;
  r.history.push_back(Damage{generation_, r.pending_full, std::move(r.pending)});
  if (r.history.size() > kDamageHistory) r.history.pop_front();
  r.pending.clear();
  r.pending_area = 0;
  r.pending_full = false;
}

void Framebuffer::set_generation(std::uint64_t g) {
  generation_ = g;
  // Remembered damage no longer lines up with the generations.
  if (recycler_) *recycler_ = Recycler{};
}

void Framebuffer::retire(std::shared_ptr<std::vector<std::uint8_t>> old) {
  if (!recycler_) return;
  recycler_->spares.push_back(Spare{std::move(old), generation_});
  if (recycler_->spares.size() > kSpareBuffers) recycler_->spares.pop_front();
}

bool Framebuffer::reuse_spare() {
  Recycler& r = *recycler_;
  for (auto it = r.spares.rbegin(); it != r.spares.rend(); ++it) {
    if (it->buffer.use_count() != 1 || it->buffer->size() != pixels_->size()) continue;
    // Every update since the spare's generation must be remembered.
    const std::uint64_t from = it->generation;
    if (from > generation_) continue;
    if (from < generation_ &&
        (r.history.empty() || r.history.back().generation != generation_ || r.history.front().generation > from + 1)) {
      continue;
    }
    acquire_exclusive();
    std::vector<std::uint8_t>& dst = *it->buffer;
    const std::vector<std::uint8_t>& src = *pixels_;
    const std::size_t stride = std::size_t{width_} * 4;
    for (const Damage& d : r.history) {
      if (d.generation <= from) continue;
      if (d.full) {
        std::memcpy(dst.data(), src.data(), src.size());
        continue;
      }
      for (const Box& b : d.boxes) {
        for (std::uint32_t row = 0; row < b.h; ++row) {
          const std::size_t at = (std::size_t{b.y} + row) * stride + std::size_t{b.x} * 4;
          std::memcpy(dst.data() + at, src.data() + at, std::size_t{b.w} * 4);
        }
      }
    }
    auto reused = std::move(it->buffer);
    r.spares.erase(std::next(it).base());
    retire(std::exchange(pixels_, std::move(reused)));
    return true;
  }
  return false;
}

void Framebuffer::make_unique() {
  // Only this worker can hand out new references to the buffer, so a count of
  // one cannot grow behind our back; a stale higher count only costs a copy.
  if (pixels_.use_count() != 1 && !(recycler_ && reuse_spare())) {
    auto copy = std::make_shared<std::vector<std::uint8_t>>(*pixels_);
    retire(std::exchange(pixels_, std::move(copy)));
  }
  acquire_exclusive();
}

std::uint8_t* Framebuffer::writable_data() {
  if (pixels_->empty() || pixels_.use_count() != 1) return nullptr;
  acquire_exclusive();
  return pixels_->data();
}

}  // namespace rfb
