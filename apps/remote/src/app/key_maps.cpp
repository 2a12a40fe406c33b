#include "apps/remote/src/app/key_maps.hpp"

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "apps/remote/src/rfb/input_map.hpp"

namespace remote::app {

using vesk_ui::event::NamedKey;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes csi(std::string_view tail) {
  // Built byte by byte: GCC 12 at -O3 warns falsely on a range insert here.
  Bytes out;
  out.reserve(2 + tail.size());
  out.push_back(0x1B);
  out.push_back('[');
  for (char c : tail) out.push_back(static_cast<std::uint8_t>(c));
  return out;
}
Bytes ss3(char final) { return {0x1B, 'O', static_cast<std::uint8_t>(final)}; }

// The cursor keys' final byte: CSI form normally, ESC O form under DECCKM.
Bytes cursor_key(char final, bool application_cursor) {
  return application_cursor ? ss3(final) : csi(std::string(1, final));
}

bool ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool ascii_equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<Bytes> ssh_bytes_for_named_key(NamedKey key, bool application_cursor, bool shift) {
  switch (key) {
    case NamedKey::Enter: return Bytes{0x0D};
    case NamedKey::Tab: return shift ? csi("Z") : Bytes{0x09};
    case NamedKey::Space: return Bytes{0x20};
    case NamedKey::Backspace: return Bytes{0x7F};
    case NamedKey::Escape: return Bytes{0x1B};
    case NamedKey::ArrowUp: return cursor_key('A', application_cursor);
    case NamedKey::ArrowDown: return cursor_key('B', application_cursor);
    case NamedKey::ArrowRight: return cursor_key('C', application_cursor);
    case NamedKey::ArrowLeft: return cursor_key('D', application_cursor);
    case NamedKey::Home: return cursor_key('H', application_cursor);
    case NamedKey::End: return cursor_key('F', application_cursor);
    case NamedKey::Insert: return csi("2~");
    case NamedKey::Delete: return csi("3~");
    case NamedKey::PageUp: return csi("5~");
    case NamedKey::PageDown: return csi("6~");
    case NamedKey::F1: return ss3('P');
    case NamedKey::F2: return ss3('Q');
    case NamedKey::F3: return ss3('R');
    case NamedKey::F4: return ss3('S');
    case NamedKey::F5: return csi("15~");
    case NamedKey::F6: return csi("17~");
    case NamedKey::F7: return csi("18~");
    case NamedKey::F8: return csi("19~");
    case NamedKey::F9: return csi("20~");
    case NamedKey::F10: return csi("21~");
    case NamedKey::F11: return csi("23~");
    case NamedKey::F12: return csi("24~");
    default: return std::nullopt;
  }
}

std::vector<std::uint8_t> ssh_bytes_for_key(const vesk_ui::event::Key& key, const vesk_ui::event::Modifiers& modifiers,
                                            bool application_cursor) {
  const std::string* character = key.character();
  const NamedKey* named = std::get_if<NamedKey>(&key.logical);
  std::optional<Bytes> table =
      named ? ssh_bytes_for_named_key(*named, application_cursor, modifiers.shift) : std::nullopt;
  Bytes bytes;
  if (table) {
    bytes = std::move(*table);
  } else if (modifiers.control && character && !character->empty() && ascii_letter((*character)[0])) {
    bytes = {static_cast<std::uint8_t>(((*character)[0] | 0x20) - 'a' + 1)};
  } else if (const std::string* typed = key.text ? &*key.text : character) {
    bytes.assign(typed->begin(), typed->end());
    if (composed_with_alt(key, modifiers)) return bytes;  // not Meta
  }
  if (modifiers.alt && !bytes.empty()) bytes.insert(bytes.begin(), 0x1B);
  return bytes;
}

bool composed_with_alt(const vesk_ui::event::Key& key, const vesk_ui::event::Modifiers& modifiers) {
  const std::string* character = key.character();
  return modifiers.alt && key.text && character && !ascii_equal_ignoring_case(*key.text, *character);
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

std::optional<std::uint32_t> vnc_keysym_for_key(const vesk_ui::event::Key& key, bool control) {
  if (const NamedKey* named = std::get_if<NamedKey>(&key.logical)) {
    if (auto keysym = vnc_keysym_for_named_key(*named)) return keysym;
  }
  if (key.text) return rfb::keysym_for_text(*key.text);
  const std::string* character = key.character();
  if (control && character) return rfb::keysym_for_text(*character);
  return std::nullopt;
}

std::optional<std::uint32_t> vnc_modifier_keysym(const vesk_ui::event::Key& key) {
  const NamedKey* named = std::get_if<NamedKey>(&key.logical);
  if (!named) return std::nullopt;
  const bool right = key.code && key.code->ends_with("Right");
  std::uint32_t left_keysym = 0;
  switch (*named) {
    case NamedKey::Shift: left_keysym = keysym::kShiftLeft; break;
    case NamedKey::Control: left_keysym = keysym::kControlLeft; break;
    case NamedKey::Alt: left_keysym = keysym::kAltLeft; break;
    case NamedKey::Super: left_keysym = keysym::kSuperLeft; break;
    default: return std::nullopt;
  }
  return right ? left_keysym + 1 : left_keysym;
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
