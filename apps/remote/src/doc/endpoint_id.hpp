#pragma once
// Vesk device endpoint ids: parsing, the text form and derivation from a seed.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

// The public key that names a Vesk device: 32 bytes of a compressed Ed25519 point.
class EndpointId {
 public:
  using Bytes = std::array<std::uint8_t, 32>;
  using Seed = std::array<std::uint8_t, 32>;

  // 64 lower-case hex digits, or 52 characters of unpadded RFC 4648 base32 in
  // either case (unused trailing bits zero); the bytes must decode to a curve point.
  static std::optional<EndpointId> parse(std::string_view text);
  // The bytes, when they decode to a curve point.
  static std::optional<EndpointId> from_bytes(const Bytes& bytes);
  // The public key of the Ed25519 key pair made from a 32-byte seed.
  static EndpointId from_seed(const Seed& seed);

  // 64 lower-case hex digits.
  std::string to_string() const;
  const Bytes& bytes() const { return bytes_; }

  friend bool operator==(const EndpointId&, const EndpointId&) = default;
  friend std::ostream& operator<<(std::ostream& out, const EndpointId& id);

 private:
  explicit EndpointId(const Bytes& bytes) : bytes_(bytes) {}
  Bytes bytes_{};
};

// Whether 32 bytes are the compressed form of a point of Ed25519: with the sign
// bit cleared, y (reduced mod p) must give an x² = (y²−1)/(d·y²+1) that is zero
// or a square mod p = 2²⁵⁵−19. Non-canonical y and x = 0 with the sign bit set pass.
// Answers are remembered per key (thread-safe, bounded).
bool is_ed25519_point(const EndpointId::Bytes& bytes);

}  // namespace remote
