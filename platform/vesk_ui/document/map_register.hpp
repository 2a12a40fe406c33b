// Map registers: the live writes of one map key or list element (concurrent
// writes are kept side by side until one replaces them) and the key table of
// a map object.
#pragma once

#include <algorithm>
#include <bit>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/vesk_ui/document/internal.hpp"

namespace vesk_ui::doc::detail {

using Stored = std::variant<Scalar, ObjType>;

struct RegEntry {
  OpKey id;
  Stored value;
};
// Live (not yet replaced) writes of one map key or list element, highest id
// first. Almost always exactly one, which is kept inline.
class Register {
 public:
  Register() = default;
  explicit Register(RegEntry e) : first_(std::move(e)) {}

  Register(const Register& o) : first_(o.first_) {
    if (o.rest_) rest_ = std::make_unique<std::vector<RegEntry>>(*o.rest_);
  }
  Register(Register&&) noexcept = default;
  Register& operator=(Register&&) noexcept = default;

  bool empty() const { return !first_; }
  size_t size() const { return first_ ? 1 + rest_size() : 0; }
  const RegEntry& front() const { return *first_; }
  template <class F>
  void for_each(F&& f) const {
    if (!first_) return;
    f(*first_);
    if (rest_) {
      for (const RegEntry& e : *rest_) f(e);
    }
  }

  // Drops the entries named in pred, then moves in `add` (when given) in id
  // order.
  template <class Less>
  void apply(const std::vector<OpKey>& pred, RegEntry* add, Less less) {
    auto doomed = [&](const RegEntry& e) { return std::find(pred.begin(), pred.end(), e.id) != pred.end(); };
    if (rest_size() == 0) {
      if (first_ && !pred.empty() && doomed(*first_)) first_.reset();
      if (add == nullptr) return;
      if (!first_) {
        first_.emplace(std::move(*add));
        return;
      }
      if (!rest_) rest_ = std::make_unique<std::vector<RegEntry>>();
      if (less(first_->id, add->id)) {
        rest_->push_back(std::move(*first_));
        *first_ = std::move(*add);
      } else {
        rest_->push_back(std::move(*add));
      }
      return;
    }
    std::vector<RegEntry> all;
    all.reserve(size() + 1);
    all.push_back(std::move(*first_));
    for (RegEntry& e : *rest_) all.push_back(std::move(e));
    first_.reset();
    rest_.reset();
    if (!pred.empty()) std::erase_if(all, doomed);
    if (add != nullptr) {
      auto pos = std::find_if(all.begin(), all.end(), [&](const RegEntry& e) { return less(e.id, add->id); });
      all.insert(pos, std::move(*add));
    }
    if (all.empty()) return;
    first_ = std::move(all.front());
    if (all.size() > 1) {
      rest_ = std::make_unique<std::vector<RegEntry>>(std::make_move_iterator(all.begin() + 1),
                                                      std::make_move_iterator(all.end()));
    }
  }

 private:
  size_t rest_size() const { return rest_ ? rest_->size() : 0; }

  std::optional<RegEntry> first_;
  std::unique_ptr<std::vector<RegEntry>> rest_;  // concurrent values, rare
};

struct MapEntry {
  std::string key;
  Register reg;
};

// Keys of one map. Entries are never removed (a deleted key keeps an empty
// register), small maps are searched linearly and large ones through an
// open-addressing index; byte order is computed when first asked for.
class MapObj {
 public:
  const MapEntry* find(std::string_view k) const {
    if (slots_.empty()) {
      for (const MapEntry& e : entries_) {
        if (e.key == k) return &e;
      }
      return nullptr;
    }
    size_t mask = slots_.size() - 1;
    for (size_t i = hash(k) & mask; slots_[i] != kNoSlot; i = (i + 1) & mask) {
      if (entries_[slots_[i]].key == k) return &entries_[slots_[i]];
    }
    return nullptr;
  }
  MapEntry* find(std::string_view k) { return const_cast<MapEntry*>(static_cast<const MapObj*>(this)->find(k)); }

  MapEntry& find_or_add(std::string_view k, std::string* owned) {
    if (MapEntry* e = find(k)) return *e;
    auto idx = static_cast<uint32_t>(entries_.size());
    if (entries_.empty()) entries_.reserve(kFirstReserve);
    if (owned != nullptr) {
      entries_.emplace_back(std::move(*owned));
    } else {
      entries_.emplace_back(std::string(k));
    }
    if (entries_.size() > kLinear) {
      if (slots_.size() < 2 * entries_.size()) {
        rebuild_slots();
      } else {
        insert_slot(idx);
      }
    }
    if (!folded_.empty()) {
      if (folded_.size() < 2 * entries_.size()) {
        rebuild_folded();
      } else {
        insert_folded(idx);
      }
    }
    if (sorted_ok_ && queried_) {
      auto pos = std::lower_bound(sorted_.begin(), sorted_.end(), entries_[idx].key,
                                  [&](uint32_t a, const std::string& key) { return entries_[a].key < key; });
      sorted_.insert(pos, idx);
    } else {
      sorted_ok_ = false;
    }
    return entries_[idx];
  }

  // Entry indices in byte order of their keys.
  const std::vector<uint32_t>& sorted() const {
    queried_ = true;
    if (!sorted_ok_) {
      sorted_.resize(entries_.size());
      for (uint32_t i = 0; i < sorted_.size(); ++i) sorted_[i] = i;
      std::sort(sorted_.begin(), sorted_.end(),
                [&](uint32_t a, uint32_t b) { return entries_[a].key < entries_[b].key; });
      sorted_ok_ = true;
    }
    return sorted_;
  }
  const MapEntry& at(uint32_t i) const { return entries_[i]; }

  // Calls f(entry) for every entry (deleted keys too) in byte order of the
  // keys. A small map whose order is not cached is sorted on the spot, so
  // reading many small maps leaves no per-map order behind.
  template <class F>
  void for_each_sorted(F&& f) const {
    for_each_sorted(f, [](const MapEntry&, int) {});
  }
  // Same, calling ahead(entry, distance) for entries 8 and 4 places ahead
  // (for a small map, ahead(entry, 8) for all of them before the first f),
  // so a caller can fetch what it will read there: in byte
  // order the entries are scattered in memory, and waiting on each in turn
  // dominates the cost of a walk over a large map.
  template <class F, class Ahead>
  void for_each_sorted(F&& f, Ahead&& ahead) const {
    if ((!queried_ || !sorted_ok_) && entries_.size() <= kLocalSort) {
      uint32_t order[kLocalSort];
      auto n = static_cast<uint32_t>(entries_.size());
      for (uint32_t i = 0; i < n; ++i) {
        ahead(entries_[i], 8);
        uint32_t j = i;
        for (; j > 0 && key_less(entries_[i].key, entries_[order[j - 1]].key); --j) order[j] = order[j - 1];
        order[j] = i;
      }
      for (uint32_t i = 0; i < n; ++i) f(entries_[order[i]]);
      return;
    }
    const std::vector<uint32_t>& order = sorted();
    const size_t n = order.size();
    for (size_t i = 0; i < n; ++i) {
      if (i + 12 < n) __builtin_prefetch(&entries_[order[i + 12]]);
      if (i + 8 < n) {
        const MapEntry& e = entries_[order[i + 8]];
        __builtin_prefetch(e.key.data());
        ahead(e, 8);
      }
      if (i + 4 < n) ahead(entries_[order[i + 4]], 4);
      f(entries_[order[i]]);
    }
  }

  // Indices of the entries whose keys equal k when ASCII case is ignored.
  // The index by folded key is built on first use, then kept by find_or_add.
  std::vector<uint32_t> find_ignoring_case(std::string_view k) const {
    if (folded_.empty()) rebuild_folded();
    std::vector<uint32_t> out;
    size_t mask = folded_.size() - 1;
    for (size_t i = folded_hash(k) & mask; folded_[i] != kNoSlot; i = (i + 1) & mask) {
      if (equal_folded(entries_[folded_[i]].key, k)) out.push_back(folded_[i]);
    }
    return out;
  }

 private:
  static constexpr size_t kLocalSort = 32;
  // Byte order; most keys of a small map differ in their first byte.
  static bool key_less(std::string_view a, std::string_view b) {
    if (!a.empty() && !b.empty() && a[0] != b[0]) return static_cast<uint8_t>(a[0]) < static_cast<uint8_t>(b[0]);
    return a < b;
  }
  static char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
  static size_t folded_hash(std::string_view k) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char c : k) {
      h ^= static_cast<uint8_t>(fold(c));
      h *= 1099511628211ull;
    }
    return static_cast<size_t>(h ^ (h >> 29));
  }
  static bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
  }
  void insert_folded(uint32_t idx) const {
    size_t mask = folded_.size() - 1;
    size_t i = folded_hash(entries_[idx].key) & mask;
    while (folded_[i] != kNoSlot) i = (i + 1) & mask;
    folded_[i] = idx;
  }
  void rebuild_folded() const {
    folded_.assign(std::bit_ceil(std::max<size_t>(16, entries_.size() * 4)), kNoSlot);
    for (uint32_t i = 0; i < entries_.size(); ++i) insert_folded(i);
  }

  // A saved connection has ten keys: searching those linearly beats hashing.
  static constexpr size_t kLinear = 16;
  static constexpr size_t kFirstReserve = 12;  // a saved connection has ten keys
  static constexpr uint32_t kNoSlot = UINT32_MAX;
  static size_t hash(std::string_view k) { return std::hash<std::string_view>{}(k); }

  void insert_slot(uint32_t idx) {
    size_t mask = slots_.size() - 1;
    size_t i = hash(entries_[idx].key) & mask;
    while (slots_[i] != kNoSlot) i = (i + 1) & mask;
    slots_[i] = idx;
  }
  void rebuild_slots() {
    slots_.assign(std::bit_ceil(entries_.size() * 4), kNoSlot);
    for (uint32_t i = 0; i < entries_.size(); ++i) insert_slot(i);
  }

  std::vector<MapEntry> entries_;
  std::vector<uint32_t> slots_;
  mutable std::vector<uint32_t> sorted_;
  mutable std::vector<uint32_t> folded_;  // by folded key; empty until asked for
  mutable bool sorted_ok_ = true;
  mutable bool queried_ = false;
};

}  // namespace vesk_ui::doc::detail
