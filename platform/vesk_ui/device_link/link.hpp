#pragma once
// The device link: commands from the application to the backend and events
// back to the application, a bounded amount each tick.

#include <cstddef>
#include <memory>

#include "platform/vesk_ui/device_link/backend.hpp"
#include "platform/vesk_ui/device_link/host.hpp"

namespace vesk_ui::device_link {

struct TickSummary {
  std::size_t commands = 0;          // handed to the backend
  std::size_t dropped_commands = 0;  // refused by a full backend queue
  std::size_t events = 0;            // delivered to the host
  bool more_events = false;          // the per-tick budget was used up; more may wait
};

// Drives the device link from the UI thread: once per tick the launcher calls
// `tick`, which hands the host's commands to the backend and delivers the
// backend's events to the host. Nothing here waits on the backend.
class DeviceLink {
 public:
  // Events delivered per tick at most, so a burst never stalls a frame.
  static constexpr std::size_t kMaxEventsPerTick = 64;

  explicit DeviceLink(std::shared_ptr<DeviceBackend> backend);

  TickSummary tick(DeviceLinkHost& host);

  DeviceBackend& backend() { return *backend_; }

 private:
  std::shared_ptr<DeviceBackend> backend_;
  std::vector<LinkEvent> events_;  // reused between ticks
};

}  // namespace vesk_ui::device_link
