#include "apps/remote/src/json/utf8.hpp"

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::json {

char32_t decode_utf8_at(std::string_view text, std::size_t& i, bool& ok) {
  return vesk_ui::utf8::decode_at(text, i, ok);
}

bool is_valid_utf8(std::string_view text) { return vesk_ui::utf8::is_valid(text); }

std::string to_valid_utf8(std::string_view text) { return vesk_ui::utf8::repair(text); }

void append_utf8(std::string& out, char32_t cp) { vesk_ui::utf8::append(out, cp); }

}  // namespace remote::json
