#pragma once
// UTF-8 handling of text a server sends.

#include <cstdint>
#include <span>
#include <string>

namespace rfb {

bool is_valid_utf8(std::span<const std::uint8_t> bytes);

// Invalid sequences become U+FFFD, one per maximal ill-formed subpart.
std::string utf8_lossy(std::span<const std::uint8_t> bytes);

// Lossy decoding with control characters (C0, DEL, C1) removed, for text that
// ends up on screen.
std::string printable_utf8(std::span<const std::uint8_t> bytes);

}  // namespace rfb
