#include <gtest/gtest.h>

#include "platform/vesk_ui/scene/scene.hpp"

namespace {

using namespace vesk_ui::scene;

TEST(Scene, RecordsCommandsInOrderAndDumpsThem) {
  Scene s;
  s.fill(Affine::identity(), Color::from_hex(0xff0000), Rect{0, 0, 10, 20});
  s.push_layer(BlendMode::Normal, 1.0f, Affine::translate(5, 5), RoundedRect{{0, 0, 4, 4}, 2});
  s.stroke(StrokeStyle::of_width(2), Affine::identity(), Color::white(), Line{{0, 0}, {3, 4}});
  s.pop_layer();
  Path p;
  p.move_to({0, 0}).line_to({1, 0}).quad_to({2, 1}, {2, 2}).close();
  s.fill(Affine::scale(2), Color::black(), p);
  s.draw_text(TextRun{"hi", 12.0f, 3, FontFamily::Mono, Color::white(), Affine::translate(1, 2), 50.0});
  s.finish();
  EXPECT_TRUE(s.balanced());
  EXPECT_EQ(s.dump(),
            "fill rect(0,0 10,20) #ff0000ff t=id\n"
            "push a=1 rrect(0,0 4,4) r=2 t=[1 0 0 1 5 5]\n"
            "stroke w=2 line(0,0 3,4) #ffffffff t=id\n"
            "pop\n"
            "fill path(M0,0 L1,0 Q2,1 2,2 Z) #000000ff t=[2 0 0 2 0 0]\n"
            "text \"hi\" size=12 w=3 mono #ffffffff t=[1 0 0 1 1 2] wrap=50\n");
}

TEST(Scene, EqualDrawingsGiveEqualLists) {
  auto draw = [](Scene& s, std::uint64_t image_id) {
    s.fill(Affine::identity(), Color::from_hex(0x123456), Circle{{4, 4}, 3});
    s.draw_image(Image{nullptr, image_id, 2, 2}, Affine::translate(1, 1));
  };
  Scene a, b, c;
  draw(a, 7);
  draw(b, 7);
  draw(c, 8);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.dump(), b.dump());
  EXPECT_FALSE(a == c);  // a new picture is a different image
  // The hashes taken while recording agree with the comparison.
  EXPECT_EQ(a.command_hashes(), b.command_hashes());
  EXPECT_EQ(a.fingerprint(), b.fingerprint());
  EXPECT_EQ(a.command_hashes()[0], c.command_hashes()[0]);
  EXPECT_NE(a.command_hashes()[1], c.command_hashes()[1]);
  EXPECT_NE(a.fingerprint(), c.fingerprint());
  // -0 equals 0, so it hashes the same; order and count matter.
  Scene zero, minus_zero, swapped, longer;
  zero.fill(Affine::translate(0, 1), Color::white(), Rect{0, 0, 1, 1});
  minus_zero.fill(Affine::translate(-0.0, 1), Color::white(), Rect{-0.0, 0, 1, 1});
  EXPECT_EQ(zero, minus_zero);
  EXPECT_EQ(zero.fingerprint(), minus_zero.fingerprint());
  draw(swapped, 7);
  swapped.reset();
  swapped.draw_image(Image{nullptr, 7, 2, 2}, Affine::translate(1, 1));
  swapped.fill(Affine::identity(), Color::from_hex(0x123456), Circle{{4, 4}, 3});
  EXPECT_NE(a.fingerprint(), swapped.fingerprint());
  draw(longer, 7);
  longer.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), Rect{0, 0, 1, 1});
  longer.pop_layer();
  EXPECT_NE(a.fingerprint(), longer.fingerprint());
  EXPECT_EQ(longer.command_hashes().size(), longer.commands().size());
  longer.reset();
  EXPECT_TRUE(longer.command_hashes().empty());
}

TEST(Scene, ImageIdsAreFreshAndSizesChecked) {
  auto px = std::make_shared<const std::vector<std::uint8_t>>(16, 0);
  Image a = Image::from_rgba(px, 2, 2);
  Image b = Image::from_rgba(px, 2, 2);
  EXPECT_NE(a.id, b.id);
  EXPECT_NE(a.id, 0u);
  EXPECT_TRUE(a.is_valid());
  EXPECT_FALSE(Image::from_rgba(px, 3, 2).is_valid());  // 24 bytes needed
  EXPECT_FALSE(Image::from_rgba(px, 0, 2).is_valid());
  EXPECT_FALSE(Image::from_rgba(nullptr, 1, 1).is_valid());
  // width*height*4 overflows 32 bits; the check must not wrap around.
  EXPECT_FALSE(Image::from_rgba(px, 65536, 16384).is_valid());
}

TEST(SceneDeathTest, UnbalancedLayersAreCaughtInDebugBuilds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Scene extra_pop;
  EXPECT_DEBUG_DEATH(extra_pop.pop_layer(), "pop_layer without a matching push_layer");
  EXPECT_TRUE(extra_pop.empty());  // release builds ignore the stray pop

  Scene left_open;
  left_open.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), Rect{0, 0, 1, 1});
  EXPECT_DEBUG_DEATH(left_open.finish(), "clip layers still open");
}

TEST(Scene, ReleaseFinishClosesOpenLayers) {
#ifdef NDEBUG
  Scene s;
  s.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), Rect{0, 0, 1, 1});
  s.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), Rect{0, 0, 1, 1});
  s.finish();
  EXPECT_TRUE(s.balanced());
  EXPECT_EQ(s.commands().size(), 4u);
#else
  GTEST_SKIP() << "debug builds stop on an unbalanced scene instead";
#endif
}

TEST(Geometry, ContainsExcludesRightAndBottomEdges) {
  const Rect r{0, 0, 10, 10};
  EXPECT_TRUE(r.contains(0, 0));
  EXPECT_TRUE(r.contains(9.999, 9.999));
  EXPECT_FALSE(r.contains(10, 5));
  EXPECT_FALSE(r.contains(5, 10));
  const Affine t = Affine::translate(3, 4) * Affine::scale(2);
  EXPECT_EQ(t.apply({1, 1}), (Point{5, 6}));
}

}  // namespace
