#include "platform/vesk_ui/launch/sdl_events.hpp"

#include <cstring>

#include "platform/vesk_ui/text/text_renderer.hpp"

namespace vesk_ui::launch {

using event::NamedKey;

namespace {
// Built by appending: GCC 12 at -O3 misreads `std::string + char` (-Wrestrict).
std::string prefixed(const char* prefix, char c) {
  std::string s(prefix);
  s.push_back(c);
  return s;
}
}  // namespace

std::optional<std::string> w3c_code(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z)
    return prefixed("Key", static_cast<char>('A' + (sc - SDL_SCANCODE_A)));
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9)
    return prefixed("Digit", static_cast<char>('1' + (sc - SDL_SCANCODE_1)));
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F9)
    return prefixed("F", static_cast<char>('1' + (sc - SDL_SCANCODE_F1)));
  if (sc == SDL_SCANCODE_F10) return "F10";
  if (sc == SDL_SCANCODE_F11) return "F11";
  if (sc == SDL_SCANCODE_F12) return "F12";
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) {
    return prefixed("Numpad", static_cast<char>('1' + (sc - SDL_SCANCODE_KP_1)));
  }
  switch (sc) {
    case SDL_SCANCODE_0: return "Digit0";
    case SDL_SCANCODE_RETURN: return "Enter";
    case SDL_SCANCODE_ESCAPE: return "Escape";
    case SDL_SCANCODE_BACKSPACE: return "Backspace";
    case SDL_SCANCODE_TAB: return "Tab";
    case SDL_SCANCODE_SPACE: return "Space";
    case SDL_SCANCODE_MINUS: return "Minus";
    case SDL_SCANCODE_EQUALS: return "Equal";
    case SDL_SCANCODE_LEFTBRACKET: return "BracketLeft";
    case SDL_SCANCODE_RIGHTBRACKET: return "BracketRight";
    case SDL_SCANCODE_BACKSLASH: return "Backslash";
    case SDL_SCANCODE_SEMICOLON: return "Semicolon";
    case SDL_SCANCODE_APOSTROPHE: return "Quote";
    case SDL_SCANCODE_GRAVE: return "Backquote";
    case SDL_SCANCODE_COMMA: return "Comma";
    case SDL_SCANCODE_PERIOD: return "Period";
    case SDL_SCANCODE_SLASH: return "Slash";
    case SDL_SCANCODE_CAPSLOCK: return "CapsLock";
    case SDL_SCANCODE_INSERT: return "Insert";
    case SDL_SCANCODE_HOME: return "Home";
    case SDL_SCANCODE_PAGEUP: return "PageUp";
    case SDL_SCANCODE_DELETE: return "Delete";
    case SDL_SCANCODE_END: return "End";
    case SDL_SCANCODE_PAGEDOWN: return "PageDown";
    case SDL_SCANCODE_RIGHT: return "ArrowRight";
    case SDL_SCANCODE_LEFT: return "ArrowLeft";
    case SDL_SCANCODE_DOWN: return "ArrowDown";
    case SDL_SCANCODE_UP: return "ArrowUp";
    case SDL_SCANCODE_KP_0: return "Numpad0";
    case SDL_SCANCODE_KP_ENTER: return "NumpadEnter";
    case SDL_SCANCODE_LCTRL: return "ControlLeft";
    case SDL_SCANCODE_RCTRL: return "ControlRight";
    case SDL_SCANCODE_LSHIFT: return "ShiftLeft";
    case SDL_SCANCODE_RSHIFT: return "ShiftRight";
    case SDL_SCANCODE_LALT: return "AltLeft";
    case SDL_SCANCODE_RALT: return "AltRight";
    case SDL_SCANCODE_LGUI: return "MetaLeft";
    case SDL_SCANCODE_RGUI: return "MetaRight";
    default: return std::nullopt;
  }
}

event::LogicalKey logical_key(SDL_Keycode k) {
  switch (k) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return NamedKey::Enter;
    case SDLK_TAB: return NamedKey::Tab;
    case SDLK_SPACE: return NamedKey::Space;
    case SDLK_BACKSPACE: return NamedKey::Backspace;
    case SDLK_DELETE: return NamedKey::Delete;
    case SDLK_ESCAPE: return NamedKey::Escape;
    case SDLK_DOWN: return NamedKey::ArrowDown;
    case SDLK_LEFT: return NamedKey::ArrowLeft;
    case SDLK_RIGHT: return NamedKey::ArrowRight;
    case SDLK_UP: return NamedKey::ArrowUp;
    case SDLK_HOME: return NamedKey::Home;
    case SDLK_END: return NamedKey::End;
    case SDLK_PAGEUP: return NamedKey::PageUp;
    case SDLK_PAGEDOWN: return NamedKey::PageDown;
    case SDLK_INSERT: return NamedKey::Insert;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return NamedKey::Shift;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return NamedKey::Control;
    case SDLK_LALT:
    case SDLK_RALT: return NamedKey::Alt;
    case SDLK_LGUI:
    case SDLK_RGUI: return NamedKey::Super;
    case SDLK_CAPSLOCK: return NamedKey::CapsLock;
    default: break;
  }
  if (k >= SDLK_F1 && k <= SDLK_F12) return static_cast<NamedKey>(static_cast<int>(NamedKey::F1) + (k - SDLK_F1));
  // Printable keys carry their code point (not scancode-masked).
  if (k >= 0x20 && k < 0x110000 && k != 0x7F && !(k & SDLK_SCANCODE_MASK) && !(k >= 0xD800 && k <= 0xDFFF)) {
    const auto cp = static_cast<std::uint32_t>(k);
    std::string s;
    if (cp < 0x80) {
      s.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      s.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      s.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      s.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      s.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return s;
  }
  return event::UnidentifiedKey{};
}

event::Modifiers modifiers_from(Uint16 mod) {
  return event::Modifiers{(mod & KMOD_SHIFT) != 0, (mod & KMOD_CTRL) != 0, (mod & KMOD_ALT) != 0,
                          (mod & KMOD_GUI) != 0};
}

std::uint32_t button_number(Uint8 b) {
  switch (b) {
    case SDL_BUTTON_LEFT: return event::button::kLeft;
    case SDL_BUTTON_RIGHT: return event::button::kRight;
    case SDL_BUTTON_MIDDLE: return event::button::kMiddle;
    default: return b >= 4 ? static_cast<std::uint32_t>(b) - 1 : 3;
  }
}

namespace {
std::string sdl_text(const char* text, std::size_t cap) {
  return text::sanitize_utf8(std::string_view(text, strnlen(text, cap)));
}
}  // namespace

std::optional<event::Event> translate(const SDL_Event& e, const SDL_Event* next, bool& consumed_next,
                                      double physical_per_window) {
  consumed_next = false;
  const double k = physical_per_window > 0.0 ? physical_per_window : 1.0;
  switch (e.type) {
    case SDL_MOUSEMOTION: return event::PointerMoved{e.motion.x * k, e.motion.y * k};
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event::PointerButton{button_number(e.button.button), e.type == SDL_MOUSEBUTTONDOWN};
    case SDL_MOUSEWHEEL: {
      float x = e.wheel.preciseX;
      float y = e.wheel.preciseY;
      if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) {
        x = -x;
        y = -y;
      }
      return event::Wheel{event::LineDelta{x, y}};
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      event::Key key;
      key.logical = logical_key(e.key.keysym.sym);
      key.code = w3c_code(e.key.keysym.scancode);
      key.pressed = e.type == SDL_KEYDOWN;
      key.repeat = e.key.repeat != 0;
      if (key.pressed && next && next->type == SDL_TEXTINPUT) {
        std::string typed = sdl_text(next->text.text, sizeof next->text.text);
        if (!typed.empty()) key.text = std::move(typed);
        consumed_next = true;
      }
      return key;
    }
    case SDL_TEXTINPUT: {
      std::string typed = sdl_text(e.text.text, sizeof e.text.text);
      if (typed.empty()) return std::nullopt;
      return event::Key{typed, std::nullopt, typed, true, false};
    }
    case SDL_TEXTEDITING: {
      std::string pre = sdl_text(e.edit.text, sizeof e.edit.text);
      // SDL gives the caret in code points; widgets take bytes.
      std::size_t bytes = 0;
      for (int cps = 0; bytes < pre.size() && cps < e.edit.start; ++cps) {
        ++bytes;
        while (bytes < pre.size() && (static_cast<unsigned char>(pre[bytes]) & 0xC0) == 0x80) ++bytes;
      }
      return event::ImePreedit{std::move(pre), bytes};
    }
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_LEAVE) return event::PointerLeft{};
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) return event::WindowFocus{true};
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) return event::WindowFocus{false};
      return std::nullopt;
    default: return std::nullopt;
  }
}

void poll_batch(std::vector<SDL_Event>& batch, std::size_t limit, const std::function<bool(SDL_Event&)>& poll) {
  batch.clear();
  SDL_Event e;
  while (batch.size() < limit || (!batch.empty() && batch.back().type == SDL_KEYDOWN)) {
    if (!poll(e)) break;
    batch.push_back(e);
  }
}

}  // namespace vesk_ui::launch
