// The operation store: operations, decoded and stored changes, and the index
// from change hashes to history positions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/vesk_ui/document/map_register.hpp"

namespace vesk_ui::doc::detail {

// Change hashes to history positions, in one flat open-addressing table:
// hashes are uniform, so their first bytes serve as the slot number.
class ChangeIndex {
 public:
  const uint32_t* find(const ChangeHash& h) const {
    if (slots_.empty()) return nullptr;
    size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(h, mask);; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.idx == kNone) return nullptr;
      if (s.hash == h) return &s.idx;
    }
  }
  bool contains(const ChangeHash& h) const { return find(h) != nullptr; }
  // The position of a hash known to be present.
  uint32_t at(const ChangeHash& h) const { return *find(h); }

  void emplace(const ChangeHash& h, uint32_t idx) {
    if (contains(h)) return;
    if (2 * (count_ + 1) > slots_.size()) grow(std::max<size_t>(16, 2 * slots_.size()));
    place(h, idx);
    ++count_;
  }
  void reserve(size_t n) {
    size_t want = std::bit_ceil(std::max<size_t>(16, 2 * n));
    if (want > slots_.size()) grow(want);
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Slot {
    ChangeHash hash;
    uint32_t idx = kNone;
  };
  static size_t slot_of(const ChangeHash& h, size_t mask) {
    uint64_t v;
    std::memcpy(&v, h.bytes.data(), sizeof v);
    return static_cast<size_t>(v) & mask;
  }
  void place(const ChangeHash& h, uint32_t idx) {
    size_t mask = slots_.size() - 1;
    size_t i = slot_of(h, mask);
    while (slots_[i].idx != kNone) i = (i + 1) & mask;
    slots_[i] = Slot{h, idx};
  }
  void grow(size_t size) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{});
    for (const Slot& s : old) {
      if (s.idx != kNone) place(s.hash, s.idx);
    }
  }

  std::vector<Slot> slots_;
  size_t count_ = 0;
};

enum class Action : uint8_t {
  MapSet = 1,
  MapDel = 2,
  TextInsert = 3,
  TextDelete = 4,
  ListInsert = 5,
  ListSet = 6,
  ListDel = 7,
};

struct Op {
  Action action = Action::MapSet;
  OpKey obj = 0;
  OpKey ref = 0;       // insert after (0: head); target element; first deleted element
  uint64_t count = 1;  // code points inserted or elements deleted
  std::string text;    // map key, or inserted text
  std::vector<OpKey> pred;
  std::optional<Stored> value;

  uint64_t width() const { return (action == Action::TextInsert || action == Action::TextDelete) ? count : 1; }
};

// Encoded changes live in shared immutable buffers: one per local change, or
// one for a whole loaded file.
using Buffer = std::shared_ptr<const std::vector<uint8_t>>;

struct StoredChange {
  ChangeInfo info;
  Buffer buf;
  size_t off = 0, len = 0;
  std::span<const uint8_t> bytes() const { return std::span<const uint8_t>(*buf).subspan(off, len); }
};

struct DecodedChange {
  ChangeInfo info;
  uint32_t actor_idx = 0;
  std::vector<Op> ops;
  Buffer buf;
  size_t off = 0, len = 0;
};

}  // namespace vesk_ui::doc::detail
