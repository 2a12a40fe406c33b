#include "platform/vesk_ui/document/document.hpp"

#include <nettle/sha2.h>
#include <sodium.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/vesk_ui/document/codec.hpp"

namespace vesk_ui::doc {

using detail::Reader;
using detail::Writer;

namespace {

// An operation id packed into 64 bits: counter in the high 40 bits, the index
// of the actor in the document's actor table in the low 24. Counter 0 never
// names an operation, so key 0 stands for the root object and the head of a
// sequence.
using OpKey = uint64_t;
constexpr unsigned kActorBits = 24;
constexpr uint64_t kActorMask = (uint64_t{1} << kActorBits) - 1;
constexpr uint64_t kMaxCounter = (uint64_t{1} << 40) - 1;
constexpr size_t kMaxActors = kActorMask;
constexpr OpKey kActorStep = uint64_t{1} << kActorBits;  // next counter, same actor

constexpr OpKey make_key(uint64_t counter, uint32_t actor) { return (counter << kActorBits) | actor; }
constexpr uint64_t key_counter(OpKey k) { return k >> kActorBits; }
constexpr uint32_t key_actor(OpKey k) { return static_cast<uint32_t>(k & kActorMask); }

// Whole saved documents larger than this are refused before parsing.
constexpr size_t kMaxDocumentBytes = size_t{1} << 30;
// Small sequences are searched linearly; larger ones get an id index.
constexpr size_t kIndexThreshold = 48;

constexpr uint8_t kChangeMagic[4] = {'V', 'K', 'C', '1'};
constexpr uint8_t kDocMagic[8] = {'V', 'K', 'D', 'O', 'C', 0, 1, 0};
constexpr size_t kChecksumBytes = 32;

std::once_flag sodium_once;
void ensure_sodium() {
  std::call_once(sodium_once, [] {
    if (sodium_init() < 0) std::abort();  // libsodium cannot run at all
  });
}

std::string hex(std::span<const uint8_t> b) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(b.size() * 2);
  for (uint8_t c : b) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

int64_t now_seconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// Equality of two actor ids as two 8-byte compares, without a call to memcmp.
inline bool same_actor(const ActorId& a, const ActorId& b) {
  uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, a.bytes.data(), 8);
  std::memcpy(&a1, a.bytes.data() + 8, 8);
  std::memcpy(&b0, b.bytes.data(), 8);
  std::memcpy(&b1, b.bytes.data() + 8, 8);
  return a0 == b0 && a1 == b1;
}

struct ActorHasher {
  size_t operator()(const ActorId& a) const noexcept {
    uint64_t v;
    std::memcpy(&v, a.bytes.data(), sizeof v);
    return static_cast<size_t>(v);
  }
};
struct HashHasher {
  size_t operator()(const ChangeHash& h) const noexcept {
    uint64_t v;
    std::memcpy(&v, h.bytes.data(), sizeof v);
    return static_cast<size_t>(v);
  }
};

// Decodes UTF-8 into code points; false on malformed input.
bool decode_utf8(std::string_view s, std::vector<char32_t>* out) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    uint8_t c = *p;
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if (p >= end || (*p & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (*p & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    if (out) out->push_back(cp);
  }
  return true;
}

// Calls f for each code point of text already known to be valid UTF-8.
template <class F>
void for_each_code_point(std::string_view s, F&& f) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    uint8_t c = *p++;
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if (c < 0xE0) {
      cp = c & 0x1F;
      extra = 1;
    } else if (c < 0xF0) {
      cp = c & 0x0F;
      extra = 2;
    } else {
      cp = c & 0x07;
      extra = 3;
    }
    for (int i = 0; i < extra && p < end; ++i) cp = (cp << 6) | (*p++ & 0x3F);
    f(cp);
  }
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

Error err(std::string m) { return Error{std::move(m)}; }

// Change hashes are SHA-256; nettle uses the CPU's SHA instructions where
// there are any, several times faster than libsodium's portable code.
void hash_change(std::span<const uint8_t> bytes, ChangeHash& out) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, bytes.size(), bytes.data());
  sha256_digest(&ctx, SHA256_DIGEST_SIZE, out.bytes.data());
}

}  // namespace

// ---------------------------------------------------------------- small types

ActorId ActorId::random() {
  ensure_sodium();
  ActorId a;
  randombytes_buf(a.bytes.data(), a.bytes.size());
  return a;
}

Result<ActorId> ActorId::from_bytes(std::span<const uint8_t> bytes) {
  ActorId a;
  if (bytes.size() != a.bytes.size()) {
    return std::unexpected(err("an actor id is 16 bytes, got " + std::to_string(bytes.size())));
  }
  std::copy(bytes.begin(), bytes.end(), a.bytes.begin());
  return a;
}

std::string ActorId::to_hex() const { return hex(bytes); }
std::string ChangeHash::to_hex() const { return hex(bytes); }

std::string ObjId::to_string() const {
  if (is_root()) return "_root";
  return std::to_string(counter_) + "@" + actor_.to_hex();
}

Scalar Scalar::str(std::string_view s) { return Scalar(s); }
Scalar Scalar::int_(int64_t v) { return Scalar(ScalarKind::Int, v); }
Scalar Scalar::uint(uint64_t v) { return Scalar(ScalarKind::Uint, v); }
Scalar Scalar::f64(double v) { return Scalar(ScalarKind::F64, v); }
Scalar Scalar::counter(int64_t v) { return Scalar(ScalarKind::Counter, v); }
Scalar Scalar::timestamp(int64_t v) { return Scalar(ScalarKind::Timestamp, v); }
Scalar Scalar::boolean(bool v) { return Scalar(ScalarKind::Boolean, v); }
Scalar Scalar::null() { return Scalar(ScalarKind::Null, std::monostate{}); }
Scalar Scalar::bytes(std::vector<uint8_t> v) { return Scalar(ScalarKind::Bytes, std::move(v)); }

std::optional<std::string_view> Scalar::as_str() const {
  if (kind_ != ScalarKind::Str) return std::nullopt;
  return std::string_view(std::get<std::string>(payload_));
}
std::optional<int64_t> Scalar::as_int() const {
  if (kind_ != ScalarKind::Int) return std::nullopt;
  return std::get<int64_t>(payload_);
}
std::optional<uint64_t> Scalar::as_uint() const {
  if (kind_ != ScalarKind::Uint) return std::nullopt;
  return std::get<uint64_t>(payload_);
}
std::optional<double> Scalar::as_f64() const {
  if (kind_ != ScalarKind::F64) return std::nullopt;
  return std::get<double>(payload_);
}
std::optional<int64_t> Scalar::as_counter() const {
  if (kind_ != ScalarKind::Counter) return std::nullopt;
  return std::get<int64_t>(payload_);
}
std::optional<int64_t> Scalar::as_timestamp() const {
  if (kind_ != ScalarKind::Timestamp) return std::nullopt;
  return std::get<int64_t>(payload_);
}
std::optional<bool> Scalar::as_bool() const {
  if (kind_ != ScalarKind::Boolean) return std::nullopt;
  return std::get<bool>(payload_);
}
std::optional<std::span<const uint8_t>> Scalar::as_bytes() const {
  if (kind_ != ScalarKind::Bytes) return std::nullopt;
  return std::span<const uint8_t>(std::get<std::vector<uint8_t>>(payload_));
}

bool Scalar::operator==(const Scalar& o) const {
  if (kind_ != o.kind_) return false;
  if (kind_ == ScalarKind::F64) {
    return std::bit_cast<uint64_t>(std::get<double>(payload_)) ==
           std::bit_cast<uint64_t>(std::get<double>(o.payload_));
  }
  return payload_ == o.payload_;
}

std::string Scalar::to_string() const {
  switch (kind_) {
    case ScalarKind::Str: return "str \"" + std::get<std::string>(payload_) + "\"";
    case ScalarKind::Int: return "int " + std::to_string(std::get<int64_t>(payload_));
    case ScalarKind::Uint: return "uint " + std::to_string(std::get<uint64_t>(payload_));
    case ScalarKind::F64: return "f64 " + std::to_string(std::get<double>(payload_));
    case ScalarKind::Counter: return "counter " + std::to_string(std::get<int64_t>(payload_));
    case ScalarKind::Timestamp: return "timestamp " + std::to_string(std::get<int64_t>(payload_));
    case ScalarKind::Boolean: return std::get<bool>(payload_) ? "true" : "false";
    case ScalarKind::Null: return "null";
    case ScalarKind::Bytes: return "bytes " + hex(std::get<std::vector<uint8_t>>(payload_));
  }
  return "?";
}

bool Value::is_object(ObjType type) const {
  const ObjectRef* o = as_object();
  return o != nullptr && o->type == type;
}

std::optional<ObjId> Value::object_id() const {
  if (const ObjectRef* o = as_object()) return o->id;
  return std::nullopt;
}

bool valid_utf8(std::string_view s) {
  // Keys and values are mostly ASCII: skip that eight bytes at a time.
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t v;
    std::memcpy(&v, s.data() + i, sizeof v);
    if ((v & 0x8080808080808080ull) != 0) break;
  }
  while (i < s.size() && static_cast<uint8_t>(s[i]) < 0x80) ++i;
  return i == s.size() || decode_utf8(s.substr(i), nullptr);
}

// ---------------------------------------------------------------- internals

namespace {

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
    auto doomed = [&](const RegEntry& e) {
      return std::find(pred.begin(), pred.end(), e.id) != pred.end();
    };
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
      auto pos = std::find_if(all.begin(), all.end(),
                              [&](const RegEntry& e) { return less(e.id, add->id); });
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
  MapEntry* find(std::string_view k) {
    return const_cast<MapEntry*>(static_cast<const MapObj*>(this)->find(k));
  }

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
  std::vector<Elem> elems;                     // [0] is the head sentinel
  std::unordered_map<OpKey, uint32_t> index;   // id -> elems slot, once large
  std::vector<Register> regs;                  // list element values
  size_t visible = 0;  // elements or code points; keys with a value for a map

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
    if (chunks_.empty() || chunks_.back().size() == kChunk ||
        chunks_.back().size() == chunks_.back().capacity()) {
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
  static size_t slot_of(OpKey k, size_t mask) {
    return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 20) & mask;
  }
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

  uint64_t width() const {
    return (action == Action::TextInsert || action == Action::TextDelete) ? count : 1;
  }
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

}  // namespace

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
  std::vector<ChangeHash> heads;  // sorted
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
      return std::unexpected(
          err("object " + id.to_string() + " is not " + names[static_cast<int>(want)]));
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
  uint32_t integrate(Object& o, uint32_t prev, OpKey id, uint32_t value) {
    uint32_t cur = o.elems[prev].next;
    while (cur != kEnd && op_less(id, o.elems[cur].id)) {
      prev = cur;
      cur = o.elems[cur].next;
    }
    auto slot = static_cast<uint32_t>(o.elems.size());
    o.elems.push_back(Elem{id, cur, value, false});
    o.elems[prev].next = slot;
    o.add_to_index(slot);
    return slot;
  }

  // Applies one operation; with `consume` its strings and values are moved out.
  void apply_op(Op& op, OpKey id, bool consume) {
    Object& o = *objects.find(op.obj);
    switch (op.action) {
      case Action::MapSet: {
        create_object(id, *op.value);
        MapEntry& entry = o.map.find_or_add(op.text, consume ? &op.text : nullptr);
        RegEntry add = consume ? RegEntry{id, std::move(*op.value)} : RegEntry{id, *op.value};
        if (entry.reg.empty()) ++o.visible;  // a put always leaves a value
        reg_apply(entry.reg, op.pred, &add);
        break;
      }
      case Action::MapDel: {
        if (MapEntry* entry = o.map.find(op.text)) {
          bool was = !entry->reg.empty();
          reg_apply(entry->reg, op.pred, nullptr);
          if (was && entry->reg.empty()) --o.visible;
        }
        break;
      }
      case Action::TextInsert: {
        uint32_t prev = *o.find_elem(op.ref);
        o.elems.reserve(o.elems.size() + op.count);
        OpKey k = id;
        for_each_code_point(op.text, [&](char32_t cp) {
          prev = integrate(o, prev, k, cp);
          k += kActorStep;
        });
        o.visible += op.count;
        break;
      }
      case Action::TextDelete: {
        OpKey k = op.ref;
        for (uint64_t i = 0; i < op.count; ++i, k += kActorStep) {
          Elem& e = o.elems[*o.find_elem(k)];
          if (!e.deleted) {
            e.deleted = true;
            --o.visible;
          }
        }
        break;
      }
      case Action::ListInsert: {
        uint32_t prev = *o.find_elem(op.ref);
        auto reg = static_cast<uint32_t>(o.regs.size());
        create_object(id, *op.value);
        o.regs.push_back(Register{consume ? RegEntry{id, std::move(*op.value)} : RegEntry{id, *op.value}});
        integrate(o, prev, id, reg);
        ++o.visible;
        break;
      }
      case Action::ListSet:
      case Action::ListDel: {
        Elem& e = o.elems[*o.find_elem(op.ref)];
        bool was = o.elem_visible(e);
        std::optional<RegEntry> add;
        if (op.action == Action::ListSet) {
          create_object(id, *op.value);
          add = consume ? RegEntry{id, std::move(*op.value)} : RegEntry{id, *op.value};
        }
        reg_apply(o.regs[e.value], op.pred, add ? &*add : nullptr);
        bool now = o.elem_visible(e);
        if (was && !now) --o.visible;
        if (!was && now) ++o.visible;
        break;
      }
    }
  }

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

  // ---- changes ----

  void commit(std::string message, std::optional<int64_t> time) {
    if (pending.empty()) return;
    DecodedChange c;
    c.info.actor = actor;
    c.info.seq = last_seq[actor_idx] + 1;
    c.info.start_op = pending_start;
    c.info.time = time.value_or(now_seconds());
    c.info.message = std::move(message);
    c.info.deps = heads;
    c.info.op_count = 0;
    for (const Op& op : pending) c.info.op_count += op.width();
    c.actor_idx = actor_idx;
    c.ops = std::move(pending);
    pending.clear();
    auto bytes = std::make_shared<std::vector<uint8_t>>(encode(c));
    hash_change(*bytes, c.info.hash);
    c.len = bytes->size();
    c.buf = std::move(bytes);
    store(std::move(c));
  }

  void store(DecodedChange&& c) {
    auto idx = static_cast<uint32_t>(history.size());
    by_hash.emplace(c.info.hash, idx);
    std::erase_if(heads, [&](const ChangeHash& h) {
      return std::binary_search(c.info.deps.begin(), c.info.deps.end(), h);
    });
    heads.insert(std::upper_bound(heads.begin(), heads.end(), c.info.hash), c.info.hash);
    last_seq[c.actor_idx] = c.info.seq;
    history.push_back(StoredChange{std::move(c.info), std::move(c.buf), c.off, c.len});
  }

  std::vector<uint8_t> encode(const DecodedChange& c) const {
    // Actor table: the author first, then others in order of first use.
    std::vector<uint32_t> table{c.actor_idx};
    std::unordered_map<uint32_t, uint64_t> local{{c.actor_idx, 0}};
    auto note = [&](OpKey k) {
      if (k == 0) return;
      uint32_t a = key_actor(k);
      if (local.emplace(a, table.size()).second) table.push_back(a);
    };
    for (const Op& op : c.ops) {
      note(op.obj);
      note(op.ref);
      for (OpKey p : op.pred) note(p);
    }
    Writer w;
    w.raw(kChangeMagic);
    w.varint(table.size());
    for (uint32_t a : table) w.raw(actors[a].bytes);
    w.varint(c.info.seq);
    w.varint(c.info.start_op);
    w.svarint(c.info.time);
    w.str(c.info.message);
    w.varint(c.info.deps.size());
    for (const ChangeHash& h : c.info.deps) w.raw(h.bytes);
    w.varint(c.ops.size());
    auto key = [&](OpKey k) {
      w.varint(key_counter(k));
      if (k != 0) w.varint(local.at(key_actor(k)));
    };
    auto preds = [&](const std::vector<OpKey>& pred) {
      w.varint(pred.size());
      for (OpKey p : pred) key(p);
    };
    for (const Op& op : c.ops) {
      w.u8(static_cast<uint8_t>(op.action));
      key(op.obj);
      switch (op.action) {
        case Action::MapSet: w.str(op.text); preds(op.pred); encode_value(w, *op.value); break;
        case Action::MapDel: w.str(op.text); preds(op.pred); break;
        case Action::TextInsert: key(op.ref); w.str(op.text); break;
        case Action::TextDelete: key(op.ref); w.varint(op.count); break;
        case Action::ListInsert: key(op.ref); encode_value(w, *op.value); break;
        case Action::ListSet: key(op.ref); preds(op.pred); encode_value(w, *op.value); break;
        case Action::ListDel: key(op.ref); preds(op.pred); break;
      }
    }
    return std::move(w.out);
  }

  static void encode_value(Writer& w, const Stored& v) {
    if (const auto* type = std::get_if<ObjType>(&v)) {
      w.u8(static_cast<uint8_t>(16 + static_cast<int>(*type)));
      return;
    }
    const Scalar& s = std::get<Scalar>(v);
    w.u8(static_cast<uint8_t>(s.kind()));
    switch (s.kind()) {
      case ScalarKind::Str: w.str(*s.as_str()); break;
      case ScalarKind::Int: w.svarint(*s.as_int()); break;
      case ScalarKind::Uint: w.varint(*s.as_uint()); break;
      case ScalarKind::F64: w.u64le(std::bit_cast<uint64_t>(*s.as_f64())); break;
      case ScalarKind::Counter: w.svarint(*s.as_counter()); break;
      case ScalarKind::Timestamp: w.svarint(*s.as_timestamp()); break;
      case ScalarKind::Boolean: w.u8(*s.as_bool() ? 1 : 0); break;
      case ScalarKind::Null: break;
      case ScalarKind::Bytes: {
        auto b = *s.as_bytes();
        w.varint(b.size());
        w.raw(b);
        break;
      }
    }
  }

  // Reads a value into `out`; false when malformed.
  static bool decode_value(Reader& r, std::optional<Stored>& out) {
    uint8_t tag;
    if (!r.u8(tag)) return false;
    if (tag >= 16 && tag <= 18) {
      out.emplace(static_cast<ObjType>(tag - 16));
      return true;
    }
    switch (static_cast<ScalarKind>(tag)) {
      case ScalarKind::Str: {
        std::string_view s;
        if (!r.str(s) || !valid_utf8(s)) return false;
        out.emplace(Scalar::str(s));
        return true;
      }
      case ScalarKind::Int:
      case ScalarKind::Counter:
      case ScalarKind::Timestamp: {
        int64_t v;
        if (!r.svarint(v)) return false;
        if (tag == static_cast<uint8_t>(ScalarKind::Int)) {
          out.emplace(Scalar::int_(v));
          return true;
        }
        if (tag == static_cast<uint8_t>(ScalarKind::Counter)) {
          out.emplace(Scalar::counter(v));
          return true;
        }
        out.emplace(Scalar::timestamp(v));
        return true;
      }
      case ScalarKind::Uint: {
        uint64_t v;
        if (!r.varint(v)) return false;
        out.emplace(Scalar::uint(v));
        return true;
      }
      case ScalarKind::F64: {
        uint64_t v;
        if (!r.u64le(v)) return false;
        out.emplace(Scalar::f64(std::bit_cast<double>(v)));
        return true;
      }
      case ScalarKind::Boolean: {
        uint8_t b;
        if (!r.u8(b) || b > 1) return false;
        out.emplace(Scalar::boolean(b == 1));
        return true;
      }
      case ScalarKind::Null:
        out.emplace(Scalar::null());
        return true;
      case ScalarKind::Bytes: {
        std::string_view s;
        if (!r.str(s)) return false;
        out.emplace(Scalar::bytes(std::vector<uint8_t>(s.begin(), s.end())));
        return true;
      }
    }
    return false;
  }

  // Header of an encoded change, up to and including its operation count.
  // Interns the change's actors; `table` maps its local actor numbers.
  Result<uint64_t> decode_header(Reader& r, std::vector<uint32_t>& table, DecodedChange& c) {
    auto bad = [](const char* what) { return std::unexpected(err(std::string("malformed change: ") + what)); };
    std::span<const uint8_t> magic;
    if (!r.raw(4, magic) || !std::equal(magic.begin(), magic.end(), kChangeMagic)) return bad("header");
    uint64_t n_actors;
    if (!r.varint(n_actors) || n_actors == 0 || n_actors > r.remaining() / 16) return bad("actors");
    table.clear();
    table.reserve(n_actors);
    for (uint64_t i = 0; i < n_actors; ++i) {
      std::span<const uint8_t> a;
      r.raw(16, a);
      ActorId id = *ActorId::from_bytes(a);
      auto idx = intern(id);
      if (!idx) return bad("too many actors");
      if (std::find(table.begin(), table.end(), *idx) != table.end()) return bad("repeated actor");
      table.push_back(*idx);
    }
    c.actor_idx = table[0];
    c.info.actor = actors[c.actor_idx];
    if (!r.varint(c.info.seq) || c.info.seq == 0) return bad("seq");
    if (!r.varint(c.info.start_op) || c.info.start_op == 0 || c.info.start_op > kMaxCounter) {
      return bad("start op");
    }
    if (!r.svarint(c.info.time)) return bad("time");
    std::string_view msg;
    if (!r.str(msg) || !valid_utf8(msg)) return bad("message");
    c.info.message = std::string(msg);
    uint64_t n_deps;
    if (!r.varint(n_deps) || n_deps > r.remaining() / 32) return bad("deps");
    c.info.deps.resize(n_deps);
    for (auto& d : c.info.deps) {
      std::span<const uint8_t> h;
      r.raw(32, h);
      std::copy(h.begin(), h.end(), d.bytes.begin());
    }
    for (size_t i = 1; i < c.info.deps.size(); ++i) {
      if (!(c.info.deps[i - 1] < c.info.deps[i])) return bad("deps order");
    }
    uint64_t n_ops;
    if (!r.varint(n_ops) || n_ops == 0 || n_ops > r.remaining() / 3) return bad("op count");
    return n_ops;
  }

  // Reads one operation into `op` (reusing its buffers). Null when it is
  // well-formed, else what is wrong with it.
  static const char* decode_op(Reader& r, const std::vector<uint32_t>& table, Op& op) {
    auto key = [&](OpKey& out) {
      uint64_t counter, a = 0;
      if (!r.varint(counter) || counter > kMaxCounter) return false;
      if (counter == 0) {
        out = 0;
        return true;
      }
      if (!r.varint(a) || a >= table.size()) return false;
      out = make_key(counter, table[a]);
      return true;
    };
    auto preds = [&](std::vector<OpKey>& pred) {
      uint64_t n;
      if (!r.varint(n) || n > r.remaining()) return false;
      pred.resize(n);
      for (auto& p : pred) {
        if (!key(p) || p == 0) return false;
      }
      return true;
    };
    auto text = [&](std::string& out) {
      std::string_view s;
      if (!r.str(s) || !valid_utf8(s)) return false;
      out.assign(s.data(), s.size());
      return true;
    };
    op.ref = 0;
    op.count = 1;
    op.text.clear();
    op.pred.clear();
    op.value.reset();
    uint8_t action;
    if (!r.u8(action) || action < 1 || action > 7) return "action";
    op.action = static_cast<Action>(action);
    if (!key(op.obj)) return "object id";
    bool ok = true;
    switch (op.action) {
      case Action::MapSet: ok = text(op.text) && preds(op.pred) && decode_value(r, op.value); break;
      case Action::MapDel: ok = text(op.text) && preds(op.pred); break;
      case Action::TextInsert: {
        ok = key(op.ref) && text(op.text);
        if (ok) {
          op.count = static_cast<uint64_t>(std::count_if(
              op.text.begin(), op.text.end(), [](char ch) { return (static_cast<uint8_t>(ch) & 0xC0) != 0x80; }));
          ok = op.count > 0;
        }
        break;
      }
      case Action::TextDelete: ok = key(op.ref) && op.ref != 0 && r.varint(op.count) && op.count > 0 && op.count <= kMaxCounter; break;
      case Action::ListInsert: ok = key(op.ref) && decode_value(r, op.value); break;
      case Action::ListSet: ok = key(op.ref) && op.ref != 0 && preds(op.pred) && decode_value(r, op.value); break;
      case Action::ListDel: ok = key(op.ref) && op.ref != 0 && preds(op.pred); break;
    }
    return ok ? nullptr : "operation";
  }

  // Parses a change; interns its actors. Structure only: references are
  // checked against the state by check() when the change is ready.
  Result<DecodedChange> decode(const Buffer& buf, size_t off, size_t len) {
    std::span<const uint8_t> bytes = std::span<const uint8_t>(*buf).subspan(off, len);
    DecodedChange c;
    Reader r(bytes);
    auto bad = [](const char* what) { return std::unexpected(err(std::string("malformed change: ") + what)); };
    std::vector<uint32_t> table;
    auto n_ops = decode_header(r, table, c);
    if (!n_ops) return std::unexpected(n_ops.error());
    c.ops.resize(*n_ops);
    uint64_t width = 0;
    for (Op& op : c.ops) {
      if (const char* what = decode_op(r, table, op)) return bad(what);
      width += op.width();
      if (width > kMaxCounter) return bad("too many operations");
    }
    if (c.info.start_op + width - 1 > kMaxCounter) return bad("operation ids overflow");
    if (!r.done()) return bad("trailing bytes");
    c.info.op_count = width;
    c.buf = buf;
    c.off = off;
    c.len = len;
    hash_change(bytes, c.info.hash);
    return c;
  }

  // Checks the operations of one change, in order, so that applying them
  // cannot fail: every reference must name an existing object or element of
  // the right type, or one made earlier in the same change. When each
  // operation is applied right after its check (`track` false), what the
  // change made is already in the state and needs no separate record.
  class Checker {
   public:
    Checker(const Impl& impl, uint32_t actor_idx, bool track)
        : impl_(impl), actor_idx_(actor_idx), track_(track) {}

    Result<void> op(const Op& op, OpKey id) {
      auto bad = [](const char* what) { return std::unexpected(err(std::string("invalid change: ") + what)); };
      auto type = type_of(op.obj);
      if (!type) return bad("unknown object");
      bool map_op = op.action == Action::MapSet || op.action == Action::MapDel;
      bool text_op = op.action == Action::TextInsert || op.action == Action::TextDelete;
      ObjType want = map_op ? ObjType::Map : text_op ? ObjType::Text : ObjType::List;
      if (*type != want) return bad("operation on an object of another type");
      switch (op.action) {
        case Action::TextInsert:
        case Action::ListInsert:
          if (op.ref != 0 && !has_elem(op.obj, op.ref)) return bad("unknown element");
          // RGA ordering needs every element to be younger than its reference.
          if (op.ref != 0 && key_counter(op.ref) >= key_counter(id)) return bad("element id order");
          if (track_) runs_.push_back(Run{id, op.width(), op.obj});
          break;
        case Action::TextDelete: {
          OpKey k = op.ref;
          for (uint64_t i = 0; i < op.count; ++i, k += kActorStep) {
            if (!has_elem(op.obj, k)) return bad("unknown element");
          }
          break;
        }
        case Action::ListSet:
        case Action::ListDel:
          if (!has_elem(op.obj, op.ref)) return bad("unknown element");
          break;
        default: break;
      }
      if (track_ && op.value) {
        if (const auto* t = std::get_if<ObjType>(&*op.value)) made_.push_back(Made{id, *t});
      }
      return {};
    }

   private:
    // Ids made within one change increase, so both lists stay sorted.
    struct Made {
      OpKey id;
      ObjType type;
    };
    struct Run {
      OpKey first;
      uint64_t count;
      OpKey obj;
    };

    std::optional<ObjType> type_of(OpKey obj) const {
      auto it = std::lower_bound(made_.begin(), made_.end(), obj,
                                 [](const Made& m, OpKey k) { return m.id < k; });
      if (it != made_.end() && it->id == obj) return it->type;
      if (const Object* o = impl_.objects.find(obj)) return o->type;
      return std::nullopt;
    }
    bool has_elem(OpKey obj, OpKey e) const {
      if (key_actor(e) == actor_idx_ && !runs_.empty()) {
        auto it = std::upper_bound(runs_.begin(), runs_.end(), e,
                                   [](OpKey k, const Run& r) { return k < r.first; });
        if (it != runs_.begin()) {
          --it;
          if (key_counter(e) - key_counter(it->first) < it->count) return it->obj == obj;
        }
      }
      const Object* o = impl_.objects.find(obj);
      return o != nullptr && o->find_elem(e).has_value();
    }

    const Impl& impl_;
    uint32_t actor_idx_;
    bool track_;
    std::vector<Made> made_;
    std::vector<Run> runs_;
  };

  Result<void> check(const DecodedChange& c) const {
    Checker checker(*this, c.actor_idx, true);
    OpKey id = make_key(c.info.start_op, c.actor_idx);
    for (const Op& op : c.ops) {
      if (auto ok = checker.op(op, id); !ok) return ok;
      id += op.width() * kActorStep;
    }
    return {};
  }

  // Loading a saved file: a change that is ready is checked and applied one
  // operation at a time as it is read, with no decoded copy of it. A failure
  // may leave the change half applied, which is fine only because a failed
  // load throws the whole document away. Other changes take the general path.
  Result<void> load_change(const Buffer& buf, size_t off, size_t len, std::vector<DecodedChange>& waiting) {
    std::span<const uint8_t> bytes = std::span<const uint8_t>(*buf).subspan(off, len);
    auto bad = [](const char* what) { return std::unexpected(err(std::string("malformed change: ") + what)); };
    DecodedChange c;
    Reader r(bytes);
    std::vector<uint32_t> table;
    auto n_ops = decode_header(r, table, c);
    if (!n_ops) return std::unexpected(n_ops.error());
    hash_change(bytes, c.info.hash);
    auto ready = readiness(c);
    if (!ready) return std::unexpected(ready.error());
    if (*ready != Ready::Yes) {
      auto full = decode(buf, off, len);
      if (!full) return std::unexpected(full.error());
      if (*ready == Ready::Later) waiting.push_back(std::move(*full));
      return {};
    }
    Checker checker(*this, c.actor_idx, false);
    Op op;
    uint64_t width = 0;
    OpKey id = make_key(c.info.start_op, c.actor_idx);
    for (uint64_t i = 0; i < *n_ops; ++i) {
      if (const char* what = decode_op(r, table, op)) return bad(what);
      width += op.width();
      if (width > kMaxCounter) return bad("too many operations");
      if (c.info.start_op + width - 1 > kMaxCounter) return bad("operation ids overflow");
      if (auto ok = checker.op(op, id); !ok) return ok;
      apply_op(op, id, true);
      id += op.width() * kActorStep;
    }
    if (!r.done()) return bad("trailing bytes");
    c.info.op_count = width;
    c.buf = buf;
    c.off = off;
    c.len = len;
    max_op = std::max(max_op, c.info.start_op + width - 1);
    store(std::move(c));
    return {};
  }

  void apply_decoded(DecodedChange&& c) {
    OpKey id = make_key(c.info.start_op, c.actor_idx);
    for (Op& op : c.ops) {
      apply_op(op, id, true);
      id += op.width() * kActorStep;
    }
    max_op = std::max(max_op, c.info.start_op + c.info.op_count - 1);
    store(std::move(c));
  }

  enum class Ready { Yes, Later, Duplicate };
  Result<Ready> readiness(const DecodedChange& c) const {
    if (by_hash.contains(c.info.hash)) return Ready::Duplicate;
    uint64_t last = last_seq[c.actor_idx];
    if (c.info.seq <= last) {
      return std::unexpected(err("a different change " + std::to_string(c.info.seq) +
                                 " of actor " + c.info.actor.to_hex() + " is already present"));
    }
    if (c.info.seq > last + 1) return Ready::Later;
    for (const ChangeHash& d : c.info.deps) {
      if (!by_hash.contains(d)) return Ready::Later;
    }
    return Ready::Yes;
  }

  // Applies changes in a causal order whatever order they come in: each
  // waits on its missing dependencies (or on its actor's previous change) and
  // is woken when that arrives, so the work stays linear.
  Result<void> apply_all(std::vector<DecodedChange> queue) {
    std::unordered_map<ChangeHash, std::vector<size_t>, HashHasher> waiting_on;
    std::unordered_map<uint32_t, std::vector<size_t>> waiting_for_actor;
    std::vector<size_t> missing(queue.size(), 0);
    std::vector<bool> done(queue.size(), false);
    std::vector<size_t> ready;  // processed first in, first out
    for (size_t i = 0; i < queue.size(); ++i) {
      for (const ChangeHash& d : queue[i].info.deps) {
        if (!by_hash.contains(d)) {
          waiting_on[d].push_back(i);
          ++missing[i];
        }
      }
      if (missing[i] == 0) ready.push_back(i);
    }
    size_t left = queue.size();
    for (size_t next = 0; next < ready.size(); ++next) {
      size_t i = ready[next];
      if (done[i]) continue;
      DecodedChange& c = queue[i];
      auto state = readiness(c);
      if (!state) return std::unexpected(state.error());
      if (*state == Ready::Later) {  // its actor's previous change has not come yet
        waiting_for_actor[c.actor_idx].push_back(i);
        continue;
      }
      done[i] = true;
      --left;
      if (*state == Ready::Duplicate) continue;
      if (auto ok = check(c); !ok) return ok;
      ChangeHash hash = c.info.hash;
      uint32_t actor_idx = c.actor_idx;
      apply_decoded(std::move(c));
      if (auto it = waiting_on.find(hash); it != waiting_on.end()) {
        for (size_t j : it->second) {
          if (--missing[j] == 0) ready.push_back(j);
        }
        waiting_on.erase(it);
      }
      if (auto it = waiting_for_actor.find(actor_idx); it != waiting_for_actor.end()) {
        for (size_t j : it->second) ready.push_back(j);
        waiting_for_actor.erase(it);
      }
    }
    if (left > 0) {
      return std::unexpected(err(std::to_string(left) +
                                 " change(s) wait for dependencies that are missing"));
    }
    return {};
  }

  Result<void> apply_encoded(std::span<const std::vector<uint8_t>> changes) {
    commit({}, std::nullopt);
    std::vector<DecodedChange> decoded;
    decoded.reserve(changes.size());
    for (const auto& bytes : changes) {
      auto c = decode(std::make_shared<const std::vector<uint8_t>>(bytes), 0, bytes.size());
      if (!c) return std::unexpected(c.error());
      decoded.push_back(std::move(*c));
    }
    return apply_all(std::move(decoded));
  }
};

// ---------------------------------------------------------------- Document

Document::Document() : Document(ActorId::random()) {}
Document::Document(ActorId actor) : impl_(std::make_unique<Impl>(actor)) {}
Document::Document(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

ActorId Document::actor() const { return impl_->actor; }

std::vector<uint8_t> Document::actor_bytes() const {
  return std::vector<uint8_t>(impl_->actor.bytes.begin(), impl_->actor.bytes.end());
}

void Document::set_actor(ActorId actor) {
  impl_->commit({}, std::nullopt);
  auto idx = impl_->intern(actor);
  if (!idx) return;  // the table is full; keep the old actor
  impl_->actor = actor;
  impl_->actor_idx = *idx;
}

Result<std::optional<Value>> Document::get(const ObjId& obj, std::string_view key) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  const MapEntry* e = (*o)->map.find(key);
  if (e == nullptr || e->reg.empty()) return std::optional<Value>{};
  return std::optional<Value>{impl_->to_value(e->reg.front())};
}

Result<std::vector<Value>> Document::get_all(const ObjId& obj, std::string_view key) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  std::vector<Value> out;
  if (const MapEntry* e = (*o)->map.find(key)) {
    e->reg.for_each([&](const RegEntry& r) { out.push_back(impl_->to_value(r)); });
  }
  return out;
}

namespace {
Result<void> check_key_and_value(std::string_view key, const Scalar* value) {
  if (!valid_utf8(key)) return std::unexpected(err("map key is not valid UTF-8"));
  if (value) {
    if (auto s = value->as_str(); s && !valid_utf8(*s)) {
      return std::unexpected(err("string value is not valid UTF-8"));
    }
  }
  return {};
}
}  // namespace

Result<void> Document::put(const ObjId& obj, std::string_view key, Scalar value) {
  if (auto ok = check_key_and_value(key, &value); !ok) return ok;
  auto o = impl_->object_of(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  Op op;
  op.action = Action::MapSet;
  op.obj = o->first;
  op.text = std::string(key);
  if (const MapEntry* e = o->second->map.find(key)) {
    e->reg.for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  }
  op.value = Stored{std::move(value)};
  impl_->record(std::move(op));
  return {};
}

Result<ObjId> Document::put_object(const ObjId& obj, std::string_view key, ObjType type) {
  if (auto ok = check_key_and_value(key, nullptr); !ok) return std::unexpected(ok.error());
  auto o = impl_->object_of(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  Op op;
  op.action = Action::MapSet;
  op.obj = o->first;
  op.text = std::string(key);
  if (const MapEntry* e = o->second->map.find(key)) {
    e->reg.for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  }
  op.value = Stored{type};
  OpKey id = make_key(impl_->max_op + 1, impl_->actor_idx);
  impl_->record(std::move(op));
  return impl_->public_id(id);
}

Result<void> Document::delete_key(const ObjId& obj, std::string_view key) {
  auto o = impl_->object_of(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  const MapEntry* e = o->second->map.find(key);
  if (e == nullptr || e->reg.empty()) return {};
  Op op;
  op.action = Action::MapDel;
  op.obj = o->first;
  op.text = std::string(key);
  e->reg.for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  impl_->record(std::move(op));
  return {};
}

size_t Document::map_size(const ObjId& obj) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  return o ? (*o)->visible : 0;
}

std::vector<std::string> Document::keys(const ObjId& obj) const {
  std::vector<std::string> out;
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return out;
  const MapObj& m = (*o)->map;
  const auto& order = m.sorted();
  out.reserve(order.size());
  for (uint32_t i : order) {
    if (!m.at(i).reg.empty()) out.push_back(m.at(i).key);
  }
  return out;
}

Result<void> Document::visit_entries(const ObjId& obj, void (*fn)(void*, const EntryView&), void* ctx) const {
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return std::unexpected(o.error());
  // Values that are objects are usually read next: fetch their slot in the
  // object index early, then the object itself.
  auto ahead = [&](const MapEntry& e, int distance) {
    if (e.reg.empty() || !std::holds_alternative<ObjType>(e.reg.front().value)) return;
    if (distance == 8) {
      impl_->objects.prefetch_slot(e.reg.front().id);
    } else if (const Object* next = impl_->objects.peek(e.reg.front().id)) {
      __builtin_prefetch(next);
    }
  };
  (*o)->map.for_each_sorted([&](const MapEntry& e) {
    if (e.reg.empty()) return;
    const RegEntry& r = e.reg.front();
    EntryView view;
    view.key = e.key;
    if (const auto* type = std::get_if<ObjType>(&r.value)) {
      view.object = ObjectRef{*type, impl_->public_id(r.id)};
    } else {
      view.scalar = &std::get<Scalar>(r.value);
    }
    fn(ctx, view);
  }, ahead);
  return {};
}

std::vector<std::string> Document::keys_ignoring_case(const ObjId& obj, std::string_view key) const {
  std::vector<std::string> out;
  auto o = impl_->find_object(obj, ObjType::Map);
  if (!o) return out;
  const MapObj& m = (*o)->map;
  for (uint32_t i : m.find_ignoring_case(key)) {
    if (!m.at(i).reg.empty()) out.push_back(m.at(i).key);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<ObjType> Document::object_type(const ObjId& obj) const {
  auto key = impl_->internal_id(obj);
  if (!key) return std::nullopt;
  const Object* o = impl_->objects.find(*key);
  if (o == nullptr) return std::nullopt;
  return o->type;
}

Result<std::string> Document::text(const ObjId& obj) const {
  auto o = impl_->find_object(obj, ObjType::Text);
  if (!o) return std::unexpected(o.error());
  const Object& t = **o;
  std::string out;
  out.reserve(t.visible);
  for (uint32_t cur = t.elems[0].next; cur != kEnd; cur = t.elems[cur].next) {
    if (!t.elems[cur].deleted) append_utf8(out, t.elems[cur].value);
  }
  return out;
}

Result<void> Document::splice_text(const ObjId& obj, size_t pos, size_t del, std::string_view insert) {
  std::vector<char32_t> cps;
  if (!decode_utf8(insert, &cps)) return std::unexpected(err("inserted text is not valid UTF-8"));
  auto o = impl_->object_of(obj, ObjType::Text);
  if (!o) return std::unexpected(o.error());
  OpKey obj_key = o->first;
  Object& t = *o->second;
  if (pos > t.visible || del > t.visible - pos) {
    return std::unexpected(err("splice range " + std::to_string(pos) + "+" + std::to_string(del) +
                               " is past the end of a text of " + std::to_string(t.visible)));
  }
  if (del == 0 && cps.empty()) return {};
  // Find the visible element before pos and the ones to delete.
  uint32_t before = 0;
  std::vector<OpKey> doomed;
  doomed.reserve(del);
  size_t seen = 0;
  for (uint32_t cur = t.elems[0].next; cur != kEnd && seen < pos + del; cur = t.elems[cur].next) {
    if (t.elems[cur].deleted) continue;
    if (seen < pos) {
      before = cur;
    } else {
      doomed.push_back(t.elems[cur].id);
    }
    ++seen;
  }
  OpKey ref = t.elems[before].id;
  // Deletes of runs of consecutive ids travel as one operation.
  for (size_t i = 0; i < doomed.size();) {
    size_t j = i + 1;
    while (j < doomed.size() && doomed[j] == doomed[j - 1] + kActorStep) ++j;
    Op op;
    op.action = Action::TextDelete;
    op.obj = obj_key;
    op.ref = doomed[i];
    op.count = j - i;
    impl_->record(std::move(op));
    i = j;
  }
  if (!cps.empty()) {
    Op op;
    op.action = Action::TextInsert;
    op.obj = obj_key;
    op.ref = ref;
    op.count = cps.size();
    op.text = std::string(insert);
    impl_->record(std::move(op));
  }
  return {};
}

Result<size_t> Document::length(const ObjId& obj) const {
  auto key = impl_->internal_id(obj);
  const Object* o = key ? impl_->objects.find(*key) : nullptr;
  if (o == nullptr) return std::unexpected(err("no object " + obj.to_string()));
  if (o->type == ObjType::Map) {
    return std::unexpected(err("object " + obj.to_string() + " is a map, not a sequence"));
  }
  return o->visible;
}

Result<std::optional<Value>> Document::list_get(const ObjId& list, size_t index) const {
  auto o = impl_->find_object(list, ObjType::List);
  if (!o) return std::unexpected(o.error());
  auto slot = impl_->nth_visible(**o, index);
  if (!slot) return std::optional<Value>{};
  const Object& l = **o;
  return std::optional<Value>{impl_->to_value(l.regs[l.elems[*slot].value].front())};
}

namespace {
Result<void> out_of_range(size_t index, size_t len) {
  return std::unexpected(err("index " + std::to_string(index) + " is out of range for a list of " +
                             std::to_string(len)));
}
}  // namespace

static Result<ObjId> list_insert_impl(Document::Impl& impl, const ObjId& list, size_t index, Stored v) {
  auto o = impl.object_of(list, ObjType::List);
  if (!o) return std::unexpected(o.error());
  Object& l = *o->second;
  if (index > l.visible) return std::unexpected(out_of_range(index, l.visible).error());
  OpKey ref = 0;
  if (index > 0) ref = l.elems[*impl.nth_visible(l, index - 1)].id;
  Op op;
  op.action = Action::ListInsert;
  op.obj = o->first;
  op.ref = ref;
  op.value = std::move(v);
  OpKey id = make_key(impl.max_op + 1, impl.actor_idx);
  impl.record(std::move(op));
  return impl.public_id(id);
}

static Result<ObjId> list_set_impl(Document::Impl& impl, const ObjId& list, size_t index,
                                   std::optional<Stored> v) {
  auto o = impl.object_of(list, ObjType::List);
  if (!o) return std::unexpected(o.error());
  Object& l = *o->second;
  if (index >= l.visible) return std::unexpected(out_of_range(index, l.visible).error());
  const Elem& e = l.elems[*impl.nth_visible(l, index)];
  Op op;
  op.action = v ? Action::ListSet : Action::ListDel;
  op.obj = o->first;
  op.ref = e.id;
  l.regs[e.value].for_each([&](const RegEntry& r) { op.pred.push_back(r.id); });
  op.value = std::move(v);
  OpKey id = make_key(impl.max_op + 1, impl.actor_idx);
  impl.record(std::move(op));
  return impl.public_id(id);
}

Result<void> Document::list_insert(const ObjId& list, size_t index, Scalar value) {
  if (auto ok = check_key_and_value({}, &value); !ok) return ok;
  auto r = list_insert_impl(*impl_, list, index, Stored{std::move(value)});
  if (!r) return std::unexpected(r.error());
  return {};
}

Result<ObjId> Document::list_insert_object(const ObjId& list, size_t index, ObjType type) {
  return list_insert_impl(*impl_, list, index, Stored{type});
}

Result<void> Document::list_put(const ObjId& list, size_t index, Scalar value) {
  if (auto ok = check_key_and_value({}, &value); !ok) return ok;
  auto r = list_set_impl(*impl_, list, index, Stored{std::move(value)});
  if (!r) return std::unexpected(r.error());
  return {};
}

Result<ObjId> Document::list_put_object(const ObjId& list, size_t index, ObjType type) {
  return list_set_impl(*impl_, list, index, Stored{type});
}

Result<void> Document::list_delete(const ObjId& list, size_t index) {
  auto r = list_set_impl(*impl_, list, index, std::nullopt);
  if (!r) return std::unexpected(r.error());
  return {};
}

void Document::commit(std::string message, std::optional<int64_t> time) {
  impl_->commit(std::move(message), time);
}

size_t Document::pending_ops() const { return impl_->pending.size(); }

std::vector<ChangeHash> Document::get_heads() const {
  impl_->commit({}, std::nullopt);
  return impl_->heads;
}

std::vector<ChangeInfo> Document::changes() const {
  impl_->commit({}, std::nullopt);
  std::vector<ChangeInfo> out;
  out.reserve(impl_->history.size());
  for (const StoredChange& c : impl_->history) out.push_back(c.info);
  return out;
}

std::vector<std::vector<uint8_t>> Document::encoded_changes() const {
  impl_->commit({}, std::nullopt);
  std::vector<std::vector<uint8_t>> out;
  out.reserve(impl_->history.size());
  for (const StoredChange& c : impl_->history) {
    auto b = c.bytes();
    out.emplace_back(b.begin(), b.end());
  }
  return out;
}

std::vector<std::vector<uint8_t>> Document::encoded_changes_since(
    std::span<const ChangeHash> heads) const {
  impl_->commit({}, std::nullopt);
  std::vector<bool> known(impl_->history.size(), false);
  std::vector<uint32_t> stack;
  for (const ChangeHash& h : heads) {
    if (const uint32_t* i = impl_->by_hash.find(h)) stack.push_back(*i);
  }
  while (!stack.empty()) {
    uint32_t i = stack.back();
    stack.pop_back();
    if (known[i]) continue;
    known[i] = true;
    for (const ChangeHash& d : impl_->history[i].info.deps) stack.push_back(impl_->by_hash.at(d));
  }
  std::vector<std::vector<uint8_t>> out;
  for (size_t i = 0; i < impl_->history.size(); ++i) {
    if (!known[i]) {
      auto b = impl_->history[i].bytes();
      out.emplace_back(b.begin(), b.end());
    }
  }
  return out;
}

Result<void> Document::apply_changes(std::span<const std::vector<uint8_t>> changes) {
  return impl_->apply_encoded(changes);
}

Result<void> Document::merge(Document& other) {
  if (other.impl_.get() == impl_.get()) return {};
  impl_->commit({}, std::nullopt);
  other.impl_->commit({}, std::nullopt);
  std::vector<std::vector<uint8_t>> missing;
  for (const StoredChange& c : other.impl_->history) {
    if (!impl_->by_hash.contains(c.info.hash)) {
      auto b = c.bytes();
      missing.emplace_back(b.begin(), b.end());
    }
  }
  if (missing.empty()) return {};
  return impl_->apply_encoded(missing);
}

std::vector<uint8_t> Document::save() const {
  impl_->commit({}, std::nullopt);
  Writer w;
  size_t total = 0;
  for (const StoredChange& c : impl_->history) total += c.len + 5;
  w.out.reserve(total + 64);
  w.raw(kDocMagic);
  w.varint(impl_->history.size());
  for (const StoredChange& c : impl_->history) {
    w.varint(c.len);
    w.raw(c.bytes());
  }
  uint8_t sum[kChecksumBytes];
  crypto_generichash(sum, sizeof sum, w.out.data(), w.out.size(), nullptr, 0);
  w.raw(sum);
  return std::move(w.out);
}

Result<Document> Document::load(std::span<const uint8_t> bytes) { return load_from(bytes, nullptr); }

Result<Document> Document::load_owned(std::vector<uint8_t> bytes) {
  if (bytes.size() > kMaxDocumentBytes) return std::unexpected(err("document is too large"));
  auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  return load_from(*owned, owned);
}

// `owner`, when given, holds `bytes` and is kept by the document for the
// encoded changes; otherwise they are copied once the file is found sound.
Result<Document> Document::load_from(std::span<const uint8_t> bytes, std::shared_ptr<const std::vector<uint8_t>> owner) {
  ensure_sodium();
  if (bytes.size() > kMaxDocumentBytes) return std::unexpected(err("document is too large"));
  if (bytes.size() < sizeof kDocMagic + 1 + kChecksumBytes ||
      !std::equal(std::begin(kDocMagic), std::end(kDocMagic), bytes.begin())) {
    return std::unexpected(err("not a saved document"));
  }
  auto body = bytes.first(bytes.size() - kChecksumBytes);
  uint8_t sum[kChecksumBytes];
  crypto_generichash(sum, sizeof sum, body.data(), body.size(), nullptr, 0);
  if (sodium_memcmp(sum, bytes.data() + body.size(), kChecksumBytes) != 0) {
    return std::unexpected(err("document checksum does not match (damaged file)"));
  }
  Reader r(body.subspan(sizeof kDocMagic));
  uint64_t n;
  if (!r.varint(n) || n > r.remaining()) return std::unexpected(err("malformed document header"));
  auto impl = std::make_unique<Impl>(ActorId::random());
  // Typical documents make a couple of objects per change; the claim in the
  // header is only trusted up to a size any real document reaches.
  const size_t expect = static_cast<size_t>(std::min<uint64_t>(n, uint64_t{1} << 20));
  impl->by_hash.reserve(expect);
  impl->history.reserve(expect);
  impl->objects.reserve(2 * expect + 1);
  // Offsets of changes count from the start of the file, in either buffer.
  Buffer buf = owner ? std::move(owner) : std::make_shared<const std::vector<uint8_t>>(body.begin(), body.end());
  // Saved files list changes in causal order, so each is normally applied as
  // soon as it is read; anything out of order waits for the end.
  std::vector<DecodedChange> waiting;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t len;
    std::span<const uint8_t> change;
    if (!r.varint(len) || len > r.remaining() || !r.raw(len, change)) {
      return std::unexpected(err("malformed document: truncated change"));
    }
    auto ok = impl->load_change(buf, static_cast<size_t>(change.data() - body.data()), len, waiting);
    if (!ok) return std::unexpected(ok.error());
  }
  if (!r.done()) return std::unexpected(err("malformed document: trailing bytes"));
  if (auto ok = impl->apply_all(std::move(waiting)); !ok) return std::unexpected(ok.error());
  return Document(std::move(impl));
}

Document Document::fork() const {
  impl_->commit({}, std::nullopt);
  auto copy = std::make_unique<Impl>(*impl_);
  ActorId fresh = ActorId::random();
  copy->actor = fresh;
  copy->actor_idx = copy->intern(fresh).value_or(copy->actor_idx);
  return Document(std::move(copy));
}

Result<bool> splice_text_diffed(Document& doc, const ObjId& text, std::string_view new_text) {
  std::vector<char32_t> want;
  if (!decode_utf8(new_text, &want)) return std::unexpected(err("text is not valid UTF-8"));
  auto current = doc.text(text);
  if (!current) return std::unexpected(current.error());
  std::vector<char32_t> have;
  decode_utf8(*current, &have);
  size_t prefix = 0;
  size_t limit = std::min(have.size(), want.size());
  while (prefix < limit && have[prefix] == want[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < limit - prefix &&
         have[have.size() - 1 - suffix] == want[want.size() - 1 - suffix]) {
    ++suffix;
  }
  if (prefix == have.size() && prefix == want.size()) return false;
  std::string insert;
  for (size_t i = prefix; i < want.size() - suffix; ++i) append_utf8(insert, want[i]);
  auto ok = doc.splice_text(text, prefix, have.size() - prefix - suffix, insert);
  if (!ok) return std::unexpected(ok.error());
  return true;
}

}  // namespace vesk_ui::doc

size_t std::hash<vesk_ui::doc::ObjId>::operator()(const vesk_ui::doc::ObjId& id) const noexcept {
  uint64_t a;
  std::memcpy(&a, id.actor().bytes.data(), sizeof a);
  return static_cast<size_t>(a ^ (id.counter() * 0x9E3779B97F4A7C15ull));
}
