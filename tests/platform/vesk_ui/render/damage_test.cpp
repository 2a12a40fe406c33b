// Redrawing only what changed must give the very pixels a full redraw gives.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/vesk_ui/render/cairo_renderer.hpp"
#include "platform/vesk_ui/render/damage.hpp"

namespace {

using namespace vesk_ui::scene;
using vesk_ui::render::CairoRenderer;
using vesk_ui::render::DamageTracker;
using vesk_ui::render::Frame;
using vesk_ui::render::PixelRect;

constexpr int kW = 320, kH = 260;

bool same_pixels(const Frame& a, const Frame& b) {
  cairo_surface_flush(a.surface());
  cairo_surface_flush(b.surface());
  const int stride = cairo_image_surface_get_stride(a.surface());
  return std::memcmp(cairo_image_surface_get_data(a.surface()), cairo_image_surface_get_data(b.surface()),
                     static_cast<std::size_t>(stride) * kH) == 0;
}

Image picture(std::uint8_t shade) {
  auto px = std::make_shared<std::vector<std::uint8_t>>(std::size_t{32} * 24 * 4);
  for (std::size_t i = 0; i < px->size(); i += 4) {
    (*px)[i] = shade;
    (*px)[i + 1] = static_cast<std::uint8_t>(i / 7);
    (*px)[i + 2] = 90;
    (*px)[i + 3] = 255;
  }
  return Image::from_rgba(px, 32, 24);
}

// A small screen: ground, a card, a clipped half-transparent layer with text
// and a stroke, a picture; `tweak` changes one thing in it.
struct Screen {
  double card_x = 20;
  std::string label = "host-1.example.net";
  float layer_alpha = 0.8f;
  double clip_x1 = 200;
  Color stroke = Color::from_hex(0x40c0ff);
  bool extra_dot = false;
  Image pic = picture(200);
  void record(Scene& s) const {
    s.reset();
    const Affine id = Affine::identity();
    s.fill(id, Color::from_hex(0x202428), Rect{0, 0, kW, kH});
    s.fill(id, Color::from_hex(0x30343a), RoundedRect{{card_x, 12, card_x + 90, 60}, 8});
    s.push_layer(BlendMode::Normal, layer_alpha, id, Rect{10, 70, clip_x1, 150});
    s.draw_text(TextRun{label, 13.0f, 2, FontFamily::Sans, Color::white(), Affine::translate(14.3, 80.6), {}});
    s.stroke(StrokeStyle::of_width(3), id, stroke, Line{{12, 120}, {190, 131.5}});
    if (extra_dot) s.fill(id, Color::from_hex(0xff3030), Circle{{150, 100}, 6.5});
    s.pop_layer();
    s.fill(id, ImageBrush{pic, Affine::translate(150, 10) * Affine::scale(1.5)}, Rect{150, 10, 198, 46});
    s.finish();
  }
};

struct Change {
  const char* name;
  std::function<void(Screen&)> apply;
};

TEST(Damage, RedrawingTheChangeMatchesAFullRedraw) {
  const Change changes[] = {
      {"nothing", [](Screen&) {}},
      {"card moves", [](Screen& s) { s.card_x = 37.5; }},
      {"text changes", [](Screen& s) { s.label = "host-2.example.org"; }},
      {"layer alpha", [](Screen& s) { s.layer_alpha = 0.3f; }},
      {"layer clip", [](Screen& s) { s.clip_x1 = 120.25; }},
      {"stroke colour", [](Screen& s) { s.stroke = Color::from_hex(0xffc040); }},
      {"command added", [](Screen& s) { s.extra_dot = true; }},
      {"new picture id", [](Screen& s) { s.pic = picture(40); }},
  };
  for (double scale : {1.0, 1.5}) {
    for (const Change& change : changes) {
      SCOPED_TRACE(std::string(change.name) + " at scale " + std::to_string(scale));
      vesk_ui::text::PangoTextRenderer text;
      CairoRenderer renderer(text);
      DamageTracker tracker;
      Frame partial(kW, kH), full(kW, kH);
      Screen screen;
      Scene s;
      screen.record(s);
      const Affine device = Affine::scale(scale);
      auto first = tracker.update(s, text, device, kW, kH, false);
      ASSERT_EQ(first, (std::vector<PixelRect>{{0, 0, kW, kH}}));
      vesk_ui::render::render_damage(renderer, s, partial, scale, Color::black(), first, tracker.bounds());

      change.apply(screen);
      screen.record(s);
      const auto damage = tracker.update(s, text, device, kW, kH, false);
      if (std::string(change.name) == "nothing") {
        EXPECT_TRUE(damage.empty());
      } else {
        ASSERT_FALSE(damage.empty());
        EXPECT_NE(damage, (std::vector<PixelRect>{{0, 0, kW, kH}})) << "a small change redraws everything";
      }
      vesk_ui::render::render_damage(renderer, s, partial, scale, Color::black(), damage, tracker.bounds());
      vesk_ui::render::render_frame(renderer, s, full, scale, Color::black());
      EXPECT_TRUE(same_pixels(partial, full));

      // And back again: boxes kept from the frame before must still hold.
      Screen original;
      original.pic = screen.pic;
      original.record(s);
      const auto back = tracker.update(s, text, device, kW, kH, false);
      vesk_ui::render::render_damage(renderer, s, partial, scale, Color::black(), back, tracker.bounds());
      vesk_ui::render::render_frame(renderer, s, full, scale, Color::black());
      EXPECT_TRUE(same_pixels(partial, full));
    }
  }
}

TEST(Damage, SizeOrScaleChangeAndForgetRedrawEverything) {
  vesk_ui::text::PangoTextRenderer text;
  DamageTracker tracker;
  Screen screen;
  Scene s;
  screen.record(s);
  const std::vector<PixelRect> whole{{0, 0, kW, kH}};
  EXPECT_EQ(tracker.update(s, text, Affine::identity(), kW, kH, false), whole);
  EXPECT_TRUE(tracker.update(s, text, Affine::identity(), kW, kH, false).empty());
  EXPECT_EQ(tracker.update(s, text, Affine::scale(2), kW, kH, false), whole);
  EXPECT_EQ(tracker.update(s, text, Affine::scale(2), kW + 1, kH, false), (std::vector<PixelRect>{{0, 0, kW + 1, kH}}));
  tracker.forget();
  EXPECT_EQ(tracker.update(s, text, Affine::scale(2), kW + 1, kH, false), (std::vector<PixelRect>{{0, 0, kW + 1, kH}}));
  EXPECT_EQ(tracker.update(s, text, Affine::scale(2), kW + 1, kH, true), (std::vector<PixelRect>{{0, 0, kW + 1, kH}}));
}

TEST(Damage, MergesTouchingRectanglesAndFallsBackToTheWholeFrame) {
  using vesk_ui::render::merge_damage;
  // Overlapping ones become one; far apart ones stay apart; outside is clipped.
  EXPECT_EQ(
      merge_damage({Rect{0, 0, 10, 10}, Rect{5, 5, 20, 20}, Rect{100, 100, 110, 105}, Rect{-5, -5, -1, -1}}, kW, kH),
      (std::vector<PixelRect>{{0, 0, 20, 20}, {100, 100, 10, 5}}));
  // A chain merged late still swallows what it reaches.
  EXPECT_EQ(merge_damage({Rect{0, 0, 10, 10}, Rect{20, 0, 30, 10}, Rect{8, 0, 22, 10}}, kW, kH),
            (std::vector<PixelRect>{{0, 0, 30, 10}}));
  // More than half the frame: all of it.
  EXPECT_EQ(merge_damage({Rect{0, 0, kW, kH * 0.6}}, kW, kH), (std::vector<PixelRect>{{0, 0, kW, kH}}));
  // Too many pieces: all of it.
  std::vector<Rect> many;
  for (int i = 0; i < 12; ++i) many.push_back(Rect{i * 20.0, 0, i * 20.0 + 5, 5});
  EXPECT_EQ(merge_damage(many, kW, kH), (std::vector<PixelRect>{{0, 0, kW, kH}}));
  EXPECT_TRUE(merge_damage({}, kW, kH).empty());
}

}  // namespace
