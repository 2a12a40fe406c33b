#pragma once
// The state of a navigation flap that slides in from the side.

#include <cstdint>
#include <optional>

namespace vesk_ui::widget::nav_split {

enum class FlapOpen : std::uint8_t { Closed = 0, Open = 1, Automatic = 2 };

struct FlapState {
  double position = 1.0;  // 0 closed .. 1 open
  FlapOpen open = FlapOpen::Automatic;
  std::optional<bool> narrow_at_last_layout;  // unset until the first layout
  bool automatic_default = true;

  // How much of the flap's width the content gives up: linear in position.
  double reveal() const;
  // How far the flap has slid in: eased out, so it arrives softly.
  double slide() const;
};

// Free forms of the two, for callers that hold the state elsewhere.
double reveal(const FlapState& flap);
double slide(const FlapState& flap);

}  // namespace vesk_ui::widget::nav_split
