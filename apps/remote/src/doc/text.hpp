#pragma once

// Text helpers with the Unicode rules the profiles rely on: White_Space
// trimming, full locale-independent lower-casing, counting in code points.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace remote::text {

// Strips Unicode White_Space (ASCII spaces, NBSP, U+0085, U+3000, ...) at both ends.
// U+FEFF is not white space and stays.
std::string_view trim(std::string_view text);

// Full Unicode lower-case mapping, independent of the process locale.
std::string to_lower(std::string_view text);

// Number of code points.
std::size_t char_count(std::string_view text);
// The first `count` code points (all of the text when it is shorter).
std::string_view first_chars(std::string_view text, std::size_t count);

// Replaces each "{}" of `pattern`, in order, with the next text; holes past
// the last text stay as they are, and the texts are not scanned again.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> texts);

// The value of an environment variable; unset when the value is not valid UTF-8.
std::optional<std::string> env_var(const char* name);

}  // namespace remote::text
