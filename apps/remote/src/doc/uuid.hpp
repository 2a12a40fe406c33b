#pragma once
// The 128-bit identifier, its text spellings and its hash.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

// A 128-bit identifier. The text form written everywhere is hyphenated lower
// case; parsing also takes the other spellings a peer or an old document may use.
class Uuid {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  constexpr Uuid() = default;
  constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

  // Accepts, with hex digits in either case:
  //   67e55044-10b1-426f-9247-bb680e5fe0c8
  //   67e5504410b1426f9247bb680e5fe0c8
  //   {67e55044-10b1-426f-9247-bb680e5fe0c8}
  //   urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8
  static std::optional<Uuid> parse(std::string_view text);
  // A random (version 4) id.
  static Uuid new_v4();
  static constexpr Uuid nil() { return Uuid{}; }

  // Hyphenated lower case, 36 characters.
  std::string to_string() const;
  constexpr const Bytes& bytes() const { return bytes_; }

  friend constexpr bool operator==(const Uuid&, const Uuid&) = default;
  friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Uuid& id);

 private:
  Bytes bytes_{};
};

}  // namespace remote

template <>
struct std::hash<remote::Uuid> {
  std::size_t operator()(const remote::Uuid& id) const noexcept {
    std::size_t h = 0;
    for (auto b : id.bytes()) h = h * 131 + b;
    return h;
  }
};
