#include "apps/remote/src/actions/uuid_field.hpp"

#include <array>
#include <cstddef>

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::actions {

namespace {

bool is_hex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

}  // namespace

// Diagnoses the first fault the way the usual UUID parsers report it: a bad
// character (1-based position), then the length of a text without hyphens,
// then the number of groups, then the first group of the wrong length.
std::string describe_uuid_error(std::string_view input) {
  if (!vesk_ui::utf8::is_valid(input)) return "non-UTF8 input";
  std::string_view body = input;
  std::size_t offset = 0;
  bool simple = false;
  if (input.size() >= 2 && input.front() == '{' && input.back() == '}') {
    body = input.substr(1, input.size() - 2);
    offset = 1;
  } else if (input.starts_with("urn:uuid:")) {
    body = input.substr(9);
    offset = 9;
  } else {
    simple = true;
  }

  std::size_t hyphens = 0;
  std::array<std::size_t, 4> bounds{};
  for (std::size_t i = 0; i < body.size();) {
    unsigned char c = static_cast<unsigned char>(body[i]);
    std::size_t len = utf8_length(c);
    if (c == '-') {
      if (hyphens < 4) bounds[hyphens] = i;
      ++hyphens;
    } else if (!is_hex(c)) {
      return "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-zA-Z], found `" +
             std::string(body.substr(i, len)) + "` at " + std::to_string(i + offset + 1);
    }
    i += len;
  }

  if (hyphens == 0 && simple) {
    return "invalid length: expected length 32 for simple format, found " + std::to_string(input.size());
  }
  if (hyphens != 4) return "invalid group count: expected 5, found " + std::to_string(hyphens + 1);
  constexpr std::array<std::size_t, 5> kStarts{0, 9, 14, 19, 24};
  constexpr std::array<std::size_t, 5> kLengths{8, 4, 4, 4, 12};
  auto group_error = [&](std::size_t group, std::size_t len) {
    return "invalid group length in group " + std::to_string(group) + ": expected " + std::to_string(kLengths[group]) +
           ", found " + std::to_string(len);
  };
  for (std::size_t g = 0; g < 4; ++g) {
    // Unsigned wrap-around as in the reference parser for misplaced hyphens.
    if (bounds[g] != kStarts[g + 1] - 1) return group_error(g, bounds[g] - kStarts[g]);
  }
  return group_error(4, input.size() - kStarts[4]);
}

json::Result<Uuid> read_uuid(json::Reader& r) {
  return json::read_str_with<Uuid>(r, "a formatted UUID string",
                                   [](std::string_view text) -> std::expected<Uuid, std::string> {
                                     if (auto id = Uuid::parse(text)) return *id;
                                     return std::unexpected("UUID parsing failed: " + describe_uuid_error(text));
                                   });
}

}  // namespace remote::actions
