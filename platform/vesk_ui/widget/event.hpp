#pragma once
// Input events as the framework delivers them to widgets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vesk_ui::event {

struct Modifiers {
  bool shift = false;
  bool control = false;
  bool alt = false;
  bool super = false;
  friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

// Position in physical pixels of the window.
struct PointerMoved {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const PointerMoved&, const PointerMoved&) = default;
};

// The pointer left the window.
struct PointerLeft {
  friend bool operator==(const PointerLeft&, const PointerLeft&) = default;
};

struct LineDelta {
  float x = 0.0f;  // lines
  float y = 0.0f;
  friend bool operator==(const LineDelta&, const LineDelta&) = default;
};
struct PixelDelta {
  double x = 0.0;  // physical pixels
  double y = 0.0;
  friend bool operator==(const PixelDelta&, const PixelDelta&) = default;
};
// Positive y scrolls the content up (the wheel turned away from the user).
struct Wheel {
  std::variant<LineDelta, PixelDelta> delta;
  friend bool operator==(const Wheel&, const Wheel&) = default;
};

// Button numbers: left 0, right 1, middle 2, others 3 and up.
namespace button {
inline constexpr std::uint32_t kLeft = 0;
inline constexpr std::uint32_t kRight = 1;
inline constexpr std::uint32_t kMiddle = 2;
}  // namespace button

struct PointerButton {
  std::uint32_t button = button::kLeft;
  bool pressed = true;
  friend bool operator==(const PointerButton&, const PointerButton&) = default;
};

enum class NamedKey : std::uint8_t {
  Enter,
  Tab,
  Space,
  Backspace,
  Delete,
  Escape,
  ArrowDown,
  ArrowLeft,
  ArrowRight,
  ArrowUp,
  Home,
  End,
  PageUp,
  PageDown,
  Insert,
  Shift,
  Control,
  Alt,
  Super,
  CapsLock,
  F1,
  F2,
  F3,
  F4,
  F5,
  F6,
  F7,
  F8,
  F9,
  F10,
  F11,
  F12,
};

std::string_view named_key_name(NamedKey key);

// A key the platform could not name.
struct UnidentifiedKey {
  friend bool operator==(const UnidentifiedKey&, const UnidentifiedKey&) = default;
};

// The logical key: a named key, the character string it stands for, or unknown.
using LogicalKey = std::variant<NamedKey, std::string, UnidentifiedKey>;

struct Key {
  LogicalKey logical;
  std::optional<std::string> code;  // W3C UI Events code value, e.g. "KeyA", "ArrowUp"
  std::optional<std::string> text;  // what the key types, when anything
  bool pressed = true;
  bool repeat = false;

  bool is(NamedKey k) const {
    const NamedKey* n = std::get_if<NamedKey>(&logical);
    return n && *n == k;
  }
  const std::string* character() const { return std::get_if<std::string>(&logical); }
  friend bool operator==(const Key&, const Key&) = default;
};

// Input-method composition: the preedit text with its caret (byte index), or
// the committed text.
struct ImePreedit {
  std::string text;
  std::optional<std::size_t> cursor;
  friend bool operator==(const ImePreedit&, const ImePreedit&) = default;
};
struct ImeCommit {
  std::string text;
  friend bool operator==(const ImeCommit&, const ImeCommit&) = default;
};

// The window gained or lost keyboard focus.
struct WindowFocus {
  bool focused = true;
  friend bool operator==(const WindowFocus&, const WindowFocus&) = default;
};

using Event = std::variant<PointerMoved, PointerLeft, Wheel, PointerButton, Key, ImePreedit, ImeCommit, WindowFocus>;

}  // namespace vesk_ui::event
