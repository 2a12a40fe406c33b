#pragma once
// The status every kind of session reports: SSH and VNC workers publish it
// through their shared slot, device sessions keep it in their record, and the
// app reads it as is. Connecting, Connected and Ended carry no text;
// Unavailable and Failed carry the sentence shown. Copies carry the text.

#include <cstdint>
#include <string>
#include <utility>

namespace remote::sync {

struct SessionStatus {
  enum class Kind : std::uint8_t { Connecting, Connected, Ended, Unavailable, Failed };

  Kind kind = Kind::Connecting;
  std::string message;  // Unavailable and Failed only

  static SessionStatus connecting() { return {Kind::Connecting, {}}; }
  static SessionStatus connected() { return {Kind::Connected, {}}; }
  static SessionStatus ended() { return {Kind::Ended, {}}; }
  static SessionStatus unavailable(std::string text) { return {Kind::Unavailable, std::move(text)}; }
  static SessionStatus failed(std::string text) { return {Kind::Failed, std::move(text)}; }

  bool is_connecting() const { return kind == Kind::Connecting; }
  bool is_connected() const { return kind == Kind::Connected; }
  bool is_failed() const { return kind == Kind::Failed; }

  friend bool operator==(const SessionStatus&, const SessionStatus&) = default;
};

}  // namespace remote::sync
