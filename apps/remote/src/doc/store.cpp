#include "apps/remote/src/doc/store.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <span>
#include <type_traits>
#include <utility>

namespace remote::doc {
namespace {

namespace vdoc = vesk_ui::doc;

[[noreturn]] void fatal(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// For a write that fails only through a fault in this file; each caller says
// why it cannot fail.
template <class T>
T must(Result<T> done, const char* message) {
  if (!done) fatal(message);
  if constexpr (!std::is_void_v<T>) return std::move(*done);
}

Result<void> not_utf8(std::string_view field) {
  return std::unexpected(vdoc::Error{std::string(field) + " is not valid UTF-8"});
}

// The document takes only UTF-8 texts; checking them all first lets a refused
// record leave the document as it was.
Result<void> check_texts(const SavedConnection& record) {
  const std::pair<std::string_view, std::string_view> texts[] = {
      {"name", record.name},           {"host", record.host},   {"user", record.user},
      {"last_used", record.last_used}, {"group", record.group},
  };
  for (const auto& [field, text] : texts) {
    if (!vdoc::valid_utf8(text)) return not_utf8(field);
  }
  return {};
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
// The put cannot fail: it fails only for a key that is not UTF-8 (the keys are
// fixed words or UUID text) or a map that does not exist (the map was just
// looked up or made).
ObjId get_or_create(Document& doc, const ObjId& map, std::string_view key, vdoc::ObjType type, const char* message) {
  if (auto existing = object_at(doc, map, key, type)) return *existing;
  return must(doc.put_object(map, key, type), message);
}

// Keys of the map, other than the canonical one, that name the id. Every
// spelling Uuid::parse takes is one of four forms of the canonical text with
// hex digits in either case, so four case-blind lookups find them all; the
// "urn:uuid:" prefix itself must be lower case, which the parse checks.
std::vector<std::string> alias_keys(const Document& doc, const ObjId& map, const Uuid& id, std::string_view canonical) {
  std::string forms[4];
  forms[0] = canonical;
  for (char c : canonical) {
    if (c != '-') forms[1].push_back(c);
  }
  forms[2].append("{").append(canonical).append("}");
  forms[3].append("urn:uuid:").append(canonical);
  std::vector<std::string> out;
  for (const std::string& form : forms) {
    for (auto& key : doc.keys_ignoring_case(map, form)) {
      if (key != canonical && Uuid::parse(key) == id) out.push_back(std::move(key));
    }
  }
  std::sort(out.begin(), out.end());
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

// Keys just read from the map: deleting them cannot fail (a delete fails only
// when the map does not exist).
void delete_keys(Document& doc, const ObjId& map, const std::vector<std::string>& keys) {
  for (const auto& key : keys) must(doc.delete_key(map, key), "delete_key connection never fails");
}

Result<void> write_fields(Document& doc, const ObjId& entry, const SavedConnection& record) {
  const ObjId name = get_or_create(doc, entry, "name", vdoc::ObjType::Text, "put_object name never fails");
  if (auto spliced = vdoc::splice_text_diffed(doc, name, record.name); !spliced) {
    return std::unexpected(spliced.error());
  }
  // Every field the document takes is written; the first refusal is reported.
  const Result<bool> puts[] = {
      put_str_if_changed(doc, entry, "host", record.host),
      put_int_if_changed(doc, entry, "port", static_cast<std::int64_t>(record.port)),
      put_str_if_changed(doc, entry, "user", record.user),
      put_str_if_changed(doc, entry, "kind", record.kind.as_str()),
      put_str_if_changed(doc, entry, "auth", record.auth.as_str()),
      put_str_if_changed(doc, entry, "last_used", record.last_used),
      put_str_if_changed(doc, entry, "presence", record.presence.as_str()),
      put_str_if_changed(doc, entry, "group", record.group),
      put_bool_if_changed(doc, entry, "favorite", record.favorite),
  };
  for (const auto& put : puts) {
    if (!put) return std::unexpected(put.error());
  }
  return {};
}

// The shared tail of the put_*_if_changed writers.
Result<bool> put_scalar(Document& doc, const ObjId& map, std::string_view key, vdoc::Scalar value) {
  if (auto put = doc.put(map, key, std::move(value)); !put) return std::unexpected(put.error());
  return true;
}

// Rust's float-to-integer cast: toward zero, saturating, NaN to 0.
std::int64_t saturating_trunc(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 0x1p63) return INT64_MAX;
  if (v < -0x1p63) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

// The port from a "port" scalar: integers of every kind as they are, a
// float truncated; anything else is 0.
std::uint16_t port_of(const vdoc::Scalar* s) {
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

std::string_view str_of(const vdoc::Scalar* s) {
  if (s == nullptr) return {};
  return s->as_str().value_or(std::string_view());
}

// One entry map read in a single pass over its keys.
SavedConnection read_entry(const Document& doc, const ObjId& entry, const Uuid& id) {
  SavedConnection c;
  c.id = id;
  std::optional<ObjId> name;
  std::string_view kind, auth, presence;
  (void)doc.for_each_entry(entry, [&](const vdoc::EntryView& e) {
    const std::string_view key = e.key;
    switch (key.size()) {
      case 4:
        if (key == "name") {
          if (e.is_object(vdoc::ObjType::Text)) name = e.object.id;
        } else if (key == "host") {
          c.host = str_of(e.scalar);
        } else if (key == "port") {
          c.port = port_of(e.scalar);
        } else if (key == "user") {
          c.user = str_of(e.scalar);
        } else if (key == "kind") {
          kind = str_of(e.scalar);
        } else if (key == "auth") {
          auth = str_of(e.scalar);
        }
        break;
      case 5:
        if (key == "group") c.group = str_of(e.scalar);
        break;
      case 8:
        if (key == "presence") {
          presence = str_of(e.scalar);
        } else if (key == "favorite") {
          c.favorite = e.scalar != nullptr && e.scalar->as_bool().value_or(false);
        }
        break;
      case 9:
        if (key == "last_used") c.last_used = str_of(e.scalar);
        break;
      default: break;
    }
  });
  c.kind = ConnectionKind::parse(kind);
  c.auth = AuthKind::parse(auth);
  c.presence = Presence::parse(presence);
  if (name) {
    auto content = doc.text(*name);
    if (content) c.name = std::move(*content);
  }
  return c;
}

// The change that creates the root "connections" map. Every replica makes it
// the same way (fixed actor, first sequence number, time 0, no message), so it
// has the same hash everywhere and replicas that start empty share one map;
// each creating its own would let the last writer's map hide the others'
// entries. The actor is the lowest but one, so a map created by an older
// build under a random actor wins the key over this one rather than hiding
// the profiles already there.
const std::vector<std::uint8_t>& connections_root_change() {
  static const std::vector<std::uint8_t> change = [] {
    vdoc::ActorId actor;
    actor.bytes.back() = 1;
    Document seed(actor);
    if (!seed.put_object(ObjId::root(), kConnectionsKey, vdoc::ObjType::Map)) {
      fatal("put_object connections on root never fails");
    }
    seed.commit({}, 0);
    return seed.encoded_changes().at(0);
  }();
  return change;
}

}  // namespace

ObjId connections_map(Document& doc) {
  if (auto map = find_connections_map(doc)) return *map;
  if (doc.apply_changes(std::span(&connections_root_change(), 1))) {
    if (auto map = find_connections_map(doc)) return *map;
  }
  // Another value won the key over the fixed change, or the document refused
  // it (it holds another first change of the fixed actor): a new map then.
  return get_or_create(doc, ObjId::root(), kConnectionsKey, vdoc::ObjType::Map,
                       "put_object connections on root never fails");
}

std::optional<ObjId> find_connections_map(const Document& doc) {
  return object_at(doc, ObjId::root(), kConnectionsKey, vdoc::ObjType::Map);
}

Result<void> write_connection(Document& doc, const SavedConnection& record) {
  if (auto texts = check_texts(record); !texts) return texts;
  const ObjId map = connections_map(doc);
  const std::string canonical = record.id.to_string();
  const ObjId entry = get_or_create(doc, map, canonical, vdoc::ObjType::Map, "put_object connection map never fails");
  if (auto written = write_fields(doc, entry, record); !written) return written;
  delete_keys(doc, map, alias_keys(doc, map, record.id, canonical));
  return {};
}

Result<void> write_connections(Document& doc, const std::vector<SavedConnection>& records) {
  Result<void> first;
  for (const auto& record : records) {
    if (auto written = write_connection(doc, record); !written && first) first = std::move(written);
  }
  return first;
}

Result<void> rename_connection(Document& doc, const Uuid& id, std::string_view name) {
  if (!vdoc::valid_utf8(name)) return not_utf8("name");
  const auto map = find_connections_map(doc);
  if (!map) return {};
  for (const ObjId& entry : entries_of(doc, *map, id)) {
    const ObjId text = get_or_create(doc, entry, "name", vdoc::ObjType::Text, "put_object name never fails");
    if (auto spliced = vdoc::splice_text_diffed(doc, text, name); !spliced) return std::unexpected(spliced.error());
  }
  return {};
}

void set_favorite(Document& doc, const Uuid& id, bool favorite) {
  const auto map = find_connections_map(doc);
  if (!map) return;
  // A boolean under a fixed key of an entry map just read: the put cannot fail.
  for (const ObjId& entry : entries_of(doc, *map, id)) {
    must(put_bool_if_changed(doc, entry, "favorite", favorite), "put favorite never fails");
  }
}

void delete_connection(Document& doc, const Uuid& id) {
  const auto map = find_connections_map(doc);
  if (!map) return;
  const std::string canonical = id.to_string();
  // Deleting an absent key succeeds, so this one cannot fail either.
  must(doc.delete_key(*map, canonical), "delete_key connection never fails");
  delete_keys(doc, *map, alias_keys(doc, *map, id, canonical));
}

std::vector<SavedConnection> load_connections(const Document& doc) {
  std::vector<SavedConnection> out;
  const auto map = find_connections_map(doc);
  if (!map) return out;
  out.reserve(doc.map_size(*map));
  (void)doc.for_each_entry(*map, [&](const vdoc::EntryView& e) {
    if (!e.is_object(vdoc::ObjType::Map)) return;
    const auto id = Uuid::parse(e.key);
    if (!id) return;
    // Reading the entry does not change the document, so the view of the
    // outer map stays valid meanwhile.
    out.push_back(read_entry(doc, e.object.id, *id));
  });
  return out;
}

std::string read_string(const Document& doc, const ObjId& map, std::string_view key) {
  const auto value = read(doc, map, key);
  const vdoc::Scalar* s = value ? value->as_scalar() : nullptr;
  if (s == nullptr) return {};
  const auto text = s->as_str();
  return text ? std::string(*text) : std::string();
}

Result<bool> put_str_if_changed(Document& doc, const ObjId& map, std::string_view key, std::string_view value) {
  const auto current = read(doc, map, key);
  const vdoc::Scalar* s = current ? current->as_scalar() : nullptr;
  if (s != nullptr && s->as_str() == value) return false;
  return put_scalar(doc, map, key, vdoc::Scalar::str(value));
}

Result<bool> put_bool_if_changed(Document& doc, const ObjId& map, std::string_view key, bool value) {
  const auto current = read(doc, map, key);
  const vdoc::Scalar* s = current ? current->as_scalar() : nullptr;
  if (s != nullptr && s->as_bool() == value) return false;
  return put_scalar(doc, map, key, vdoc::Scalar::boolean(value));
}

Result<bool> put_int_if_changed(Document& doc, const ObjId& map, std::string_view key, std::int64_t value) {
  const auto current = read(doc, map, key);
  const vdoc::Scalar* s = current ? current->as_scalar() : nullptr;
  if (s != nullptr && s->as_int() == value) return false;
  return put_scalar(doc, map, key, vdoc::Scalar::int_(value));
}

}  // namespace remote::doc
