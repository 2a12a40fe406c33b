#include "apps/remote/src/doc/list.hpp"

#include <algorithm>

#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

const SavedConnection* find_connection(const std::vector<SavedConnection>& list, const Uuid& id) {
  for (const auto& c : list) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

SavedConnection* find_connection(std::vector<SavedConnection>& list, const Uuid& id) {
  for (auto& c : list) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

Uuid upsert_connection(std::vector<SavedConnection>& list, SavedConnection record) {
  const Uuid id = record.id;
  if (SavedConnection* existing = find_connection(list, id)) {
    *existing = std::move(record);
  } else {
    list.push_back(std::move(record));
  }
  return id;
}

bool remove_connection(std::vector<SavedConnection>& list, const Uuid& id) {
  return std::erase_if(list, [&](const SavedConnection& c) { return c.id == id; }) > 0;
}

bool toggle_favorite(std::vector<SavedConnection>& list, const Uuid& id) {
  SavedConnection* c = find_connection(list, id);
  if (c == nullptr) return false;
  c->favorite = !c->favorite;
  return c->favorite;
}

std::size_t count_online(const std::vector<SavedConnection>& list) {
  return static_cast<std::size_t>(
      std::count_if(list.begin(), list.end(), [](const SavedConnection& c) { return c.presence == Presence::Online; }));
}

std::string prepare_query(std::string_view query) { return text::to_lower(text::trim(query)); }

SearchFields search_fields(const SavedConnection& entry) {
  return {entry.name, entry.host, entry.user, entry.group, entry.kind.as_str()};
}

LoweredSearchFields lowered_search_fields(const SavedConnection& entry) {
  const SearchFields fields = search_fields(entry);
  LoweredSearchFields lowered;
  for (std::size_t i = 0; i < kSearchFieldCount; ++i) lowered[i] = text::to_lower(fields[i]);
  return lowered;
}

namespace {

// The one matcher: `lowered(field)` gives a field lower-cased, so that the
// uncached path lower-cases only the fields it gets to.
template <class Fields, class Lower>
bool query_in_fields(const Fields& fields, std::string_view prepared_query, Lower lowered) {
  if (prepared_query.empty()) return true;
  return std::any_of(fields.begin(), fields.end(), [&](const auto& field) {
    return std::string_view(lowered(field)).find(prepared_query) != std::string_view::npos;
  });
}

}  // namespace

bool connection_matches_query(const SavedConnection& entry, std::string_view prepared_query) {
  return query_in_fields(search_fields(entry), prepared_query, [](std::string_view f) { return text::to_lower(f); });
}

bool lowered_fields_match(const LoweredSearchFields& lowered, std::string_view prepared_query) {
  return query_in_fields(lowered, prepared_query, [](const std::string& f) -> const std::string& { return f; });
}

bool connection_order_is_less(const ConnectionOrderKey& a, const ConnectionOrderKey& b) {
  if (a.favorite != b.favorite) return a.favorite;
  // std::string_view compares as unsigned bytes, which is the UTF-8 order wanted here.
  return a.lowered_name < b.lowered_name;
}

ConnectionView filtered_connections(const std::vector<SavedConnection>& list, std::string_view query) {
  const std::string prepared = prepare_query(query);
  // Lower-case each name once rather than once per comparison.
  struct Keyed {
    const SavedConnection* entry;
    std::string key;
  };
  std::vector<Keyed> keyed;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (connection_matches_query(list[i], prepared)) keyed.push_back({&list[i], text::to_lower(list[i].name)});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return connection_order_is_less({a.entry->favorite, a.key}, {b.entry->favorite, b.key});
  });
  ConnectionView view;
  view.reserve(keyed.size());
  for (const auto& k : keyed) view.push_back(k.entry);
  return view;
}

std::vector<Uuid> collect_connection_ids(const ConnectionView& view) {
  std::vector<Uuid> ids;
  ids.reserve(view.size());
  for (const auto* c : view) ids.push_back(c->id);
  return ids;
}

std::vector<SavedConnection> clone_connections(const ConnectionView& view) {
  std::vector<SavedConnection> out;
  out.reserve(view.size());
  for (const auto* c : view) out.push_back(*c);
  return out;
}

std::optional<SavedConnection> take_connection_by_id(std::vector<SavedConnection>&& list, const Uuid& id) {
  std::vector<SavedConnection> owned = std::move(list);
  for (auto& c : owned) {
    if (c.id == id) return std::move(c);
  }
  return std::nullopt;
}

}  // namespace remote::app
