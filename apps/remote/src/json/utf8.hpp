// UTF-8 validation for text that enters from outside (payloads, arguments,
// documents), so that everything written back out is valid JSON text.
#pragma once

#include <string>
#include <string_view>

namespace remote::json {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

// The text with every byte that is not part of a valid sequence replaced by
// U+FFFD; valid text comes back unchanged.
std::string to_valid_utf8(std::string_view text);

}  // namespace remote::json
