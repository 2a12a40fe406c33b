// Objects and the sequences inside them: the element list of a text or list
// (RGA order, with an id index once it grows) and the table of all objects.
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/vesk_ui/document/map_register.hpp"

namespace vesk_ui::doc::detail {

constexpr uint32_t kEnd = UINT32_MAX;
constexpr size_t kFirstElems = 24;

struct Elem {
  OpKey id;
  uint32_t next;
  uint32_t value;  // code point (text) or index into Object::regs (list)
  bool deleted;    // text tombstone
};

struct Object {
  ObjType type = ObjType::Map;
  MapObj map;
  std::vector<Elem> elems;                    // [0] is the head sentinel
  std::unordered_map<OpKey, uint32_t> index;  // id -> elems slot, once large
  std::vector<Register> regs;                 // list element values
  size_t visible = 0;                         // elements or code points; keys with a value for a map

  explicit Object(ObjType t) : type(t) {
    if (t != ObjType::Map) {
      elems.reserve(kFirstElems);  // room for a short name without regrowing
      elems.push_back(Elem{0, kEnd, 0, true});
    }
  }

  bool elem_visible(const Elem& e) const {
    if (type == ObjType::Text) return !e.deleted;
    return e.id != 0 && !regs[e.value].empty();
  }

  std::optional<uint32_t> find_elem(OpKey id) const {
    if (id == 0) return 0;
    if (!index.empty()) {
      auto it = index.find(id);
      if (it == index.end()) return std::nullopt;
      return it->second;
    }
    for (uint32_t i = 1; i < elems.size(); ++i) {
      if (elems[i].id == id) return i;
    }
    return std::nullopt;
  }

  void add_to_index(uint32_t slot) {
    if (!index.empty()) {
      index.emplace(elems[slot].id, slot);
    } else if (elems.size() > kIndexThreshold) {
      index.reserve(elems.size() * 2);
      for (uint32_t i = 1; i < elems.size(); ++i) index.emplace(elems[i].id, i);
    }
  }
};

// Objects by id: kept in chunks that never move, so references stay valid
// while objects are added, and found through a flat open-addressing index
// (one probe usually, where a node-based map costs a cache miss per node).
class ObjectTable {
 public:
  ObjectTable() = default;
  // A copy must not keep the original's last hit.
  ObjectTable(const ObjectTable& o) : chunks_(o.chunks_), slots_(o.slots_), count_(o.count_) {}
  ObjectTable& operator=(const ObjectTable&) = delete;
  ObjectTable(ObjectTable&&) noexcept = default;
  ObjectTable& operator=(ObjectTable&&) noexcept = default;

  Object* find(OpKey k) {
    // Operations come in runs on one object (the fields of one entry).
    if (last_ != nullptr && last_key_ == k) return last_;
    if (slots_.empty()) return nullptr;
    size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(k, mask);; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.idx == kNone) return nullptr;
      if (s.key == k) {
        last_key_ = k;
        last_ = &chunks_[s.idx / kChunk][s.idx % kChunk];
        return last_;
      }
    }
  }
  const Object* find(OpKey k) const { return const_cast<ObjectTable*>(this)->find(k); }
  // Lookup that leaves the last hit alone (for read-ahead).
  const Object* peek(OpKey k) const {
    if (slots_.empty()) return nullptr;
    size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(k, mask);; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.idx == kNone) return nullptr;
      if (s.key == k) return &chunks_[s.idx / kChunk][s.idx % kChunk];
    }
  }
  void prefetch_slot(OpKey k) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[slot_of(k, slots_.size() - 1)]);
  }

  // Adds an object unless one with this id exists (ids are unique, so that
  // never happens on a valid document).
  Object& emplace(OpKey k, ObjType type) {
    if (Object* o = find(k)) return *o;
    if (2 * (count_ + 1) > slots_.size()) grow(std::max<size_t>(16, 2 * slots_.size()));
    ++count_;
    if (chunks_.empty() || chunks_.back().size() == kChunk || chunks_.back().size() == chunks_.back().capacity()) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
    }
    auto idx = static_cast<uint32_t>((chunks_.size() - 1) * kChunk + chunks_.back().size());
    chunks_.back().emplace_back(type);
    place(k, idx);
    return chunks_.back().back();
  }

  void reserve(size_t n) {
    size_t want = std::bit_ceil(std::max<size_t>(16, 2 * n));
    if (want > slots_.size()) grow(want);
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Slot {
    OpKey key = 0;
    uint32_t idx = kNone;
  };
  static size_t slot_of(OpKey k, size_t mask) { return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 20) & mask; }
  void place(OpKey k, uint32_t idx) {
    size_t mask = slots_.size() - 1;
    size_t i = slot_of(k, mask);
    while (slots_[i].idx != kNone) i = (i + 1) & mask;
    slots_[i] = Slot{k, idx};
  }
  void grow(size_t size) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{});
    for (const Slot& s : old) {
      if (s.idx != kNone) place(s.key, s.idx);
    }
  }

  // A chunk is filled up to the capacity it was given and never grows, so
  // objects do not move. (A copied chunk may have no spare capacity; the
  // next object then starts a new chunk, and its index still names it.)
  static constexpr size_t kChunk = 1024;
  std::vector<std::vector<Object>> chunks_;
  std::vector<Slot> slots_;
  size_t count_ = 0;
  OpKey last_key_ = 0;
  Object* last_ = nullptr;
};

}  // namespace vesk_ui::doc::detail
