#include "apps/remote/src/doc/model.hpp"

#include <ostream>

#include "apps/remote/src/doc/endpoint_id.hpp"
#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote {
namespace {

constexpr std::array<AuthKind, 2> kSshAuths{AuthKind::Password, AuthKind::PublicKey};
constexpr std::array<AuthKind, 1> kPasswordOnly{AuthKind::Password};
constexpr std::array<AuthKind, 1> kDeviceIdentityOnly{AuthKind::DeviceIdentity};

}  // namespace

// AuthKind

AuthKind AuthKind::parse(std::string_view word) {
  if (word == "Public key") return PublicKey;
  if (word == "Device identity") return DeviceIdentity;
  return Password;
}

std::string_view AuthKind::as_str() const {
  switch (value_) {
    case Password: return "Password";
    case PublicKey: return "Public key";
    case DeviceIdentity: return "Device identity";
  }
  return "Password";
}

std::string_view AuthKind::id_word() const {
  switch (value_) {
    case Password: return "password";
    case PublicKey: return "public-key";
    case DeviceIdentity: return "device-identity";
  }
  return "password";
}

std::string_view AuthKind::json_name() const { return JSON_NAMES[value_ < 3 ? value_ : 0]; }

bool AuthKind::allowed_for(ConnectionKind kind) const {
  for (AuthKind allowed : kind.allowed_auths()) {
    if (allowed == *this) return true;
  }
  return false;
}

std::ostream& operator<<(std::ostream& out, AuthKind auth) { return out << auth.json_name(); }

// ConnectionKind

ConnectionKind ConnectionKind::parse(std::string_view word) {
  if (word == "VNC") return Vnc;
  if (word == "RDP") return Rdp;
  if (word == "Vesk") return Vesk;
  return Ssh;
}

std::string_view ConnectionKind::as_str() const {
  switch (value_) {
    case Ssh: return "SSH";
    case Vnc: return "VNC";
    case Rdp: return "RDP";
    case Vesk: return "Vesk";
  }
  return "SSH";
}

std::string_view ConnectionKind::label() const { return value_ == Vesk ? std::string_view("Vesk device") : as_str(); }

std::string_view ConnectionKind::json_name() const { return JSON_NAMES[value_ < 4 ? value_ : 0]; }

std::optional<std::uint16_t> ConnectionKind::default_port() const {
  switch (value_) {
    case Ssh: return 22;
    case Vnc: return 5900;
    case Rdp: return 3389;
    case Vesk: return std::nullopt;
  }
  return std::nullopt;
}

std::span<const AuthKind> ConnectionKind::allowed_auths() const {
  switch (value_) {
    case Ssh: return kSshAuths;
    case Vnc:
    case Rdp: return kPasswordOnly;
    case Vesk: return kDeviceIdentityOnly;
  }
  return kSshAuths;
}

std::optional<std::string> ConnectionKind::check_target(std::string_view host, AuthKind auth) const {
  if (!auth.allowed_for(*this)) {
    switch (value_) {
      case Ssh: return "SSH profiles support password or public-key authentication.";
      case Vnc: return "VNC profiles support password authentication only.";
      case Rdp: return "RDP profiles support password authentication only.";
      case Vesk: return "Vesk device profiles must use Vesk device identity.";
    }
  }
  if (value_ == Vesk) {
    const std::string_view trimmed = text::trim(host);
    if (!trimmed.empty() && !EndpointId::parse(trimmed)) {
      return "Vesk device node must be an exact certified endpoint id.";
    }
  }
  return std::nullopt;
}

Readiness ConnectionKind::readiness() const {
  switch (value_) {
    case Ssh:
    case Vnc: return live_sessions_enabled() ? Readiness::Ready : Readiness::CapabilityRequired;
    case Rdp: return Readiness::BackendUnavailable;
    case Vesk: return Readiness::Ready;
  }
  return Readiness::BackendUnavailable;
}

std::ostream& operator<<(std::ostream& out, ConnectionKind kind) { return out << kind.json_name(); }

// Presence

Presence Presence::parse(std::string_view word) {
  if (word == "online") return Online;
  if (word == "offline") return Offline;
  return Unknown;
}

std::string_view Presence::as_str() const {
  switch (value_) {
    case Online: return "online";
    case Offline: return "offline";
    case Unknown: return "unknown";
  }
  return "unknown";
}

std::ostream& operator<<(std::ostream& out, Presence presence) { return out << presence.as_str(); }

// Readiness

std::string_view Readiness::message(ConnectionKind kind) const {
  switch (value_) {
    case Ready: return "This transport is ready to connect.";
    case CapabilityRequired:
      if (kind == ConnectionKind::Ssh)
        return "SSH is installed, but this build has not been granted live network access.";
      if (kind == ConnectionKind::Vnc)
        return "VNC is installed, but this build has not been granted live network access.";
      return "This transport needs a capability before it can connect.";
    case BackendUnavailable: return "RDP profiles are preserved, but this Vesk build has no RDP client backend.";
    case InvalidProfile: return "This saved connection has incompatible target or authentication settings.";
  }
  return "This transport needs a capability before it can connect.";
}

std::string_view Readiness::name() const {
  switch (value_) {
    case Ready: return "Ready";
    case CapabilityRequired: return "CapabilityRequired";
    case BackendUnavailable: return "BackendUnavailable";
    case InvalidProfile: return "InvalidProfile";
  }
  return "Ready";
}

std::ostream& operator<<(std::ostream& out, Readiness readiness) { return out << readiness.name(); }

// SavedConnection

std::optional<std::string> SavedConnection::validate_target() const { return kind.check_target(host, auth); }

Readiness SavedConnection::readiness() const {
  const Readiness ready = kind.readiness();
  if (ready == Readiness::Ready && validate_target()) return Readiness::InvalidProfile;
  return ready;
}

std::string SavedConnection::target_label() const {
  constexpr std::size_t kShownDeviceChars = 12;
  if (kind == ConnectionKind::Vesk) {
    std::string out = "Vesk device ";
    if (text::char_count(host) > kShownDeviceChars) {
      out.append(text::first_chars(host, kShownDeviceChars));
      out.append("\u2026");
    } else {
      out.append(host);
    }
    return out;
  }
  std::string target = host;
  if (port != 0) target += ":" + std::to_string(port);
  if (kind == ConnectionKind::Ssh && !user.empty()) return user + "@" + target;
  return target;
}

std::ostream& operator<<(std::ostream& out, const SavedConnection& c) {
  return out << "SavedConnection{id=" << c.id << ", name=\"" << c.name << "\", host=\"" << c.host
             << "\", port=" << c.port << ", user=\"" << c.user << "\", kind=" << c.kind << ", auth=" << c.auth
             << ", last_used=\"" << c.last_used << "\", presence=" << c.presence << ", group=\"" << c.group
             << "\", favorite=" << (c.favorite ? "true" : "false") << "}";
}

}  // namespace remote
