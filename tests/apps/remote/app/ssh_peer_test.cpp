// The reducer, hub and operation protocol with a real OpenSSH server on
// 127.0.0.1: host-key trust and forget through confirmations, the stale-key
// refusals, and acknowledged text delivery.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/actions/tree.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "tests/apps/remote/app/ssh_peer_fixture.hpp"

namespace {

using namespace apptest;
using vesk_actions::OperationKind;

std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

OperationHandle handle_of(std::uint8_t n) {
  OperationHandle h{};
  h[15] = n;
  return h;
}

class AppSshPeer : public SshPeerFixture {
 protected:
  void SetUp() override {
    if (!start_peer()) GTEST_SKIP() << "needs root to create the test account";
    app = std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{});
  }
  void TearDown() override { app.reset(); }

  void send(const UiMessage& m) { app->apply_message(m, document); }
  SessionStatus status() const { return app->state().live_session->status(); }
  // Waits for the session to leave Connecting, draining its output as painting does.
  SessionStatus settle() {
    eventually([&] {
      if (auto* ssh = app->state_mut().live_session->ssh()) ssh->session->pump_output();
      return !status().is_connecting();
    });
    return status();
  }
  SavedConnection& stored() { return *find_connection(app->state_mut().connections, profile.id); }

  std::unique_ptr<RemoteApp> app;
  Document document;
};

TEST_F(AppSshPeer, TrustForgetAndStaleTargets) {
  const std::string fingerprint = sshd->host_fingerprint();
  send(UiMessage::request_connect(profile.id));
  send(UiMessage::confirm());
  ASSERT_EQ(settle().kind, SessionStatus::Kind::Failed);
  auto observation = app->pending_host_key(profile.id);
  ASSERT_TRUE(observation && observation->unknown());
  EXPECT_EQ(observation->unknown()->presented, (ssh::HostKeyIdentity{"ssh-ed25519", fingerprint}));
  send(UiMessage::request_forget_host_key(profile.id));
  EXPECT_EQ(app->state().notice, notice::kNoKeyToForget);

  // A synchronisation moved the profile to another port after the key was
  // seen: trusting must not pin the old server's key for the new target.
  stored().port = static_cast<std::uint16_t>(sshd->port() + 1);
  send(UiMessage::request_trust_host_key(profile.id));
  ASSERT_TRUE(app->state().confirmation);
  send(UiMessage::confirm());
  EXPECT_EQ(app->state().notice, notice::kTrustStale);
  auto run_trust = app->run_operation(OperationKind::Effect, actions::encode_operation(RemoteOperation::TrustSshHostKey{
                                                                 profile.id, observation->unknown()->presented}));
  EXPECT_EQ(run_trust, RunOutcome::failed("the observed SSH host key is stale; reconnect to inspect the current key"));
  EXPECT_FALSE(std::filesystem::exists(pins));

  // Back on the observed target: a different key is refused, the observed one pinned.
  stored().port = sshd->port();
  EXPECT_EQ(app->run_operation(OperationKind::Effect, actions::encode_operation(RemoteOperation::TrustSshHostKey{
                                                          profile.id, {"ssh-ed25519", "SHA256:someoneelse"}})),
            RunOutcome::failed("the observed SSH host key is stale; reconnect to inspect the current key"));
  send(UiMessage::request_trust_host_key(profile.id));
  send(UiMessage::confirm());
  EXPECT_EQ(app->state().notice, notice::kTrustStale);  // unchanged from before
  EXPECT_NE(slurp(pins).find(fingerprint), std::string::npos);
  EXPECT_EQ(settle(), SessionStatus::connected());

  // The server gets a new key: the reconnect is refused as changed, and forgetting clears the pin.
  sshd->replace_host_key("ecdsa");
  app->open_session(profile.id);
  ASSERT_EQ(settle().kind, SessionStatus::Kind::Failed);
  observation = app->pending_host_key(profile.id);
  ASSERT_TRUE(observation && observation->changed());
  send(UiMessage::request_trust_host_key(profile.id));
  EXPECT_EQ(app->state().notice, notice::kNoKeyToTrust);
  send(UiMessage::request_forget_host_key(profile.id));
  ASSERT_TRUE(app->state().confirmation);
  send(UiMessage::confirm());
  EXPECT_EQ(app->state().notice, notice::kForgot);
  EXPECT_FALSE(app->state().live_session);
  EXPECT_EQ(app->state().screen, Screen::connection_list());
  EXPECT_EQ(slurp(pins).find(fingerprint), std::string::npos);
}

TEST_F(AppSshPeer, ConnectAndAcknowledgedTextThroughOperations) {
  // Pin the server first, as an earlier trust would have.
  ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", sshd->host_fingerprint()}));
  const auto connect = actions::encode_operation(RemoteOperation::Connect{profile.id});
  ASSERT_EQ(app->start_operation(handle_of(1), OperationKind::Effect, connect), StartOutcome::pending());
  PollOutcome outcome;
  ASSERT_TRUE(eventually([&] {
    app->state_mut().live_session->ssh()->session->pump_output();
    outcome = app->poll_operation(handle_of(1), false);
    return outcome.kind != PollOutcome::Kind::NoUpdate;
  }));
  ASSERT_EQ(outcome, PollOutcome::completed(handle_of(1)));
  EXPECT_EQ(find_connection(app->state().connections, profile.id)->last_used, "just now");

  EXPECT_EQ(app->start_operation(handle_of(2), OperationKind::Effect,
                                 actions::encode_operation(RemoteOperation::SendText{profile.id, ""})),
            StartOutcome::failed("SSH input cannot be empty"));
  EXPECT_FALSE(app->state().pending_operation);

  const auto marker = sshd->out_dir() / "from-operation";
  const auto text =
      actions::encode_operation(RemoteOperation::SendText{profile.id, "echo delivered > " + marker.string() + "\n"});
  ASSERT_EQ(app->start_operation(handle_of(3), OperationKind::Effect, text), StartOutcome::pending());
  ASSERT_TRUE(eventually([&] {
    app->state_mut().live_session->ssh()->session->pump_output();
    outcome = app->poll_operation(handle_of(3), true);  // a delivery ignores cancel
    return outcome.kind != PollOutcome::Kind::NoUpdate;
  }));
  EXPECT_EQ(outcome, PollOutcome::completed(handle_of(3)));
  EXPECT_TRUE(sshtest::wait_until([&] { return slurp(marker) == "delivered\n"; }));

  // Run without acknowledgement.
  EXPECT_EQ(app->run_operation(OperationKind::Effect, text), RunOutcome::handled());

  // A delivery whose session is gone before its poll.
  ASSERT_EQ(app->start_operation(handle_of(4), OperationKind::Effect, text), StartOutcome::pending());
  send(UiMessage::disconnect());
  EXPECT_EQ(app->poll_operation(handle_of(4), false),
            PollOutcome::failed(handle_of(4), "remote.session_replaced",
                                "the SSH session ended before input delivery was acknowledged"));
}

TEST_F(AppSshPeer, HostKeyRefusalsOfTheReducer) {
  const std::string fingerprint = sshd->host_fingerprint();
  // Reconnects with a stale pin so that the key is seen as changed.
  const auto changed = [&] {
    (void)ssh::KnownHosts::forget(pins, "127.0.0.1", sshd->port());
    ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", "SHA256:old"}));
    app->open_session(profile.id);
    ASSERT_EQ(settle().kind, SessionStatus::Kind::Failed);
    ASSERT_TRUE(app->pending_host_key(profile.id) && app->pending_host_key(profile.id)->changed());
  };

  // The pin went away while the forget confirmation was open: nothing found, the session stays.
  changed();
  send(UiMessage::request_forget_host_key(profile.id));
  ASSERT_TRUE(app->state().confirmation);
  ASSERT_TRUE(ssh::KnownHosts::forget(pins, "127.0.0.1", sshd->port()).value_or(false));
  send(UiMessage::confirm());
  EXPECT_EQ(app->state().notice, notice::kNoPin);
  EXPECT_TRUE(app->state().live_session);
  EXPECT_EQ(app->state().screen, Screen::session(profile.id));

  // The pin store turned unusable (its directory open to others) before the confirmation.
  changed();
  send(UiMessage::request_forget_host_key(profile.id));
  ASSERT_EQ(::chmod(pins.parent_path().c_str(), 0755), 0);
  send(UiMessage::confirm());
  ASSERT_EQ(::chmod(pins.parent_path().c_str(), 0700), 0);
  ASSERT_TRUE(app->state().notice);
  EXPECT_TRUE(app->state().notice->starts_with("Could not use private SSH host-key storage: ")) << *app->state().notice;
  EXPECT_NE(slurp(pins).find("SHA256:old"), std::string::npos);  // nothing was removed

  // The observation changed after the forget was approved: a reconnect now sees an unknown key.
  changed();
  send(UiMessage::request_forget_host_key(profile.id));
  ASSERT_TRUE(ssh::KnownHosts::forget(pins, "127.0.0.1", sshd->port()).value_or(false));
  app->open_session(profile.id);
  ASSERT_EQ(settle().kind, SessionStatus::Kind::Failed);
  ASSERT_TRUE(app->pending_host_key(profile.id)->unknown());
  send(UiMessage::confirm());
  EXPECT_EQ(app->state().notice, notice::kForgetStale);

  // A second key for a pinned target cannot be written: the trust fails with the store's reason.
  send(UiMessage::request_trust_host_key(profile.id));
  ASSERT_TRUE(app->state().confirmation);
  ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", "SHA256:other"}));
  send(UiMessage::confirm());
  EXPECT_EQ(app->state().notice,
            "Could not save SSH host-key trust: a different trusted host key already exists; forget it before "
            "retrusting");
  EXPECT_EQ(slurp(pins).find(fingerprint), std::string::npos);
  EXPECT_EQ(status().kind, SessionStatus::Kind::Failed);  // no new attempt
}

TEST_F(AppSshPeer, PublishedSessionActionsFollowTheLiveSession) {
  const std::string session_id = "remote.session:" + profile.id.to_string();
  // The offered session actions: id → available.
  const auto offered = [&] {
    std::map<std::string, bool> out;
    for (const auto& root : app->action_resources(document)) {
      if (const auto* session = root.find(session_id)) {
        for (const auto& action : session->actions) out[action.id] = action.is_available();
      }
    }
    return out;
  };
  using Offered = std::map<std::string, bool>;
  EXPECT_EQ(offered(), Offered{});  // no live session

  app->open_session(profile.id);
  ASSERT_EQ(settle().kind, SessionStatus::Kind::Failed);
  EXPECT_EQ(offered(), (Offered{{"disconnect", true}, {"send-text", false}, {"trust-host-key", true}}));

  ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", sshd->host_fingerprint()}));
  app->open_session(profile.id);
  ASSERT_EQ(settle(), SessionStatus::connected());
  EXPECT_EQ(offered(), (Offered{{"disconnect", true}, {"send-text", true}}));

  sshd->replace_host_key("ecdsa");
  app->open_session(profile.id);
  ASSERT_EQ(settle().kind, SessionStatus::Kind::Failed);
  EXPECT_EQ(offered(), (Offered{{"disconnect", true}, {"send-text", false}, {"forget-host-key", true}}));
}

TEST_F(AppSshPeer, AProfileWithoutAUserLogsInAsUser) {
  ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", sshd->host_fingerprint()}));
  stored().user.clear();
  ScopedEnv login("USER", user.name);
  app->open_session(profile.id);
  EXPECT_EQ(settle(), SessionStatus::connected());
  // Unset, the user is "root", whom this server does not let in.
  login.unset();
  app->open_session(profile.id);
  EXPECT_EQ(settle().kind, SessionStatus::Kind::Failed);
}

}  // namespace
