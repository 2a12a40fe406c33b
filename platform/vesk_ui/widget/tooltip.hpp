#pragma once
// Hover tooltips: the host decides when a requested tooltip shows; the
// painter draws it beside its anchor, inside the window.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"
#include "platform/vesk_ui/widget/context.hpp"

namespace vesk_ui::widget::tooltip {

struct TooltipRequest {
  std::string text;
  scene::Rect anchor;
  friend bool operator==(const TooltipRequest&, const TooltipRequest&) = default;
};

class TooltipHost {
 public:
  static constexpr std::chrono::milliseconds kDefaultDelay{500};

  explicit TooltipHost(std::chrono::nanoseconds delay = kDefaultDelay) : delay_(delay) {}

  // The pointer now asks for `request` (none: over nothing with a tooltip).
  // A different request restarts the delay, unless a tooltip is already
  // showing, in which case the new one shows at once. True when the request or
  // the shown state changed.
  bool on_pointer(std::optional<TooltipRequest> request, Instant now);
  // Hides and forgets the request (a click, a key, a scroll). The same request
  // is not shown again until the pointer has asked for something else.
  bool dismiss();
  // Shows a pending tooltip once its delay has passed; true when it did.
  bool tick(Instant now);

  const std::optional<TooltipRequest>& request() const { return request_; }
  bool shown() const { return shown_; }
  // Requested but not shown yet: the host wants frames until it shows.
  bool pending() const { return request_.has_value() && !shown_; }
  std::chrono::nanoseconds delay() const { return delay_; }

 private:
  std::chrono::nanoseconds delay_;
  std::optional<TooltipRequest> request_;
  std::optional<TooltipRequest> dismissed_;
  Instant since_{};
  bool shown_ = false;
};

// Paints `text` in a small panel beside `anchor`: to its right when that fits
// in `window`, else below it, else above it, always clamped inside `window`.
// Returns the panel's rectangle.
scene::Rect draw_hover_tooltip(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                               const tokens::Tokens& tokens, const scene::Rect& anchor, std::string_view label,
                               const scene::Rect& window);

}  // namespace vesk_ui::widget::tooltip
