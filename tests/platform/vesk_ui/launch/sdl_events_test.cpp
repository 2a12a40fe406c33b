#include <gtest/gtest.h>

#include <cstring>

#include "platform/vesk_ui/launch/launch.hpp"
#include "platform/vesk_ui/launch/sdl_events.hpp"

namespace {

using namespace vesk_ui;
using launch::translate;

SDL_Event key_down(SDL_Keycode sym, SDL_Scancode sc, Uint16 mod = 0) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = sym;
  e.key.keysym.scancode = sc;
  e.key.keysym.mod = mod;
  return e;
}

SDL_Event text_input(const char* s) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  std::strncpy(e.text.text, s, sizeof e.text.text - 1);
  return e;
}

TEST(SdlEvents, KeyPressTakesTheTextTypedRightAfterIt) {
  const SDL_Event down = key_down(SDLK_a, SDL_SCANCODE_A);
  const SDL_Event typed = text_input("A");
  bool consumed = false;
  auto ev = translate(down, &typed, consumed, 1.0);
  ASSERT_TRUE(ev.has_value());
  const auto& key = std::get<event::Key>(*ev);
  EXPECT_TRUE(consumed);
  EXPECT_EQ(*key.character(), "a");
  EXPECT_EQ(key.code, "KeyA");
  EXPECT_EQ(key.text, "A");
  EXPECT_TRUE(key.pressed);

  // Named keys carry their name and code; a following non-text event is left alone.
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  ev = translate(key_down(SDLK_RETURN, SDL_SCANCODE_RETURN), &motion, consumed, 1.0);
  EXPECT_FALSE(consumed);
  EXPECT_TRUE(std::get<event::Key>(*ev).is(event::NamedKey::Enter));
  EXPECT_EQ(std::get<event::Key>(*ev).code, "Enter");
  EXPECT_FALSE(std::get<event::Key>(*ev).text.has_value());

  SDL_Event up = key_down(SDLK_a, SDL_SCANCODE_A);
  up.type = SDL_KEYUP;
  ev = translate(up, &typed, consumed, 1.0);
  EXPECT_FALSE(consumed);  // a release never takes text
  EXPECT_FALSE(std::get<event::Key>(*ev).pressed);
}

TEST(SdlEvents, TextWithoutAKeyIsACharacterKeyWithoutACode) {
  bool consumed = false;
  const SDL_Event commit = text_input("\xE4\xBD\xA0\xE5\xA5\xBD");
  auto ev = translate(commit, nullptr, consumed, 1.0);
  const auto& key = std::get<event::Key>(*ev);
  EXPECT_EQ(*key.character(), "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_EQ(key.text, "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_FALSE(key.code.has_value());
  // Broken bytes from the platform are repaired.
  ev = translate(text_input("a\xFF"), nullptr, consumed, 1.0);
  EXPECT_EQ(std::get<event::Key>(*ev).text, "a\xEF\xBF\xBD");

  SDL_Event edit{};
  edit.type = SDL_TEXTEDITING;
  std::strcpy(edit.edit.text, "\xC3\xA9t\xC3\xA9");
  edit.edit.start = 2;  // code points
  ev = translate(edit, nullptr, consumed, 1.0);
  EXPECT_EQ(std::get<event::ImePreedit>(*ev), (event::ImePreedit{"\xC3\xA9t\xC3\xA9", 3}));
}

TEST(SdlEvents, PointerAndWheel) {
  bool consumed = false;
  SDL_Event m{};
  m.type = SDL_MOUSEMOTION;
  m.motion.x = 100;
  m.motion.y = 50;
  EXPECT_EQ(std::get<event::PointerMoved>(*translate(m, nullptr, consumed, 2.0)), (event::PointerMoved{200, 100}));
  struct Case {
    Uint8 sdl;
    std::uint32_t ours;
  } buttons[] = {
      {SDL_BUTTON_LEFT, 0}, {SDL_BUTTON_RIGHT, 1}, {SDL_BUTTON_MIDDLE, 2}, {SDL_BUTTON_X1, 3}, {SDL_BUTTON_X2, 4}};
  for (const Case& c : buttons) {
    SDL_Event b{};
    b.type = SDL_MOUSEBUTTONUP;
    b.button.button = c.sdl;
    EXPECT_EQ(std::get<event::PointerButton>(*translate(b, nullptr, consumed, 1.0)),
              (event::PointerButton{c.ours, false}));
  }
  SDL_Event w{};
  w.type = SDL_MOUSEWHEEL;
  w.wheel.preciseY = 1.0f;
  w.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
  const auto wheel = std::get<event::Wheel>(*translate(w, nullptr, consumed, 1.0));
  EXPECT_EQ(std::get<event::LineDelta>(wheel.delta).y, -1.0f);
}

TEST(SdlEvents, CodesAndModifiers) {
  struct Case {
    SDL_Scancode sc;
    const char* code;
  } cases[] = {{SDL_SCANCODE_Z, "KeyZ"},        {SDL_SCANCODE_0, "Digit0"},
               {SDL_SCANCODE_9, "Digit9"},      {SDL_SCANCODE_LCTRL, "ControlLeft"},
               {SDL_SCANCODE_RALT, "AltRight"}, {SDL_SCANCODE_UP, "ArrowUp"},
               {SDL_SCANCODE_F12, "F12"},       {SDL_SCANCODE_SPACE, "Space"}};
  for (const Case& c : cases) EXPECT_EQ(launch::w3c_code(c.sc), c.code);
  EXPECT_FALSE(launch::w3c_code(SDL_SCANCODE_UNKNOWN).has_value());
  EXPECT_EQ(launch::modifiers_from(KMOD_LCTRL | KMOD_RSHIFT), (event::Modifiers{true, true, false, false}));
  EXPECT_EQ(std::get<std::string>(launch::logical_key(0xE9)), "\xC3\xA9");
  EXPECT_TRUE(std::holds_alternative<event::UnidentifiedKey>(launch::logical_key(SDLK_PRINTSCREEN)));
}

TEST(Launch, SceneWordAndBuilders) {
  EXPECT_EQ(launch::scene_word({}), std::nullopt);
  EXPECT_EQ(launch::scene_word({"--verbose", "narrow", "form"}), "narrow");
  launch::LaunchDescriptor d;
  launch::App app;
  EXPECT_FALSE(launch::build_app(d, {}, app).has_value());  // nothing to build
  bool registered = false;
  std::optional<std::string> seen;
  d.register_actions = [&](launch::App&) { registered = true; };
  d.build_for_scene = [&](const launch::LaunchContext& c) -> std::expected<launch::AppBox, std::string> {
    EXPECT_TRUE(registered);  // registration comes before the application exists
    seen = c.scene;
    return std::make_unique<widget::Widget>();
  };
  EXPECT_TRUE(launch::build_app(d, launch::LaunchContext{"form", "x"}, app).has_value());
  EXPECT_EQ(seen, "form");
  d.build_for_scene = [](const launch::LaunchContext&) -> std::expected<launch::AppBox, std::string> {
    return std::unexpected(std::string("no"));
  };
  EXPECT_EQ(launch::build_app(d, {}, app).error(), "the application could not be built: no");
}

}  // namespace
