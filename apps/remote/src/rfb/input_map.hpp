#pragma once
// How window input becomes VNC input on the wire: text to keysym, button
// bits and key strokes. Pure functions; the application's event handling
// calls them (its key maps hold the named-key table).

#include <cstdint>
#include <optional>
#include <string_view>

#include "apps/remote/src/rfb/session.hpp"

namespace remote::rfb {

inline constexpr std::uint32_t kUnicodeKeysymBase = 0x01000000;

// The keysym of the first character of a key's text: its code point up to
// U+00FF, kUnicodeKeysymBase | code point above; none for empty or invalid
// UTF-8 text.
std::optional<std::uint32_t> keysym_for_text(std::string_view text);

enum class PointerButton { Left, Middle, Right, Other };

// The RFB button-mask bit: left 1, middle 2, right 4, others 0.
std::uint8_t button_bit(PointerButton button);
// The held mask after a press or release.
std::uint8_t update_button_mask(std::uint8_t mask, PointerButton button, bool pressed);

// A key as the remote side sees it: press then release; the texts of a full
// or closed queue are dropped, as input never reports.
bool send_key_stroke(VncSession& session, std::uint32_t keysym);

}  // namespace remote::rfb
