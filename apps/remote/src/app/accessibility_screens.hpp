#pragma once
// The parts of the accessibility tree, one per screen and one for the
// dialogs, and the whole tree made of them.

#include <optional>
#include <string_view>

#include "apps/remote/src/app/accessibility_nodes.hpp"
#include "apps/remote/src/app/list_cache.hpp"

namespace remote::app {

class RemoteApp;

// The rows of the connection list are thousands of nodes: a tree made for its
// targets alone leaves them out (the list cache finds a row's target).
enum class AccessRows : std::uint8_t { Included, Omitted };

// The whole tree; the targets of its interactive nodes go to `targets` when given.
vesk_ui::access::AccessNode build_accessibility_tree(const RemoteApp& app, AccessTargets* targets, AccessRows rows);

vesk_ui::access::AccessNode list_screen_node(const RemoteApp& app, const AccessBuilder& b, AccessRows rows);
vesk_ui::access::AccessNode form_screen_node(const RemoteApp& app, const AccessBuilder& b);
vesk_ui::access::AccessNode session_screen_node(const RemoteApp& app, const AccessBuilder& b);
std::optional<vesk_ui::access::AccessNode> confirmation_node(const RemoteApp& app, const AccessBuilder& b);

// The target of a row's control with this action id while the list shows the row.
std::optional<RowTarget> shown_row_target(const RemoteApp& app, std::string_view action_id);

}  // namespace remote::app
