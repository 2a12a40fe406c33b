// The accessibility of the session screen: the status, the remote surface
// while connected, and the card's buttons.
#include "apps/remote/src/app/accessibility_screens.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::Role;

namespace {

std::string status_text(const std::optional<SessionStatus>& status) {
  if (!status) return "Not connected";
  switch (status->kind) {
    case SessionStatus::Kind::Connecting: return "Connecting";
    case SessionStatus::Kind::Connected: return "Connected";
    case SessionStatus::Kind::Ended: return "Session ended";
    case SessionStatus::Kind::Unavailable: return remote::text::fill("Not available: {}", {status->message});
    case SessionStatus::Kind::Failed: return remote::text::fill("Connection failed: {}", {status->message});
  }
  return "Not connected";
}

}  // namespace

AccessNode session_screen_node(const RemoteApp& app, const AccessBuilder& b) {
  const AppState& state = app.state();
  AccessNode session = group(Role::Group, "Remote session");
  const Uuid id = state.screen.id;
  const SavedConnection* c = find_connection(state.connections, id);
  std::optional<SessionStatus> status;
  if (state.live_session) status = state.live_session->status();
  session.children.push_back(passive(Role::Heading, c ? c->name : "Remote session", "remote.session.heading",
                                     vesk_ui::access::kTextMarkerDefault));
  AccessNode status_node =
      passive(Role::Text, status_text(status), "remote.session.status", vesk_ui::access::kTextMarkerStatus);
  // The card shows a long reason cut short; the whole text is here.
  if (status && !status->message.empty()) status_node.description = status->message;
  session.children.push_back(std::move(status_node));
  const bool connected = status && status->is_connected();
  if (connected) {
    const bool ssh = c && c->kind == ConnectionKind::Ssh;
    AccessNode surface = passive(ssh ? Role::Terminal : Role::RemotePicture,
                                 ssh ? "Interactive SSH terminal" : "Interactive remote desktop",
                                 "remote.session.surface", vesk_ui::access::kTextMarkerDefault);
    surface.description = "Keyboard and pointer input are sent to the remote machine";
    session.children.push_back(std::move(surface));
    if (c && !ssh) {
      AccessNode scale = b.interactive(Role::ToggleButton, "Scale remote desktop to fit", "remote.session.scale",
                                       UiMessage::toggle_scale());
      scale.toggled = state.scale_to_fit;
      session.children.push_back(std::move(scale));
      session.children.push_back(b.button(state.fullscreen ? "Exit fullscreen" : "Enter fullscreen",
                                          "remote.session.fullscreen", UiMessage::toggle_fullscreen()));
    }
  }
  // The card's first button: the host-key button whenever the card shows
  // one (it takes Retry's place), else Retry for a failure.
  const std::string id_text = id.to_string();
  const auto observation = c && c->kind == ConnectionKind::Ssh && !connected ? app.pending_host_key(id) : std::nullopt;
  if (observation && observation->unknown()) {
    session.children.push_back(b.button("Trust key",
                                        remote::text::fill("remote.connection:{}:trust-host-key", {id_text}),
                                        UiMessage::request_trust_host_key(id)));
  } else if (observation && observation->changed()) {
    session.children.push_back(b.button("Forget key",
                                        remote::text::fill("remote.connection:{}:forget-host-key", {id_text}),
                                        UiMessage::request_forget_host_key(id)));
  } else if (status && status->kind == SessionStatus::Kind::Failed) {
    session.children.push_back(b.button("Retry connection",
                                        remote::text::fill("remote.connection:{}:connect", {id_text}),
                                        UiMessage::request_connect(id)));
  }
  if (status && status->kind == SessionStatus::Kind::Unavailable) {
    session.children.push_back(b.button("Edit connection", remote::text::fill("remote.connection:{}:edit", {id_text}),
                                        UiMessage::edit_connection(id)));
  }
  session.children.push_back(
      b.button(connected ? "Disconnect" : "Back to list", "remote.session.disconnect", UiMessage::disconnect()));
  return session;
}

}  // namespace remote::app
