#include "apps/remote/src/app/pointer_map.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace {

using remote::app::map_to_remote;
using remote::app::Rect;
using remote::app::RemotePoint;

// The surface a painter recorded for a picture (fitted or 1:1 makes no
// difference here: the surface is where the picture went).
TEST(AppPointerMap, WindowPointsBecomePositionsInTheRemotePicture) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    Rect surface;
    double x, y, width, height;
    std::optional<RemotePoint> expected;
  } cases[] = {
      {"top-left corner", {100, 50, 201, 150}, 100, 50, 101, 100, RemotePoint{0, 0}},
      {"halfway across 101 pixels", {100, 50, 201, 150}, 150.5, 100, 101, 100, RemotePoint{50.5, 50}},
      {"just inside the far edges: size - 1", {100, 50, 201, 150}, 200.999, 149.999, 101, 100, RemotePoint{100, 99}},
      {"on the right edge", {100, 50, 201, 150}, 201, 100, 101, 100, std::nullopt},
      {"on the bottom edge", {100, 50, 201, 150}, 150, 150, 101, 100, std::nullopt},
      {"left of the surface", {100, 50, 201, 150}, 99.9, 100, 101, 100, std::nullopt},
      {"above the surface", {100, 50, 201, 150}, 150, 49.9, 101, 100, std::nullopt},
      {"not a number", {100, 50, 201, 150}, nan, 100, 101, 100, std::nullopt},
      // A picture scaled down to fit: 1000 × 500 shown in 200 × 100.
      {"fitted: centre", {100, 100, 300, 200}, 200, 150, 1000, 500, RemotePoint{500, 250}},
      {"fitted: last pixel", {100, 100, 300, 200}, 299.9, 199.9, 1000, 500, RemotePoint{999, 499}},
      // Shown 1:1: one window unit per remote pixel.
      {"1:1", {10, 20, 330, 260}, 170.5, 30.25, 320, 240, RemotePoint{160.5, 10.25}},
      {"largest VNC frame", {100, 50, 201, 150}, 150, 100, 65535, 65535, RemotePoint{32443.06930693069, 32767.5}},
      {"zero-width picture", {100, 50, 201, 150}, 150, 100, 0, 100, std::nullopt},
      {"zero-height picture", {100, 50, 201, 150}, 150, 100, 100, 0, std::nullopt},
      {"empty surface", {10, 10, 10, 20}, 10, 15, 10, 10, std::nullopt},
      {"inverted surface", {20, 20, 10, 10}, 15, 15, 10, 10, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto got = map_to_remote(c.surface, c.x, c.y, c.width, c.height);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.what;
    if (!got) continue;
    EXPECT_NEAR(got->x, c.expected->x, 1e-6) << c.what;
    EXPECT_NEAR(got->y, c.expected->y, 1e-6) << c.what;
  }
}

}  // namespace
