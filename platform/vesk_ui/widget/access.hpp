#pragma once
// The accessibility tree widgets describe themselves with, and the semantic
// actions the framework derives from it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vesk_ui/scene/geometry.hpp"

namespace vesk_ui::access {

enum class Role : std::uint8_t {
  Root = 0,
  Dialog = 1,
  Group = 2,
  Toolbar = 3,
  ButtonGroup = 4,
  Menu = 5,
  MenuItem = 6,
  Tab = 7,
  List = 8,
  ListItem = 9,
  Tree = 10,
  TreeItem = 11,
  Table = 12,
  Row = 13,
  Cell = 14,
  Link = 15,
  Image = 16,
  Button = 17,
  ToggleButton = 18,
  CheckBox = 19,
  Option = 20,
  RadioButton = 21,
  Slider = 22,
  ProgressBar = 23,
  ComboBox = 24,
  TextInput = 25,
  Label = 32,
  Text = 33,
  Heading = 34,
  Status = 35,
  Terminal = 36,
  Canvas = 37,
  RemotePicture = 38,
  Unknown = 255,
};

std::string_view role_name(Role role);

// Semantic action kinds; the numbers are part of the interface.
enum class ActionKind : std::uint8_t {
  Activate = 0,
  Focus = 1,
  Toggle = 2,
  Expand = 3,
  Collapse = 4,
  Increment = 5,
  Decrement = 6,
  SetValue = 7,
  ScrollIntoView = 8,
  Select = 9,
  Dismiss = 10,
};

std::string_view action_kind_name(ActionKind kind);
std::optional<ActionKind> parse_action_kind(std::string_view name);

struct SemanticAction {
  ActionKind kind = ActionKind::Activate;
  std::optional<std::string> value;  // SetValue carries the new text
  friend bool operator==(const SemanticAction&, const SemanticAction&) = default;
};

// Text markers: 0 marks live status text; 2 is plain content (the default).
inline constexpr std::uint8_t kTextMarkerStatus = 0;
inline constexpr std::uint8_t kTextMarkerDefault = 2;

struct AccessNode {
  Role role = Role::Unknown;
  std::optional<std::string> label;
  std::optional<std::string> description;
  std::optional<std::string> value;
  std::optional<std::uint64_t> id;
  std::optional<std::string> action_id;
  std::optional<scene::Rect> bounds;
  std::optional<std::uint32_t> set_size;
  std::optional<std::uint32_t> position_in_set;
  bool focused = false;
  bool selected = false;
  std::optional<bool> toggled;
  std::optional<bool> expanded;
  bool modal = false;
  std::uint8_t text_marker = kTextMarkerDefault;
  std::vector<AccessNode> children;

  // Appends the children in order.
  AccessNode& with_children(std::vector<AccessNode> more) &;
  AccessNode with_children(std::vector<AccessNode> more) &&;  // by value: x = std::move(x).with_children(...) is safe

  // Depth first, first match.
  const AccessNode* find_by_action_id(std::string_view action_id) const;
  const AccessNode* find_by_id(std::uint64_t id) const;

  friend bool operator==(const AccessNode&, const AccessNode&) = default;
};

// The stable 64-bit node id of an element id text: FNV-1a over its UTF-8
// bytes followed by one 0xFF byte.
std::uint64_t node_id(std::string_view id_text);

// The actions each role offers.
std::vector<ActionKind> actions_for_role(Role role);

struct SemanticBinding {
  std::string action_id;
  std::optional<std::uint64_t> node_id;
  Role role = Role::Unknown;
  std::optional<std::string> label;
  std::vector<ActionKind> actions;
  friend bool operator==(const SemanticBinding&, const SemanticBinding&) = default;
};

// One binding per node that has an action id and whose role offers actions,
// in depth-first order.
std::vector<SemanticBinding> semantic_action_bindings(const AccessNode& root);

}  // namespace vesk_ui::access

namespace vesk_ui::widget {
using access::AccessNode;
using access::semantic_action_bindings;
}  // namespace vesk_ui::widget
