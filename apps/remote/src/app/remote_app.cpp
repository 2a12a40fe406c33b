// Construction, queries and the widget operations other than painting,
// input and accessibility.
#include "apps/remote/src/app/remote_app.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "apps/remote/src/actions/tree.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_actions/resource.hpp"

namespace remote::app {

const OperationHandle& PendingOperation::handle() const {
  return std::visit([](const auto& op) -> const OperationHandle& { return op.handle; }, value);
}

TextInput new_form_input(InputField field) {
  return TextInput::local()
      .with_placeholder(std::string(field.placeholder()))
      .with_text_size(14.0f)
      .with_max_bytes(kMaxFieldBytes);
}

double flap_target(const FlapState& flap, bool narrow) {
  bool open = false;
  switch (flap.open) {
    case FlapOpen::Automatic: open = narrow ? false : flap.automatic_default; break;
    case FlapOpen::Open: open = true; break;
    case FlapOpen::Closed: open = false; break;
  }
  return open ? 1.0 : 0.0;
}

void snap_navigation_flap(FlapState& flap, bool narrow) { flap.position = flap_target(flap, narrow); }

RemoteApp::RemoteApp(std::vector<SavedConnection> connections, std::vector<DiscoveredDevice> devices) {
  for (InputField field : InputField::ALL) state_.inputs[field.number()] = new_form_input(field);
  state_.connections = std::move(connections);
  state_.selection = list_results().first_listed(state_.connections);
  state_.discovered_devices = std::move(devices);
  state_.last_paint = vesk_ui::widget::Clock::now();
}

std::unique_ptr<RemoteApp> RemoteApp::empty() {
  return std::make_unique<RemoteApp>(std::vector<SavedConnection>{}, std::vector<DiscoveredDevice>{});
}

std::optional<Rect> RemoteApp::hit_rect(const UiMessage& message) const {
  return find_hit_region_bounds(state_.hit_regions, message);
}

std::optional<Uuid> RemoteApp::first_connection_of_kind(ConnectionKind kind) const {
  for (const SavedConnection& c : state_.connections) {
    if (c.kind == kind) return c.id;
  }
  return std::nullopt;
}

rfb::VncSession* RemoteApp::vnc_session() {
  if (!state_.live_session) return nullptr;
  LiveSession::Vnc* vnc = state_.live_session->vnc();
  if (!vnc || !vnc->session) return nullptr;
  if (vnc->session->status().kind != rfb::SessionStatus::Kind::Connected) return nullptr;
  return vnc->session.get();
}

std::optional<HostKeyObservationAt> RemoteApp::pending_host_key_at(const Uuid& id) const {
  if (!state_.live_session || state_.session_connection != id) return std::nullopt;
  const LiveSession::Ssh* ssh = state_.live_session->ssh();
  if (!ssh || !ssh->session) return std::nullopt;
  auto observation = ssh->session->host_key_observation();
  if (!observation) return std::nullopt;
  return HostKeyObservationAt{std::move(*observation), ssh->host, ssh->port};
}

std::optional<ssh::HostKeyObservation> RemoteApp::pending_host_key(const Uuid& id) const {
  auto at = pending_host_key_at(id);
  if (!at) return std::nullopt;
  return std::move(at->observation);
}

bool RemoteApp::remote_input_active() const {
  return state_.live_session && state_.session_connection && state_.screen.is_session_of(*state_.session_connection);
}

SessionSnapshot RemoteApp::session_snapshot() const {
  SessionSnapshot snapshot;
  snapshot.serial = state_.session_serial;
  if (!state_.live_session) return snapshot;
  snapshot.status = state_.live_session->status();
  if (const LiveSession::Ssh* ssh = state_.live_session->ssh(); ssh && ssh->session) {
    snapshot.host_key = ssh->session->host_key_observation();
  }
  return snapshot;
}

ViewSnapshot RemoteApp::view_snapshot() const {
  ViewSnapshot view;
  view.screen = state_.screen;
  if (state_.confirmation) {
    view.dialog = state_.confirmation->kind;
    view.dialog_connection = state_.confirmation->id;
  }
  view.session_serial = state_.session_serial;
  if (state_.live_session) view.session_status = state_.live_session->status().kind;
  view.fullscreen = state_.fullscreen;
  return view;
}

void RemoteApp::apply_layout_word(std::string_view word) {
  if (word == "narrow") {
    state_.navigation_override = FlapOpen::Closed;
  } else if (word == "narrow-open") {
    state_.navigation_override = FlapOpen::Open;
  }
}

// ---- widget operations ----

vesk_ui::widget::NodeId RemoteApp::build_layout_node(vesk_ui::widget::LayoutTree& tree,
                                                     vesk_ui::widget::WidgetNodeMap& map) {
  vesk_ui::widget::Style style;
  style.width = vesk_ui::widget::Dimension::percent(1.0f);
  style.height = vesk_ui::widget::Dimension::percent(1.0f);
  const vesk_ui::widget::NodeId node = tree.new_leaf(style);
  map.insert(node, this);
  return node;
}

void RemoteApp::apply_layout(const vesk_ui::widget::LayoutTree& tree, vesk_ui::widget::NodeId node, double origin_x,
                             double origin_y) {
  const vesk_ui::widget::Layout l = tree.layout(node);
  const double x0 = origin_x + static_cast<double>(l.x);
  const double y0 = origin_y + static_cast<double>(l.y);
  bounds_ = Rect{x0, y0, x0 + static_cast<double>(l.width), y0 + static_cast<double>(l.height)};
  const bool narrow = bounds_.width() < kNarrowWidth;
  state_.narrow = narrow;
  FlapState& flap = state_.flap;
  if (auto override_open = std::exchange(state_.navigation_override, std::nullopt)) {
    flap.open = *override_open;
    flap.position = *override_open == FlapOpen::Open ? 1.0 : 0.0;
  }
  if (!flap.narrow_at_last_layout) {
    flap.narrow_at_last_layout = narrow;
    snap_navigation_flap(flap, narrow);
  } else if (*flap.narrow_at_last_layout != narrow) {
    // The paint pass animates the position toward the new target.
    flap.narrow_at_last_layout = narrow;
    flap.open = FlapOpen::Automatic;
  }
}

void RemoteApp::set_reduced_motion(bool reduced) {
  state_.reduced_motion = reduced;
  if (reduced) snap_navigation_flap(state_.flap, state_.narrow);
}

bool RemoteApp::wants_animation_frame() const {
  if (!state_.reduced_motion &&
      std::abs(state_.flap.position - flap_target(state_.flap, state_.narrow)) >= kFlapSettled) {
    return true;
  }
  if (state_.tooltip.pending() && tooltips_painted()) return true;
  // A tooltip of the last frame waits for the frame that drops it.
  if (state_.tooltip.request() && view_snapshot() != state_.painted_view) return true;
  if (state_.live_session) {
    const SessionStatus status = state_.live_session->status();
    if (status.is_connecting() || status.is_connected()) return true;
  }
  // A worker that failed, ended or observed a host key since the last frame.
  return session_snapshot() != state_.painted_session;
}

void RemoteApp::invalidate_if_dirty(std::vector<Rect>& damage) const {
  if (state_.redraw) damage.push_back(bounds_);
}

void RemoteApp::fix_selection() {
  if (state_.selection && find_connection(state_.connections, *state_.selection)) return;
  state_.selection = list_results().first_listed(state_.connections);
}

void RemoteApp::sync_document(Document& document) {
  std::vector<SavedConnection> stored = doc::load_connections(document);
  // The published action tree reads the same records at the same heads.
  // Asking for the heads would commit an open transaction: not then.
  if (document.pending_ops() == 0) {
    auto heads = document.get_heads();
    if (!loaded_ || loaded_->heads != heads) loaded_ = actions::LoadedConnections{std::move(heads), stored};
  }
  if (state_.loaded) {
    if (stored == state_.connections) return;
    state_.connections = std::move(stored);
    fix_selection();
    if (state_.session_connection && !find_connection(state_.connections, *state_.session_connection)) {
      disconnect();
    }
    state_.redraw = true;
    return;
  }
  if (!stored.empty()) {
    state_.connections = std::move(stored);
    fix_selection();
  } else if (!state_.connections.empty()) {
    doc::write_connections(document, state_.connections);
  }
  state_.loaded = true;
  state_.redraw = true;
}

std::vector<vesk_ui::doc::ChangeHash> RemoteApp::take_pending_heads() {
  auto heads = action_host_.take_pending_heads();
  return heads ? std::move(*heads) : std::vector<vesk_ui::doc::ChangeHash>{};
}

std::vector<vesk_actions::Resource> RemoteApp::action_resources(const vesk_ui::doc::Document& document) const {
  std::optional<actions::LiveSessionSummary> summary;
  if (state_.live_session && state_.session_connection) {
    actions::LiveSessionSummary s;
    s.connection_id = *state_.session_connection;
    if (const LiveSession::Ssh* ssh = state_.live_session->ssh(); ssh && ssh->session) {
      s.ssh_terminal_connected = ssh->session->status().is_connected();
      s.host_key = ssh->session->host_key_observation();
    }
    summary = std::move(s);
  }
  std::vector<vesk_actions::Resource> tree = tree_cache_.connections_resource(document, loaded_ ? &*loaded_ : nullptr);
  actions::add_session_resource(tree, state_.connections, summary);
  return tree;
}

// ---- device link ----

std::vector<DeviceLinkCommand> RemoteApp::take_commands() { return std::exchange(state_.device_commands, {}); }

void RemoteApp::on_device_event(const vesk_ui::device_link::LinkEvent& event) {
  const vesk_ui::device_link::DeviceLinkEvent* device_event = event.device_session();
  if (!device_event || !state_.live_session) return;
  DeviceSession* session = state_.live_session->device();
  if (!session || session->id() != device_event->session_id) return;
  session->on_event(*device_event);
  state_.redraw = true;
}

bool RemoteApp::forward_device_input(const DeviceInputEvent& event) {
  if (!state_.live_session || !remote_input_active()) return false;
  const DeviceSession* session = state_.live_session->device();
  if (!session || !session->status().is_connected()) return false;
  state_.device_commands.push_back(DeviceLinkCommand::input(event, session->id()));
  return true;
}

bool RemoteApp::take_session_picture() {
  if (!state_.live_session) return false;
  if (DeviceSession* device = state_.live_session->device()) {
    auto frame = device->take_frame();
    if (!frame) return false;
    state_.session_picture = frame->order == vesk_callstream::decoder::PixelOrder::Bgra
                                 ? vesk_ui::scene::Image::from_bgra(frame->pixels, frame->width, frame->height)
                                 : vesk_ui::scene::Image::from_rgba(frame->pixels, frame->width, frame->height);
    state_.redraw = true;
    return true;
  }
  if (LiveSession::Vnc* vnc = state_.live_session->vnc(); vnc && vnc->session) {
    auto update = vnc->session->take_update();
    if (!update) return false;
    const rfb::Framebuffer& frame = update->frame;
    // The framebuffer is kept in the renderer's layout, and says what changed
    // since the frame the picture before this one showed.
    auto picture = vesk_ui::scene::Image::from_bgra(frame.shared_pixels(), frame.width(), frame.height());
    if (update->changed && state_.session_picture) {
      std::vector<vesk_ui::scene::ImageArea> areas;
      areas.reserve(update->changed->size());
      for (const rfb::Area& a : *update->changed) areas.push_back({a.x, a.y, a.w, a.h});
      picture.set_changed_since(*state_.session_picture, std::move(areas));
    }
    state_.session_picture = std::move(picture);
    state_.redraw = true;
    return true;
  }
  return false;
}

// ---- the frame's own state changes ----

void RemoteApp::step_navigation_flap(vesk_ui::widget::Instant now) {
  const double dt = std::min(std::chrono::duration<double>(now - state_.last_paint).count(), kMaxFlapStepSeconds);
  state_.last_paint = now;
  FlapState& flap = state_.flap;
  if (state_.reduced_motion) {
    snap_navigation_flap(flap, state_.narrow);
    return;
  }
  const double target = flap_target(flap, state_.narrow);
  const double next = flap.position + (1.0 - std::exp(-kFlapRate * std::max(dt, 0.0))) * (target - flap.position);
  if (std::abs(next - target) < kFlapSettled) {
    flap.position = target;
  } else {
    flap.position = next;
    state_.redraw = true;
  }
}

void RemoteApp::advance_frame(vesk_ui::widget::Instant now) {
  sync_inputs();
  step_navigation_flap(now);
  state_.painted_session = session_snapshot();
  // The one place where every change of screen, dialog or session is seen,
  // whether it came from input, a semantic action, an operation, the
  // document or a session event.
  if (ViewSnapshot view = view_snapshot(); view != state_.painted_view) {
    state_.tooltip.dismiss();
    state_.painted_view = std::move(view);
  }
  take_session_updates();
  if (tooltips_painted() && state_.tooltip.tick(now)) state_.redraw = true;
}

void RemoteApp::take_session_updates() {
  if (!state_.live_session) return;
  // SSH output is drained on every frame, whatever the screen: an undrained
  // session stops reading, and queued input (acknowledged text included)
  // would no longer be written.
  bool fresh = false;
  if (LiveSession::Ssh* ssh = state_.live_session->ssh(); ssh && ssh->session) {
    fresh = ssh->session->pump_output();
    // Each frame applies a bounded share; the rest keeps frames coming.
    if (ssh->session->output_pending()) state_.redraw = true;
  }
  if (state_.screen.kind != Screen::Kind::Session) return;
  if (take_session_picture()) fresh = true;
  if (state_.session_connection && state_.live_session->status().is_connected()) {
    SavedConnection* c = find_connection(state_.connections, *state_.session_connection);
    if (c && c->presence != Presence::Online) {
      c->presence = Presence::Online;  // in memory only; the document keeps its own
      fresh = true;
    }
  }
  if (fresh) state_.redraw = true;
}

}  // namespace remote::app
