#pragma once
// Geometry of each screen, computed in one place and used by its painter;
// hit testing and accessibility read the regions the painter records from it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/state.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"

namespace remote::app {

// The narrowest window every screen is laid out for: each text stays in its
// box and each control inside the window down to this width.
inline constexpr double kNarrowMinWidth = 360.0;

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

// One row, its texts as painted: each cut with "…" where its room ends, so
// that the star, Edit and Connect stay inside the row at every width.
struct ListRowGeometry {
  Rect card;
  Rect star;  // 22 × 22 around the star's centre
  Rect pill;
  Rect action;  // Connect button or badge
  Rect edit;
  double text_right = 0;  // the name, target and group lines end here
  std::string name;
  double name_width = 0;
  std::string target;
  double target_x = 0;
  std::string group;  // "· {}", empty when there is none or no room
  double group_x = 0;
  std::string last_used;  // empty when left out
  double last_used_x = 0;
  double last_used_height = 0;
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
// `problems` is the problems line as painted: the buttons move down when it
// wraps onto more lines.
FormGeometry form_geometry(vesk_ui::text::TextRenderer& text, const Rect& content, const ConnectionForm& form,
                           std::size_t device_count, bool edit, std::string_view problems = {});

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
// The card for `lines` message lines, `extra` taller when its target line
// wraps, with its buttons: the first slot (key button or Retry), Edit
// profile, Back to list.
SessionCardGeometry session_card_geometry(const Rect& area, std::size_t lines, double extra,
                                          std::optional<SessionCardButton> first_slot, std::optional<Uuid> edit_id);
// How many message lines a card in the area can show and stay inside it.
std::size_t session_card_line_budget(const Rect& area, double extra);

// The card's target line and message lines as painted, each centred.
struct SessionCardLines {
  std::vector<std::string> target;
  std::vector<std::string> lines;
  double extra = 0;  // what the target's further lines add to the card's height
};
// The messages wrapped to the card (a word wider than it broken, not cut),
// the card growing to the area's height. The fixed lines after the first
// message are always whole; the first is cut to the room left, never before
// the end of the last of `keep` it contains (the host, a fingerprint).
SessionCardLines session_card_lines(vesk_ui::text::TextRenderer& text, const Rect& area, std::string_view target,
                                    const std::vector<std::string>& messages,
                                    const std::vector<std::string_view>& keep);

// The connected header: 48 high with every button on one row, or a second
// row for Fullscreen and the scale button when the name would have too
// little room beside them.
struct SessionHeaderGeometry {
  Rect header;
  double text_cy = 0;     // the name's and subtitle's centre line
  double text_right = 0;  // where they end
  Rect disconnect;
  std::optional<Rect> fullscreen, scale;  // picture sessions only
};
SessionHeaderGeometry session_header_geometry(vesk_ui::text::TextRenderer& text, const Rect& content,
                                              const std::optional<std::string>& scale_label);

// Where a w × h picture is shown in the area.
Rect picture_rect(const Rect& area, std::uint32_t w, std::uint32_t h, bool scale_to_fit);

// ---- dialog and notice ----

struct DialogGeometry {
  Rect panel;
  Rect cancel;
  Rect confirm;
};
// The panel is 224 high plus the extra height of texts that need more lines;
// centred, or 16 below the window's top when it is taller than the window.
DialogGeometry dialog_geometry(const Rect& window, double extra_height = 0.0);
// The toast is 54 high, or taller when its wrapped text needs it.
inline constexpr double kNoticeHeight = 54.0;
Rect notice_rect(const Rect& window, double text_height = 0.0);
// Overlays keep this far from the window's edges when they grow.
inline constexpr double kOverlayMargin = 16.0;

}  // namespace remote::app
