#pragma once

// The saved-connection record and its three enumerations. Each enumeration is
// a small value class around a one-byte enum: `ConnectionKind::Vnc` names a
// value, `kind.as_str()` and the other members give its spellings, and a value
// converts to its nested enum so it can be switched on and compared directly.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "apps/remote/src/doc/uuid.hpp"

namespace remote {

class ConnectionKind;
class Readiness;

// How a profile authenticates.
class AuthKind {
 public:
  enum Value : std::uint8_t { Password = 0, PublicKey = 1, DeviceIdentity = 2 };
  // Every value in number order.
  static const std::array<AuthKind, 3> ALL;
  // JSON names in number order, for the writer and the reader alike.
  static constexpr std::array<std::string_view, 3> JSON_NAMES{"Password", "PublicKey", "DeviceIdentity"};

  constexpr AuthKind() = default;
  constexpr AuthKind(Value value) : value_(value) {}
  constexpr operator Value() const { return value_; }
  explicit operator bool() const = delete;  // Password is 0; never test it as a flag
  constexpr Value value() const { return value_; }
  constexpr std::uint8_t number() const { return value_; }

  // Document word: "Public key" and "Device identity"; anything else is Password.
  static AuthKind parse(std::string_view word);
  // Document word, which is also the painted label.
  std::string_view as_str() const;
  std::string_view label() const { return as_str(); }
  // Word of the option id "remote.auth:{}": "password", "public-key", "device-identity".
  std::string_view id_word() const;
  // JSON name ("Password", "PublicKey", "DeviceIdentity"), also the diagnostic text.
  std::string_view json_name() const;

  bool allowed_for(ConnectionKind kind) const;

  friend std::ostream& operator<<(std::ostream& out, AuthKind auth);

 private:
  Value value_ = Password;
};

inline constexpr std::array<AuthKind, 3> AuthKind::ALL{AuthKind::Password, AuthKind::PublicKey,
                                                       AuthKind::DeviceIdentity};

// The transport of a profile. Rdp profiles are kept and editable but never connect.
class ConnectionKind {
 public:
  enum Value : std::uint8_t { Ssh = 0, Vnc = 1, Rdp = 2, Vesk = 3 };
  // Every value in number order.
  static const std::array<ConnectionKind, 4> ALL;
  // JSON names in number order, for the writer and the reader alike.
  static constexpr std::array<std::string_view, 4> JSON_NAMES{"Ssh", "Vnc", "Rdp", "Vesk"};

  constexpr ConnectionKind() = default;
  constexpr ConnectionKind(Value value) : value_(value) {}
  constexpr operator Value() const { return value_; }
  explicit operator bool() const = delete;  // Ssh is 0; never test it as a flag
  constexpr Value value() const { return value_; }
  constexpr std::uint8_t number() const { return value_; }

  // Exact, case-sensitive: "VNC", "RDP", "Vesk"; every other text is Ssh.
  static ConnectionKind parse(std::string_view word);
  // Document and element-id word: "SSH", "VNC", "RDP", "Vesk".
  std::string_view as_str() const;
  // Screen label: "SSH", "VNC", "RDP", "Vesk device".
  std::string_view label() const;
  // JSON name ("Ssh", "Vnc", "Rdp", "Vesk"), also the diagnostic text.
  std::string_view json_name() const;

  // 22, 5900, 3389; a device has no port (stored as 0).
  std::optional<std::uint16_t> default_port() const;
  // Allowed methods; the first is the one a form switches to.
  std::span<const AuthKind> allowed_auths() const;

  // The problem with this target and method, if any (the host is trimmed here).
  std::optional<std::string> check_target(std::string_view host, AuthKind auth) const;
  // Whether this transport can connect here (reads REMOTE_LIVE_SESSIONS).
  Readiness readiness() const;

  friend std::ostream& operator<<(std::ostream& out, ConnectionKind kind);

 private:
  Value value_ = Ssh;
};

inline constexpr std::array<ConnectionKind, 4> ConnectionKind::ALL{ConnectionKind::Ssh, ConnectionKind::Vnc,
                                                                   ConnectionKind::Rdp, ConnectionKind::Vesk};

// Last known reachability of a profile.
class Presence {
 public:
  enum Value : std::uint8_t { Online = 0, Offline = 1, Unknown = 2 };
  // Every value in number order.
  static const std::array<Presence, 3> ALL;

  constexpr Presence() = default;
  constexpr Presence(Value value) : value_(value) {}
  constexpr operator Value() const { return value_; }
  explicit operator bool() const = delete;
  constexpr Value value() const { return value_; }
  constexpr std::uint8_t number() const { return value_; }

  // "online", "offline"; every other text (other letter case included) is Unknown.
  static Presence parse(std::string_view word);
  std::string_view as_str() const;

  friend std::ostream& operator<<(std::ostream& out, Presence presence);

 private:
  Value value_ = Unknown;
};

inline constexpr std::array<Presence, 3> Presence::ALL{Presence::Online, Presence::Offline, Presence::Unknown};

// Whether a saved profile can open a live session here.
class Readiness {
 public:
  enum Value : std::uint8_t { Ready = 0, CapabilityRequired = 1, BackendUnavailable = 2, InvalidProfile = 3 };
  // Every value in number order.
  static const std::array<Readiness, 4> ALL;

  constexpr Readiness() = default;
  constexpr Readiness(Value value) : value_(value) {}
  constexpr operator Value() const { return value_; }
  explicit operator bool() const = delete;  // Ready is 0
  constexpr Value value() const { return value_; }
  constexpr std::uint8_t number() const { return value_; }

  // The sentence shown for this readiness of a profile of that kind.
  std::string_view message(ConnectionKind kind) const;
  // Name of the value ("Ready", ...), for diagnostics.
  std::string_view name() const;

  friend std::ostream& operator<<(std::ostream& out, Readiness readiness);

 private:
  Value value_ = Ready;
};

inline constexpr std::array<Readiness, 4> Readiness::ALL{Readiness::Ready, Readiness::CapabilityRequired,
                                                         Readiness::BackendUnavailable, Readiness::InvalidProfile};

// One saved connection profile. Plain data; validation lives in form.hpp.
struct SavedConnection {
  Uuid id;
  std::string name;
  std::string host;        // host name or address; a device's endpoint id for Vesk
  std::uint16_t port = 0;  // 0 for a Vesk device
  std::string user;
  ConnectionKind kind = ConnectionKind::Ssh;
  AuthKind auth = AuthKind::Password;
  std::string last_used;  // display text ("Never", "just now", ...), not a timestamp
  Presence presence = Presence::Unknown;
  std::string group;  // empty when none
  bool favorite = false;

  // check_target applied to this record's kind, host and method.
  std::optional<std::string> validate_target() const;
  // The kind's readiness, or InvalidProfile when that is Ready but the target check fails.
  Readiness readiness() const;
  // Target text of a list row or session header ("user@host:22", "Vesk device 0123456789ab…").
  std::string target_label() const;

  friend bool operator==(const SavedConnection&, const SavedConnection&) = default;
  friend std::ostream& operator<<(std::ostream& out, const SavedConnection& connection);
};

}  // namespace remote
