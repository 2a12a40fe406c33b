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

#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/doc/store.hpp"
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

// A tooltip shown over a row's star is dropped by every way the screen, the
// dialog or the session can change, and the next frame no longer paints it.
TEST(AppFrames, EveryChangeOfScreenDialogOrSessionDropsTheTooltip) {
  using vesk_ui::access::SemanticAction;
  using ActionKind = vesk_ui::access::ActionKind;
  using Host = vesk_ui::headless::HeadlessHost;
  const SavedConnection device = device_conn("bench");
  const SavedConnection other = device_conn("other", 1);
  const std::string id = device.id.to_string();
  const auto activate = SemanticAction{ActionKind::Activate, {}};
  const auto run = [](RemoteApp& app, RemoteOperation operation) {
    const auto kind = operation.operation_kind();
    return app.run_operation(kind, actions::encode_operation(std::move(operation)));
  };
  // A device session of `device` left running behind the list.
  const auto session_behind_list = [&](Host& host, RemoteApp& app) {
    app.open_session(device.id);
    app.on_device_event(device_event(app.state().live_session->device()->id(),
                                     vesk_ui::device_link::DeviceLinkEvent::Connected{64, 48}));
    app.apply_message(UiMessage::show_connections(), host.document());
  };
  struct Case {
    const char* name;
    std::function<void(Host&, RemoteApp&)> before;  // runs before the hover
    std::function<void(Host&, RemoteApp&)> change;
  };
  const std::vector<Case> cases = {
      {"semantic action: edit",
       {},
       [&](Host& host, RemoteApp&) { ASSERT_TRUE(host.perform("remote.connection:" + id + ":edit", activate)); }},
      {"semantic action: new connection",
       {},
       [&](Host& host, RemoteApp&) { ASSERT_TRUE(host.perform("remote.connection.new", activate)); }},
      {"semantic action: connect opens the dialog",
       {},
       [&](Host& host, RemoteApp&) { ASSERT_TRUE(host.perform("remote.connection:" + id + ":connect", activate)); }},
      {"operation: edit", {}, [&](Host&, RemoteApp& app) { run(app, RemoteOperation::EditConnection{device.id}); }},
      {"operation: new form", {}, [&](Host&, RemoteApp& app) { run(app, RemoteOperation::NewConnectionForm{}); }},
      {"operation: connect",
       {},
       [&](Host&, RemoteApp& app) {
         OperationHandle handle{};
         handle[0] = 7;
         app.start_operation(handle, vesk_actions::OperationKind::Effect,
                             actions::encode_operation(RemoteOperation::Connect{device.id}));
       }},
      {"operation: disconnect", session_behind_list,
       [&](Host&, RemoteApp& app) { run(app, RemoteOperation::Disconnect{device.id}); }},
      {"document: the live session's connection deleted", session_behind_list,
       [&](Host& host, RemoteApp& app) {
         remote::doc::delete_connection(host.document(), device.id);
         app.sync_document(host.document());
         ASSERT_FALSE(app.state().live_session);
       }},
      {"session: the device ends it", session_behind_list,
       [&](Host&, RemoteApp& app) {
         app.on_device_event(
             device_event(app.state().live_session->device()->id(), vesk_ui::device_link::DeviceLinkEvent::Closed{}));
       }},
      {"key: Escape", {}, [&](Host& host, RemoteApp&) { host.key_named(NamedKey::Escape); }},
      {"pointer: a press on the star",
       {},
       [&](Host& host, RemoteApp& app) {
         const auto star = app.hit_rect(UiMessage::toggle_favorite(other.id));
         host.click(star->center().x, star->center().y);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = host_for(std::make_unique<RemoteApp>(std::vector{device, other}, std::vector<DiscoveredDevice>{}));
    RemoteApp& app = host->widget_as<RemoteApp>();
    app.set_device_session_options(DeviceSessionOptions{});
    if (c.before) c.before(*host, app);
    host->paint();
    const auto star = app.hit_rect(UiMessage::toggle_favorite(other.id));
    ASSERT_TRUE(star);
    host->pointer_move(star->center().x, star->center().y);
    host->advance(std::chrono::seconds(1));
    ASSERT_TRUE(painted_text_contains(host->paint(), "favourites"));
    ASSERT_TRUE(app.state().tooltip.shown());
    c.change(*host, app);
    ASSERT_TRUE(host->wants_frame());
    host->advance(std::chrono::seconds(5));
    EXPECT_FALSE(painted_text_contains(host->paint(), "favourites"));
    paint_while_wanted(*host);
    EXPECT_FALSE(app.state().tooltip.shown());
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
