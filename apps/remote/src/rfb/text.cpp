#include "apps/remote/src/rfb/text.hpp"

#include <cstddef>

#include "apps/remote/src/json/utf8.hpp"

namespace rfb {
namespace {

std::string_view as_text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool is_control(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

bool is_valid_utf8(std::span<const std::uint8_t> bytes) { return remote::json::is_valid_utf8(as_text(bytes)); }

std::string utf8_lossy(std::span<const std::uint8_t> bytes) { return remote::json::to_valid_utf8(as_text(bytes)); }

std::string printable_utf8(std::span<const std::uint8_t> bytes) {
  const std::string_view text = as_text(bytes);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool ok = true;
    const char32_t cp = remote::json::decode_utf8_at(text, i, ok);
    if (!is_control(cp)) remote::json::append_utf8(out, cp);
  }
  return out;
}

}  // namespace rfb
