#pragma once
// Replays a recorded scene with Cairo.
//
// Pictures in Cairo's own layout (PixelOrder::Bgra) are drawn from their
// bytes as they are; RGBA ones are converted once to Cairo's premultiplied
// ARGB32. Either is kept by image id; a picture not drawn in the last two
// frames is dropped from the cache. A picture that says where it differs from
// one the cache holds takes that one's place, and only the areas that changed
// are converted and scaled again.

#include <cairo.h>

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/vesk_ui/render/damage.hpp"
#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/pango_text.hpp"

namespace vesk_ui::render {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const {
    if (s) cairo_surface_destroy(s);
  }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

struct CairoDeleter {
  void operator()(cairo_t* c) const {
    if (c) cairo_destroy(c);
  }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;

// Cairo's limit on image surface sides.
inline constexpr std::uint32_t kMaxImageSide = 32767;

class CairoRenderer {
 public:
  explicit CairoRenderer(text::PangoTextRenderer& text);

  // Draws the scene onto cr; `device` is applied before every transform of the
  // scene (for example the scale from logical to physical pixels).
  void render(const scene::Scene& scene, cairo_t* cr, const scene::Affine& device = scene::Affine::identity());

  // Replays only the fills, strokes and text whose device box (`bounds`, one
  // per command, from command_device_bounds) meets a rectangle of `damage`;
  // layers are always replayed. The caller clips cr to `damage`.
  struct Cull {
    const std::vector<scene::Rect>& bounds;
    const std::vector<PixelRect>& damage;
  };
  void render(const scene::Scene& scene, cairo_t* cr, const scene::Affine& device, const Cull* cull);

  std::size_t cached_images() const { return images_.size(); }
  // How many pictures have been converted whole since the renderer was made.
  std::uint64_t conversions() const { return conversions_; }
  // Picture pixels converted (whole pictures and changed areas), and device
  // pixels of pictures scaled into a placed copy, since the renderer was made.
  std::uint64_t converted_pixels() const { return converted_pixels_; }
  std::uint64_t placed_pixels() const { return placed_pixels_; }

 private:
  // A picture as it was last drawn on the device pixel grid: an axis-aligned
  // fill of a whole-pixel rectangle. Drawing it again the same way is a copy.
  struct Placed {
    double a = 0, d = 0, e = 0, f = 0;  // picture pixels to cache pixels
    int x = 0, y = 0, w = 0, h = 0;     // where the cache goes on the device
    scene::ImageQuality quality{};
    scene::Extend extend{};
    SurfacePtr surface;
    // Areas of the picture changed since the copy was made.
    std::vector<scene::ImageArea> stale;
    bool same(const Placed& o) const {
      return a == o.a && d == o.d && e == o.e && f == o.f && x == o.x && y == o.y && w == o.w && h == o.h &&
             quality == o.quality && extend == o.extend;
    }
  };
  struct CachedImage {
    // The renderer's converted copy, or a surface over the picture's own bytes.
    SurfacePtr surface;
    scene::PixelOrder order{};
    bool opaque = false;
    std::uint64_t last_frame = 0;
    std::optional<Placed> placed;
  };
  // The picture's cache entry, made when there is none.
  CachedImage* cached_image(const scene::Image& image);
  // The picture's cache entry if there is one, or the entry of the picture it
  // changed from, brought up to date; nothing else.
  CachedImage* find_image(const scene::Image& image);
  bool bring_up_to_date(CachedImage& entry, const scene::Image& image);
  // Where the placed copy depends on its stale picture areas, in its own
  // pixels; false when that is not simply known (filters that reach further
  // than a neighbouring picture pixel, or repeated pictures).
  static bool placed_areas(const Placed& placed, int pic_w, int pic_h, std::vector<PixelRect>& out);
  // Scales the picture into the placed copy, only inside `clip` when given.
  void paint_placed(const Placed& placed, const scene::FillCmd& fill, const scene::ImageBrush& brush,
                    const scene::Affine& full, cairo_surface_t* picture, const std::vector<PixelRect>* clip);
  // A surface of this format and size with undefined contents: a spare one
  // when there is, else a new one.
  SurfacePtr take_surface(cairo_format_t format, int width, int height);
  void keep_spare(SurfacePtr surface);
  // Surfaces of dropped pictures kept for reuse: a picture stream replaces
  // its picture every frame with one of the same size.
  static constexpr std::size_t kSpareSurfaces = 4;
  bool fill_image_placed(cairo_t* cr, const scene::FillCmd& fill, const scene::ImageBrush& brush,
                         const scene::Affine& device, CachedImage& cached);

  text::PangoTextRenderer& text_;
  std::unordered_map<std::uint64_t, CachedImage> images_;
  std::vector<SurfacePtr> spare_;
  std::uint64_t frame_ = 0;
  std::uint64_t conversions_ = 0;
  std::uint64_t converted_pixels_ = 0;
  std::uint64_t placed_pixels_ = 0;
};

// A rendered frame: an ARGB32 image surface of physical pixels.
class Frame {
 public:
  Frame(std::uint32_t width, std::uint32_t height);
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  cairo_surface_t* surface() const { return surface_.get(); }
  // Straight RGBA of one pixel (0 outside the frame).
  scene::Rgba8 pixel(std::uint32_t x, std::uint32_t y) const;
  // Straight RGBA rows, width*4 bytes each.
  std::vector<std::uint8_t> rgba() const;
  std::expected<void, std::string> write_png(const std::string& path) const;
  void clear(const scene::Color& color);

 private:
  std::uint32_t width_;
  std::uint32_t height_;
  SurfacePtr surface_;
};

// Clears the frame to `clear` and draws the scene scaled by `scale`.
void render_frame(CairoRenderer& renderer, const scene::Scene& scene, Frame& frame, double scale,
                  const scene::Color& clear);

// Redraws only `damage` of the frame: clears it to `clear` and replays the
// commands that touch it (`bounds` as for CairoRenderer::Cull). The pixels
// inside `damage` come out as render_frame would give them.
void render_damage(CairoRenderer& renderer, const scene::Scene& scene, Frame& frame, double scale,
                   const scene::Color& clear, const std::vector<PixelRect>& damage,
                   const std::vector<scene::Rect>& bounds);

// Premultiplies straight RGBA into ARGB32 (native endian) rows of `stride` bytes.
void rgba_to_argb32(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* out, int stride);
// RGBA whose alpha is taken as 255 into RGB24 rows (alpha byte set to 255).
void rgba_to_xrgb32(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* out, int stride);
// True when every one of `pixels` RGBA pixels has alpha 255.
bool all_opaque(const std::uint8_t* rgba, std::size_t pixels);

}  // namespace vesk_ui::render
