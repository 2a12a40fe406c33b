#include <gtest/gtest.h>

#include "platform/vesk_ui/text/pango_text.hpp"
#include "platform/vesk_ui/widget/text_input.hpp"

namespace {

using namespace vesk_ui;
using event::Key;
using event::NamedKey;
using widget::text_input::TextInput;

Key named(NamedKey k) { return Key{k, std::nullopt, std::nullopt, true, false}; }
Key typed(std::string s) { return Key{s, std::nullopt, s, true, false}; }

class TextInputTest : public ::testing::Test {
 protected:
  text::StubTextRenderer stub;  // 7 px per code point at size 14
  widget::MemoryClipboard clipboard;
  TextInput input = TextInput::local().with_placeholder("hostname").with_text_size(14.0f);

  void SetUp() override {
    input.apply_layout_external(scene::Rect{100, 10, 200, 40});
    input.set_focused(true);
  }
  bool send(const event::Event& ev, event::Modifiers mods = {}) {
    widget::EventContext ctx;
    ctx.modifiers = mods;
    ctx.text = &stub;
    ctx.clipboard = &clipboard;
    ctx.pointer = pointer;
    const bool handled = input.handle_event(ev, ctx);
    EXPECT_EQ(handled, ctx.handled);
    return handled;
  }
  std::optional<scene::Point> pointer;
};

TEST_F(TextInputTest, EditsByCodePoint) {
  struct Step {
    event::Event ev;
    event::Modifiers mods;
    std::string text;
    std::size_t cursor;
    bool handled;
  };
  const event::Modifiers none{};
  const event::Modifiers shift{true, false, false, false};
  const Step steps[] = {
      {typed("a"), none, "a", 1, true},
      {typed("\xC3\xA9"), none, "a\xC3\xA9", 3, true},  // é, two bytes
      {typed("\xF0\x9F\x98\x80"), none, "a\xC3\xA9\xF0\x9F\x98\x80", 7, true},
      {named(NamedKey::ArrowLeft), none, "a\xC3\xA9\xF0\x9F\x98\x80", 3, true},
      {named(NamedKey::Backspace), none, "a\xF0\x9F\x98\x80", 1, true},
      {named(NamedKey::Delete), none, "a", 1, true},
      {named(NamedKey::Delete), none, "a", 1, true},  // at the end: nothing
      {named(NamedKey::Home), none, "a", 0, true},
      {named(NamedKey::Backspace), none, "a", 0, true},  // at the start: nothing
      {named(NamedKey::Space), none, " a", 1, true},
      {named(NamedKey::End), none, " a", 2, true},
      {named(NamedKey::ArrowRight), none, " a", 2, true},
      {named(NamedKey::Home), shift, " a", 0, true},  // selects all
      {typed("xy"), none, "xy", 2, true},             // replaces the selection
      {named(NamedKey::Enter), none, "xy", 2, false},
      {named(NamedKey::Tab), none, "xy", 2, false},
      {named(NamedKey::Escape), none, "xy", 2, false},
      {Key{std::string("q"), "KeyQ", "q", false, false}, none, "xy", 2, false},  // release
      {Key{std::string("\x01"), std::nullopt, "\x01", true, false}, none, "xy", 2, false},
      {event::ImePreedit{"ni", 2}, none, "xy", 2, true},
      {event::ImeCommit{"\xE4\xBD\xA0"}, none, "xy\xE4\xBD\xA0", 5, true},
  };
  int i = 0;
  for (const Step& s : steps) {
    EXPECT_EQ(send(s.ev, s.mods), s.handled) << "step " << i;
    EXPECT_EQ(input.text(), s.text) << "step " << i;
    EXPECT_EQ(input.cursor_pos(), s.cursor) << "step " << i;
    ++i;
  }
  EXPECT_TRUE(input.preedit().empty());
}

TEST_F(TextInputTest, UnfocusedFieldTakesNoKeys) {
  input.set_focused(false);
  EXPECT_FALSE(send(typed("a")));
  EXPECT_FALSE(send(event::ImeCommit{"b"}));
  EXPECT_EQ(input.text(), "");
}

TEST_F(TextInputTest, SetTextClampsCursorAndIgnoresSameText) {
  input.set_text("h\xC3\xA9llo");
  input.set_cursor_pos(6);
  EXPECT_EQ(input.cursor_pos(), 6u);
  EXPECT_FALSE(input.set_text("h\xC3\xA9llo"));
  EXPECT_EQ(input.cursor_pos(), 6u);
  EXPECT_TRUE(input.set_text("h\xC3\xA9"));
  EXPECT_EQ(input.cursor_pos(), 3u);
  input.set_cursor_pos(2);  // inside é: moved back to its start
  EXPECT_EQ(input.cursor_pos(), 1u);
  EXPECT_TRUE(input.set_text("a\xFF\nb"));  // repaired and kept on one line
  EXPECT_EQ(input.text(), "a\xEF\xBF\xBD b");
}

TEST_F(TextInputTest, ClickPlacesCaretAndDragSelects) {
  input.set_text("abcdefgh");
  pointer = scene::Point{100 + 7 * 3 + 2, 20};  // just past the third character
  EXPECT_TRUE(send(event::PointerButton{event::button::kLeft, true}));
  EXPECT_EQ(input.cursor_pos(), 3u);
  pointer = scene::Point{100 + 7 * 6 + 1, 20};
  EXPECT_FALSE(send(event::PointerMoved{0, 0}));  // moves are never consumed
  EXPECT_TRUE(send(event::PointerButton{event::button::kLeft, false}));
  ASSERT_TRUE(input.selection().has_value());
  EXPECT_EQ(*input.selection(), (std::pair<std::size_t, std::size_t>{3, 6}));
  // A press outside the field is not its business.
  pointer = scene::Point{50, 20};
  EXPECT_FALSE(send(event::PointerButton{event::button::kLeft, true}));
  EXPECT_FALSE(send(event::PointerButton{event::button::kRight, true}));
}

TEST_F(TextInputTest, ClipboardCopyCutPaste) {
  const event::Modifiers ctrl{false, true, false, false};
  input.set_text("secret host");
  input.set_cursor_pos(0);
  EXPECT_TRUE(send(typed("a"), ctrl));
  EXPECT_TRUE(send(typed("c"), ctrl));
  EXPECT_EQ(clipboard.get_text(), "secret host");
  EXPECT_TRUE(send(typed("x"), ctrl));
  EXPECT_EQ(input.text(), "");
  clipboard.set_text("line one\nline\ttwo\x07");
  EXPECT_TRUE(send(typed("v"), ctrl));
  EXPECT_EQ(input.text(), "line one line two");
  EXPECT_FALSE(send(typed("w"), ctrl));  // other shortcuts belong to the application
  EXPECT_EQ(input.text(), "line one line two");
}

// A field of 8 bytes: what is typed, pasted or committed stops there, cut
// between characters, never inside one.
TEST_F(TextInputTest, StopsTakingTextAtItsLimit) {
  const event::Modifiers ctrl{false, true, false, false};
  struct Case {
    const char* what;
    std::string before;
    std::size_t cursor;
    bool select_all;
    std::string clipboard;  // pasted when not empty
    std::optional<event::Event> ev;
    std::string after;
    std::size_t cursor_after;
  } cases[] = {
      {"a paste longer than the field", "", 0, false, "abcdefghijkl", std::nullopt, "abcdefgh", 8},
      {"a paste into the middle fills the room left", "abcd", 2, false, "123456", std::nullopt, "ab1234cd", 6},
      {"typing at the limit", "abcdefgh", 8, false, "", typed("z"), "abcdefgh", 8},
      {"a two-byte character with one byte of room", "abcdefg", 7, false, "", typed("\xC3\xA9"), "abcdefg", 7},
      {"two-byte characters cut before the one that does not fit", "abc", 3, false, "\xC3\xA9\xC3\xA9\xC3\xA9",
       std::nullopt, "abc\xC3\xA9\xC3\xA9", 7},
      {"a four-byte character with three bytes of room", "abcde", 5, false, "\xF0\x9F\x98\x80", std::nullopt, "abcde",
       5},
      {"a replaced selection frees its room", "abcdefgh", 0, true, "0123456789", std::nullopt, "01234567", 8},
      {"an input-method commit", "abcdef", 6, false, "", event::ImeCommit{"\xE4\xBD\xA0\xE5\xA5\xBD"}, "abcdef", 6},
      {"an input-method commit that fits", "abcde", 5, false, "", event::ImeCommit{"\xE4\xBD\xA0"}, "abcde\xE4\xBD\xA0",
       8},
      {"a space at the limit", "abcdefgh", 8, false, "", named(NamedKey::Space), "abcdefgh", 8},
  };
  for (const Case& c : cases) {
    input = TextInput::local().with_max_bytes(8);
    input.apply_layout_external(scene::Rect{100, 10, 200, 40});
    input.set_focused(true);
    input.set_text(c.before);
    input.set_cursor_pos(c.cursor);
    if (c.select_all) input.select_all();
    if (!c.clipboard.empty()) {
      clipboard.set_text(c.clipboard);
      EXPECT_TRUE(send(typed("v"), ctrl)) << c.what;
    } else {
      send(*c.ev);
    }
    EXPECT_EQ(input.text(), c.after) << c.what;
    EXPECT_EQ(input.cursor_pos(), c.cursor_after) << c.what;
  }
  // What the caller puts there itself is kept whole; typing then adds nothing.
  input.set_text("0123456789");
  input.set_cursor_pos(10);
  send(typed("x"));
  EXPECT_EQ(input.text(), "0123456789");
  send(named(NamedKey::Backspace));
  EXPECT_EQ(input.text(), "012345678");
}

TEST_F(TextInputTest, ScrollsToKeepTheCaretVisible) {
  tokens::Tokens tokens;
  widget::PaintContext paint;
  input.set_text(std::string(40, 'w'));  // 280 px in a 100 px field
  input.set_cursor_pos(40);
  scene::Scene s;
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  EXPECT_NEAR(input.scroll_x(), 280 - 100 + 2, 1e-9);
  input.set_cursor_pos(0);
  s.reset();
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  EXPECT_EQ(input.scroll_x(), 0.0);
  s.finish();
  EXPECT_TRUE(s.balanced());
}

// A painter that only reads draws the field where it goes and keeps the
// answer; placing it afterwards leaves it as drawing it there would have.
TEST_F(TextInputTest, DrawingAtARectangleChangesNothingUntilPlaced) {
  tokens::Tokens tokens;
  widget::PaintContext paint;
  input.set_text(std::string(40, 'w'));  // 280 px in a 100 px field
  input.set_cursor_pos(40);
  const scene::Rect where{50, 10, 150, 40};
  const scene::Rect before = input.rect();
  scene::Scene read_only, placed;
  const double scroll = input.draw_at(where, read_only, scene::Affine::identity(), stub, tokens, paint);
  EXPECT_EQ(input.rect().x0, before.x0);
  EXPECT_EQ(input.scroll_x(), 0.0);

  TextInput laid_out = input;
  laid_out.apply_layout_external(where);
  laid_out.draw(placed, scene::Affine::identity(), stub, tokens, paint);
  read_only.finish();
  placed.finish();
  EXPECT_EQ(read_only.dump(), placed.dump());
  EXPECT_GT(scroll, 0.0);
  EXPECT_EQ(scroll, laid_out.scroll_x());

  input.place(where, scroll);
  EXPECT_EQ(input.rect().x0, where.x0);
  EXPECT_EQ(input.rect().x1, where.x1);
  EXPECT_EQ(input.scroll_x(), laid_out.scroll_x());
}

TEST_F(TextInputTest, AnUnfocusedFieldShowsTheStartOfItsText) {
  tokens::Tokens tokens;
  widget::PaintContext paint;
  input.set_text(std::string(40, 'w'));  // 280 px in a 100 px field
  input.set_cursor_pos(40);
  scene::Scene s;
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  ASSERT_GT(input.scroll_x(), 0.0);
  input.set_focused(false);
  s.reset();
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  EXPECT_EQ(input.scroll_x(), 0.0);
  // Focused again, the view follows the caret at the end.
  input.set_focused(true);
  s.reset();
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  EXPECT_NEAR(input.scroll_x(), 280 - 100 + 2, 1e-9);
  s.finish();
  EXPECT_TRUE(s.balanced());
}

TEST_F(TextInputTest, DrawsPlaceholderWhenEmptyAndCaretWhenFocused) {
  tokens::Tokens tokens;
  widget::PaintContext paint;
  scene::Scene s;
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  const std::string dump = s.dump();
  EXPECT_NE(dump.find("text \"hostname\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("fill rect(100,"), std::string::npos) << dump;  // the caret at the left edge
  input.set_focused(false);
  s.reset();
  input.draw(s, scene::Affine::identity(), stub, tokens, paint);
  EXPECT_EQ(s.dump().find("fill rect(100,"), std::string::npos);
}

TEST(TextInputPango, ClickMapsThroughRealMetrics) {
  text::PangoTextRenderer pango;
  TextInput input = TextInput::local();
  input.apply_layout_external(scene::Rect{0, 0, 300, 30});
  input.set_focused(true);
  input.set_text("connection");
  const text::TextStyle st{14.0f, 0, text::FontFamily::Sans, std::nullopt};
  widget::EventContext ctx;
  ctx.text = &pango;
  ctx.pointer = scene::Point{pango.caret_x("connection", st, 4) + 0.5, 15};
  EXPECT_TRUE(input.handle_event(event::PointerButton{event::button::kLeft, true}, ctx));
  EXPECT_EQ(input.cursor_pos(), 4u);
}

}  // namespace
