// UTF-8 checking and repair for every piece of text that enters from outside
// (payloads, arguments, documents, peers, the environment), so that what is
// shown or written back out is always valid text. Thin names over the
// platform helper (platform/vesk_ui/utf8); repair follows the "maximal
// subpart" rule, as Rust's String::from_utf8_lossy does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace remote::json {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point at `i` and advances `i` past it. An ill-formed
// sequence gives U+FFFD, clears `ok` and advances past its maximal subpart
// (at least one byte).
char32_t decode_utf8_at(std::string_view text, std::size_t& i, bool& ok);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

// The text with every ill-formed subpart replaced by U+FFFD; valid text
// comes back unchanged.
std::string to_valid_utf8(std::string_view text);

// Appends one code point; surrogates and values past U+10FFFF become U+FFFD.
void append_utf8(std::string& out, char32_t cp);

}  // namespace remote::json
