#include "platform/vesk_ui/launch/present.hpp"

#include <algorithm>
#include <cstring>

namespace vesk_ui::launch {

namespace {

// Cairo's ARGB32 and these SDL formats share one layout in memory.
bool same_layout_as_cairo(Uint32 format) {
  return format == SDL_PIXELFORMAT_ARGB8888 || format == SDL_PIXELFORMAT_RGB888;
}

}  // namespace

void prefer_window_surface() { SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0"); }

bool WindowPresenter::refresh() {
  SDL_Surface* s = SDL_GetWindowSurface(window_);
  if (!s) {
    surface_ = nullptr;
    return false;
  }
  surface_ = s;
  width_ = std::clamp(s->w, 1, static_cast<int>(render::kMaxImageSide));
  height_ = std::clamp(s->h, 1, static_cast<int>(render::kMaxImageSide));
  surface_stale_ = true;
  if (!frame_ || static_cast<int>(frame_->width()) != width_ || static_cast<int>(frame_->height()) != height_) {
    frame_ = std::make_unique<render::Frame>(static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_));
    damage_.forget();
  }
  return true;
}

bool WindowPresenter::present(const scene::Scene& scene, render::CairoRenderer& renderer, text::PangoTextRenderer& text,
                              double scale, bool exposed) {
  if (!frame_ && !refresh()) return false;
  if (!surface_ && !refresh()) return false;
  if (exposed) surface_stale_ = true;
  const std::vector<render::PixelRect> damage =
      damage_.update(scene, text, scene::Affine::scale(scale), width_, height_, false);
  if (!damage.empty()) {
    render::render_damage(renderer, scene, *frame_, scale, scene::Color::black(), damage, damage_.bounds());
    ++drawn_;
  }
  if (surface_stale_) {
    copy_to_window({render::PixelRect{0, 0, width_, height_}});
    surface_stale_ = false;
    return true;
  }
  if (damage.empty()) return false;
  copy_to_window(damage);
  return true;
}

void WindowPresenter::copy_to_window(const std::vector<render::PixelRect>& rects) {
  cairo_surface_flush(frame_->surface());
  const std::uint8_t* src = cairo_image_surface_get_data(frame_->surface());
  const int src_pitch = cairo_image_surface_get_stride(frame_->surface());
  const bool locked = SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) == 0;
  if (SDL_MUSTLOCK(surface_) && !locked) return;
  auto* dst = static_cast<std::uint8_t*>(surface_->pixels);
  const int w = std::min(width_, surface_->w);
  const int h = std::min(height_, surface_->h);
  sdl_rects_.clear();
  for (const render::PixelRect& raw : rects) {
    const int x0 = std::clamp(raw.x, 0, w), y0 = std::clamp(raw.y, 0, h);
    const int x1 = std::clamp(raw.x + raw.w, 0, w), y1 = std::clamp(raw.y + raw.h, 0, h);
    if (x1 <= x0 || y1 <= y0) continue;
    const std::uint8_t* from = src + static_cast<std::size_t>(y0) * src_pitch + static_cast<std::size_t>(x0) * 4u;
    std::uint8_t* to = dst + static_cast<std::size_t>(y0) * surface_->pitch +
                       static_cast<std::size_t>(x0) * surface_->format->BytesPerPixel;
    if (same_layout_as_cairo(surface_->format->format)) {
      for (int y = y0; y < y1; ++y, from += src_pitch, to += surface_->pitch) {
        std::memcpy(to, from, static_cast<std::size_t>(x1 - x0) * 4u);
      }
    } else {
      SDL_ConvertPixels(x1 - x0, y1 - y0, SDL_PIXELFORMAT_ARGB8888, from, src_pitch, surface_->format->format, to,
                        surface_->pitch);
    }
    sdl_rects_.push_back(SDL_Rect{x0, y0, x1 - x0, y1 - y0});
  }
  if (locked) SDL_UnlockSurface(surface_);
  if (!sdl_rects_.empty()) {
    SDL_UpdateWindowSurfaceRects(window_, sdl_rects_.data(), static_cast<int>(sdl_rects_.size()));
  }
}

}  // namespace vesk_ui::launch
