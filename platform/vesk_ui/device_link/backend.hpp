#pragma once
// The interface between the device link and whatever runs device sessions.

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/vesk_ui/device_link/protocol.hpp"

namespace vesk_ui::device_link {

enum class SubmitResult {
  Accepted,
  Coalesced,  // merged into a command still waiting (pointer moves)
  Busy,       // the backend's queue is full; the command was dropped
};

// Whatever runs device sessions behind the link. The UI-thread calls never
// block on the backend's own threads beyond a short lock.
class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;

  // UI thread. Open and Close are never refused; inputs may be.
  virtual SubmitResult submit(DeviceLinkCommand command) = 0;

  // UI thread. Moves up to `max` waiting events, oldest first, to the end of
  // `out`; gives how many.
  virtual std::size_t poll_events(std::vector<LinkEvent>& out, std::size_t max) = 0;

  // Called from the backend's threads when an event arrives in an empty queue,
  // so that an idle event loop can wake up. Must be thread-safe and quick.
  virtual void set_event_notifier(std::function<void()> notify) = 0;
};

}  // namespace vesk_ui::device_link
