#pragma once

// The saved connections in the connection document. This is the only code that
// knows the layout:
//
//   root["connections"]: map, keyed by the id as hyphenated lower-case text
//     entry: map { "name": text object, "host", "user", "kind", "auth",
//                  "last_used", "presence", "group": strings,
//                  "port": signed integer, "favorite": boolean }
//
// Writers touch only what changed, so writing an unchanged record records no
// change. Entries keyed by another spelling of a UUID (upper case, no hyphens,
// braces, urn:uuid:) are loaded, and the writers treat them as the same profile.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/uuid.hpp"
#include "platform/vesk_ui/document/document.hpp"

namespace remote::doc {

using Document = vesk_ui::doc::Document;
using ObjId = vesk_ui::doc::ObjId;
template <class T>
using Result = vesk_ui::doc::Result<T>;

// Root key of the connections map.
inline constexpr std::string_view kConnectionsKey = "connections";

// The root "connections" map; when missing it is created by one fixed change
// that is the same on every replica, or put in place of a value that is not
// a map.
ObjId connections_map(Document& doc);
// The root "connections" map when there is one; never changes the document.
std::optional<ObjId> find_connections_map(const Document& doc);

// Creates the entry when needed and brings every field to the record's values.
// The entry ends up under the canonical key alone: other keys that name the
// same id are removed. Those are found by case-blind key lookups, so a write
// costs the same whatever the number of entries. A record with a text the
// document refuses (not valid UTF-8) is an error and changes nothing.
Result<void> write_connection(Document& doc, const SavedConnection& record);
// Writes several records; same result as writing them one by one: every record
// the document takes is written, and the first error is returned.
Result<void> write_connections(Document& doc, const std::vector<SavedConnection>& records);

// These three act on every entry whose key names the id, and leave the document
// untouched when it has no "connections" map (absent, or another kind of value).
// A name that is not valid UTF-8 is an error and changes nothing.
Result<void> rename_connection(Document& doc, const Uuid& id, std::string_view name);
void set_favorite(Document& doc, const Uuid& id, bool favorite);
void delete_connection(Document& doc, const Uuid& id);

// Every stored record, in the document's key order. Keys that are not UUIDs and
// values that are not maps are skipped; unreadable fields fall back to defaults.
std::vector<SavedConnection> load_connections(const Document& doc);

// The text of a string scalar at the key, else "".
std::string read_string(const Document& doc, const ObjId& map, std::string_view key);

// Write the scalar unless an equal one (same kind and value) is stored. True when
// it was written, false when it was already there; the document's error when it
// refuses the write (nothing written).
[[nodiscard]] Result<bool> put_str_if_changed(Document& doc, const ObjId& map, std::string_view key,
                                              std::string_view value);
[[nodiscard]] Result<bool> put_bool_if_changed(Document& doc, const ObjId& map, std::string_view key, bool value);
[[nodiscard]] Result<bool> put_int_if_changed(Document& doc, const ObjId& map, std::string_view key,
                                              std::int64_t value);

}  // namespace remote::doc
