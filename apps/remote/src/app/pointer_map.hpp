#pragma once
// Where a window point falls in the remote picture: one rule for the VNC
// framebuffer and the device's stream, both painted into the session surface.

#include <optional>

#include "apps/remote/src/app/state.hpp"

namespace remote::app {

// A position in the remote picture's pixels, fractional.
struct RemotePoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const RemotePoint&, const RemotePoint&) = default;
};

// The point inside the painted surface (x0 ≤ x < x1, y0 ≤ y < y1, both
// extents positive) mapped into a picture of width × height (both at least
// one pixel): clamp((x − x0) / (x1 − x0) × width, 0, width − 1), likewise y.
// Scaled to fit or shown 1:1, the surface is where the picture was painted,
// so the same rule serves both. None outside the surface or for an empty one.
std::optional<RemotePoint> map_to_remote(const Rect& surface, double x, double y, double width, double height);

}  // namespace remote::app
