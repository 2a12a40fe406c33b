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

// The bytes of a named key of the SSH table (Enter, Tab, Space, Backspace,
// Escape, the arrows, Home, End, Delete); none for other keys.
std::optional<std::vector<std::uint8_t>> ssh_bytes_for_named_key(vesk_ui::event::NamedKey key);
// What an SSH terminal receives for the key; empty when nothing is sent.
// With Control, a letter becomes its control byte (A = 1 … Z = 26).
std::vector<std::uint8_t> ssh_bytes_for_key(const vesk_ui::event::Key& key, bool control);
// The X11 keysym of a named key of the VNC table (Enter, Tab, Space,
// Backspace, Escape, the arrows, Delete); none for other keys (Home and End
// have no entry).
std::optional<std::uint32_t> vnc_keysym_for_named_key(vesk_ui::event::NamedKey key);
// The keysym a VNC server receives for the key (sent down then up); none
// when the key has no table entry and no text.
std::optional<std::uint32_t> vnc_keysym_for_key(const vesk_ui::event::Key& key);
// The Linux input code of a physical key (W3C code value) in the device
// table; none for codes the device does not take.
std::optional<std::uint32_t> device_key_code(std::string_view code);

}  // namespace remote::app
