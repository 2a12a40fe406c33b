// The accessibility tree as a whole (it mirrors what the paint pass shows):
// the navigation, the screen shown, the dialog over it and the notice.
#include "apps/remote/src/app/accessibility_screens.hpp"
#include "apps/remote/src/app/remote_app.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::Role;

namespace {

AccessNode navigation_node(const RemoteApp& app, const AccessBuilder& b) {
  const AppState& state = app.state();
  AccessNode nav = group(Role::ButtonGroup, "Remote navigation");
  const bool flap_open = state.flap.open == FlapOpen::Open;
  if (state.narrow) {
    AccessNode toggle = b.button(flap_open ? "Close navigation" : "Open navigation", "remote.nav.toggle",
                                 UiMessage::toggle_navigation());
    toggle.description = "Show Connections and Add connection";
    toggle.expanded = flap_open;
    nav.children.push_back(std::move(toggle));
  }
  if (!state.narrow || flap_open) {
    nav.children.push_back(b.button("Connections", "remote.nav.list", UiMessage::show_connections()));
    nav.children.push_back(b.interactive_at(Role::Button, "Add connection", "remote.connection.new",
                                            UiMessage::new_connection(), new_connection_bounds(app, true)));
  }
  return nav;
}

}  // namespace

AccessNode build_accessibility_tree(const RemoteApp& app, AccessTargets* targets, AccessRows rows) {
  const AppState& state = app.state();
  const AccessBuilder b(&state.hit_regions, targets);
  AccessNode root = group(Role::Root, "Remote");
  root.bounds = app.bounds();
  root.children.push_back(navigation_node(app, b));
  switch (state.screen.normalized().kind) {
    case Screen::Normalized::Kind::List: root.children.push_back(list_screen_node(app, b, rows)); break;
    case Screen::Normalized::Kind::Form: root.children.push_back(form_screen_node(app, b)); break;
    case Screen::Normalized::Kind::Session: root.children.push_back(session_screen_node(app, b)); break;
  }
  if (auto dialog = confirmation_node(app, b)) root.children.push_back(std::move(*dialog));
  if (state.notice) {
    root.children.push_back(
        passive(Role::Text, *state.notice, "remote.action.notice", vesk_ui::access::kTextMarkerStatus));
  }
  return root;
}

AccessNode RemoteApp::accessibility_tree() const {
  return build_accessibility_tree(*this, nullptr, AccessRows::Included);
}

}  // namespace remote::app
