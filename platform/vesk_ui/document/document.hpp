// Mergeable document: an operation-based CRDT of maps, lists and text.
//
// Every edit is an operation with a Lamport id (counter, actor). Map keys are
// last-writer-wins registers: a put or delete names the operations it replaces,
// and of concurrent survivors the one with the highest id is the visible value.
// Lists and text are RGA sequences with tombstones, so concurrent splices all
// survive. Edits gather in an implicit open transaction that becomes one change
// (actor, sequence number, dependency hashes, SHA-256 hash) when committed;
// heads are the changes nobody depends on yet. Replicas that have applied the
// same set of changes hold the same state, whatever the order of merging.
//
// All strings entering the document (keys, string scalars, text) must be valid
// UTF-8; invalid input is refused with an error and changes nothing.
//
// A Document belongs to one thread at a time: even const calls may close the
// open transaction, cache the key order of a map or its index by folded key,
// or remember the last object looked up.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace vesk_ui::doc {

struct Error {
  std::string message;
};

template <class T>
using Result = std::expected<T, Error>;

// 16 random bytes naming the author of changes.
struct ActorId {
  std::array<uint8_t, 16> bytes{};

  // Fresh random id (libsodium randombytes).
  static ActorId random();
  // Exactly 16 bytes, else an error.
  static Result<ActorId> from_bytes(std::span<const uint8_t> bytes);
  // 32 lower-case hex digits.
  std::string to_hex() const;

  auto operator<=>(const ActorId&) const = default;
  bool operator==(const ActorId&) const = default;
};

// SHA-256 of a change's canonical encoding.
struct ChangeHash {
  std::array<uint8_t, 32> bytes{};

  // 64 lower-case hex digits.
  std::string to_hex() const;

  auto operator<=>(const ChangeHash&) const = default;
  bool operator==(const ChangeHash&) const = default;
};

// Identifies an object: the id of the operation that created it. The root map
// has counter 0 and the all-zero actor. Stable across replicas.
class ObjId {
 public:
  ObjId() = default;  // the root
  ObjId(uint64_t counter, ActorId actor) : counter_(counter), actor_(actor) {}

  static ObjId root() { return ObjId(); }
  bool is_root() const { return counter_ == 0; }
  uint64_t counter() const { return counter_; }
  const ActorId& actor() const { return actor_; }
  // "_root" or "{counter}@{actor hex}", for diagnostics.
  std::string to_string() const;

  auto operator<=>(const ObjId&) const = default;
  bool operator==(const ObjId&) const = default;

 private:
  uint64_t counter_ = 0;
  ActorId actor_{};
};

enum class ObjType : uint8_t { Map, List, Text };

enum class ScalarKind : uint8_t { Str, Int, Uint, F64, Counter, Timestamp, Boolean, Null, Bytes };

// A scalar value with its kind. Equality compares kind and value, so an
// unsigned 22 differs from a signed 22; doubles compare by bit pattern.
class Scalar {
 public:
  static Scalar str(std::string_view s);
  static Scalar int_(int64_t v);
  static Scalar uint(uint64_t v);
  static Scalar f64(double v);
  static Scalar counter(int64_t v);
  static Scalar timestamp(int64_t v);  // milliseconds since the Unix epoch
  static Scalar boolean(bool v);
  static Scalar null();
  static Scalar bytes(std::vector<uint8_t> v);

  ScalarKind kind() const { return kind_; }

  // Each accessor answers only for its own kind, else nullopt.
  std::optional<std::string_view> as_str() const;
  std::optional<int64_t> as_int() const;
  std::optional<uint64_t> as_uint() const;
  std::optional<double> as_f64() const;
  std::optional<int64_t> as_counter() const;
  std::optional<int64_t> as_timestamp() const;
  std::optional<bool> as_bool() const;
  bool is_null() const { return kind_ == ScalarKind::Null; }
  std::optional<std::span<const uint8_t>> as_bytes() const;

  // Diagnostic text, e.g. "int 22", "str \"x\"".
  std::string to_string() const;

  bool operator==(const Scalar& other) const;

 private:
  using Payload = std::variant<std::monostate, std::string, int64_t, uint64_t, double, bool, std::vector<uint8_t>>;
  Scalar(ScalarKind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}
  // A string built in place (strings are most of what a document holds).
  explicit Scalar(std::string_view s) : kind_(ScalarKind::Str), payload_(std::in_place_type<std::string>, s) {}

  ScalarKind kind_ = ScalarKind::Null;
  Payload payload_;
};

struct ObjectRef {
  ObjType type = ObjType::Map;
  ObjId id;
  bool operator==(const ObjectRef&) const = default;
};

// What a map key or list element holds: a scalar or a nested object.
class Value {
 public:
  Value(Scalar s) : v_(std::move(s)) {}
  Value(ObjectRef o) : v_(o) {}

  bool is_scalar() const { return std::holds_alternative<Scalar>(v_); }
  bool is_object() const { return std::holds_alternative<ObjectRef>(v_); }
  // True when the value is an object of exactly this type.
  bool is_object(ObjType type) const;
  // The scalar, or nullptr for an object.
  const Scalar* as_scalar() const { return std::get_if<Scalar>(&v_); }
  // The object reference, or nullptr for a scalar.
  const ObjectRef* as_object() const { return std::get_if<ObjectRef>(&v_); }
  // The object's id when the value is an object.
  std::optional<ObjId> object_id() const;

  bool operator==(const Value&) const = default;

 private:
  std::variant<Scalar, ObjectRef> v_;
};

// A visible map entry, seen in place by Document::for_each_entry: nothing is
// copied, and the view is valid only during the call that receives it.
struct EntryView {
  std::string_view key;
  const Scalar* scalar = nullptr;  // the value when it is a scalar
  ObjectRef object;                // the value when `scalar` is null

  bool is_object(ObjType type) const { return scalar == nullptr && object.type == type; }
};

// Metadata of one committed change.
struct ChangeInfo {
  ActorId actor;
  uint64_t seq = 0;       // 1 for an actor's first change
  uint64_t start_op = 0;  // counter of its first operation
  int64_t time = 0;       // seconds since the Unix epoch, as given at commit
  std::string message;
  ChangeHash hash;
  std::vector<ChangeHash> deps;  // sorted
  size_t op_count = 0;           // operation ids consumed (one per text code point)
};

class Document {
 public:
  // Empty document with a random actor. Cheap: no history, one root map.
  Document();
  explicit Document(ActorId actor);
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  // A moved-from Document may only be assigned to or destroyed.

  ActorId actor() const;
  // Raw bytes of the actor id (16 bytes).
  std::vector<uint8_t> actor_bytes() const;
  // Changes the actor for later changes; commits the open transaction first.
  // Two replicas must never write under the same actor at the same time.
  void set_actor(ActorId actor);

  // ---- maps ----
  // The visible value at the key of a map; nullopt when absent. Error when the
  // object does not exist or is not a map.
  Result<std::optional<Value>> get(const ObjId& obj, std::string_view key) const;
  // Every concurrent value at the key (the visible one first); empty when absent.
  Result<std::vector<Value>> get_all(const ObjId& obj, std::string_view key) const;
  // Writes a scalar at the key, replacing whatever was there.
  Result<void> put(const ObjId& obj, std::string_view key, Scalar value);
  // Creates an empty object at the key, replacing whatever was there; its id.
  Result<ObjId> put_object(const ObjId& obj, std::string_view key, ObjType type);
  // Removes the key; deleting an absent key succeeds and records nothing.
  Result<void> delete_key(const ObjId& obj, std::string_view key);
  // Visible keys of a map in byte-lexicographic order; empty for a non-map.
  std::vector<std::string> keys(const ObjId& obj) const;
  // Number of visible keys of a map; 0 for a non-map.
  size_t map_size(const ObjId& obj) const;
  // Calls f(const EntryView&) for every visible key of a map, in the order of
  // keys(), with its visible value; far cheaper than keys() and get() per key.
  // f must not change the document. Error when obj is not a map.
  template <class F>
  Result<void> for_each_entry(const ObjId& obj, F&& f) const {
    using Fn = std::remove_reference_t<F>;
    return visit_entries(
        obj, [](void* ctx, const EntryView& e) { (*static_cast<Fn*>(ctx))(e); },
        const_cast<void*>(static_cast<const void*>(&f)));
  }
  // Visible keys of a map equal to `key` when ASCII letters are compared
  // without regard to case (`key` itself included when present), in the
  // order of keys(). Cheap on any size of map: an index by folded key is
  // built at the first call and kept up to date after it. Empty for a non-map.
  std::vector<std::string> keys_ignoring_case(const ObjId& obj, std::string_view key) const;

  // Type of an existing object (also one no longer reachable), else nullopt.
  std::optional<ObjType> object_type(const ObjId& obj) const;

  // ---- text ----
  // The text's content as UTF-8. Error when obj is not a text object.
  Result<std::string> text(const ObjId& obj) const;
  // Deletes `del` code points at code point `pos` and inserts `insert` there.
  // Error (nothing changed) for a non-text object, pos or pos+del past the end,
  // or invalid UTF-8.
  Result<void> splice_text(const ObjId& obj, size_t pos, size_t del, std::string_view insert);

  // ---- lists ----
  // Number of elements of a list, or code points of a text. Error otherwise.
  Result<size_t> length(const ObjId& obj) const;
  // Element at index; nullopt past the end. Error when obj is not a list.
  Result<std::optional<Value>> list_get(const ObjId& list, size_t index) const;
  // Inserts before index (index == length appends).
  Result<void> list_insert(const ObjId& list, size_t index, Scalar value);
  Result<ObjId> list_insert_object(const ObjId& list, size_t index, ObjType type);
  // Replaces the element at index (index < length).
  Result<void> list_put(const ObjId& list, size_t index, Scalar value);
  Result<ObjId> list_put_object(const ObjId& list, size_t index, ObjType type);
  // Removes the element at index (index < length).
  Result<void> list_delete(const ObjId& list, size_t index);

  // ---- history ----
  // Closes the open transaction as one change carrying this message and time
  // (default: now). Nothing is recorded when the transaction is empty.
  void commit(std::string message = {}, std::optional<int64_t> time = {});
  // Number of operations in the open transaction.
  size_t pending_ops() const;
  // Current heads, sorted; commits the open transaction first (the document's
  // content is unchanged by that, hence const).
  std::vector<ChangeHash> get_heads() const;
  // Metadata of every change in application order (a causal order); commits.
  std::vector<ChangeInfo> changes() const;
  // Canonical encoding of every change in application order; commits.
  std::vector<std::vector<uint8_t>> encoded_changes() const;
  // Encoded changes that are not ancestors of (or equal to) the given heads,
  // in causal order; unknown heads are ignored. Commits.
  std::vector<std::vector<uint8_t>> encoded_changes_since(std::span<const ChangeHash> heads) const;
  // Applies encoded changes (any order; duplicates ignored). A change that is
  // malformed, or whose dependencies never arrive, fails the call; the changes
  // applied before it stay. Commits the open transaction first.
  Result<void> apply_changes(std::span<const std::vector<uint8_t>> changes);
  // Applies every change of `other` this document lacks; commits both open
  // transactions. Merging with itself does nothing.
  Result<void> merge(Document& other);

  // ---- persistence ----
  // Whole history in one checksummed byte string; commits.
  std::vector<uint8_t> save() const;
  // Rebuilds a document from save() output, with a random actor. Corrupt,
  // truncated or oversized input gives an error, never a crash.
  static Result<Document> load(std::span<const uint8_t> bytes);
  // Same, keeping the given buffer for the document's history instead of
  // copying it.
  static Result<Document> load_owned(std::vector<uint8_t> bytes);
  // Same history and content, a new random actor. Commits first.
  Document fork() const;

  // Internal state; opaque.
  struct Impl;

 private:
  explicit Document(std::unique_ptr<Impl> impl);
  Result<void> visit_entries(const ObjId& obj, void (*fn)(void*, const EntryView&), void* ctx) const;
  static Result<Document> load_from(std::span<const uint8_t> bytes, std::shared_ptr<const std::vector<uint8_t>> owner);
  std::unique_ptr<Impl> impl_;
};

// Brings the text object to exactly `new_text` with one splice over the part
// between the common prefix and suffix (counted in code points). Returns true
// when a splice was made, false when the text was already equal. Error for a
// non-text object or invalid UTF-8 (nothing changed).
Result<bool> splice_text_diffed(Document& doc, const ObjId& text, std::string_view new_text);

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or
// values past U+10FFFF).
bool valid_utf8(std::string_view s);

}  // namespace vesk_ui::doc

template <>
struct std::hash<vesk_ui::doc::ObjId> {
  size_t operator()(const vesk_ui::doc::ObjId& id) const noexcept;
};
