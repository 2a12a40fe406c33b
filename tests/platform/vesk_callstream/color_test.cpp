#include "platform/vesk_callstream/color.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace vesk_callstream::color {
namespace {

TEST(I420Rgba, LimitedRangeEndpointsMapToFullRange) {
  struct Case {
    std::uint8_t y, u, v;
    std::uint8_t r, g, b;
  };
  // Y 16 is black and 235 white; values outside the range clamp.
  const Case cases[] = {
      {16, 128, 128, 0, 0, 0},        {235, 128, 128, 255, 255, 255}, {0, 128, 128, 0, 0, 0},
      {255, 128, 128, 255, 255, 255}, {81, 90, 240, 255, 0, 0},       {41, 240, 110, 0, 0, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.y});
    std::uint8_t rgba[4] = {};
    i420_to_rgba(I420View{&c.y, &c.u, &c.v, 1, 1, 1, 1}, rgba);
    EXPECT_NEAR(rgba[0], c.r, 2);
    EXPECT_NEAR(rgba[1], c.g, 2);
    EXPECT_NEAR(rgba[2], c.b, 2);
    EXPECT_EQ(rgba[3], 255);
  }
}

TEST(I420Rgba, RoundTripKeepsSolidColours) {
  const std::uint8_t colours[][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},  {0, 255, 0},
                                     {255, 0, 255},   {255, 0, 0},   {0, 0, 255},    {0, 0, 0},
                                     {255, 128, 0},   {40, 40, 40},  {128, 128, 128}};
  for (const auto& c : colours) {
    SCOPED_TRACE(std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]));
    std::vector<std::uint8_t> rgba(4 * 4 * 4);
    for (std::size_t i = 0; i < 16; ++i) {
      rgba[i * 4] = c[0];
      rgba[i * 4 + 1] = c[1];
      rgba[i * 4 + 2] = c[2];
    }
    std::uint8_t y[16], u[4], v[4];
    rgba_to_i420(rgba, I420Planes{y, u, v, 4, 2, 4, 4});
    std::vector<std::uint8_t> back(rgba.size());
    i420_to_rgba(I420View{y, u, v, 4, 2, 4, 4}, back);
    for (std::size_t i = 0; i < 16; ++i) {
      EXPECT_NEAR(back[i * 4], c[0], 3);
      EXPECT_NEAR(back[i * 4 + 1], c[1], 3);
      EXPECT_NEAR(back[i * 4 + 2], c[2], 3);
    }
  }
}

TEST(I420Rgba, OddSizesUseTheLastChromaSample) {
  // 3x3 picture: chroma planes are 2x2 and the last column and row use the
  // second sample. Strides wider than the picture are honoured.
  const std::uint8_t y[3 * 5] = {235, 235, 16, 0, 0, 235, 235, 16, 0, 0, 16, 16, 16, 0, 0};
  const std::uint8_t u[2 * 3] = {128, 128, 0, 128, 128, 0};
  const std::uint8_t v[2 * 3] = {128, 240, 0, 128, 240, 0};
  std::vector<std::uint8_t> rgba(3 * 3 * 4);
  i420_to_rgba(I420View{y, u, v, 5, 3, 3, 3}, rgba);
  auto px = [&](int x, int row) { return &rgba[static_cast<std::size_t>(row * 3 + x) * 4]; };
  EXPECT_EQ(px(0, 0)[0], 255);  // white
  EXPECT_EQ(px(0, 0)[2], 255);
  EXPECT_GT(px(2, 0)[0], 150);  // Y 16 with red chroma
  EXPECT_LT(px(2, 0)[1], 10);
  EXPECT_GT(px(2, 2)[0], 150);  // last row reuses chroma row 1
  std::vector<std::uint8_t> rgb_in(3 * 3 * 4, 200);
  std::uint8_t y2[9], u2[4], v2[4];
  rgba_to_i420(rgb_in, I420Planes{y2, u2, v2, 3, 2, 3, 3});
  for (std::uint8_t c : u2) EXPECT_EQ(c, 128);
}

}  // namespace
}  // namespace vesk_callstream::color
