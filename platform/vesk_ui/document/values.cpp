// Values and ids: actor ids, change hashes, object ids, scalars and values,
// and the small helpers the rest of the document uses to print them.
#include <sodium.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "platform/vesk_ui/document/internal.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace vesk_ui::doc {

using namespace detail;

namespace {
std::once_flag sodium_once;
}  // namespace

void detail::ensure_sodium() {
  std::call_once(sodium_once, [] {
    if (sodium_init() < 0) std::abort();  // libsodium cannot run at all
  });
}

std::string detail::hex(std::span<const uint8_t> b) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(b.size() * 2);
  for (uint8_t c : b) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

int64_t detail::now_seconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

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
    return std::bit_cast<uint64_t>(std::get<double>(payload_)) == std::bit_cast<uint64_t>(std::get<double>(o.payload_));
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

bool valid_utf8(std::string_view s) { return utf8::is_valid(s); }

}  // namespace vesk_ui::doc
