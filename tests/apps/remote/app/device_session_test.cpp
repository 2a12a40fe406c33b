#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/vesk_callstream/annexb.hpp"
#include "platform/vesk_callstream/encoder.hpp"
#include "platform/vesk_ui/device_link/link.hpp"
#include "platform/vesk_ui/device_link/simulated_device.hpp"
#include "platform/vesk_ui/device_link/test_pattern.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;
namespace dl = vesk_ui::device_link;
namespace pattern = vesk_ui::device_link::pattern;
using namespace std::chrono_literals;

constexpr std::uint32_t kW = 320;
constexpr std::uint32_t kH = 180;

// A real encoded stream of the test pattern, one access unit per frame.
std::vector<vesk_callstream::encoder::EncodedFrame> encode_pattern(std::uint32_t frames, std::uint32_t idr_interval) {
  vesk_callstream::encoder::EncoderConfig config;
  config.width = kW;
  config.height = kH;
  config.idr_interval = idr_interval;
  auto encoder = vesk_callstream::encoder::H264Encoder::create(config);
  EXPECT_TRUE(encoder.has_value());
  const pattern::Layout layout = pattern::layout_for(kW, kH);
  std::vector<std::uint8_t> rgba(std::size_t{kW} * kH * 4);
  std::vector<vesk_callstream::encoder::EncodedFrame> out;
  for (std::uint32_t i = 0; i < frames; ++i) {
    pattern::PatternState state;
    state.frame_number = i;
    pattern::render(state, layout, rgba);
    auto frame = encoder->encode_rgba(rgba, i * 33);
    EXPECT_TRUE(frame.has_value());
    out.push_back(std::move(*frame));
  }
  return out;
}

bool near(pattern::Rgb a, pattern::Rgb b, int tolerance = 40) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// A session picture's pixels as R, G, B, A, whatever its order.
std::vector<std::uint8_t> rgba_of(const vesk_ui::scene::Image& picture) {
  std::vector<std::uint8_t> out(*picture.pixels);
  if (picture.order == vesk_ui::scene::PixelOrder::Bgra) {
    for (std::size_t i = 0; i + 3 < out.size(); i += 4) std::swap(out[i], out[i + 2]);
  }
  return out;
}

// The colour bars of a decoded picture match the pattern's.
void expect_bars(const std::vector<std::uint8_t>& rgba, std::uint32_t width, std::uint32_t height) {
  const pattern::Layout layout = pattern::layout_for(width, height);
  for (std::size_t i = 0; i < pattern::kBars.size(); ++i) {
    const std::uint32_t x =
        static_cast<std::uint32_t>(i) * layout.bar_width + layout.bar_width / 2 - pattern::kCell / 2;
    const std::uint32_t y = layout.bars_bottom - 2 * pattern::kCell;
    const pattern::Rgb got = pattern::sample(rgba, width, x, y);
    EXPECT_TRUE(near(got, pattern::kBars[i]))
        << "bar " << i << ": " << int(got.r) << "," << int(got.g) << "," << int(got.b);
  }
}

DeviceSessionOptions slow_decoder(std::chrono::milliseconds delay, std::size_t cap = kMaxPendingPacketBytes) {
  DeviceSessionOptions options;
  options.max_pending_bytes = cap;
  options.decoder = [delay] {
    auto real = h264_decoder_factory()();
    return DecodeFn([real, delay](std::span<const std::uint8_t> packet) {
      std::this_thread::sleep_for(delay);
      return real(packet);
    });
  };
  return options;
}

TEST(AppPendingPackets, JoinsInOrderRestartsAtIdrAndSkipsToIdrAfterOverflow) {
  auto stream = encode_pattern(70, 30);  // IDRs at 0, 30, 60
  ASSERT_TRUE(stream[0].idr);
  ASSERT_TRUE(stream[30].idr);
  ASSERT_FALSE(stream[1].idr);
  std::size_t p_bytes = stream[1].bytes.size() + stream[2].bytes.size();

  PendingPackets pending(stream[0].bytes.size() + p_bytes);
  EXPECT_EQ(pending.push(stream[0].bytes), PendingPackets::Push::Queued);
  EXPECT_EQ(pending.push(stream[1].bytes), PendingPackets::Push::Queued);
  EXPECT_EQ(pending.push(stream[2].bytes), PendingPackets::Push::Queued);
  // Nothing more fits: the backlog goes and the stream waits for an IDR.
  EXPECT_EQ(pending.push(stream[3].bytes), PendingPackets::Push::Overflow);
  EXPECT_TRUE(pending.awaiting_idr());
  EXPECT_FALSE(pending.take());
  for (int i = 4; i < 30; ++i) EXPECT_EQ(pending.push(stream[i].bytes), PendingPackets::Push::Skipped);
  EXPECT_EQ(pending.push(stream[30].bytes), PendingPackets::Push::Restarted);
  EXPECT_EQ(pending.push(stream[31].bytes), PendingPackets::Push::Queued);
  EXPECT_EQ(pending.skipped_packets(), 27u);

  // What was kept decodes into a correct picture of the newest frame.
  vesk_callstream::decoder::H264Decoder decoder;
  auto joined = pending.take();
  ASSERT_TRUE(joined);
  auto decoded = decoder.decode(*joined);
  ASSERT_TRUE(decoded.has_value());
  ASSERT_TRUE(decoded->has_value());
  EXPECT_EQ(pattern::read_frame_number((*decoded)->pixels, pattern::layout_for(kW, kH)), 31u);
  expect_bars((*decoded)->pixels, kW, kH);
  EXPECT_FALSE(pending.take());

  // An IDR with packets still pending replaces them.
  EXPECT_EQ(pending.push(stream[61].bytes), PendingPackets::Push::Queued);
  EXPECT_EQ(pending.push(stream[60].bytes), PendingPackets::Push::Restarted);
  EXPECT_EQ(pending.pending_bytes(), stream[60].bytes.size());
}

TEST(AppPendingPackets, ParameterSetsSurviveTheWaitForAnIdr) {
  const std::vector<std::uint8_t> sps_pps = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce};
  const std::vector<std::uint8_t> p_slice = {0, 0, 0, 1, 0x41, 0x9a, 0x01, 0x02};
  const std::vector<std::uint8_t> idr_slice = {0, 0, 0, 1, 0x65, 0x88, 0x84};
  PendingPackets pending(14);
  EXPECT_EQ(pending.push(p_slice), PendingPackets::Push::Queued);
  EXPECT_EQ(pending.push(p_slice), PendingPackets::Push::Overflow);
  EXPECT_EQ(pending.push(sps_pps), PendingPackets::Push::Skipped);  // kept, but still waiting
  EXPECT_TRUE(pending.awaiting_idr());
  EXPECT_EQ(pending.push(p_slice), PendingPackets::Push::Skipped);
  // An IDR that does not fit after the kept parameter sets is dropped too.
  EXPECT_EQ(pending.push(idr_slice), PendingPackets::Push::Skipped);
  PendingPackets roomy(64);
  roomy.push(p_slice);
  roomy.push(std::vector<std::uint8_t>(60, 0));  // overflow
  EXPECT_TRUE(roomy.awaiting_idr());
  roomy.push(sps_pps);
  roomy.push(p_slice);
  EXPECT_EQ(roomy.push(idr_slice), PendingPackets::Push::Restarted);
  std::vector<std::uint8_t> want = sps_pps;
  want.insert(want.end(), idr_slice.begin(), idr_slice.end());
  EXPECT_EQ(roomy.take(), want);
  // Without an SPS of its own an IDR does not replace what is pending.
  EXPECT_EQ(roomy.push(p_slice), PendingPackets::Push::Queued);
  EXPECT_EQ(roomy.push(idr_slice), PendingPackets::Push::Queued);
  EXPECT_EQ(roomy.pending_bytes(), p_slice.size() + idr_slice.size());
}

// Sessions opened through the application, with their own device profile.
struct AppDeviceFixture : ::testing::Test {
  AppDeviceFixture() {
    a = device_conn("dev-a", 0);
    b = device_conn("dev-b", 1);
    app = std::make_unique<RemoteApp>(std::vector{a, b}, std::vector<DiscoveredDevice>{});
  }
  void open(const SavedConnection& c) {
    Document d;
    app->apply_message(UiMessage::open_session(c.id), d);
  }
  DeviceSession* session() { return app->state_mut().live_session ? app->state_mut().live_session->device() : nullptr; }
  SessionStatus status() const { return app->state().live_session->status(); }

  SavedConnection a, b;
  std::unique_ptr<RemoteApp> app;
};

TEST_F(AppDeviceFixture, ASlowDecoderStillGivesCorrectPicturesOfTheNewestFrame) {
  app->set_device_session_options(slow_decoder(20ms));
  open(a);
  ASSERT_NE(session(), nullptr);
  const std::uint64_t id = session()->id();
  app->on_device_event(device_event(id, dl::DeviceLinkEvent::Connected{kW, kH}));

  // Frames arrive much faster than they decode; none may be lost before the
  // picture is taken, or the P frames would decode into garbage.
  const auto stream = encode_pattern(45, 30);
  for (const auto& frame : stream) {
    app->on_device_event(device_event(id, dl::DeviceLinkEvent::Frame{frame.bytes}));
    std::this_thread::sleep_for(2ms);
  }
  const pattern::Layout layout = pattern::layout_for(kW, kH);
  std::uint64_t last_number = 0;
  ASSERT_TRUE(eventually([&] {
    if (app->take_session_picture()) {
      last_number = pattern::read_frame_number(rgba_of(*app->state().session_picture), layout);
    }
    return last_number == 44;
  })) << "last decoded frame "
      << last_number;
  const auto& picture = *app->state().session_picture;
  EXPECT_EQ(picture.width, kW);
  EXPECT_EQ(picture.height, kH);
  EXPECT_EQ(picture.order, vesk_ui::scene::PixelOrder::Bgra) << "decoded in the renderer's layout";
  expect_bars(rgba_of(picture), kW, kH);
  EXPECT_EQ(session()->shared().pending.skipped_packets(), 0u);
  EXPECT_EQ(status(), SessionStatus::connected());
}

TEST_F(AppDeviceFixture, OverflowWithASlowDecoderResumesAtTheNextIdr) {
  const auto stream = encode_pattern(61, 20);  // IDRs at 0, 20, 40, 60
  // Room for about three frames.
  app->set_device_session_options(slow_decoder(300ms, stream[0].bytes.size() + 2 * stream[1].bytes.size()));
  open(a);
  const std::uint64_t id = session()->id();
  for (const auto& frame : stream) app->on_device_event(device_event(id, dl::DeviceLinkEvent::Frame{frame.bytes}));
  EXPECT_GT(session()->shared().pending.skipped_packets(), 0u);
  const pattern::Layout layout = pattern::layout_for(kW, kH);
  std::uint64_t last_number = 0;
  ASSERT_TRUE(eventually([&] {
    if (app->take_session_picture()) {
      last_number = pattern::read_frame_number(rgba_of(*app->state().session_picture), layout);
      expect_bars(rgba_of(*app->state().session_picture), kW, kH);
    }
    return last_number == 60;
  })) << "last decoded frame "
      << last_number;
}

TEST_F(AppDeviceFixture, RealStreamFromTheSimulatedDevice) {
  dl::SimulatedDeviceOptions options;
  options.width = kW;
  options.height = kH;
  options.connect_delay = 10ms;
  auto device = dl::SimulatedDevice::start(options);
  ASSERT_TRUE(device.has_value()) << device.error();
  dl::DeviceLink link(*device);

  open(a);
  ASSERT_EQ(app->state().device_commands.size(), 1u);
  const pattern::Layout layout = pattern::layout_for(kW, kH);
  std::uint64_t number = 0;
  ASSERT_TRUE(eventually([&] {
    link.tick(*app);
    if (app->take_session_picture())
      number = pattern::read_frame_number(rgba_of(*app->state().session_picture), layout);
    return number > 0 && status().is_connected();
  }));
  EXPECT_TRUE(app->state().device_commands.empty());  // taken by the link
  EXPECT_EQ(session()->remote_size(), (DeviceSession::Size{kW, kH}));
  const auto& picture = *app->state().session_picture;
  expect_bars(rgba_of(picture), kW, kH);

  // The device reacts to input forwarded from the session screen.
  ASSERT_TRUE(app->remote_input_active());
  app->forward_device_input(DeviceInputEvent::key(true, 30));
  ASSERT_EQ(app->state().device_commands.size(), 1u);
  ASSERT_TRUE(eventually([&] {
    link.tick(*app);
    app->take_session_picture();
    return (*device)->stats().inputs_applied >= 1;
  }));

  // The device ends the session with a reason; the status shows its text.
  (*device)->close_session(session()->id(), dl::DeviceCloseReason::revoked());
  ASSERT_TRUE(eventually([&] {
    link.tick(*app);
    return !status().is_connected();
  }));
  EXPECT_EQ(status(), SessionStatus::failed("Target revoked workspace control"));
}

TEST_F(AppDeviceFixture, EventsOfOtherSessionsAndKindsAreIgnored) {
  open(a);
  const std::uint64_t first = session()->id();
  (void)app->take_commands();
  open(b);
  const std::uint64_t second = session()->id();
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  // The replaced device is told to close, then the new one opens.
  const auto commands = app->take_commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], DeviceLinkCommand::close(first));
  EXPECT_EQ(commands[1].session_id(), second);
  EXPECT_TRUE(std::holds_alternative<DeviceLinkCommand::Open>(commands[1].value));
  EXPECT_TRUE(app->take_commands().empty());

  app->clear_redraw();
  app->on_device_event(device_event(first, dl::DeviceLinkEvent::Connected{10, 10}));
  app->on_device_event(dl::LinkEvent{dl::LinkEvent::PresenceChanged{}});
  EXPECT_FALSE(app->state().redraw);
  EXPECT_EQ(status(), SessionStatus::connecting());
  app->on_device_event(device_event(second, dl::DeviceLinkEvent::Connected{10, 10}));
  EXPECT_TRUE(app->state().redraw);
  EXPECT_EQ(status(), SessionStatus::connected());
  app->on_device_event(device_event(second, dl::DeviceLinkEvent::Connecting{}));
  EXPECT_EQ(status(), SessionStatus::connecting());
}

TEST_F(AppDeviceFixture, CloseReasonsBecomeTheFailedText) {
  const std::vector<std::pair<dl::DeviceCloseReason, std::string>> cases = {
      {dl::DeviceCloseReason::peer_text("Screen locked by owner"), "Screen locked by owner"},
      {dl::DeviceCloseReason::revoked(), "Target revoked workspace control"},
      {dl::DeviceCloseReason::disconnected(), "Target disconnected"},
      {dl::DeviceCloseReason::relay_lost(), "Encrypted relay disconnected"},
      {dl::DeviceCloseReason::closed(), "Workspace control closed"},
  };
  for (const auto& [reason, text] : cases) {
    open(a);
    app->on_device_event(device_event(session()->id(), dl::DeviceLinkEvent::Closed{reason}));
    EXPECT_EQ(status(), SessionStatus::failed(text));
  }
}

TEST_F(AppDeviceFixture, ADecoderThatDiesIsReportedStoppedThenUnavailable) {
  DeviceSessionOptions options;
  options.decoder = [] {
    return DecodeFn([](std::span<const std::uint8_t>)
                        -> std::expected<std::optional<vesk_callstream::decoder::Frame>, vesk_callstream::Error> {
      throw std::runtime_error("codec crashed");
    });
  };
  app->set_device_session_options(options);
  open(a);
  const std::uint64_t id = session()->id();
  const std::vector<std::uint8_t> packet = {0, 0, 0, 1, 0x65, 0x88};
  app->on_device_event(device_event(id, dl::DeviceLinkEvent::Frame{packet}));
  // Once the thread is gone, the next frame finds the queue closed.
  ASSERT_TRUE(eventually([&] {
    app->on_device_event(device_event(id, dl::DeviceLinkEvent::Frame{packet}));
    return !status().is_connecting();
  }));
  EXPECT_EQ(status(), SessionStatus::failed(kDecoderStoppedText));
  app->on_device_event(device_event(id, dl::DeviceLinkEvent::Frame{packet}));
  EXPECT_EQ(status(), SessionStatus::failed(kDecoderUnavailableText));
}

TEST_F(AppDeviceFixture, ADecoderThreadThatCannotStartClosesTheOpenedSession) {
  DeviceSessionOptions options;
  options.spawn = [](std::string, std::function<void()>) -> std::expected<void, std::string> {
    return std::unexpected(std::string("Resource temporarily unavailable"));
  };
  app->set_device_session_options(options);
  open(a);
  EXPECT_EQ(status(), SessionStatus::failed("could not start Vesk frame decoder: Resource temporarily unavailable"));
  const auto commands = app->take_commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_TRUE(std::holds_alternative<DeviceLinkCommand::Open>(commands[0].value));
  EXPECT_EQ(commands[1], DeviceLinkCommand::close(commands[0].session_id()));
  EXPECT_EQ(app->state().screen, Screen::session(a.id));
}

TEST_F(AppDeviceFixture, DisconnectClosesOnceAndBadHostsFail) {
  open(a);
  const std::uint64_t id = session()->id();
  (void)app->take_commands();
  Document d;
  app->apply_message(UiMessage::disconnect(), d);
  EXPECT_EQ(app->take_commands(), std::vector{DeviceLinkCommand::close(id)});
  app->apply_message(UiMessage::disconnect(), d);
  EXPECT_TRUE(app->take_commands().empty());

  // The readiness check trims; the hub takes the host as stored.
  app->state_mut().connections[0].host = " " + app->state().connections[0].host;
  open(a);
  EXPECT_EQ(status(), SessionStatus::failed("Vesk host must be an exact certified device endpoint id"));
  EXPECT_TRUE(app->take_commands().empty());
}

TEST_F(AppDeviceFixture, InputAndPointerReachTheDeviceOnlyFromItsConnectedSessionScreen) {
  open(a);
  const std::uint64_t id = session()->id();
  (void)app->take_commands();
  app->state_mut().session_surface = Rect{100, 100, 300, 200};
  app->forward_device_input(DeviceInputEvent::key(true, 30));  // still connecting
  EXPECT_FALSE(app->device_pointer_position(150, 150));
  app->on_device_event(device_event(id, dl::DeviceLinkEvent::Connected{1000, 500}));

  struct Case {
    double x, y;
    std::optional<std::pair<double, double>> want;
  };
  const std::vector<Case> cases = {
      {100, 100, std::pair{0.0, 0.0}},
      {200, 150, std::pair{500.0, 250.0}},
      {299.9, 199.9, std::pair{999.0, 499.0}},
      {300, 150, std::nullopt},
      {200, 200, std::nullopt},
      {99.9, 150, std::nullopt},
  };
  for (const Case& c : cases) {
    auto got = app->device_pointer_position(c.x, c.y);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.x << "," << c.y;
    if (got) {
      EXPECT_NEAR(got->first, c.want->first, 1e-6);
      EXPECT_NEAR(got->second, c.want->second, 1e-6);
    }
  }
  app->forward_device_input(DeviceInputEvent::key(true, 30));
  EXPECT_EQ(app->take_commands(), std::vector{DeviceLinkCommand::input(DeviceInputEvent::key(true, 30), id)});

  // On the list the picture is not shown, so nothing reaches the device.
  Document d;
  app->apply_message(UiMessage::show_connections(), d);
  EXPECT_FALSE(app->device_pointer_position(200, 150));
  app->forward_device_input(DeviceInputEvent::key(true, 31));
  EXPECT_TRUE(app->take_commands().empty());
}

}  // namespace
