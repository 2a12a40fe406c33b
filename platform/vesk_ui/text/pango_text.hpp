#pragma once
// The text renderer on Pango and Cairo.
//
// Metrics are fractional and independent of the output transform: no hint
// metrics, no hinting, no rounding of glyph positions. Sizes are absolute
// (logical pixels). Faces: DejaVu Sans for the interface, DejaVu Sans Mono for
// the terminal, spaced to a cell advance of exactly kMonoAdvanceEm.

#include <cairo.h>

#include <memory>
#include <string>

#include "platform/vesk_ui/text/text_renderer.hpp"

namespace vesk_ui::text {

class PangoTextRenderer final : public TextRenderer {
 public:
  PangoTextRenderer();
  ~PangoTextRenderer() override;
  PangoTextRenderer(const PangoTextRenderer&) = delete;
  PangoTextRenderer& operator=(const PangoTextRenderer&) = delete;

  void set_scale_factor(double scale) { scale_ = scale; }
  double scale_factor() const override { return scale_; }

  // Paints a recorded run with cr's current transform as the run's space
  // (the caller multiplies the run's transform in) and the run's colour.
  void render_run(cairo_t* cr, const scene::TextRun& run);

  // Where a run paints, in the run's own space: its ink and logical boxes
  // together (the same layout render_run draws).
  scene::Rect run_bounds(const scene::TextRun& run);

  // The natural advance of the monospace face before spacing, for reports.
  double natural_mono_advance(float size);

  std::size_t cached_layouts() const;

 protected:
  TextSize do_measure(const std::string& text, const TextStyle& style) override;
  double do_caret_x(const std::string& text, const TextStyle& style, std::size_t byte_index) override;
  std::size_t do_index_at_x(const std::string& text, const TextStyle& style, double x) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  double scale_ = 1.0;
};

}  // namespace vesk_ui::text
