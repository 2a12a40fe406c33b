#include "platform/vesk_ui/device_link/simulated_device.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <thread>

#include "platform/vesk_callstream/annexb.hpp"
#include "platform/vesk_callstream/decoder.hpp"
#include "platform/vesk_ui/device_link/link.hpp"
#include "platform/vesk_ui/device_link/test_pattern.hpp"

namespace vesk_ui::device_link {
namespace {

using namespace std::chrono_literals;
using vesk_callstream::decoder::Frame;
using vesk_callstream::decoder::H264Decoder;

constexpr std::uint32_t kWidth = 320;
constexpr std::uint32_t kHeight = 180;

SimulatedDeviceOptions small_options() {
  SimulatedDeviceOptions o;
  o.width = kWidth;
  o.height = kHeight;
  o.idr_interval = 10;
  o.connect_delay = 20ms;
  return o;
}

EndpointKey key_of(std::uint8_t b) {
  EndpointKey k{};
  k.fill(b);
  return k;
}

class Host : public DeviceLinkHost {
 public:
  std::vector<DeviceLinkCommand> take_commands() override { return std::exchange(queued, {}); }
  void on_device_event(const LinkEvent& event) override { received.push_back(event); }

  std::vector<const DeviceLinkEvent*> of_session(DeviceSessionId id) const {
    std::vector<const DeviceLinkEvent*> out;
    for (const LinkEvent& e : received) {
      if (const auto* s = e.device_session(); s && s->session_id == id) out.push_back(s);
    }
    return out;
  }
  std::vector<const std::vector<std::uint8_t>*> packets(DeviceSessionId id) const {
    std::vector<const std::vector<std::uint8_t>*> out;
    for (const auto* e : of_session(id)) {
      if (const auto* f = std::get_if<DeviceLinkEvent::Frame>(&e->kind)) out.push_back(&f->packet);
    }
    return out;
  }
  const DeviceLinkEvent::Closed* closed(DeviceSessionId id) const {
    for (const auto* e : of_session(id)) {
      if (const auto* c = std::get_if<DeviceLinkEvent::Closed>(&e->kind)) return c;
    }
    return nullptr;
  }

  std::vector<DeviceLinkCommand> queued;
  std::vector<LinkEvent> received;
};

// Decodes a session's packets as they arrive, in order, like the application's
// decoder thread does when it keeps up.
struct StreamReader {
  H264Decoder decoder;
  std::size_t next = 0;
  std::optional<Frame> latest;
  std::vector<std::uint64_t> frame_numbers;
  std::vector<std::string> errors;
  std::size_t idr_packets = 0;

  void feed(const Host& host, DeviceSessionId id, const pattern::Layout& layout) {
    const auto packets = host.packets(id);
    for (; next < packets.size(); ++next) {
      idr_packets += vesk_callstream::annexb::contains_idr(*packets[next]) ? 1 : 0;
      auto result = decoder.decode(*packets[next]);
      if (!result) {
        errors.push_back(result.error().message);
      } else if (*result) {
        latest = std::move(**result);
        frame_numbers.push_back(pattern::read_frame_number(latest->pixels, layout));
      }
    }
  }
};

double mean_error(const Frame& f, const std::vector<std::uint8_t>& want) {
  double sum = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (i % 4 != 3) sum += std::abs(int{f.pixels[i]} - int{want[i]});
  }
  return sum / (static_cast<double>(want.size()) * 0.75);
}

std::vector<std::uint8_t> expected_picture(const pattern::PatternState& state, const pattern::Layout& l) {
  std::vector<std::uint8_t> rgba(std::size_t{l.width} * l.height * 4);
  pattern::render(state, l, rgba);
  return rgba;
}

pattern::PatternState state_at(std::uint64_t frame_number) {
  pattern::PatternState s;
  s.frame_number = frame_number;
  return s;
}

bool near(pattern::Rgb got, pattern::Rgb want, int tolerance = 40) {
  return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
         std::abs(got.b - want.b) <= tolerance;
}

class SimulatedDeviceTest : public ::testing::Test {
 protected:
  void start(SimulatedDeviceOptions options = small_options()) {
    auto started = SimulatedDevice::start(options);
    ASSERT_TRUE(started.has_value()) << started.error();
    device = *started;
    link.emplace(device);
    layout = pattern::layout_for(options.width, options.height);
  }

  // Ticks like a UI loop until the condition holds; false after the deadline.
  template <class Pred>
  bool pump_until(Pred done, std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      link->tick(host);
      if (done()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  void pump_for(std::chrono::milliseconds duration) {
    pump_until([] { return false; }, duration);
  }

  void open(DeviceSessionId id, std::uint8_t key = 1) {
    host.queued.push_back(DeviceLinkCommand::open(key_of(key), id));
  }
  void send(DeviceSessionId id, DeviceInputEvent event) { host.queued.push_back(DeviceLinkCommand::input(event, id)); }
  bool wait_frames(DeviceSessionId id, std::size_t n) {
    return pump_until([&] { return host.packets(id).size() >= n; });
  }

  std::shared_ptr<SimulatedDevice> device;
  std::optional<DeviceLink> link;
  Host host;
  pattern::Layout layout;
};

TEST_F(SimulatedDeviceTest, OpenGivesConnectingConnectedAndFramesOfThePattern) {
  start();
  open(1);
  ASSERT_TRUE(wait_frames(1, 25));

  // The device's presence comes first; the application skips it.
  ASSERT_FALSE(host.received.empty());
  const auto* presence = std::get_if<LinkEvent::PresenceChanged>(&host.received[0].value);
  ASSERT_NE(presence, nullptr);
  EXPECT_TRUE(presence->online);
  EXPECT_EQ(presence->endpoint, key_of(1));

  const auto events = host.of_session(1);
  ASSERT_GE(events.size(), 3u);
  EXPECT_TRUE(std::holds_alternative<DeviceLinkEvent::Connecting>(events[0]->kind));
  const auto* connected = std::get_if<DeviceLinkEvent::Connected>(&events[1]->kind);
  ASSERT_NE(connected, nullptr);
  EXPECT_EQ(connected->width, kWidth);
  EXPECT_EQ(connected->height, kHeight);
  for (std::size_t i = 2; i < events.size(); ++i) {
    EXPECT_TRUE(std::holds_alternative<DeviceLinkEvent::Frame>(events[i]->kind)) << i;
  }

  // Every frame decodes, in order, to the pattern of its own frame number.
  const auto packets = host.packets(1);
  EXPECT_TRUE(vesk_callstream::annexb::contains_idr(*packets[0]));
  H264Decoder decoder;
  std::optional<std::uint64_t> previous;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE(i);
    auto result = decoder.decode(*packets[i]);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    ASSERT_TRUE(result->has_value());
    const Frame& f = **result;
    ASSERT_EQ(f.width, kWidth);
    ASSERT_EQ(f.height, kHeight);
    const std::uint64_t number = pattern::read_frame_number(f.pixels, layout);
    if (previous) {
      EXPECT_GT(number, *previous);
    }
    previous = number;
    EXPECT_LT(mean_error(f, expected_picture(state_at(number), layout)), 4.0);
    for (std::uint32_t bar = 0; bar < 8; ++bar) {
      EXPECT_TRUE(near(pattern::sample(f.pixels, kWidth, bar * layout.bar_width + 12, 96), pattern::kBars[bar], 16))
          << "bar " << bar;
    }
    const std::uint32_t bx = layout.block_x(number);
    EXPECT_TRUE(near(pattern::sample(f.pixels, kWidth, bx + 16, pattern::kBlockTop + 16), pattern::kBlock));
  }
  // IDRs recur on the configured interval.
  std::size_t idr = 0;
  for (const auto* p : packets) idr += vesk_callstream::annexb::contains_idr(*p) ? 1 : 0;
  EXPECT_GE(idr, 2u);
  EXPECT_LT(idr, packets.size() / 2);
}

TEST_F(SimulatedDeviceTest, InputChangesThePicture) {
  start();
  open(1);
  ASSERT_TRUE(wait_frames(1, 1));
  StreamReader reader;
  const std::uint32_t px = 140, py = 100;  // on the green bar, under the block's rows

  send(1, DeviceInputEvent::pointer_move(px, py));
  send(1, DeviceInputEvent::activate());
  send(1, DeviceInputEvent::button(true, DeviceInputEvent::kButtonLeft));
  send(1, DeviceInputEvent::key(true, 30));
  const auto pressed_shown = [&] {
    reader.feed(host, 1, layout);
    if (!reader.latest) return false;
    const auto& pix = reader.latest->pixels;
    // sample() reads the centre of a 16-pixel cell: these read (px, py)
    // and a point 12 pixels left of it, outside the marker.
    return near(pattern::sample(pix, kWidth, px - 8, py - 8), {255, 255, 255}) &&
           near(pattern::sample(pix, kWidth, px - 20, py - 8), pattern::kBars[3]) &&
           near(pattern::sample(pix, kWidth, layout.key_lamp_x, layout.key_row_top), pattern::kKeyLampOn) &&
           near(pattern::sample(pix, kWidth, layout.button_lamps_x, layout.key_row_top), pattern::kButtonLampOn) &&
           pattern::read_key_code(pix, layout) == 30;
  };
  ASSERT_TRUE(pump_until(pressed_shown));
  // The ring around the pointer is black on the green bar.
  const auto& pix = reader.latest->pixels;
  const std::size_t ring = (std::size_t{py} * kWidth + (px - 7)) * 4;
  EXPECT_LT(pix[ring + 1], 60);

  send(1, DeviceInputEvent::key(false, 30));
  send(1, DeviceInputEvent::button(false, DeviceInputEvent::kButtonLeft));
  send(1, DeviceInputEvent::key(true, 0x2a5));  // a code above 8 bits still shows in full
  send(1, DeviceInputEvent::key(false, 0x2a5));
  ASSERT_TRUE(pump_until([&] {
    reader.feed(host, 1, layout);
    const auto& p = reader.latest->pixels;
    return near(pattern::sample(p, kWidth, layout.key_lamp_x, layout.key_row_top), pattern::kLampOff) &&
           near(pattern::sample(p, kWidth, layout.button_lamps_x, layout.key_row_top), pattern::kLampOff) &&
           pattern::read_key_code(p, layout) == 0x2a5;
  }));
  EXPECT_TRUE(reader.errors.empty());
  EXPECT_EQ(device->stats().activations, 1u);
  EXPECT_EQ(device->stats().inputs_applied, 8u);
}

TEST_F(SimulatedDeviceTest, EachCloseReasonIsDeliveredAndEndsTheStream) {
  start();
  const DeviceCloseReason reasons[] = {DeviceCloseReason::peer_text("Owner ended the session"),
                                       DeviceCloseReason::revoked(), DeviceCloseReason::disconnected(),
                                       DeviceCloseReason::relay_lost(), DeviceCloseReason::closed()};
  DeviceSessionId id = 10;
  for (const DeviceCloseReason& reason : reasons) {
    SCOPED_TRACE(reason.message());
    ++id;
    open(id);
    ASSERT_TRUE(wait_frames(id, 2));
    device->close_session(id, reason);
    ASSERT_TRUE(pump_until([&] { return host.closed(id) != nullptr; }));
    EXPECT_EQ(host.closed(id)->reason, reason);
    const std::size_t seen = host.of_session(id).size();
    pump_for(150ms);
    EXPECT_EQ(host.of_session(id).size(), seen);  // nothing after Closed
    EXPECT_TRUE(std::holds_alternative<DeviceLinkEvent::Closed>(host.of_session(id).back()->kind));
  }
  // Telling an ended session to close again is ignored.
  device->close_session(id, DeviceCloseReason::revoked());
  pump_for(50ms);
  std::size_t closed_events = 0;
  for (const auto* e : host.of_session(id)) {
    closed_events += std::holds_alternative<DeviceLinkEvent::Closed>(e->kind) ? 1 : 0;
  }
  EXPECT_EQ(closed_events, 1u);
}

TEST_F(SimulatedDeviceTest, CloseCommandStopsTheStream) {
  start();
  open(1);
  open(2, 2);
  ASSERT_TRUE(wait_frames(1, 3));
  host.queued.push_back(DeviceLinkCommand::close(1));
  link->tick(host);
  const std::size_t at_close = host.packets(1).size();
  pump_for(300ms);
  const std::size_t later = host.packets(1).size();
  // Only frames already on their way when Close arrived may still come in.
  EXPECT_LE(later - at_close, device->options().max_queued_frames);
  pump_for(200ms);
  EXPECT_EQ(host.packets(1).size(), later);
  EXPECT_EQ(host.closed(1), nullptr);  // the application asked; no Closed comes back
  // The other session goes on.
  const std::size_t other = host.packets(2).size();
  EXPECT_TRUE(wait_frames(2, other + 3));
}

TEST_F(SimulatedDeviceTest, RefusedEndpointClosesWithoutConnecting) {
  start();
  device->refuse_endpoint(key_of(9), DeviceCloseReason::disconnected());
  open(1, 9);
  ASSERT_TRUE(pump_until([&] { return host.closed(1) != nullptr; }));
  const auto events = host.of_session(1);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(std::holds_alternative<DeviceLinkEvent::Connecting>(events[0]->kind));
  EXPECT_EQ(host.closed(1)->reason, DeviceCloseReason::disconnected());
  const auto* presence = std::get_if<LinkEvent::PresenceChanged>(&host.received[0].value);
  ASSERT_NE(presence, nullptr);
  EXPECT_FALSE(presence->online);
}

TEST_F(SimulatedDeviceTest, SessionsBeyondTheLimitAreTurnedAway) {
  SimulatedDeviceOptions o = small_options();
  o.max_sessions = 1;
  start(o);
  open(1);
  open(2, 2);
  ASSERT_TRUE(pump_until([&] { return host.closed(2) != nullptr; }));
  EXPECT_EQ(host.closed(2)->reason.kind, DeviceCloseReason::Kind::PeerText);
  EXPECT_EQ(host.closed(2)->reason.message(), "The device is busy with other sessions");
  EXPECT_TRUE(wait_frames(1, 3));
  EXPECT_EQ(host.closed(1), nullptr);
}

TEST_F(SimulatedDeviceTest, RepeatedOpenOfALiveSessionChangesNothing) {
  start();
  open(1);
  ASSERT_TRUE(wait_frames(1, 2));
  open(1);
  const std::size_t before = host.packets(1).size();
  ASSERT_TRUE(wait_frames(1, before + 3));
  std::size_t connecting = 0, connected = 0;
  for (const auto* e : host.of_session(1)) {
    connecting += std::holds_alternative<DeviceLinkEvent::Connecting>(e->kind) ? 1 : 0;
    connected += std::holds_alternative<DeviceLinkEvent::Connected>(e->kind) ? 1 : 0;
  }
  EXPECT_EQ(connecting, 1u);
  EXPECT_EQ(connected, 1u);
  StreamReader reader;
  reader.feed(host, 1, layout);
  EXPECT_TRUE(reader.errors.empty());
}

TEST_F(SimulatedDeviceTest, SlowUiGetsSkippedFramesNeverABrokenStream) {
  SimulatedDeviceOptions o = small_options();
  o.max_queued_frames = 3;
  o.idr_interval = 1000;  // any later IDR is a resynchronisation
  start(o);
  open(1);
  ASSERT_TRUE(wait_frames(1, 2));
  // The UI stalls for about fifteen frame times.
  std::this_thread::sleep_for(500ms);
  const std::size_t before = host.packets(1).size();
  ASSERT_TRUE(wait_frames(1, before + 10));
  EXPECT_GT(device->stats().frames_skipped, 0u);

  StreamReader reader;
  reader.feed(host, 1, layout);
  EXPECT_TRUE(reader.errors.empty()) << reader.errors.front();
  EXPECT_EQ(reader.frame_numbers.size(), host.packets(1).size());
  EXPECT_GE(reader.idr_packets, 2u);
  // Frame numbers jump over the skipped frames and every picture is whole.
  bool jumped = false;
  for (std::size_t i = 1; i < reader.frame_numbers.size(); ++i) {
    EXPECT_GT(reader.frame_numbers[i], reader.frame_numbers[i - 1]);
    jumped |= reader.frame_numbers[i] > reader.frame_numbers[i - 1] + 3;
  }
  EXPECT_TRUE(jumped);
  EXPECT_LT(mean_error(*reader.latest, expected_picture(state_at(reader.frame_numbers.back()), layout)), 4.0);
}

TEST_F(SimulatedDeviceTest, PointerMovesCoalesceAndUnknownSessionsAreIgnored) {
  start();
  std::size_t coalesced = 0;
  for (int i = 0; i < 2000; ++i) {
    const auto r = device->submit(DeviceLinkCommand::input(DeviceInputEvent::pointer_move(i, i), 77));
    coalesced += r == SubmitResult::Coalesced ? 1 : 0;
  }
  EXPECT_GT(coalesced, 0u);
  pump_for(100ms);
  EXPECT_TRUE(host.received.empty());
  EXPECT_EQ(device->stats().inputs_applied, 0u);
}

TEST_F(SimulatedDeviceTest, NotifierFiresWhenEventsArrive) {
  start();
  std::atomic<int> wakes{0};
  device->set_event_notifier([&] { ++wakes; });
  open(1);
  link->tick(host);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (wakes.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_GT(wakes.load(), 0);
  device->set_event_notifier({});
}

TEST(SimulatedDeviceStart, RejectsUnusableOptions) {
  struct Case {
    const char* name;
    SimulatedDeviceOptions options;
  };
  auto with = [](auto change) {
    SimulatedDeviceOptions o = small_options();
    change(o);
    return o;
  };
  const Case cases[] = {
      {"too narrow", with([](auto& o) { o.width = 160; })},
      {"odd height", with([](auto& o) { o.height = 181; })},
      {"no frame rate", with([](auto& o) { o.frames_per_second = 0; })},
      {"frame rate not a number", with([](auto& o) { o.frames_per_second = std::numeric_limits<float>::quiet_NaN(); })},
      {"no frame queue", with([](auto& o) { o.max_queued_frames = 0; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto started = SimulatedDevice::start(c.options);
    EXPECT_FALSE(started.has_value());
  }
}

}  // namespace
}  // namespace vesk_ui::device_link
