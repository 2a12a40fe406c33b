#pragma once
// Small text helpers: a strict UTF-8 check for text that enters from the
// environment or a peer, and "{}" placeholder filling.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace remote::ssh {

// True for well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD (for library
// messages that may quote what a server sent).
std::string to_valid_utf8(std::string_view text);

// Replaces each "{}" of `pattern`, in order, with the next argument.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args);

inline std::string decimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace remote::ssh
