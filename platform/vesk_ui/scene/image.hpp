#pragma once
// A picture handed to the renderer: shared pixel bytes in a known byte order,
// an id, and what is known of how it differs from the picture before it.
//
// The renderer converts a picture once and caches the result by id, never by
// address, so every new picture must take a fresh id from `new_image_id`. A
// picture that says where it differs from an earlier one lets the renderer
// redo only those areas, as long as it still holds the earlier one as drawn.

#include <cstdint>
#include <memory>
#include <vector>

namespace vesk_ui::scene {

// 4 bytes per pixel in the picture's order, rows of width*4 bytes, no padding.
using PixelBuffer = std::shared_ptr<const std::vector<std::uint8_t>>;

enum class PixelOrder : std::uint8_t {
  // R, G, B, A bytes, straight alpha.
  Rgba = 0,
  // Cairo's native-endian ARGB32 word per pixel (B, G, R, A bytes on
  // little-endian machines), premultiplied alpha: drawn as it is.
  Bgra = 1,
};

// An area of a picture, in its pixels.
struct ImageArea {
  std::uint32_t x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const ImageArea&, const ImageArea&) = default;
};

// Past this many changed areas a picture keeps only the one around them all.
inline constexpr std::size_t kMaxChangedAreas = 32;

// Process-wide counter; never returns 0.
std::uint64_t new_image_id();

struct Image {
  PixelBuffer pixels;
  std::uint64_t id = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // Every alpha byte is 255 by construction (a remote framebuffer, a decoded
  // video frame): the renderer then skips its scan for transparency and
  // ignores the alpha bytes.
  bool opaque = false;
  PixelOrder order = PixelOrder::Rgba;
  // The picture with id `base` equals this one outside `changed` (areas
  // inside the picture, possibly overlapping). 0: nothing is known, every
  // pixel may differ.
  std::uint64_t base = 0;
  std::shared_ptr<const std::vector<ImageArea>> changed{};

  // A picture over `pixels` with a fresh id.
  static Image from_rgba(PixelBuffer pixels, std::uint32_t width, std::uint32_t height);
  static Image from_bgra(PixelBuffer pixels, std::uint32_t width, std::uint32_t height);

  // Records that `earlier` equals this picture outside `areas` (clipped to
  // the picture here). Nothing is recorded unless the two have the same
  // size and order.
  void set_changed_since(const Image& earlier, std::vector<ImageArea> areas);

  // Enough bytes for width*height pixels (computed in 64 bits) and non-empty.
  bool is_valid() const;

  // Display lists compare images by identity: same id and size (opacity,
  // order and what changed are properties of the id).
  friend bool operator==(const Image& a, const Image& b) {
    return a.id == b.id && a.width == b.width && a.height == b.height;
  }
};

enum class ImageQuality : std::uint8_t { Low = 0, Medium = 1, High = 2 };

}  // namespace vesk_ui::scene
