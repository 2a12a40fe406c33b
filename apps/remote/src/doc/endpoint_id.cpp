#include "apps/remote/src/doc/endpoint_id.hpp"

#include <gmp.h>
#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ostream>
#include <unordered_map>

namespace remote {
namespace {

// RAII for one GMP integer.
struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
};

struct Curve {
  Mpz p;
  Mpz d;
  Curve() {
    mpz_ui_pow_ui(p.v, 2, 255);
    mpz_sub_ui(p.v, p.v, 19);
    // d = -121665 / 121666 mod p
    Mpz den;
    mpz_set_ui(den.v, 121666);
    mpz_invert(den.v, den.v, p.v);
    mpz_set_si(d.v, -121665);
    mpz_mul(d.v, d.v, den.v);
    mpz_mod(d.v, d.v, p.v);
  }
};

const Curve& curve() {
  static const Curve c;
  return c;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // the hex form is lower case only
}

int base32_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= '2' && c <= '7') return c - '2' + 26;
  return -1;
}

constexpr std::size_t kHexLength = 64;
constexpr std::size_t kBase32Length = 52;  // 260 bits: 256 of key, 4 that must be zero

std::optional<EndpointId::Bytes> decode_hex(std::string_view text) {
  EndpointId::Bytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int hi = hex_value(text[2 * i]);
    const int lo = hex_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return bytes;
}

std::optional<EndpointId::Bytes> decode_base32(std::string_view text) {
  EndpointId::Bytes bytes{};
  std::uint32_t acc = 0;
  int bits = 0;
  std::size_t out = 0;
  for (char c : text) {
    const int v = base32_value(c);
    if (v < 0) return std::nullopt;
    acc = (acc << 5) | static_cast<std::uint32_t>(v);
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      bytes[out++] = static_cast<std::uint8_t>(acc >> bits);
      acc &= (1u << bits) - 1;
    }
  }
  if (out != bytes.size() || acc != 0) return std::nullopt;
  return bytes;
}

bool compute_is_ed25519_point(const EndpointId::Bytes& bytes) {
  const Curve& c = curve();
  Mpz y, y2, u, v, w;
  mpz_import(y.v, bytes.size(), -1, 1, 0, 0, bytes.data());  // little-endian
  mpz_clrbit(y.v, 255);                                      // the sign of x
  mpz_mod(y.v, y.v, c.p.v);
  mpz_mul(y2.v, y.v, y.v);
  mpz_mod(y2.v, y2.v, c.p.v);
  mpz_sub_ui(u.v, y2.v, 1);
  mpz_mod(u.v, u.v, c.p.v);
  mpz_mul(v.v, c.d.v, y2.v);
  mpz_add_ui(v.v, v.v, 1);
  mpz_mod(v.v, v.v, c.p.v);
  // d·y²+1 is never 0 mod p (−1/d is not a square), so the inverse exists.
  if (mpz_invert(v.v, v.v, c.p.v) == 0) return false;
  mpz_mul(w.v, u.v, v.v);
  mpz_mod(w.v, w.v, c.p.v);
  if (mpz_sgn(w.v) == 0) return true;
  return mpz_legendre(w.v, c.p.v) == 1;
}

struct BytesHash {
  std::size_t operator()(const EndpointId::Bytes& bytes) const noexcept {
    // The bytes are a curve coordinate: any eight of them are already well mixed.
    std::uint64_t h = 0;
    std::memcpy(&h, bytes.data(), sizeof h);
    return static_cast<std::size_t>(h);
  }
};

// The point check costs about a microsecond and readiness runs it for every
// device profile, so its answers are remembered. Two generations bound the
// memory: when the newer fills up it becomes the older and the older is
// dropped, so keys in steady use survive and nothing is forgotten all at once.
class PointCheckMemo {
 public:
  static constexpr std::size_t kEntriesPerGeneration = 16'384;

  bool check(const EndpointId::Bytes& bytes) {
    {
      std::lock_guard lock(mutex_);
      if (auto it = newer_.find(bytes); it != newer_.end()) return it->second;
      if (auto it = older_.find(bytes); it != older_.end()) {
        const bool valid = it->second;
        remember(bytes, valid);
        return valid;
      }
    }
    const bool valid = compute_is_ed25519_point(bytes);
    std::lock_guard lock(mutex_);
    remember(bytes, valid);
    return valid;
  }

 private:
  void remember(const EndpointId::Bytes& bytes, bool valid) {
    if (newer_.size() >= kEntriesPerGeneration) {
      older_ = std::move(newer_);
      newer_ = {};
    }
    newer_.emplace(bytes, valid);
  }

  std::mutex mutex_;
  std::unordered_map<EndpointId::Bytes, bool, BytesHash> newer_;
  std::unordered_map<EndpointId::Bytes, bool, BytesHash> older_;
};

PointCheckMemo& point_check_memo() {
  static PointCheckMemo memo;
  return memo;
}

}  // namespace

bool is_ed25519_point(const EndpointId::Bytes& bytes) { return point_check_memo().check(bytes); }

std::optional<EndpointId> EndpointId::from_bytes(const Bytes& bytes) {
  if (!is_ed25519_point(bytes)) return std::nullopt;
  return EndpointId(bytes);
}

std::optional<EndpointId> EndpointId::parse(std::string_view text) {
  std::optional<Bytes> bytes;
  if (text.size() == kHexLength) {
    bytes = decode_hex(text);
  } else if (text.size() == kBase32Length) {
    bytes = decode_base32(text);
  }
  if (!bytes) return std::nullopt;
  return from_bytes(*bytes);
}

EndpointId EndpointId::from_seed(const Seed& seed) {
  if (sodium_init() < 0) {
    std::fputs("libsodium could not be initialised\n", stderr);
    std::abort();
  }
  Bytes pk{};
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_seed_keypair(pk.data(), sk, seed.data());
  sodium_memzero(sk, sizeof sk);
  return EndpointId(pk);
}

std::string EndpointId::to_string() const {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(kHexLength);
  for (auto b : bytes_) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::ostream& operator<<(std::ostream& out, const EndpointId& id) { return out << id.to_string(); }

}  // namespace remote
