// The session screen: a status card while not connected; once connected a
// header bar over the SSH terminal or the remote picture (VNC or device).
#include <algorithm>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/doc/list.hpp"
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
// The card shows at most this many message lines.
constexpr std::size_t kMaxCardLines = 4;

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

}  // namespace

SessionCardGeometry session_card_geometry(const Rect& area, std::size_t lines,
                                          std::optional<SessionCardButton> first_slot, std::optional<Uuid> edit_id) {
  SessionCardGeometry g;
  const double n = static_cast<double>(lines);
  const double width = std::min(area.width() - 40.0, 460.0);
  const double height = 336.0 + 22.0 * n;
  const double left = area.x0 + (area.width() - width) / 2.0;
  const double top = area.y0 + std::max((area.height() - height) / 2.0, 16.0);
  g.card = Rect{left, top, left + width, top + height};
  g.cx = left + width / 2.0;
  const double btop = top + 244.0 + 22.0 * n;
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

void RemoteApp::paint_session(PaintBundle& p, const Rect& content) {
  const auto& c = p.colors();
  const SavedConnection* connection = find_connection(state_.connections, state_.screen.id);
  if (!connection) {
    p.text_at("Connection no longer exists.", 14.0f, c.text_secondary, content.x0 + 24.0, content.y0 + 24.0);
    return;
  }
  std::optional<SessionStatus> status;
  if (state_.live_session) status = state_.live_session->status();

  if (!status || !status->is_connected()) {
    const CardText text = card_text(status, connection->kind);
    std::optional<SessionCardButton> first;
    if (connection->kind == ConnectionKind::Ssh) {
      if (auto observation = pending_host_key(connection->id)) {
        if (observation->unknown()) {
          first = SessionCardButton{
              "Trust key", {}, vesk_ui::widget::button::kNeutral, UiMessage::request_trust_host_key(connection->id)};
        } else if (observation->changed()) {
          first = SessionCardButton{
              "Forget key", {}, vesk_ui::widget::button::kNeutral, UiMessage::request_forget_host_key(connection->id)};
        }
      }
    }
    if (!first && text.tone == 2) {
      first =
          SessionCardButton{"Retry", {}, vesk_ui::widget::button::kNeutral, UiMessage::request_connect(connection->id)};
    }
    // Lines wider than the card are broken so they stay inside it; the card
    // grows by one line slot for each extra line.
    const double wrap = std::max(std::min(content.width() - 40.0, 460.0) - 48.0, 80.0);
    std::vector<std::string> lines;
    for (const std::string& line : text.lines) {
      for (std::string& wrapped : wrap_words(p.text, line, 13.0f, wrap)) {
        // A word wider than the card is cut rather than run past its edges.
        lines.push_back(fit_with_ellipsis(p.text, wrapped, 13.0f, wrap));
      }
    }
    // A long server reason must not push the buttons out of the window; the
    // whole text stays in the accessible status.
    if (lines.size() > kMaxCardLines) {
      lines.resize(kMaxCardLines);
      lines.back() = fit_with_ellipsis(p.text, lines.back(), 13.0f, wrap, std::nullopt, true);
    }
    const SessionCardGeometry g = session_card_geometry(
        content, lines.size(), std::move(first), text.edit_profile ? std::optional(connection->id) : std::nullopt);
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
    p.text_centred(fill_text("{} \u00b7 {}", connection->target_label(), connection->kind.label()), 13.0f,
                   c.text_secondary, g.cx, y0 + 154.0);
    const double label_w = p.measure(text.status, 13.0f, kWeightSemibold).width;
    const Rect pill{g.cx - (label_w + 44.0) / 2.0, y0 + 184.0, g.cx + (label_w + 44.0) / 2.0, y0 + 214.0};
    vesk_ui::surface::pill(p.scene, p.base, pill, colour_with_alpha(tone, 0.16f), colour_with_alpha(tone, 0.55f), 0);
    const double pill_cy = pill.center().y;
    p.fill(vesk_ui::scene::Circle{{pill.x0 + 16.0, pill_cy}, 4.0}, tone);
    p.text_at(text.status, 13.0f, c.text_primary, pill.x0 + 28.0, pill_cy - 8.0, kWeightSemibold);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      p.text_centred(lines[i], 13.0f, c.text_secondary, g.cx, y0 + 230.0 + 22.0 * static_cast<double>(i));
    }
    for (const SessionCardButton& button : g.buttons) {
      paint_button(p, button.label, button.rect, button.style);
      record(button.message, button.rect);
    }
    return;
  }

  Rect area = content;
  if (!state_.fullscreen) {
    const Rect header{content.x0, content.y0, content.x1, content.y0 + kHeaderHeight};
    p.fill(header, c.surface);
    p.fill(Rect{header.x0, header.y1 - 1.0, header.x1, header.y1}, vesk_ui::chrome::shell::chrome_hairline(p.tokens));
    const double cy = header.y0 + kHeaderHeight / 2.0;
    // Buttons first, so the name and subtitle can be kept clear of them.
    const Rect disconnect{header.x1 - 122.0, header.y0 + 8.0, header.x1 - 12.0, header.y0 + 40.0};
    const bool picture_controls = connection->kind != ConnectionKind::Ssh;
    const std::string scale_label = state_.scale_to_fit ? "Scale: Fit" : "Scale: 1:1";
    auto header_button = [&](std::string_view label, double right) {
      const double w = text_width(p.text, label, 13.0f) + 24.0;
      return Rect{right - w, cy - 16.0, right, cy + 16.0};
    };
    const Rect full = header_button("Fullscreen", disconnect.x0 - 12.0);
    const Rect scale = header_button(scale_label, full.x0 - 8.0);
    const double text_right = (picture_controls ? scale.x0 : disconnect.x0) - 8.0;

    p.fill(vesk_ui::scene::Circle{{header.x0 + 18.0, cy}, 5.0}, c.success);
    p.scene.push_layer(vesk_ui::scene::BlendMode::Normal, 1.0f, p.base,
                       Rect{header.x0, header.y0, std::max(text_right, header.x0), header.y1});
    const auto name = p.measure(connection->name, 14.0f, kWeightSemibold);
    p.text_at(connection->name, 14.0f, c.text_primary, header.x0 + 32.0, cy - name.height / 2.0, kWeightSemibold);
    const char* what = connection->kind == ConnectionKind::Ssh    ? "shell"
                       : connection->kind == ConnectionKind::Vesk ? "workspace stream"
                                                                  : "framebuffer";
    const std::string subtitle = fill_text("\u00b7 {} \u00b7 {}", connection->target_label(), what);
    const auto sub = p.measure(subtitle, 12.0f);
    p.text_at(subtitle, 12.0f, c.text_secondary, header.x0 + 40.0 + name.width, cy - sub.height / 2.0);
    p.scene.pop_layer();

    paint_button(p, "Disconnect", disconnect, vesk_ui::widget::button::kDestructiveOutline);
    record(UiMessage::disconnect(), disconnect);
    if (picture_controls) {
      paint_button(p, "Fullscreen", full, vesk_ui::widget::button::kNeutral);
      record(UiMessage::toggle_fullscreen(), full);
      paint_button(p, scale_label, scale, vesk_ui::widget::button::kNeutral);
      record(UiMessage::toggle_scale(), scale);
    }
    area.y0 = header.y1;
  }
  const LiveSession::Ssh* ssh = state_.live_session ? state_.live_session->ssh() : nullptr;
  if (ssh) {
    paint_terminal(p, area, ssh->session ? &ssh->session->terminal() : nullptr);
  } else if (connection->kind == ConnectionKind::Ssh && state_.review_terminal) {
    paint_terminal(p, area, &*state_.review_terminal);
  } else {
    paint_picture(p, area);
  }
}

void RemoteApp::paint_picture(PaintBundle& p, const Rect& area) {
  const auto& c = p.colors();
  p.fill(area, Color::black());
  const auto& picture = state_.session_picture;
  if (!picture) {
    p.text_at("Connected \u2014 waiting for the first framebuffer update\u2026", 13.0f, c.text_secondary,
              area.x0 + 24.0, area.y0 + 24.0);
  } else {
    const Rect shown = picture_rect(area, picture->width, picture->height, state_.scale_to_fit);
    state_.session_surface = shown;
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
  if (state_.fullscreen) {
    p.text_at("Esc to exit fullscreen", 12.0f, c.text_secondary, area.x1 - 170.0, area.y0 + 12.0);
  }
}

void RemoteApp::paint_terminal(PaintBundle& p, const Rect& area, const vt::Terminal* shown) {
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

}  // namespace remote::app
