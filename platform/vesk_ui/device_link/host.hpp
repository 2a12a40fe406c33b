#pragma once
// The application's side of the device link.

#include <vector>

#include "platform/vesk_ui/device_link/protocol.hpp"

namespace vesk_ui::device_link {

// What an application implements to use the device link. Both operations are
// called on the UI thread by `DeviceLink::tick` and must not block.
class DeviceLinkHost {
 public:
  // The commands queued since the last call, in queue order; the host's queue
  // is left empty.
  virtual std::vector<DeviceLinkCommand> take_commands() = 0;

  // One event from the link. Hosts ignore kinds and sessions they do not know.
  virtual void on_device_event(const LinkEvent& event) = 0;

 protected:
  ~DeviceLinkHost() = default;
};

}  // namespace vesk_ui::device_link
