#include "platform/vesk_ui/device_link/link.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace vesk_ui::device_link {
namespace {

class FakeBackend : public DeviceBackend {
 public:
  SubmitResult submit(DeviceLinkCommand command) override {
    submitted.push_back(command);
    return busy_inputs && std::holds_alternative<DeviceLinkCommand::Input>(command.value) ? SubmitResult::Busy
                                                                                          : SubmitResult::Accepted;
  }
  std::size_t poll_events(std::vector<LinkEvent>& out, std::size_t max) override {
    std::size_t n = 0;
    while (n < max && !events.empty()) {
      out.push_back(std::move(events.front()));
      events.pop_front();
      ++n;
    }
    return n;
  }
  void set_event_notifier(std::function<void()>) override {}

  std::vector<DeviceLinkCommand> submitted;
  std::deque<LinkEvent> events;
  bool busy_inputs = false;
};

class RecordingHost : public DeviceLinkHost {
 public:
  std::vector<DeviceLinkCommand> take_commands() override {
    ++takes;
    return std::exchange(queued, {});
  }
  void on_device_event(const LinkEvent& event) override {
    if (throw_on_event) throw std::runtime_error("host bug");
    received.push_back(event);
  }

  std::vector<DeviceLinkCommand> queued;
  std::vector<LinkEvent> received;
  int takes = 0;
  bool throw_on_event = false;
};

LinkEvent connecting(DeviceSessionId id) { return {DeviceLinkEvent{id, DeviceLinkEvent::Connecting{}}}; }

TEST(DeviceLinkDriver, HandsCommandsOverInOrderAndDeliversEvents) {
  auto backend = std::make_shared<FakeBackend>();
  DeviceLink link(backend);
  RecordingHost host;
  host.queued = {DeviceLinkCommand::open(EndpointKey{}, 1),
                 DeviceLinkCommand::input(DeviceInputEvent::key(true, 30), 1), DeviceLinkCommand::close(1)};
  backend->events = {connecting(1), LinkEvent{LinkEvent::PresenceChanged{EndpointKey{}, true}}};

  const TickSummary s = link.tick(host);
  EXPECT_EQ(s.commands, 3u);
  EXPECT_EQ(s.events, 2u);
  EXPECT_FALSE(s.more_events);
  ASSERT_EQ(backend->submitted.size(), 3u);
  EXPECT_EQ(backend->submitted[0], DeviceLinkCommand::open(EndpointKey{}, 1));
  EXPECT_EQ(backend->submitted[2], DeviceLinkCommand::close(1));
  ASSERT_EQ(host.received.size(), 2u);
  EXPECT_EQ(host.received[0], connecting(1));
  EXPECT_EQ(host.received[1].device_session(), nullptr);

  // Nothing new: the next tick still asks for commands but delivers nothing.
  const TickSummary idle = link.tick(host);
  EXPECT_EQ(host.takes, 2);
  EXPECT_EQ(idle.commands + idle.events, 0u);
}

TEST(DeviceLinkDriver, SpreadsBurstsOverTicks) {
  auto backend = std::make_shared<FakeBackend>();
  DeviceLink link(backend);
  RecordingHost host;
  const std::size_t total = DeviceLink::kMaxEventsPerTick * 2 + 5;
  for (std::size_t i = 0; i < total; ++i) backend->events.push_back(connecting(i));
  EXPECT_TRUE(link.tick(host).more_events);
  EXPECT_EQ(host.received.size(), DeviceLink::kMaxEventsPerTick);
  link.tick(host);
  const TickSummary last = link.tick(host);
  EXPECT_FALSE(last.more_events);
  ASSERT_EQ(host.received.size(), total);
  for (std::size_t i = 0; i < total; ++i) {
    EXPECT_EQ(host.received[i].device_session()->session_id, i);  // order kept, nothing lost
  }
}

TEST(DeviceLinkDriver, CountsRefusedInputsAndContainsHostFailures) {
  auto backend = std::make_shared<FakeBackend>();
  backend->busy_inputs = true;
  DeviceLink link(backend);
  RecordingHost host;
  host.queued = {DeviceLinkCommand::input(DeviceInputEvent::pointer_move(1, 1), 1), DeviceLinkCommand::close(1)};
  host.throw_on_event = true;
  backend->events = {connecting(1), connecting(2)};
  TickSummary s;
  EXPECT_NO_THROW(s = link.tick(host));
  EXPECT_EQ(s.dropped_commands, 1u);
  EXPECT_EQ(s.commands, 1u);
  EXPECT_EQ(s.events, 0u);
  EXPECT_TRUE(backend->events.empty());  // a throwing host does not stall the queue
}

}  // namespace
}  // namespace vesk_ui::device_link
