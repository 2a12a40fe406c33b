#include "apps/remote/src/app/key_maps.hpp"

#include <array>
#include <string>
#include <utility>

#include "apps/remote/src/rfb/input_map.hpp"

namespace remote::app {

using vesk_ui::event::NamedKey;

std::optional<std::vector<std::uint8_t>> ssh_bytes_for_named_key(NamedKey key) {
  switch (key) {
    case NamedKey::Enter: return std::vector<std::uint8_t>{0x0D};
    case NamedKey::Tab: return std::vector<std::uint8_t>{0x09};
    case NamedKey::Space: return std::vector<std::uint8_t>{0x20};
    case NamedKey::Backspace: return std::vector<std::uint8_t>{0x7F};
    case NamedKey::Escape: return std::vector<std::uint8_t>{0x1B};
    case NamedKey::ArrowUp: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x41};
    case NamedKey::ArrowDown: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x42};
    case NamedKey::ArrowRight: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x43};
    case NamedKey::ArrowLeft: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x44};
    case NamedKey::Home: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x48};
    case NamedKey::End: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x46};
    case NamedKey::Delete: return std::vector<std::uint8_t>{0x1B, 0x5B, 0x33, 0x7E};
    default: return std::nullopt;
  }
}

std::vector<std::uint8_t> ssh_bytes_for_key(const vesk_ui::event::Key& key, bool control) {
  if (const NamedKey* named = std::get_if<NamedKey>(&key.logical)) {
    if (auto bytes = ssh_bytes_for_named_key(*named)) return *bytes;
  }
  const std::string* character = key.character();
  if (control && character && !character->empty()) {
    const char first = (*character)[0];
    if (first >= 'a' && first <= 'z') return {static_cast<std::uint8_t>(first - 'a' + 1)};
    if (first >= 'A' && first <= 'Z') return {static_cast<std::uint8_t>(first - 'A' + 1)};
  }
  const std::string* typed = key.text ? &*key.text : character;
  if (!typed) return {};
  return std::vector<std::uint8_t>(typed->begin(), typed->end());
}

std::optional<std::uint32_t> vnc_keysym_for_named_key(NamedKey key) {
  switch (key) {
    case NamedKey::Enter: return 0xFF0D;
    case NamedKey::Tab: return 0xFF09;
    case NamedKey::Space: return 0x0020;
    case NamedKey::Backspace: return 0xFF08;
    case NamedKey::Escape: return 0xFF1B;
    case NamedKey::ArrowLeft: return 0xFF51;
    case NamedKey::ArrowUp: return 0xFF52;
    case NamedKey::ArrowRight: return 0xFF53;
    case NamedKey::ArrowDown: return 0xFF54;
    case NamedKey::Delete: return 0xFFFF;
    default: return std::nullopt;
  }
}

std::optional<std::uint32_t> vnc_keysym_for_key(const vesk_ui::event::Key& key) {
  if (const NamedKey* named = std::get_if<NamedKey>(&key.logical)) {
    if (auto keysym = vnc_keysym_for_named_key(*named)) return keysym;
  }
  if (!key.text) return std::nullopt;
  return rfb::keysym_for_text(*key.text);
}

std::optional<std::uint32_t> device_key_code(std::string_view code) {
  // KEY_A … KEY_Z in letter order.
  static constexpr std::array<std::uint32_t, 26> kLetters = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                                             49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
  if (code.size() == 4 && code.starts_with("Key") && code[3] >= 'A' && code[3] <= 'Z') return kLetters[code[3] - 'A'];
  if (code.size() == 6 && code.starts_with("Digit") && code[5] >= '0' && code[5] <= '9') {
    return code[5] == '0' ? 11u : static_cast<std::uint32_t>(code[5] - '1' + 2);
  }
  static constexpr std::array<std::pair<std::string_view, std::uint32_t>, 15> kNamed = {{
      {"Escape", 1},
      {"Backspace", 14},
      {"Tab", 15},
      {"Enter", 28},
      {"ControlLeft", 29},
      {"ControlRight", 97},
      {"ShiftLeft", 42},
      {"ShiftRight", 54},
      {"AltLeft", 56},
      {"AltRight", 100},
      {"Space", 57},
      {"ArrowUp", 103},
      {"ArrowLeft", 105},
      {"ArrowRight", 106},
      {"ArrowDown", 108},
  }};
  for (const auto& [name, linux_code] : kNamed) {
    if (name == code) return linux_code;
  }
  return std::nullopt;
}

}  // namespace remote::app
