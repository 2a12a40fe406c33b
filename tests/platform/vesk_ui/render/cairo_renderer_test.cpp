#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/vesk_ui/render/cairo_renderer.hpp"

namespace {

using namespace vesk_ui::scene;
using vesk_ui::render::CairoRenderer;
using vesk_ui::render::Frame;
using vesk_ui::render::render_frame;

::testing::AssertionResult near(Rgba8 got, Rgba8 want, int tol = 2) {
  auto d = [](int a, int b) { return std::abs(a - b); };
  if (d(got.r, want.r) <= tol && d(got.g, want.g) <= tol && d(got.b, want.b) <= tol && d(got.a, want.a) <= tol) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got " << int(got.r) << "," << int(got.g) << "," << int(got.b) << ","
                                       << int(got.a) << " want " << int(want.r) << "," << int(want.g) << ","
                                       << int(want.b) << "," << int(want.a);
}

constexpr Rgba8 kBlack{0, 0, 0, 255};
constexpr Rgba8 kRed{255, 0, 0, 255};
constexpr Rgba8 kGreen{0, 255, 0, 255};
constexpr Rgba8 kBlue{0, 0, 255, 255};

class CairoBackend : public ::testing::Test {
 protected:
  vesk_ui::text::PangoTextRenderer text;
  CairoRenderer renderer{text};
  Frame frame{100, 100};
  void draw(const Scene& s, double scale = 1.0) { render_frame(renderer, s, frame, scale, Color::black()); }
};

TEST_F(CairoBackend, ShapesLandWhereRecorded) {
  Scene s;
  s.fill(Affine::identity(), Color::from_hex(0xff0000), Rect{10, 10, 30, 30});
  s.fill(Affine::identity(), Color::from_hex(0x00ff00), RoundedRect{{40, 10, 80, 50}, 12});
  s.fill(Affine::translate(20, 70), Color::from_hex(0x0000ff), Circle{{0, 0}, 10});
  s.stroke(StrokeStyle::of_width(4), Affine::identity(), Color::white(), Line{{50, 80}, {90, 80}});
  Path tri;
  tri.move_to({60, 60}).line_to({70, 60}).line_to({60, 70}).close();
  s.fill(Affine::identity(), Color::from_hex(0xff0000), tri);
  draw(s);
  EXPECT_TRUE(near(frame.pixel(20, 20), kRed));
  EXPECT_TRUE(near(frame.pixel(9, 20), kBlack));
  EXPECT_TRUE(near(frame.pixel(60, 30), kGreen));
  EXPECT_TRUE(near(frame.pixel(41, 11), kBlack));  // cut away by the corner radius
  EXPECT_TRUE(near(frame.pixel(20, 70), kBlue));
  EXPECT_TRUE(near(frame.pixel(20, 59), kBlack));
  EXPECT_TRUE(near(frame.pixel(70, 80), {255, 255, 255, 255}));
  EXPECT_TRUE(near(frame.pixel(70, 85), kBlack));
  EXPECT_TRUE(near(frame.pixel(62, 62), kRed));
  EXPECT_TRUE(near(frame.pixel(68, 68), kBlack));
}

TEST_F(CairoBackend, ClipLayersAndAlpha) {
  Scene s;
  s.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), Rect{0, 0, 50, 100});
  s.fill(Affine::identity(), Color::from_hex(0xff0000), Rect{0, 0, 100, 50});
  s.pop_layer();
  s.push_layer(BlendMode::Normal, 0.5f, Affine::identity(), Rect{0, 50, 100, 100});
  s.fill(Affine::identity(), Color::white(), Rect{0, 0, 100, 100});
  s.pop_layer();
  s.fill(Affine::identity(), Color::from_hex(0x0000ff).with_alpha(0.5f), Rect{90, 0, 100, 10});
  draw(s);
  EXPECT_TRUE(near(frame.pixel(25, 25), kRed));
  EXPECT_TRUE(near(frame.pixel(75, 25), kBlack));  // outside the first clip
  EXPECT_TRUE(near(frame.pixel(25, 75), {128, 128, 128, 255}));
  EXPECT_TRUE(near(frame.pixel(95, 5), {0, 0, 128, 255}));
}

TEST_F(CairoBackend, ScaleMapsLogicalToPhysicalPixels) {
  Frame big(200, 200);
  Scene s;
  s.fill(Affine::identity(), Color::from_hex(0x00ff00), Rect{50, 50, 60, 60});
  render_frame(renderer, s, big, 2.0, Color::black());
  EXPECT_TRUE(near(big.pixel(101, 101), kGreen));
  EXPECT_TRUE(near(big.pixel(118, 118), kGreen));
  EXPECT_TRUE(near(big.pixel(121, 121), kBlack));
}

std::shared_ptr<const std::vector<std::uint8_t>> quad_pixels() {
  // 2x2: red, green / blue, white at half alpha.
  return std::make_shared<const std::vector<std::uint8_t>>(
      std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128});
}

TEST_F(CairoBackend, ImagesKeepTheirChannelsAndAreConvertedOncePerId) {
  const Image img = Image::from_rgba(quad_pixels(), 2, 2);
  Scene s;
  // Each image pixel becomes a 20x20 block at (10,10); nearest sampling keeps blocks crisp.
  ImageBrush brush{img, Affine::scale(20), ImageQuality::Low};
  s.fill(Affine::translate(10, 10), brush, Rect{0, 0, 40, 40});
  draw(s);
  EXPECT_TRUE(near(frame.pixel(15, 15), kRed));
  EXPECT_TRUE(near(frame.pixel(45, 15), kGreen));
  EXPECT_TRUE(near(frame.pixel(15, 45), kBlue));
  EXPECT_TRUE(near(frame.pixel(45, 45), {128, 128, 128, 255}));  // half white over black
  EXPECT_EQ(renderer.conversions(), 1u);
  draw(s);
  draw(s);
  EXPECT_EQ(renderer.conversions(), 1u);  // same id: cached

  // Same bytes, new picture: converted again (cached by id, never by address).
  Scene fresh;
  fresh.draw_image(Image::from_rgba(img.pixels, 2, 2), Affine::identity());
  draw(fresh);
  EXPECT_EQ(renderer.conversions(), 2u);
  draw(fresh);
  draw(fresh);
  EXPECT_EQ(renderer.cached_images(), 1u);  // the first picture, unused for two frames, was dropped
}

TEST(PictureConversion, WordWiseConversionsMatchTheDefinition) {
  // Every (channel, alpha) pair: c * a / 255 rounded to nearest, channels swapped to B, G, R, A.
  std::vector<std::uint8_t> rgba;
  for (int a = 0; a < 256; ++a) {
    for (int c = 0; c < 256; ++c) {
      rgba.insert(rgba.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(255 - c),
                               static_cast<std::uint8_t>(c ^ 0x5a), static_cast<std::uint8_t>(a)});
    }
  }
  std::vector<std::uint8_t> out(rgba.size() + 256 * 8);  // rows of 256 pixels, 8 bytes of padding each
  const int stride = 256 * 4 + 8;
  vesk_ui::render::rgba_to_argb32(rgba.data(), 256, 256, out.data(), stride);
  auto mul = [](int c, int a) { return (c * a + 127) / 255; };
  int wrong = 0;
  for (int a = 0; a < 256; ++a) {
    for (int x = 0; x < 256; ++x) {
      const std::uint8_t* s = &rgba[(static_cast<std::size_t>(a) * 256 + x) * 4];
      std::uint32_t v;
      std::memcpy(&v, &out[static_cast<std::size_t>(a) * stride + x * 4u], 4);
      const std::uint32_t want = (std::uint32_t(a) << 24) | (std::uint32_t(mul(s[0], a)) << 16) |
                                 (std::uint32_t(mul(s[1], a)) << 8) | std::uint32_t(mul(s[2], a));
      wrong += v != want;
    }
  }
  EXPECT_EQ(wrong, 0);
  vesk_ui::render::rgba_to_xrgb32(rgba.data(), 256, 256, out.data(), stride);
  wrong = 0;
  for (int a = 0; a < 256; ++a) {
    for (int x = 0; x < 256; ++x) {
      const std::uint8_t* s = &rgba[(static_cast<std::size_t>(a) * 256 + x) * 4];
      std::uint32_t v;
      std::memcpy(&v, &out[static_cast<std::size_t>(a) * stride + x * 4u], 4);
      wrong += v != (0xFF000000u | (std::uint32_t(s[0]) << 16) | (std::uint32_t(s[1]) << 8) | s[2]);
    }
  }
  EXPECT_EQ(wrong, 0);
  // The opacity scan finds one transparent pixel anywhere, also in a block's tail.
  std::vector<std::uint8_t> solid(std::size_t{3000} * 4, 255);
  EXPECT_TRUE(vesk_ui::render::all_opaque(solid.data(), 3000));
  for (std::size_t at : {std::size_t{0}, std::size_t{1023}, std::size_t{1024}, std::size_t{2999}}) {
    solid[at * 4 + 3] = 254;
    EXPECT_FALSE(vesk_ui::render::all_opaque(solid.data(), 3000)) << at;
    solid[at * 4 + 3] = 255;
  }
  solid[1] = 0;  // colour bytes do not matter
  EXPECT_TRUE(vesk_ui::render::all_opaque(solid.data(), 3000));
}

TEST_F(CairoBackend, PictureAtOneToOneIsCopiedAsIsAndAnOpaqueMarkSkipsItsAlpha) {
  // 1:1 on whole pixels takes the direct path; every pixel must land unchanged.
  auto px = std::make_shared<std::vector<std::uint8_t>>(std::size_t{30} * 20 * 4);
  for (std::size_t i = 0; i < px->size(); i += 4) {
    (*px)[i] = static_cast<std::uint8_t>(i * 3);
    (*px)[i + 1] = static_cast<std::uint8_t>(i / 5);
    (*px)[i + 2] = 77;
    (*px)[i + 3] = 255;
  }
  Image img = Image::from_rgba(px, 30, 20);
  Scene s;
  s.draw_image(img, Affine::translate(7, 9));
  draw(s);
  int wrong = 0;
  for (std::uint32_t y = 0; y < 20; ++y) {
    for (std::uint32_t x = 0; x < 30; ++x) {
      const std::uint8_t* p = &(*px)[(y * 30 + x) * 4];
      wrong += !(frame.pixel(7 + x, 9 + y) == Rgba8{p[0], p[1], p[2], 255});
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(frame.pixel(6, 9), kBlack);
  EXPECT_EQ(frame.pixel(37, 9), kBlack);
  // Cropped by the shape at 1:1: only the shape's part shows.
  Scene cropped;
  cropped.fill(Affine::identity(), ImageBrush{img, Affine::translate(-10, -5)}, Rect{0, 0, 10, 10});
  draw(cropped);
  const std::uint8_t* p = &(*px)[(5 * 30 + 10) * 4];
  EXPECT_EQ(frame.pixel(0, 0), (Rgba8{p[0], p[1], p[2], 255}));
  EXPECT_EQ(frame.pixel(10, 0), kBlack);
  // A picture marked opaque is drawn without looking at its alpha bytes.
  auto half = std::make_shared<std::vector<std::uint8_t>>(std::vector<std::uint8_t>{200, 100, 50, 128});
  Image marked = Image::from_rgba(half, 1, 1);
  marked.opaque = true;
  Scene one;
  one.draw_image(marked, Affine::translate(3, 3));
  draw(one);
  EXPECT_EQ(frame.pixel(3, 3), (Rgba8{200, 100, 50, 255}));
}

TEST_F(CairoBackend, PicturesInEitherByteOrderShowTheSameColours) {
  // One colour per pixel, written once as R, G, B, A and once as B, G, R, A.
  const std::uint8_t colours[4][3] = {{0x12, 0x34, 0x56}, {0xF0, 0x10, 0x20}, {0x00, 0xC0, 0xFF}, {0xFF, 0xFF, 0x00}};
  auto rgba = std::make_shared<std::vector<std::uint8_t>>();
  auto bgra = std::make_shared<std::vector<std::uint8_t>>();
  for (const auto& c : colours) {
    rgba->insert(rgba->end(), {c[0], c[1], c[2], 255});
    bgra->insert(bgra->end(), {c[2], c[1], c[0], 255});
  }
  for (bool opaque : {false, true}) {
    for (ImageQuality quality : {ImageQuality::Low, ImageQuality::Medium}) {
      Image a = Image::from_rgba(rgba, 2, 2), b = Image::from_bgra(bgra, 2, 2);
      a.opaque = b.opaque = opaque;
      for (double scale : {1.0, 20.0}) {
        SCOPED_TRACE(std::to_string(scale) + (opaque ? " opaque" : ""));
        Frame first(100, 100), second(100, 100);
        Scene s;
        s.fill(Affine::identity(), ImageBrush{a, Affine::translate(10, 10) * Affine::scale(scale), quality},
               Rect{10, 10, 10 + 2 * scale, 10 + 2 * scale});
        render_frame(renderer, s, first, 1.0, Color::black());
        s.reset();
        s.fill(Affine::identity(), ImageBrush{b, Affine::translate(10, 10) * Affine::scale(scale), quality},
               Rect{10, 10, 10 + 2 * scale, 10 + 2 * scale});
        render_frame(renderer, s, second, 1.0, Color::black());
        EXPECT_EQ(first.rgba(), second.rgba());
        const std::uint32_t in = static_cast<std::uint32_t>(10 + scale / 4);
        EXPECT_EQ(second.pixel(in, in), (Rgba8{0x12, 0x34, 0x56, 255}));
      }
    }
  }
  // Premultiplied alpha in the renderer's layout: half-bright red at half alpha over black.
  Scene half;
  half.draw_image(
      Image::from_bgra(std::make_shared<const std::vector<std::uint8_t>>(std::vector<std::uint8_t>{0, 0, 128, 128}), 1,
                       1),
      Affine::translate(5, 5));
  draw(half);
  EXPECT_TRUE(near(frame.pixel(5, 5), {128, 0, 0, 255}));
}

TEST_F(CairoBackend, ReusedPlacementOfAPictureMatchesDrawingItAnew) {
  // A 40x30 gradient scaled by 1.5 with bilinear sampling: the cached copy
  // (rectangle fill) must give what the general path (the same rectangle as a
  // path) gives, frame after frame and after a move. Neighbouring pixels
  // differ by about 10 in red, so a shifted or rescaled copy cannot pass; the
  // tolerance only covers pixman's two bilinear code paths.
  auto px = std::make_shared<std::vector<std::uint8_t>>(40 * 30 * 4);
  for (int i = 0; i < 40 * 30; ++i) {
    (*px)[i * 4 + 0] = static_cast<std::uint8_t>(i * 7);
    (*px)[i * 4 + 1] = static_cast<std::uint8_t>(i / 3);
    (*px)[i * 4 + 2] = static_cast<std::uint8_t>(255 - i);
    (*px)[i * 4 + 3] = 255;
  }
  const Image img = Image::from_rgba(px, 40, 30);
  auto scene_at = [&](double x, double y, bool as_path) {
    Scene s;
    ImageBrush brush{img, Affine::translate(x, y) * Affine::scale(1.5), ImageQuality::Medium};
    const Rect r{x, y, x + 60, y + 45};
    if (as_path) {
      Path p;
      p.move_to({r.x0, r.y0}).line_to({r.x1, r.y0}).line_to({r.x1, r.y1}).line_to({r.x0, r.y1}).close();
      s.fill(Affine::identity(), brush, p);
    } else {
      s.fill(Affine::identity(), brush, r);
    }
    return s;
  };
  for (auto [x, y] : {std::pair{10.0, 12.0}, std::pair{10.0, 12.0}, std::pair{25.0, 40.0}}) {
    Frame general(100, 100);
    render_frame(renderer, scene_at(x, y, true), general, 1.0, Color::black());
    draw(scene_at(x, y, false));
    for (std::uint32_t py = 0; py < 100; ++py) {
      for (std::uint32_t pxl = 0; pxl < 100; ++pxl) {
        ASSERT_TRUE(near(frame.pixel(pxl, py), general.pixel(pxl, py), 3))
            << pxl << "," << py << " at " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(renderer.conversions(), 1u);
}

TEST_F(CairoBackend, BadInputDrawsNothingAndSpoilsNothing) {
  Scene s;
  s.draw_image(Image::from_rgba(quad_pixels(), 3, 3), Affine::identity());  // too few bytes
  s.draw_image(Image::from_rgba(nullptr, 5, 5), Affine::identity());
  s.fill(Affine::scale(0), Color::white(), Rect{0, 0, 100, 100});  // not invertible
  s.fill(Affine::identity(), Color::white(), Rect{0, 0, std::nan(""), 100});
  s.stroke(StrokeStyle::of_width(-1), Affine::identity(), Color::white(), Line{{0, 0}, {100, 100}});
  s.push_layer(BlendMode::Normal, 1.0f, Affine::scale(0), Rect{0, 0, 100, 100});
  s.fill(Affine::identity(), Color::white(), Rect{0, 0, 100, 100});  // clipped away entirely
  s.pop_layer();
  s.fill(Affine::identity(), Color::from_hex(0xff0000), Rect{40, 40, 60, 60});  // still drawn
  draw(s);
  EXPECT_TRUE(near(frame.pixel(5, 5), kBlack));
  EXPECT_TRUE(near(frame.pixel(50, 50), kRed));
}

TEST_F(CairoBackend, TextRunsPaintInsideTheirBox) {
  Scene s;
  text.draw_text_weighted(s, "HHHH", 20.0f, Color::white(), Affine::translate(10, 10), std::nullopt, 3);
  draw(s);
  const auto size = text.measure_weighted("HHHH", 20.0f, std::nullopt, 3);
  int lit_inside = 0;
  int lit_outside = 0;
  for (std::uint32_t y = 0; y < 100; ++y) {
    for (std::uint32_t x = 0; x < 100; ++x) {
      const bool lit = frame.pixel(x, y).r > 128;
      const bool inside = x >= 10 && x < 10 + size.width + 1 && y >= 10 && y < 10 + size.height + 1;
      (inside ? lit_inside : lit_outside) += lit;
    }
  }
  EXPECT_GT(lit_inside, 100);
  EXPECT_EQ(lit_outside, 0);
}

TEST_F(CairoBackend, WritesPng) {
  Scene s;
  s.fill(Affine::identity(), Color::from_hex(0x00ff00), Rect{0, 0, 100, 100});
  draw(s);
  const std::string path = ::testing::TempDir() + "/vesk_ui_frame.png";
  ASSERT_TRUE(frame.write_png(path).has_value());
  EXPECT_FALSE(frame.write_png("/nonexistent-dir/x.png").has_value());
}

}  // namespace
