#include "platform/vesk_ui/accessibility/flat_tree.hpp"

#include "platform/vesk_ui/text/text_renderer.hpp"

namespace vesk_ui::accessibility {

namespace {

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
  // FNV-1a over the eight bytes of v.
  for (int i = 0; i < 8; ++i) {
    h ^= (v >> (i * 8)) & 0xFF;
    h *= 0x100000001b3ull;
  }
  return h;
}

// Text goes to the bus as UTF-8; whatever is not becomes replacement characters.
void keep_valid(std::optional<std::string>& s) {
  if (s && !text::is_valid_utf8(*s)) *s = text::sanitize_utf8(*s);
}

bool same_states(const FlatNode& a, const AccessNode& b) {
  return a.focused == b.focused && a.selected == b.selected && a.toggled == b.toggled && a.expanded == b.expanded &&
         a.modal == b.modal && a.bounds.has_value() == b.bounds.has_value() &&
         a.action_id.has_value() == b.action_id.has_value();
}

std::uint32_t field_changes(const FlatNode& old, const AccessNode& n) {
  std::uint32_t bits = 0;
  if (old.label != n.label) bits |= kChangedName;
  if (old.description != n.description) bits |= kChangedDescription;
  if (old.value != n.value) bits |= kChangedValue;
  if (!same_states(old, n)) bits |= kChangedStates;
  if (old.bounds != n.bounds) bits |= kChangedBounds;
  if (old.action_id != n.action_id || old.set_size != n.set_size || old.position_in_set != n.position_in_set ||
      old.text_marker != n.text_marker || old.id != n.id) {
    bits |= kChangedOther;
  }
  return bits;
}

void take_fields(FlatNode& f, AccessNode& n) {
  f.role = n.role;
  f.label = std::move(n.label);
  f.description = std::move(n.description);
  f.value = std::move(n.value);
  f.action_id = std::move(n.action_id);
  f.id = n.id;
  f.bounds = n.bounds;
  f.set_size = n.set_size;
  f.position_in_set = n.position_in_set;
  f.focused = n.focused;
  f.selected = n.selected;
  f.toggled = n.toggled;
  f.expanded = n.expanded;
  f.modal = n.modal;
  f.text_marker = n.text_marker;
}

struct Updater {
  FlatTree& tree;
  TreeDiff& diff;
  std::uint32_t generation;

  bool taken(std::uint64_t key) const {
    auto it = tree.nodes.find(key);
    return it != tree.nodes.end() && it->second.generation == generation;
  }

  std::uint64_t take_key(std::uint64_t wanted) const {
    if (wanted == 0) wanted = 1;
    // A derived key that meets a taken one moves on until it is free.
    while (taken(wanted)) wanted = mix(wanted, 0x9E3779B97F4A7C15ull);
    return wanted;
  }

  std::uint64_t child_key(const AccessNode& c, std::uint64_t parent, std::uint64_t& derived_rank) const {
    if (c.id && *c.id != 0 && !taken(*c.id)) return *c.id;
    return take_key(mix(mix(mix(0xcbf29ce484222325ull, parent), static_cast<std::uint64_t>(c.role)), derived_rank++));
  }

  void visit(AccessNode& n, std::uint64_t key, std::uint64_t parent, std::uint32_t index_in_parent, int depth) {
    keep_valid(n.label);
    keep_valid(n.description);
    keep_valid(n.value);
    keep_valid(n.action_id);
    auto [it, inserted] = tree.nodes.try_emplace(key);
    FlatNode& f = it->second;  // stays put while the map grows
    std::uint32_t bits = 0;
    if (!inserted && f.role != n.role) {
      diff.removed.push_back(key);
      f = FlatNode{};
      inserted = true;
    }
    f.generation = generation;
    if (inserted) {
      f.key = key;
      f.parent = parent;
      f.index_in_parent = index_in_parent;
      take_fields(f, n);
      diff.added.push_back(key);
    } else {
      bits = field_changes(f, n);
      if (f.parent != parent || f.index_in_parent != index_in_parent) bits |= kChangedParent;
    }

    std::vector<std::uint64_t> child_keys;
    if (depth < kMaxFlatDepth) {
      child_keys.reserve(n.children.size());
      std::uint64_t derived_rank = 0;
      for (AccessNode& c : n.children) {
        const std::uint64_t k = child_key(c, key, derived_rank);
        child_keys.push_back(k);
        // The key is taken before the child's subtree claims any.
        visit(c, k, key, static_cast<std::uint32_t>(child_keys.size() - 1), depth + 1);
      }
    }
    if (inserted) {
      f.children = std::move(child_keys);
      return;
    }
    if (f.children != child_keys) bits |= kChangedChildren;
    if (bits == 0) return;
    diff.changed.push_back(NodeChange{key, bits});
    diff.before.push_back(f);
    take_fields(f, n);
    f.parent = parent;
    f.index_in_parent = index_in_parent;
    if (bits & kChangedChildren) f.children = std::move(child_keys);
  }
};

}  // namespace

TreeDiff update(FlatTree& tree, AccessNode&& root) {
  TreeDiff diff;
  diff.old_root = tree.root_key;
  Updater u{tree, diff, ++tree.generation};
  const std::uint64_t key = root.id && *root.id != 0 ? *root.id : u.take_key(0x524F4F54ull);  // "ROOT"
  tree.root_key = key;
  u.visit(root, key, 0, 0, 0);
  for (auto it = tree.nodes.begin(); it != tree.nodes.end();) {
    if (it->second.generation == u.generation) {
      ++it;
      continue;
    }
    diff.removed.push_back(it->first);
    it = tree.nodes.erase(it);
  }
  return diff;
}

FlatTree flatten(AccessNode&& root) {
  FlatTree tree;
  (void)update(tree, std::move(root));
  return tree;
}

}  // namespace vesk_ui::accessibility
