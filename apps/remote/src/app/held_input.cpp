// Release tracking for the live session's pressed keys and buttons.
#include "apps/remote/src/app/held_input.hpp"

#include <algorithm>

#include "apps/remote/src/app/key_maps.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/rfb/input_map.hpp"

namespace remote::app {

void hold(std::vector<std::uint32_t>& held, std::uint32_t code) {
  if (std::find(held.begin(), held.end(), code) == held.end()) held.push_back(code);
}

bool unhold(std::vector<std::uint32_t>& held, std::uint32_t code) {
  auto at = std::find(held.begin(), held.end(), code);
  if (at == held.end()) return false;
  held.erase(at);
  return true;
}

namespace {

std::optional<std::uint32_t> device_button_code(std::uint32_t button) {
  namespace btn = vesk_ui::event::button;
  if (button == btn::kLeft) return DeviceInputEvent::kButtonLeft;
  if (button == btn::kRight) return DeviceInputEvent::kButtonRight;
  if (button == btn::kMiddle) return DeviceInputEvent::kButtonMiddle;
  return std::nullopt;
}

rfb::PointerButton vnc_button(std::uint32_t button) {
  namespace btn = vesk_ui::event::button;
  if (button == btn::kLeft) return rfb::PointerButton::Left;
  if (button == btn::kRight) return rfb::PointerButton::Right;
  if (button == btn::kMiddle) return rfb::PointerButton::Middle;
  return rfb::PointerButton::Other;
}

rfb::VncSession* live_vnc(std::optional<LiveSession>& live) {
  LiveSession::Vnc* vnc = live ? live->vnc() : nullptr;
  return vnc ? vnc->session.get() : nullptr;
}

}  // namespace

bool RemoteApp::queue_device_release(const DeviceInputEvent& event) {
  const DeviceSession* device = state_.live_session ? state_.live_session->device() : nullptr;
  // A device that is no longer connected has dropped its input state itself.
  if (!device || !device->status().is_connected()) return false;
  state_.device_commands.push_back(DeviceLinkCommand::input(event, device->id()));
  return true;
}

void RemoteApp::send_vnc_key_stroke(rfb::VncSession& vnc, std::uint32_t keysym) {
  // Key-ups that found the queue full go first, in case the queue has room now.
  std::erase_if(state_.held.vnc_keys, [&](std::uint32_t held) {
    return vnc.send_input(rfb::VncKey{false, held}).has_value();
  });
  if (!vnc.send_input(rfb::VncKey{true, keysym})) return;
  if (!vnc.send_input(rfb::VncKey{false, keysym})) hold(state_.held.vnc_keys, keysym);
}

void RemoteApp::press_vnc_modifier(rfb::VncSession& vnc, std::uint32_t keysym) {
  // Key repeat sends the press again and again; the server saw the first.
  if (std::find(state_.held.vnc_modifiers.begin(), state_.held.vnc_modifiers.end(), keysym) !=
      state_.held.vnc_modifiers.end()) {
    return;
  }
  if (vnc.send_input(rfb::VncKey{true, keysym})) state_.held.vnc_modifiers.push_back(keysym);
}

void RemoteApp::send_vnc_stroke_without_alt(rfb::VncSession& vnc, std::uint32_t keysym) {
  std::vector<std::uint32_t> lifted;
  for (std::uint32_t held : state_.held.vnc_modifiers) {
    const bool alt = held == keysym::kAltLeft || held == keysym::kAltLeft + 1;
    if (alt && vnc.send_input(rfb::VncKey{false, held})) lifted.push_back(held);
  }
  send_vnc_key_stroke(vnc, keysym);
  for (std::uint32_t held : lifted) {
    // A press the full queue refused leaves the key up, as the user will soon.
    if (!vnc.send_input(rfb::VncKey{true, held})) unhold(state_.held.vnc_modifiers, held);
  }
}

bool RemoteApp::release_held_vnc_modifier(const vesk_ui::event::Key& key) {
  if (key.pressed) return false;
  const auto keysym = vnc_modifier_keysym(key);
  if (!keysym || !unhold(state_.held.vnc_modifiers, *keysym)) return false;
  rfb::VncSession* vnc = live_vnc(state_.live_session);
  // A key-up the full queue refused is retried before the next stroke.
  if (vnc && !vnc->send_input(rfb::VncKey{false, *keysym})) hold(state_.held.vnc_keys, *keysym);
  return true;
}

bool RemoteApp::release_held_button(std::uint32_t button, double x, double y) {
  if (const auto code = device_button_code(button); code && unhold(state_.held.device_buttons, *code)) {
    queue_device_release(DeviceInputEvent::button(false, *code));
    return true;
  }
  const std::uint8_t bit = rfb::button_bit(vnc_button(button));
  if (bit == 0 || (state_.vnc_button_mask & bit) == 0) return false;
  state_.vnc_button_mask = rfb::update_button_mask(state_.vnc_button_mask, vnc_button(button), false);
  rfb::VncSession* vnc = live_vnc(state_.live_session);
  if (!vnc) return true;
  // Inside the picture the release lands under the pointer; outside it, where
  // the pointer was last seen in the picture.
  auto at = remote_input_active() ? vnc_pointer_position(x, y) : std::nullopt;
  if (!at) at = state_.held.vnc_point;
  if (at) {
    (void)vnc->send_input(rfb::VncPointer{state_.vnc_button_mask, at->first, at->second});
    state_.held.vnc_point = at;
  }
  return true;
}

bool RemoteApp::release_held_device_key(const vesk_ui::event::Key& key) {
  if (key.pressed || !key.code) return false;
  const auto code = device_key_code(*key.code);
  if (!code || !unhold(state_.held.device_keys, *code)) return false;
  queue_device_release(DeviceInputEvent::key(false, *code));
  return true;
}

void RemoteApp::release_held_input() {
  HeldInput& held = state_.held;
  rfb::VncSession* vnc = live_vnc(state_.live_session);
  if (vnc) {
    for (std::uint32_t keysym : held.vnc_keys) (void)vnc->send_input(rfb::VncKey{false, keysym});
    for (auto it = held.vnc_modifiers.rbegin(); it != held.vnc_modifiers.rend(); ++it) {
      (void)vnc->send_input(rfb::VncKey{false, *it});
    }
    if (state_.vnc_button_mask != 0 && held.vnc_point) {
      (void)vnc->send_input(rfb::VncPointer{0, held.vnc_point->first, held.vnc_point->second});
    }
    state_.vnc_button_mask = 0;
  }
  held.vnc_keys.clear();
  held.vnc_modifiers.clear();
  for (std::uint32_t code : held.device_keys) queue_device_release(DeviceInputEvent::key(false, code));
  for (std::uint32_t code : held.device_buttons) queue_device_release(DeviceInputEvent::button(false, code));
  held.device_keys.clear();
  held.device_buttons.clear();
}

void RemoteApp::release_held_input_if_inactive() {
  const bool holding = state_.vnc_button_mask != 0 || !state_.held.vnc_keys.empty() ||
                       !state_.held.vnc_modifiers.empty() || !state_.held.device_empty();
  if (holding && (state_.confirmation || !remote_input_active())) release_held_input();
}

}  // namespace remote::app
