// The session hub: the one place that opens and closes the live session.
#include <limits>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/endpoint_id.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/ssh/credentials.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"

namespace remote::app {

namespace {

constexpr std::uint64_t kSerialMax = std::numeric_limits<std::uint64_t>::max();
constexpr const char* kSerialExhausted = "remote session identity exhausted; restart the application";
constexpr const char* kBadDeviceHost = "Vesk host must be an exact certified device endpoint id";

LiveSession failed(std::string message) { return LiveSession{LiveSession::Failed{std::move(message)}}; }

}  // namespace

void RemoteApp::drop_live_session() {
  release_held_input();
  if (state_.live_session) {
    // The device would otherwise keep streaming and stay under control.
    if (const DeviceSession* device = state_.live_session->device()) {
      state_.device_commands.push_back(DeviceLinkCommand::close(device->id()));
    }
  }
  state_.live_session.reset();
}

void RemoteApp::open_session(const Uuid& id) {
  const SavedConnection* found = find_connection(state_.connections, id);
  if (!found) return;
  const SavedConnection profile = *found;
  // Its row is the selection, so that Enter on the list leads back to it.
  state_.selection = id;
  if (state_.session_serial == kSerialMax) {
    state_.session_connection = id;
    drop_live_session();
    state_.live_session = failed(kSerialExhausted);
    state_.screen = Screen::session(id);
    return;
  }
  ++state_.session_serial;
  state_.session_connection = id;
  state_.fullscreen = false;
  state_.session_picture.reset();
  state_.session_surface.reset();
  drop_live_session();
  state_.vnc_button_mask = 0;

  const Readiness readiness = profile.readiness();
  if (readiness != Readiness::Ready) {
    state_.live_session = LiveSession{LiveSession::Unavailable{readiness, profile.kind}};
    state_.screen = Screen::session(id);
    return;
  }
  switch (profile.kind) {
    case ConnectionKind::Ssh: open_ssh_session(profile); break;
    case ConnectionKind::Vnc: open_vnc_session(profile); break;
    case ConnectionKind::Rdp:
      state_.live_session = LiveSession{LiveSession::Unavailable{Readiness::BackendUnavailable, ConnectionKind::Rdp}};
      break;
    case ConnectionKind::Vesk: open_device_session(profile); break;
  }
  if (SavedConnection* entry = find_connection(state_.connections, id)) entry->last_used = "just now";
  state_.screen = Screen::session(id);
}

void RemoteApp::open_ssh_session(const SavedConnection& profile) {
  auto pins = ssh::known_hosts_path();
  if (!pins) {
    state_.live_session = failed("SSH host-key trust is unavailable: " + pins.error());
    return;
  }
  auto credentials = ssh::credentials_from_env(profile.auth == AuthKind::PublicKey, ssh::default_identity_paths());
  if (!credentials) {
    state_.live_session = failed(credentials.error());
    return;
  }
  std::string user = profile.user;
  if (user.empty()) user = ssh::env_text("USER").value_or("root");
  ssh::SshSessionParams params{profile.host, std::move(user),  *pins,        std::move(*credentials),
                               profile.port, kTerminalColumns, kTerminalRows};
  auto started = ssh::SshSession::start(std::move(params));
  if (!started) {
    state_.live_session = failed(started.error());
    return;
  }
  state_.live_session = LiveSession{LiveSession::Ssh{std::move(*started), profile.host, profile.port}};
}

void RemoteApp::open_vnc_session(const SavedConnection& profile) {
  auto spawned = rfb::VncSession::spawn(rfb::VncTarget{profile.host, rfb::vnc_password_from_env(), profile.port});
  if (!spawned) {
    state_.live_session = failed(spawned.error());
    return;
  }
  state_.live_session = LiveSession{LiveSession::Vnc{std::make_unique<rfb::VncSession>(std::move(*spawned))}};
}

void RemoteApp::open_device_session(const SavedConnection& profile) {
  auto endpoint = EndpointId::parse(profile.host);  // as stored: no trimming here
  if (!endpoint) {
    state_.live_session = failed(kBadDeviceHost);
    return;
  }
  const DeviceSessionId session_id = state_.next_device_session_id;
  if (state_.next_device_session_id != kSerialMax) ++state_.next_device_session_id;
  state_.device_commands.push_back(DeviceLinkCommand::open(endpoint->bytes(), session_id));
  auto started = DeviceSession::start(session_id, device_options_);
  if (!started) {
    // The Open is already queued; without a decoder the device must not keep streaming.
    state_.device_commands.push_back(DeviceLinkCommand::close(session_id));
    state_.live_session = failed("could not start Vesk frame decoder: " + started.error());
    return;
  }
  state_.live_session = LiveSession{LiveSession::Device{std::move(*started)}};
}

void RemoteApp::disconnect() {
  drop_live_session();
  state_.session_picture.reset();
  state_.session_surface.reset();
  state_.session_connection.reset();
  if (state_.session_serial != kSerialMax) ++state_.session_serial;
  state_.fullscreen = false;
  state_.screen = Screen::connection_list();
}

SessionStatus LiveSession::status() const {
  return std::visit(
      [](const auto& v) -> SessionStatus {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, Ssh>) {
          return v.session ? v.session->status() : SessionStatus::ended();
        } else if constexpr (std::is_same_v<V, Vnc>) {
          return v.session ? v.session->status() : SessionStatus::ended();
        } else if constexpr (std::is_same_v<V, Device>) {
          return v.session.status();
        } else if constexpr (std::is_same_v<V, Failed>) {
          return SessionStatus::failed(v.message);
        } else if constexpr (std::is_same_v<V, Unavailable>) {
          return SessionStatus::unavailable(std::string(v.readiness.message(v.kind)));
        } else {
          return v.status;
        }
      },
      value);
}

}  // namespace remote::app
