#include "apps/remote/src/app/list_cache.hpp"

#include <algorithm>
#include <unordered_map>

#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

std::string list_counts_text(const std::vector<SavedConnection>& connections, const std::vector<Readiness>& readiness) {
  const std::size_t total = connections.size();
  const std::size_t online = count_online(connections);
  const auto connectable = static_cast<std::size_t>(std::count(readiness.begin(), readiness.end(), Readiness::Ready));
  const std::string saved = std::to_string(total), live = std::to_string(online);
  if (connectable < total)
    return remote::text::fill("{} saved \u00b7 {} online \u00b7 {} connectable here",
                              {saved, live, std::to_string(connectable)});
  return remote::text::fill("{} saved \u00b7 {} online", {saved, live});
}

void ListCache::refresh(const std::vector<SavedConnection>& connections, std::string_view search) {
  const bool live = live_sessions_enabled();
  if (!readiness_valid_ || live != live_sessions_ || connections != connections_) {
    // A record that did not change keeps what was derived from it (found at
    // its old place, or by its id when others came or went); a change of the
    // environment readiness reads redoes them all.
    const bool reuse = readiness_valid_ && live == live_sessions_;
    std::unordered_map<Uuid, std::size_t> old_places;  // made when first needed
    const auto unchanged_at = [&](std::size_t i) -> std::optional<std::size_t> {
      if (!reuse) return std::nullopt;
      const SavedConnection& c = connections[i];
      if (i < connections_.size() && connections_[i].id == c.id) {
        return connections_[i] == c ? std::optional(i) : std::nullopt;
      }
      if (old_places.empty()) {
        for (std::size_t j = 0; j < connections_.size(); ++j) old_places.emplace(connections_[j].id, j);
      }
      const auto it = old_places.find(c.id);
      return it != old_places.end() && connections_[it->second] == c ? std::optional(it->second) : std::nullopt;
    };
    std::vector<SavedConnection> records;
    std::vector<Readiness> readiness;
    std::vector<LoweredSearchFields> lowered;
    std::vector<std::optional<RowAccess>> rows_access;
    records.reserve(connections.size());
    readiness.reserve(connections.size());
    lowered.reserve(connections.size());
    rows_access.reserve(connections.size());
    std::vector<bool> taken(connections_.size(), false);  // each old entry moves once
    for (std::size_t i = 0; i < connections.size(); ++i) {
      const SavedConnection& c = connections[i];
      if (const auto old = unchanged_at(i); old && !taken[*old]) {
        taken[*old] = true;
        records.push_back(std::move(connections_[*old]));
        readiness.push_back(readiness_[*old]);
        lowered.push_back(std::move(lowered_[*old]));
        rows_access.push_back(std::move(rows_access_[*old]));
        continue;
      }
      records.push_back(c);
      readiness.push_back(c.readiness());
      lowered.push_back(lowered_search_fields(c));
      rows_access.emplace_back();
    }
    connections_ = std::move(records);
    live_sessions_ = live;
    readiness_ = std::move(readiness);
    lowered_ = std::move(lowered);
    rows_access_ = std::move(rows_access);
    counts_ = list_counts_text(connections, readiness_);
    readiness_valid_ = true;
    ++readiness_computations_;
    order_valid_ = false;
  }
  if (!order_valid_ || search != search_) {
    search_ = search;
    // What filtered_connections gives, with each text lower-cased once per
    // change of the list rather than once per search.
    const std::string query = prepare_query(search);
    order_.clear();
    for (std::size_t i = 0; i < connections.size(); ++i) {
      if (lowered_fields_match(lowered_[i], query)) order_.push_back(i);
    }
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      return connection_order_is_less({connections[a].favorite, lowered_[a].front()},
                                      {connections[b].favorite, lowered_[b].front()});
    });
    positions_.assign(connections.size(), kNotListed);
    for (std::size_t k = 0; k < order_.size(); ++k) positions_[order_[k]] = k;
    order_valid_ = true;
    ++order_computations_;
  }
}

const RowAccess& ListCache::row(std::size_t index, const RowMaker& make) const {
  std::optional<RowAccess>& kept = rows_access_[index];
  if (!kept) kept = make(connections_[index], readiness_[index]);
  return *kept;
}

const vesk_ui::access::NodeList& ListCache::rows_node_list(
    const std::optional<Uuid>& selection, std::vector<HitRegion> row_regions,
    const std::function<vesk_ui::access::NodeList()>& make) const {
  RowsKey key{readiness_computations_ + order_computations_, selection, std::move(row_regions)};
  if (rows_key_ != key) {
    rows_ = make();
    rows_key_ = std::move(key);
  }
  return rows_;
}

std::optional<RowTarget> ListCache::row_target(std::string_view action_id, const RowMaker& make) const {
  // Keyed by the records alone: a new search only moves the positions.
  if (row_index_key_ != readiness_computations_) {
    row_index_.clear();
    row_index_.reserve(connections_.size() * 4);
    for (std::size_t i = 0; i < connections_.size(); ++i) {
      const std::vector<AccessTarget>& targets = row(i, make).targets.all();
      for (std::size_t k = 0; k < targets.size(); ++k) row_index_.push_back({targets[k].node_id, i, k});
    }
    std::sort(row_index_.begin(), row_index_.end());
    row_index_key_ = readiness_computations_;
  }
  // Records sharing an id share its action ids: the first listed is the one
  // the tree shows first. Equal node ids of other texts are told apart here.
  const std::uint64_t node_id = vesk_ui::access::node_id(action_id);
  const auto first = std::lower_bound(row_index_.begin(), row_index_.end(), IndexedTarget{node_id, 0, 0});
  std::optional<RowTarget> found;
  for (auto it = first; it != row_index_.end() && it->node_id == node_id; ++it) {
    const AccessTarget& target = rows_access_[it->index]->targets.all()[it->target];
    const std::size_t position = positions_[it->index];
    if (target.action_id == action_id && position != kNotListed && (!found || position < found->position)) {
      found = RowTarget{target.message, position};
    }
  }
  return found;
}

ConnectionView ListCache::view(const std::vector<SavedConnection>& connections) const {
  ConnectionView out;
  out.reserve(order_.size());
  for (std::size_t i : order_) out.push_back(&connections[i]);
  return out;
}

std::optional<Uuid> ListCache::first_listed(const std::vector<SavedConnection>& connections) const {
  if (order_.empty()) return std::nullopt;
  return connections[order_.front()].id;
}

}  // namespace remote::app
