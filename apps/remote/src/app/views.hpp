#pragma once
// The painters of each screen and overlay. They read the application state
// and never change it: what a paint pass learns about the layout (the
// clickable regions, the list's row metrics and scroll range, where the
// remote picture went, the text inputs as laid out) goes into the recorder,
// and the frame stores it once painting is done.

#include <optional>
#include <vector>

#include "apps/remote/src/app/list_cache.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/state.hpp"
#include "apps/remote/src/ssh/worker.hpp"
#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"
#include "platform/vesk_ui/widget/context.hpp"

namespace remote::app {

// What painting reads besides the state: facts the application derives from
// it (the list's cached filter, the host key waiting for trust).
struct AppView {
  const AppState& state;
  Rect window;
  bool navigation_open = false;
  const ListCache* list = nullptr;                  // set while the list is shown
  std::optional<ssh::HostKeyObservation> host_key;  // the session screen's profile's
};

// The list's layout as painted: the scroll is kept within its range.
struct ListLayout {
  ListMetrics metrics;
  double scroll = 0;
  double scroll_max = 0;
  std::optional<bool> stacked_rows;  // known once a row is laid out
};

// A text input as painted: where it went and how far it was scrolled.
struct PlacedInput {
  InputField field;
  InputPlacement at;
};

// Collects what one paint pass produces for input, scrolling and accessibility.
struct PaintRecorder {
  std::vector<HitRegion> hit_regions;
  std::optional<ListLayout> list;
  std::optional<Rect> session_surface;
  std::vector<PlacedInput> inputs;

  void record(const UiMessage& message, const Rect& rect) { hit_regions.push_back({message, rect}); }
};

// The whole window: the screen, the notice, the dialog or the rail and the tooltip.
void paint_frame(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base, vesk_ui::text::TextRenderer& text,
                 const vesk_ui::tokens::Tokens& tokens, const vesk_ui::widget::PaintContext& paint, const AppView& view,
                 PaintRecorder& out);
void paint_list(PaintBundle& p, const vesk_ui::widget::PaintContext& paint, const AppView& view, const Rect& content,
                PaintRecorder& out);
void paint_form(PaintBundle& p, const vesk_ui::widget::PaintContext& paint, const AppView& view, const Rect& content,
                PaintRecorder& out);
// The status card, or the header over the terminal or the remote picture.
void paint_session(PaintBundle& p, const AppView& view, const Rect& content, PaintRecorder& out);
void paint_navigation(PaintBundle& p, const AppView& view, double reveal, PaintRecorder& out);
void paint_notice(PaintBundle& p, const AppView& view);
void paint_confirmation(PaintBundle& p, const AppView& view, PaintRecorder& out);

}  // namespace remote::app
