#include <gtest/gtest.h>

#include <thread>

#include "platform/vesk_ui/device_link/host.hpp"
#include "platform/vesk_ui/device_link/simulated_device.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"

namespace {

using namespace vesk_ui;
using namespace std::chrono_literals;

// A widget that is also the device link's host: it opens one session and
// keeps what the link sends back.
class LinkedWidget final : public widget::Widget, public device_link::DeviceLinkHost {
 public:
  device_link::DeviceLinkHost* as_device_link_host() override { return this; }
  std::vector<device_link::DeviceLinkCommand> take_commands() override { return std::exchange(queued, {}); }
  void on_device_event(const device_link::LinkEvent& event) override {
    if (const auto* e = event.device_session()) events.push_back(*e);
  }
  std::vector<device_link::DeviceLinkCommand> queued;
  std::vector<device_link::DeviceLinkEvent> events;

  template <class T>
  bool has() const {
    for (const auto& e : events) {
      if (std::holds_alternative<T>(e.kind)) return true;
    }
    return false;
  }
};

TEST(HeadlessDeviceLink, TickCarriesCommandsOutAndEventsIn) {
  auto device = device_link::SimulatedDevice::start(device_link::SimulatedDeviceOptions{});
  ASSERT_TRUE(device.has_value()) << device.error();
  headless::HeadlessHost host(std::make_unique<LinkedWidget>(), {320, 200, 1.0, true});
  host.use_device_backend(*device);
  auto& w = host.widget_as<LinkedWidget>();
  w.queued.push_back(device_link::DeviceLinkCommand::open(device_link::EndpointKey{}, 7));
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline && !w.has<device_link::DeviceLinkEvent::Frame>()) {
    host.tick();
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(w.queued.empty());  // the link took the command
  ASSERT_TRUE(w.has<device_link::DeviceLinkEvent::Connecting>());
  ASSERT_TRUE(w.has<device_link::DeviceLinkEvent::Connected>());
  ASSERT_TRUE(w.has<device_link::DeviceLinkEvent::Frame>());
  for (const auto& e : w.events) EXPECT_EQ(e.session_id, 7u);
  // The device ends the session; its reason reaches the widget.
  (*device)->close_session(7, device_link::DeviceCloseReason::revoked());
  while (std::chrono::steady_clock::now() < deadline && !w.has<device_link::DeviceLinkEvent::Closed>()) {
    host.tick();
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(w.has<device_link::DeviceLinkEvent::Closed>());
  EXPECT_EQ(std::get<device_link::DeviceLinkEvent::Closed>(w.events.back().kind).reason,
            device_link::DeviceCloseReason::revoked());
  w.queued.push_back(device_link::DeviceLinkCommand::close(7));
  host.tick();
  EXPECT_TRUE(w.queued.empty());
}

}  // namespace
