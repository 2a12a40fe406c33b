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
  std::uint32_t generation = 0;  // the update that last met this node
  std::vector<std::uint64_t> children;
  // The same children as entries of the tree (entries never move while they
  // are in it), so an unchanged subtree is confirmed without lookups.
  std::vector<FlatNode*> child_nodes;
  // The list the children were last taken from: while the widget hands out
  // the same shared list, the subtree below is unchanged.
  access::NodeList source_children;
  // Every node below has the key a fresh walk would give it (its own id, or
  // the first key derived for it), so the subtree may be kept as it is.
  bool children_settled = false;
  bool settled = false;  // the same, and this node's key too
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

// The published tree, updated in place from frame to frame.
struct FlatTree {
  std::unordered_map<std::uint64_t, FlatNode> nodes;
  std::optional<std::uint64_t> root_key;
  std::uint32_t generation = 0;

  const FlatNode* find(std::uint64_t key) const {
    auto it = nodes.find(key);
    return it == nodes.end() ? nullptr : &it->second;
  }
  const FlatNode* root() const { return root_key ? find(*root_key) : nullptr; }
  std::size_t size() const { return nodes.size(); }
};

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
  std::vector<std::uint64_t> removed;  // no longer in the tree
  std::vector<NodeChange> changed;     // nodes in both trees that differ
  std::vector<FlatNode> before;        // the previous version of each changed node
  std::optional<std::uint64_t> old_root;
  // The role decides the kind of object, so a node whose role changed is
  // reported as removed and added.
  bool empty() const { return added.empty() && removed.empty() && changed.empty(); }
};

// Brings `tree` to the new frame's tree and tells what changed. Keys: a node's
// own id when no earlier node of the walk took it; otherwise (no id, or a
// repeated one) a key derived from the parent's key, the role and the node's
// rank among such siblings. Never 0. Unchanged nodes cost a lookup and a
// comparison, and nothing of theirs is copied; below a node whose children
// are the very list it had last time, nothing is compared at all.
TreeDiff update(FlatTree& tree, const AccessNode& root);

// A tree of its own (the first frame).
FlatTree flatten(const AccessNode& root);

}  // namespace vesk_ui::accessibility
