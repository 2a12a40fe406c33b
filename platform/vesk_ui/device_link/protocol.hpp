#pragma once

// Commands the application queues for the device link, and the events the
// link hands back.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/vesk_ui/device_link/input_event.hpp"

namespace vesk_ui::device_link {

// A device's endpoint: its 32-byte public key.
using EndpointKey = std::array<std::uint8_t, 32>;
using DeviceSessionId = std::uint64_t;

struct DeviceLinkCommand {
  struct Open {
    EndpointKey endpoint{};
    DeviceSessionId session_id = 0;
    bool operator==(const Open&) const = default;
  };
  struct Input {
    DeviceInputEvent event;
    DeviceSessionId session_id = 0;
    bool operator==(const Input&) const = default;
  };
  struct Close {
    DeviceSessionId session_id = 0;
    bool operator==(const Close&) const = default;
  };

  std::variant<Open, Input, Close> value;

  static DeviceLinkCommand open(const EndpointKey& endpoint, DeviceSessionId id) { return {Open{endpoint, id}}; }
  static DeviceLinkCommand input(const DeviceInputEvent& event, DeviceSessionId id) { return {Input{event, id}}; }
  static DeviceLinkCommand close(DeviceSessionId id) { return {Close{id}}; }

  DeviceSessionId session_id() const;

  bool operator==(const DeviceLinkCommand&) const = default;
};

// Why a device session ended.
struct DeviceCloseReason {
  enum class Kind : std::uint8_t {
    PeerText = 0,  // the device's own words, in `text`
    Revoked = 1,
    Disconnected = 2,
    RelayLost = 3,
    Closed = 4,
  };

  // Longest peer text kept; the rest is cut at a character boundary.
  static constexpr std::size_t kMaxPeerTextBytes = 1024;

  Kind kind = Kind::Closed;
  std::string text;  // only for PeerText: valid UTF-8, at most kMaxPeerTextBytes

  // Peer text is untrusted: invalid UTF-8 becomes U+FFFD and long text is cut.
  static DeviceCloseReason peer_text(std::string_view text);
  static DeviceCloseReason revoked() { return {Kind::Revoked, {}}; }
  static DeviceCloseReason disconnected() { return {Kind::Disconnected, {}}; }
  static DeviceCloseReason relay_lost() { return {Kind::RelayLost, {}}; }
  static DeviceCloseReason closed() { return {Kind::Closed, {}}; }

  // The sentence shown for this reason ("Target disconnected", ...); the peer's
  // text unchanged for PeerText.
  std::string message() const;

  bool operator==(const DeviceCloseReason&) const = default;
};

// An event of one device session.
struct DeviceLinkEvent {
  // Sub-kind 0: the route to the device is being set up.
  struct Connecting {
    bool operator==(const Connecting&) const = default;
  };
  // Sub-kind 1: the device accepted; its screen has this size.
  struct Connected {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const Connected&) const = default;
  };
  // Sub-kind 2: one encoded H.264 access unit (Annex B).
  struct Frame {
    std::vector<std::uint8_t> packet;
    bool operator==(const Frame&) const = default;
  };
  // Sub-kind 3: the session is over; no further events carry its id.
  struct Closed {
    DeviceCloseReason reason;
    bool operator==(const Closed&) const = default;
  };

  DeviceSessionId session_id = 0;
  std::variant<Connecting, Connected, Frame, Closed> kind;

  bool operator==(const DeviceLinkEvent&) const = default;
};

// Everything the device link hands to its host. Only device-session events
// concern a session; hosts skip the kinds they do not know.
struct LinkEvent {
  // A device's reachability changed (for device lists; not tied to a session).
  struct PresenceChanged {
    EndpointKey endpoint{};
    bool online = false;
    bool operator==(const PresenceChanged&) const = default;
  };

  std::variant<DeviceLinkEvent, PresenceChanged> value;

  // The device-session event, or null for other kinds.
  const DeviceLinkEvent* device_session() const { return std::get_if<DeviceLinkEvent>(&value); }

  bool operator==(const LinkEvent&) const = default;
};

// Replaces invalid UTF-8 with U+FFFD and cuts at `max_bytes` on a character
// boundary.
std::string sanitize_utf8(std::string_view text, std::size_t max_bytes);

}  // namespace vesk_ui::device_link
