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

// What the loop dispatches for a stream of SDL events taken in batches of
// at most `limit` (past it only as poll_batch allows), each translated with
// its next event within the batch, as the launch loop does.
std::vector<event::Event> dispatched(const std::vector<SDL_Event>& stream, std::size_t limit) {
  std::size_t read = 0;
  auto poll = [&](SDL_Event& e) {
    if (read == stream.size()) return false;
    e = stream[read++];
    return true;
  };
  std::vector<event::Event> out;
  std::vector<SDL_Event> batch;
  while (true) {
    launch::poll_batch(batch, limit, poll);
    if (batch.empty()) break;
    for (std::size_t i = 0; i < batch.size(); ++i) {
      bool consumed = false;
      const SDL_Event* next = i + 1 < batch.size() ? &batch[i + 1] : nullptr;
      if (auto ev = translate(batch[i], next, consumed, 1.0)) out.push_back(*ev);
      if (consumed) ++i;
    }
  }
  return out;
}

TEST(SdlEvents, AKeyPressAndItsTextStayTogetherWhereverTheBatchEnds) {
  SDL_Event up = key_down(SDLK_a, SDL_SCANCODE_A, KMOD_LSHIFT);
  up.type = SDL_KEYUP;
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  const std::vector<SDL_Event> stream = {
      key_down(SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_LSHIFT),
      key_down(SDLK_a, SDL_SCANCODE_A, KMOD_LSHIFT),
      text_input("A"),
      up,
      key_down(SDLK_LEFT, SDL_SCANCODE_LEFT),  // no text
      key_down(SDLK_b, SDL_SCANCODE_B),
      text_input("b"),
      motion,
      text_input("\xD0\xB6"),  // an input method's commit, no key
      key_down(SDLK_c, SDL_SCANCODE_C),
      text_input("c"),
  };
  const std::vector<event::Event> whole = dispatched(stream, stream.size() + 1);
  ASSERT_EQ(whole.size(), 8u);
  EXPECT_EQ(std::get<event::Key>(whole[1]).text, "A");
  EXPECT_EQ(std::get<event::Key>(whole[4]).text, "b");
  EXPECT_EQ(std::get<event::Key>(whole[7]).text, "c");
  for (std::size_t limit = 1; limit <= stream.size(); ++limit) {
    EXPECT_EQ(dispatched(stream, limit), whole) << "batches of " << limit;
  }
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
