// Private declarations shared by the document's source files: packed
// operation ids, format limits and small helpers. Not part of the API.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "platform/vesk_ui/document/document.hpp"

namespace vesk_ui::doc::detail {

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

void ensure_sodium();
std::string hex(std::span<const uint8_t> b);
int64_t now_seconds();

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

inline Error err(std::string m) { return Error{std::move(m)}; }

// SHA-256 of an encoded change.
void hash_change(std::span<const uint8_t> bytes, ChangeHash& out);

// Refuses a map key or string value that is not valid UTF-8.
Result<void> check_key_and_value(std::string_view key, const Scalar* value);

}  // namespace vesk_ui::doc::detail
