#pragma once
// The status a VNC session reports. Connecting, Connected and Ended carry no
// text; Unavailable and Failed carry the sentence shown.

#include <string>

namespace rfb {

struct SessionStatus {
  enum class Kind { Connecting, Connected, Ended, Unavailable, Failed };
  Kind kind = Kind::Connecting;
  std::string message;

  static SessionStatus connecting() { return {Kind::Connecting, {}}; }
  static SessionStatus connected() { return {Kind::Connected, {}}; }
  static SessionStatus ended() { return {Kind::Ended, {}}; }
  static SessionStatus unavailable(std::string text) { return {Kind::Unavailable, std::move(text)}; }
  static SessionStatus failed(std::string text) { return {Kind::Failed, std::move(text)}; }

  bool operator==(const SessionStatus&) const = default;
};

}  // namespace rfb
