#include "apps/remote/src/app/pointer_map.hpp"

#include <algorithm>

namespace remote::app {

std::optional<RemotePoint> map_to_remote(const Rect& surface, double x, double y, double width, double height) {
  const double sw = surface.x1 - surface.x0;
  const double sh = surface.y1 - surface.y0;
  if (!(sw > 0) || !(sh > 0) || !(width >= 1) || !(height >= 1) || !surface.contains(x, y)) return std::nullopt;
  const double px = std::clamp((x - surface.x0) / sw * width, 0.0, width - 1.0);
  const double py = std::clamp((y - surface.y0) / sh * height, 0.0, height - 1.0);
  return RemotePoint{px, py};
}

}  // namespace remote::app
