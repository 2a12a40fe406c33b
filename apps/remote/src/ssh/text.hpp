#pragma once
// Small text helpers: a strict UTF-8 check for text that enters from the
// environment or a peer, and "{}" placeholder filling.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "apps/remote/src/json/utf8.hpp"

namespace remote::ssh {

// Text from the environment or a peer is checked and repaired with the
// shared helpers.
using json::is_valid_utf8;
using json::to_valid_utf8;

// Replaces each "{}" of `pattern`, in order, with the next argument.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args);

inline std::string decimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace remote::ssh
