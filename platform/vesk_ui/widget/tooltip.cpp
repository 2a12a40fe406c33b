#include "platform/vesk_ui/widget/tooltip.hpp"

#include <algorithm>

namespace vesk_ui::widget::tooltip {

using scene::Rect;

namespace {
constexpr float kTextSize = 12.0f;
constexpr double kPadX = 8.0;
constexpr double kPadY = 5.0;
constexpr double kGap = 8.0;
constexpr double kMaxTextWidth = 320.0;
constexpr double kWindowMargin = 4.0;
}  // namespace

bool TooltipHost::on_pointer(std::optional<TooltipRequest> request, Instant now) {
  if (request && dismissed_ && *request == *dismissed_) return false;
  dismissed_.reset();
  if (request == request_) return false;
  const bool was_shown = shown_;
  request_ = std::move(request);
  since_ = now;
  shown_ = was_shown && request_.has_value();
  return true;
}

bool TooltipHost::dismiss() {
  const bool changed = request_.has_value() || shown_;
  if (request_) dismissed_ = request_;
  request_.reset();
  shown_ = false;
  return changed;
}

bool TooltipHost::tick(Instant now) {
  if (!request_ || shown_) return false;
  if (now - since_ < delay_) return false;
  shown_ = true;
  return true;
}

Rect draw_hover_tooltip(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                        const tokens::Tokens& tokens, const Rect& anchor_in, std::string_view label,
                        const Rect& window_in) {
  const Rect anchor = anchor_in.normalized();
  const Rect window = window_in.normalized();
  const double max_text = std::max(40.0, std::min(kMaxTextWidth, window.width() - 2 * (kWindowMargin + kPadX)));
  const text::TextSize m = text.measure(label, kTextSize, max_text);
  const double w = m.width + 2 * kPadX;
  const double h = m.height + 2 * kPadY;
  const scene::Point c = anchor.center();
  double x;
  double y;
  if (anchor.x1 + kGap + w <= window.x1 - kWindowMargin) {
    x = anchor.x1 + kGap;
    y = c.y - h / 2.0;
  } else if (anchor.y1 + kGap + h <= window.y1 - kWindowMargin) {
    x = c.x - w / 2.0;
    y = anchor.y1 + kGap;
  } else {
    x = c.x - w / 2.0;
    y = anchor.y0 - kGap - h;
  }
  x = std::clamp(x, window.x0 + kWindowMargin, std::max(window.x0 + kWindowMargin, window.x1 - kWindowMargin - w));
  y = std::clamp(y, window.y0 + kWindowMargin, std::max(window.y0 + kWindowMargin, window.y1 - kWindowMargin - h));
  const Rect panel{x, y, x + w, y + h};
  const tokens::Colors& col = tokens.colors;
  scene.fill(transform, col.surface_raised.mix(col.text_primary, 0.05f),
             scene::RoundedRect{panel, std::min(6.0, h / 2.0)});
  scene.stroke(scene::StrokeStyle::of_width(1.0), transform, col.border,
               scene::RoundedRect{panel.inset(0.5), std::min(5.5, h / 2.0)});
  text.draw_text(scene, label, kTextSize, col.text_primary, transform * scene::Affine::translate(x + kPadX, y + kPadY),
                 max_text);
  return panel;
}

}  // namespace vesk_ui::widget::tooltip
