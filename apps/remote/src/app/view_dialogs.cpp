// The overlays: the notice toast and the confirmation dialog.
#include <algorithm>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/views.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"

namespace remote::app {

DialogGeometry dialog_geometry(const Rect& window, double extra_height) {
  const double w = std::min(std::max(window.width() - 32.0, 280.0), 460.0);
  const double h = 224.0 + std::max(extra_height, 0.0);
  const auto centre = window.center();
  // Taller than the window: its top stays in view; the rest runs below.
  const double top = h > window.height() - 2.0 * kOverlayMargin ? window.y0 + kOverlayMargin : centre.y - h / 2.0;
  DialogGeometry g;
  g.panel = Rect{centre.x - w / 2.0, top, centre.x + w / 2.0, top + h};
  g.cancel = Rect{g.panel.x1 - 244.0, g.panel.y1 - 58.0, g.panel.x1 - 132.0, g.panel.y1 - 18.0};
  g.confirm = Rect{g.panel.x1 - 120.0, g.panel.y1 - 58.0, g.panel.x1 - 18.0, g.panel.y1 - 18.0};
  return g;
}

Rect notice_rect(const Rect& window, double text_height) {
  const double w = std::min(window.width() - 32.0, 520.0);
  // The text starts 27 down and keeps a 12 margin below; the toast grows upwards.
  const double h = std::max(kNoticeHeight, 27.0 + text_height + 12.0);
  return Rect{window.x1 - 16.0 - w, window.y1 - 16.0 - h, window.x1 - 16.0, window.y1 - 16.0};
}

namespace {

// The text wrapped at `wrap`, cut with "…" when it is taller than `room`.
std::string fit_height(vesk_ui::text::TextRenderer& text, const std::string& s, float size,
                       std::optional<std::uint8_t> weight, double wrap, double room) {
  const auto height = [&](const std::string& t) {
    return weight ? text.measure_weighted(t, size, wrap, *weight).height : text.measure(t, size, wrap).height;
  };
  if (height(s) <= room) return s;
  const double line = weight ? text.measure_weighted("Hg", size, std::nullopt, *weight).height
                             : text.measure("Hg", size, std::nullopt).height;
  std::size_t lines = line > 0 ? static_cast<std::size_t>(std::max(room, 0.0) / line) : 1;
  // The renderer may break a little differently: shorten until it fits.
  while (true) {
    std::string cut = join_lines(wrap_block(text, s, size, wrap, weight, std::max<std::size_t>(lines, 1)).lines);
    if (lines <= 1 || height(cut) <= room) return cut;
    --lines;
  }
}

}  // namespace

void paint_notice(PaintBundle& p, const AppView& view) {
  const auto& c = p.colors();
  const Rect window = view.window;
  const double wrap = notice_rect(window).width() - 24.0;
  // The toast may grow up to the window's top margin; a text taller than
  // that is cut there.
  const double room = window.height() - 2.0 * kOverlayMargin - 27.0 - 12.0;
  const std::string shown = fit_height(p.text, *view.state.notice, 12.0f, std::nullopt, wrap, room);
  const Rect r = notice_rect(window, p.measure(shown, 12.0f, std::nullopt, wrap).height);
  // An opaque ground first, so the list below does not show through the tint.
  p.fill(rounded(r, 10.0), vesk_ui::chrome::shell::panel_ground(p.tokens));
  p.fill(rounded(r, 10.0), colour_with_alpha(c.warning, 0.18f));
  p.stroke(rounded(r, 10.0), c.warning, 1.0);
  p.text_at(fit_with_ellipsis(p.text, "Action needs review", 12.5f, wrap, kWeightSemibold), 12.5f, c.text_primary,
            r.x0 + 12.0, r.y0 + 9.0, kWeightSemibold);
  p.text_at(shown, 12.0f, c.text_secondary, r.x0 + 12.0, r.y0 + 27.0, std::nullopt, wrap);
}

void paint_confirmation(PaintBundle& p, const AppView& view, PaintRecorder& out) {
  const auto& c = p.colors();
  const Confirmation& confirmation = *view.state.confirmation;
  const SavedConnection* connection = find_connection(view.state.connections, confirmation.id);
  const std::string name = connection ? connection->name : "this saved connection";
  std::string title, body, confirm_label;
  std::uint8_t confirm_style = vesk_ui::widget::button::kPrimary;
  switch (confirmation.kind) {
    case Confirmation::Kind::Connect:
      title = remote::text::fill("Connect to {}?", {name});
      body =
          "This opens a live remote session. Remote will recheck the saved target and access before anything is sent.";
      confirm_label = "Connect";
      break;
    case Confirmation::Kind::Delete:
      title = remote::text::fill("Delete {}?", {name});
      body = "This removes the shared saved profile from Remote. It does not modify the remote machine.";
      confirm_label = "Delete";
      confirm_style = vesk_ui::widget::button::kDestructive;
      break;
    case Confirmation::Kind::TrustSshHostKey: {
      title = remote::text::fill("Trust SSH key for {}?", {name});
      const std::string algorithm = confirmation.identity ? confirmation.identity->algorithm : std::string();
      const std::string fingerprint = confirmation.identity ? confirmation.identity->fingerprint : std::string();
      body = remote::text::fill("Verify this out of band before trusting: {} {}. This pin is private to this device.",
                                {algorithm, fingerprint});
      confirm_label = "Trust key";
      break;
    }
    case Confirmation::Kind::ForgetSshHostKey:
      title = remote::text::fill("Forget SSH key for {}?", {name});
      body =
          "This removes only this device's saved host-key pin. Reconnect to inspect and explicitly trust a "
          "replacement key.";
      confirm_label = "Forget key";
      break;
  }

  const Rect window = view.window;
  p.fill(window, colour_with_alpha(c.scrim, 0.62f));
  // Title, target and body wrap at the panel's width (a word wider than it
  // is broken, not cut), and the panel grows to hold them. Only the title
  // (the connection's name) is cut when even a panel as tall as the window
  // is too short: the target names the host and the body the key.
  const double wrap = dialog_geometry(window).panel.width() - 48.0;
  const std::string target = connection ? connection->target_label() : std::string();
  const double target_h = connection ? p.measure(target, 12.5f, std::nullopt, wrap).height : 0.0;
  const double target_line = connection ? p.measure(target, 12.5f).height : 0.0;
  const double body_h = p.measure(body, 13.0f, std::nullopt, wrap).height;
  const double title_line = p.measure(title, 18.0f, kWeightBold).height;
  // The panel's height for a title this tall: 224 when every text takes the
  // lines it takes in a roomy window.
  const auto panel_height = [&](double title_h) {
    const double body_top = 92.0 + (title_h - title_line) + (target_h - target_line);
    return std::max(166.0, body_top + body_h + 16.0) + 58.0;
  };
  const double room = window.height() - 2.0 * kOverlayMargin;
  const double title_room = room - panel_height(title_line) + title_line;
  const std::string shown_title = fit_height(p.text, title, 18.0f, kWeightBold, wrap, title_room);
  const double title_h = p.measure(shown_title, 18.0f, kWeightBold, wrap).height;
  const double title_extra = std::max(title_h - title_line, 0.0);
  const DialogGeometry g = dialog_geometry(window, panel_height(title_h) - 224.0);
  p.fill(rounded(g.panel, 14.0), vesk_ui::chrome::shell::panel_ground(p.tokens));
  p.stroke(vesk_ui::surface::edge_outline(g.panel, 14.0), vesk_ui::chrome::shell::panel_border(p.tokens), 1.0);
  p.text_at(shown_title, 18.0f, c.text_primary, g.panel.x0 + 24.0, g.panel.y0 + 28.0, kWeightBold, wrap);
  if (connection) {
    p.text_at(target, 12.5f, c.text_secondary, g.panel.x0 + 24.0, g.panel.y0 + 58.0 + title_extra, std::nullopt, wrap);
  }
  p.text_at(body, 13.0f, c.text_secondary, g.panel.x0 + 24.0,
            g.panel.y0 + 92.0 + title_extra + std::max(target_h - target_line, 0.0), std::nullopt, wrap);
  paint_button(p, "Cancel", g.cancel, vesk_ui::widget::button::kNeutral);
  paint_button(p, confirm_label, g.confirm, confirm_style);
  out.record(UiMessage::cancel_confirmation(), g.cancel);
  out.record(UiMessage::confirm(), g.confirm);
}

}  // namespace remote::app
