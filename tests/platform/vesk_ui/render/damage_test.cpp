// Redrawing only what changed must give the very pixels a full redraw gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// A 60 × 40 picture of noise in either byte order, and the same picture with
// one area repainted.
struct Stream {
  PixelOrder order;
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(std::size_t{60} * 40 * 4);
  std::uint8_t seed = 1;
  explicit Stream(PixelOrder o) : order(o) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = (i % 4 == 3) ? 255 : static_cast<std::uint8_t>(i * 37 >> 3);
  }
  Image picture() const {
    auto px = std::make_shared<const std::vector<std::uint8_t>>(bytes);
    Image image = order == PixelOrder::Bgra ? Image::from_bgra(px, 60, 40) : Image::from_rgba(px, 60, 40);
    image.opaque = true;
    return image;
  }
  // The next picture, changed in `area`, which says so about `before`.
  Image next(const Image& before, ImageArea area) {
    ++seed;
    for (std::uint32_t y = area.y; y < area.y + area.h; ++y) {
      for (std::uint32_t x = area.x; x < area.x + area.w; ++x) {
        std::uint8_t* p = &bytes[(std::size_t{y} * 60 + x) * 4];
        p[0] = static_cast<std::uint8_t>(seed * 50 + x);
        p[1] = static_cast<std::uint8_t>(seed * 90);
        p[2] = static_cast<std::uint8_t>(y * 5);
      }
    }
    Image image = picture();
    image.set_changed_since(before, {area});
    return image;
  }
};

// Ground, the picture at (`x`, `y`) scaled by `scale`, and a label over its corner.
void record_picture_screen(Scene& s, const Image& pic, double x, double y, double scale) {
  s.reset();
  const Affine id = Affine::identity();
  s.fill(id, Color::from_hex(0x202428), Rect{0, 0, kW, kH});
  s.fill(id, ImageBrush{pic, Affine::translate(x, y) * Affine::scale(scale)},
         Rect{x, y, x + 60 * scale, y + 40 * scale});
  s.fill(id, Color::from_hex(0x40c0ff).with_alpha(0.5f), Rect{x - 5, y - 5, x + 12, y + 9});
  s.finish();
}

int64_t area_of(const std::vector<PixelRect>& rects) {
  int64_t a = 0;
  for (const PixelRect& r : rects) a += int64_t{r.w} * r.h;
  return a;
}

// Pixels that differ between two frames and lie outside every rectangle.
int changed_outside(const Frame& before, const Frame& after, const std::vector<PixelRect>& rects) {
  int n = 0;
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; ++x) {
      const bool in = std::any_of(rects.begin(), rects.end(), [&](const PixelRect& r) {
        return int(x) >= r.x && int(x) < r.x + r.w && int(y) >= r.y && int(y) < r.y + r.h;
      });
      if (!in && !(before.pixel(x, y) == after.pixel(x, y))) ++n;
    }
  }
  return n;
}

TEST(Damage, PictureThatSaysWhatChangedRedrawsOnlyThatAndMatchesAFullRedraw) {
  struct Case {
    const char* name;
    PixelOrder order;
    double x, y, scale, device;
    ImageArea tile;
  } cases[] = {
      {"1:1, renderer's layout", PixelOrder::Bgra, 40, 30, 1.0, 1.0, {20, 10, 8, 8}},
      {"1:1, RGBA", PixelOrder::Rgba, 40, 30, 1.0, 1.0, {20, 10, 8, 8}},
      {"enlarged", PixelOrder::Bgra, 41, 33, 1.5, 1.0, {20, 10, 8, 8}},
      {"reduced", PixelOrder::Bgra, 10, 12, 0.55, 2.0, {30, 20, 6, 6}},
      {"RGBA reduced", PixelOrder::Rgba, 10, 12, 0.55, 2.0, {30, 20, 6, 6}},
      {"on the picture's edge", PixelOrder::Bgra, 41, 33, 1.5, 1.0, {0, 34, 10, 6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vesk_ui::text::PangoTextRenderer text;
    CairoRenderer renderer(text);
    DamageTracker tracker;
    Frame partial(kW, kH), before(kW, kH);
    const Affine device = Affine::scale(c.device);
    Stream stream(c.order);
    Image pic = stream.picture();
    Scene s;
    record_picture_screen(s, pic, c.x, c.y, c.scale);
    vesk_ui::render::render_damage(renderer, s, partial, c.device, Color::black(),
                                   tracker.update(s, text, device, kW, kH, false), tracker.bounds());
    const PixelRect whole{static_cast<int>(std::floor(c.x * c.device)), static_cast<int>(std::floor(c.y * c.device)),
                          static_cast<int>(60 * c.scale * c.device), static_cast<int>(40 * c.scale * c.device)};
    for (int step = 0; step < 3; ++step) {
      vesk_ui::render::render_frame(renderer, s, before, c.device, Color::black());
      pic = stream.next(pic, c.tile);
      record_picture_screen(s, pic, c.x, c.y, c.scale);
      const auto damage = tracker.update(s, text, device, kW, kH, false);
      ASSERT_FALSE(damage.empty());
      EXPECT_LT(area_of(damage) * 4, int64_t{whole.w} * whole.h) << "step " << step;
      const std::uint64_t placed = renderer.placed_pixels(), converted = renderer.converted_pixels();
      vesk_ui::render::render_damage(renderer, s, partial, c.device, Color::black(), damage, tracker.bounds());
      EXPECT_LT((renderer.placed_pixels() - placed) * 4, std::uint64_t(whole.w) * whole.h) << "step " << step;
      EXPECT_LE(renderer.converted_pixels() - converted, std::uint64_t{c.tile.w} * c.tile.h) << "step " << step;
      EXPECT_EQ(changed_outside(before, partial, damage), 0) << "step " << step;
      // A renderer that never saw the pictures before draws the same.
      CairoRenderer fresh(text);
      Frame full(kW, kH);
      vesk_ui::render::render_frame(fresh, s, full, c.device, Color::black());
      ASSERT_TRUE(same_pixels(partial, full)) << "step " << step;
    }
  }
}

TEST(Damage, PictureWhoseChangesCannotBeFollowedIsRedrawnWhole) {
  // Each case shows picture A, then does something that loses track of it,
  // then shows a picture that says how it differs from the one before.
  struct Case {
    const char* name;
    std::function<void(Stream&, Image&, Scene&, DamageTracker&, CairoRenderer&, Frame&)> lose;
  };
  vesk_ui::text::PangoTextRenderer text;
  auto show = [&](Scene& s, DamageTracker& tracker, CairoRenderer& renderer, Frame& frame) {
    vesk_ui::render::render_damage(renderer, s, frame, 1.0, Color::black(),
                                   tracker.update(s, text, Affine::identity(), kW, kH, false), tracker.bounds());
  };
  const Case cases[] = {
      {"a picture skipped",
       [](Stream& st, Image& pic, Scene&, DamageTracker&, CairoRenderer&, Frame&) {
         pic = st.next(pic, {0, 0, 20, 20});  // never shown
       }},
      {"the picture off the screen for a while",
       [&](Stream&, Image&, Scene& s, DamageTracker& tracker, CairoRenderer& renderer, Frame& frame) {
         Scene plain;
         plain.fill(Affine::identity(), Color::from_hex(0x202428), Rect{0, 0, kW, kH});
         plain.finish();
         for (int i = 0; i < 3; ++i) show(plain, tracker, renderer, frame);
         (void)s;
       }},
      {"a new stream",
       [](Stream& st, Image& pic, Scene&, DamageTracker&, CairoRenderer&, Frame&) {
         st.bytes.assign(st.bytes.size(), 90);
         pic = st.picture();  // the picture of a new session knows nothing of the old one
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CairoRenderer renderer(text);
    DamageTracker tracker;
    Frame frame(kW, kH);
    Stream stream(PixelOrder::Bgra);
    Image pic = stream.picture();
    Scene s;
    record_picture_screen(s, pic, 41, 33, 1.5);
    show(s, tracker, renderer, frame);
    c.lose(stream, pic, s, tracker, renderer, frame);
    pic = stream.next(pic, {30, 20, 4, 4});
    record_picture_screen(s, pic, 41, 33, 1.5);
    const auto damage = tracker.update(s, text, Affine::identity(), kW, kH, false);
    EXPECT_GE(area_of(damage), 90 * 60) << "the whole picture";
    vesk_ui::render::render_damage(renderer, s, frame, 1.0, Color::black(), damage, tracker.bounds());
    CairoRenderer fresh(text);
    Frame full(kW, kH);
    vesk_ui::render::render_frame(fresh, s, full, 1.0, Color::black());
    EXPECT_TRUE(same_pixels(frame, full));
  }
  // A new size redraws everything, the picture included.
  CairoRenderer renderer(text);
  DamageTracker tracker;
  Stream stream(PixelOrder::Bgra);
  Image pic = stream.picture();
  Scene s;
  record_picture_screen(s, pic, 41, 33, 1.5);
  (void)tracker.update(s, text, Affine::identity(), kW, kH, false);
  pic = stream.next(pic, {30, 20, 4, 4});
  record_picture_screen(s, pic, 41, 33, 1.5);
  EXPECT_EQ(tracker.update(s, text, Affine::identity(), kW + 2, kH, false),
            (std::vector<PixelRect>{{0, 0, kW + 2, kH}}));
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
