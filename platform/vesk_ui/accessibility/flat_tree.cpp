#include "platform/vesk_ui/accessibility/flat_tree.hpp"

#include <algorithm>

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

// Stored text is valid UTF-8; new text is checked only when it differs.
bool same_text(const std::optional<std::string>& stored, const std::optional<std::string>& raw) {
  if (stored == raw) return true;
  if (!stored || !raw || text::is_valid_utf8(*raw)) return false;
  return *stored == text::sanitize_utf8(*raw);
}

bool same_states(const FlatNode& a, const AccessNode& b) {
  return a.focused == b.focused && a.selected == b.selected && a.toggled == b.toggled && a.expanded == b.expanded &&
         a.modal == b.modal && a.bounds.has_value() == b.bounds.has_value() &&
         a.action_id.has_value() == b.action_id.has_value();
}

std::uint32_t field_changes(const FlatNode& old, const AccessNode& n) {
  std::uint32_t bits = 0;
  if (!same_text(old.label, n.label)) bits |= kChangedName;
  if (!same_text(old.description, n.description)) bits |= kChangedDescription;
  if (!same_text(old.value, n.value)) bits |= kChangedValue;
  if (!same_states(old, n)) bits |= kChangedStates;
  if (old.bounds != n.bounds) bits |= kChangedBounds;
  if (!same_text(old.action_id, n.action_id) || old.set_size != n.set_size ||
      old.position_in_set != n.position_in_set || old.text_marker != n.text_marker || old.id != n.id) {
    bits |= kChangedOther;
  }
  return bits;
}

void take_fields(FlatNode& f, AccessNode& n) {
  keep_valid(n.label);
  keep_valid(n.description);
  keep_valid(n.value);
  keep_valid(n.action_id);
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
  using Iterator = std::unordered_map<std::uint64_t, FlatNode>::iterator;

  FlatTree& tree;
  TreeDiff& diff;
  std::uint32_t generation;
  // The child keys of the nodes on the current path, one run per node.
  std::vector<std::uint64_t> stack;

  bool taken(Iterator it) const { return it != tree.nodes.end() && it->second.generation == generation; }

  // A free key near `wanted`, with where it stands in the map.
  std::pair<std::uint64_t, Iterator> take_key(std::uint64_t wanted) {
    if (wanted == 0) wanted = 1;
    // A derived key that meets a taken one moves on until it is free.
    for (;;) {
      Iterator it = tree.nodes.find(wanted);
      if (!taken(it)) return {wanted, it};
      wanted = mix(wanted, 0x9E3779B97F4A7C15ull);
    }
  }

  std::pair<std::uint64_t, Iterator> child_key(const AccessNode& c, std::uint64_t parent, std::uint64_t& derived_rank) {
    if (c.id && *c.id != 0) {
      Iterator it = tree.nodes.find(*c.id);
      if (!taken(it)) return {*c.id, it};
    }
    return take_key(mix(mix(mix(0xcbf29ce484222325ull, parent), static_cast<std::uint64_t>(c.role)), derived_rank++));
  }

  void visit(AccessNode& n, std::uint64_t key, Iterator at, std::uint64_t parent, std::uint32_t index_in_parent,
             int depth) {
    bool inserted = false;
    if (at == tree.nodes.end()) {
      at = tree.nodes.try_emplace(key).first;
      inserted = true;
    }
    FlatNode& f = at->second;  // stays put while the map grows
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

    const std::size_t base = stack.size();
    if (depth < kMaxFlatDepth) {
      std::uint64_t derived_rank = 0;
      for (AccessNode& c : n.children) {
        const auto [k, it] = child_key(c, key, derived_rank);
        const auto index = static_cast<std::uint32_t>(stack.size() - base);
        stack.push_back(k);
        // The key is taken before the child's subtree claims any.
        visit(c, k, it, key, index, depth + 1);
      }
    }
    const auto first = stack.begin() + static_cast<std::ptrdiff_t>(base);
    if (inserted) {
      f.children.assign(first, stack.end());
    } else if (!std::equal(first, stack.end(), f.children.begin(), f.children.end())) {
      bits |= kChangedChildren;
    }
    if (bits != 0) {
      diff.changed.push_back(NodeChange{key, bits});
      diff.before.push_back(f);
      take_fields(f, n);
      f.parent = parent;
      f.index_in_parent = index_in_parent;
      if (bits & kChangedChildren) f.children.assign(first, stack.end());
    }
    stack.resize(base);
  }
};

}  // namespace

TreeDiff update(FlatTree& tree, AccessNode&& root) {
  TreeDiff diff;
  diff.old_root = tree.root_key;
  Updater u{tree, diff, ++tree.generation, {}};
  const auto [key, at] =
      root.id && *root.id != 0 ? std::pair{*root.id, tree.nodes.find(*root.id)} : u.take_key(0x524F4F54ull);  // "ROOT"
  tree.root_key = key;
  u.visit(root, key, at, 0, 0, 0);
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
