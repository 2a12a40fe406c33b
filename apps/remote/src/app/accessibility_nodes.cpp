#include "apps/remote/src/app/accessibility_nodes.hpp"

#include <algorithm>

#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/remote_app.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::Role;

const UiMessage* AccessTargets::find(std::string_view action_id) const {
  const auto it =
      std::find_if(targets_.begin(), targets_.end(), [&](const AccessTarget& t) { return t.action_id == action_id; });
  return it == targets_.end() ? nullptr : &it->message;
}

AccessNode AccessBuilder::interactive(Role role, std::string label, std::string action_id,
                                      const UiMessage& message) const {
  const std::optional<Rect> bounds = regions_ ? find_hit_region_bounds(*regions_, message) : std::nullopt;
  return interactive_at(role, std::move(label), std::move(action_id), message, bounds);
}

AccessNode AccessBuilder::interactive_at(Role role, std::string label, std::string action_id, const UiMessage& message,
                                         std::optional<Rect> bounds) const {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  n.id = vesk_ui::access::node_id(action_id);
  n.bounds = bounds;
  if (targets_) targets_->add(action_id, *n.id, message);
  n.action_id = std::move(action_id);
  return n;
}

AccessNode passive(Role role, std::string label, std::string_view id_text, std::uint8_t marker) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  n.id = vesk_ui::access::node_id(id_text);
  n.text_marker = marker;
  return n;
}

AccessNode group(Role role, std::string label, std::optional<std::string_view> id_text) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  if (id_text) n.id = vesk_ui::access::node_id(*id_text);
  return n;
}

bool has_keyboard_focus(const AppState& state, InputField field) {
  return state.focused_input == field && !state.confirmation;
}

std::optional<Rect> new_connection_bounds(const RemoteApp& app, bool rail) {
  // The rail's lies in its strip (the topmost there); the list's header
  // button is the first one outside it.
  const double rail_x1 = app.bounds().x0 + kRailWidth;
  const auto ours = [&](const HitRegion& r) {
    return r.message == UiMessage::new_connection() && (r.rect.x1 <= rail_x1) == rail;
  };
  const std::vector<HitRegion>& regions = app.state().hit_regions;
  if (rail) {
    const auto it = std::find_if(regions.rbegin(), regions.rend(), ours);
    return it == regions.rend() ? std::nullopt : std::optional<Rect>(it->rect);
  }
  const auto it = std::find_if(regions.begin(), regions.end(), ours);
  return it == regions.end() ? std::nullopt : std::optional<Rect>(it->rect);
}

}  // namespace remote::app
