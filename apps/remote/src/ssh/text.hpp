#pragma once
// Small text helpers: a strict UTF-8 check for text that enters from the
// environment or a peer, and numbers for messages.

#include <cstdint>
#include <string>
#include <string_view>

#include "apps/remote/src/doc/text.hpp"
#include "apps/remote/src/json/utf8.hpp"

namespace remote::ssh {

// Text from the environment or a peer is checked and repaired with the
// shared helpers.
using json::is_valid_utf8;
using json::to_valid_utf8;

inline std::string decimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace remote::ssh
