#pragma once
// The status every session kind reports through its shared slot.

#include <string>
#include <utility>

namespace remote::ssh {

struct SessionStatus {
  enum class Kind { Connecting, Connected, Ended, Unavailable, Failed };

  Kind kind = Kind::Connecting;
  std::string message;  // only for Unavailable and Failed

  static SessionStatus connecting() { return {Kind::Connecting, {}}; }
  static SessionStatus connected() { return {Kind::Connected, {}}; }
  static SessionStatus ended() { return {Kind::Ended, {}}; }
  static SessionStatus unavailable(std::string text) { return {Kind::Unavailable, std::move(text)}; }
  static SessionStatus failed(std::string text) { return {Kind::Failed, std::move(text)}; }

  bool is_connected() const { return kind == Kind::Connected; }
  bool is_failed() const { return kind == Kind::Failed; }

  friend bool operator==(const SessionStatus&, const SessionStatus&) = default;
};

}  // namespace remote::ssh
