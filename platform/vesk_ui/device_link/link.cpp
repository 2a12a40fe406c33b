#include "platform/vesk_ui/device_link/link.hpp"

#include <spdlog/spdlog.h>

#include <exception>

namespace vesk_ui::device_link {

DeviceLink::DeviceLink(std::shared_ptr<DeviceBackend> backend) : backend_(std::move(backend)) {}

TickSummary DeviceLink::tick(DeviceLinkHost& host) {
  TickSummary summary;
  // The host is application code; whatever it throws stops at this boundary
  // so that one bad event cannot take down the event loop.
  try {
    for (DeviceLinkCommand& command : host.take_commands()) {
      if (backend_->submit(std::move(command)) == SubmitResult::Busy) {
        ++summary.dropped_commands;
      } else {
        ++summary.commands;
      }
    }
  } catch (const std::exception& e) {
    spdlog::warn("device link: taking commands failed: {}", e.what());
  }

  events_.clear();
  const std::size_t polled = backend_->poll_events(events_, kMaxEventsPerTick);
  summary.more_events = polled == kMaxEventsPerTick;
  for (const LinkEvent& event : events_) {
    try {
      host.on_device_event(event);
      ++summary.events;
    } catch (const std::exception& e) {
      spdlog::warn("device link: event handling failed: {}", e.what());
    }
  }
  events_.clear();
  return summary;
}

}  // namespace vesk_ui::device_link
