#pragma once
// The at most one live session of the application.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "apps/remote/src/app/device_session.hpp"
#include "apps/remote/src/app/state.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/rfb/session.hpp"
#include "apps/remote/src/ssh/session.hpp"

namespace remote::app {

struct LiveSession {
  // An SSH terminal, with the target it was started for: a host-key
  // observation belongs to that host and port, not to whatever the profile
  // says later.
  struct Ssh {
    std::unique_ptr<ssh::SshSession> session;
    std::string host;
    std::uint16_t port = 0;
  };
  struct Vnc {
    std::unique_ptr<rfb::VncSession> session;
  };
  struct Device {
    DeviceSession session;
  };
  struct Failed {
    std::string message;
  };
  struct Unavailable {
    Readiness readiness;
    ConnectionKind kind;
  };
  // Review scenes only: a fixed status.
  struct Review {
    SessionStatus status;
  };

  std::variant<Ssh, Vnc, Device, Failed, Unavailable, Review> value;

  // A snapshot: SSH and VNC read their shared slot under its lock.
  SessionStatus status() const;

  Ssh* ssh() { return std::get_if<Ssh>(&value); }
  const Ssh* ssh() const { return std::get_if<Ssh>(&value); }
  Vnc* vnc() { return std::get_if<Vnc>(&value); }
  const Vnc* vnc() const { return std::get_if<Vnc>(&value); }
  DeviceSession* device() {
    auto* d = std::get_if<Device>(&value);
    return d ? &d->session : nullptr;
  }
  const DeviceSession* device() const {
    const auto* d = std::get_if<Device>(&value);
    return d ? &d->session : nullptr;
  }
};

}  // namespace remote::app
