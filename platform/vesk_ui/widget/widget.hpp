#pragma once
// The widget interface: everything the framework calls on an application
// object. Every operation has the framework default, so an application
// overrides only what it supplies.
//
// How the hosts (launch::run_or_exit, headless::HeadlessHost) drive it, all
// on one thread: build_layout_node once, then apply_layout at start and on
// every resize; sync_document before the first frame and afterwards whenever
// the document's heads moved; each turn, the events (handle_event), then
// as_device_link_host's commands and events, poll_operation for operations in
// flight, and a frame when needs_redraw or wants_animation_frame: clear_redraw
// first, then draw_entry into a fresh scene.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vesk_ui/document/document.hpp"
#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"
#include "platform/vesk_ui/widget/access.hpp"
#include "platform/vesk_ui/widget/context.hpp"
#include "platform/vesk_ui/widget/event.hpp"
#include "platform/vesk_ui/widget/layout.hpp"

namespace vesk_ui::device_link {
class DeviceLinkHost;
}
namespace vesk_ui::text {
class TextRenderer;
}
namespace vesk_actions {
class ActionHost;
struct EncodedAction;
struct Resource;
enum class OperationKind : std::uint8_t;
}  // namespace vesk_actions

namespace vesk_ui::widget {

using scene::Affine;
using scene::Rect;

// A long-running operation's 128-bit handle (the bytes of a UUID).
using OperationHandle = std::array<std::uint8_t, 16>;

struct StartOutcome {
  enum class Kind : std::uint8_t { Pending, Completed, Failed, NotHandled };
  Kind kind = Kind::NotHandled;
  std::string message;  // Failed only

  static StartOutcome pending() { return {Kind::Pending, {}}; }
  static StartOutcome completed() { return {Kind::Completed, {}}; }
  static StartOutcome failed(std::string message) { return {Kind::Failed, std::move(message)}; }
  static StartOutcome not_handled() { return {Kind::NotHandled, {}}; }
  friend bool operator==(const StartOutcome&, const StartOutcome&) = default;
};

struct PollOutcome {
  enum class Kind : std::uint8_t { NoUpdate, Completed, Failed, Cancelled };
  Kind kind = Kind::NoUpdate;
  OperationHandle handle{};
  std::string code;     // Failed: dotted result code
  std::string message;  // Failed and Cancelled

  static PollOutcome no_update() { return {}; }
  static PollOutcome completed(const OperationHandle& h) { return {Kind::Completed, h, {}, {}}; }
  static PollOutcome failed(const OperationHandle& h, std::string code, std::string message) {
    return {Kind::Failed, h, std::move(code), std::move(message)};
  }
  static PollOutcome cancelled(const OperationHandle& h, std::string message) {
    return {Kind::Cancelled, h, {}, std::move(message)};
  }
  friend bool operator==(const PollOutcome&, const PollOutcome&) = default;
};

struct RunOutcome {
  enum class Kind : std::uint8_t { Handled, NotHandled, Failed };
  Kind kind = Kind::NotHandled;
  std::string message;  // Failed only

  static RunOutcome handled() { return {Kind::Handled, {}}; }
  static RunOutcome not_handled() { return {Kind::NotHandled, {}}; }
  static RunOutcome failed(std::string message) { return {Kind::Failed, std::move(message)}; }
  friend bool operator==(const RunOutcome&, const RunOutcome&) = default;
};

// What became of the persisted document, as the host tells the widget.
struct StorageReport {
  enum class Kind : std::uint8_t {
    SaveFailed,  // a save failed; the changes are in memory and saving is retried
    SavedAgain,  // the first save that worked after SaveFailed or Unreadable
    Unreadable,  // the file cannot be opened or read; nothing is saved meanwhile
    SetAside,    // a damaged file was moved to `kept_as`; the document starts empty
  };
  Kind kind = Kind::SaveFailed;
  std::string reason;   // SaveFailed, Unreadable, SetAside
  std::string kept_as;  // SetAside: where the damaged file is now
  friend bool operator==(const StorageReport&, const StorageReport&) = default;
};

class Widget {
 public:
  virtual ~Widget() = default;

  // ---- identity ----
  virtual std::string_view type_name() const { return "vesk_ui::widget::Widget"; }
  virtual std::string_view widget_name() const { return "Widget"; }

  // ---- device link ----
  virtual device_link::DeviceLinkHost* as_device_link_host() { return nullptr; }

  // ---- document ----
  // Called once before the first paint and afterwards when the document changed.
  virtual void sync_document(doc::Document& document) { (void)document; }
  // True until the widget has taken in its document.
  virtual bool is_loading() const { return false; }
  // Told at start and after every save attempt that failed, and once when
  // saving works again, so the user sees what is and is not stored.
  virtual void storage_report(const StorageReport& report) { (void)report; }
  // The result code a client's document action answers with when it was
  // applied but could not be stored.
  virtual std::string unsaved_change_code() const { return "document_not_saved"; }

  // ---- layout ----
  // Default: one leaf filling the parent, registered as this widget's node.
  virtual NodeId build_layout_node(LayoutTree& tree, WidgetNodeMap& map);
  virtual void apply_layout(const LayoutTree& tree, NodeId node, double origin_x, double origin_y);
  virtual Rect bounds() const { return bounds_; }

  // ---- painting ----
  virtual void draw(scene::Scene& scene, const Affine& base, text::TextRenderer& text, const tokens::Tokens& tokens,
                    PaintContext& paint) {
    (void)scene, (void)base, (void)text, (void)tokens, (void)paint;
  }
  // The framework's entry point for a frame; default: draw.
  virtual void draw_entry(scene::Scene& scene, const Affine& base, text::TextRenderer& text,
                          const tokens::Tokens& tokens, PaintContext& paint) {
    draw(scene, base, text, tokens, paint);
  }

  // ---- input ----
  virtual void handle_event(const event::Event& event, EventContext& context) { (void)event, (void)context; }

  // ---- accessibility ----
  virtual access::AccessNode accessibility_tree() const;
  virtual std::vector<access::SemanticBinding> semantic_bindings() const {
    return access::semantic_action_bindings(accessibility_tree());
  }
  // True when the action was handled. `document` is the open document, when one is.
  virtual bool perform_semantic_action(std::string_view action_id, const access::SemanticAction& action,
                                       doc::Document* document) {
    (void)action_id, (void)action, (void)document;
    return false;
  }

  // ---- preferences ----
  virtual void set_reduced_motion(bool reduced) { (void)reduced; }

  // ---- actions and operations ----
  // Operation type names this widget serves.
  virtual std::vector<std::string> operation_types() const { return {}; }
  // The published action tree (defined where the action framework is known).
  virtual std::vector<vesk_actions::Resource> action_resources(const doc::Document& document) const;
  // Document heads from before the first action dispatched since they were
  // last taken (empty when nothing was dispatched); the widget keeps none.
  virtual std::vector<doc::ChangeHash> take_pending_heads() { return {}; }
  // The host that dispatches the widget's document actions, so that actions
  // invoked by clients land in its pending heads too (none: the framework's own).
  virtual vesk_actions::ActionHost* document_action_host() { return nullptr; }
  virtual RunOutcome run_operation(vesk_actions::OperationKind kind, const vesk_actions::EncodedAction& encoded) {
    (void)kind, (void)encoded;
    return RunOutcome::not_handled();
  }
  virtual StartOutcome start_operation(const OperationHandle& handle, vesk_actions::OperationKind kind,
                                       const vesk_actions::EncodedAction& encoded) {
    (void)handle, (void)kind, (void)encoded;
    return StartOutcome::not_handled();
  }
  virtual PollOutcome poll_operation(const OperationHandle& handle, bool cancel) {
    (void)handle, (void)cancel;
    return PollOutcome::no_update();
  }

  // ---- redraw and animation ----
  virtual bool wants_animation_frame() const { return false; }
  virtual bool needs_redraw() const { return false; }
  // Appends the damaged rectangles; default: the bounds when a redraw is needed.
  virtual void invalidate_if_dirty(std::vector<Rect>& damage) const {
    if (needs_redraw()) damage.push_back(bounds());
  }
  virtual void clear_redraw() {}

 protected:
  Rect bounds_;
};

}  // namespace vesk_ui::widget
