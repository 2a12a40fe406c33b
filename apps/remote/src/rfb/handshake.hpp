#pragma once
// The RFB handshake steps from ProtocolVersion to SetEncodings, each on its
// own over the stream interfaces.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "apps/remote/src/rfb/error.hpp"
#include "apps/remote/src/rfb/pixel_format.hpp"
#include "apps/remote/src/rfb/stream.hpp"
#include "apps/remote/src/rfb/wire.hpp"

namespace remote::rfb {

inline constexpr std::uint32_t kMaxServerNameBytes = 16'384;
// Reasons become status text: only their first 4 KiB is kept.
inline constexpr std::size_t kMaxReasonBytes = 4096;

struct ProtocolVersion {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  bool operator==(const ProtocolVersion&) const = default;
};

struct ServerInit {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  PixelFormat format;
  std::string name;
};

// "RFB " then major "." minor, each 0 to 255 in decimal (leading zeros and one
// "+" allowed), trailing white space ignored; nothing for anything else.
std::optional<ProtocolVersion> parse_protocol_version(std::span<const std::uint8_t> bytes);
// The minor version the client answers with: 3, 7 or 8.
std::uint8_t reply_minor_version(std::uint8_t server_major, std::uint8_t server_minor);
std::array<std::uint8_t, 12> client_protocol_version(std::uint8_t server_major, std::uint8_t server_minor);

// None when offered, else VNC authentication when offered.
std::optional<std::uint8_t> choose_security_type(std::span<const std::uint8_t> offered);

std::array<std::uint8_t, 16> vnc_auth_response(std::span<const std::uint8_t, 16> challenge, std::string_view password);

// The reason text, cut to kMaxReasonBytes with control characters removed;
// the rest of a longer reason is skipped.
Result<std::string> read_reason(InputStream& in);
Result<void> read_security_result(InputStream& in);
Result<void> check_framebuffer_size(std::uint16_t width, std::uint16_t height);
Result<ServerInit> read_server_init(InputStream& in);

// Version, security, ClientInit, ServerInit, SetPixelFormat and SetEncodings.
Result<ServerInit> run_handshake(InputStream& in, OutputSink& out, const std::optional<std::string>& password);

}  // namespace remote::rfb
