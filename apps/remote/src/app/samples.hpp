#pragma once
// Built-in sample connections, devices and review scenes. Names are reserved
// example domains and addresses are from the documentation ranges (or a
// private range). With REMOTE_LIVE_SESSIONS set, the scenes "session-ssh" and
// "session-vnc" open the first SSH or VNC sample and so do try to connect to
// its host; every other scene only shows them.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "apps/remote/src/app/state.hpp"
#include "apps/remote/src/doc/endpoint_id.hpp"
#include "apps/remote/src/doc/model.hpp"

namespace remote::app {

struct SampleProfileSpec {
  std::string_view name;
  std::string_view host;  // empty for a device: the host is its sample key's endpoint id
  std::string_view user;
  std::string_view last_used;
  std::string_view group;
  std::uint16_t port = 0;
  ConnectionKind kind;
  AuthKind auth;
  Presence presence;
  bool favorite = false;
  int sample_key = 0;  // 1-based key whose endpoint id is the host; 0 for none
};

// Four fixed Ed25519 seeds.
extern const std::array<EndpointId::Seed, 4> kSampleDeviceSeeds;

// 64 lower-case hex digits of the public key of sample key `index` (0-based).
std::string sample_endpoint_id(std::size_t index);

// A record with a new random id and the profile's fields.
SavedConnection sample_profile(const SampleProfileSpec& profile);

std::vector<SavedConnection> sample_connections();
std::vector<DiscoveredDevice> sample_devices();

// The review scenes, in the order the launch description lists them.
inline constexpr std::array<std::string_view, 13> kReviewScenes = {
    "narrow",           "narrow-open",     "form",
    "form-vesk",        "session-ssh",     "session-vnc",
    "session-rdp",      "session-vesk",    "session-connecting",
    "session-failed",   "confirm-connect", "confirm-delete",
    "confirm-ssh-trust"};

}  // namespace remote::app
