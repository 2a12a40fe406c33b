// Pointer, wheel and keyboard input: hit testing of the last frame's regions,
// tooltips, focus, list scrolling, shortcuts, and forwarding to the remote
// side of a connected session while its screen is shown.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "apps/remote/src/app/key_maps.hpp"
#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/pointer_map.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/rfb/input_map.hpp"

namespace remote::app {

using vesk_ui::event::NamedKey;

namespace {

// One wheel line scrolls the list this far.
constexpr double kWheelLine = 48.0;

std::optional<vesk_ui::widget::tooltip::TooltipRequest> tooltip_for(const HitRegion& region, bool navigation_open,
                                                                    const std::vector<SavedConnection>& connections) {
  std::string text;
  switch (region.message.tag) {
    case UiMessage::Tag::ToggleNavigation: text = navigation_open ? "Close navigation" : "Open navigation"; break;
    case UiMessage::Tag::NewConnection: text = "Add connection (Ctrl+N)"; break;
    case UiMessage::Tag::ShowConnections: text = "Connections"; break;
    case UiMessage::Tag::ToggleFavorite: {
      const SavedConnection* c = find_connection(connections, region.message.id().value_or(Uuid{}));
      if (!c) return std::nullopt;
      text = c->favorite ? "Remove from favourites" : "Add to favourites";
      break;
    }
    default: return std::nullopt;
  }
  return vesk_ui::widget::tooltip::TooltipRequest{std::move(text), region.rect};
}

const HitRegion* topmost_region(const std::vector<HitRegion>& regions, double x, double y) {
  for (auto it = regions.rbegin(); it != regions.rend(); ++it) {
    if (it->rect.contains(x, y)) return &*it;
  }
  return nullptr;
}

}  // namespace

bool RemoteApp::live_device_connected() const {
  const DeviceSession* device = state_.live_session ? state_.live_session->device() : nullptr;
  return device && device->status().is_connected();
}

void RemoteApp::send_message(const UiMessage& message, vesk_ui::widget::EventContext& context) {
  if (context.document) {
    apply_message(message, *context.document);
  } else {
    apply_view_message(message);
  }
}

void RemoteApp::handle_event(const vesk_ui::event::Event& event, vesk_ui::widget::EventContext& context) {
  if (const auto* moved = std::get_if<vesk_ui::event::PointerMoved>(&event)) {
    on_pointer_moved(*moved, context);
    return;
  }
  if (state_.tooltip.dismiss()) state_.redraw = true;
  if (std::holds_alternative<vesk_ui::event::PointerLeft>(event)) {
    // Nothing stays hovered once the pointer is outside the window.
    state_.pointer_x = state_.pointer_y = -std::numeric_limits<double>::infinity();
    state_.redraw = true;
    return;
  }
  if (const auto* wheel = std::get_if<vesk_ui::event::Wheel>(&event)) {
    on_wheel(*wheel, context);
  } else if (const auto* button = std::get_if<vesk_ui::event::PointerButton>(&event)) {
    on_pointer_button(*button, context);
  } else if (const auto* key = std::get_if<vesk_ui::event::Key>(&event)) {
    on_key(*key, context);
  } else if (const auto* focus = std::get_if<vesk_ui::event::WindowFocus>(&event)) {
    // Keys released while another window has the focus never reach us.
    if (!focus->focused) release_held_input();
  } else if (std::holds_alternative<vesk_ui::event::ImePreedit>(event) ||
             std::holds_alternative<vesk_ui::event::ImeCommit>(event)) {
    // Composed text belongs to the focused input like typed text does.
    if (state_.confirmation) return;
    if (route_input_event(event, context)) context.handled = true;
  }
}

void RemoteApp::on_pointer_moved(const vesk_ui::event::PointerMoved& moved, vesk_ui::widget::EventContext& context) {
  const double scale = context.scale > 0 ? context.scale : 1.0;
  const double x = moved.x / scale;
  const double y = moved.y / scale;
  if (x != state_.pointer_x || y != state_.pointer_y) {
    state_.pointer_x = x;
    state_.pointer_y = y;
    state_.redraw = true;
    if (!state_.confirmation) {
      send_vnc_pointer(x, y);
      if (live_device_connected()) {
        if (auto mapped = device_pointer_position(x, y)) {
          forward_device_input(DeviceInputEvent::pointer_move(mapped->first, mapped->second));
        }
      }
    }
  }
  std::optional<vesk_ui::widget::tooltip::TooltipRequest> request;
  // Under a dialog or in fullscreen no tooltip is painted, so none is asked
  // for: a pending one would keep frames coming for nothing.
  if (tooltips_painted()) {
    if (const HitRegion* region = topmost_region(state_.hit_regions, x, y)) {
      request = tooltip_for(*region, navigation_open(), state_.connections);
    }
  }
  if (state_.tooltip.on_pointer(std::move(request), context.now)) state_.redraw = true;
  if (state_.focused_input) {
    const bool handled = context.handled;
    route_input_event(vesk_ui::event::Event{moved}, context);
    context.handled = handled;  // a move is never consumed
  }
}

void RemoteApp::on_wheel(const vesk_ui::event::Wheel& wheel, vesk_ui::widget::EventContext& context) {
  if (state_.confirmation || state_.screen.kind != Screen::Kind::ConnectionList) return;
  const double scale = context.scale > 0 ? context.scale : 1.0;
  double delta = 0;
  if (const auto* pixels = std::get_if<vesk_ui::event::PixelDelta>(&wheel.delta)) {
    delta = -pixels->y / scale;
  } else if (const auto* lines = std::get_if<vesk_ui::event::LineDelta>(&wheel.delta)) {
    delta = static_cast<double>(lines->y) * -kWheelLine;
  }
  if (!std::isfinite(delta)) delta = 0;
  const double next = std::clamp(state_.list_scroll + delta, 0.0, std::max(state_.list_scroll_max, 0.0));
  if (std::abs(next - state_.list_scroll) > std::numeric_limits<double>::epsilon()) {
    state_.list_scroll = next;
    state_.redraw = true;
  }
  context.handled = true;
}

void RemoteApp::on_pointer_button(const vesk_ui::event::PointerButton& button, vesk_ui::widget::EventContext& context) {
  const double x = state_.pointer_x;
  const double y = state_.pointer_y;
  namespace btn = vesk_ui::event::button;
  if (!button.pressed && release_held_button(button.button, x, y)) {
    context.handled = true;
    return;
  }
  if (!state_.confirmation) {
    if (live_device_connected() && device_pointer_position(x, y)) {
      std::optional<std::uint32_t> code;
      if (button.button == btn::kLeft) code = DeviceInputEvent::kButtonLeft;
      if (button.button == btn::kRight) code = DeviceInputEvent::kButtonRight;
      if (button.button == btn::kMiddle) code = DeviceInputEvent::kButtonMiddle;
      if (code) {
        if (button.button == btn::kLeft && button.pressed) forward_device_input(DeviceInputEvent::activate());
        if (forward_device_input(DeviceInputEvent::button(button.pressed, *code)) && button.pressed) {
          hold(state_.held.device_buttons, *code);
        }
      }
      context.handled = true;
      return;
    }
    if (vnc_pointer_position(x, y)) {
      const rfb::PointerButton which = button.button == btn::kLeft     ? rfb::PointerButton::Left
                                       : button.button == btn::kRight  ? rfb::PointerButton::Right
                                       : button.button == btn::kMiddle ? rfb::PointerButton::Middle
                                                                       : rfb::PointerButton::Other;
      state_.vnc_button_mask = rfb::update_button_mask(state_.vnc_button_mask, which, button.pressed);
      send_vnc_pointer(x, y);
      context.handled = true;
      return;
    }
  }
  if (!button.pressed) {
    if (route_input_event(vesk_ui::event::Event{button}, context)) context.handled = true;
    return;
  }
  if (button.button != btn::kLeft) return;
  const HitRegion* region = topmost_region(state_.hit_regions, x, y);
  if (state_.confirmation) {
    if (region &&
        (region->message.tag == UiMessage::Tag::Confirm || region->message.tag == UiMessage::Tag::CancelConfirmation)) {
      send_message(region->message, context);
    }
    context.handled = true;
    return;
  }
  if (state_.narrow && state_.flap.open == FlapOpen::Open) {
    const Rect strip{bounds_.x0, bounds_.y0, bounds_.x0 + kRailWidth, bounds_.y1};
    if (!strip.contains(x, y)) {
      state_.flap.open = FlapOpen::Closed;
      state_.redraw = true;
      context.handled = true;
      return;
    }
  }
  if (!region) {
    blur_input();
    return;
  }
  if (region->message.tag == UiMessage::Tag::FocusField) {
    if (auto field = region->message.field()) focus_input(*field);
    route_input_event(vesk_ui::event::Event{button}, context);
    state_.redraw = true;
    context.handled = true;
    return;
  }
  const UiMessage message = region->message;  // the reducer may rebuild nothing, but keep a copy
  send_message(message, context);
  context.handled = true;
}

bool RemoteApp::forward_session_key(const vesk_ui::event::Key& key, const vesk_ui::event::Modifiers& modifiers) {
  if (!state_.live_session || !remote_input_active()) return false;
  if (LiveSession::Ssh* ssh = state_.live_session->ssh(); ssh && ssh->session) {
    if (!ssh->session->status().is_connected()) return false;
    std::vector<std::uint8_t> bytes =
        ssh_bytes_for_key(key, modifiers, ssh->session->terminal().application_cursor_keys());
    if (bytes.empty()) return false;
    (void)ssh->session->send_input(std::move(bytes));  // a full queue drops the key
    state_.redraw = true;
    return true;
  }
  if (rfb::VncSession* vnc = vnc_session()) {
    // Modifiers go as the user holds them, so the server types what was
    // typed instead of faking Shift (or latching Caps Lock) itself.
    if (auto modifier = vnc_modifier_keysym(key)) {
      press_vnc_modifier(*vnc, *modifier);
      return true;
    }
    auto keysym = vnc_keysym_for_key(key, modifiers.control);
    if (!keysym) return false;
    if (composed_with_alt(key, modifiers)) {
      send_vnc_stroke_without_alt(*vnc, *keysym);
    } else {
      send_vnc_key_stroke(*vnc, *keysym);
    }
    state_.redraw = true;
    return true;
  }
  return false;
}

void RemoteApp::escape_chain(vesk_ui::widget::EventContext& context) {
  context.handled = true;
  if (state_.narrow && state_.flap.open == FlapOpen::Open) {
    state_.flap.open = FlapOpen::Closed;
    state_.redraw = true;
    return;
  }
  switch (state_.screen.normalized().kind) {
    case Screen::Normalized::Kind::List:
      if (state_.focused_input == InputField::Search) {
        state_.search.clear();
        blur_input();
        sync_inputs();
      }
      break;
    case Screen::Normalized::Kind::Form: send_message(UiMessage::cancel_form(), context); break;
    case Screen::Normalized::Kind::Session:
      if (state_.fullscreen) {
        state_.fullscreen = false;
        state_.redraw = true;
      } else {
        send_message(UiMessage::cancel_form(), context);
      }
      break;
  }
}

void RemoteApp::on_key(const vesk_ui::event::Key& key, vesk_ui::widget::EventContext& context) {
  const vesk_ui::event::Event as_event{key};
  const bool escape = key.is(NamedKey::Escape);
  if (release_held_device_key(key) || release_held_vnc_modifier(key)) {
    context.handled = true;
    return;
  }
  // Device capture: a connected device takes every physical key while its screen is shown.
  if (key.code && !state_.confirmation && live_device_connected() && remote_input_active() &&
      !(escape && state_.fullscreen)) {
    if (auto code = device_key_code(*key.code)) {
      if (forward_device_input(DeviceInputEvent::key(key.pressed, *code)) && key.pressed) {
        hold(state_.held.device_keys, *code);
      }
      context.handled = true;
    }
    return;
  }
  if (!key.pressed) return;

  if (state_.confirmation) {
    if (key.is(NamedKey::Enter)) {
      send_message(UiMessage::confirm(), context);
      context.handled = true;
    } else if (escape) {
      send_message(UiMessage::cancel_confirmation(), context);
      context.handled = true;
    } else if (route_input_event(as_event, context)) {
      context.handled = true;
    }
    return;
  }

  const Screen::Normalized::Kind screen = state_.screen.normalized().kind;
  const std::string* character = key.character();
  if ((context.modifiers.control || context.modifiers.super) && character && character->size() == 1) {
    const char shortcut = static_cast<char>(std::tolower(static_cast<unsigned char>((*character)[0])));
    if (shortcut == 'n') {
      send_message(UiMessage::new_connection(), context);
      context.handled = true;
      return;
    }
    if (shortcut == 'f') {
      send_message(UiMessage::focus_field(InputField::Search), context);
      if (screen != Screen::Normalized::Kind::List) {
        send_message(UiMessage::show_connections(), context);
        send_message(UiMessage::focus_field(InputField::Search), context);
      }
      context.handled = true;
      return;
    }
    if (shortcut == 'w' && screen == Screen::Normalized::Kind::Session) {
      send_message(UiMessage::disconnect(), context);
      context.handled = true;
      return;
    }
  }

  if (escape && state_.fullscreen && screen == Screen::Normalized::Kind::Session) {
    escape_chain(context);
    return;
  }

  if (screen == Screen::Normalized::Kind::Session && forward_session_key(key, context.modifiers)) {
    context.handled = true;
    return;
  }

  if (character && key.text && *key.text == "/" && screen == Screen::Normalized::Kind::List && !state_.focused_input) {
    focus_input(InputField::Search);
    context.handled = true;
    return;
  }

  if (const auto* named = std::get_if<NamedKey>(&key.logical)) {
    switch (*named) {
      case NamedKey::Enter:
        if (screen == Screen::Normalized::Kind::List && state_.selection) {
          send_message(UiMessage::request_connect(*state_.selection), context);
        } else if (screen == Screen::Normalized::Kind::Form) {
          send_message(UiMessage::save_form(), context);
        }
        context.handled = true;
        return;
      case NamedKey::Tab:
        if (screen == Screen::Normalized::Kind::Form) {
          const std::vector<InputField> order = form_focus_order(state_.form.kind);
          InputField next = order.front();
          if (state_.focused_input) {
            auto at = std::find(order.begin(), order.end(), *state_.focused_input);
            next = at == order.end() ? order[1] : (std::next(at) == order.end() ? order.front() : *std::next(at));
          }
          focus_input(next);
          state_.redraw = true;
          context.handled = true;
          return;
        }
        break;
      case NamedKey::ArrowDown:
      case NamedKey::ArrowUp:
        if (screen == Screen::Normalized::Kind::List && !state_.focused_input) {
          const std::vector<Uuid> rows = collect_connection_ids(list_results().view(state_.connections));
          context.handled = true;
          if (rows.empty()) return;
          std::size_t current = 0;
          if (state_.selection) {
            auto at = std::find(rows.begin(), rows.end(), *state_.selection);
            if (at != rows.end()) current = static_cast<std::size_t>(at - rows.begin());
          }
          const std::size_t row =
              *named == NamedKey::ArrowDown ? std::min(current + 1, rows.size() - 1) : (current == 0 ? 0 : current - 1);
          state_.selection = rows[row];
          scroll_selection_into_view(row, rows.size());
          state_.redraw = true;
          return;
        }
        break;
      case NamedKey::Escape: escape_chain(context); return;
      default: break;
    }
  }
  if (route_input_event(as_event, context)) context.handled = true;
}

// ---- pointer mapping ----

std::optional<std::pair<std::uint16_t, std::uint16_t>> RemoteApp::vnc_pointer_position(double x, double y) const {
  if (!state_.live_session || !remote_input_active()) return std::nullopt;
  const LiveSession::Vnc* vnc = state_.live_session->vnc();
  if (!vnc || !vnc->session || vnc->session->status().kind != rfb::SessionStatus::Kind::Connected) {
    return std::nullopt;
  }
  auto size = vnc->session->frame_size();
  if (!size || !state_.session_surface) return std::nullopt;
  // VNC positions are whole pixels.
  const auto p = map_to_remote(*state_.session_surface, x, y, size->width, size->height);
  if (!p) return std::nullopt;
  return std::pair{static_cast<std::uint16_t>(p->x), static_cast<std::uint16_t>(p->y)};
}

void RemoteApp::send_vnc_pointer(double x, double y) {
  rfb::VncSession* vnc = vnc_session();
  if (!vnc) return;
  auto p = vnc_pointer_position(x, y);
  if (!p) return;
  (void)vnc->send_input(rfb::VncPointer{state_.vnc_button_mask, p->first, p->second});  // busy: dropped
  state_.held.vnc_point = p;
}

std::optional<std::pair<double, double>> RemoteApp::device_pointer_position(double x, double y) const {
  if (!state_.live_session || !remote_input_active()) return std::nullopt;
  const DeviceSession* device = state_.live_session->device();
  if (!device || !device->status().is_connected() || !device->remote_size()) return std::nullopt;
  if (!state_.session_surface) return std::nullopt;
  const auto p =
      map_to_remote(*state_.session_surface, x, y, device->remote_size()->width, device->remote_size()->height);
  if (!p) return std::nullopt;
  return std::pair{p->x, p->y};
}

}  // namespace remote::app
