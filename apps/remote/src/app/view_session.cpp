// The session screen: a status card while not connected; once connected a
// header bar over the SSH terminal or the remote picture (VNC or device).
#include <algorithm>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/views.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"

namespace remote::app {

namespace {

// Terminal cell geometry: fixed, so painting never measures text.
constexpr double kTerminalInset = 16.0;
constexpr double kTerminalLineHeight = 21.0;
constexpr double kTerminalCellWidth = 8.4;
constexpr double kTerminalCursorHeight = 16.8;
constexpr float kTerminalTextSize = 14.0f;
constexpr double kHeaderHeight = 48.0;
// Printable ASCII: the monospace face draws each of these exactly one cell
// wide. Anything else may be wider (CJK), zero-width (combining marks) or come
// from a fallback face with other advances.
constexpr bool is_one_cell_glyph(char32_t ch) { return ch >= 0x20 && ch < 0x7F; }
// A header too narrow for its buttons and this much of the name puts the
// picture controls on a second row this high.
constexpr double kHeaderMinText = 120.0;
constexpr double kHeaderSecondRow = 40.0;
// Message lines of the card: size, and the pitch from one line to the next.
constexpr float kCardLineSize = 13.0f;
constexpr double kCardLinePitch = 22.0;
// The target line wraps at this pitch when a long host needs more lines.
constexpr double kCardTargetPitch = 18.0;
// A card with no message lines, and the margin it keeps from the area's edges.
constexpr double kCardBaseHeight = 336.0;
constexpr double kCardMargin = 16.0;

struct CardText {
  std::string status;
  std::vector<std::string> lines;
  int tone = 0;  // 0 neutral, 1 in progress, 2 failed
  bool edit_profile = false;
};

std::string unavailable_second_line(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Rdp: return "Edit this saved profile to use SSH, VNC, or Vesk device control.";
    case ConnectionKind::Vesk: return "No connection was attempted.";
    case ConnectionKind::Ssh:
    case ConnectionKind::Vnc: break;
  }
  return "Use Vesk device control now, or install Remote with live network and host-key trust access.";
}

CardText card_text(const std::optional<SessionStatus>& status, ConnectionKind kind) {
  if (!status) {
    return {"Not connected",
            {"This transport is unavailable in this build.", "Your saved connection is unchanged."},
            0,
            false};
  }
  switch (status->kind) {
    case SessionStatus::Kind::Connecting:
      if (kind == ConnectionKind::Vesk) {
        return {"Waiting for consent\u2026",
                {"Opening an authenticated route to the exact target, then waiting for it to share a workspace "
                 "surface\u2026"},
                1,
                false};
      }
      return {"Connecting\u2026", {"Negotiating the transport and authenticating\u2026"}, 1, false};
    case SessionStatus::Kind::Ended: return {"Session ended", {"The remote closed the session."}, 0, false};
    case SessionStatus::Kind::Unavailable:
      return {"Connection not available", {status->message, unavailable_second_line(kind)}, 0, true};
    case SessionStatus::Kind::Failed:
      return {"Connection failed", {status->message, "This is the real error \u2014 nothing is simulated."}, 2, false};
    case SessionStatus::Kind::Connected: break;
  }
  return {};
}

// The remote picture (VNC or device) and the terminal, below the header.
void paint_picture(PaintBundle& p, const AppState& state, const Rect& area, PaintRecorder& out);
void paint_terminal(PaintBundle& p, const Rect& area, const vt::Terminal* shown);

}  // namespace

double session_card_width(const Rect& area) { return std::min(area.width() - 40.0, 460.0); }

std::size_t session_card_line_budget(const Rect& area, double extra) {
  const double room = area.height() - 2.0 * kCardMargin - kCardBaseHeight - extra;
  return room > 0 ? static_cast<std::size_t>(room / kCardLinePitch) : 0;
}

SessionCardGeometry session_card_geometry(const Rect& area, std::size_t lines, double extra,
                                          std::optional<SessionCardButton> first_slot, std::optional<Uuid> edit_id) {
  SessionCardGeometry g;
  const double n = static_cast<double>(lines);
  const double width = session_card_width(area);
  const double height = kCardBaseHeight + kCardLinePitch * n + extra;
  const double left = area.x0 + (area.width() - width) / 2.0;
  const double top = area.y0 + std::max((area.height() - height) / 2.0, kCardMargin);
  g.card = Rect{left, top, left + width, top + height};
  g.cx = left + width / 2.0;
  const double btop = top + 244.0 + kCardLinePitch * n + extra;
  double x = (first_slot || edit_id) ? g.cx - 124.0 : g.cx - 66.0;
  auto add = [&](SessionCardButton button, double w) {
    button.rect = Rect{x, btop, x + w, btop + 38.0};
    g.buttons.push_back(std::move(button));
    x += w + 12.0;
  };
  if (first_slot) add(std::move(*first_slot), 104.0);
  if (edit_id)
    add({"Edit profile", {}, vesk_ui::widget::button::kNeutral, UiMessage::edit_connection(*edit_id)}, 104.0);
  add({"Back to list", {}, vesk_ui::widget::button::kPrimary, UiMessage::disconnect()}, 132.0);
  return g;
}

SessionCardLines session_card_lines(vesk_ui::text::TextRenderer& text, const Rect& area, std::string_view target,
                                    const std::vector<std::string>& messages,
                                    const std::vector<std::string_view>& keep) {
  SessionCardLines out;
  const double wrap = std::max(session_card_width(area) - 48.0, 80.0);
  // The target names the host: never cut, however many lines it takes.
  out.target = wrap_block(text, target, kCardLineSize, wrap, std::nullopt, SIZE_MAX, target.size()).lines;
  out.extra = kCardTargetPitch * static_cast<double>(out.target.size() - 1);
  const double extra = out.extra;
  // Every message after the first is a fixed line, always shown whole; the
  // first (the failure's own text) takes the room the window leaves, and is
  // cut only there, never inside a fingerprint or the host.
  std::vector<std::vector<std::string>> fixed;
  std::size_t fixed_lines = 0;
  for (std::size_t i = 1; i < messages.size(); ++i) {
    fixed.push_back(
        wrap_block(text, messages[i], kCardLineSize, wrap, std::nullopt, SIZE_MAX, messages[i].size()).lines);
    fixed_lines += fixed.back().size();
  }
  if (!messages.empty()) {
    const std::size_t budget = session_card_line_budget(area, extra);
    const std::size_t room = budget > fixed_lines ? budget - fixed_lines : 1;
    out.lines =
        wrap_block(text, messages[0], kCardLineSize, wrap, std::nullopt, room, end_of_last(messages[0], keep)).lines;
  }
  for (auto& lines : fixed) {
    for (std::string& line : lines) out.lines.push_back(std::move(line));
  }
  return out;
}

SessionHeaderGeometry session_header_geometry(vesk_ui::text::TextRenderer& text, const Rect& content,
                                              const std::optional<std::string>& scale_label) {
  SessionHeaderGeometry g;
  g.text_cy = content.y0 + kHeaderHeight / 2.0;
  g.disconnect = Rect{content.x1 - 122.0, content.y0 + 8.0, content.x1 - 12.0, content.y0 + 40.0};
  double buttons_left = g.disconnect.x0;
  bool two_rows = false;
  if (scale_label) {
    const auto button = [&](std::string_view label, double right, double cy) {
      const double w = text_width(text, label, 13.0f) + 24.0;
      return Rect{right - w, cy - 16.0, right, cy + 16.0};
    };
    g.fullscreen = button("Fullscreen", g.disconnect.x0 - 12.0, g.text_cy);
    g.scale = button(*scale_label, g.fullscreen->x0 - 8.0, g.text_cy);
    buttons_left = g.scale->x0;
    if (buttons_left - 8.0 - (content.x0 + 32.0) < kHeaderMinText) {
      // Too narrow for one row: the picture controls get a row of their
      // own under the name, right-aligned like the first.
      const double cy = content.y0 + kHeaderHeight + kHeaderSecondRow / 2.0 - 4.0;
      g.fullscreen = button("Fullscreen", content.x1 - 12.0, cy);
      g.scale = button(*scale_label, g.fullscreen->x0 - 8.0, cy);
      buttons_left = g.disconnect.x0;
      two_rows = true;
    }
  }
  g.header = Rect{content.x0, content.y0, content.x1, content.y0 + kHeaderHeight + (two_rows ? kHeaderSecondRow : 0.0)};
  g.text_right = buttons_left - 8.0;
  return g;
}

Rect picture_rect(const Rect& area, std::uint32_t width, std::uint32_t height, bool scale_to_fit) {
  const double w = std::max<std::uint32_t>(width, 1);
  const double h = std::max<std::uint32_t>(height, 1);
  double sw = 0, sh = 0;
  if (scale_to_fit) {
    const double s = std::min(area.width() / w, area.height() / h);
    sw = s * w;
    sh = s * h;
  } else {
    sw = std::min(w, area.width());
    sh = std::min(h, area.height());
  }
  const double x0 = area.x0 + (area.width() - sw) / 2.0;
  const double y0 = area.y0 + (area.height() - sh) / 2.0;
  return Rect{x0, y0, x0 + sw, y0 + sh};
}

void paint_session(PaintBundle& p, const AppView& view, const Rect& content, PaintRecorder& out) {
  const AppState& state = view.state;
  const auto& c = p.colors();
  const SavedConnection* connection = find_connection(state.connections, state.screen.id);
  if (!connection) {
    p.text_at("Connection no longer exists.", 14.0f, c.text_secondary, content.x0 + 24.0, content.y0 + 24.0);
    return;
  }
  std::optional<SessionStatus> status;
  if (state.live_session) status = state.live_session->status();

  if (!status || !status->is_connected()) {
    const CardText text = card_text(status, connection->kind);
    std::optional<SessionCardButton> first;
    // What must survive a cut: the host and, for a refused key, the keys.
    std::vector<std::string_view> keep{connection->host};
    const auto& observation = view.host_key;
    if (const auto* unknown = observation ? observation->unknown() : nullptr) {
      first = SessionCardButton{
          "Trust key", {}, vesk_ui::widget::button::kNeutral, UiMessage::request_trust_host_key(connection->id)};
      keep.insert(keep.end(), {unknown->presented.algorithm, unknown->presented.fingerprint});
    } else if (const auto* changed = observation ? observation->changed() : nullptr) {
      first = SessionCardButton{
          "Forget key", {}, vesk_ui::widget::button::kNeutral, UiMessage::request_forget_host_key(connection->id)};
      keep.insert(keep.end(), {changed->pinned.algorithm, changed->pinned.fingerprint, changed->presented.algorithm,
                               changed->presented.fingerprint});
    }
    if (!first && text.tone == 2) {
      first =
          SessionCardButton{"Retry", {}, vesk_ui::widget::button::kNeutral, UiMessage::request_connect(connection->id)};
    }
    const SessionCardLines lines = session_card_lines(
        p.text, content, remote::text::fill("{} \u00b7 {}", {connection->target_label(), connection->kind.label()}),
        text.lines, keep);
    const double extra = lines.extra;
    const SessionCardGeometry g =
        session_card_geometry(content, lines.lines.size(), extra, std::move(first),
                              text.edit_profile ? std::optional(connection->id) : std::nullopt);
    const Color tone = text.tone == 2 ? c.danger : text.tone == 1 ? c.warning : c.text_secondary;
    const double y0 = g.card.y0;

    p.fill(content, c.background);
    vesk_ui::surface::card(p.scene, p.base, g.card, c.surface, 16.0);
    const vesk_ui::scene::Circle mark{{g.cx, y0 + 68.0}, 34.0};
    p.fill(mark, colour_with_alpha(tone, 0.14f));
    p.stroke(mark, colour_with_alpha(tone, 0.9f), 2.0);
    p.text_centred(connection->kind.as_str(), 15.0f, c.text_primary, g.cx, y0 + 58.0, kWeightBold);
    p.text_centred(fit_with_ellipsis(p.text, connection->name, 20.0f, g.card.width() - 48.0, kWeightBold), 20.0f,
                   c.text_primary, g.cx, y0 + 124.0, kWeightBold);
    for (std::size_t i = 0; i < lines.target.size(); ++i) {
      p.text_centred(lines.target[i], kCardLineSize, c.text_secondary, g.cx,
                     y0 + 154.0 + kCardTargetPitch * static_cast<double>(i));
    }
    const double label_w = p.measure(text.status, 13.0f, kWeightSemibold).width;
    const double pill_top = y0 + 184.0 + extra;
    const Rect pill{g.cx - (label_w + 44.0) / 2.0, pill_top, g.cx + (label_w + 44.0) / 2.0, pill_top + 30.0};
    vesk_ui::surface::pill(p.scene, p.base, pill, colour_with_alpha(tone, 0.16f), colour_with_alpha(tone, 0.55f), 0);
    const double pill_cy = pill.center().y;
    p.fill(vesk_ui::scene::Circle{{pill.x0 + 16.0, pill_cy}, 4.0}, tone);
    p.text_at(text.status, 13.0f, c.text_primary, pill.x0 + 28.0, pill_cy - 8.0, kWeightSemibold);
    for (std::size_t i = 0; i < lines.lines.size(); ++i) {
      p.text_centred(lines.lines[i], kCardLineSize, c.text_secondary, g.cx,
                     y0 + 230.0 + extra + kCardLinePitch * static_cast<double>(i));
    }
    for (const SessionCardButton& button : g.buttons) {
      paint_button(p, button.label, button.rect, button.style);
      out.record(button.message, button.rect);
    }
    return;
  }

  Rect area = content;
  if (!state.fullscreen) {
    const std::string scale_label = state.scale_to_fit ? "Scale: Fit" : "Scale: 1:1";
    const bool picture_controls = connection->kind != ConnectionKind::Ssh;
    const SessionHeaderGeometry h =
        session_header_geometry(p.text, content, picture_controls ? std::optional(scale_label) : std::nullopt);
    const Rect header = h.header;
    p.fill(header, c.surface);
    p.fill(Rect{header.x0, header.y1 - 1.0, header.x1, header.y1}, vesk_ui::chrome::shell::chrome_hairline(p.tokens));
    const double cy = h.text_cy;
    const Rect disconnect = h.disconnect;
    const double text_right = h.text_right;

    p.fill(vesk_ui::scene::Circle{{header.x0 + 18.0, cy}, 5.0}, c.success);
    p.scene.push_layer(vesk_ui::scene::BlendMode::Normal, 1.0f, p.base,
                       Rect{header.x0, header.y0, std::max(text_right, header.x0), header.y1});
    // Both texts end before the buttons: the name keeps at least half of
    // the room, the subtitle takes what the name leaves.
    const double text_x = header.x0 + 32.0;
    const double room = std::max(text_right - text_x, 0.0);
    const char* what = connection->kind == ConnectionKind::Ssh    ? "shell"
                       : connection->kind == ConnectionKind::Vesk ? "workspace stream"
                                                                  : "framebuffer";
    const std::string subtitle = remote::text::fill("\u00b7 {} \u00b7 {}", {connection->target_label(), what});
    const double subtitle_w = p.measure(subtitle, 12.0f).width;
    const std::string name = fit_with_ellipsis(p.text, connection->name, 14.0f,
                                               std::max(room - 8.0 - subtitle_w, room / 2.0), kWeightSemibold);
    const auto name_size = p.measure(name, 14.0f, kWeightSemibold);
    p.text_at(name, 14.0f, c.text_primary, text_x, cy - name_size.height / 2.0, kWeightSemibold);
    const double sub_x = header.x0 + 40.0 + name_size.width;
    const std::string sub_shown = fit_with_ellipsis(p.text, subtitle, 12.0f, text_right - sub_x);
    const auto sub = p.measure(sub_shown, 12.0f);
    if (sub_x + sub.width <= text_right) p.text_at(sub_shown, 12.0f, c.text_secondary, sub_x, cy - sub.height / 2.0);
    p.scene.pop_layer();

    paint_button(p, "Disconnect", disconnect, vesk_ui::widget::button::kDestructiveOutline);
    out.record(UiMessage::disconnect(), disconnect);
    if (h.fullscreen && h.scale) {
      paint_button(p, "Fullscreen", *h.fullscreen, vesk_ui::widget::button::kNeutral);
      out.record(UiMessage::toggle_fullscreen(), *h.fullscreen);
      paint_button(p, scale_label, *h.scale, vesk_ui::widget::button::kNeutral);
      out.record(UiMessage::toggle_scale(), *h.scale);
    }
    area.y0 = header.y1;
  }
  const LiveSession::Ssh* ssh = state.live_session ? state.live_session->ssh() : nullptr;
  if (ssh) {
    paint_terminal(p, area, ssh->session ? &ssh->session->terminal() : nullptr);
  } else if (connection->kind == ConnectionKind::Ssh && state.review_terminal) {
    paint_terminal(p, area, &*state.review_terminal);
  } else {
    paint_picture(p, state, area, out);
  }
}

namespace {

void paint_picture(PaintBundle& p, const AppState& state, const Rect& area, PaintRecorder& out) {
  const auto& c = p.colors();
  p.fill(area, Color::black());
  const auto& picture = state.session_picture;
  if (!picture) {
    p.text_at("Connected \u2014 waiting for the first framebuffer update\u2026", 13.0f, c.text_secondary,
              area.x0 + 24.0, area.y0 + 24.0);
  } else {
    const Rect shown = picture_rect(area, picture->width, picture->height, state.scale_to_fit);
    out.session_surface = shown;
    const double w = std::max<std::uint32_t>(picture->width, 1);
    const double h = std::max<std::uint32_t>(picture->height, 1);
    vesk_ui::scene::ImageBrush brush;
    brush.image = *picture;
    brush.image.opaque = true;  // a remote framebuffer or a decoded frame: no alpha
    brush.brush_transform = vesk_ui::scene::Affine::translate(shown.x0, shown.y0) *
                            vesk_ui::scene::Affine::scale_non_uniform(shown.width() / w, shown.height() / h);
    brush.quality = vesk_ui::scene::ImageQuality::Medium;
    brush.extend = vesk_ui::scene::Extend::Pad;
    brush.alpha = 1.0f;
    p.fill(shown, brush);
  }
  if (state.fullscreen) {
    p.text_at("Esc to exit fullscreen", 12.0f, c.text_secondary, area.x1 - 170.0, area.y0 + 12.0);
  }
}

void paint_terminal(PaintBundle& p, const Rect& area, const vt::Terminal* shown) {
  const auto palette = vesk_ui::tokens::TerminalPalette::dark();
  p.fill(area, palette.background);
  if (!shown) return;
  const vt::Terminal& terminal = *shown;
  p.scene.push_layer(vesk_ui::scene::BlendMode::Normal, 1.0f, p.base, area);
  const auto rows = terminal.visible_rows();
  std::string run;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto& cells = rows[r];
    const double y = area.y0 + kTerminalInset + kTerminalLineHeight * static_cast<double>(r);
    std::size_t i = 0;
    while (i < cells.size()) {
      // Only glyphs known to be one cell wide share a text: any other one is
      // drawn alone at its own column, so a wide or combining character never
      // pushes the cells after it off the grid.
      std::size_t j = i + 1;
      if (is_one_cell_glyph(cells[i].ch)) {
        while (j < cells.size() && cells[j].fg == cells[i].fg && cells[j].bold == cells[i].bold &&
               is_one_cell_glyph(cells[j].ch)) {
          ++j;
        }
      }
      const std::span<const vt::TerminalCell> span(cells.data() + i, j - i);
      const bool blank =
          std::all_of(span.begin(), span.end(), [](const vt::TerminalCell& cell) { return cell.ch == U' '; });
      if (!blank) {
        run.clear();
        vt::push_cell_chars(run, span);
        const Color colour = cells[i].fg.is_default() ? palette.foreground
                                                      : palette.colors[std::min<std::size_t>(cells[i].fg.index(), 15)];
        vesk_ui::text::TextStyle style;
        style.size = kTerminalTextSize;
        style.weight = cells[i].bold ? kWeightBold : kWeightNormal;
        style.family = vesk_ui::text::FontFamily::Mono;
        const double x = area.x0 + kTerminalInset + kTerminalCellWidth * static_cast<double>(i);
        p.text.draw_text_styled(p.scene, run, style, colour, p.base * vesk_ui::scene::Affine::translate(x, y));
      }
      i = j;
    }
  }
  const double cx = area.x0 + kTerminalInset + kTerminalCellWidth * static_cast<double>(terminal.cursor_column());
  const double cy = area.y0 + kTerminalInset + kTerminalLineHeight * static_cast<double>(terminal.cursor_row());
  p.fill(Rect{cx, cy, cx + kTerminalCellWidth, cy + kTerminalCursorHeight},
         colour_with_alpha(palette.foreground, 0.6f));
  p.scene.pop_layer();
}

}  // namespace

}  // namespace remote::app
