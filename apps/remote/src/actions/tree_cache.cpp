#include "apps/remote/src/actions/tree_cache.hpp"

#include <unordered_map>

#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/store.hpp"

namespace remote::actions {

std::vector<Resource> TreeCache::connections_resource(const vesk_ui::doc::Document& document) {
  // Asking for the heads would commit an open transaction; a document with
  // one is read as changed instead.
  std::optional<std::vector<vesk_ui::doc::ChangeHash>> heads;
  if (document.pending_ops() == 0) heads = document.get_heads();
  const bool live = app::live_sessions_enabled();
  if (!tree_.empty() && heads && heads == heads_ && live == live_sessions_) return tree_;

  std::vector<SavedConnection> stored = doc::load_connections(document);
  vesk_actions::ResourceList old_children;
  if (!tree_.empty() && live == live_sessions_) old_children = std::move(tree_.front().children);
  // A change usually leaves most records where they were; the others are
  // looked up by id.
  // looked up by id. Each old resource is taken at most once (two spellings of
  // one id can give two records with that id).
  std::unordered_map<Uuid, std::size_t> old_by_id;
  std::vector<bool> taken(old_children.size(), false);
  const auto take = [&](std::size_t k) -> Resource* {
    if (taken[k]) return nullptr;
    taken[k] = true;
    return &old_children[k];
  };
  const auto reusable = [&](std::size_t i, const SavedConnection& c) -> Resource* {
    if (old_children.empty()) return nullptr;
    if (i < records_.size() && records_[i] == c && !taken[i]) return take(i);
    if (old_by_id.empty()) {
      for (std::size_t k = 0; k < records_.size(); ++k) old_by_id.emplace(records_[k].id, k);
    }
    const auto it = old_by_id.find(c.id);
    if (it != old_by_id.end() && records_[it->second] == c) return take(it->second);
    return nullptr;
  };

  std::vector<Resource> children;
  children.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (Resource* old = reusable(i, stored[i])) {
      children.push_back(std::move(*old));
    } else {
      children.push_back(connection_resource(stored[i]));
      ++connections_built_;
    }
  }
  tree_ = actions::connections_resource(std::move(children));
  records_ = std::move(stored);
  heads_ = std::move(heads);
  live_sessions_ = live;
  return tree_;
}

}  // namespace remote::actions
