#pragma once
// A picture handed to the renderer: shared RGBA bytes plus an id.
//
// The renderer converts a picture once and caches the result by id, never by
// address, so every new picture must take a fresh id from `new_image_id`.

#include <cstdint>
#include <memory>
#include <vector>

namespace vesk_ui::scene {

// RGBA, 8 bits per channel, straight alpha, rows of width*4 bytes, no padding.
using PixelBuffer = std::shared_ptr<const std::vector<std::uint8_t>>;

// Process-wide counter; never returns 0.
std::uint64_t new_image_id();

struct Image {
  PixelBuffer pixels;
  std::uint64_t id = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // Every alpha byte is 255 by construction (a remote framebuffer, a decoded
  // video frame): the renderer then skips its scan for transparency.
  bool opaque = false;

  // A picture over `pixels` with a fresh id.
  static Image from_rgba(PixelBuffer pixels, std::uint32_t width, std::uint32_t height);

  // Enough bytes for width*height pixels (computed in 64 bits) and non-empty.
  bool is_valid() const;

  // Display lists compare images by identity: same id and size (opacity is
  // a property of the id).
  friend bool operator==(const Image& a, const Image& b) {
    return a.id == b.id && a.width == b.width && a.height == b.height;
  }
};

enum class ImageQuality : std::uint8_t { Low = 0, Medium = 1, High = 2 };

}  // namespace vesk_ui::scene
