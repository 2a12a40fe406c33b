#pragma once
// Text a server sends; checking and repair are the shared UTF-8 module's.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace remote::rfb {

// The bytes of a message seen as text, not yet checked.
inline std::string_view as_text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Lossy decoding with control characters (C0, DEL, C1) removed, for text that
// ends up on screen.
std::string printable_utf8(std::span<const std::uint8_t> bytes);

}  // namespace remote::rfb
