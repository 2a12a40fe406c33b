#include "platform/vesk_ui/widget/text_input.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace vesk_ui::widget::text_input {

using scene::Affine;
using scene::Rect;

namespace {
constexpr double kCaretWidth = 1.5;
constexpr double kScrollMargin = 2.0;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace

std::string single_line(std::string_view raw) {
  const std::string valid = text::sanitize_utf8(raw);
  std::string out;
  out.reserve(valid.size());
  for (char c : valid) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r' || c == '\t')
      out.push_back(' ');
    else if (b < 0x20 || b == 0x7F)
      continue;
    else
      out.push_back(c);
  }
  return out;
}

TextInput TextInput::local() { return TextInput{}; }

TextInput TextInput::with_placeholder(std::string placeholder) && {
  set_placeholder(std::move(placeholder));
  return std::move(*this);
}

TextInput TextInput::with_text_size(std::optional<float> size) && {
  text_size_ = size;
  return std::move(*this);
}

TextInput TextInput::with_max_bytes(std::size_t max_bytes) && {
  max_bytes_ = max_bytes;
  return std::move(*this);
}

bool TextInput::set_text(std::string_view raw) {
  std::string next = single_line(raw);
  if (next == text_) return false;
  text_ = std::move(next);
  cursor_ = text::floor_char_boundary(text_, cursor_);
  if (anchor_) {
    anchor_ = text::floor_char_boundary(text_, *anchor_);
    if (*anchor_ == cursor_) anchor_.reset();
  }
  return true;
}

void TextInput::set_cursor_pos(std::size_t byte_index) {
  cursor_ = text::floor_char_boundary(text_, byte_index);
  anchor_.reset();
}

std::optional<std::pair<std::size_t, std::size_t>> TextInput::selection() const {
  if (!anchor_ || *anchor_ == cursor_) return std::nullopt;
  return std::pair{std::min(*anchor_, cursor_), std::max(*anchor_, cursor_)};
}

void TextInput::select_all() {
  anchor_ = 0;
  cursor_ = text_.size();
  if (cursor_ == 0) anchor_.reset();
}

void TextInput::set_placeholder(std::string placeholder) { placeholder_ = single_line(placeholder); }

void TextInput::set_focused(bool focused) {
  focused_ = focused;
  if (!focused) {
    preedit_.clear();
    preedit_cursor_.reset();
    dragging_ = false;
  }
}

text::TextStyle TextInput::style() const {
  return text::TextStyle{effective_text_size(), 0, text::FontFamily::Sans, std::nullopt};
}

std::size_t TextInput::prev_boundary(std::size_t i) const {
  if (i == 0) return 0;
  --i;
  while (i > 0 && is_continuation(text_[i])) --i;
  return i;
}

std::size_t TextInput::next_boundary(std::size_t i) const {
  if (i >= text_.size()) return text_.size();
  ++i;
  while (i < text_.size() && is_continuation(text_[i])) ++i;
  return i;
}

void TextInput::move_to(std::size_t index, bool extend) {
  if (extend) {
    if (!anchor_) anchor_ = cursor_;
  } else {
    anchor_.reset();
  }
  cursor_ = index;
  if (anchor_ && *anchor_ == cursor_) anchor_.reset();
}

bool TextInput::delete_selection() {
  const auto sel = selection();
  anchor_.reset();
  if (!sel) return false;
  text_.erase(sel->first, sel->second - sel->first);
  cursor_ = sel->first;
  return true;
}

void TextInput::insert(std::string_view typed) {
  std::string clean = single_line(typed);
  delete_selection();
  const std::size_t room = text_.size() < max_bytes_ ? max_bytes_ - text_.size() : 0;
  if (clean.size() > room) clean.resize(text::floor_char_boundary(clean, room));
  if (clean.empty()) return;
  text_.insert(cursor_, clean);
  cursor_ += clean.size();
}

std::size_t TextInput::index_at(text::TextRenderer* text, double x) const {
  if (!text) return text_.size();
  return text->index_at_x(text_, style(), x - rect_.x0 + scroll_x_);
}

bool TextInput::on_press(EventContext& context, bool extend) {
  const std::optional<scene::Point> at = context.pointer ? context.pointer : pointer_;
  if (!at || !rect_.contains(*at)) return false;
  preedit_.clear();
  preedit_cursor_.reset();
  move_to(index_at(context.text, at->x), extend);
  dragging_ = true;
  return true;
}

bool TextInput::on_key(const event::Key& key, EventContext& context) {
  if (!key.pressed || !focused_) return false;
  const event::Modifiers& m = context.modifiers;
  const bool shortcut = (m.control || m.super) && !m.alt;
  if (shortcut) {
    const std::string* ch = key.character();
    if (!ch || ch->size() != 1) return false;
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>((*ch)[0])));
    const auto sel = selection();
    switch (c) {
      case 'a': select_all(); return true;
      case 'c':
      case 'x':
        if (sel && context.clipboard) context.clipboard->set_text(text_.substr(sel->first, sel->second - sel->first));
        if (c == 'x') delete_selection();
        return true;
      case 'v':
        if (context.clipboard) {
          if (auto pasted = context.clipboard->get_text()) insert(*pasted);
        }
        return true;
      default: return false;
    }
  }
  if (const auto* named = std::get_if<event::NamedKey>(&key.logical)) {
    using event::NamedKey;
    switch (*named) {
      case NamedKey::Backspace:
        if (!delete_selection() && cursor_ > 0) {
          const std::size_t from = prev_boundary(cursor_);
          text_.erase(from, cursor_ - from);
          cursor_ = from;
        }
        return true;
      case NamedKey::Delete:
        if (!delete_selection() && cursor_ < text_.size()) text_.erase(cursor_, next_boundary(cursor_) - cursor_);
        return true;
      case NamedKey::ArrowLeft: {
        const auto sel = selection();
        if (sel && !m.shift)
          move_to(sel->first, false);
        else
          move_to(prev_boundary(cursor_), m.shift);
        return true;
      }
      case NamedKey::ArrowRight: {
        const auto sel = selection();
        if (sel && !m.shift)
          move_to(sel->second, false);
        else
          move_to(next_boundary(cursor_), m.shift);
        return true;
      }
      case NamedKey::Home: move_to(0, m.shift); return true;
      case NamedKey::End: move_to(text_.size(), m.shift); return true;
      case NamedKey::Space: insert(key.text && !key.text->empty() ? *key.text : std::string(" ")); return true;
      default: return false;  // Enter, Tab, Escape and the rest belong to the caller
    }
  }
  if (key.text && !key.text->empty() && !single_line(*key.text).empty()) {
    insert(*key.text);
    return true;
  }
  return false;
}

bool TextInput::handle_event(const event::Event& ev, EventContext& context) {
  bool handled = false;
  if (const auto* moved = std::get_if<event::PointerMoved>(&ev)) {
    const double s = context.scale > 0.0 ? context.scale : 1.0;
    pointer_ = scene::Point{moved->x / s, moved->y / s};
    if (dragging_) {
      const scene::Point at = context.pointer ? *context.pointer : *pointer_;
      move_to(index_at(context.text, at.x), true);
    }
    return false;  // moves are never consumed
  }
  if (const auto* b = std::get_if<event::PointerButton>(&ev)) {
    if (b->button != event::button::kLeft) return false;
    if (b->pressed) {
      handled = on_press(context, context.modifiers.shift);
    } else {
      handled = dragging_;
      dragging_ = false;
    }
  } else if (const auto* key = std::get_if<event::Key>(&ev)) {
    handled = on_key(*key, context);
  } else if (const auto* pre = std::get_if<event::ImePreedit>(&ev)) {
    if (focused_) {
      preedit_ = single_line(pre->text);
      preedit_cursor_ = pre->cursor ? std::optional(text::floor_char_boundary(preedit_, *pre->cursor)) : std::nullopt;
      handled = true;
    }
  } else if (const auto* commit = std::get_if<event::ImeCommit>(&ev)) {
    if (focused_) {
      preedit_.clear();
      preedit_cursor_.reset();
      insert(commit->text);
      handled = true;
    }
  } else if (const auto* focus = std::get_if<event::WindowFocus>(&ev)) {
    if (!focus->focused) dragging_ = false;
  }
  if (handled) context.handled = true;
  return handled;
}

void TextInput::draw(scene::Scene& scene, const Affine& transform, text::TextRenderer& text,
                     const tokens::Tokens& tokens, const PaintContext& paint) {
  scroll_x_ = draw_at(rect_, scene, transform, text, tokens, paint);
}

double TextInput::draw_at(const scene::Rect& placed, scene::Scene& scene, const Affine& transform,
                          text::TextRenderer& text, const tokens::Tokens& tokens, const PaintContext& paint) const {
  (void)paint;
  const scene::Rect rect = placed.normalized();
  double scroll = scroll_x_;
  const tokens::Colors& c = tokens.colors;
  const text::TextStyle st = style();
  const double line_h = text.measure_styled("Hg", st).height;
  const double y = rect.y0 + (rect.height() - line_h) / 2.0;

  // What is shown: the text with the composition inserted at the caret.
  const bool composing = focused_ && !preedit_.empty();
  const std::string shown = composing ? text_.substr(0, cursor_) + preedit_ + text_.substr(cursor_) : text_;
  const std::size_t caret_index = composing ? cursor_ + preedit_cursor_.value_or(preedit_.size()) : cursor_;
  const double caret = text.caret_x(shown, st, caret_index);
  const double total = text.measure_styled(shown, st).width;
  const double visible = std::max(0.0, rect.width());
  if (!focused_) {
    scroll = 0.0;  // an unfocused field shows the start of its text
  } else {
    if (caret - scroll > visible - kScrollMargin) scroll = caret - visible + kScrollMargin;
    if (caret - scroll < 0.0) scroll = caret;
  }
  scroll = std::clamp(scroll, 0.0, std::max(0.0, total - visible + kScrollMargin));
  if (!std::isfinite(scroll)) scroll = 0.0;

  const double x0 = rect.x0 - scroll;
  scene.push_layer(scene::BlendMode::Normal, 1.0f, transform, rect);
  if (const auto sel = selection(); sel && focused_ && !composing) {
    const double a = text.caret_x(text_, st, sel->first);
    const double b = text.caret_x(text_, st, sel->second);
    scene.fill(transform, c.accent.with_alpha(0.35f), Rect{x0 + a, y, x0 + b, y + line_h});
  }
  if (shown.empty()) {
    if (!placeholder_.empty())
      text.draw_text_styled(scene, placeholder_, st, c.text_secondary, transform * Affine::translate(rect.x0, y));
  } else {
    text.draw_text_styled(scene, shown, st, c.text_primary, transform * Affine::translate(x0, y));
  }
  if (composing) {
    const double a = text.caret_x(shown, st, cursor_);
    const double b = text.caret_x(shown, st, cursor_ + preedit_.size());
    scene.fill(transform, c.text_primary, Rect{x0 + a, y + line_h - 1.5, x0 + b, y + line_h - 0.5});
  }
  if (focused_) scene.fill(transform, c.text_primary, Rect{x0 + caret, y, x0 + caret + kCaretWidth, y + line_h});
  scene.pop_layer();
  return scroll;
}

}  // namespace vesk_ui::widget::text_input
