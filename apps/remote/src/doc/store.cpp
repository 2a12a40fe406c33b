#include "apps/remote/src/doc/store.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace remote::doc {
namespace {

namespace vdoc = vesk_ui::doc;

[[noreturn]] void fatal(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// The value at a map key; a failed read counts as absent.
std::optional<vdoc::Value> read(const Document& doc, const ObjId& map, std::string_view key) {
  auto value = doc.get(map, key);
  if (!value) return std::nullopt;
  return std::move(*value);
}

std::optional<ObjId> object_at(const Document& doc, const ObjId& map, std::string_view key, vdoc::ObjType type) {
  const auto value = read(doc, map, key);
  if (!value || !value->is_object(type)) return std::nullopt;
  return value->object_id();
}

// Reuses an object of the expected type at the key, else puts a new one there.
ObjId get_or_create(Document& doc, const ObjId& map, std::string_view key, vdoc::ObjType type, const char* message) {
  if (auto existing = object_at(doc, map, key, type)) return *existing;
  auto created = doc.put_object(map, key, type);
  if (!created) fatal(message);
  return *created;
}

// Whether a key other than the canonical one names the id. Most keys of a large
// map are told apart by their first hex digit, without a full parse.
bool is_alias(std::string_view key, std::string_view canonical, const Uuid& id) {
  std::size_t first_digit = 0;
  switch (key.size()) {
    case 32:
    case 36: break;
    case 38: first_digit = 1; break;  // {...}
    case 45: first_digit = 9; break;  // urn:uuid:...
    default: return false;
  }
  const char c = key[first_digit];
  const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower != canonical[0]) return false;
  return key != canonical && Uuid::parse(key) == id;
}

// Keys of the map, other than the canonical one, that name the id. This visits
// every key (the document offers no lookup by spelling), so it costs O(entries).
std::vector<std::string> alias_keys(const Document& doc, const ObjId& map, const Uuid& id, std::string_view canonical) {
  std::vector<std::string> out;
  for (auto& key : doc.keys(map)) {
    if (is_alias(key, canonical, id)) out.push_back(std::move(key));
  }
  return out;
}

// Entry maps of every key that names the id, the canonical key first.
std::vector<ObjId> entries_of(const Document& doc, const ObjId& map, const Uuid& id) {
  std::vector<ObjId> out;
  const std::string canonical = id.to_string();
  if (auto entry = object_at(doc, map, canonical, vdoc::ObjType::Map)) out.push_back(*entry);
  for (const auto& key : alias_keys(doc, map, id, canonical)) {
    if (auto entry = object_at(doc, map, key, vdoc::ObjType::Map)) out.push_back(*entry);
  }
  return out;
}

void write_fields(Document& doc, const ObjId& entry, const SavedConnection& record) {
  const ObjId name = get_or_create(doc, entry, "name", vdoc::ObjType::Text, "put_object name never fails");
  (void)vdoc::splice_text_diffed(doc, name, record.name);
  put_str_if_changed(doc, entry, "host", record.host);
  put_int_if_changed(doc, entry, "port", static_cast<std::int64_t>(record.port));
  put_str_if_changed(doc, entry, "user", record.user);
  put_str_if_changed(doc, entry, "kind", record.kind.as_str());
  put_str_if_changed(doc, entry, "auth", record.auth.as_str());
  put_str_if_changed(doc, entry, "last_used", record.last_used);
  put_str_if_changed(doc, entry, "presence", record.presence.as_str());
  put_str_if_changed(doc, entry, "group", record.group);
  put_bool_if_changed(doc, entry, "favorite", record.favorite);
}

ObjId write_entry(Document& doc, const ObjId& map, const std::string& canonical, const SavedConnection& record) {
  const ObjId entry = get_or_create(doc, map, canonical, vdoc::ObjType::Map, "put_object connection map never fails");
  write_fields(doc, entry, record);
  return entry;
}

// Rust's float-to-integer cast: toward zero, saturating, NaN to 0.
std::int64_t saturating_trunc(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 0x1p63) return INT64_MAX;
  if (v < -0x1p63) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

std::uint16_t read_port(const Document& doc, const ObjId& entry) {
  const auto value = read(doc, entry, "port");
  const vdoc::Scalar* s = value ? value->as_scalar() : nullptr;
  if (s == nullptr) return 0;
  std::int64_t wide = 0;
  switch (s->kind()) {
    case vdoc::ScalarKind::Int: wide = *s->as_int(); break;
    case vdoc::ScalarKind::Uint: wide = static_cast<std::int64_t>(*s->as_uint()); break;
    case vdoc::ScalarKind::Timestamp: wide = *s->as_timestamp(); break;
    case vdoc::ScalarKind::Counter: wide = *s->as_counter(); break;
    case vdoc::ScalarKind::F64: wide = saturating_trunc(*s->as_f64()); break;
    default: return 0;
  }
  // The low 16 bits, with no range check: 65558 reads as 22, -1 as 65535.
  return static_cast<std::uint16_t>(static_cast<std::uint64_t>(wide));
}

bool read_bool(const Document& doc, const ObjId& entry, std::string_view key) {
  const auto value = read(doc, entry, key);
  const vdoc::Scalar* s = value ? value->as_scalar() : nullptr;
  return s != nullptr && s->as_bool().value_or(false);
}

std::string read_name(const Document& doc, const ObjId& entry) {
  const auto text = object_at(doc, entry, "name", vdoc::ObjType::Text);
  if (!text) return {};
  auto content = doc.text(*text);
  return content ? std::move(*content) : std::string();
}

}  // namespace

ObjId connections_map(Document& doc) {
  return get_or_create(doc, ObjId::root(), kConnectionsKey, vdoc::ObjType::Map,
                       "put_object connections on root never fails");
}

std::optional<ObjId> find_connections_map(const Document& doc) {
  return object_at(doc, ObjId::root(), kConnectionsKey, vdoc::ObjType::Map);
}

void write_connection(Document& doc, const SavedConnection& record) {
  const ObjId map = connections_map(doc);
  const std::string canonical = record.id.to_string();
  write_entry(doc, map, canonical, record);
  for (const auto& key : alias_keys(doc, map, record.id, canonical)) (void)doc.delete_key(map, key);
}

void write_connections(Document& doc, const std::vector<SavedConnection>& records) {
  const ObjId map = connections_map(doc);
  // One pass over the keys finds every non-canonical spelling.
  std::unordered_map<Uuid, std::vector<std::string>> aliases;
  for (auto& key : doc.keys(map)) {
    if (auto id = Uuid::parse(key); id && id->to_string() != key) aliases[*id].push_back(std::move(key));
  }
  for (const auto& record : records) {
    write_entry(doc, map, record.id.to_string(), record);
    if (auto it = aliases.find(record.id); it != aliases.end()) {
      for (const auto& key : it->second) (void)doc.delete_key(map, key);
      aliases.erase(it);
    }
  }
}

void rename_connection(Document& doc, const Uuid& id, std::string_view name) {
  const auto map = find_connections_map(doc);
  if (!map) return;
  for (const ObjId& entry : entries_of(doc, *map, id)) {
    const ObjId text = get_or_create(doc, entry, "name", vdoc::ObjType::Text, "put_object name never fails");
    (void)vdoc::splice_text_diffed(doc, text, name);
  }
}

void set_favorite(Document& doc, const Uuid& id, bool favorite) {
  const auto map = find_connections_map(doc);
  if (!map) return;
  for (const ObjId& entry : entries_of(doc, *map, id)) put_bool_if_changed(doc, entry, "favorite", favorite);
}

void delete_connection(Document& doc, const Uuid& id) {
  const auto map = find_connections_map(doc);
  if (!map) return;
  const std::string canonical = id.to_string();
  (void)doc.delete_key(*map, canonical);
  for (const auto& key : alias_keys(doc, *map, id, canonical)) (void)doc.delete_key(*map, key);
}

std::vector<SavedConnection> load_connections(const Document& doc) {
  std::vector<SavedConnection> out;
  const auto map = find_connections_map(doc);
  if (!map) return out;
  const std::vector<std::string> keys = doc.keys(*map);
  out.reserve(keys.size());
  for (const auto& key : keys) {
    const auto id = Uuid::parse(key);
    if (!id) continue;
    const auto entry = object_at(doc, *map, key, vdoc::ObjType::Map);
    if (!entry) continue;
    SavedConnection c;
    c.id = *id;
    c.name = read_name(doc, *entry);
    c.host = read_string(doc, *entry, "host");
    c.port = read_port(doc, *entry);
    c.user = read_string(doc, *entry, "user");
    c.kind = ConnectionKind::parse(read_string(doc, *entry, "kind"));
    c.auth = AuthKind::parse(read_string(doc, *entry, "auth"));
    c.last_used = read_string(doc, *entry, "last_used");
    c.presence = Presence::parse(read_string(doc, *entry, "presence"));
    c.group = read_string(doc, *entry, "group");
    c.favorite = read_bool(doc, *entry, "favorite");
    out.push_back(std::move(c));
  }
  return out;
}

std::string read_string(const Document& doc, const ObjId& map, std::string_view key) {
  const auto value = read(doc, map, key);
  const vdoc::Scalar* s = value ? value->as_scalar() : nullptr;
  if (s == nullptr) return {};
  const auto text = s->as_str();
  return text ? std::string(*text) : std::string();
}

bool put_str_if_changed(Document& doc, const ObjId& map, std::string_view key, std::string_view value) {
  const auto current = read(doc, map, key);
  const vdoc::Scalar* s = current ? current->as_scalar() : nullptr;
  if (s != nullptr && s->as_str() == value) return false;
  (void)doc.put(map, key, vdoc::Scalar::str(value));
  return true;
}

bool put_bool_if_changed(Document& doc, const ObjId& map, std::string_view key, bool value) {
  const auto current = read(doc, map, key);
  const vdoc::Scalar* s = current ? current->as_scalar() : nullptr;
  if (s != nullptr && s->as_bool() == value) return false;
  (void)doc.put(map, key, vdoc::Scalar::boolean(value));
  return true;
}

bool put_int_if_changed(Document& doc, const ObjId& map, std::string_view key, std::int64_t value) {
  const auto current = read(doc, map, key);
  const vdoc::Scalar* s = current ? current->as_scalar() : nullptr;
  if (s != nullptr && s->as_int() == value) return false;
  (void)doc.put(map, key, vdoc::Scalar::int_(value));
  return true;
}

}  // namespace remote::doc
