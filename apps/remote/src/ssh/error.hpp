#pragma once
// Failures of the SSH worker are values: whether the session was cancelled
// (its handle dropped), or failed with the text its status shows.

#include <cstdint>
#include <expected>
#include <string>
#include <utility>

namespace remote::ssh {

enum class ErrorKind : std::uint8_t {
  Cancelled,  // the session handle was dropped; nobody reads the text
  Failed,     // the text is the status's sentence
};

struct Error {
  ErrorKind kind = ErrorKind::Failed;
  std::string message;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> failure(std::string message) {
  return std::unexpected(Error{ErrorKind::Failed, std::move(message)});
}

inline constexpr const char* kCancelledText = "SSH session closed";
inline std::unexpected<Error> cancelled() { return std::unexpected(Error{ErrorKind::Cancelled, kCancelledText}); }

}  // namespace remote::ssh
