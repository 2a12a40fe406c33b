#pragma once
// The TCP connect both session workers use: every resolved address is tried
// in order, each connect is watched together with the cancel signal, and the
// last failure is the one reported.

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "apps/remote/src/sync/cancel_signal.hpp"

namespace remote::sync {

inline constexpr const char* kNoAddressText = "could not resolve to any address";

struct TcpConnectError {
  enum class Kind : std::uint8_t {
    Cancelled,  // the cancel signal fired; no text
    NoAddress,  // the name yields no address (kNoAddressText)
    Lookup,     // the resolver failed; its own text
    Os,         // socket or connect failed; `code` is the errno, 0 when unknown
  };
  Kind kind = Kind::Os;
  int code = 0;
  std::string message;
};

// Returns a connected, non-blocking descriptor the caller owns. A connect
// that shows no progress for `stall` fails with ETIMEDOUT; without one it
// waits as long as a blocking connect would.
std::expected<int, TcpConnectError> connect_tcp(const std::string& host, std::uint16_t port, const CancelSignal& cancel,
                                                std::optional<std::chrono::milliseconds> stall);

}  // namespace remote::sync
