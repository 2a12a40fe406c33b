#include "platform/vesk_ui/widget/nav_split.hpp"

#include <algorithm>
#include <cmath>

namespace vesk_ui::widget::nav_split {

namespace {
double unit(double p) { return std::isfinite(p) ? std::clamp(p, 0.0, 1.0) : 0.0; }
}  // namespace

double FlapState::reveal() const { return unit(position); }

double FlapState::slide() const {
  const double p = unit(position);
  const double q = 1.0 - p;
  return 1.0 - q * q * q;
}

double reveal(const FlapState& flap) { return flap.reveal(); }
double slide(const FlapState& flap) { return flap.slide(); }

}  // namespace vesk_ui::widget::nav_split
