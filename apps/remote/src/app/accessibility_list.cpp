// The accessibility of the connection list: the heading, the search and the
// rows, thousands of them, made once per record and kept by the list cache.
#include <algorithm>

#include "apps/remote/src/app/accessibility_screens.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::Role;

namespace {

// The list's New connection button shares its action id with the rail's Add
// connection; its node id is made from this text instead.
constexpr std::string_view kListNewConnectionNode = "remote.list.new-connection";

std::string_view presence_word(Presence presence) {
  switch (presence) {
    case Presence::Online: return "online";
    case Presence::Offline: return "offline";
    case Presence::Unknown: break;
  }
  return "status unknown";
}

std::string readiness_text(const SavedConnection& c, Readiness readiness) {
  if (readiness == Readiness::Ready) return "ready to connect";
  if (readiness == Readiness::InvalidProfile) {
    if (auto problem = c.validate_target()) return *problem;
  }
  return std::string(readiness.message(c.kind));
}

// The texts and ids of a row change only with its record and its readiness.
RowAccess make_row(const SavedConnection& c, Readiness readiness) {
  RowAccess made;
  const AccessBuilder b(nullptr, &made.targets);
  const std::string id = c.id.to_string();
  made.node = b.interactive(
      Role::ListItem,
      remote::text::fill("{}, {}, {}, {}, last used {}", {c.name, c.kind.label(), presence_word(c.presence),
                                                          readiness_text(c, readiness), c.last_used}),
      remote::text::fill("remote.connection:{}:select", {id}), UiMessage::select_connection(c.id));
  made.node.value = c.target_label();
  AccessNode star =
      b.interactive(Role::ToggleButton, c.favorite ? "Remove from favourites" : "Add to favourites",
                    remote::text::fill("remote.connection:{}:favorite", {id}), UiMessage::toggle_favorite(c.id));
  star.toggled = c.favorite;
  made.node.children.push_back(std::move(star));
  made.node.children.push_back(b.interactive(Role::Button, "Edit connection",
                                             remote::text::fill("remote.connection:{}:edit", {id}),
                                             UiMessage::edit_connection(c.id)));
  if (readiness == Readiness::Ready) {
    made.node.children.push_back(b.interactive(Role::Button, "Connect",
                                               remote::text::fill("remote.connection:{}:connect", {id}),
                                               UiMessage::request_connect(c.id)));
  }
  return made;
}

// A painted row's nodes take the regions of their messages in the last frame.
void place_row(AccessNode& row, const AccessTargets& targets, const std::vector<HitRegion>& regions) {
  const auto place = [&](AccessNode& node) {
    if (const UiMessage* message = targets.find(*node.action_id))
      node.bounds = find_hit_region_bounds(regions, *message);
  };
  place(row);
  for (AccessNode& child : row.children) place(child);
}

vesk_ui::access::NodeList rows_node_list(const RemoteApp& app) {
  const AppState& state = app.state();
  const ListCache& cached = app.list_results();
  // Only rows painted in the last frame have regions; the others need no lookup.
  std::vector<HitRegion> row_regions;
  std::vector<Uuid> painted;
  for (const HitRegion& region : state.hit_regions) {
    if (const Uuid* id = std::get_if<Uuid>(&region.message.payload)) {
      row_regions.push_back(region);
      painted.push_back(*id);
    }
  }
  std::sort(painted.begin(), painted.end());
  // Made again only when something the rows show changed.
  return cached.rows_node_list(state.selection, std::move(row_regions), [&] {
    const std::vector<std::size_t>& order = cached.order();
    const auto n = static_cast<std::uint32_t>(order.size());
    std::vector<AccessNode> made_rows;
    made_rows.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      const RowAccess& kept = cached.row(order[i], make_row);
      const SavedConnection& c = state.connections[order[i]];
      AccessNode row = kept.node;
      row.set_size = n;
      row.position_in_set = i + 1;
      row.selected = state.selection == c.id;
      if (std::binary_search(painted.begin(), painted.end(), c.id)) place_row(row, kept.targets, state.hit_regions);
      made_rows.push_back(std::move(row));
    }
    return vesk_ui::access::NodeList(std::move(made_rows));
  });
}

}  // namespace

AccessNode list_screen_node(const RemoteApp& app, const AccessBuilder& b, AccessRows rows) {
  const AppState& state = app.state();
  AccessNode list_screen = group(Role::Group, "Connections");
  list_screen.children.push_back(
      passive(Role::Heading, "Remote Machines", "remote.list.heading", vesk_ui::access::kTextMarkerDefault));
  AccessNode create = b.interactive_at(Role::Button, "New connection", "remote.connection.new",
                                       UiMessage::new_connection(), new_connection_bounds(app, false));
  create.id = vesk_ui::access::node_id(kListNewConnectionNode);
  list_screen.children.push_back(std::move(create));
  AccessNode search = b.interactive(Role::TextInput, "Search saved connections", "remote.field:search",
                                    UiMessage::focus_field(InputField::Search));
  search.description = "Shortcut: slash or Control F";
  search.value = state.search;
  search.focused = has_keyboard_focus(state, InputField::Search);
  list_screen.children.push_back(std::move(search));

  AccessNode list = group(Role::List, "Saved connections", "remote.list");
  if (rows == AccessRows::Included) list.children = rows_node_list(app);
  list_screen.children.push_back(std::move(list));
  if (app.list_results().order().empty()) {
    list_screen.children.push_back(passive(
        Role::Text,
        state.connections.empty() ? "No machines yet. Add a connection to reach it over SSH, VNC, or the Vesk relay."
                                  : "No machines match your search.",
        "remote.list.empty", vesk_ui::access::kTextMarkerStatus));
  }
  return list_screen;
}

std::optional<RowTarget> shown_row_target(const RemoteApp& app, std::string_view action_id) {
  if (app.state().screen.normalized().kind != Screen::Normalized::Kind::List) return std::nullopt;
  return app.list_results().row_target(action_id, make_row);
}

}  // namespace remote::app
