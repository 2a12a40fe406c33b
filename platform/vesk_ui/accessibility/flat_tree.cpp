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

struct Flattener {
  FlatTree& out;

  std::uint64_t take_key(std::uint64_t wanted) {
    if (wanted == 0) wanted = 1;
    // A derived key that meets an existing one moves on until it is free.
    while (out.index.contains(wanted)) wanted = mix(wanted, 0x9E3779B97F4A7C15ull);
    return wanted;
  }

  void visit(AccessNode& n, std::uint64_t key, std::uint64_t parent, std::uint32_t index_in_parent, int depth) {
    const std::size_t at = out.nodes.size();
    out.index.emplace(key, at);
    out.nodes.emplace_back();
    {
      FlatNode& f = out.nodes.back();
      f.key = key;
      f.parent = parent;
      f.index_in_parent = index_in_parent;
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
      keep_valid(f.label);
      keep_valid(f.description);
      keep_valid(f.value);
      keep_valid(f.action_id);
    }
    if (depth >= kMaxFlatDepth) return;
    std::vector<std::uint64_t> child_keys;
    child_keys.reserve(n.children.size());
    std::uint64_t derived_rank = 0;
    for (AccessNode& c : n.children) {
      std::uint64_t k = 0;
      if (c.id && *c.id != 0 && !out.index.contains(*c.id)) {
        k = *c.id;
      } else {
        k = take_key(mix(mix(mix(0xcbf29ce484222325ull, key), static_cast<std::uint64_t>(c.role)), derived_rank++));
      }
      child_keys.push_back(k);
      // The key is taken before the child's subtree claims any.
      visit(c, k, key, static_cast<std::uint32_t>(child_keys.size() - 1), depth + 1);
    }
    out.nodes[at].children = std::move(child_keys);
  }
};

bool same_states(const FlatNode& a, const FlatNode& b) {
  return a.focused == b.focused && a.selected == b.selected && a.toggled == b.toggled && a.expanded == b.expanded &&
         a.modal == b.modal && a.bounds.has_value() == b.bounds.has_value() &&
         a.action_id.has_value() == b.action_id.has_value();
}

}  // namespace

FlatTree flatten(AccessNode&& root) {
  FlatTree out;
  Flattener f{out};
  const std::uint64_t key = root.id && *root.id != 0 ? *root.id : f.take_key(0x524F4F54ull);  // "ROOT"
  f.visit(root, key, 0, 0, 0);
  return out;
}

TreeDiff diff(const FlatTree& before, const FlatTree& after) {
  TreeDiff d;
  for (const FlatNode& n : after.nodes) {
    const FlatNode* old = before.find(n.key);
    if (!old) {
      d.added.push_back(n.key);
      continue;
    }
    if (old->role != n.role) {
      d.removed.push_back(n.key);
      d.added.push_back(n.key);
      continue;
    }
    std::uint32_t bits = 0;
    if (old->label != n.label) bits |= kChangedName;
    if (old->description != n.description) bits |= kChangedDescription;
    if (old->value != n.value) bits |= kChangedValue;
    if (!same_states(*old, n)) bits |= kChangedStates;
    if (old->bounds != n.bounds) bits |= kChangedBounds;
    if (old->children != n.children) bits |= kChangedChildren;
    if (old->parent != n.parent || old->index_in_parent != n.index_in_parent) bits |= kChangedParent;
    if (old->action_id != n.action_id || old->set_size != n.set_size || old->position_in_set != n.position_in_set ||
        old->text_marker != n.text_marker || old->id != n.id) {
      bits |= kChangedOther;
    }
    if (bits != 0) d.changed.push_back(NodeChange{n.key, bits});
  }
  for (const FlatNode& n : before.nodes) {
    if (!after.index.contains(n.key)) d.removed.push_back(n.key);
  }
  return d;
}

}  // namespace vesk_ui::accessibility
