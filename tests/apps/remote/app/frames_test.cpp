// Frames through the headless host, painted the way the launcher paints them:
// only when the application asks. What a worker changes on its own reaches
// the screen without input, and an idle window asks for nothing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::event::NamedKey;

bool painted_text_contains(const vesk_ui::scene::Scene& scene, std::string_view needle) {
  for (const auto& command : scene.commands()) {
    if (const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command)) {
      if (text->run.text.find(needle) != std::string::npos) return true;
    }
  }
  return false;
}

// Paints as the launcher does, at most 16 frames a second of host time, until
// nothing asks for a frame; the number of frames painted.
int paint_while_wanted(vesk_ui::headless::HeadlessHost& host, int limit = 100) {
  int frames = 0;
  while (host.wants_frame() && frames < limit) {
    host.advance(std::chrono::milliseconds(16));
    host.paint();
    ++frames;
  }
  return frames;
}

TEST(AppFrames, AFailedConnectIsPaintedWithoutInput) {
  ScopedEnv live{"REMOTE_LIVE_SESSIONS", "1"};
  ScopedEnv password{"REMOTE_SSH_PASSWORD", "pw"};
  ScopedEnv key{"REMOTE_SSH_KEY", std::nullopt};
  const std::vector<SavedConnection> profiles = {
      conn("shell", ConnectionKind::Ssh, "127.0.0.1", closed_port(), AuthKind::Password, "me"),
      conn("desk", ConnectionKind::Vnc, "127.0.0.1", closed_port()),
  };
  for (const SavedConnection& profile : profiles) {
    SCOPED_TRACE(profile.name);
    auto host = host_for(std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{}));
    RemoteApp& app = host->widget_as<RemoteApp>();
    app.open_session(profile.id);
    ASSERT_TRUE(app.state().live_session);
    // The worker reports on its own; the loop only paints when asked.
    // The last frame painted shows the failure (the worker may report it
    // while that frame is being drawn, so the status is not read apart).
    bool shown = false;
    ASSERT_TRUE(eventually([&] {
      if (host->wants_frame()) shown = painted_text_contains(host->paint(), "Connection failed");
      return shown;
    })) << "the failure never reached the screen";
    EXPECT_EQ(app.state().live_session->status().kind, SessionStatus::Kind::Failed);
    // Then the window is idle.
    EXPECT_LE(paint_while_wanted(*host), 1);
    EXPECT_FALSE(host->wants_frame());
  }
}

// A tooltip asked for where none is painted would stay pending for ever.
TEST(AppFrames, NoTooltipKeepsFramesComingUnderADialogOrInFullscreen) {
  using vesk_ui::access::SemanticAction;
  using ActionKind = vesk_ui::access::ActionKind;
  const SavedConnection device = device_conn("bench");
  struct Case {
    const char* name;
    // Run with the pointer resting on the star of the only row.
    std::function<void(vesk_ui::headless::HeadlessHost&, RemoteApp&)> act;
  };
  const std::string connect = "remote.connection:" + device.id.to_string() + ":connect";
  const std::vector<Case> cases = {
      {"pointer under an open dialog",
       [&](auto& host, RemoteApp& app) {
         host.pointer_move(1, 1);
         ASSERT_TRUE(host.perform(connect, SemanticAction{ActionKind::Activate, {}}));
         host.paint();
         const auto star = app.hit_rect(UiMessage::toggle_favorite(device.id));
         ASSERT_TRUE(star);  // still recorded under the dialog
         host.pointer_move(star->center().x, star->center().y);
       }},
      {"dialog opened by a semantic action",
       [&](auto& host, RemoteApp&) {
         ASSERT_TRUE(host.perform(connect, SemanticAction{ActionKind::Activate, {}}));
       }},
      {"dialog opened by a direct request", [&](auto&, RemoteApp& app) { app.request_connect(device.id); }},
      {"fullscreen by a semantic action",
       [&](auto& host, RemoteApp& app) {
         app.open_session(device.id);
         app.on_device_event(device_event(app.state().live_session->device()->id(),
                                          vesk_ui::device_link::DeviceLinkEvent::Connected{64, 48}));
         host.paint();
         const auto full = app.hit_rect(UiMessage::toggle_fullscreen());
         ASSERT_TRUE(full);
         // A rail button asks for its tooltip, then fullscreen hides the rail.
         const auto rail = app.hit_rect(UiMessage::new_connection());
         ASSERT_TRUE(rail);
         host.pointer_move(rail->center().x, rail->center().y);
         ASSERT_TRUE(host.perform("remote.session.fullscreen", SemanticAction{ActionKind::Activate, {}}));
         ASSERT_TRUE(app.state().fullscreen);
         // The device itself keeps frames coming while connected; it ends here.
         app.on_device_event(
             device_event(app.state().live_session->device()->id(), vesk_ui::device_link::DeviceLinkEvent::Closed{}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = host_for(std::make_unique<RemoteApp>(std::vector{device}, std::vector<DiscoveredDevice>{}));
    RemoteApp& app = host->widget_as<RemoteApp>();
    app.set_device_session_options(DeviceSessionOptions{});
    const auto star = app.hit_rect(UiMessage::toggle_favorite(device.id));
    ASSERT_TRUE(star);
    host->pointer_move(star->center().x, star->center().y);
    c.act(*host, app);
    paint_while_wanted(*host);
    EXPECT_FALSE(host->wants_frame());
    EXPECT_FALSE(app.state().tooltip.pending());
  }
}

TEST(AppFrames, EveryFocusChangeAsksForAFrame) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& app = host->widget_as<RemoteApp>();
  paint_while_wanted(*host);
  ASSERT_FALSE(host->wants_frame());
  host->key_char("/", std::string("Slash"));
  ASSERT_EQ(app.state().focused_input, InputField::Search);
  EXPECT_TRUE(host->wants_frame());
}

}  // namespace
