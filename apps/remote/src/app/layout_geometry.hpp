#pragma once
// Geometry of each screen, computed in one place and used by its painter;
// hit testing and accessibility read the regions the painter records from it.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/state.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"

namespace remote::app {

// ---- connection list ----

struct ListHeaderGeometry {
  std::string title;
  double title_height = 0;
  std::string counts;
  std::string new_label;
  Rect new_button;
  Rect search;
  double list_top = 0;  // absolute
};

// Counts line over all saved connections (not only the matching ones).
std::string list_counts_text(const std::vector<SavedConnection>& connections);
ListHeaderGeometry list_header_geometry(vesk_ui::text::TextRenderer& text, const Rect& content,
                                        const std::vector<SavedConnection>& connections);
// The same with the counts line already known.
ListHeaderGeometry list_header_geometry(vesk_ui::text::TextRenderer& text, const Rect& content, std::string counts);
// The row metrics for the renderer's current scale factor.
ListMetrics compute_list_metrics(vesk_ui::text::TextRenderer& text);

struct ListRowGeometry {
  Rect card;
  Rect star;  // 22 × 22 around the star's centre
  Rect pill;
  Rect action;  // Connect button or badge
  Rect edit;
  double name_width = 0;
};
ListRowGeometry list_row_geometry(vesk_ui::text::TextRenderer& text, const ListMetrics& metrics, const Rect& card,
                                  bool stacked, const SavedConnection& connection);

// ---- connection form ----

struct FormGeometry {
  double x = 0, w = 0, xr = 0;
  double protocol_caption_y = 0;
  std::vector<Rect> protocol_segments;  // SSH, VNC, Vesk
  std::optional<Rect> rdp_warning;
  std::optional<double> devices_caption_y;
  std::vector<Rect> device_rows;
  struct Caption {
    std::string text;
    double y = 0;
  };
  std::vector<Caption> captions;                    // every caption; x is the column's left
  std::vector<std::pair<InputField, Rect>> fields;  // in paint order
  std::optional<Rect> vesk_card;
  std::vector<Rect> auth_segments;
  std::vector<AuthKind> auth_kinds;
  double problems_y = 0;
  Rect save, cancel;
  std::optional<Rect> remove;  // edit form only
};
// The form's order of focus for Tab: SSH and RDP Name, Host, Port, User, Group;
// VNC Name, Host, Port, Group; Vesk Name, Host.
std::vector<InputField> form_focus_order(ConnectionKind kind);
FormGeometry form_geometry(vesk_ui::text::TextRenderer& text, const Rect& content, const ConnectionForm& form,
                           std::size_t device_count, bool edit);

// ---- session screen ----

struct SessionCardButton {
  std::string label;
  Rect rect;
  std::uint8_t style = 0;
  UiMessage message;
};
struct SessionCardGeometry {
  Rect card;
  double cx = 0;
  std::vector<SessionCardButton> buttons;
};
// The card for `lines` message lines with its buttons: the first slot (key
// button or Retry), Edit profile, Back to list.
SessionCardGeometry session_card_geometry(const Rect& area, std::size_t lines,
                                          std::optional<SessionCardButton> first_slot, std::optional<Uuid> edit_id);

// Where a w × h picture is shown in the area.
Rect picture_rect(const Rect& area, std::uint32_t w, std::uint32_t h, bool scale_to_fit);

// ---- dialog and notice ----

struct DialogGeometry {
  Rect panel;
  Rect cancel;
  Rect confirm;
};
// The panel is 224 high plus the extra height of a title that wraps.
DialogGeometry dialog_geometry(const Rect& window, double extra_height = 0.0);
// The toast is 54 high, or taller when its wrapped text needs it.
inline constexpr double kNoticeHeight = 54.0;
Rect notice_rect(const Rect& window, double text_height = 0.0);

}  // namespace remote::app
