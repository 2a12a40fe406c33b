#include <gtest/gtest.h>

#include <functional>

#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/actions/tree.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;
namespace dl = vesk_ui::device_link;
using vesk_actions::EncodedAction;
using vesk_actions::OperationKind;

OperationHandle handle_of(std::uint8_t n) {
  OperationHandle h{};
  h[0] = n;
  return h;
}

EncodedAction op(RemoteOperation operation) { return actions::encode_operation(operation); }

struct AppOperationsFixture : ::testing::Test {
  AppOperationsFixture() : live("REMOTE_LIVE_SESSIONS", std::nullopt) {
    ssh = conn("shell", ConnectionKind::Ssh, "shell.example.com", 22);
    device = device_conn("bench");
    other = device_conn("other", 1);
    rdp = conn("win", ConnectionKind::Rdp, "198.51.100.3", 3389);
    app = std::make_unique<RemoteApp>(std::vector{ssh, device, other, rdp}, std::vector<DiscoveredDevice>{});
  }
  StartOutcome start(std::uint8_t h, RemoteOperation operation, OperationKind kind = OperationKind::Effect) {
    return app->start_operation(handle_of(h), kind, op(std::move(operation)));
  }
  PollOutcome poll(std::uint8_t h, bool cancel = false) { return app->poll_operation(handle_of(h), cancel); }
  RunOutcome run(RemoteOperation operation, OperationKind kind = OperationKind::Effect) {
    return app->run_operation(kind, op(std::move(operation)));
  }
  void connected() {
    DeviceSession* d = app->state_mut().live_session->device();
    app->on_device_event(device_event(d->id(), dl::DeviceLinkEvent::Connected{64, 64}));
  }
  const AppState& s() const { return app->state(); }

  ScopedEnv live;
  SavedConnection ssh, device, other, rdp;
  std::unique_ptr<RemoteApp> app;
};

TEST_F(AppOperationsFixture, StartRefusals) {
  const Uuid unknown = Uuid::new_v4();
  struct Case {
    const char* name;
    OperationKind kind;
    EncodedAction encoded;
    StartOutcome want;
  };
  const std::vector<Case> cases = {
      {"declared view", OperationKind::View, op(RemoteOperation::Connect{device.id}), StartOutcome::not_handled()},
      {"declared none", OperationKind::None, op(RemoteOperation::Connect{device.id}), StartOutcome::not_handled()},
      {"another payload kind", OperationKind::Effect, EncodedAction::from_text("other.op", "\"ShowConnections\""),
       StartOutcome::not_handled()},
      {"view operation", OperationKind::Effect, op(RemoteOperation::ShowConnections{}),
       StartOutcome::failed("view operations do not start background work")},
      {"unknown connection", OperationKind::Effect, op(RemoteOperation::Connect{unknown}),
       StartOutcome::failed("saved connection no longer exists")},
      {"ssh without live sessions", OperationKind::Effect, op(RemoteOperation::Connect{ssh.id}),
       StartOutcome::failed("SSH is installed, but this build has not been granted live network access.")},
      {"rdp", OperationKind::Effect, op(RemoteOperation::Connect{rdp.id}),
       StartOutcome::failed(std::string(Readiness(Readiness::BackendUnavailable).message(ConnectionKind::Rdp)))},
      {"text without a session", OperationKind::Effect, op(RemoteOperation::SendText{ssh.id, "ls"}),
       StartOutcome::failed("that remote session is no longer active")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(app->start_operation(handle_of(1), c.kind, c.encoded), c.want);
    EXPECT_FALSE(s().pending_operation);
    EXPECT_FALSE(s().live_session);  // a refused start opens nothing
  }
  // A payload that does not decode fails with the reader's text.
  auto bad = app->start_operation(handle_of(1), OperationKind::Effect,
                                  EncodedAction::from_text(std::string(kRemoteOperationKind), "{"));
  EXPECT_EQ(bad.kind, StartOutcome::Kind::Failed);
  EXPECT_FALSE(bad.message.empty());

  // An invalid device profile fails with the precise target problem.
  app->state_mut().connections[1].host = "not-a-key";
  EXPECT_EQ(start(1, RemoteOperation::Connect{device.id}),
            StartOutcome::failed(*app->state().connections[1].validate_target()));
}

TEST_F(AppOperationsFixture, ConnectAttemptIsPendingUntilTheSessionConnects) {
  ASSERT_EQ(start(7, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  EXPECT_EQ(s().screen, Screen::session(device.id));
  EXPECT_EQ(poll(8), PollOutcome::no_update());  // another handle
  EXPECT_EQ(poll(7), PollOutcome::no_update());  // still connecting
  // One operation at a time, whatever the next one is.
  EXPECT_EQ(start(9, RemoteOperation::Disconnect{device.id}),
            StartOutcome::failed("another remote operation is still running"));
  EXPECT_TRUE(s().live_session);
  connected();
  EXPECT_EQ(poll(7), PollOutcome::completed(handle_of(7)));
  EXPECT_FALSE(s().pending_operation);
  EXPECT_EQ(poll(7), PollOutcome::no_update());

  // Connect on a connected session completes at once; failed opens fail.
  EXPECT_EQ(start(2, RemoteOperation::Disconnect{device.id}), StartOutcome::completed());
  EXPECT_FALSE(s().live_session);
  app->state_mut().connections[1].host = " " + device.host;  // passes readiness, fails in the hub
  EXPECT_EQ(start(3, RemoteOperation::Connect{device.id}),
            StartOutcome::failed("Vesk host must be an exact certified device endpoint id"));
}

TEST_F(AppOperationsFixture, PollSettlesByTheSessionStatus) {
  struct Case {
    const char* name;
    std::optional<SessionStatus> status;  // none: no live session
    PollOutcome want;
  };
  const auto h = handle_of(5);
  const std::vector<Case> cases = {
      {"connected", SessionStatus::connected(), PollOutcome::completed(h)},
      {"ended", SessionStatus::ended(),
       PollOutcome::failed(h, "remote.connection_closed", "remote connection closed before it became ready")},
      {"gone", std::nullopt,
       PollOutcome::failed(h, "remote.connection_closed", "remote connection closed before it became ready")},
      {"unavailable", SessionStatus::unavailable("no route"),
       PollOutcome::failed(h, "remote.transport_unavailable", "no route")},
      {"failed", SessionStatus::failed("Connection refused"),
       PollOutcome::failed(h, "remote.connect_failed", "Connection refused")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(start(5, RemoteOperation::Connect{device.id}), StartOutcome::pending());
    // The same session (connection and serial) reaching another status.
    if (c.status) {
      app->state_mut().live_session = LiveSession{LiveSession::Review{*c.status}};
    } else {
      app->state_mut().live_session.reset();
    }
    EXPECT_EQ(poll(5), c.want);
    EXPECT_FALSE(s().pending_operation);
    // A live session of the same connection would be returned to next time.
    app->state_mut().live_session.reset();
  }
}

TEST_F(AppOperationsFixture, ConnectReturnsToTheConnectionsRunningSession) {
  // The same session throughout: serial, device session and queued commands unchanged.
  Document doc;
  app->apply_message(UiMessage::open_session(device.id), doc);
  const std::uint64_t serial = s().session_serial;
  const std::uint64_t session_id = s().live_session->device()->id();
  const std::size_t commands = s().device_commands.size();
  auto expect_same_session_shown = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(s().screen, Screen::session(device.id));
    EXPECT_EQ(s().session_serial, serial);
    ASSERT_TRUE(s().live_session && s().live_session->device());
    EXPECT_EQ(s().live_session->device()->id(), session_id);
    EXPECT_EQ(s().device_commands.size(), commands);
  };

  // Connecting: run shows it; start follows it like a new attempt.
  ASSERT_EQ(run(RemoteOperation::ShowConnections{}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(run(RemoteOperation::Connect{device.id}), RunOutcome::handled());
  expect_same_session_shown("run while connecting");
  ASSERT_EQ(run(RemoteOperation::ShowConnections{}, OperationKind::View), RunOutcome::handled());
  ASSERT_EQ(start(1, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  expect_same_session_shown("start while connecting");
  EXPECT_EQ(poll(1), PollOutcome::no_update());
  connected();
  EXPECT_EQ(poll(1), PollOutcome::completed(handle_of(1)));

  // Connected: completed at once.
  ASSERT_EQ(run(RemoteOperation::ShowConnections{}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(start(2, RemoteOperation::Connect{device.id}), StartOutcome::completed());
  EXPECT_FALSE(s().pending_operation);
  expect_same_session_shown("start while connected");
  ASSERT_EQ(run(RemoteOperation::ShowConnections{}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(run(RemoteOperation::Connect{device.id}), RunOutcome::handled());
  expect_same_session_shown("run while connected");

  // Another connection still replaces it.
  ASSERT_EQ(start(3, RemoteOperation::Connect{other.id}), StartOutcome::pending());
  EXPECT_EQ(s().screen, Screen::session(other.id));
  EXPECT_NE(s().live_session->device()->id(), session_id);
}

TEST_F(AppOperationsFixture, ReplacedAndCancelledAttempts) {
  const std::string superseded = "the connection attempt was superseded by a newer session";
  // Another connection opened.
  ASSERT_EQ(start(1, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  Document d;
  app->apply_message(UiMessage::open_session(other.id), d);
  EXPECT_EQ(poll(1), PollOutcome::failed(handle_of(1), "remote.session_replaced", superseded));

  // The user disconnected: the serial moved.
  ASSERT_EQ(start(2, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  app->apply_message(UiMessage::disconnect(), d);
  EXPECT_EQ(poll(2), PollOutcome::failed(handle_of(2), "remote.session_replaced", superseded));

  // The same connection reopened also counts as replaced.
  ASSERT_EQ(start(3, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  app->apply_message(UiMessage::open_session(device.id), d);
  EXPECT_EQ(poll(3), PollOutcome::failed(handle_of(3), "remote.session_replaced", superseded));

  // Cancel while live: disconnects. Cancel after a replacement: only clears.
  ASSERT_EQ(start(4, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  EXPECT_EQ(poll(4, true), PollOutcome::cancelled(handle_of(4), "remote connection attempt cancelled"));
  EXPECT_FALSE(s().live_session);
  EXPECT_EQ(s().screen, Screen::connection_list());
  ASSERT_EQ(start(5, RemoteOperation::Connect{device.id}), StartOutcome::pending());
  app->apply_message(UiMessage::open_session(other.id), d);
  EXPECT_EQ(poll(5, true), PollOutcome::cancelled(handle_of(5), "remote connection attempt cancelled"));
  EXPECT_TRUE(s().live_session);
  EXPECT_EQ(s().session_connection, other.id);
  EXPECT_FALSE(s().pending_operation);
}

TEST_F(AppOperationsFixture, TextDeliveryResults) {
  using Sender = remote::sync::OneshotSender<ssh::AckResult>;
  struct Case {
    const char* name;
    std::function<void(Sender&)> worker;  // what the input worker does with the acknowledgement
    PollOutcome want;
  };
  const auto h = handle_of(7);
  const std::vector<Case> cases = {
      {"not yet", [](Sender&) {}, PollOutcome::no_update()},
      {"written", [](Sender& tx) { tx.send(ssh::AckResult{}); }, PollOutcome::completed(h)},
      {"write failed", [](Sender& tx) { tx.send(std::unexpected(std::string("channel write failed: broken pipe"))); },
       PollOutcome::failed(h, "remote.input_failed", "channel write failed: broken pipe")},
      {"worker lost", [](Sender& tx) { Sender gone = std::move(tx); },
       PollOutcome::failed(h, "remote.input_worker_lost", "remote input worker stopped before acknowledgement")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto [tx, rx] = remote::sync::oneshot<ssh::AckResult>();
    app->state_mut().session_connection = ssh.id;
    app->state_mut().pending_operation =
        PendingOperation{PendingOperation::TextDelivery{std::move(rx), h, ssh.id, s().session_serial}};
    c.worker(tx);
    app->state_mut().redraw = false;
    EXPECT_EQ(app->poll_operation(h, false), c.want);
    const bool settled = c.want.kind != PollOutcome::Kind::NoUpdate;
    EXPECT_EQ(s().pending_operation.has_value(), !settled);
    EXPECT_EQ(s().redraw, settled);  // a settled operation is painted
  }
}

TEST_F(AppOperationsFixture, RunOperations) {
  const Uuid unknown = Uuid::new_v4();
  EXPECT_EQ(run(RemoteOperation::ShowConnections{}),
            RunOutcome::failed("remote operation kind does not match its declared contract"));
  EXPECT_EQ(run(RemoteOperation::Connect{device.id}, OperationKind::None), RunOutcome::not_handled());
  EXPECT_EQ(app->run_operation(OperationKind::Effect, EncodedAction::from_text("x", "\"ShowConnections\"")),
            RunOutcome::not_handled());

  EXPECT_EQ(run(RemoteOperation::NewConnectionForm{}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(s().screen, Screen::new_connection_form());
  EXPECT_EQ(run(RemoteOperation::EditConnection{unknown}, OperationKind::View),
            RunOutcome::failed("saved connection no longer exists"));
  EXPECT_EQ(run(RemoteOperation::EditConnection{rdp.id}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(s().screen, Screen::edit_connection_form(rdp.id));
  EXPECT_EQ(run(RemoteOperation::ShowConnections{}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(s().screen, Screen::connection_list());

  // Running Connect has no readiness check: the unavailable screen explains.
  EXPECT_EQ(run(RemoteOperation::Connect{ssh.id}), RunOutcome::handled());
  EXPECT_EQ(s().screen, Screen::session(ssh.id));
  EXPECT_EQ(s().live_session->status().kind, SessionStatus::Kind::Unavailable);
  EXPECT_EQ(run(RemoteOperation::Connect{unknown}), RunOutcome::failed("saved connection no longer exists"));

  EXPECT_EQ(run(RemoteOperation::Disconnect{device.id}), RunOutcome::failed("that remote session is no longer active"));
  EXPECT_EQ(run(RemoteOperation::SendText{ssh.id, "ls"}),
            RunOutcome::failed("text input requires a connected SSH terminal"));
  EXPECT_EQ(run(RemoteOperation::TrustSshHostKey{ssh.id, {"ssh-ed25519", "SHA256:x"}}),
            RunOutcome::failed("the observed SSH host key is stale; reconnect to inspect the current key"));
  EXPECT_EQ(run(RemoteOperation::ForgetSshHostKey{ssh.id}),
            RunOutcome::failed("only the currently observed changed SSH host key can be forgotten"));
  EXPECT_EQ(run(RemoteOperation::TrustSshHostKey{unknown, {"a", "b"}}),
            RunOutcome::failed("saved connection no longer exists"));
  EXPECT_EQ(run(RemoteOperation::Disconnect{ssh.id}), RunOutcome::handled());
  EXPECT_FALSE(s().live_session);

  // Effects started in the background that run at once.
  Document d;
  app->apply_message(UiMessage::open_session(device.id), d);
  EXPECT_EQ(start(1, RemoteOperation::Disconnect{other.id}),
            StartOutcome::failed("that remote session is no longer active"));
  EXPECT_EQ(start(1, RemoteOperation::ForgetSshHostKey{device.id}),
            StartOutcome::failed("only the currently observed changed SSH host key can be forgotten"));
  EXPECT_FALSE(s().pending_operation);
}

TEST_F(AppOperationsFixture, ViewOperationsNeverTouchTheDocument) {
  Document document;
  app->sync_document(document);
  const auto heads = document.get_heads();
  EXPECT_EQ(run(RemoteOperation::NewConnectionForm{}, OperationKind::View), RunOutcome::handled());
  EXPECT_EQ(document.get_heads(), heads);
  EXPECT_EQ(app->operation_types(), std::vector<std::string>{"remote.operation"});
}

}  // namespace
