#include "apps/remote/src/rfb/text.hpp"

#include <cstddef>

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::rfb {
namespace {

bool is_control(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string printable_utf8(std::span<const std::uint8_t> bytes) {
  const std::string_view text = as_text(bytes);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool ok = true;
    const char32_t cp = vesk_ui::utf8::decode_at(text, i, ok);
    if (!is_control(cp)) vesk_ui::utf8::append(out, cp);
  }
  return out;
}

}  // namespace remote::rfb
