#pragma once
// Failures of the VNC client are values: a kind the worker tells apart at the
// end of a session, and the fixed English text shown to the user.

#include <expected>
#include <string>

namespace remote::rfb {

enum class ErrorKind {
  InvalidData,
  PermissionDenied,
  Unsupported,
  EndOfStream,  // the peer closed the connection
  ConnectionRefused,
  TimedOut,   // connect timed out
  Stalled,    // no progress for too long while connecting or in the handshake
  Cancelled,  // the session handle was dropped
  Os,         // any other system error, with the system's text
};

struct Error {
  ErrorKind kind;
  std::string message;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(ErrorKind kind, std::string message) {
  return std::unexpected(Error{kind, std::move(message)});
}
inline std::unexpected<Error> invalid_data(std::string message) {
  return fail(ErrorKind::InvalidData, std::move(message));
}

// The system's text for an errno value, with the kinds the worker maps itself.
Error os_error(int errno_value);

}  // namespace remote::rfb
