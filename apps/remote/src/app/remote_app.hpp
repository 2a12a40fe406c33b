#pragma once
// The application object: all application state, the reducer,
// the session hub, the device-link host and the operation protocol. Owned by
// the framework as its one widget; touched on the UI thread only. Workers
// reach the UI solely through the slots and queues inside the live session.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/actions/remote_action.hpp"
#include "apps/remote/src/actions/tree_cache.hpp"
#include "apps/remote/src/app/device_session.hpp"
#include "apps/remote/src/app/held_input.hpp"
#include "apps/remote/src/app/list_cache.hpp"
#include "apps/remote/src/app/live_session.hpp"
#include "apps/remote/src/app/state.hpp"
#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/uuid.hpp"
#include "apps/remote/src/ssh/worker.hpp"
#include "apps/remote/src/sync/oneshot.hpp"
#include "apps/remote/src/vt/terminal.hpp"
#include "platform/vesk_actions/host.hpp"
#include "platform/vesk_ui/device_link/host.hpp"
#include "platform/vesk_ui/scene/image.hpp"
#include "platform/vesk_ui/widget/nav_split.hpp"
#include "platform/vesk_ui/widget/text_input.hpp"
#include "platform/vesk_ui/widget/tooltip.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace remote::app {
struct PaintRecorder;
}

namespace remote::app {

using vesk_ui::device_link::DeviceInputEvent;
using vesk_ui::device_link::DeviceLinkCommand;
using vesk_ui::widget::OperationHandle;
using vesk_ui::widget::PollOutcome;
using vesk_ui::widget::RunOutcome;
using vesk_ui::widget::StartOutcome;
using vesk_ui::widget::nav_split::FlapOpen;
using vesk_ui::widget::nav_split::FlapState;
using vesk_ui::widget::text_input::TextInput;
using vesk_ui::widget::tooltip::TooltipHost;
using Document = vesk_ui::doc::Document;

inline constexpr std::string_view kWidgetTypeName = "remote::app::RemoteApp";
inline constexpr std::string_view kWidgetName = "RemoteApp";
// Below this width the layout is narrow; exactly this width is wide.
inline constexpr double kNarrowWidth = 720.0;
// The flap counts as arrived within this distance of its target.
inline constexpr double kFlapSettled = 0.001;
// The flap eases toward its target at this rate per second; one step covers
// at most this much time, so the first frame after a pause does not jump.
inline constexpr double kFlapRate = 14.0;
inline constexpr double kMaxFlapStepSeconds = 0.1;
inline constexpr std::uint16_t kTerminalColumns = 80;
inline constexpr std::uint16_t kTerminalRows = 24;

// Notices and failure texts the reducer and the hub show.
namespace notice {
inline constexpr const char* kConnectionGone = "That saved connection no longer exists.";
inline constexpr const char* kRemovedBeforeConfirmation = "The saved connection was removed before confirmation.";
inline constexpr const char* kChangedWhileOpen =
    "This connection changed while confirmation was open. Review the current profile, then try again.";
inline constexpr const char* kCancelled = "Action cancelled. No connection or profile was changed.";
inline constexpr const char* kNoKeyToTrust =
    "No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be reviewed again.";
inline constexpr const char* kNoKeyToForget =
    "Only a currently changed SSH host key can be forgotten. Reconnect to revalidate this target first.";
inline constexpr const char* kTrustStale = "The observed SSH host key changed before it was trusted. Review it again.";
inline constexpr const char* kForgetStale =
    "The SSH host key is no longer the changed key you approved for removal. Reconnect to review it again.";
inline constexpr const char* kStorageUnavailable = "Could not use private SSH host-key storage: {}";
inline constexpr const char* kTrustFailed = "Could not save SSH host-key trust: {}";
inline constexpr const char* kForgetFailed = "Could not forget SSH host-key trust: {}";
inline constexpr const char* kForgot =
    "Forgot the local SSH host-key pin. Reconnect to review the next key before trusting it.";
inline constexpr const char* kNoPin = "No local SSH host-key pin was found for this target.";
inline constexpr const char* kSaveFailed = "Could not save the change: {}";
// What the framework reports about the stored connections.
inline constexpr const char* kNotSaved =
    "Could not save the connections: {}. Your changes are kept in this window and saving is retried.";
inline constexpr const char* kSavedAgain = "The connections are saved again.";
inline constexpr const char* kSetAside =
    "The saved connections could not be read ({}); the damaged file was kept as {}.";
inline constexpr const char* kUnreadable =
    "The saved connections could not be opened ({}); nothing is saved until this is fixed.";
}  // namespace notice

// Result code of a client's document action that was applied in memory but
// could not be stored.
inline constexpr std::string_view kDocumentNotSavedCode = "remote.document_not_saved";

// Cached row geometry of the connection list (recorded by the list painter,
// kept by the frame).
struct ListMetrics {
  std::optional<double> cache_key;
  double list_top = 124;
  double scale = 1;
  double name_block = 38;
  double meta_line = 17.75;
  double button_height = 32;
  double action_width = 100;
  double edit_width = 76;
  double text_block = 72;
  double wide_row_height = 72;
  double stacked_row_height = 116;
};

// The background operation in flight.
struct PendingOperation {
  struct ConnectAttempt {
    OperationHandle handle{};
    Uuid connection_id;
    std::uint64_t serial = 0;
  };
  struct TextDelivery {
    sync::OneshotReceiver<ssh::AckResult> ack;
    OperationHandle handle{};
    Uuid connection_id;
    std::uint64_t serial = 0;
  };
  std::variant<ConnectAttempt, TextDelivery> value;

  const OperationHandle& handle() const;
};

// What a frame showed of the live session. Workers change it on their own,
// so a difference from the current one asks for a frame without any input.
struct SessionSnapshot {
  std::uint64_t serial = 0;
  std::optional<SessionStatus> status;
  std::optional<ssh::HostKeyObservation> host_key;

  friend bool operator==(const SessionSnapshot&, const SessionSnapshot&) = default;
};

// What a frame showed: the screen, the dialog over it, the session and
// fullscreen. Any change, by whatever path it came, drops the tooltip of the
// frame before, whose anchor belongs to what is no longer shown.
struct ViewSnapshot {
  Screen screen;
  std::optional<Confirmation::Kind> dialog;
  std::optional<Uuid> dialog_connection;
  std::uint64_t session_serial = 0;
  std::optional<SessionStatus::Kind> session_status;
  bool fullscreen = false;

  friend bool operator==(const ViewSnapshot&, const ViewSnapshot&) = default;
};

// All application state; RemoteApp's operations keep it consistent.
struct AppState {
  std::array<TextInput, 6> inputs;  // by InputField number
  std::optional<Rect> session_surface;
  ListMetrics list_metrics;
  std::optional<PendingOperation> pending_operation;
  std::optional<LiveSession> live_session;
  std::vector<SavedConnection> connections;
  std::string search;
  ConnectionForm form;
  std::vector<DiscoveredDevice> discovered_devices;
  std::vector<DeviceLinkCommand> device_commands;
  std::vector<HitRegion> hit_regions;
  std::optional<std::string> notice;
  // While the connections cannot be stored: the notice that says so. It is
  // shown again whenever another notice has had its turn or none is shown.
  std::optional<std::string> storage_problem;
  TooltipHost tooltip{TooltipHost::kDefaultDelay};
  std::optional<Confirmation> confirmation;
  vesk_ui::widget::Instant last_paint;
  FlapState flap;
  std::optional<vesk_ui::scene::Image> session_picture;
  std::uint64_t session_serial = 0;
  SessionSnapshot painted_session;
  ViewSnapshot painted_view;
  std::uint64_t next_device_session_id = 1;
  double pointer_x = 0;
  double pointer_y = 0;
  double list_scroll = 0;
  double list_scroll_max = 0;
  FormVisibility form_visibility;
  std::optional<Uuid> selection;
  std::optional<Uuid> session_connection;
  bool scale_to_fit = true;
  bool fullscreen = false;
  bool stacked_rows = false;
  bool redraw = true;
  bool loaded = false;
  bool narrow = false;
  bool reduced_motion = false;
  std::optional<FlapOpen> navigation_override;
  Screen screen;
  std::optional<InputField> focused_input;
  std::uint8_t vnc_button_mask = 0;
  HeldInput held;
  // Review scenes only: the terminal a connected review session of an SSH
  // profile shows (no worker feeds it).
  std::optional<vt::Terminal> review_terminal;

  const TextInput& input(InputField field) const { return inputs[field.number()]; }
};

// A text input that keeps its own text, with the field's placeholder and size 14.
TextInput new_form_input(InputField field);

// Where the flap should be for the current open state and layout.
double flap_target(const FlapState& flap, bool narrow);
void snap_navigation_flap(FlapState& flap, bool narrow);

class RemoteApp final : public vesk_ui::widget::Widget, public vesk_ui::device_link::DeviceLinkHost {
 public:
  RemoteApp(std::vector<SavedConnection> connections, std::vector<DiscoveredDevice> devices);
  static std::unique_ptr<RemoteApp> empty();
  static std::unique_ptr<RemoteApp> with_sample_data();

  const AppState& state() const { return state_; }
  // Direct access for review tools and tests that set up a situation.
  AppState& state_mut() { return state_; }

  // ---- queries ----
  TextInput& input_mut(InputField field) { return state_.inputs[field.number()]; }
  const TextInput& input(InputField field) const { return state_.input(field); }
  std::optional<Rect> hit_rect(const UiMessage& message) const;
  std::optional<Uuid> first_connection_of_kind(ConnectionKind kind) const;
  // The VNC session while it is Connected.
  rfb::VncSession* vnc_session();
  // The live SSH session's observation when it belongs to this connection.
  std::optional<ssh::HostKeyObservation> pending_host_key(const Uuid& id) const;
  // The same with the target the observation was made for.
  std::optional<HostKeyObservationAt> pending_host_key_at(const Uuid& id) const;
  // Whether input goes to the remote side: the session screen of the live
  // session's connection is showing.
  bool remote_input_active() const;
  // The live session as a frame would show it now.
  SessionSnapshot session_snapshot() const;
  // The screen, dialog and session as a frame would show them now.
  ViewSnapshot view_snapshot() const;

  // ---- start-up ----
  void apply_layout_word(std::string_view word);
  void apply_review_state(std::string_view word);
  void show_session_status(ConnectionKind kind, SessionStatus status);

  // ---- reducer ----
  void apply_message(const UiMessage& message, Document& document);
  void request_connect(const Uuid& id);
  // Shows the session screen again when the live session is this
  // connection's and still connecting or connected; false otherwise.
  bool return_to_live_session(const Uuid& id);
  void request_delete(const Uuid& id);
  void close_navigation_if_narrow();

  // ---- text inputs, form problems, pointer mapping ----
  void focus_input(InputField field);
  void blur_input();
  void load_form_inputs();
  void sync_inputs();
  bool route_input_event(const vesk_ui::event::Event& event, vesk_ui::widget::EventContext& context);
  std::vector<std::string> shown_form_problems() const;
  std::optional<std::pair<std::uint16_t, std::uint16_t>> vnc_pointer_position(double x, double y) const;
  void send_vnc_pointer(double x, double y);
  std::optional<std::pair<double, double>> device_pointer_position(double x, double y) const;

  // ---- session hub ----
  void open_session(const Uuid& id);
  void disconnect();

  // ---- device link ----
  std::vector<DeviceLinkCommand> take_commands() override;
  void on_device_event(const vesk_ui::device_link::LinkEvent& event) override;
  // True when the input was queued.
  bool forward_device_input(const DeviceInputEvent& event);
  // Sends the release of everything the live session holds pressed.
  void release_held_input();
  // The same when input no longer goes to the session (another screen shown
  // or a dialog open over it).
  void release_held_input_if_inactive();
  // The newest decoded device picture (or VNC frame) becomes the session
  // picture. True when a new picture arrived.
  bool take_session_picture();
  // The frame's own state changes, made before anything is painted: inputs
  // refreshed, the flap stepped, the tooltip dismissed or ticked, the live
  // session's news taken in.
  void advance_frame(vesk_ui::widget::Instant now);
  // SSH output drained (on every screen), and on the session screen the new
  // picture taken and a connected profile marked online in memory.
  void take_session_updates();
  void step_navigation_flap(vesk_ui::widget::Instant now);
  // How device sessions start their decoder (tests slow it down or refuse the thread).
  void set_device_session_options(DeviceSessionOptions options) { device_options_ = std::move(options); }

  // ---- operations ----
  std::vector<std::string> operation_types() const override;
  StartOutcome start_operation(const OperationHandle& handle, vesk_actions::OperationKind kind,
                               const vesk_actions::EncodedAction& encoded) override;
  PollOutcome poll_operation(const OperationHandle& handle, bool cancel) override;
  RunOutcome run_operation(vesk_actions::OperationKind kind, const vesk_actions::EncodedAction& encoded) override;
  std::vector<vesk_ui::doc::ChangeHash> take_pending_heads() override;
  vesk_actions::ActionHost* document_action_host() override { return &action_host_; }
  std::vector<vesk_actions::Resource> action_resources(const vesk_ui::doc::Document& document) const override;

  // ---- widget ----
  std::string_view type_name() const override { return kWidgetTypeName; }
  std::string_view widget_name() const override { return kWidgetName; }
  vesk_ui::device_link::DeviceLinkHost* as_device_link_host() override { return this; }
  void sync_document(Document& document) override;
  bool is_loading() const override { return !state_.loaded; }
  void storage_report(const vesk_ui::widget::StorageReport& report) override;
  std::string unsaved_change_code() const override { return std::string(kDocumentNotSavedCode); }
  vesk_ui::widget::NodeId build_layout_node(vesk_ui::widget::LayoutTree& tree,
                                            vesk_ui::widget::WidgetNodeMap& map) override;
  void apply_layout(const vesk_ui::widget::LayoutTree& tree, vesk_ui::widget::NodeId node, double origin_x,
                    double origin_y) override;
  Rect bounds() const override { return bounds_; }
  // A frame: advance_frame, then draw.
  void draw_entry(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base, vesk_ui::text::TextRenderer& text,
                  const vesk_ui::tokens::Tokens& tokens, vesk_ui::widget::PaintContext& paint) override;
  // Paints the state as it is and keeps what the painters recorded.
  void draw(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base, vesk_ui::text::TextRenderer& text,
            const vesk_ui::tokens::Tokens& tokens, vesk_ui::widget::PaintContext& paint) override;
  void handle_event(const vesk_ui::event::Event& event, vesk_ui::widget::EventContext& context) override;
  vesk_ui::access::AccessNode accessibility_tree() const override;
  bool perform_semantic_action(std::string_view action_id, const vesk_ui::access::SemanticAction& action,
                               vesk_ui::doc::Document* document) override;
  void set_reduced_motion(bool reduced) override;
  bool wants_animation_frame() const override;
  bool needs_redraw() const override { return state_.redraw; }
  void invalidate_if_dirty(std::vector<Rect>& damage) const override;
  void clear_redraw() override { state_.redraw = false; }

  // Scrolls the list just enough to show the row (keyboard and semantic selection).
  void scroll_selection_into_view(std::size_t row, std::size_t count);
  // Whether the flap counts as open for the toggle's look, tooltip and reducer.
  bool navigation_open() const;
  // Tooltips are painted (and ticked) only without a dialog and outside fullscreen.
  bool tooltips_painted() const;
  // Readiness, counts line and filtered order of the list, brought up to date.
  const ListCache& list_results() const;

  // The action host (tests give it a refusing executor).
  vesk_actions::ActionHost& action_host() { return action_host_; }

 private:
  // Drops the live session; a device session is told to close first.
  void drop_live_session();
  void dispatch_action(Document& document, RemoteAction action);
  void confirm(Document& document);
  void confirm_trust(const Confirmation& confirmation, const SavedConnection& profile);
  void confirm_forget(const SavedConnection& profile);
  void save_form(Document& document);
  void set_kind(ConnectionKind kind);
  void choose_discovered_device(std::uint64_t index);
  void request_host_key(const UiMessage& message);
  void fix_selection();
  void open_device_session(const SavedConnection& profile);
  void open_ssh_session(const SavedConnection& profile);
  void open_vnc_session(const SavedConnection& profile);
  // A view message applied with a document that is thrown away afterwards.
  void apply_view_message(const UiMessage& message);
  // After a message: the storage problem's notice comes back when the message
  // left no notice, or left one that was already showing before it.
  void keep_storage_notice(const std::optional<std::string>& notice_before);

  // ---- painting (the painters are in views.hpp) ----
  // What a paint pass recorded becomes the state input and accessibility read.
  void keep_painted(PaintRecorder&& painted);

  // ---- input (input.cpp) ----
  void on_pointer_moved(const vesk_ui::event::PointerMoved& moved, vesk_ui::widget::EventContext& context);
  void on_wheel(const vesk_ui::event::Wheel& wheel, vesk_ui::widget::EventContext& context);
  void on_pointer_button(const vesk_ui::event::PointerButton& button, vesk_ui::widget::EventContext& context);
  void on_key(const vesk_ui::event::Key& key, vesk_ui::widget::EventContext& context);
  bool forward_session_key(const vesk_ui::event::Key& key, const vesk_ui::event::Modifiers& modifiers);
  void escape_chain(vesk_ui::widget::EventContext& context);
  void send_message(const UiMessage& message, vesk_ui::widget::EventContext& context);
  bool live_device_connected() const;

  // ---- held keys and buttons (held_input.cpp) ----
  // A release of a button or device key held by the session, sent wherever
  // the pointer is; false when the session does not hold it.
  bool release_held_button(std::uint32_t button, double x, double y);
  bool release_held_device_key(const vesk_ui::event::Key& key);
  bool queue_device_release(const DeviceInputEvent& event);
  void send_vnc_key_stroke(rfb::VncSession& vnc, std::uint32_t keysym);
  // A modifier goes down once however long it is held; its release (or the
  // release of everything held) sends the key-up.
  void press_vnc_modifier(rfb::VncSession& vnc, std::uint32_t keysym);
  // The stroke of a character AltGr composed: the held Alt keys come up
  // around it, so the server types the character rather than Alt with it.
  void send_vnc_stroke_without_alt(rfb::VncSession& vnc, std::uint32_t keysym);
  bool release_held_vnc_modifier(const vesk_ui::event::Key& key);

  AppState state_;
  // Derived from state_ and the document; refreshed where they are read.
  mutable ListCache list_cache_;
  mutable actions::TreeCache tree_cache_;
  // The records the last sync read, for the action tree at the same heads.
  std::optional<actions::LoadedConnections> loaded_;
  vesk_actions::ActionHost action_host_;
  DeviceSessionOptions device_options_;
};

}  // namespace remote::app
