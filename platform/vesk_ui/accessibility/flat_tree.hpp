#pragma once
// The accessibility tree flattened into nodes keyed by a stable 64-bit key,
// and the difference between two such trees. Publication works on the
// difference, so a frame that changes one row touches one object.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/vesk_ui/widget/access.hpp"

namespace vesk_ui::accessibility {

using access::AccessNode;
using access::Role;

// Nodes below this depth are left out (a runaway builder).
inline constexpr int kMaxFlatDepth = 512;

struct FlatNode {
  std::uint64_t key = 0;
  std::uint64_t parent = 0;  // 0: the root
  std::uint32_t index_in_parent = 0;
  std::vector<std::uint64_t> children;
  Role role = Role::Unknown;
  std::optional<std::string> label;
  std::optional<std::string> description;
  std::optional<std::string> value;
  std::optional<std::string> action_id;
  std::optional<std::uint64_t> id;
  std::optional<scene::Rect> bounds;
  std::optional<std::uint32_t> set_size;
  std::optional<std::uint32_t> position_in_set;
  bool focused = false;
  bool selected = false;
  std::optional<bool> toggled;
  std::optional<bool> expanded;
  bool modal = false;
  std::uint8_t text_marker = access::kTextMarkerDefault;
};

struct FlatTree {
  std::vector<FlatNode> nodes;  // depth first; nodes[0] is the root
  std::unordered_map<std::uint64_t, std::size_t> index;

  const FlatNode* find(std::uint64_t key) const {
    auto it = index.find(key);
    return it == index.end() ? nullptr : &nodes[it->second];
  }
  const FlatNode* root() const { return nodes.empty() ? nullptr : &nodes.front(); }
};

// Keys: a node's own id when no earlier node of the tree took it; otherwise
// (no id, or a repeated one) a key derived from the parent's key, the role
// and the node's rank among such siblings. Never 0. Takes the tree apart.
FlatTree flatten(AccessNode&& root);

// What differs between two versions of one node.
enum ChangeBits : std::uint32_t {
  kChangedName = 1u << 0,
  kChangedDescription = 1u << 1,
  kChangedValue = 1u << 2,
  kChangedStates = 1u << 3,
  kChangedBounds = 1u << 4,
  kChangedChildren = 1u << 5,
  kChangedParent = 1u << 6,  // moved under another node, or to another index
  kChangedOther = 1u << 7,   // action id, set position, text marker
};

struct NodeChange {
  std::uint64_t key = 0;
  std::uint32_t bits = 0;
};

struct TreeDiff {
  std::vector<std::uint64_t> added;    // in the new tree's order (parents first)
  std::vector<std::uint64_t> removed;  // in the old tree's order
  std::vector<NodeChange> changed;     // nodes in both trees that differ
  // The role decides the kind of object, so a node whose role changed is
  // reported as removed and added.
  bool empty() const { return added.empty() && removed.empty() && changed.empty(); }
};

TreeDiff diff(const FlatTree& before, const FlatTree& after);

}  // namespace vesk_ui::accessibility
