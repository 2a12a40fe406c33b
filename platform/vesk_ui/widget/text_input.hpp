#pragma once
// A single-line text field that owns its text.
//
// Editing works on code points: insertion, Backspace, Delete, Left, Right,
// Home, End (Shift extends the selection), click and drag to place the caret,
// Ctrl+A, Ctrl+C, Ctrl+X, Ctrl+V through the context's clipboard, and input
// method preedit and commit. Tab, Enter and Escape are left to the caller. The
// view scrolls sideways to keep the caret visible.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"
#include "platform/vesk_ui/widget/context.hpp"
#include "platform/vesk_ui/widget/event.hpp"

namespace vesk_ui::widget::text_input {

class TextInput {
 public:
  static constexpr float kDefaultTextSize = 14.0f;

  // A field that keeps its text itself (no external binding).
  static TextInput local();
  TextInput with_placeholder(std::string placeholder) &&;
  TextInput with_text_size(std::optional<float> size) &&;
  // Typing, pasting and input-method commits stop at this many bytes; what
  // does not fit is dropped at a character boundary. set_text is not held
  // to it (the caller owns what it puts there).
  TextInput with_max_bytes(std::size_t max_bytes) &&;
  std::size_t max_bytes() const { return max_bytes_; }

  const std::string& text() const { return text_; }
  // Replaces the text (repaired to valid UTF-8 on one line). Nothing happens
  // when it is unchanged; otherwise the caret stays where it was, clamped to
  // the new text and moved back to a character boundary. True when changed.
  bool set_text(std::string_view text);
  std::size_t cursor_pos() const { return cursor_; }
  // Byte index, clamped and moved back to a character boundary; clears the selection.
  void set_cursor_pos(std::size_t byte_index);
  // Selected byte range [first, second), when anything is selected.
  std::optional<std::pair<std::size_t, std::size_t>> selection() const;
  void select_all();

  const std::string& placeholder() const { return placeholder_; }
  void set_placeholder(std::string placeholder);
  std::optional<float> text_size() const { return text_size_; }
  void set_text_size(std::optional<float> size) { text_size_ = size; }
  float effective_text_size() const { return text_size_.value_or(kDefaultTextSize); }

  bool is_focused() const { return focused_; }
  // Losing focus ends a composition and a drag.
  void set_focused(bool focused);

  const std::string& preedit() const { return preedit_; }

  // Places the field; the text is laid out inside this rectangle.
  void apply_layout_external(const scene::Rect& rect) { rect_ = rect.normalized(); }
  const scene::Rect& rect() const { return rect_; }
  double scroll_x() const { return scroll_x_; }

  // Draws the field in its rectangle, scrolled to show the caret.
  void draw(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text, const tokens::Tokens& tokens,
            const PaintContext& paint);
  // The same as if placed at `rect`, changing nothing: answers the scroll the
  // field had there, for place() (a painter that only reads its state).
  double draw_at(const scene::Rect& rect, scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                 const tokens::Tokens& tokens, const PaintContext& paint) const;
  // Placed at `rect` with the scroll draw_at answered there.
  void place(const scene::Rect& rect, double scroll_x) {
    rect_ = rect.normalized();
    scroll_x_ = scroll_x;
  }

  // True (and context.handled set) when the field consumed the event.
  bool handle_event(const event::Event& event, EventContext& context);

 private:
  text::TextStyle style() const;
  bool on_key(const event::Key& key, EventContext& context);
  bool on_press(EventContext& context, bool extend);
  std::size_t index_at(text::TextRenderer* text, double x) const;
  void insert(std::string_view typed);
  bool delete_selection();
  void move_to(std::size_t index, bool extend);
  std::size_t prev_boundary(std::size_t i) const;
  std::size_t next_boundary(std::size_t i) const;

  std::string text_;
  std::string placeholder_;
  std::optional<float> text_size_;
  std::size_t max_bytes_ = static_cast<std::size_t>(-1);
  std::size_t cursor_ = 0;
  std::optional<std::size_t> anchor_;  // the other end of the selection
  bool focused_ = false;
  bool dragging_ = false;
  std::string preedit_;
  std::optional<std::size_t> preedit_cursor_;
  scene::Rect rect_;
  double scroll_x_ = 0.0;
  std::optional<scene::Point> pointer_;
};

// Text fit for one line: valid UTF-8 without control characters (line breaks
// and tabs become spaces, other controls are dropped).
std::string single_line(std::string_view text);

}  // namespace vesk_ui::widget::text_input
