// The framebuffer's pixel buffer and everything that writes it: the drawing
// operations decoders use, copy-on-write, what each update damaged, and
// recycling the buffers of published frames (what a reused buffer still
// lags, and bringing it up to date).

#include "apps/remote/src/rfb/framebuffer.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <utility>

namespace remote::rfb {
namespace {

using Box = Area;

// Past this many areas, or past the screen's area, an update counts as having
// written everything: a whole copy is then cheaper than the list.
constexpr std::size_t kMaxDamageBoxes = 4096;

struct Spare {
  std::shared_ptr<std::vector<std::uint8_t>> buffer;
  std::uint64_t generation = 0;
};

// Pairs with the release of the last other copy of a buffer, so that copy's
// reads of the pixels happen before our writes.
void acquire_exclusive() { std::atomic_thread_fence(std::memory_order_acquire); }

// Past this many areas left behind, catching up at once is cheaper than
// keeping the list.
constexpr std::size_t kMaxBehindBoxes = 256;
// A CopyRect whose source meets more areas left behind catches them up first
// instead of reading them from the published buffer row by row.
constexpr std::size_t kMaxLagBoxesPerCopy = 32;

// The part of (x, y, w, h) inside a width × height screen; false when empty.
bool clip_box(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h, std::uint32_t width,
              std::uint32_t height, Box& out) {
  if (x >= width || y >= height || w == 0 || h == 0) return false;
  out = Box{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
            static_cast<std::uint32_t>(std::min<std::uint64_t>(w, width - x)),
            static_cast<std::uint32_t>(std::min<std::uint64_t>(h, height - y))};
  return true;
}

bool contains(const Box& outer, const Box& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
         inner.y + inner.h <= outer.y + outer.h;
}

bool intersect(const Box& a, const Box& b, Box& out) {
  const std::uint32_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const std::uint32_t x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
  if (x0 >= x1 || y0 >= y1) return false;
  out = Box{x0, y0, x1 - x0, y1 - y0};
  return true;
}

// Counts what it copies in `copied`.
void copy_box(std::uint8_t* dst, const std::uint8_t* src, std::size_t stride, const Box& b, std::uint64_t& copied) {
  copied += std::uint64_t{b.w} * b.h * 4;
  for (std::uint32_t row = 0; row < b.h; ++row) {
    const std::size_t at = (std::size_t{b.y} + row) * stride + std::size_t{b.x} * 4;
    std::memcpy(dst + at, src + at, std::size_t{b.w} * 4);
  }
}

// Rows of one colour; AVX2 where the CPU has it, so a 16-pixel row of an RRE
// subrectangle is two stores.
__attribute__((target_clones("avx2", "default"))) void fill_rows(std::uint8_t* first, std::size_t stride,
                                                                 std::uint32_t rows, std::uint32_t cols,
                                                                 std::uint32_t pixel) {
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint8_t* row = first + r * stride;
    for (std::uint32_t c = 0; c < cols; ++c) std::memcpy(row + std::size_t{c} * 4, &pixel, 4);
  }
}

// Every box minus `cut`, each split into at most four.
void subtract(std::vector<Box>& boxes, const Box& cut, std::vector<Box>& scratch) {
  scratch.clear();
  const std::uint32_t cx1 = cut.x + cut.w, cy1 = cut.y + cut.h;
  for (const Box& b : boxes) {
    Box common;
    if (!intersect(b, cut, common)) {
      scratch.push_back(b);
      continue;
    }
    const std::uint32_t bx1 = b.x + b.w, by1 = b.y + b.h;
    if (b.y < cut.y) scratch.push_back(Box{b.x, b.y, b.w, cut.y - b.y});
    if (by1 > cy1) scratch.push_back(Box{b.x, cy1, b.w, by1 - cy1});
    if (b.x < cut.x) scratch.push_back(Box{b.x, common.y, cut.x - b.x, common.h});
    if (bx1 > cx1) scratch.push_back(Box{cx1, common.y, bx1 - cx1, common.h});
  }
  boxes.swap(scratch);
}

}  // namespace

// Where the buffer still lags the published one it replaced.
struct Framebuffer::Behind {
  std::shared_ptr<const std::vector<std::uint8_t>> source;
  std::vector<Box> boxes;  // inside the framebuffer; they may overlap
  std::vector<Box> scratch;
};

// What the update that produced `generation` wrote.
struct Framebuffer::Damage {
  std::uint64_t generation = 0;
  bool full = false;
  std::vector<Box> boxes;
  std::uint64_t area = 0;  // sum of the boxes' areas
};

struct Framebuffer::Recycler {
  std::deque<Spare> spares;  // oldest first
};

Framebuffer::Framebuffer(std::uint16_t width, std::uint16_t height) : width_(width), height_(height) {
  const std::uint64_t count = std::uint64_t{width} * height;
  pixels_ = std::make_shared<std::vector<std::uint8_t>>(
      count > kMaxFramebufferPixels ? 0 : static_cast<std::size_t>(count * 4), 0);
}

Framebuffer::~Framebuffer() = default;

Framebuffer::Framebuffer(const Framebuffer& o)
    : history_(o.history_), generation_(o.generation_), width_(o.width_), height_(o.height_) {
  if (o.behind_) o.catch_up();
  pixels_ = o.pixels_;
}

Framebuffer& Framebuffer::operator=(const Framebuffer& o) {
  if (this != &o) {
    if (o.behind_) o.catch_up();
    pixels_ = o.pixels_;
    history_ = o.history_;
    pending_.reset();
    recycler_.reset();
    behind_.reset();
    generation_ = o.generation_;
    width_ = o.width_;
    height_ = o.height_;
  }
  return *this;
}

Framebuffer::Framebuffer(Framebuffer&& o) noexcept = default;
Framebuffer& Framebuffer::operator=(Framebuffer&& o) noexcept = default;

std::span<const std::uint8_t> Framebuffer::pixels() const {
  if (behind_) catch_up();
  return *pixels_;
}

std::uint32_t Framebuffer::pixel(std::uint32_t x, std::uint32_t y) const {
  if (x >= width_ || y >= height_) return 0;
  if (behind_) catch_up();
  const std::uint64_t at = (std::uint64_t{y} * width_ + x) * 4;
  if (at + 4 > pixels_->size()) return 0;
  std::uint32_t stored;
  std::memcpy(&stored, pixels_->data() + at, 4);
  return stored_pixel(stored);
}

void Framebuffer::set_pixel(std::uint32_t x, std::uint32_t y, std::uint32_t value) {
  if (x >= width_ || y >= height_) return;
  const std::uint64_t at = (std::uint64_t{y} * width_ + x) * 4;
  if (at + 4 > pixels_->size() || pixels_.use_count() != 1) return;
  acquire_exclusive();
  if (behind_) catch_up();
  note_damage(x, y, 1, 1);
  const std::uint32_t stored = stored_pixel(value);
  std::memcpy(pixels_->data() + at, &stored, 4);
}

void Framebuffer::enable_recycling() {
  if (!recycler_) recycler_ = std::make_unique<Recycler>();
}

void Framebuffer::note_damage(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) {
  if (!pending_) pending_ = std::make_unique<Damage>();
  Damage& d = *pending_;
  if (d.full || x >= width_ || y >= height_ || w == 0 || h == 0) return;
  const Box box{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                static_cast<std::uint32_t>(std::min<std::uint64_t>(w, width_ - x)),
                static_cast<std::uint32_t>(std::min<std::uint64_t>(h, height_ - y))};
  // Drawing notes each part it writes: a part inside the last area adds
  // nothing, and rows that continue the last area below extend it.
  if (!d.boxes.empty() && contains(d.boxes.back(), box)) return;
  d.area += std::uint64_t{box.w} * box.h;
  if (d.area >= std::uint64_t{width_} * height_ || d.boxes.size() >= kMaxDamageBoxes) {
    d.full = true;
    d.boxes.clear();
    return;
  }
  if (!d.boxes.empty()) {
    Box& last = d.boxes.back();
    if (box.x == last.x && box.w == last.w && box.y == last.y + last.h) {
      last.h += box.h;
      return;
    }
  }
  d.boxes.push_back(box);
}

void Framebuffer::advance_generation() {
  ++generation_;
  auto done = pending_ ? std::move(pending_) : std::make_unique<Damage>();
  done->generation = generation_;
  if (history_.size() >= kDamageHistory) history_.erase(history_.begin());
  history_.push_back(std::move(done));
}

void Framebuffer::set_generation(std::uint64_t g) {
  generation_ = g;
  // Remembered damage no longer lines up with the generations.
  history_.clear();
  pending_.reset();
}

std::optional<std::vector<Area>> Framebuffer::changed_since(std::uint64_t generation) const {
  if (generation > generation_) return std::nullopt;
  std::vector<Area> out;
  if (generation == generation_) return out;
  // Every update since then must be remembered: the history holds
  // consecutive generations ending with this frame's.
  if (history_.empty() || history_.back()->generation != generation_ || history_.front()->generation > generation + 1) {
    return std::nullopt;
  }
  for (const auto& d : history_) {
    if (d->generation <= generation) continue;
    if (d->full) return std::vector<Area>{Area{0, 0, width_, height_}};
    out.insert(out.end(), d->boxes.begin(), d->boxes.end());
  }
  return out;
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
    // What the updates since the spare's generation wrote is where it lags;
    // each of them must be remembered.
    auto changed = changed_since(it->generation);
    if (!changed) continue;
    acquire_exclusive();
    std::vector<Box> lag = std::move(*changed);
    auto reused = std::move(it->buffer);
    r.spares.erase(std::next(it).base());
    auto old = std::exchange(pixels_, std::move(reused));
    if (lag.size() > kMaxBehindBoxes) {
      const std::size_t stride = std::size_t{width_} * 4;
      for (const Box& box : lag) copy_box(pixels_->data(), old->data(), stride, box, copied_);
    } else if (!lag.empty()) {
      behind_ = std::make_unique<Behind>();
      behind_->source = old;
      behind_->boxes = std::move(lag);
    }
    retire(std::move(old));
    return true;
  }
  return false;
}

void Framebuffer::make_unique() {
  begin_update();
  end_update();
}

void Framebuffer::begin_update() {
  if (behind_) catch_up();
  // Only this worker can hand out new references to the buffer, so a count of
  // one cannot grow behind our back; a stale higher count only costs a copy.
  if (pixels_.use_count() != 1) {
    if (!recycler_ || !reuse_spare()) {
      // Nothing to recycle: a plain copy (which leaves the new buffer in the
      // cache). A new buffer would be zeroed first, which costs as much as
      // the copy it would save.
      copied_ += pixels_->size();
      retire(std::exchange(pixels_, std::make_shared<std::vector<std::uint8_t>>(*pixels_)));
    }
  }
  acquire_exclusive();
}

void Framebuffer::end_update() {
  if (behind_) catch_up();
}

void Framebuffer::catch_up() const {
  const std::size_t stride = std::size_t{width_} * 4;
  for (const Box& b : behind_->boxes) copy_box(pixels_->data(), behind_->source->data(), stride, b, copied_);
  behind_.reset();
}

void Framebuffer::catch_up(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) const {
  Box area;
  if (!clip_box(x, y, w, h, width_, height_, area)) return;
  const std::size_t stride = std::size_t{width_} * 4;
  for (const Box& b : behind_->boxes) {
    Box common;
    if (intersect(b, area, common)) copy_box(pixels_->data(), behind_->source->data(), stride, common, copied_);
  }
  subtract(behind_->boxes, area, behind_->scratch);
  if (behind_->boxes.empty()) behind_.reset();
}

void Framebuffer::drop_behind(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) {
  Box area;
  if (!clip_box(x, y, w, h, width_, height_, area)) return;
  // Many small fills land where nothing lags; they need not rebuild the list.
  Box common;
  if (std::none_of(behind_->boxes.begin(), behind_->boxes.end(),
                   [&](const Box& b) { return intersect(b, area, common); })) {
    return;
  }
  subtract(behind_->boxes, area, behind_->scratch);
  if (behind_->boxes.empty()) {
    behind_.reset();
  } else if (behind_->boxes.size() > kMaxBehindBoxes) {
    catch_up();
  }
}

Framebuffer::Target Framebuffer::overwrite_target(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) {
  Box area;
  if (pixels_->empty() || pixels_.use_count() != 1 || !clip_box(x, y, w, h, width_, height_, area)) return {};
  acquire_exclusive();
  note_damage(area.x, area.y, area.w, area.h);
  if (behind_) drop_behind(area.x, area.y, area.w, area.h);
  const std::size_t stride = std::size_t{width_} * 4;
  return Target{pixels_->data() + std::size_t{area.y} * stride + std::size_t{area.x} * 4, stride, area.w, area.h};
}

void Framebuffer::fill_rect(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h, std::uint32_t pixel) {
  const Target t = overwrite_target(x, y, w, h);
  if (t.rows > 0) fill_rows(t.first, t.stride, t.rows, t.cols, stored_pixel(pixel));
}

void Framebuffer::copy_rect(std::uint64_t x, std::uint64_t y, std::uint64_t sx, std::uint64_t sy, std::uint64_t w,
                            std::uint64_t h) {
  Box dst;
  if (pixels_->empty() || pixels_.use_count() != 1 || !clip_box(x, y, w, h, width_, height_, dst)) return;
  acquire_exclusive();
  note_damage(dst.x, dst.y, dst.w, dst.h);
  std::uint8_t* data = pixels_->data();
  const std::size_t stride = std::size_t{width_} * 4;
  const std::uint32_t src_cols =
      sx < width_ ? static_cast<std::uint32_t>(std::min<std::uint64_t>(dst.w, width_ - sx)) : 0;
  const std::uint32_t src_rows =
      sy < height_ ? static_cast<std::uint32_t>(std::min<std::uint64_t>(dst.h, height_ - sy)) : 0;

  // Source areas still behind are read straight from the published buffer,
  // which spares copying them first. Moves within the same rows catch up
  // instead, since there the row overlaps itself.
  const std::uint8_t* old = nullptr;
  std::vector<Box> lag;
  if (behind_ && src_cols > 0 && src_rows > 0) {
    const Box src{static_cast<std::uint32_t>(sx), static_cast<std::uint32_t>(sy), src_cols, src_rows};
    for (const Box& b : behind_->boxes) {
      Box common;
      if (intersect(b, src, common)) lag.push_back(common);
    }
    if (sy == y || lag.size() > kMaxLagBoxesPerCopy) {
      catch_up(src.x, src.y, src.w, src.h);
      lag.clear();
    } else if (!lag.empty()) {
      old = behind_->source->data();
    }
  }

  // Rows are visited in the order that never overwrites a source row before
  // it is read, and memmove handles overlap within a row, which gives the
  // same picture as reading every source pixel before writing any.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
  const bool bottom_up = y > sy;
  for (std::uint32_t i = 0; i < dst.h; ++i) {
    const std::uint32_t r = bottom_up ? dst.h - 1 - i : i;
    std::uint8_t* out = data + (std::size_t{y} + r) * stride + std::size_t{x} * 4;
    const std::uint64_t src_row = sy + r;
    std::uint32_t copied = 0;
    if (src_row < height_ && src_cols > 0) {
      const std::size_t row_at = static_cast<std::size_t>(src_row) * stride;
      spans.clear();
      if (old != nullptr) {
        for (const Box& b : lag) {
          if (src_row >= b.y && src_row < std::uint64_t{b.y} + b.h) spans.emplace_back(b.x, b.x + b.w);
        }
      }
      if (spans.empty()) {
        std::memmove(out, data + row_at + sx * 4, std::size_t{src_cols} * 4);
      } else {
        // Different rows, so no overlap: the parts behind come from the
        // published buffer, the rest from this one.
        std::sort(spans.begin(), spans.end());
        std::uint64_t at = sx;
        for (const auto& [s0, s1] : spans) {
          if (s1 <= at) continue;
          const std::uint64_t from = std::max<std::uint64_t>(s0, at);
          if (from > at) std::memcpy(out + (at - sx) * 4, data + row_at + at * 4, (from - at) * 4);
          std::memcpy(out + (from - sx) * 4, old + row_at + from * 4, (s1 - from) * 4);
          at = s1;
        }
        const std::uint64_t end = sx + src_cols;
        if (end > at) std::memcpy(out + (at - sx) * 4, data + row_at + at * 4, (end - at) * 4);
      }
      copied = src_cols;
    }
    if (copied < dst.w) std::memset(out + std::size_t{copied} * 4, 0, std::size_t{dst.w - copied} * 4);
  }
  if (behind_) drop_behind(dst.x, dst.y, dst.w, dst.h);
}

}  // namespace remote::rfb
