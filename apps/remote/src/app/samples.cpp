#include "apps/remote/src/app/samples.hpp"

#include <sodium.h>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/list.hpp"

namespace remote::app {

namespace {

constexpr EndpointId::Seed seed_of(std::uint8_t first) {
  EndpointId::Seed seed{};
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(first + i * 7);
  return seed;
}

using K = ConnectionKind;
using A = AuthKind;
using P = Presence;

constexpr std::array<SampleProfileSpec, 8> kSampleProfiles = {{
    {"Build Box", "build.example.com", "dev", "12m ago", "lab", 22, K::Ssh, A::PublicKey, P::Online, true, 0},
    {"Studio Node", "", "", "just now", "Vesk", 0, K::Vesk, A::DeviceIdentity, P::Online, true, 1},
    {"Office NAS", "192.0.2.10", "admin", "2h ago", "home", 5900, K::Vnc, A::Password, P::Online, false, 0},
    {"Win Workstation", "198.51.100.20", "alex", "yesterday", "work", 3389, K::Rdp, A::Password, P::Offline, false, 0},
    {"Edge Gateway", "gateway.example.net", "ops", "3d ago", "prod", 2222, K::Ssh, A::PublicKey, P::Online, false, 0},
    {"Pi Cluster Head", "10.0.0.42", "pi", "1w ago", "lab", 22, K::Ssh, A::Password, P::Offline, false, 0},
    {"Workshop Laptop", "", "", "5h ago", "Vesk", 0, K::Vesk, A::DeviceIdentity, P::Online, false, 2},
    {"Backup Vault", "vault.example.org", "backup", "Never", "prod", 5901, K::Vnc, A::Password, P::Unknown, false, 0},
}};

}  // namespace

const std::array<EndpointId::Seed, 4> kSampleDeviceSeeds = {seed_of(0x11), seed_of(0x42), seed_of(0x73), seed_of(0xa4)};

std::string sample_endpoint_id(std::size_t index) {
  EndpointId::Seed seed = kSampleDeviceSeeds.at(index);
  const EndpointId id = EndpointId::from_seed(seed);
  sodium_memzero(seed.data(), seed.size());
  return id.to_string();
}

SavedConnection sample_profile(const SampleProfileSpec& profile) {
  SavedConnection c;
  c.id = Uuid::new_v4();
  c.name = profile.name;
  c.host = profile.sample_key > 0 ? sample_endpoint_id(static_cast<std::size_t>(profile.sample_key - 1))
                                  : std::string(profile.host);
  c.port = profile.port;
  c.user = profile.user;
  c.kind = profile.kind;
  c.auth = profile.auth;
  c.last_used = profile.last_used;
  c.presence = profile.presence;
  c.group = profile.group;
  c.favorite = profile.favorite;
  return c;
}

std::vector<SavedConnection> sample_connections() {
  std::vector<SavedConnection> list;
  for (const SampleProfileSpec& profile : kSampleProfiles) upsert_connection(list, sample_profile(profile));
  return list;
}

std::vector<DiscoveredDevice> sample_devices() {
  return {
      {"Studio Node", sample_endpoint_id(0), true},
      {"Workshop Laptop", sample_endpoint_id(1), true},
      {"Living Room TV", sample_endpoint_id(2), true},
      {"Garage Pi", sample_endpoint_id(3), false},
  };
}

std::unique_ptr<RemoteApp> RemoteApp::with_sample_data() {
  return std::make_unique<RemoteApp>(sample_connections(), sample_devices());
}

void RemoteApp::show_session_status(ConnectionKind kind, SessionStatus status) {
  auto id = first_connection_of_kind(kind);
  if (!id) return;
  state_.session_connection = *id;
  drop_live_session();
  state_.live_session = LiveSession{LiveSession::Review{std::move(status)}};
  state_.screen = Screen::session(*id);
}

void RemoteApp::apply_review_state(std::string_view word) {
  // Dispatches land in a document that is thrown away: a scene never changes
  // the real one.
  Document scratch;
  auto open_first = [&](ConnectionKind kind) {
    if (auto id = first_connection_of_kind(kind)) apply_message(UiMessage::open_session(*id), scratch);
  };
  if (word == "form") {
    apply_message(UiMessage::new_connection(), scratch);
  } else if (word == "form-vesk") {
    apply_message(UiMessage::new_connection(), scratch);
    apply_message(UiMessage::set_kind(ConnectionKind::Vesk), scratch);
  } else if (word == "session-ssh") {
    open_first(ConnectionKind::Ssh);
  } else if (word == "session-vnc") {
    open_first(ConnectionKind::Vnc);
  } else if (word == "session-rdp") {
    show_session_status(
        ConnectionKind::Rdp,
        SessionStatus::unavailable("RDP profiles are preserved, but this Vesk build has no RDP client backend."));
  } else if (word == "session-vesk") {
    show_session_status(ConnectionKind::Vesk, SessionStatus::connecting());
  } else if (word == "session-connecting") {
    show_session_status(ConnectionKind::Ssh, SessionStatus::connecting());
  } else if (word == "session-failed") {
    show_session_status(ConnectionKind::Vnc, SessionStatus::failed("Connection refused"));
  } else if (word == "confirm-connect") {
    if (auto id = first_connection_of_kind(ConnectionKind::Vesk)) request_connect(*id);
  } else if (word == "confirm-delete") {
    if (!state_.connections.empty()) request_delete(state_.connections.front().id);
  } else if (word == "confirm-ssh-trust") {
    if (auto id = first_connection_of_kind(ConnectionKind::Ssh)) {
      const SavedConnection* c = find_connection(state_.connections, *id);
      state_.confirmation = Confirmation::trust_ssh_host_key(
          connection_signature(*c), ssh::HostKeyIdentity{"ssh-ed25519", "SHA256:DemoFingerprintForVisualReviewOnly"},
          *id);
    }
  }
}

}  // namespace remote::app
