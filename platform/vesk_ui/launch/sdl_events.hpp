#pragma once
// SDL2 input events in the framework's terms.

#include <SDL.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/vesk_ui/widget/event.hpp"

namespace vesk_ui::launch {

// The W3C UI Events code value of a physical key ("KeyA", "Digit1", "Enter").
std::optional<std::string> w3c_code(SDL_Scancode scancode);
// The logical key: named keys by name, printable keys as their character.
event::LogicalKey logical_key(SDL_Keycode keycode);
event::Modifiers modifiers_from(Uint16 mod);
// SDL's 1 left, 2 middle, 3 right, 4 and 5 extra to 0 left, 1 right, 2 middle, 3 and up.
std::uint32_t button_number(Uint8 sdl_button);

// Translates one SDL event. A key press followed at once by the text it typed
// becomes one key with that text (`consumed_next` is set); text without a key
// (an input method's commit) becomes a character key without a code.
// `physical_per_window` converts SDL's window coordinates to physical pixels.
std::optional<event::Event> translate(const SDL_Event& e, const SDL_Event* next, bool& consumed_next,
                                      double physical_per_window);

// Replaces `batch` with the next events `poll` gives, at most `limit` of
// them, except that a batch never ends on a key press: the text the press
// typed comes right after it and is translated with it (above), so the
// batch takes events past the limit until its last one is not a key press.
void poll_batch(std::vector<SDL_Event>& batch, std::size_t limit, const std::function<bool(SDL_Event&)>& poll);

}  // namespace vesk_ui::launch
