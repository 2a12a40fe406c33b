// The one UTF-8 checker, decoder and repairer of the platform layer (the
// document, the text layer and the application's JSON code build on it).
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF;
// NUL is a valid character here. Repair follows the "maximal subpart" rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk_ui::utf8 {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Length of the well-formed sequence starting at s[i] (i < s.size()), or 0
// when there is none.
std::size_t sequence_length(std::string_view s, std::size_t i);

// Decodes the code point at `i` and advances `i` past it. An ill-formed
// sequence gives U+FFFD, clears `ok` and advances past its maximal subpart
// (at least one byte).
char32_t decode_at(std::string_view text, std::size_t& i, bool& ok);

bool is_valid(std::string_view text);

// Appends the code points of `text` to `out`; false (with `out` partly
// filled) when `text` is not valid.
bool decode(std::string_view text, std::vector<char32_t>& out);

// The text with every ill-formed subpart replaced by U+FFFD; valid text
// comes back unchanged.
std::string repair(std::string_view text);

// Appends one code point; surrogates and values past U+10FFFF become U+FFFD.
void append(std::string& out, char32_t cp);

// Calls f for each code point of text already known to be valid.
template <class F>
void for_each_code_point(std::string_view s, F&& f) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    std::uint8_t c = *p++;
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if (c < 0xE0) {
      cp = c & 0x1F;
      extra = 1;
    } else if (c < 0xF0) {
      cp = c & 0x0F;
      extra = 2;
    } else {
      cp = c & 0x07;
      extra = 3;
    }
    for (int i = 0; i < extra && p < end; ++i) cp = (cp << 6) | (*p++ & 0x3F);
    f(cp);
  }
}

}  // namespace vesk_ui::utf8
