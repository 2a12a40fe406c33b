#pragma once
// How window input becomes VNC input on the wire: text to keysym, button
// bits, key strokes and the mapping of a window point into the framebuffer.
// Pure functions; the application's event handling calls them (its key maps
// hold the named-key table).

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

struct SurfaceRect {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
struct FramePoint {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  bool operator==(const FramePoint&) const = default;
};

// A window point inside the painted surface (x0 ≤ x < x1, y0 ≤ y < y1, both
// extents positive) mapped into a frame of the given size (both above 0):
// clamp((x − x0) / (x1 − x0) × w, 0, w − 1), truncated; likewise y.
std::optional<FramePoint> map_to_frame(double x, double y, const SurfaceRect& surface, FrameSize frame);

// A key as the remote side sees it: press then release; the texts of a full
// or closed queue are dropped, as input never reports.
bool send_key_stroke(VncSession& session, std::uint32_t keysym);

}  // namespace remote::rfb
