#include "apps/remote/src/app/list_cache.hpp"

#include <algorithm>

#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

std::string list_counts_text(const std::vector<SavedConnection>& connections, const std::vector<Readiness>& readiness) {
  const std::size_t total = connections.size();
  const std::size_t online = count_online(connections);
  const auto connectable = static_cast<std::size_t>(std::count(readiness.begin(), readiness.end(), Readiness::Ready));
  if (connectable < total)
    return fill_text("{} saved \u00b7 {} online \u00b7 {} connectable here", total, online, connectable);
  return fill_text("{} saved \u00b7 {} online", total, online);
}

void ListCache::refresh(const std::vector<SavedConnection>& connections, std::string_view search) {
  const bool live = live_sessions_enabled();
  if (!readiness_valid_ || live != live_sessions_ || connections != connections_) {
    connections_ = connections;
    live_sessions_ = live;
    readiness_.clear();
    readiness_.reserve(connections.size());
    for (const SavedConnection& c : connections) readiness_.push_back(c.readiness());
    counts_ = list_counts_text(connections, readiness_);
    row_nodes_.assign(connections.size(), std::nullopt);
    lowered_.clear();
    lowered_.reserve(connections.size());
    for (const SavedConnection& c : connections) {
      lowered_.push_back({text::to_lower(c.name), text::to_lower(c.host), text::to_lower(c.user),
                          text::to_lower(c.group), text::to_lower(c.kind.as_str())});
    }
    readiness_valid_ = true;
    ++readiness_computations_;
    order_valid_ = false;
  }
  if (!order_valid_ || search != search_) {
    search_ = search;
    // What filtered_connections gives, with each text lower-cased once per
    // change of the list rather than once per search.
    const std::string query = prepare_query(search);
    const auto hit = [&](const std::string& field) { return field.find(query) != std::string::npos; };
    order_.clear();
    for (std::size_t i = 0; i < connections.size(); ++i) {
      const Lowered& l = lowered_[i];
      if (query.empty() || hit(l.name) || hit(l.host) || hit(l.user) || hit(l.group) || hit(l.kind)) {
        order_.push_back(i);
      }
    }
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      return connection_order_is_less({connections[a].favorite, lowered_[a].name},
                                      {connections[b].favorite, lowered_[b].name});
    });
    order_valid_ = true;
    ++order_computations_;
  }
}

const vesk_ui::access::AccessNode& ListCache::row_node(std::size_t index,
                                                       const std::function<vesk_ui::access::AccessNode()>& make) {
  std::optional<vesk_ui::access::AccessNode>& node = row_nodes_[index];
  if (!node) node = make();
  return *node;
}

ConnectionView ListCache::view(const std::vector<SavedConnection>& connections) const {
  ConnectionView out;
  out.reserve(order_.size());
  for (std::size_t i : order_) out.push_back(&connections[i]);
  return out;
}

}  // namespace remote::app
