#include "apps/remote/src/doc/endpoint_id.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cctype>
#include <string>

namespace remote {
namespace {

// RFC 8032, section 7.1, test 1.
constexpr std::string_view kRfcSeedHex = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kRfcKeyHex = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr std::string_view kRfcKeyBase32 = "25NJQAMCWEFLPVKL73J4SZAHHIHOC4XT3KTCGJNPAINGR5YHKENA";

EndpointId::Bytes y_bytes(unsigned y) {
  EndpointId::Bytes b{};
  b[0] = static_cast<std::uint8_t>(y);
  return b;
}

TEST(DocEndpointIdPoint, KnownVectors) {
  struct Row {
    const char* what;
    EndpointId::Bytes bytes;
    bool valid;
  };
  EndpointId::Bytes rfc{};
  for (std::size_t i = 0; i < 32; ++i)
    rfc[i] = static_cast<std::uint8_t>(std::stoi(std::string(kRfcKeyHex.substr(2 * i, 2)), nullptr, 16));
  EndpointId::Bytes rfc_negated = rfc;
  rfc_negated[31] ^= 0x80;
  EndpointId::Bytes zero_negated{};
  zero_negated[31] = 0x80;
  EndpointId::Bytes y_is_p{};  // 2^255 - 19, not reduced: same as y = 0
  y_is_p.fill(0xff);
  y_is_p[0] = 0xed;
  y_is_p[31] = 0x7f;
  EndpointId::Bytes y_is_p_plus_2 = y_is_p;
  y_is_p_plus_2[0] = 0xef;  // same as y = 2
  const Row rows[] = {
      {"32 zero bytes (y = 0)", y_bytes(0), true},
      {"y = 1, the identity", y_bytes(1), true},
      {"0x02 then zeros", y_bytes(2), false},
      {"y = 3", y_bytes(3), true},
      {"y = 7", y_bytes(7), false},
      {"RFC 8032 test 1", rfc, true},
      {"RFC 8032 test 1 with the sign flipped", rfc_negated, true},
      {"y = 0 with the sign bit", zero_negated, true},
      {"y = p, non-canonical zero", y_is_p, true},
      {"y = p + 2, non-canonical two", y_is_p_plus_2, false},
  };
  for (const auto& r : rows) EXPECT_EQ(is_ed25519_point(r.bytes), r.valid) << r.what;
  // Answers are remembered: asked again, and again after enough other keys to
  // push them out of the memo, the answers stay the same.
  for (const auto& r : rows) EXPECT_EQ(is_ed25519_point(r.bytes), r.valid) << r.what << " (remembered)";
  for (unsigned k = 0; k < 40'000; ++k) {
    EndpointId::Bytes other{};
    other[1] = static_cast<std::uint8_t>(k);
    other[2] = static_cast<std::uint8_t>(k >> 8);
    other[3] = 0x5a;
    (void)is_ed25519_point(other);
  }
  for (const auto& r : rows) EXPECT_EQ(is_ed25519_point(r.bytes), r.valid) << r.what << " (after the memo filled)";
}

TEST(DocEndpointIdPoint, EveryGeneratedKeyIsAPoint) {
  ASSERT_GE(sodium_init(), 0);
  for (int i = 0; i < 200; ++i) {
    EndpointId::Seed seed;
    randombytes_buf(seed.data(), seed.size());
    const EndpointId id = EndpointId::from_seed(seed);
    EXPECT_TRUE(is_ed25519_point(id.bytes())) << id;
    EXPECT_EQ(EndpointId::parse(id.to_string()), id);
  }
}

TEST(DocEndpointIdText, FromSeedMatchesRfc) {
  EndpointId::Seed seed{};
  for (std::size_t i = 0; i < 32; ++i)
    seed[i] = static_cast<std::uint8_t>(std::stoi(std::string(kRfcSeedHex.substr(2 * i, 2)), nullptr, 16));
  EXPECT_EQ(EndpointId::from_seed(seed).to_string(), kRfcKeyHex);
}

TEST(DocEndpointIdText, AcceptedAndRefusedSpellings) {
  std::string lower_base32(kRfcKeyBase32);
  for (char& c : lower_base32) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string mixed_base32(kRfcKeyBase32);
  for (std::size_t i = 0; i < mixed_base32.size(); i += 2)
    mixed_base32[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mixed_base32[i])));
  std::string upper_hex(kRfcKeyHex);
  for (char& c : upper_hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string trailing_bit(kRfcKeyBase32);
  trailing_bit.back() = 'B';  // a set bit past the 256 of the key
  std::string not_a_point_hex = "02" + std::string(62, '0');

  struct Row {
    std::string text;
    bool valid;
  };
  const Row rows[] = {
      {std::string(kRfcKeyHex), true},
      {std::string(kRfcKeyBase32), true},
      {lower_base32, true},
      {mixed_base32, true},
      {std::string(64, '0'), true},
      {std::string(52, 'A'), true},
      {std::string(52, 'a'), true},
      {upper_hex, false},
      {trailing_bit, false},
      {not_a_point_hex, false},
      {std::string(kRfcKeyBase32) + "====", false},
      {std::string(kRfcKeyBase32).substr(0, 51), false},
      {std::string(kRfcKeyBase32) + "A", false},
      {std::string(kRfcKeyHex).substr(0, 63), false},
      {std::string(kRfcKeyHex) + "0", false},
      {std::string(51, 'A') + "1", false},  // 0, 1, 8, 9 are not base32 digits
      {std::string(51, 'A') + "=", false},
      {" " + std::string(kRfcKeyHex).substr(1), false},
      {"", false},
      {std::string(kRfcKeyHex).substr(0, 12), false},
  };
  for (const auto& r : rows) {
    const auto id = EndpointId::parse(r.text);
    EXPECT_EQ(id.has_value(), r.valid) << '"' << r.text << '"';
  }
  EXPECT_EQ(EndpointId::parse(kRfcKeyBase32)->to_string(), kRfcKeyHex);
  EXPECT_EQ(EndpointId::parse(lower_base32), EndpointId::parse(kRfcKeyHex));
}

}  // namespace
}  // namespace remote
