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

// Stored text is valid UTF-8; new text is checked only when it differs.
bool same_text(const std::optional<std::string>& stored, const std::optional<std::string>& raw) {
  if (stored == raw) return true;
  if (!stored || !raw || text::is_nul_free_utf8(*raw)) return false;
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

// Text goes to the bus as UTF-8; whatever is not becomes replacement characters.
std::optional<std::string> valid(const std::optional<std::string>& s) {
  if (s && !text::is_nul_free_utf8(*s)) return text::sanitize_utf8(*s);
  return s;
}

void take_fields(FlatNode& f, const AccessNode& n) {
  f.role = n.role;
  f.label = valid(n.label);
  f.description = valid(n.description);
  f.value = valid(n.value);
  f.action_id = valid(n.action_id);
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
  std::size_t met = 0;  // nodes of the new tree so far
  // The child keys and entries of the nodes on the current path, one run per node.
  std::vector<std::uint64_t> stack;
  std::vector<FlatNode*> node_stack;
  std::vector<FlatNode*> todo, marked;  // keep_subtree's, kept for their storage

  // A key with its entry (null when the tree has none yet), and whether it is
  // the first key wanted for the node.
  struct Place {
    std::uint64_t key = 0;
    FlatNode* entry = nullptr;
    bool first = true;
  };

  FlatNode* entry(std::uint64_t key) {
    Iterator it = tree.nodes.find(key);
    return it == tree.nodes.end() ? nullptr : &it->second;
  }
  bool taken(const FlatNode* f) const { return f != nullptr && f->generation == generation; }

  // A free key near `wanted`.
  Place take_key(std::uint64_t wanted) {
    if (wanted == 0) wanted = 1;
    // A derived key that meets a taken one moves on until it is free.
    for (bool first = true;; first = false) {
      FlatNode* f = entry(wanted);
      if (!taken(f)) return {wanted, f, first};
      wanted = mix(wanted, 0x9E3779B97F4A7C15ull);
    }
  }

  // `was` is the entry at the child's place last time, when there was one.
  Place child_key(const AccessNode& c, std::uint64_t parent, std::uint64_t& derived_rank, FlatNode* was) {
    if (c.id && *c.id != 0) {
      // Most children keep their own id at their place: no search for it.
      if (was != nullptr && was->key == *c.id && !taken(was)) return {*c.id, was, true};
      FlatNode* f = entry(*c.id);
      if (!taken(f)) return {*c.id, f, true};
    }
    Place derived =
        take_key(mix(mix(mix(0xcbf29ce484222325ull, parent), static_cast<std::uint64_t>(c.role)), derived_rank++));
    if (c.id && *c.id != 0) derived.first = false;
    return derived;
  }

  // Counts the descendants of `f` as met, as they were. Every one of them was
  // in the last tree, so met last time; when an earlier node of this walk
  // already took one's key the subtree cannot stay as it was, and the marks
  // are taken back.
  bool keep_subtree(const FlatNode& f) {
    todo.assign(f.child_nodes.begin(), f.child_nodes.end());
    marked.clear();
    while (!todo.empty()) {
      FlatNode* c = todo.back();
      todo.pop_back();
      if (c->generation == generation) {
        for (FlatNode* m : marked) m->generation = generation - 1;
        return false;
      }
      c->generation = generation;
      marked.push_back(c);
      todo.insert(todo.end(), c->child_nodes.begin(), c->child_nodes.end());
    }
    met += marked.size();
    return true;
  }

  FlatNode* visit(const AccessNode& n, const Place& place, std::uint64_t parent, std::uint32_t index_in_parent,
                  int depth) {
    const std::uint64_t key = place.key;
    FlatNode* at = place.entry;
    bool inserted = false;
    if (at == nullptr) {
      at = &tree.nodes.try_emplace(key).first->second;
      inserted = true;
    }
    FlatNode& f = *at;  // stays put while the map grows
    std::uint32_t bits = 0;
    if (!inserted && f.role != n.role) {
      diff.removed.push_back(key);
      f = FlatNode{};
      inserted = true;
    }
    f.generation = generation;
    ++met;
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

    const bool kept = !inserted && f.children_settled && n.children.same_list(f.source_children) && keep_subtree(f);
    if (!kept) {
      bool settled = true;
      const std::size_t base = stack.size();
      if (depth < kMaxFlatDepth) {
        std::uint64_t derived_rank = 0;
        for (const AccessNode& c : n.children) {
          const auto index = static_cast<std::uint32_t>(stack.size() - base);
          FlatNode* was = index < f.child_nodes.size() ? f.child_nodes[index] : nullptr;
          const Place at_child = child_key(c, key, derived_rank, was);
          stack.push_back(at_child.key);
          node_stack.push_back(nullptr);
          // The key is taken before the child's subtree claims any.
          FlatNode* child = visit(c, at_child, key, index, depth + 1);
          node_stack[base + index] = child;
          settled = settled && child->settled;
        }
      }
      const auto first = stack.begin() + static_cast<std::ptrdiff_t>(base);
      const auto first_node = node_stack.begin() + static_cast<std::ptrdiff_t>(base);
      if (inserted || !std::equal(first, stack.end(), f.children.begin(), f.children.end())) {
        if (!inserted) bits |= kChangedChildren;
        if (bits != 0) diff.before.push_back(f);
        f.children.assign(first, stack.end());
      }
      f.child_nodes.assign(first_node, node_stack.end());
      f.source_children = depth < kMaxFlatDepth ? n.children : access::NodeList{};
      f.children_settled = settled;
      stack.resize(base);
      node_stack.resize(base);
    }
    f.settled = place.first && f.children_settled;
    if (bits != 0) {
      diff.changed.push_back(NodeChange{key, bits});
      if (!(bits & kChangedChildren)) diff.before.push_back(f);
      take_fields(f, n);
      f.parent = parent;
      f.index_in_parent = index_in_parent;
    }
    return &f;
  }
};

}  // namespace

TreeDiff update(FlatTree& tree, const AccessNode& root) {
  TreeDiff diff;
  diff.old_root = tree.root_key;
  Updater u{tree, diff, ++tree.generation, 0, {}, {}, {}, {}};
  const Updater::Place at = root.id && *root.id != 0 ? Updater::Place{*root.id, u.entry(*root.id), true}
                                                     : u.take_key(0x524F4F54ull);  // "ROOT"
  tree.root_key = at.key;
  u.visit(root, at, 0, 0, 0);
  // Every entry met: nothing left the tree, no need to look for what did.
  if (u.met == tree.nodes.size()) return diff;
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

FlatTree flatten(const AccessNode& root) {
  FlatTree tree;
  (void)update(tree, root);
  return tree;
}

}  // namespace vesk_ui::accessibility
