// One frame of 200 text runs, 100 rounded rectangles and a 1920x1080 picture
// scaled into a 1280x800 surface: built as a display list and rasterised.
// "Unchanged" reuses the picture (same id) every frame, as a session screen
// does between remote updates; "NewPicture" gives it a fresh id every frame.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/vesk_ui/render/cairo_renderer.hpp"
#include "platform/vesk_ui/text/pango_text.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"

namespace {

using namespace vesk_ui;

constexpr std::uint32_t kWidth = 1280, kHeight = 800;
constexpr std::uint32_t kPicW = 1920, kPicH = 1080;

scene::PixelBuffer picture_pixels() {
  auto px = std::make_shared<std::vector<std::uint8_t>>(std::size_t{kPicW} * kPicH * 4);
  for (std::uint32_t y = 0; y < kPicH; ++y) {
    for (std::uint32_t x = 0; x < kPicW; ++x) {
      std::uint8_t* p = &(*px)[(std::size_t{y} * kPicW + x) * 4];
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x ^ y);
      p[3] = 255;
    }
  }
  return px;
}

void build(scene::Scene& s, text::TextRenderer& text, const scene::Image& picture, const tokens::Tokens& tokens,
           const std::vector<std::string>& labels) {
  s.reset();
  const scene::Affine id = scene::Affine::identity();
  s.fill(id, tokens.colors.background, scene::Rect{0, 0, kWidth, kHeight});
  // The picture scaled to fit the window width, centred (as the session view does).
  const double k = static_cast<double>(kWidth) / kPicW;
  const double top = (kHeight - kPicH * k) / 2.0;
  s.fill(id, scene::ImageBrush{picture, scene::Affine::translate(0, top) * scene::Affine::scale(k)},
         scene::Rect{0, top, static_cast<double>(kWidth), top + kPicH * k});
  for (int i = 0; i < 100; ++i) {
    const double x = 24 + (i % 10) * 124.0;
    const double y = 24 + (i / 10) * 76.0;
    s.fill(id, tokens.colors.surface.with_alpha(0.9f), scene::RoundedRect{{x, y, x + 112, y + 64}, 12});
  }
  for (int i = 0; i < 200; ++i) {
    const double x = 32 + (i % 10) * 124.0;
    const double y = 30 + (i / 10) * 38.0;
    text.draw_text_weighted(s, labels[static_cast<std::size_t>(i)], i % 2 ? 13.0f : 16.0f, tokens.colors.text_primary,
                            scene::Affine::translate(x, y), std::nullopt, static_cast<std::uint8_t>(i % 4));
  }
  s.finish();
}

std::vector<std::string> make_labels() {
  std::vector<std::string> labels;
  for (int i = 0; i < 200; ++i) labels.push_back("host-" + std::to_string(i) + ".example.net");
  return labels;
}

void BM_FramePictureUnchanged(benchmark::State& state) {
  text::PangoTextRenderer text;
  render::CairoRenderer renderer(text);
  render::Frame frame(kWidth, kHeight);
  const tokens::Tokens tokens;
  const scene::Image picture = scene::Image::from_rgba(picture_pixels(), kPicW, kPicH);
  const auto labels = make_labels();
  scene::Scene s;
  build(s, text, picture, tokens, labels);
  render::render_frame(renderer, s, frame, 1.0, scene::Color::black());  // first frame converts
  for (auto _ : state) {
    build(s, text, picture, tokens, labels);
    render::render_frame(renderer, s, frame, 1.0, scene::Color::black());
    benchmark::DoNotOptimize(frame.surface());
  }
  state.counters["conversions"] = static_cast<double>(renderer.conversions());
}
BENCHMARK(BM_FramePictureUnchanged)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_FrameNewPicture(benchmark::State& state) {
  text::PangoTextRenderer text;
  render::CairoRenderer renderer(text);
  render::Frame frame(kWidth, kHeight);
  const tokens::Tokens tokens;
  const scene::PixelBuffer pixels = picture_pixels();
  const auto labels = make_labels();
  scene::Scene s;
  for (auto _ : state) {
    build(s, text, scene::Image::from_rgba(pixels, kPicW, kPicH), tokens, labels);
    render::render_frame(renderer, s, frame, 1.0, scene::Color::black());
    benchmark::DoNotOptimize(frame.surface());
  }
}
BENCHMARK(BM_FrameNewPicture)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
