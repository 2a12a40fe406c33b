#pragma once
// Puts frames on the window without GL: the scene is rasterised by Cairo into
// a frame in memory and the changed rectangles are copied to the window's
// own surface (X shared memory under X11). A frame whose display list matches
// the last one presented costs nothing beyond that comparison.

#include <SDL.h>

#include <memory>
#include <vector>

#include "platform/vesk_ui/render/cairo_renderer.hpp"
#include "platform/vesk_ui/render/damage.hpp"
#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/pango_text.hpp"

namespace vesk_ui::launch {

// SDL must hand out the window's own surface, not one backed by a GL
// texture; call before the window is created.
void prefer_window_surface();

class WindowPresenter {
 public:
  explicit WindowPresenter(SDL_Window* window) : window_(window) {}

  // Takes the window surface again (after a size change). False when SDL
  // has none to give; the size stays 1 by 1 then.
  bool refresh();
  // The window surface in physical pixels.
  int width() const { return width_; }
  int height() const { return height_; }

  // Redraws what changed since the last frame presented and shows it.
  // `exposed`: the window lost its pixels, show the whole frame again.
  // True when anything was put on the window.
  bool present(const scene::Scene& scene, render::CairoRenderer& renderer, text::PangoTextRenderer& text, double scale,
               bool exposed);

  // Frames rasterised (a skipped frame counts not) and pixels copied, for tests and reports.
  std::uint64_t frames_drawn() const { return drawn_; }

 private:
  void copy_to_window(const std::vector<render::PixelRect>& rects);

  SDL_Window* window_;
  SDL_Surface* surface_ = nullptr;
  int width_ = 1;
  int height_ = 1;
  bool surface_stale_ = true;  // the window surface lacks the frame's pixels
  std::unique_ptr<render::Frame> frame_;
  render::DamageTracker damage_;
  std::vector<SDL_Rect> sdl_rects_;
  std::uint64_t drawn_ = 0;
};

}  // namespace vesk_ui::launch
