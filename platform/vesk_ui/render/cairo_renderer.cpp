#include "platform/vesk_ui/render/cairo_renderer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk_ui::render {

using namespace vesk_ui::scene;

namespace {

bool finite(double v) { return std::isfinite(v); }
bool finite(Point p) { return finite(p.x) && finite(p.y); }
bool finite(const Rect& r) { return finite(r.x0) && finite(r.y0) && finite(r.x1) && finite(r.y1); }

bool finite_shape(const Shape& s) {
  return std::visit(
      [](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Rect>)
          return finite(v);
        else if constexpr (std::is_same_v<T, RoundedRect>)
          return finite(v.rect) && finite(v.radius);
        else if constexpr (std::is_same_v<T, Circle>)
          return finite(v.center) && finite(v.radius);
        else if constexpr (std::is_same_v<T, Line>)
          return finite(v.p0) && finite(v.p1);
        else {
          for (const PathEl& el : v.elements()) {
            for (const Point& p : el.p) {
              if (!finite(p)) return false;
            }
          }
          return true;
        }
      },
      s);
}

// A matrix Cairo accepts: finite and invertible. Cairo puts the whole context
// into an error state on anything else, which would blank the rest of the frame.
bool set_matrix(cairo_t* cr, const Affine& a) {
  const double v[6] = {a.a, a.b, a.c, a.d, a.e, a.f};
  for (double x : v) {
    if (!finite(x)) return false;
  }
  const double det = a.a * a.d - a.b * a.c;
  if (!(std::fabs(det) > 1e-12)) return false;
  cairo_matrix_t m{a.a, a.b, a.c, a.d, a.e, a.f};
  cairo_set_matrix(cr, &m);
  return true;
}

void rounded_rect_path(cairo_t* cr, const Rect& raw, double radius) {
  const Rect r = raw.normalized();
  const double rad = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2.0);
  if (rad <= 0.0) {
    cairo_rectangle(cr, r.x0, r.y0, r.width(), r.height());
    return;
  }
  constexpr double pi = std::numbers::pi;
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.x1 - rad, r.y0 + rad, rad, -pi / 2, 0);
  cairo_arc(cr, r.x1 - rad, r.y1 - rad, rad, 0, pi / 2);
  cairo_arc(cr, r.x0 + rad, r.y1 - rad, rad, pi / 2, pi);
  cairo_arc(cr, r.x0 + rad, r.y0 + rad, rad, pi, 3 * pi / 2);
  cairo_close_path(cr);
}

void shape_path(cairo_t* cr, const Shape& s) {
  cairo_new_path(cr);
  std::visit(
      [cr](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Rect>) {
          const Rect r = v.normalized();
          cairo_rectangle(cr, r.x0, r.y0, r.width(), r.height());
        } else if constexpr (std::is_same_v<T, RoundedRect>) {
          rounded_rect_path(cr, v.rect, v.radius);
        } else if constexpr (std::is_same_v<T, Circle>) {
          if (v.radius > 0.0) {
            cairo_new_sub_path(cr);
            cairo_arc(cr, v.center.x, v.center.y, v.radius, 0, 2 * std::numbers::pi);
            cairo_close_path(cr);
          }
        } else if constexpr (std::is_same_v<T, Line>) {
          cairo_move_to(cr, v.p0.x, v.p0.y);
          cairo_line_to(cr, v.p1.x, v.p1.y);
        } else {
          bool have_point = false;
          for (const PathEl& el : v.elements()) {
            switch (el.verb) {
              case PathEl::Verb::MoveTo:
                cairo_move_to(cr, el.p[0].x, el.p[0].y);
                have_point = true;
                break;
              case PathEl::Verb::LineTo:
                if (!have_point) cairo_move_to(cr, el.p[0].x, el.p[0].y);
                cairo_line_to(cr, el.p[0].x, el.p[0].y);
                have_point = true;
                break;
              case PathEl::Verb::QuadTo: {
                double x0 = el.p[0].x, y0 = el.p[0].y;
                if (have_point)
                  cairo_get_current_point(cr, &x0, &y0);
                else
                  cairo_move_to(cr, x0, y0);
                const Point c = el.p[0], p = el.p[1];
                cairo_curve_to(cr, x0 + 2.0 / 3.0 * (c.x - x0), y0 + 2.0 / 3.0 * (c.y - y0),
                               p.x + 2.0 / 3.0 * (c.x - p.x), p.y + 2.0 / 3.0 * (c.y - p.y), p.x, p.y);
                have_point = true;
                break;
              }
              case PathEl::Verb::CurveTo:
                if (!have_point) cairo_move_to(cr, el.p[0].x, el.p[0].y);
                cairo_curve_to(cr, el.p[0].x, el.p[0].y, el.p[1].x, el.p[1].y, el.p[2].x, el.p[2].y);
                have_point = true;
                break;
              case PathEl::Verb::Close:
                if (have_point) cairo_close_path(cr);
                break;
            }
          }
        }
      },
      s);
}

cairo_filter_t filter_for(ImageQuality q) {
  switch (q) {
    case ImageQuality::Low: return CAIRO_FILTER_FAST;
    case ImageQuality::Medium: return CAIRO_FILTER_BILINEAR;
    default: return CAIRO_FILTER_GOOD;
  }
}

cairo_extend_t extend_for(Extend e) {
  switch (e) {
    case Extend::Repeat: return CAIRO_EXTEND_REPEAT;
    case Extend::Reflect: return CAIRO_EXTEND_REFLECT;
    default: return CAIRO_EXTEND_PAD;
  }
}

}  // namespace

namespace {

// Rows of `width` RGBA pixels, `src_stride` bytes apart, into rows `stride`
// bytes apart.
void premultiply_rows(const std::uint8_t* rgba, std::size_t src_stride, std::uint32_t width, std::uint32_t height,
                      std::uint8_t* out, std::size_t stride) {
  // Word at a time with no branches and no lane crossing, so the compiler
  // vectorises both loops. In memory RGBA is R | G<<8 | B<<16 | A<<24 and
  // ARGB32 is B | G<<8 | R<<16 | A<<24 (little-endian).
  static_assert(std::endian::native == std::endian::little);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = rgba + std::size_t{y} * src_stride;
    std::uint8_t* dst = out + std::size_t{y} * stride;
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint32_t v;
      std::memcpy(&v, src + std::size_t{x} * 4u, 4);
      const std::uint32_t a = v >> 24;
      // c * a / 255 rounded, for the two channels of each half at once.
      std::uint32_t rb = ((v & 0x00FF00FFu) * a) + 0x00800080u;
      rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
      std::uint32_t g = (((v >> 8) & 0xFFu) * a) + 0x80u;
      g = ((g + (g >> 8)) >> 8) & 0xFFu;
      const std::uint32_t o = (a << 24) | ((rb & 0xFFu) << 16) | (g << 8) | (rb >> 16);
      std::memcpy(dst + std::size_t{x} * 4u, &o, 4);
    }
  }
}

void opaque_rows(const std::uint8_t* rgba, std::size_t src_stride, std::uint32_t width, std::uint32_t height,
                 std::uint8_t* out, std::size_t stride) {
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = rgba + std::size_t{y} * src_stride;
    std::uint8_t* dst = out + std::size_t{y} * stride;
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint32_t v;
      std::memcpy(&v, src + std::size_t{x} * 4u, 4);
      const std::uint32_t o = 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
      std::memcpy(dst + std::size_t{x} * 4u, &o, 4);
    }
  }
}

}  // namespace

void rgba_to_argb32(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                    int stride) {
  premultiply_rows(rgba, std::size_t{width} * 4u, width, height, out, static_cast<std::size_t>(stride));
}

void rgba_to_xrgb32(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                    int stride) {
  opaque_rows(rgba, std::size_t{width} * 4u, width, height, out, static_cast<std::size_t>(stride));
}

bool all_opaque(const std::uint8_t* rgba, std::size_t pixels) {
  // AND of every alpha byte, a block at a time, stopping at the first block
  // that has a transparent pixel.
  constexpr std::size_t kBlock = 1024;
  for (std::size_t i = 0; i < pixels; i += kBlock) {
    const std::size_t end = std::min(pixels, i + kBlock);
    std::uint32_t acc = 0xFFFFFFFFu;
    for (std::size_t k = i; k < end; ++k) {
      std::uint32_t v;
      std::memcpy(&v, rgba + k * 4u, 4);
      acc &= v;
    }
    if ((acc >> 24) != 0xFFu) return false;
  }
  return true;
}

CairoRenderer::CairoRenderer(text::PangoTextRenderer& text) : text_(text) {}

namespace {

const cairo_user_data_key_t kPixelsKey{};
const cairo_user_data_key_t kPictureKey{};

// An image surface over uninitialised memory: every caller writes each pixel
// before it is read, so Cairo's zero fill would be wasted work.
SurfacePtr uninitialised_surface(cairo_format_t format, int width, int height) {
  const int stride = cairo_format_stride_for_width(format, width);
  if (stride <= 0 || height <= 0) return nullptr;
  void* data = std::malloc(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
  if (!data) return nullptr;
  SurfacePtr s(cairo_image_surface_create_for_data(static_cast<unsigned char*>(data), format, width, height, stride));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(s.get(), &kPixelsKey, data, std::free) != CAIRO_STATUS_SUCCESS) {
    std::free(data);
    return nullptr;
  }
  return s;
}

// A surface over a picture's own bytes, in Cairo's layout already; it keeps
// them alive. It is only ever a source, so the bytes are never written.
SurfacePtr picture_surface(const Image& image, cairo_format_t format) {
  const int width = static_cast<int>(image.width);
  const int stride = cairo_format_stride_for_width(format, width);
  if (stride <= 0 || static_cast<std::uint64_t>(stride) != std::uint64_t{image.width} * 4u) return nullptr;
  auto* data = const_cast<unsigned char*>(image.pixels->data());
  SurfacePtr s(cairo_image_surface_create_for_data(data, format, width, static_cast<int>(image.height), stride));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  auto* keep = new PixelBuffer(image.pixels);
  if (cairo_surface_set_user_data(s.get(), &kPictureKey, keep, [](void* p) { delete static_cast<PixelBuffer*>(p); }) !=
      CAIRO_STATUS_SUCCESS) {
    delete keep;
    return nullptr;
  }
  return s;
}

// Only surfaces over the renderer's own memory may be reused for other pictures.
bool own_memory(cairo_surface_t* s) { return cairo_surface_get_user_data(s, &kPixelsKey) != nullptr; }

// Converts the area of an RGBA picture into the same area of `surface`.
void convert_area(const Image& image, const ImageArea& area, cairo_surface_t* surface, bool opaque) {
  const std::size_t src_stride = std::size_t{image.width} * 4u;
  const std::uint8_t* src = image.pixels->data() + std::size_t{area.y} * src_stride + std::size_t{area.x} * 4u;
  const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
  std::uint8_t* out = cairo_image_surface_get_data(surface) + std::size_t{area.y} * stride + std::size_t{area.x} * 4u;
  (opaque ? opaque_rows : premultiply_rows)(src, src_stride, area.w, area.h, out, stride);
}

}  // namespace

SurfacePtr CairoRenderer::take_surface(cairo_format_t format, int width, int height) {
  for (auto it = spare_.begin(); it != spare_.end(); ++it) {
    cairo_surface_t* s = it->get();
    if (cairo_image_surface_get_format(s) == format && cairo_image_surface_get_width(s) == width &&
        cairo_image_surface_get_height(s) == height) {
      SurfacePtr out = std::move(*it);
      spare_.erase(it);
      return out;
    }
  }
  return uninitialised_surface(format, width, height);
}

void CairoRenderer::keep_spare(SurfacePtr surface) {
  if (!surface || !own_memory(surface.get())) return;
  if (spare_.size() >= kSpareSurfaces) spare_.erase(spare_.begin());
  spare_.push_back(std::move(surface));
}

bool CairoRenderer::bring_up_to_date(CachedImage& entry, const Image& image) {
  const std::vector<ImageArea>& changed = *image.changed;
  if (image.order == PixelOrder::Bgra) {
    SurfacePtr fresh = picture_surface(image, entry.opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32);
    if (!fresh) return false;
    entry.surface = std::move(fresh);
  } else {
    if (!own_memory(entry.surface.get())) return false;
    cairo_surface_flush(entry.surface.get());
    for (const ImageArea& a : changed) {
      convert_area(image, a, entry.surface.get(), entry.opaque);
      converted_pixels_ += std::uint64_t{a.w} * a.h;
      cairo_surface_mark_dirty_rectangle(entry.surface.get(), static_cast<int>(a.x), static_cast<int>(a.y),
                                         static_cast<int>(a.w), static_cast<int>(a.h));
    }
  }
  if (entry.placed) {
    auto& stale = entry.placed->stale;
    stale.insert(stale.end(), changed.begin(), changed.end());
    if (stale.size() > kMaxChangedAreas) {
      keep_spare(std::move(entry.placed->surface));
      entry.placed.reset();
    }
  }
  return true;
}

CairoRenderer::CachedImage* CairoRenderer::find_image(const Image& image) {
  if (auto it = images_.find(image.id); it != images_.end()) {
    it->second.last_frame = frame_;
    return &it->second;
  }
  if (image.base == 0 || !image.changed || !image.is_valid()) return nullptr;
  auto it = images_.find(image.base);
  // A picture already drawn in this frame may be drawn again in it.
  if (it == images_.end() || it->second.last_frame == frame_) return nullptr;
  CachedImage& base = it->second;
  if (base.order != image.order || (base.opaque && !image.opaque) ||
      cairo_image_surface_get_width(base.surface.get()) != static_cast<int>(image.width) ||
      cairo_image_surface_get_height(base.surface.get()) != static_cast<int>(image.height)) {
    return nullptr;
  }
  CachedImage entry = std::move(base);
  images_.erase(it);
  if (!bring_up_to_date(entry, image)) {
    keep_spare(std::move(entry.surface));
    if (entry.placed) keep_spare(std::move(entry.placed->surface));
    return nullptr;
  }
  entry.last_frame = frame_;
  return &images_.emplace(image.id, std::move(entry)).first->second;
}

CairoRenderer::CachedImage* CairoRenderer::cached_image(const Image& image) {
  if (!image.is_valid() || image.width > kMaxImageSide || image.height > kMaxImageSide) return nullptr;
  if (CachedImage* found = find_image(image)) return found;
  // Opaque pictures become RGB24, which Cairo composites as a plain copy.
  const std::uint8_t* px = image.pixels->data();
  const bool opaque = image.opaque || all_opaque(px, std::size_t{image.width} * image.height);
  const cairo_format_t format = opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
  SurfacePtr surface;
  if (image.order == PixelOrder::Bgra) {
    surface = picture_surface(image, format);
  } else {
    surface = take_surface(format, static_cast<int>(image.width), static_cast<int>(image.height));
    if (surface) {
      cairo_surface_flush(surface.get());
      convert_area(image, ImageArea{0, 0, image.width, image.height}, surface.get(), opaque);
      cairo_surface_mark_dirty(surface.get());
      ++conversions_;
      converted_pixels_ += std::uint64_t{image.width} * image.height;
    }
  }
  if (!surface) return nullptr;
  auto [it, inserted] =
      images_.emplace(image.id, CachedImage{std::move(surface), image.order, opaque, frame_, std::nullopt});
  (void)inserted;
  return &it->second;
}

namespace {

bool whole(double v) { return std::fabs(v - std::round(v)) < 1e-6; }

void set_image_source(cairo_t* cr, cairo_surface_t* surf, const ImageBrush& ib) {
  const Affine& bt = ib.brush_transform;
  cairo_pattern_t* pat = cairo_pattern_create_for_surface(surf);
  cairo_matrix_t m{bt.a, bt.b, bt.c, bt.d, bt.e, bt.f};
  cairo_matrix_invert(&m);  // pattern space from user space
  cairo_pattern_set_matrix(pat, &m);
  cairo_pattern_set_filter(pat, filter_for(ib.quality));
  cairo_pattern_set_extend(pat, extend_for(ib.extend));
  cairo_set_source(cr, pat);
  cairo_pattern_destroy(pat);
}

}  // namespace

bool CairoRenderer::placed_areas(const Placed& p, int pic_w, int pic_h, std::vector<PixelRect>& out) {
  if (p.quality == ImageQuality::High || p.extend != Extend::Pad || p.a == 0.0 || p.d == 0.0) return false;
  // Nearest and bilinear sampling read the picture pixels within one of the
  // sample point; padding carries the edge pixels on past the picture.
  constexpr double kReach = 1.0;
  for (const ImageArea& a : p.stale) {
    const double ax0 = a.x <= kReach ? -1e9 : a.x - kReach;
    const double ay0 = a.y <= kReach ? -1e9 : a.y - kReach;
    const double ax1 = a.x + a.w + kReach >= pic_w ? 1e9 : a.x + a.w + kReach;
    const double ay1 = a.y + a.h + kReach >= pic_h ? 1e9 : a.y + a.h + kReach;
    const double x0 = std::min(p.a * ax0, p.a * ax1) + p.e, x1 = std::max(p.a * ax0, p.a * ax1) + p.e;
    const double y0 = std::min(p.d * ay0, p.d * ay1) + p.f, y1 = std::max(p.d * ay0, p.d * ay1) + p.f;
    const int cx0 = static_cast<int>(std::clamp(std::floor(x0) - 1.0, 0.0, static_cast<double>(p.w)));
    const int cy0 = static_cast<int>(std::clamp(std::floor(y0) - 1.0, 0.0, static_cast<double>(p.h)));
    const int cx1 = static_cast<int>(std::clamp(std::ceil(x1) + 1.0, 0.0, static_cast<double>(p.w)));
    const int cy1 = static_cast<int>(std::clamp(std::ceil(y1) + 1.0, 0.0, static_cast<double>(p.h)));
    if (cx1 > cx0 && cy1 > cy0) out.push_back(PixelRect{cx0, cy0, cx1 - cx0, cy1 - cy0});
  }
  return true;
}

void CairoRenderer::paint_placed(const Placed& placed, const FillCmd& fill, const ImageBrush& ib, const Affine& full,
                                 cairo_surface_t* picture, const std::vector<PixelRect>* clip) {
  const Rect& rect = std::get<Rect>(fill.shape);
  CairoPtr tmp(cairo_create(placed.surface.get()));
  if (clip) {
    // The same drawing as the whole copy, only over fewer of its pixels.
    // Cairo fits its fixed-point sampling to the middle of the area it
    // composites, so each box is drawn with its mirror image through the
    // copy's centre: the area then has the whole copy's middle, and every
    // pixel comes out as drawing the whole copy gives it.
    for (const PixelRect& c : *clip) {
      cairo_rectangle(tmp.get(), c.x, c.y, c.w, c.h);
      cairo_rectangle(tmp.get(), placed.w - c.x - c.w, placed.h - c.y - c.h, c.w, c.h);
      placed_pixels_ += 2 * static_cast<std::uint64_t>(c.w) * static_cast<std::uint64_t>(c.h);
    }
    cairo_clip(tmp.get());
  } else {
    placed_pixels_ += static_cast<std::uint64_t>(placed.w) * static_cast<std::uint64_t>(placed.h);
  }
  cairo_matrix_t m{full.a, full.b, full.c, full.d, full.e - placed.x, full.f - placed.y};
  cairo_set_matrix(tmp.get(), &m);
  cairo_rectangle(tmp.get(), rect.x0, rect.y0, rect.width(), rect.height());
  set_image_source(tmp.get(), picture, ib);
  cairo_set_operator(tmp.get(), CAIRO_OPERATOR_SOURCE);
  cairo_fill(tmp.get());
  tmp.reset();
  cairo_surface_flush(placed.surface.get());
}

bool CairoRenderer::fill_image_placed(cairo_t* cr, const FillCmd& fill, const ImageBrush& ib, const Affine& device,
                                      CachedImage& cached) {
  // Only a rectangle on whole device pixels with no rotation or shear, drawn
  // opaque: then the cached copy is exactly what drawing anew would give.
  const std::optional<PixelRect> dev = placed_picture(fill, ib, device);
  if (!dev) return false;
  const Affine full = device * fill.transform;
  const Affine total = full * ib.brush_transform;
  Placed want;
  want.x = dev->x;
  want.y = dev->y;
  want.w = dev->w;
  want.h = dev->h;
  want.a = total.a;
  want.d = total.d;
  want.e = total.e - want.x;
  want.f = total.f - want.y;
  want.quality = ib.quality;
  want.extend = ib.extend;
  const int pic_w = cairo_image_surface_get_width(cached.surface.get());
  const int pic_h = cairo_image_surface_get_height(cached.surface.get());
  if (want.a == 1.0 && want.d == 1.0 && whole(want.e) && whole(want.f) && want.e <= 0.0 && want.f <= 0.0 &&
      want.w - want.e <= pic_w && want.h - want.f <= pic_h) {
    // 1:1 inside the picture: the converted picture is already what a placed
    // copy would hold, so it is drawn straight from the cache.
    cairo_identity_matrix(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, want.x, want.y, want.w, want.h);
    cairo_set_source_surface(cr, cached.surface.get(), want.x + std::round(want.e), want.y + std::round(want.f));
    cairo_fill(cr);
    return true;
  }
  if (!cached.placed || !cached.placed->same(want)) {
    if (cached.placed) keep_spare(std::move(cached.placed->surface));
    // Every pixel is written below (SOURCE over the whole surface).
    want.surface = take_surface(cached.opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, want.w, want.h);
    if (!want.surface) return false;
    paint_placed(want, fill, ib, full, cached.surface.get(), nullptr);
    cached.placed = std::move(want);
  } else if (!cached.placed->stale.empty()) {
    // The picture changed in places since the copy was made: only they are
    // scaled again.
    Placed& p = *cached.placed;
    std::vector<PixelRect> redo;
    const bool known = placed_areas(p, pic_w, pic_h, redo);
    p.stale.clear();
    if (!known) {
      paint_placed(p, fill, ib, full, cached.surface.get(), nullptr);
    } else if (!redo.empty()) {
      paint_placed(p, fill, ib, full, cached.surface.get(), &redo);
    }
  }
  const Placed& p = *cached.placed;
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, p.x, p.y, p.w, p.h);
  cairo_set_source_surface(cr, p.surface.get(), p.x, p.y);
  cairo_fill(cr);
  return true;
}

void CairoRenderer::render(const Scene& scene, cairo_t* cr, const Affine& device) {
  render(scene, cr, device, nullptr);
}

namespace {

bool touches(const Rect& box, const std::vector<PixelRect>& damage) {
  for (const PixelRect& d : damage) {
    if (box.x0 < d.x + d.w && d.x < box.x1 && box.y0 < d.y + d.h && d.y < box.y1) return true;
  }
  return false;
}

}  // namespace

void CairoRenderer::render(const Scene& scene, cairo_t* cr, const Affine& device, const Cull* cull) {
  ++frame_;
  // Alpha of each open layer; below 1 the layer is drawn into a group.
  std::vector<float> layers;
  cairo_save(cr);
  const auto& commands = scene.commands();
  if (cull && cull->bounds.size() != commands.size()) cull = nullptr;
  for (std::size_t index = 0; index < commands.size(); ++index) {
    const Command& cmd = commands[index];
    if (cull && !std::holds_alternative<PushLayerCmd>(cmd) && !std::holds_alternative<PopLayerCmd>(cmd) &&
        !touches(cull->bounds[index], cull->damage)) {
      // Still counts as drawn, so the picture stays cached (or takes the
      // place of the one it changed from).
      if (const auto* fill = std::get_if<FillCmd>(&cmd)) {
        if (const auto* ib = std::get_if<ImageBrush>(&fill->brush)) find_image(ib->image);
      }
      continue;
    }
    std::visit(
        [&](const auto& c) {
          using T = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<T, FillCmd>) {
            if (!finite_shape(c.shape) || !set_matrix(cr, device * c.transform)) return;
            shape_path(cr, c.shape);
            cairo_set_fill_rule(cr, c.rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            if (const Color* col = std::get_if<Color>(&c.brush)) {
              cairo_set_source_rgba(cr, col->r, col->g, col->b, col->a);
              cairo_fill(cr);
              return;
            }
            const ImageBrush& ib = std::get<ImageBrush>(c.brush);
            CachedImage* cached = cached_image(ib.image);
            const Affine& bt = ib.brush_transform;
            const double det = bt.a * bt.d - bt.b * bt.c;
            if (!cached || !(std::fabs(det) > 1e-12) || !finite(det)) {
              cairo_new_path(cr);
              return;
            }
            if (fill_image_placed(cr, c, ib, device, *cached)) return;
            set_image_source(cr, cached->surface.get(), ib);
            if (ib.alpha >= 1.0f) {
              cairo_fill(cr);
            } else {
              cairo_save(cr);
              cairo_clip(cr);
              cairo_paint_with_alpha(cr, std::max(0.0f, ib.alpha));
              cairo_restore(cr);
            }
          } else if constexpr (std::is_same_v<T, StrokeCmd>) {
            const Color* col = std::get_if<Color>(&c.brush);
            if (!col || !finite_shape(c.shape) || !finite(c.style.width) || c.style.width <= 0.0) return;
            if (!set_matrix(cr, device * c.transform)) return;
            shape_path(cr, c.shape);
            cairo_set_line_width(cr, c.style.width);
            cairo_set_line_join(cr, c.style.join == Join::Round   ? CAIRO_LINE_JOIN_ROUND
                                    : c.style.join == Join::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                                  : CAIRO_LINE_JOIN_MITER);
            cairo_set_line_cap(cr, c.style.cap == Cap::Round    ? CAIRO_LINE_CAP_ROUND
                                   : c.style.cap == Cap::Square ? CAIRO_LINE_CAP_SQUARE
                                                                : CAIRO_LINE_CAP_BUTT);
            cairo_set_miter_limit(cr, finite(c.style.miter_limit) ? c.style.miter_limit : 4.0);
            cairo_set_source_rgba(cr, col->r, col->g, col->b, col->a);
            cairo_stroke(cr);
          } else if constexpr (std::is_same_v<T, PushLayerCmd>) {
            cairo_save(cr);
            if (finite_shape(c.clip) && set_matrix(cr, device * c.transform)) {
              shape_path(cr, c.clip);
            } else {
              cairo_identity_matrix(cr);
              cairo_new_path(cr);
              cairo_rectangle(cr, 0, 0, 0, 0);  // a clip that shows nothing
            }
            cairo_clip(cr);
            const float alpha = std::clamp(c.alpha, 0.0f, 1.0f);
            if (alpha < 1.0f) cairo_push_group(cr);
            layers.push_back(alpha);
          } else if constexpr (std::is_same_v<T, PopLayerCmd>) {
            if (layers.empty()) return;
            if (layers.back() < 1.0f) {
              cairo_pop_group_to_source(cr);
              cairo_paint_with_alpha(cr, layers.back());
            }
            layers.pop_back();
            cairo_restore(cr);
          } else {
            if (!set_matrix(cr, device * c.run.transform)) return;
            cairo_new_path(cr);
            cairo_move_to(cr, 0, 0);
            text_.render_run(cr, c.run);
          }
        },
        cmd);
  }
  while (!layers.empty()) {
    if (layers.back() < 1.0f) {
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, layers.back());
    }
    layers.pop_back();
    cairo_restore(cr);
  }
  cairo_restore(cr);
  // Drop pictures not drawn in this frame or the one before; their memory
  // serves the next picture of the same size.
  for (auto it = images_.begin(); it != images_.end();) {
    if (it->second.last_frame + 1 < frame_) {
      keep_spare(std::move(it->second.surface));
      if (it->second.placed) keep_spare(std::move(it->second.placed->surface));
      it = images_.erase(it);
    } else {
      ++it;
    }
  }
}

Frame::Frame(std::uint32_t width, std::uint32_t height)
    : width_(std::clamp<std::uint32_t>(width, 1, kMaxImageSide)),
      height_(std::clamp<std::uint32_t>(height, 1, kMaxImageSide)),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width_), static_cast<int>(height_))) {}

void Frame::clear(const Color& color) {
  CairoPtr cr(cairo_create(surface_.get()));
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr.get(), color.r, color.g, color.b, color.a);
  cairo_paint(cr.get());
}

Rgba8 Frame::pixel(std::uint32_t x, std::uint32_t y) const {
  if (x >= width_ || y >= height_) return Rgba8{0, 0, 0, 0};
  cairo_surface_flush(surface_.get());
  const std::uint8_t* data = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  std::uint32_t v;
  std::memcpy(&v, data + std::size_t{y} * static_cast<std::size_t>(stride) + std::size_t{x} * 4u, 4);
  const std::uint32_t a = v >> 24;
  auto un = [a](std::uint32_t c) -> std::uint8_t {
    if (a == 0) return 0;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
  };
  return Rgba8{un((v >> 16) & 0xFF), un((v >> 8) & 0xFF), un(v & 0xFF), static_cast<std::uint8_t>(a)};
}

std::vector<std::uint8_t> Frame::rgba() const {
  std::vector<std::uint8_t> out(std::size_t{width_} * height_ * 4u);
  for (std::uint32_t y = 0; y < height_; ++y) {
    for (std::uint32_t x = 0; x < width_; ++x) {
      const Rgba8 p = pixel(x, y);
      std::uint8_t* d = &out[(std::size_t{y} * width_ + x) * 4u];
      d[0] = p.r;
      d[1] = p.g;
      d[2] = p.b;
      d[3] = p.a;
    }
  }
  return out;
}

std::expected<void, std::string> Frame::write_png(const std::string& path) const {
  cairo_surface_flush(surface_.get());
  const cairo_status_t st = cairo_surface_write_to_png(surface_.get(), path.c_str());
  if (st != CAIRO_STATUS_SUCCESS) {
    return std::unexpected("could not write " + path + ": " + cairo_status_to_string(st));
  }
  return {};
}

void render_damage(CairoRenderer& renderer, const Scene& scene, Frame& frame, double scale, const Color& clear,
                   const std::vector<PixelRect>& damage, const std::vector<Rect>& bounds) {
  if (damage.empty()) return;
  if (damage.size() == 1 &&
      damage[0] == PixelRect{0, 0, static_cast<int>(frame.width()), static_cast<int>(frame.height())}) {
    render_frame(renderer, scene, frame, scale, clear);  // no clip or culling to pay for
    return;
  }
  CairoPtr cr(cairo_create(frame.surface()));
  cairo_new_path(cr.get());
  for (const PixelRect& d : damage) cairo_rectangle(cr.get(), d.x, d.y, d.w, d.h);
  cairo_clip(cr.get());
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr.get(), clear.r, clear.g, clear.b, clear.a);
  cairo_paint(cr.get());
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
  const CairoRenderer::Cull cull{bounds, damage};
  renderer.render(scene, cr.get(), Affine::scale(scale), &cull);
}

void render_frame(CairoRenderer& renderer, const Scene& scene, Frame& frame, double scale, const Color& clear) {
  frame.clear(clear);
  CairoPtr cr(cairo_create(frame.surface()));
  renderer.render(scene, cr.get(), Affine::scale(scale));
}

}  // namespace vesk_ui::render
