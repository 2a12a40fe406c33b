// The overlays: the notice toast and the confirmation dialog.
#include <algorithm>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"

namespace remote::app {

DialogGeometry dialog_geometry(const Rect& window, double extra_height) {
  const double w = std::min(std::max(window.width() - 32.0, 280.0), 460.0);
  const double h = 224.0 + std::max(extra_height, 0.0);
  const auto centre = window.center();
  DialogGeometry g;
  g.panel = Rect{centre.x - w / 2.0, centre.y - h / 2.0, centre.x + w / 2.0, centre.y + h / 2.0};
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

void RemoteApp::paint_notice(PaintBundle& p) {
  const auto& c = p.colors();
  const double wrap = notice_rect(bounds_).width() - 24.0;
  const Rect r = notice_rect(bounds_, p.measure(*state_.notice, 12.0f, std::nullopt, wrap).height);
  // An opaque ground first, so the list below does not show through the tint.
  p.fill(rounded(r, 10.0), vesk_ui::chrome::shell::panel_ground(p.tokens));
  p.fill(rounded(r, 10.0), colour_with_alpha(c.warning, 0.18f));
  p.stroke(rounded(r, 10.0), c.warning, 1.0);
  p.text_at("Action needs review", 12.5f, c.text_primary, r.x0 + 12.0, r.y0 + 9.0, kWeightSemibold);
  p.text_at(*state_.notice, 12.0f, c.text_secondary, r.x0 + 12.0, r.y0 + 27.0, std::nullopt, wrap);
}

void RemoteApp::paint_confirmation(PaintBundle& p) {
  const auto& c = p.colors();
  const Confirmation& confirmation = *state_.confirmation;
  const SavedConnection* connection = find_connection(state_.connections, confirmation.id);
  const std::string name = connection ? connection->name : "this saved connection";
  std::string title, body, confirm_label;
  std::uint8_t confirm_style = vesk_ui::widget::button::kPrimary;
  switch (confirmation.kind) {
    case Confirmation::Kind::Connect:
      title = fill_text("Connect to {}?", name);
      body =
          "This opens a live remote session. Remote will recheck the saved target and access before anything is sent.";
      confirm_label = "Connect";
      break;
    case Confirmation::Kind::Delete:
      title = fill_text("Delete {}?", name);
      body = "This removes the shared saved profile from Remote. It does not modify the remote machine.";
      confirm_label = "Delete";
      confirm_style = vesk_ui::widget::button::kDestructive;
      break;
    case Confirmation::Kind::TrustSshHostKey: {
      title = fill_text("Trust SSH key for {}?", name);
      const std::string algorithm = confirmation.identity ? confirmation.identity->algorithm : std::string();
      const std::string fingerprint = confirmation.identity ? confirmation.identity->fingerprint : std::string();
      body = fill_text("Verify this out of band before trusting: {} {}. This pin is private to this device.", algorithm,
                       fingerprint);
      confirm_label = "Trust key";
      break;
    }
    case Confirmation::Kind::ForgetSshHostKey:
      title = fill_text("Forget SSH key for {}?", name);
      body =
          "This removes only this device's saved host-key pin. Reconnect to inspect and explicitly trust a "
          "replacement key.";
      confirm_label = "Forget key";
      break;
  }

  const Rect window = bounds_;
  p.fill(window, colour_with_alpha(c.scrim, 0.62f));
  // A title that wraps pushes the lines below it (and the panel's bottom) down.
  const double wrap = dialog_geometry(window).panel.width() - 48.0;
  const double extra =
      std::max(p.measure(title, 18.0f, kWeightBold, wrap).height - p.measure(title, 18.0f, kWeightBold).height, 0.0);
  const DialogGeometry g = dialog_geometry(window, extra);
  p.fill(rounded(g.panel, 14.0), vesk_ui::chrome::shell::panel_ground(p.tokens));
  p.stroke(vesk_ui::surface::edge_outline(g.panel, 14.0), vesk_ui::chrome::shell::panel_border(p.tokens), 1.0);
  p.text_at(title, 18.0f, c.text_primary, g.panel.x0 + 24.0, g.panel.y0 + 28.0, kWeightBold, wrap);
  if (connection) {
    p.text_at(connection->target_label(), 12.5f, c.text_secondary, g.panel.x0 + 24.0, g.panel.y0 + 58.0 + extra,
              std::nullopt, wrap);
  }
  p.text_at(body, 13.0f, c.text_secondary, g.panel.x0 + 24.0, g.panel.y0 + 92.0 + extra, std::nullopt, wrap);
  paint_button(p, "Cancel", g.cancel, vesk_ui::widget::button::kNeutral);
  paint_button(p, confirm_label, g.confirm, confirm_style);
  record(UiMessage::cancel_confirmation(), g.cancel);
  record(UiMessage::confirm(), g.confirm);
}

}  // namespace remote::app
