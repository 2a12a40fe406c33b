#pragma once
// What changed between two frames: each recorded command's hash (taken while
// recording) and where it may paint, compared with the last frame presented.
// A frame whose commands all match paints nothing; otherwise only the device
// pixels that a differing command covered before or covers now are redrawn.
// A picture that says where it differs from the one the same command showed
// in the last frame redraws only those areas.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/pango_text.hpp"

namespace vesk_ui::render {

// A rectangle of whole device pixels.
struct PixelRect {
  int x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Where a fill with a picture lands when it is a rectangle on whole device
// pixels, with no rotation or shear and drawn opaque (`device` applied before
// the fill's transform): the renderer keeps such a picture scaled to those
// pixels and redraws it exactly. Nothing for any other fill.
std::optional<PixelRect> placed_picture(const scene::FillCmd& fill, const scene::ImageBrush& brush,
                                        const scene::Affine& device);

// Where each command may paint, in device pixels (`device` applied before the
// command's own transform), rounded out with a pixel of margin for
// antialiasing. An empty rectangle for a command that paints nothing.
std::vector<scene::Rect> command_device_bounds(const scene::Scene& scene, text::PangoTextRenderer& text,
                                               const scene::Affine& device);

// Rectangles to redraw, merged: at most this many; beyond it, or when they
// cover most of the frame, the whole frame.
inline constexpr std::size_t kMaxDamageRects = 8;

class DamageTracker {
 public:
  // Compares `scene` with the scene of the last call. Empty when every
  // command matches; the whole frame on the first call, after forget(), when
  // the size or device transform changed, or when `full` is set.
  std::vector<PixelRect> update(const scene::Scene& scene, text::PangoTextRenderer& text, const scene::Affine& device,
                                int width, int height, bool full);
  // The next update redraws everything (the pixels were lost).
  void forget() { valid_ = false; }
  // Device bounds of the commands of the last scene given to update().
  const std::vector<scene::Rect>& bounds() const { return bounds_; }

 private:
  bool valid_ = false;
  int width_ = 0;
  int height_ = 0;
  scene::Affine device_;
  std::uint64_t fingerprint_ = 0;
  std::vector<std::uint64_t> hashes_;
  std::vector<scene::Rect> bounds_;
  // Per command of the last scene: the id of the picture it fills with (0
  // for none) and its hash without the picture.
  std::vector<std::uint64_t> picture_ids_;
  std::vector<std::uint64_t> picture_free_hashes_;
};

// Merges rectangles (device pixels, clamped to the frame) into at most
// kMaxDamageRects; the whole frame when they would cover more than half of it.
std::vector<PixelRect> merge_damage(const std::vector<scene::Rect>& rects, int width, int height);

}  // namespace vesk_ui::render
