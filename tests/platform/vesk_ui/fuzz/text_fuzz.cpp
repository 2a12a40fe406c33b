// Any bytes through the text layer: repaired, measured, wrapped, hit-tested
// with Pango, then replayed as edits on a text field. Nothing may crash and
// the field's text must stay valid UTF-8 with its caret on a boundary.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/vesk_ui/text/pango_text.hpp"
#include "platform/vesk_ui/widget/text_input.hpp"

namespace {
vesk_ui::text::PangoTextRenderer& pango() {
  static auto* renderer = new vesk_ui::text::PangoTextRenderer();
  return *renderer;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vesk_ui;
  if (size > 4096) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string valid = text::sanitize_utf8(bytes);
  if (!text::is_nul_free_utf8(valid)) std::abort();

  text::TextRenderer& t = pango();
  const float sz = size ? 6.0f + static_cast<float>(data[0] % 40) : 14.0f;
  const text::TextStyle style{sz, static_cast<std::uint8_t>(size > 1 ? data[1] : 0),
                              size > 2 && (data[2] & 1) ? text::FontFamily::Mono : text::FontFamily::Sans,
                              size > 3 && (data[3] & 1) ? std::optional<double>(10.0 + data[3]) : std::nullopt};
  (void)t.measure_styled(bytes, style);
  const std::size_t probe = size ? data[size - 1] % (size + 1) : 0;
  (void)t.index_at_x(bytes, style, t.caret_x(bytes, style, probe));
  scene::Scene s;
  t.draw_text_styled(s, bytes, style, scene::Color::white(), scene::Affine::identity());

  // The same bytes as edits: every byte picks a key, the text is typed.
  widget::text_input::TextInput field = widget::text_input::TextInput::local();
  field.apply_layout_external(scene::Rect{0, 0, 200, 30});
  field.set_focused(true);
  widget::MemoryClipboard clipboard;
  clipboard.set_text(bytes);
  widget::EventContext ctx;
  ctx.text = &t;
  ctx.clipboard = &clipboard;
  using event::NamedKey;
  static constexpr NamedKey keys[] = {NamedKey::Backspace,  NamedKey::Delete, NamedKey::ArrowLeft,
                                      NamedKey::ArrowRight, NamedKey::Home,   NamedKey::End};
  for (std::size_t i = 0; i < size && i < 256; ++i) {
    const std::uint8_t b = data[i];
    ctx.modifiers = event::Modifiers{(b & 0x80) != 0, (b & 0x40) != 0 && (b & 0x20) != 0, false, false};
    if (b % 16 != 6 && b % 16 != 14 && b % 8 >= 6) field.set_cursor_pos(b);
    // An edit changes the text only from the start of the selection (or the
    // caret) before it to the caret after it.
    const auto sel = field.selection();
    const std::size_t edit_from = sel ? std::min(sel->first, field.cursor_pos()) : field.cursor_pos();
    if (b % 8 < 6) {
      field.handle_event(event::Key{keys[b % 8], std::nullopt, std::nullopt, true, false}, ctx);
    } else if (b % 16 == 6) {
      field.handle_event(event::ImeCommit{bytes.substr(i, 3)}, ctx);
    } else if (b % 16 == 14) {
      field.handle_event(event::Key{std::string("v"), std::nullopt, std::string("v"), true, false}, ctx);
    } else {
      field.handle_event(event::Key{bytes.substr(i, 1), std::nullopt, bytes.substr(i, 2), true, false}, ctx);
    }
    const std::string& now = field.text();
    const std::size_t caret = field.cursor_pos();
    if (caret > now.size() || text::floor_char_boundary(now, caret) != caret) std::abort();
    // Checking only that span (and a character either side) keeps a run
    // linear in what was typed; the whole text is checked once at the end.
    constexpr std::size_t kMargin = 4;
    const std::size_t lo = std::min(edit_from, caret);
    const std::size_t from = text::floor_char_boundary(now, lo - std::min(lo, kMargin));
    const std::size_t to = text::floor_char_boundary(now, std::min(now.size(), caret + kMargin));
    if (!text::is_nul_free_utf8(std::string_view(now).substr(from, to - from))) std::abort();
  }
  if (!text::is_nul_free_utf8(field.text())) std::abort();
  tokens::Tokens tokens;
  widget::PaintContext paint;
  scene::Scene fs;
  field.draw(fs, scene::Affine::identity(), t, tokens, paint);
  fs.finish();
  return 0;
}
