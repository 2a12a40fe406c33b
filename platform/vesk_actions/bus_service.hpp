// The application's actions on the session bus: the well-known name of the
// application id, one object ("/dev/vesk/remote" for "dev.vesk.remote") with
// the interface "{app id}.Actions": Tree, Invoke, Poll, Cancel, Detach and
// the signal TreeChanged. An operation is cancelled when the client that
// started it leaves the bus, unless that client detached it first. Calls are dispatched from GLib's default main
// context, so they reach the target on the thread that iterates it (the UI thread).
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/vesk_actions/action_target.hpp"

namespace vesk_actions {

// "dev.vesk.remote" -> "/dev/vesk/remote".
std::string bus_object_path(std::string_view app_id);
std::string bus_interface_name(std::string_view app_id);

class BusService {
 public:
  // Connects to the session bus without waiting for it (a bus that hangs
  // must not hold up the window), then exports the object and asks for the
  // name. `unavailable` is told once, with a sentence for the log, when the
  // bus cannot be used; the application then goes on without it. The error
  // is an application id that cannot be a bus name.
  static std::expected<std::unique_ptr<BusService>, std::string> start(
      std::string app_id, ActionTarget& target, std::function<void(const std::string&)> unavailable);
  ~BusService();
  BusService(const BusService&) = delete;
  BusService& operator=(const BusService&) = delete;

  // After a painted frame: emits TreeChanged when the tree differs from the
  // last one a client received (none before the first Tree call).
  void after_frame();

  struct Impl;

 private:
  explicit BusService(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesk_actions
