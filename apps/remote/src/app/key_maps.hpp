#pragma once
// How keys reach the remote side: terminal bytes for SSH, keysyms for VNC,
// Linux input codes for a Vesk device. All three tables live here; the
// protocol modules keep only their wire encoding.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/vesk_ui/widget/event.hpp"

namespace remote::app {

// The bytes of a named key of the SSH table, as xterm sends them: Enter,
// Tab (back-tab ESC [ Z with Shift), Space, Backspace, Escape, the arrows,
// Home, End, Insert, Delete, PageUp, PageDown and F1 to F12; none for other
// keys. With `application_cursor` (DECCKM set by the remote program) the
// arrows, Home and End send their ESC O forms.
std::optional<std::vector<std::uint8_t>> ssh_bytes_for_named_key(vesk_ui::event::NamedKey key, bool application_cursor,
                                                                 bool shift);
// What an SSH terminal receives for the key; empty when nothing is sent.
// With Control, a letter becomes its control byte (A = 1 … Z = 26); with Alt
// the bytes are preceded by ESC, unless Alt changed what the key types (AltGr
// composing "@" or "€" on many layouts).
std::vector<std::uint8_t> ssh_bytes_for_key(const vesk_ui::event::Key& key, const vesk_ui::event::Modifiers& modifiers,
                                            bool application_cursor);
// Alt held and the key typed something other than its own character (in
// either case): AltGr composing a character ("@", "€") on many layouts,
// which the remote side must get as that character, not as Alt with it.
bool composed_with_alt(const vesk_ui::event::Key& key, const vesk_ui::event::Modifiers& modifiers);
// The X11 keysym of a named key of the VNC table (Enter, Tab, Space,
// Backspace, Escape, the arrows, Delete); none for other keys (Home and End
// have no entry).
std::optional<std::uint32_t> vnc_keysym_for_named_key(vesk_ui::event::NamedKey key);
// The keysym a VNC server receives for the key (sent down then up); none
// when the key has no table entry and no text. With Control held a key types
// no text, so a character key sends its character: the server, holding
// Control as well, makes Ctrl+C of it.
std::optional<std::uint32_t> vnc_keysym_for_key(const vesk_ui::event::Key& key, bool control);
// X11 keysyms of the left modifier keys; each right-hand one is one above.
namespace keysym {
inline constexpr std::uint32_t kShiftLeft = 0xFFE1;
inline constexpr std::uint32_t kControlLeft = 0xFFE3;
inline constexpr std::uint32_t kAltLeft = 0xFFE9;
inline constexpr std::uint32_t kSuperLeft = 0xFFEB;
}  // namespace keysym

// The keysym of a modifier key, left or right by its physical code (left
// when the code is unknown): Shift_L 0xFFE1, Shift_R 0xFFE2, Control_L
// 0xFFE3, Control_R 0xFFE4, Alt_L 0xFFE9, Alt_R 0xFFEA, Super_L 0xFFEB,
// Super_R 0xFFEC. None for every other key. Forwarded as pressed and
// released, so the server never has to fake a modifier.
std::optional<std::uint32_t> vnc_modifier_keysym(const vesk_ui::event::Key& key);
// The Linux input code of a physical key (W3C code value) in the device
// table; none for codes the device does not take.
std::optional<std::uint32_t> device_key_code(std::string_view code);

}  // namespace remote::app
