#pragma once
// The numbers of the RFB wire: message types in each direction, the
// encodings and the security types. The reader, the writer and the test
// servers all name them from here.

#include <cstdint>

namespace remote::rfb {

// Message types the client writes (first byte of each message).
namespace client_message {
inline constexpr std::uint8_t kSetPixelFormat = 0;
inline constexpr std::uint8_t kSetEncodings = 2;
inline constexpr std::uint8_t kFramebufferUpdateRequest = 3;
inline constexpr std::uint8_t kKeyEvent = 4;
inline constexpr std::uint8_t kPointerEvent = 5;
}  // namespace client_message

// Message types the server writes.
namespace server_message {
inline constexpr std::uint8_t kFramebufferUpdate = 0;
inline constexpr std::uint8_t kSetColourMapEntries = 1;
inline constexpr std::uint8_t kBell = 2;
inline constexpr std::uint8_t kServerCutText = 3;
}  // namespace server_message

// Rectangle encodings (signed 32-bit on the wire).
inline constexpr std::int32_t kEncodingRaw = 0;
inline constexpr std::int32_t kEncodingCopyRect = 1;
inline constexpr std::int32_t kEncodingRre = 2;

// Security types.
inline constexpr std::uint8_t kSecurityNone = 1;
inline constexpr std::uint8_t kSecurityVncAuth = 2;

}  // namespace remote::rfb
