// The connection list: header, search field, one card per matching saved
// connection, the empty state, and the row geometry keyboard scrolling shares.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/list_cache.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/views.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"

namespace remote::app {

namespace {

// Below this content width the header uses its short title and button label.
constexpr double kCompactHeaderWidth = 520.0;
// Below this content width (times the text scale) rows stack their buttons.
constexpr double kStackedRowsWidth = 620.0;
constexpr double kRowGap = 8.0;
// Row texts start this far inside the card; the star sits this far after the
// name's end, in a square of twice this half side.
constexpr double kRowTextInset = 44.0;
constexpr double kStarAfterName = 16.0;
constexpr double kStarHalf = 11.0;
constexpr double kButtonGap = 12.0;

bool header_compact(double width) { return width < kCompactHeaderWidth; }

}  // namespace

std::string list_counts_text(const std::vector<SavedConnection>& connections) {
  std::vector<Readiness> readiness;
  readiness.reserve(connections.size());
  for (const SavedConnection& c : connections) readiness.push_back(c.readiness());
  return list_counts_text(connections, readiness);
}

ListHeaderGeometry list_header_geometry(vesk_ui::text::TextRenderer& text, const Rect& content,
                                        const std::vector<SavedConnection>& connections) {
  return list_header_geometry(text, content, list_counts_text(connections));
}

ListHeaderGeometry list_header_geometry(vesk_ui::text::TextRenderer& text, const Rect& content, std::string counts) {
  ListHeaderGeometry g;
  const double w = content.width();
  const bool compact = header_compact(w);
  g.title = compact ? "Remote" : "Remote Machines";
  g.title_height = text.measure_weighted(g.title, 22.0f, std::nullopt, kWeightBold).height;
  g.counts = std::move(counts);
  g.new_label = compact ? "+ New" : "+ New connection";
  const double label_w = text_width(text, g.new_label, 13.0f);
  const double button_w = std::max(label_w + 28.0, compact ? 88.0 : 150.0);
  const double centre_y = content.y0 + 16.0 + g.title_height / 2.0;
  g.new_button = Rect{content.x1 - 24.0 - button_w, centre_y - 16.0, content.x1 - 24.0, centre_y + 16.0};
  const double counts_h = text.measure("0", 13.0f, std::nullopt).height;
  const double top = content.y0 + std::max(16.0 + g.title_height + 4.0 + counts_h + 12.0, 64.0) + 8.0;
  g.search = Rect{content.x0 + 24.0, top, content.x1 - 24.0, top + 36.0};
  g.list_top = g.search.y1 + 16.0;
  return g;
}

ListMetrics compute_list_metrics(vesk_ui::text::TextRenderer& text) {
  ListMetrics m;
  m.scale = text.scale_factor();
  m.cache_key = m.scale;
  m.name_block = line_height(text, 16.0f) + 18.0;
  m.meta_line = line_height(text, 11.0f) + 4.0;
  m.button_height = std::max(line_height(text, 13.0f) + 12.0, 32.0);
  double widest = text_width(text, "Connect", 13.0f);
  for (const char* badge : {"Needs access", "Not supported", "Fix profile"}) {
    widest = std::max(widest, text_width(text, badge, 11.5f));
  }
  m.action_width = std::max(widest + 18.0, 100.0);
  m.edit_width = std::max(text_width(text, "Edit", 13.0f) + 24.0, 76.0);
  m.text_block = m.name_block + m.meta_line + 16.0;
  m.wide_row_height = std::max(m.text_block, 72.0);
  m.stacked_row_height = std::max(m.text_block + m.button_height + 12.0, 116.0);
  return m;
}

ListRowGeometry list_row_geometry(vesk_ui::text::TextRenderer& text, const ListMetrics& metrics, const Rect& card,
                                  bool stacked, const SavedConnection& connection) {
  ListRowGeometry g;
  g.card = card;
  const double text_x = card.x0 + kRowTextInset;
  const auto label = text.measure_weighted(connection.kind.as_str(), 11.0f, std::nullopt, kWeightSemibold);
  const double pill_top = card.y0 + metrics.name_block;
  g.pill = Rect{text_x, pill_top, text_x + label.width + 16.0, pill_top + label.height + 4.0};

  double top = 0, bottom = 0, right = 0;
  if (stacked) {
    top = card.y0 + metrics.text_block;
    bottom = top + metrics.button_height;
    right = card.x1 - 12.0;
  } else {
    const double cy = (card.y0 + card.y1) / 2.0;
    top = cy - metrics.button_height / 2.0;
    bottom = cy + metrics.button_height / 2.0;
    right = card.x1 - 16.0;
  }
  // Edit and the action keep their widths while they fit the row; in a row
  // narrower than that (enlarged text) they share what there is.
  double action_w = metrics.action_width, edit_w = metrics.edit_width, gap = kButtonGap;
  const double needed = action_w + gap + edit_w;
  const double room = right - (card.x0 + 12.0);
  if (needed > room) {
    const double share = std::max(room, 0.0) / needed;
    action_w *= share;
    edit_w *= share;
    gap *= share;
  }
  g.action = Rect{right - action_w, top, right, bottom};
  g.edit = Rect{g.action.x0 - gap - edit_w, top, g.action.x0 - gap, bottom};

  // Last use: beside Edit in wide rows (at most a third of the text's room),
  // on the button line of stacked rows only where it fits whole.
  if (stacked) {
    g.text_right = card.x1 - 12.0;
    const auto used = text.measure(connection.last_used, 12.0f, std::nullopt);
    if (!connection.last_used.empty() && text_x + used.width <= g.edit.x0 - 12.0) {
      g.last_used = connection.last_used;
      g.last_used_x = text_x;
      g.last_used_height = used.height;
    }
  } else {
    const double used_right = g.edit.x0 - 16.0;
    double used_w = 0;
    if (!connection.last_used.empty()) {
      FittedText used = fit_text(text, connection.last_used, 12.0f, std::max(used_right - text_x, 0.0) / 3.0);
      g.last_used = std::move(used.text);
      g.last_used_height = used.size.height;
      used_w = used.size.width;
    }
    g.last_used_x = used_right - used_w;
    g.text_right = (g.last_used.empty() ? g.edit.x0 : g.last_used_x) - 16.0;
  }

  // The star follows the name and ends inside the text's room.
  FittedText name =
      fit_text(text, connection.name, 16.0f, g.text_right - kStarAfterName - kStarHalf - text_x, kWeightSemibold);
  g.name = std::move(name.text);
  g.name_width = name.size.width;
  const double star_x = std::min(text_x + g.name_width + kStarAfterName, card.x1 - 12.0 - kStarHalf);
  const double star_y = card.y0 + 21.0;
  g.star = Rect{star_x - kStarHalf, star_y - kStarHalf, star_x + kStarHalf, star_y + kStarHalf};

  g.target_x = g.pill.x1 + 12.0;
  FittedText target = fit_text(text, connection.target_label(), 13.0f, g.text_right - g.target_x);
  g.target = std::move(target.text);
  if (!stacked && !connection.group.empty()) {
    g.group_x = g.target_x + target.size.width + 14.0;
    const double group_room = g.text_right - g.group_x;
    FittedText group = fit_text(text, remote::text::fill("\u00b7 {}", {connection.group}), 12.0f, group_room);
    // Not even "· …" fits: the group is left out rather than drawn over Edit.
    if (group.text.size() > 2 && group.size.width <= group_room) g.group = std::move(group.text);
  }
  return g;
}

void paint_list(PaintBundle& p, const vesk_ui::widget::PaintContext& paint, const AppView& view, const Rect& content,
                PaintRecorder& out) {
  const AppState& state = view.state;
  const Rect window = view.window;
  const auto& c = p.colors();
  const ListCache& cached = *view.list;
  const ListHeaderGeometry header = list_header_geometry(p.text, content, cached.counts_text());

  p.text_at(header.title, 22.0f, c.text_primary, content.x0 + 24.0, content.y0 + 16.0, kWeightBold);
  p.text_at(fit_with_ellipsis(p.text, header.counts, 13.0f, content.width() - 48.0), 13.0f, c.text_secondary,
            content.x0 + 24.0, content.y0 + 16.0 + header.title_height + 4.0);
  paint_button(p, header.new_label, header.new_button, vesk_ui::widget::button::kPrimary);
  out.record(UiMessage::new_connection(), header.new_button);
  out.inputs.push_back({InputField::Search, paint_form_field(p, paint, header.search, state.input(InputField::Search),
                                                             state.focused_input == InputField::Search)});
  out.record(UiMessage::focus_field(InputField::Search), header.search);

  const double list_top = header.list_top;
  ListLayout& layout = out.list.emplace(ListLayout{state.list_metrics, state.list_scroll, state.list_scroll_max, {}});
  layout.metrics.list_top = list_top - window.y0;
  const std::vector<std::size_t>& rows = cached.order();
  const double cx = (content.x0 + content.x1) / 2.0;
  const double w = content.width();

  if (rows.empty()) {
    layout.scroll = 0;
    layout.scroll_max = 0;
    if (!state.connections.empty()) {
      p.text_centred("No machines match your search.", 14.0f, c.text_secondary, cx, list_top + 48.0);
      return;
    }
    // Empty state: an invitation to add the first machine.
    const Point centre{cx, list_top + std::max((window.y1 - list_top) * 0.3, 24.0) + 36.0};
    p.fill(vesk_ui::scene::Circle{centre, 36.0}, colour_with_alpha(c.accent, 0.12f));
    p.stroke(vesk_ui::scene::Circle{centre, 36.0}, colour_with_alpha(c.accent, 0.8f), 2.0);
    p.stroke(vesk_ui::scene::Line{{centre.x - 12.0, centre.y}, {centre.x + 12.0, centre.y}}, c.accent, 2.6);
    p.stroke(vesk_ui::scene::Line{{centre.x, centre.y - 12.0}, {centre.x, centre.y + 12.0}}, c.accent, 2.6);
    const double title_top = centre.y - 36.0 + 96.0;
    const auto title = p.text_centred("No machines yet", 19.0f, c.text_primary, cx, title_top, kWeightBold);
    const char* body = "Add one to reach it over SSH, VNC, or the Vesk relay.";
    const double wrap = std::max(w - 48.0, 120.0);
    const auto body_size = p.measure(body, 13.5f, std::nullopt, wrap);
    const double body_top = title_top + title.height + 6.0;
    p.text_at(body, 13.5f, c.text_secondary, cx - body_size.width / 2.0, body_top, std::nullopt, wrap);
    const double bw = std::max(text_width(p.text, "+ New connection", 13.0f) + 32.0, 168.0);
    const double btop = body_top + body_size.height + 16.0;
    const Rect button{cx - bw / 2.0, btop, cx + bw / 2.0, btop + 40.0};
    paint_button(p, "+ New connection", button, vesk_ui::widget::button::kPrimary);
    out.record(UiMessage::new_connection(), button);
    return;
  }

  ListMetrics& metrics = layout.metrics;
  if (!metrics.cache_key || *metrics.cache_key != p.text.scale_factor()) {
    const double top = metrics.list_top;
    metrics = compute_list_metrics(p.text);
    metrics.list_top = top;
  }
  const bool stacked = w < metrics.scale * kStackedRowsWidth;
  layout.stacked_rows = stacked;
  const double h = stacked ? metrics.stacked_row_height : metrics.wide_row_height;
  const double pitch = h + kRowGap;
  const double count = static_cast<double>(rows.size());
  layout.scroll_max = std::max(pitch * count - kRowGap - (window.y1 - list_top), 0.0);
  layout.scroll = std::clamp(layout.scroll, 0.0, layout.scroll_max);

  const Rect list_area{content.x0, list_top, content.x1, window.y1};
  p.scene.push_layer(vesk_ui::scene::BlendMode::Normal, 1.0f, p.base, list_area);
  // A row scrolled under the header keeps no clickable part outside the list.
  const auto record_in_list = [&](const UiMessage& message, const Rect& rect) {
    const Rect clipped{std::max(rect.x0, list_area.x0), std::max(rect.y0, list_area.y0),
                       std::min(rect.x1, list_area.x1), std::min(rect.y1, list_area.y1)};
    if (!clipped.is_empty()) out.record(message, clipped);
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double top = list_top - layout.scroll + static_cast<double>(i) * pitch;
    const double bottom = top + h;
    if (top > window.y1 || bottom < list_top) continue;
    const SavedConnection& row = state.connections[rows[i]];
    const Rect card{content.x0 + 24.0, top, content.x1 - 24.0, bottom};
    const ListRowGeometry g = list_row_geometry(p.text, metrics, card, stacked, row);
    const double cy = (top + bottom) / 2.0;

    vesk_ui::surface::card(p.scene, p.base, card, c.surface, 12.0);
    const bool selected = state.selection == row.id;
    const auto [selected_fill, selected_edge] = edge_colours(c.surface);
    if (selected) p.fill(rounded(card, 12.0), selected_fill);
    if (selected || p.hovered(card)) p.stroke(vesk_ui::surface::edge_outline(card, 12.0), selected_edge, 1.0);
    record_in_list(UiMessage::select_connection(row.id), card);

    const Point dot{card.x0 + 22.0, cy};
    const Color presence = row.presence == Presence::Online    ? c.success
                           : row.presence == Presence::Offline ? c.danger
                                                               : c.text_secondary;
    p.fill(vesk_ui::scene::Circle{dot, 5.0}, presence);
    if (row.presence == Presence::Online) p.fill(vesk_ui::scene::Circle{dot, 9.0}, colour_with_alpha(c.success, 0.25f));

    p.text_at(g.name, 16.0f, c.text_primary, card.x0 + kRowTextInset, top + 13.0, kWeightSemibold);

    vesk_ui::scene::Path star;
    const Point sc = g.star.center();
    for (int k = 0; k < 10; ++k) {
      const double angle = k * std::numbers::pi / 5.0 - std::numbers::pi / 2.0;
      const double radius = k % 2 == 0 ? 7.0 : 2.94;
      const Point pt{sc.x + radius * std::cos(angle), sc.y + radius * std::sin(angle)};
      if (k == 0)
        star.move_to(pt);
      else
        star.line_to(pt);
    }
    star.close();
    if (row.favorite)
      p.fill(star, c.warning);
    else
      p.stroke(star, c.text_secondary, 1.2);
    record_in_list(UiMessage::toggle_favorite(row.id), g.star);

    const Color kind_colour = row.kind == ConnectionKind::Ssh   ? c.success
                              : row.kind == ConnectionKind::Vnc ? c.info
                              : row.kind == ConnectionKind::Rdp ? c.warning
                                                                : c.accent_secondary;
    vesk_ui::surface::pill(p.scene, p.base, g.pill, colour_with_alpha(kind_colour, 0.18f), std::nullopt, 0);
    p.text_at(row.kind.as_str(), 11.0f, kind_colour, card.x0 + 52.0, g.pill.y0 + 2.0, kWeightSemibold);
    p.text_at(g.target, 13.0f, c.text_secondary, g.target_x, g.pill.y0);
    if (!g.group.empty()) p.text_at(g.group, 12.0f, c.text_secondary, g.group_x, g.pill.y0 + 1.0);

    const Readiness readiness = cached.readiness(rows[i]);
    if (readiness == Readiness::Ready) {
      paint_button(p, "Connect", g.action, vesk_ui::widget::button::kPrimary);
      record_in_list(UiMessage::request_connect(row.id), g.action);
    } else {
      const char* badge = readiness == Readiness::CapabilityRequired   ? "Needs access"
                          : readiness == Readiness::BackendUnavailable ? "Not supported"
                                                                       : "Fix profile";
      const Color tone = readiness == Readiness::BackendUnavailable ? c.text_secondary : c.warning;
      vesk_ui::surface::pill(p.scene, p.base, g.action, colour_with_alpha(tone, 0.12f), colour_with_alpha(tone, 0.75f),
                             1);
      const FittedText label = fit_text(p.text, badge, 11.5f, g.action.width() - 8.0, kWeightSemibold);
      const Point ac = g.action.center();
      p.text_at(label.text, 11.5f, tone, ac.x - label.size.width / 2.0, ac.y - label.size.height / 2.0,
                kWeightSemibold);
    }
    paint_button(p, "Edit", g.edit, vesk_ui::widget::button::kNeutral);
    record_in_list(UiMessage::edit_connection(row.id), g.edit);

    if (!g.last_used.empty()) {
      const double used_cy = stacked ? g.edit.center().y : cy;
      p.text_at(g.last_used, 12.0f, c.text_secondary, g.last_used_x, used_cy - g.last_used_height / 2.0);
    }
  }
  p.scene.pop_layer();
}

const ListCache& RemoteApp::list_results() const {
  list_cache_.refresh(state_.connections, state_.search);
  return list_cache_;
}

void RemoteApp::scroll_selection_into_view(std::size_t row, std::size_t count) {
  const ListMetrics& m = state_.list_metrics;
  const Rect window = bounds_;
  const bool stacked = std::max(window.width() - kRailWidth, 0.0) < m.scale * kStackedRowsWidth;
  const double h = stacked ? m.stacked_row_height : m.wide_row_height;
  const double pitch = h + kRowGap;
  const double viewport = std::max(window.height() - m.list_top, h);
  state_.list_scroll_max = std::max(pitch * static_cast<double>(count) - kRowGap - viewport, 0.0);
  const double row_top = pitch * static_cast<double>(row);
  if (row_top < state_.list_scroll) {
    state_.list_scroll = row_top;
  } else if (row_top + h > state_.list_scroll + viewport) {
    state_.list_scroll = row_top + h - viewport;
  }
  state_.list_scroll = std::clamp(state_.list_scroll, 0.0, state_.list_scroll_max);
}

}  // namespace remote::app
