#include "apps/remote/src/actions/tree_cache.hpp"

#include <unordered_map>

#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/store.hpp"

namespace remote::actions {

std::vector<Resource> TreeCache::connections_resource(const vesk_ui::doc::Document& document,
                                                      const LoadedConnections* loaded) {
  // Asking for the heads would commit an open transaction; a document with
  // one is read as changed instead.
  std::optional<std::vector<vesk_ui::doc::ChangeHash>> heads;
  if (document.pending_ops() == 0) heads = document.get_heads();
  const bool live = live_sessions_enabled();
  if (!tree_.empty() && heads && heads == heads_ && live == live_sessions_) return tree_;

  std::vector<SavedConnection> stored =
      loaded && heads && loaded->heads == *heads ? loaded->records : doc::load_connections(document);
  vesk_actions::ResourceList old_children;
  if (!tree_.empty() && live == live_sessions_) old_children = std::move(tree_.front().children);
  // Values derived from a reused child (its fingerprint) stay valid with it;
  // read before changing access to the old list drops them.
  vesk_actions::ResourceList::DerivedValues old_derived = old_children.derived_values();
  vesk_actions::ResourceList::DerivedValues new_derived{old_derived.key, {}};
  // A change usually leaves most records where they were; the others are
  // looked up by id.
  // looked up by id. Each old resource is taken at most once (two spellings of
  // one id can give two records with that id).
  std::unordered_map<Uuid, std::size_t> old_by_id;
  std::vector<bool> taken(old_children.size(), false);
  const auto take = [&](std::size_t k) -> std::optional<std::size_t> {
    if (taken[k]) return std::nullopt;
    taken[k] = true;
    return k;
  };
  // The old child to reuse for record i, if any.
  const auto reusable = [&](std::size_t i, const SavedConnection& c) -> std::optional<std::size_t> {
    if (old_children.empty()) return std::nullopt;
    if (i < records_.size() && records_[i] == c && !taken[i]) return take(i);
    if (old_by_id.empty()) {
      for (std::size_t k = 0; k < records_.size(); ++k) old_by_id.emplace(records_[k].id, k);
    }
    const auto it = old_by_id.find(c.id);
    if (it != old_by_id.end() && records_[it->second] == c) return take(it->second);
    return std::nullopt;
  };

  std::vector<Resource> children;
  children.reserve(stored.size());
  new_derived.values.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (const auto k = reusable(i, stored[i])) {
      new_derived.values.push_back(*k < old_derived.values.size() ? old_derived.values[*k] : std::nullopt);
      children.push_back(std::move(old_children[*k]));
    } else {
      new_derived.values.emplace_back();
      children.push_back(connection_resource(stored[i]));
      ++connections_built_;
    }
  }
  tree_ = actions::connections_resource(std::move(children));
  if (!old_derived.values.empty()) tree_.front().children.restore_derived(std::move(new_derived));
  records_ = std::move(stored);
  heads_ = std::move(heads);
  live_sessions_ = live;
  return tree_;
}

}  // namespace remote::actions
