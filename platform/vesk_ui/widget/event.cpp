#include "platform/vesk_ui/widget/event.hpp"

#include <array>

namespace vesk_ui::event {

std::string_view named_key_name(NamedKey key) {
  static constexpr std::array<std::string_view, 32> names = {
      "Enter",      "Tab",     "Space", "Backspace", "Delete", "Escape",   "ArrowDown", "ArrowLeft",
      "ArrowRight", "ArrowUp", "Home",  "End",       "PageUp", "PageDown", "Insert",    "Shift",
      "Control",    "Alt",     "Super", "CapsLock",  "F1",     "F2",       "F3",        "F4",
      "F5",         "F6",      "F7",    "F8",        "F9",     "F10",      "F11",       "F12"};
  const auto i = static_cast<std::size_t>(key);
  return i < names.size() ? names[i] : "Unidentified";
}

}  // namespace vesk_ui::event
