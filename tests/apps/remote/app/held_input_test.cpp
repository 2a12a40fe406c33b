// Keys and buttons pressed on a device are always released there: wherever
// the pointer is when the button comes up, and at once when input stops going
// to the device (another screen, a dialog, the window losing focus, the
// session ending).
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::event::Key;
using vesk_ui::event::NamedKey;

constexpr std::uint32_t kLeft = DeviceInputEvent::kButtonLeft;
constexpr std::uint32_t kShift = 42;  // KEY_LEFTSHIFT

const Key shift_down{NamedKey::Shift, std::string("ShiftLeft"), std::nullopt, true, false};
const Key shift_up{NamedKey::Shift, std::string("ShiftLeft"), std::nullopt, false, false};

struct DeviceSessionFixture {
  SavedConnection profile = device_conn("bench");
  std::unique_ptr<vesk_ui::headless::HeadlessHost> host;
  RemoteApp* app = nullptr;
  Document doc;

  DeviceSessionFixture() {
    host = host_for(std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{}));
    app = &host->widget_as<RemoteApp>();
    app->open_session(profile.id);
    app->on_device_event(device_event(session_id(), vesk_ui::device_link::DeviceLinkEvent::Connected{101, 50}));
    app->state_mut().session_surface = Rect{100, 100, 201, 150};
    (void)app->take_commands();  // the open command
  }
  std::uint64_t session_id() const { return app->state().live_session->device()->id(); }
  // Shift and the left button held on the device, the pointer in the picture.
  void hold_shift_and_left() {
    host->pointer_move(150.5, 125);
    host->key(shift_down);
    host->press();
  }
  std::vector<DeviceLinkCommand> commands() { return app->take_commands(); }
};

DeviceLinkCommand input(const DeviceInputEvent& e, std::uint64_t id) { return DeviceLinkCommand::input(e, id); }

TEST(AppHeldInput, DeviceReleasesReachTheDeviceWhenInputStopsGoingThere) {
  struct Case {
    const char* how;
    std::function<void(DeviceSessionFixture&)> stop;
    bool closes;
    bool later_events_seen;  // the window still receives the user letting go
  };
  const Case cases[] = {
      {"list shown", [](DeviceSessionFixture& f) { f.app->apply_message(UiMessage::show_connections(), f.doc); }, false,
       true},
      {"Escape chain to the list", [](DeviceSessionFixture& f) { f.host->key_named(NamedKey::Escape); }, false, true},
      {"dialog opened",
       [](DeviceSessionFixture& f) { f.app->apply_message(UiMessage::request_delete(f.profile.id), f.doc); }, false,
       true},
      {"window focus lost", [](DeviceSessionFixture& f) { f.host->send(vesk_ui::event::WindowFocus{false}); }, false,
       false},
      {"disconnected", [](DeviceSessionFixture& f) { f.app->apply_message(UiMessage::disconnect(), f.doc); }, true,
       true},
      {"another session opened", [](DeviceSessionFixture& f) { f.app->open_session(f.profile.id); }, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    DeviceSessionFixture f;
    const auto id = f.session_id();
    f.hold_shift_and_left();
    const auto pressed = f.commands();
    ASSERT_EQ(pressed.size(), 4u);  // move, key down, activate, button down
    EXPECT_EQ(pressed[3], input(DeviceInputEvent::button(true, kLeft), id));
    c.stop(f);
    std::vector<DeviceLinkCommand> expected = {input(DeviceInputEvent::key(false, kShift), id),
                                               input(DeviceInputEvent::button(false, kLeft), id)};
    if (c.closes) expected.push_back(DeviceLinkCommand::close(id));
    auto sent = f.commands();
    // A replacing session queues its own open after the releases.
    if (!sent.empty() && std::holds_alternative<DeviceLinkCommand::Open>(sent.back().value)) sent.pop_back();
    EXPECT_EQ(sent, expected);
    if (!c.later_events_seen) continue;
    // The user letting go afterwards sends nothing twice.
    f.host->release();
    f.host->key(shift_up);
    for (const auto& command : f.commands()) {
      const auto* sent_input = std::get_if<DeviceLinkCommand::Input>(&command.value);
      EXPECT_FALSE(sent_input) << "released twice: " << int(sent_input->event.number());
    }
  }
}

TEST(AppHeldInput, DeviceButtonReleasedOutsideThePictureStillReachesIt) {
  DeviceSessionFixture f;
  const auto id = f.session_id();
  f.hold_shift_and_left();
  (void)f.commands();
  f.host->pointer_move(20, 700);  // over the navigation, far outside the picture
  f.host->release();
  f.host->key(shift_up);
  EXPECT_EQ(f.commands(), (std::vector{input(DeviceInputEvent::button(false, kLeft), id),
                                       input(DeviceInputEvent::key(false, kShift), id)}));
  // Presses outside the picture still go nowhere.
  EXPECT_FALSE(f.host->press());
  EXPECT_TRUE(f.commands().empty());
}

TEST(AppHeldInput, DialogOpenedWhileHeldStillGetsItsOwnKeys) {
  DeviceSessionFixture f;
  f.hold_shift_and_left();
  f.app->apply_message(UiMessage::request_delete(f.profile.id), f.doc);
  ASSERT_TRUE(f.app->state().confirmation);
  (void)f.commands();
  // Presses while the dialog is open are the dialog's: Escape cancels it and
  // no press reaches the device.
  f.host->key(Key{NamedKey::Escape, std::string("Escape"), std::nullopt, true, false});
  EXPECT_FALSE(f.app->state().confirmation);
  EXPECT_TRUE(f.commands().empty());
}

}  // namespace
