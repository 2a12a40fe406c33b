#pragma once
// The accessibility tree widgets describe themselves with, and the semantic
// actions the framework derives from it.

#include <cstddef>
#include <cstdint>
#include <memory>
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

struct AccessNode;

// A node's children. Copies share one list until one of them is changed, so a
// widget can hand out a large unchanged subtree frame after frame for the
// price of a reference, and the publisher can tell that it is unchanged
// without walking it.
class NodeList {
 public:
  using value_type = AccessNode;
  using const_iterator = std::vector<AccessNode>::const_iterator;
  using iterator = std::vector<AccessNode>::iterator;

  NodeList() = default;
  NodeList(std::vector<AccessNode> nodes);  // NOLINT: a vector is a list of children

  std::size_t size() const;
  bool empty() const { return size() == 0; }
  const AccessNode& operator[](std::size_t i) const;
  const AccessNode& at(std::size_t i) const;
  const AccessNode& front() const { return (*this)[0]; }
  const AccessNode& back() const { return (*this)[size() - 1]; }
  const_iterator begin() const;
  const_iterator end() const;

  // Changing access gives the list its own copy of shared children first.
  AccessNode& operator[](std::size_t i);
  AccessNode& at(std::size_t i);
  AccessNode& front() { return (*this)[0]; }
  AccessNode& back() { return (*this)[size() - 1]; }
  iterator begin();
  iterator end();
  void push_back(AccessNode child);
  void reserve(std::size_t n);
  iterator erase(iterator at);
  void clear() { items_.reset(); }

  // Both are one shared list, so they are equal without looking. Never true
  // of empty lists.
  bool same_list(const NodeList& other) const { return items_ != nullptr && items_ == other.items_; }

  friend bool operator==(const NodeList& a, const NodeList& b);

 private:
  const std::vector<AccessNode>& items() const;
  std::vector<AccessNode>& own();

  std::shared_ptr<std::vector<AccessNode>> items_;  // null: no children
};

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
  NodeList children;

  // Appends the children in order.
  AccessNode& with_children(std::vector<AccessNode> more) &;
  AccessNode with_children(std::vector<AccessNode> more) &&;  // by value: x = std::move(x).with_children(...) is safe

  // Depth first, first match.
  const AccessNode* find_by_action_id(std::string_view action_id) const;
  const AccessNode* find_by_id(std::uint64_t id) const;

  friend bool operator==(const AccessNode&, const AccessNode&) = default;
};

// Defined here, where AccessNode is complete.
inline std::size_t NodeList::size() const { return items_ ? items_->size() : 0; }
inline const AccessNode& NodeList::operator[](std::size_t i) const { return (*items_)[i]; }
inline NodeList::const_iterator NodeList::begin() const { return items().begin(); }
inline NodeList::const_iterator NodeList::end() const { return items().end(); }

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
