#include "apps/remote/src/doc/uuid.hpp"

#include <uuid/uuid.h>

#include <ostream>

namespace remote {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 32 hex digits, with hyphens at the given text offsets (none for the simple form).
std::optional<Uuid> parse_digits(std::string_view text, bool hyphenated) {
  Uuid::Bytes bytes{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (hyphenated && (i == 4 || i == 6 || i == 8 || i == 10)) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
    const int hi = hex_value(text[pos]);
    const int lo = hex_value(text[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    pos += 2;
  }
  return Uuid(bytes);
}

}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
  constexpr std::string_view urn = "urn:uuid:";
  switch (text.size()) {
    case 32: return parse_digits(text, false);
    case 36: return parse_digits(text, true);
    case 38:
      if (text.front() != '{' || text.back() != '}') return std::nullopt;
      return parse_digits(text.substr(1, 36), true);
    case 45:
      if (!text.starts_with(urn)) return std::nullopt;
      return parse_digits(text.substr(urn.size()), true);
    default: return std::nullopt;
  }
}

Uuid Uuid::new_v4() {
  uuid_t raw;
  uuid_generate_random(raw);
  Bytes bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = raw[i];
  return Uuid(bytes);
}

std::string Uuid::to_string() const {
  uuid_t raw;
  for (std::size_t i = 0; i < bytes_.size(); ++i) raw[i] = bytes_[i];
  char text[37];
  uuid_unparse_lower(raw, text);
  return std::string(text, 36);
}

std::ostream& operator<<(std::ostream& out, const Uuid& id) { return out << id.to_string(); }

}  // namespace remote
