// The connection form: one centred column with the protocol selector, the
// legacy RDP warning, discovered devices, the fields of the protocol, the
// authentication choice, the problems line and the form's buttons.
#include <algorithm>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/views.hpp"
#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"

namespace remote::app {

namespace {

constexpr double kFieldHeight = 40.0;
constexpr double kRowPitch = 56.0;  // caption to the next caption
constexpr double kMaxColumn = 560.0;

double caption_height(vesk_ui::text::TextRenderer& text, std::string_view caption) {
  return text.measure_weighted(caption, 12.0f, std::nullopt, kWeightSemibold).height;
}

constexpr const char* kRdpWarningBody =
    "RDP has no client backend here. Select SSH, VNC, or Vesk to migrate this profile.";
constexpr float kRdpWarningBodySize = 11.5f;
constexpr const char* kDeviceIdentityText =
    "Authenticated by Vesk device identity over the P2P fabric \u2014 no password needed.";
constexpr float kDeviceIdentitySize = 12.5f;
constexpr float kProblemsSize = 12.5f;
// The problems line keeps at least this much room above the buttons.
constexpr double kProblemsToButtons = 28.0;
constexpr double kBelowProblems = 12.0;

}  // namespace

std::vector<InputField> form_focus_order(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::Vnc: return {InputField::Name, InputField::Host, InputField::Port, InputField::Group};
    case ConnectionKind::Vesk: return {InputField::Name, InputField::Host};
    case ConnectionKind::Ssh:
    case ConnectionKind::Rdp: break;
  }
  return {InputField::Name, InputField::Host, InputField::Port, InputField::User, InputField::Group};
}

FormGeometry form_geometry(vesk_ui::text::TextRenderer& text, const Rect& content, const ConnectionForm& form,
                           std::size_t device_count, bool edit, std::string_view problems) {
  FormGeometry g;
  const double width = content.width();
  g.w = std::min(width - 48.0, kMaxColumn);
  g.x = content.x0 + (width - g.w) / 2.0;
  g.xr = g.x + g.w;
  const double x = g.x, xr = g.xr, w = g.w;
  // A caption at y; answers where its field starts.
  auto caption = [&](std::string text_of_caption, double y) {
    const double below = y + caption_height(text, text_of_caption) + 4.0;
    g.captions.push_back({std::move(text_of_caption), y});
    return below;
  };

  g.protocol_caption_y = content.y0 + 72.0;
  const double selector_top = caption("Protocol", g.protocol_caption_y);
  for (int i = 0; i < 3; ++i) {
    g.protocol_segments.push_back(
        Rect{x + w / 3.0 * i, selector_top, x + w / 3.0 * (i + 1), selector_top + kFieldHeight});
  }
  double y = selector_top + kRowPitch;

  if (form.kind == ConnectionKind::Rdp) {
    // The box grows with its second line, which wraps in narrow windows.
    const double body = text.measure(kRdpWarningBody, kRdpWarningBodySize, w - 24.0).height;
    const double height = std::max(54.0, 29.0 + body + 9.0);
    g.rdp_warning = Rect{x, y, xr, y + height};
    y += height + 12.0;
  }
  if (form.kind == ConnectionKind::Vesk) {
    g.devices_caption_y = y;
    const double rows_top = caption("Discovered Vesk devices", y);
    for (std::size_t k = 0; k < device_count; ++k) {
      const double top = rows_top + 44.0 * static_cast<double>(k);
      g.device_rows.push_back(Rect{x, top, xr, top + 36.0});
    }
    y = rows_top + 44.0 * static_cast<double>(device_count) + 8.0;
  }

  double field_top = caption("Name", y);
  g.fields.push_back({InputField::Name, Rect{x, field_top, xr, field_top + kFieldHeight}});
  y = field_top + kRowPitch;

  const bool vesk = form.kind == ConnectionKind::Vesk;
  field_top = caption(vesk ? "Device node" : "Host", y);
  if (vesk) {
    g.fields.push_back({InputField::Host, Rect{x, field_top, xr, field_top + kFieldHeight}});
  } else {
    g.fields.push_back({InputField::Host, Rect{x, field_top, xr - 130.0, field_top + kFieldHeight}});
    g.fields.push_back({InputField::Port, Rect{xr - 118.0, field_top, xr, field_top + kFieldHeight}});
  }
  y = field_top + kRowPitch;

  if (form.kind == ConnectionKind::Vnc) {
    field_top = caption("Group", y);
    g.fields.push_back({InputField::Group, Rect{x, field_top, xr, field_top + kFieldHeight}});
  } else if (vesk) {
    field_top = caption("Authentication", y);
    // The card grows with its sentence, which wraps in narrow windows.
    const double body = text.measure(kDeviceIdentityText, kDeviceIdentitySize, w - 24.0).height;
    g.vesk_card = Rect{x, field_top, xr, field_top + std::max(kFieldHeight, body + 16.0)};
  } else {
    field_top = caption("User", y);
    g.fields.push_back({InputField::User, Rect{x, field_top, x + (w - 12.0) / 2.0, field_top + kFieldHeight}});
    g.fields.push_back({InputField::Group, Rect{x + (w + 12.0) / 2.0, field_top, xr, field_top + kFieldHeight}});
  }

  if (!vesk) {
    y = field_top + kRowPitch;
    field_top = caption("Authentication", y);
    const auto allowed = form.kind.allowed_auths();
    const double n = static_cast<double>(allowed.size());
    for (std::size_t i = 0; i < allowed.size(); ++i) {
      const double di = static_cast<double>(i);
      g.auth_segments.push_back(Rect{x + w / n * di, field_top, x + w / n * (di + 1), field_top + kFieldHeight});
      g.auth_kinds.push_back(allowed[i]);
    }
  }

  // 16 below the last row, however tall it grew.
  const double last_bottom = g.vesk_card ? g.vesk_card->y1 : field_top + kFieldHeight;
  g.problems_y = last_bottom + kRowPitch - kFieldHeight;
  const double problems_h = text.measure(problems, kProblemsSize, w).height;
  const double buttons_top = g.problems_y + std::max(kProblemsToButtons, problems_h + kBelowProblems);
  g.save = Rect{xr - 120.0, buttons_top, xr, buttons_top + kFieldHeight};
  g.cancel = Rect{xr - 230.0, buttons_top, xr - 132.0, buttons_top + kFieldHeight};
  if (edit) g.remove = Rect{x, buttons_top, x + 120.0, buttons_top + kFieldHeight};
  return g;
}

void paint_form(PaintBundle& p, const vesk_ui::widget::PaintContext& paint, const AppView& view, const Rect& content,
                PaintRecorder& out) {
  const AppState& state = view.state;
  const auto& c = p.colors();
  const ConnectionForm& form = state.form;
  const bool edit = state.screen.kind == Screen::Kind::EditConnectionForm;
  const std::vector<std::string> problems = visible_form_problems(form.problems(), state.form_visibility);
  std::string problems_text = "Enter a name and target to save this connection.";
  if (!problems.empty()) {
    problems_text.clear();
    for (const std::string& problem : problems) {
      if (!problems_text.empty()) problems_text += " \u00b7 ";
      problems_text += problem;
    }
  }
  const FormGeometry g = form_geometry(p.text, content, form, state.discovered_devices.size(), edit, problems_text);
  using vesk_ui::widget::button::kDestructiveOutline;
  using vesk_ui::widget::button::kNeutral;
  using vesk_ui::widget::button::kPrimary;

  p.text_at(edit ? "Edit connection" : "New connection", 22.0f, c.text_primary, content.x0 + 24.0, content.y0 + 18.0,
            kWeightBold);
  for (const auto& caption : g.captions) paint_field_label(p, caption.text, g.x, caption.y);
  static constexpr std::array<ConnectionKind, 3> kOffered{ConnectionKind::Ssh, ConnectionKind::Vnc,
                                                          ConnectionKind::Vesk};
  std::optional<std::size_t> selected_kind;
  std::vector<std::string> kind_labels;
  for (std::size_t i = 0; i < kOffered.size(); ++i) {
    out.record(UiMessage::set_kind(kOffered[i]), g.protocol_segments[i]);
    kind_labels.emplace_back(kOffered[i].as_str());
    if (form.kind == kOffered[i]) selected_kind = i;
  }
  paint_toggle_group(p, g.protocol_segments, kind_labels, selected_kind);

  if (g.rdp_warning) {
    const Rect& r = *g.rdp_warning;
    p.fill(rounded(r, 8.0), colour_with_alpha(c.warning, 0.12f));
    p.stroke(rounded(r, 8.0), colour_with_alpha(c.warning, 0.75f), 1.0);
    p.text_at("Legacy RDP profile", 12.0f, c.warning, r.x0 + 12.0, r.y0 + 9.0, kWeightSemibold);
    p.text_at(kRdpWarningBody, kRdpWarningBodySize, c.text_secondary, r.x0 + 12.0, r.y0 + 29.0, std::nullopt,
              g.w - 24.0);
  }

  if (g.devices_caption_y) {
    for (std::size_t k = 0; k < g.device_rows.size(); ++k) {
      const Rect& r = g.device_rows[k];
      const DiscoveredDevice& device = state.discovered_devices[k];
      if (form.host == device.endpoint_id) {
        vesk_ui::surface::card(p.scene, p.base, r, c.surface, 8.0);
        p.stroke(vesk_ui::surface::edge_outline(r, 8.0), vesk_ui::surface::edge_on_with(c.surface, 92), 1.0);
      } else {
        vesk_ui::surface::card(p.scene, p.base, r, p.hovered(r) ? c.surface : c.background, 8.0);
      }
      const double cy = r.center().y;
      p.fill(vesk_ui::scene::Circle{{r.x0 + 16.0, cy}, 4.0}, device.online ? c.success : c.text_secondary);
      // The name ends before the endpoint id; the id keeps its own room.
      const double id_x = r.x1 - 160.0;
      p.text_at(fit_with_ellipsis(p.text, device.display_name, 13.0f, id_x - 12.0 - (r.x0 + 30.0), kWeightMedium),
                13.0f, c.text_primary, r.x0 + 30.0, cy - 8.0, kWeightMedium);
      p.text_at(fit_with_ellipsis(p.text, shorten_label(device.endpoint_id), 12.0f, r.x1 - 12.0 - id_x), 12.0f,
                c.text_secondary, id_x, cy - 7.0);
      out.record(UiMessage::choose_discovered_device(k), r);
    }
  }

  for (const auto& [field, rect] : g.fields) {
    out.inputs.push_back({field, paint_form_field(p, paint, rect, state.input(field), state.focused_input == field)});
    out.record(UiMessage::focus_field(field), rect);
  }

  if (g.vesk_card) {
    const Rect& r = *g.vesk_card;
    vesk_ui::surface::card(p.scene, p.base, r, c.background, 8.0);
    p.fill(rounded(r, 8.0), colour_with_alpha(c.accent, 0.10f));
    // Centred on the card by its wrapped height, so a narrow column's lines stay inside.
    const double h = p.measure(kDeviceIdentityText, kDeviceIdentitySize, std::nullopt, g.w - 24.0).height;
    p.text_at(kDeviceIdentityText, kDeviceIdentitySize, c.text_secondary, r.x0 + 12.0,
              r.center().y - std::max(h / 2.0, 7.0), std::nullopt, g.w - 24.0);
  }
  if (!g.auth_segments.empty()) {
    std::optional<std::size_t> selected_auth;
    std::vector<std::string> auth_labels;
    for (std::size_t i = 0; i < g.auth_segments.size(); ++i) {
      out.record(UiMessage::set_auth(g.auth_kinds[i]), g.auth_segments[i]);
      auth_labels.emplace_back(g.auth_kinds[i].label());
      if (form.auth == g.auth_kinds[i]) selected_auth = i;
    }
    paint_toggle_group(p, g.auth_segments, auth_labels, selected_auth);
  }

  p.text_at(problems_text, kProblemsSize, problems.empty() ? c.text_secondary : c.danger, g.x, g.problems_y,
            std::nullopt, g.w);

  paint_button(p, "Save", g.save, kPrimary);
  out.record(UiMessage::save_form(), g.save);
  paint_button(p, "Cancel", g.cancel, kNeutral);
  out.record(UiMessage::cancel_form(), g.cancel);
  if (g.remove) {
    paint_button(p, "Delete", *g.remove, kDestructiveOutline);
    out.record(UiMessage::request_delete(state.screen.id), *g.remove);
  }
}

}  // namespace remote::app
