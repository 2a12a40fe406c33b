// A VNC session through the hub and the operation protocol against TigerVNC's
// Xvnc on 127.0.0.1, and pointer mapping into its picture.
#include <gtest/gtest.h>

#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/actions/tree.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

#define RFB_X_PATTERN "unused"  // the pattern client is not needed here
#include "tests/apps/remote/rfb/peers.hpp"

namespace {

using namespace apptest;
using vesk_actions::OperationKind;

TEST(AppVncPeer, ConnectOperationPictureAndPointerMapping) {
  auto server = rfb_test::Xvnc::start({"-SecurityTypes", "None"}, 320, 240);
  ASSERT_TRUE(server) << "Xvnc did not start";
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::string("1"));
  ScopedEnv password("REMOTE_VNC_PASSWORD", std::nullopt);
  const SavedConnection desk = conn("desk", ConnectionKind::Vnc, "127.0.0.1", server->port);
  RemoteApp app({desk}, {});

  OperationHandle handle{};
  handle[3] = 9;
  ASSERT_EQ(
      app.start_operation(handle, OperationKind::Effect, actions::encode_operation(RemoteOperation::Connect{desk.id})),
      StartOutcome::pending());
  PollOutcome outcome;
  ASSERT_TRUE(eventually([&] {
    outcome = app.poll_operation(handle, false);
    return outcome.kind != PollOutcome::Kind::NoUpdate;
  }));
  ASSERT_EQ(outcome, PollOutcome::completed(handle));
  ASSERT_NE(app.vnc_session(), nullptr);

  ASSERT_TRUE(eventually([&] {
    app.advance_frame(vesk_ui::widget::Clock::now());
    return app.state().session_picture.has_value();
  }));
  EXPECT_EQ(app.state().session_picture->width, 320u);
  EXPECT_EQ(app.state().session_picture->height, 240u);

  app.state_mut().session_surface = Rect{0, 0, 640, 480};
  using P = std::pair<std::uint16_t, std::uint16_t>;
  EXPECT_EQ(app.vnc_pointer_position(320, 240), (P{160, 120}));
  EXPECT_EQ(app.vnc_pointer_position(639.9, 479.9), (P{319, 239}));
  EXPECT_FALSE(app.vnc_pointer_position(640, 100));
  EXPECT_FALSE(app.vnc_pointer_position(100, 480));
  app.send_vnc_pointer(10, 10);

  // Off the session screen the picture is not shown, so nothing maps.
  Document d;
  app.apply_message(UiMessage::show_connections(), d);
  EXPECT_FALSE(app.vnc_pointer_position(320, 240));
  app.apply_message(UiMessage::disconnect(), d);
  EXPECT_EQ(app.vnc_session(), nullptr);
}

TEST(AppVncPeer, ThePasswordComesFromTheEnvironment) {
  rfb_test::TempDir dir;
  const auto passwd = dir / "passwd";
  ASSERT_TRUE(rfb_test::run("printf 'secret\\n' | vncpasswd -f > " + passwd.string()));
  auto server = rfb_test::Xvnc::start({"-SecurityTypes", "VncAuth", "-PasswordFile", passwd.string()});
  ASSERT_TRUE(server) << "Xvnc did not start";
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::string("1"));
  const SavedConnection desk = conn("desk", ConnectionKind::Vnc, "127.0.0.1", server->port);
  struct Case {
    std::optional<std::string> password;
    SessionStatus want;
  };
  const std::vector<Case> cases = {
      {"secret", SessionStatus::connected()},
      {"wrong", SessionStatus::failed("Authentication failure")},
      {std::nullopt, SessionStatus::failed("Authentication failure")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password.value_or("(unset)"));
    ScopedEnv password("REMOTE_VNC_PASSWORD", c.password);
    RemoteApp app({desk}, {});
    app.open_session(desk.id);
    ASSERT_TRUE(app.state().live_session && app.state().live_session->vnc());
    ASSERT_TRUE(eventually([&] { return !app.state().live_session->status().is_connecting(); }));
    EXPECT_EQ(app.state().live_session->status(), c.want);
  }
}

}  // namespace
