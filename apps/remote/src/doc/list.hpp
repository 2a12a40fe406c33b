#pragma once

// Operations on the in-memory list of saved connections, and the filtered,
// ordered view of it that every screen uses. The list itself is never sorted.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/uuid.hpp"

namespace remote::app {

// Entries of a list in display order; valid until the list changes. Rebuild per use.
using ConnectionView = std::vector<const SavedConnection*>;

// The first entry with the id (ids are normally unique, but a document may repeat one).
const SavedConnection* find_connection(const std::vector<SavedConnection>& list, const Uuid& id);
SavedConnection* find_connection(std::vector<SavedConnection>& list, const Uuid& id);
// Replaces the first entry with the record's id in place, or appends it.
Uuid upsert_connection(std::vector<SavedConnection>& list, SavedConnection record);
// Removes every entry with the id; true when the list became shorter.
bool remove_connection(std::vector<SavedConnection>& list, const Uuid& id);
// Flips the favourite of the first entry with the id; the new value, false when none has it.
bool toggle_favorite(std::vector<SavedConnection>& list, const Uuid& id);
std::size_t count_online(const std::vector<SavedConnection>& list);

// A search query trimmed and lower-cased once per view.
std::string prepare_query(std::string_view query);
// The texts the search looks at, in the order it tries them: name, host,
// user, group and kind word.
inline constexpr std::size_t kSearchFieldCount = 5;
using SearchFields = std::array<std::string_view, kSearchFieldCount>;
SearchFields search_fields(const SavedConnection& entry);
// The search fields lower-cased, for callers that keep them between searches.
using LoweredSearchFields = std::array<std::string, kSearchFieldCount>;
LoweredSearchFields lowered_search_fields(const SavedConnection& entry);
// Whether the prepared query is a substring of the lower-cased name, host, user,
// group or kind word; the first hit ends the test. An empty prepared query
// matches everything.
bool connection_matches_query(const SavedConnection& entry, std::string_view prepared_query);
bool lowered_fields_match(const LoweredSearchFields& lowered, std::string_view prepared_query);
// What an entry sorts by: its favourite flag and its lower-cased name.
struct ConnectionOrderKey {
  bool favorite = false;
  std::string_view lowered_name;
};
// Favourites first, then lower-cased names compared bytewise. Sort with
// std::stable_sort so entries equal in both keep list order.
bool connection_order_is_less(const ConnectionOrderKey& a, const ConnectionOrderKey& b);
// Matching entries in display order (stable: equal entries keep list order).
ConnectionView filtered_connections(const std::vector<SavedConnection>& list, std::string_view query);

std::vector<Uuid> collect_connection_ids(const ConnectionView& view);
std::vector<SavedConnection> clone_connections(const ConnectionView& view);
// The first entry with the id out of a list that is consumed.
std::optional<SavedConnection> take_connection_by_id(std::vector<SavedConnection>&& list, const Uuid& id);

}  // namespace remote::app
