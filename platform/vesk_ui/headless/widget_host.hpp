#pragma once
// What every host does with the application's widget, window or not: lay it
// out, keep it in step with the document, deliver events, paint frames and
// follow long-running operations. The SDL launcher and the headless host both
// drive a widget through this class, so both produce the same display list.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/vesk_ui/document/document.hpp"
#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace vesk_ui::device_link {
class DeviceLink;
}

namespace vesk_ui::host {

class WidgetHost {
 public:
  WidgetHost(widget::Widget& widget, text::TextRenderer& text, tokens::Tokens tokens = tokens::Tokens::dark());

  widget::Widget& widget() { return widget_; }
  text::TextRenderer& text() { return text_; }
  const tokens::Tokens& tokens() const { return tokens_; }

  // The document handed to the widget (none: the widget is never synced).
  void set_document(doc::Document* document);
  doc::Document* document() const { return document_; }

  // Lays the widget out in a window of this logical size. The layout node is
  // built once; later calls recompute and apply it.
  void layout(double width, double height);
  double width() const { return width_; }
  double height() const { return height_; }

  // Syncs the widget before its first frame and afterwards whenever the
  // document's heads moved. True when it called sync_document.
  bool sync_if_needed();

  // The widget wants a frame: a redraw is pending or it animates.
  bool wants_frame() const;

  // Paints one frame into the host's scene: clears the redraw flag first, then
  // draw_entry, then closes the scene (an unbalanced scene stops a debug build).
  const scene::Scene& paint(widget::Instant now, double scale, bool window_focused = true);
  const scene::Scene& scene() const { return scene_; }
  std::uint64_t frames() const { return frames_; }
  // The last frame was asked for (a redraw pending, or a document change
  // synced), not only an animation step: the widget's state may have changed,
  // even where the frame shows nothing new.
  bool last_frame_requested() const { return last_frame_requested_; }

  // Delivers one event; pointer moves are in physical pixels. The host keeps
  // the logical pointer position for the context. True when handled.
  bool dispatch(const event::Event& event, const event::Modifiers& modifiers, double scale, widget::Instant now,
                widget::Clipboard* clipboard);
  std::optional<scene::Point> pointer() const { return pointer_; }

  // ---- between input and painting ----
  // The device link the widget's DeviceLinkHost talks to (none: no device link).
  void set_device_link(device_link::DeviceLink* link) { link_ = link; }
  // One turn of the loop's own work: the device link hands over the widget's
  // commands and delivers its events, operations in flight are polled, and the
  // widget is synced when the document moved.
  void tick();

  // ---- operations ----
  // Starts an operation; a pending one is polled by poll_operations.
  widget::StartOutcome start_operation(const widget::OperationHandle& handle, vesk_actions::OperationKind kind,
                                       const vesk_actions::EncodedAction& encoded);
  // Polls every operation in flight once; settled ones are reported and forgotten.
  void poll_operations();
  // Polls one operation in flight with the cancel flag; reported and forgotten
  // when it settles.
  void cancel_operation(const widget::OperationHandle& handle);
  std::size_t operations_in_flight() const { return in_flight_.size(); }
  // Called with every settled outcome (completed, failed, cancelled).
  std::function<void(const widget::PollOutcome&)> on_operation_settled;

 private:
  widget::Widget& widget_;
  text::TextRenderer& text_;
  tokens::Tokens tokens_;
  doc::Document* document_ = nullptr;
  std::optional<std::vector<doc::ChangeHash>> synced_heads_;
  widget::LayoutTree tree_;
  widget::WidgetNodeMap map_;
  std::optional<widget::NodeId> node_;
  double width_ = 0.0;
  double height_ = 0.0;
  scene::Scene scene_;
  std::uint64_t frames_ = 0;
  bool last_frame_requested_ = false;
  std::optional<scene::Point> pointer_;
  std::vector<widget::OperationHandle> in_flight_;
  device_link::DeviceLink* link_ = nullptr;
};

// The accessibility tree as JSON text (two-space indent), unset fields left out.
std::string access_tree_json(const access::AccessNode& root);

}  // namespace vesk_ui::host
