#pragma once
// What every screen's accessibility nodes are made of. An interactive node
// stands for the message its control sends: the tree publishes the node with
// its action id, and the message goes with the id to the targets, where a
// client's semantic action on the node finds what to send.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/app/state.hpp"
#include "platform/vesk_ui/widget/access.hpp"

namespace remote::app {

class RemoteApp;
struct AppState;

struct AccessTarget {
  std::string action_id;
  std::uint64_t node_id = 0;  // of the action id, as the node has it
  UiMessage message;
};

// The interactive nodes of a tree or part of one, by action id.
class AccessTargets {
 public:
  void add(std::string action_id, std::uint64_t node_id, const UiMessage& message) {
    targets_.push_back({std::move(action_id), node_id, message});
  }
  // The message of the first node with this action id.
  const UiMessage* find(std::string_view action_id) const;
  const std::vector<AccessTarget>& all() const { return targets_; }

 private:
  std::vector<AccessTarget> targets_;
};

// Makes the nodes of one tree. An interactive node's bounds are the region
// its message had in the last frame; made without regions (rows kept
// across frames) it has none.
class AccessBuilder {
 public:
  AccessBuilder(const std::vector<HitRegion>* regions, AccessTargets* targets) : regions_(regions), targets_(targets) {}

  vesk_ui::access::AccessNode interactive(vesk_ui::access::Role role, std::string label, std::string action_id,
                                          const UiMessage& message) const;
  // The same where one message has several controls and the caller tells
  // which region is this node's.
  vesk_ui::access::AccessNode interactive_at(vesk_ui::access::Role role, std::string label, std::string action_id,
                                             const UiMessage& message, std::optional<Rect> bounds) const;
  vesk_ui::access::AccessNode button(std::string label, std::string action_id, const UiMessage& message) const {
    return interactive(vesk_ui::access::Role::Button, std::move(label), std::move(action_id), message);
  }

 private:
  const std::vector<HitRegion>* regions_;
  AccessTargets* targets_;
};

vesk_ui::access::AccessNode passive(vesk_ui::access::Role role, std::string label, std::string_view id_text,
                                    std::uint8_t marker);
vesk_ui::access::AccessNode group(vesk_ui::access::Role role, std::string label,
                                  std::optional<std::string_view> id_text = std::nullopt);

// Whether the input has the keys: a dialog takes them, whichever input keeps its place.
bool has_keyboard_focus(const AppState& state, InputField field);

// "remote.connection.new" is both the rail's Add and the list's New: each
// node takes the region of its own control.
std::optional<Rect> new_connection_bounds(const RemoteApp& app, bool rail);

}  // namespace remote::app
