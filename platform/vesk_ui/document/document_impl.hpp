// The document's state (Document::Impl): the actor table, the objects, the
// history of changes and the operations of the change being made. Its methods
// are spread over the files of each concern; the small ones used on every
// operation stay here to be inlined.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/vesk_ui/document/codec.hpp"
#include "platform/vesk_ui/document/document.hpp"
#include "platform/vesk_ui/document/internal.hpp"
#include "platform/vesk_ui/document/map_register.hpp"
#include "platform/vesk_ui/document/object_table.hpp"
#include "platform/vesk_ui/document/op_store.hpp"

namespace vesk_ui::doc {

using namespace detail;

struct Document::Impl {
  ActorId actor;
  uint32_t actor_idx = 0;
  std::vector<ActorId> actors;
  std::unordered_map<ActorId, uint32_t, ActorHasher> actor_index;
  mutable uint32_t actor_hint = 0;  // actor of the last id looked up
  ObjectTable objects;
  uint64_t max_op = 0;

  std::vector<StoredChange> history;
  ChangeIndex by_hash;
  std::vector<ChangeHash> heads;   // sorted
  std::vector<uint64_t> last_seq;  // by actor index

  std::vector<Op> pending;
  uint64_t pending_start = 0;

  explicit Impl(ActorId a) : actor(a) {
    objects.emplace(0, ObjType::Map);
    actor_idx = intern(a).value();
  }

  std::optional<uint32_t> intern(const ActorId& a) {
    auto it = actor_index.find(a);
    if (it != actor_index.end()) return it->second;
    if (actors.size() >= kMaxActors) return std::nullopt;
    auto idx = static_cast<uint32_t>(actors.size());
    actors.push_back(a);
    last_seq.push_back(0);
    actor_index.emplace(a, idx);
    return idx;
  }

  bool op_less(OpKey a, OpKey b) const {
    uint64_t ca = key_counter(a), cb = key_counter(b);
    if (ca != cb) return ca < cb;
    return actors[key_actor(a)] < actors[key_actor(b)];
  }

  ObjId public_id(OpKey k) const {
    if (k == 0) return ObjId::root();
    return ObjId(key_counter(k), actors[key_actor(k)]);
  }

  std::optional<OpKey> internal_id(const ObjId& id) const {
    if (id.is_root()) return OpKey{0};
    if (id.counter() > kMaxCounter) return std::nullopt;
    // Most ids asked for in a row share one actor.
    if (actor_hint < actors.size() && same_actor(actors[actor_hint], id.actor())) {
      return make_key(id.counter(), actor_hint);
    }
    auto it = actor_index.find(id.actor());
    if (it == actor_index.end()) return std::nullopt;
    actor_hint = it->second;
    return make_key(id.counter(), it->second);
  }

  Value to_value(const RegEntry& e) const {
    if (const auto* type = std::get_if<ObjType>(&e.value)) return ObjectRef{*type, public_id(e.id)};
    return std::get<Scalar>(e.value);
  }

  Result<std::pair<OpKey, Object*>> object_of(const ObjId& id, ObjType want) {
    auto key = internal_id(id);
    if (!key) return std::unexpected(err("no object " + id.to_string()));
    Object* found = objects.find(*key);
    if (found == nullptr) return std::unexpected(err("no object " + id.to_string()));
    if (found->type != want) {
      static constexpr const char* names[] = {"a map", "a list", "a text"};
      return std::unexpected(err("object " + id.to_string() + " is not " + names[static_cast<int>(want)]));
    }
    return std::pair<OpKey, Object*>{*key, found};
  }

  Result<const Object*> find_object(const ObjId& id, ObjType want) const {
    auto r = const_cast<Impl*>(this)->object_of(id, want);
    if (!r) return std::unexpected(r.error());
    return r->second;
  }

  // ---- applying operations (all checks done before) ----

  void reg_apply(Register& reg, const std::vector<OpKey>& pred, RegEntry* add) {
    reg.apply(pred, add, [this](OpKey a, OpKey b) { return op_less(a, b); });
  }

  void create_object(OpKey id, const Stored& v) {
    if (const auto* type = std::get_if<ObjType>(&v)) objects.emplace(id, *type);
  }

  // RGA: a new element goes right after its reference, past any elements with
  // higher ids there (those are concurrent inserts at the same place and their
  // descendants, which sort first).
  uint32_t integrate(Object& o, uint32_t prev, OpKey id, uint32_t value);
  // Applies one operation; with `consume` its strings and values are moved out.
  void apply_op(Op& op, OpKey id, bool consume);

  // ---- local edits ----

  OpKey begin_op(uint64_t width) {
    if (pending.empty()) pending_start = max_op + 1;
    OpKey id = make_key(max_op + 1, actor_idx);
    max_op += width;
    return id;
  }

  void record(Op op) {
    OpKey id = begin_op(op.width());
    apply_op(op, id, false);
    pending.push_back(std::move(op));
  }

  // Slot of the visible element at index (or of the one before it for inserts).
  std::optional<uint32_t> nth_visible(const Object& o, size_t index) const {
    size_t seen = 0;
    for (uint32_t cur = o.elems[0].next; cur != kEnd; cur = o.elems[cur].next) {
      if (!o.elem_visible(o.elems[cur])) continue;
      if (seen == index) return cur;
      ++seen;
    }
    return std::nullopt;
  }

  // ---- changes (history.cpp) ----

  void commit(std::string message, std::optional<int64_t> time);
  void store(DecodedChange&& c);

  // ---- the change codec (change_codec.cpp) ----

  std::vector<uint8_t> encode(const DecodedChange& c) const;
  static void encode_value(Writer& w, const Stored& v);
  // Reads a value into `out`; false when malformed.
  static bool decode_value(Reader& r, std::optional<Stored>& out);
  // Header of an encoded change, up to and including its operation count.
  // Interns the change's actors; `table` maps its local actor numbers.
  Result<uint64_t> decode_header(Reader& r, std::vector<uint32_t>& table, DecodedChange& c);
  // Reads one operation into `op` (reusing its buffers). Null when it is
  // well-formed, else what is wrong with it.
  static const char* decode_op(Reader& r, const std::vector<uint32_t>& table, Op& op);
  // Parses a change; interns its actors. Structure only: references are
  // checked against the state by check() when the change is ready.
  Result<DecodedChange> decode(const Buffer& buf, size_t off, size_t len);

  // ---- merging (merge.cpp) ----

  class Checker;
  Result<void> check(const DecodedChange& c) const;
  Result<void> load_change(const Buffer& buf, size_t off, size_t len, std::vector<DecodedChange>& waiting);
  void apply_decoded(DecodedChange&& c);
  enum class Ready { Yes, Later, Duplicate };
  Result<Ready> readiness(const DecodedChange& c) const;
  Result<void> apply_all(std::vector<DecodedChange> queue);
  Result<void> apply_encoded(std::span<const std::vector<uint8_t>> changes);
};

}  // namespace vesk_ui::doc
