#include <gtest/gtest.h>

#include <cstdlib>

#include "apps/remote/src/actions/tree.hpp"
#include "apps/remote/src/doc/store.hpp"

namespace remote::actions {
namespace {

using vesk_ui::doc::Document;

const std::string kZeroEndpoint(64, '0');  // 32 zero bytes: a valid device endpoint id

Uuid id_n(int n) {
  char text[37];
  std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
  return *Uuid::parse(text);
}

SavedConnection make(int n, std::string name, std::string host, std::uint16_t port, ConnectionKind kind, AuthKind auth,
                     bool favorite = false) {
  SavedConnection c;
  c.id = id_n(n);
  c.name = std::move(name);
  c.host = std::move(host);
  c.port = port;
  c.kind = kind;
  c.auth = auth;
  c.last_used = "Never";
  c.favorite = favorite;
  return c;
}

std::string payload_of(const ActionSpec& action_spec, const ActionArgs& args = {}) {
  return std::string(action_spec.invoke(args).payload_text());
}

std::vector<std::string> action_ids(const Resource& r) {
  std::vector<std::string> ids;
  for (const auto& a : r.actions) ids.push_back(a.id);
  return ids;
}

class ActionTree : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("REMOTE_LIVE_SESSIONS");
    list = {
        make(1, "Alpha", "a.example", 22, ConnectionKind::Ssh, AuthKind::Password),
        make(2, "Rdp box", "r.example", 3389, ConnectionKind::Rdp, AuthKind::Password, true),
        make(3, " \t", kZeroEndpoint, 0, ConnectionKind::Vesk, AuthKind::DeviceIdentity),
        make(4, "Bad device", "not-an-endpoint", 0, ConnectionKind::Vesk, AuthKind::DeviceIdentity),
        make(5, "Odd ssh", "o.example", 22, ConnectionKind::Ssh, AuthKind::DeviceIdentity),
    };
    for (const auto& c : list) doc::write_connection(document, c);
  }
  void TearDown() override { unsetenv("REMOTE_LIVE_SESSIONS"); }

  const Resource& child(const std::vector<Resource>& tree, int n) {
    return tree.front().children.at(static_cast<std::size_t>(n - 1));
  }

  Document document;
  std::vector<SavedConnection> list;
};

TEST(ActionTreeEmpty, RootOnly) {
  Document empty;
  auto tree = action_resources(empty, {}, std::nullopt);
  ASSERT_EQ(tree.size(), 1u);
  const Resource& root = tree.front();
  EXPECT_EQ(root.id, "remote.connections");
  EXPECT_EQ(root.kind, "remote.connection-list");
  EXPECT_EQ(root.title, "Remote connections");
  EXPECT_TRUE(root.children.empty());
  ASSERT_EQ(action_ids(root), (std::vector<std::string>{"open", "new"}));
  EXPECT_EQ(root.actions[0].label, "Show connections");
  EXPECT_EQ(root.actions[1].label, "New connection");
  for (const auto& a : root.actions) {
    EXPECT_EQ(a.operation_kind, OperationKind::View);
    EXPECT_EQ(a.operation_type, "remote.operation");
    EXPECT_EQ(a.contract, ActionContract::defaults_for(OperationKind::View));
    EXPECT_EQ(a.invoke({}).kind, "remote.operation");
  }
  EXPECT_EQ(payload_of(root.actions[0]), R"("ShowConnections")");
  EXPECT_EQ(payload_of(root.actions[1]), R"("NewConnectionForm")");
}

TEST_F(ActionTree, ConnectionResources) {
  auto tree = action_resources(document, list, std::nullopt);
  ASSERT_EQ(tree.front().children.size(), 5u);
  const std::string titles[] = {"Alpha", "Rdp box", kZeroEndpoint, "Bad device", "Odd ssh"};
  for (int n = 1; n <= 5; ++n) {
    const Resource& r = child(tree, n);
    EXPECT_EQ(r.id, "remote.connection:" + id_n(n).to_string());
    EXPECT_EQ(r.kind, "remote.connection");
    EXPECT_EQ(r.title, titles[n - 1]);
    EXPECT_EQ(action_ids(r), (std::vector<std::string>{"open", "connect", "rename", "favorite", "delete"}));
    EXPECT_TRUE(r.children.empty());
  }

  const Resource& alpha = child(tree, 1);
  const std::string id = id_n(1).to_string();
  const ActionSpec& open = alpha.actions[0];
  EXPECT_EQ(open.label, "Open connection settings");
  EXPECT_EQ(open.operation_kind, OperationKind::View);
  EXPECT_EQ(payload_of(open), R"({"EditConnection":{"connection_id":")" + id + R"("}})");

  const ActionSpec& connect = alpha.actions[1];
  EXPECT_EQ(connect.label, "Connect");
  EXPECT_EQ(connect.operation_kind, OperationKind::Effect);
  EXPECT_EQ(payload_of(connect), R"({"Connect":{"connection_id":")" + id + R"("}})");
  ActionContract live = live_session_contract();
  live.unavailable = connect.contract.unavailable;
  EXPECT_EQ(connect.contract, live);
  EXPECT_EQ(live.capabilities, (std::vector<std::string>{"network", "session"}));
  EXPECT_EQ(live.settings, (std::array<std::uint8_t, 5>{0, 2, 0, 3, 1}));

  const ActionSpec& rename = alpha.actions[2];
  EXPECT_EQ(rename.label, "Rename connection");
  EXPECT_EQ(rename.operation_kind, OperationKind::None);
  EXPECT_EQ(rename.parameters, (std::vector<vesk_actions::ActionParameter>{{"value", "New name", "text"}}));
  EXPECT_EQ(rename.input.hint, "connection name");
  EXPECT_EQ(rename.contract.settings, (std::array<std::uint8_t, 5>{1, 2, 0, 1, 3}));
  EXPECT_EQ(rename.invoke({}).kind, "remote.action");
  EXPECT_EQ(payload_of(rename), R"({"RenameConnection":{"id":")" + id + R"(","name":""}})");
  // Unchecked invalid text is repaired, never fatal.
  EXPECT_EQ(payload_of(rename, {{"value", "a\xff"}}),
            R"({"RenameConnection":{"id":")" + id + "\",\"name\":\"a\xef\xbf\xbd\"}}");
  EXPECT_EQ(payload_of(rename, {{"value", "New \"name\""}}),
            R"({"RenameConnection":{"id":")" + id + R"(","name":"New \"name\""}})");

  const ActionSpec& favorite = alpha.actions[3];
  EXPECT_EQ(favorite.label, "Add to favourites");
  EXPECT_EQ(payload_of(favorite), R"({"SetFavorite":{"id":")" + id + R"(","favorite":true}})");
  EXPECT_EQ(favorite.contract.settings, (std::array<std::uint8_t, 5>{1, 2, 0, 1, 3}));
  const ActionSpec& unfavorite = child(tree, 2).actions[3];
  EXPECT_EQ(unfavorite.label, "Remove from favourites");
  EXPECT_EQ(payload_of(unfavorite), R"({"SetFavorite":{"id":")" + id_n(2).to_string() + R"(","favorite":false}})");

  const ActionSpec& del = alpha.actions[4];
  EXPECT_EQ(del.label, "Delete connection");
  EXPECT_TRUE(del.is_destructive);
  EXPECT_FALSE(favorite.is_destructive);
  EXPECT_EQ(del.contract.settings, (std::array<std::uint8_t, 5>{1, 2, 0, 1, 3}));
  EXPECT_EQ(payload_of(del), R"({"DeleteConnection":{"id":")" + id + R"("}})");
}

TEST_F(ActionTree, ConnectAvailabilityByReadiness) {
  const std::string prefix = "Open a live session to this saved connection. ";
  const std::string invalid = "This saved connection has incompatible target or authentication settings.";
  struct Expect {
    int n;
    std::optional<vesk_actions::Unavailability> unavailable;
    std::string description;
  };
  auto check = [&](const std::vector<Expect>& expected) {
    auto tree = action_resources(document, list, std::nullopt);
    for (const auto& e : expected) {
      const ActionSpec& connect = child(tree, e.n).actions[1];
      EXPECT_EQ(connect.contract.unavailable, e.unavailable) << e.n;
      EXPECT_EQ(connect.description, prefix + e.description) << e.n;
    }
  };
  const std::string ssh_capability = "SSH is installed, but this build has not been granted live network access.";
  const std::string rdp = "RDP profiles are preserved, but this Vesk build has no RDP client backend.";
  const std::string ready = "This transport is ready to connect.";
  check({
      {1, vesk_actions::Unavailability{"live_session_capability_required", ssh_capability}, ssh_capability},
      {2, vesk_actions::Unavailability{"transport_backend_unavailable", rdp}, rdp},
      {3, std::nullopt, ready},
      {4,
       vesk_actions::Unavailability{"invalid_connection_profile",
                                    "Vesk device node must be an exact certified endpoint id."},
       invalid},
      {5, vesk_actions::Unavailability{"live_session_capability_required", ssh_capability}, ssh_capability},
  });
  setenv("REMOTE_LIVE_SESSIONS", "", 1);
  check({
      {1, std::nullopt, ready},
      {2, vesk_actions::Unavailability{"transport_backend_unavailable", rdp}, rdp},
      {5,
       vesk_actions::Unavailability{"invalid_connection_profile",
                                    "SSH profiles support password or public-key authentication."},
       invalid},
  });
}

TEST_F(ActionTree, SessionResourcePresence) {
  // Not in the in-memory list: no session resource, whatever the document holds.
  std::vector<SavedConnection> others(list.begin() + 1, list.end());
  auto absent = action_resources(document, others, LiveSessionSummary{id_n(1), true, std::nullopt});
  EXPECT_EQ(absent.front().children.size(), 5u);

  // Only in memory, with an empty name: present, last, titled from memory.
  SavedConnection fresh = make(9, "", "new.example", 22, ConnectionKind::Ssh, AuthKind::Password);
  std::vector<SavedConnection> memory = list;
  memory.push_back(fresh);
  auto tree = action_resources(document, memory, LiveSessionSummary{id_n(9), false, std::nullopt});
  ASSERT_EQ(tree.front().children.size(), 6u);
  const Resource& session = tree.front().children.back();
  EXPECT_EQ(session.id, "remote.session:" + id_n(9).to_string());
  EXPECT_EQ(session.kind, "remote.session");
  EXPECT_EQ(session.title, " session");

  // The in-memory name wins over the stored one.
  memory[0].name = "Alpha (edited)";
  auto renamed = action_resources(document, memory, LiveSessionSummary{id_n(1), false, std::nullopt});
  EXPECT_EQ(renamed.front().children.back().title, "Alpha (edited) session");
  EXPECT_EQ(renamed.front().children.front().title, "Alpha");
}

TEST_F(ActionTree, SessionActions) {
  const std::string id = id_n(1).to_string();
  ssh::HostKeyIdentity key{"ssh-ed25519", "SHA256:abcdef"};
  auto session_for = [&](bool connected, std::optional<ssh::HostKeyObservation> observation) {
    auto tree = action_resources(document, list, LiveSessionSummary{id_n(1), connected, std::move(observation)});
    return tree.front().children.back();
  };

  Resource connecting = session_for(false, std::nullopt);
  ASSERT_EQ(action_ids(connecting), (std::vector<std::string>{"disconnect", "send-text"}));
  const ActionSpec& disconnect = connecting.actions[0];
  EXPECT_EQ(disconnect.label, "Disconnect session");
  EXPECT_EQ(disconnect.contract, session_end_contract());
  EXPECT_EQ(disconnect.contract.settings, (std::array<std::uint8_t, 5>{0, 0, 0, 1, 3}));
  EXPECT_EQ(payload_of(disconnect), R"({"Disconnect":{"connection_id":")" + id + R"("}})");
  const ActionSpec& send = connecting.actions[1];
  EXPECT_EQ(send.label, "Send text to session");
  EXPECT_EQ(*send.contract.unavailable,
            (vesk_actions::Unavailability{"terminal_not_connected", "Text input requires a connected SSH terminal"}));
  EXPECT_EQ(send.input.hint, "command or text");
  EXPECT_EQ(
      send.parameters,
      (std::vector<vesk_actions::ActionParameter>{{"text", "Text to deliver to the connected SSH terminal", "text"}}));
  EXPECT_EQ(payload_of(send), R"({"SendText":{"connection_id":")" + id + R"(","text":""}})");
  EXPECT_EQ(payload_of(send, {{"text", "ls\n"}}), R"({"SendText":{"connection_id":")" + id + R"(","text":"ls\n"}})");
  EXPECT_EQ(send.invoke({}).kind, "remote.operation");

  Resource connected = session_for(true, std::nullopt);
  EXPECT_TRUE(connected.actions[1].is_available());
  EXPECT_EQ(connected.actions[1].contract, terminal_input_contract());

  Resource unknown = session_for(false, ssh::HostKeyObservation{ssh::UnknownHostKey{key}});
  ASSERT_EQ(action_ids(unknown), (std::vector<std::string>{"disconnect", "send-text", "trust-host-key"}));
  const ActionSpec& trust = unknown.actions[2];
  EXPECT_EQ(trust.label, "Trust SSH host key");
  EXPECT_EQ(trust.description,
            "Explicitly trust ssh-ed25519 SHA256:abcdef for this device only after out-of-band verification.");
  EXPECT_EQ(trust.contract, host_key_trust_contract());
  EXPECT_EQ(payload_of(trust), R"({"TrustSshHostKey":{"connection_id":")" + id +
                                   R"(","observed":{"algorithm":"ssh-ed25519","fingerprint":"SHA256:abcdef"}}})");

  Resource changed = session_for(false, ssh::HostKeyObservation{ssh::ChangedHostKey{key, {"ssh-rsa", "SHA256:x"}}});
  ASSERT_EQ(action_ids(changed), (std::vector<std::string>{"disconnect", "send-text", "forget-host-key"}));
  EXPECT_EQ(changed.actions[2].label, "Forget SSH host key");
  EXPECT_EQ(changed.actions[2].description,
            "Remove this device's stale SSH host-key pin; reconnect to inspect a replacement key.");
  EXPECT_EQ(changed.actions[2].contract, host_key_forget_contract());
  EXPECT_EQ(payload_of(changed.actions[2]), R"({"ForgetSshHostKey":{"connection_id":")" + id + R"("}})");

  Resource unavailable = session_for(false, ssh::HostKeyObservation{ssh::HostKeyStoreUnavailable{"no state dir"}});
  EXPECT_EQ(action_ids(unavailable), (std::vector<std::string>{"disconnect", "send-text"}));
}

TEST(NamedContracts, Values) {
  struct Case {
    ActionContract contract;
    std::vector<std::string> capabilities;
    std::uint8_t scope;
    std::uint8_t lifetime;
    std::uint8_t latency;
    std::array<std::uint8_t, 5> settings;
  };
  const Case cases[] = {
      {live_session_contract(), {"network", "session"}, 1, 6, 8, {0, 2, 0, 3, 1}},
      {session_end_contract(), {"network", "session"}, 0, 5, 5, {0, 0, 0, 1, 3}},
      {terminal_input_contract(), {"remote-input", "session"}, 1, 6, 8, {0, 2, 0, 3, 3}},
      {host_key_trust_contract(), {"ssh", "host-key", "device-private"}, 1, 6, 8, {0, 2, 0, 3, 3}},
      {host_key_forget_contract(), {"ssh", "host-key", "device-private"}, 1, 6, 8, {0, 2, 0, 2, 3}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.contract.capabilities, c.capabilities);
    EXPECT_EQ(c.contract.scope, c.scope);
    EXPECT_EQ(c.contract.lifetime.value, c.lifetime);
    EXPECT_FALSE(c.contract.lifetime.flag);
    EXPECT_EQ(c.contract.latency, c.latency);
    EXPECT_EQ(c.contract.settings, c.settings);
    EXPECT_FALSE(c.contract.unavailable);
  }
}

TEST(DecodeOperation, Outcomes) {
  auto bytes = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
  auto good = bytes(R"("ShowConnections")");
  EXPECT_TRUE(std::holds_alternative<NotAnOperation>(decode_operation("remote.action", good)));
  EXPECT_TRUE(std::holds_alternative<NotAnOperation>(decode_operation("remote.operations", good)));
  auto op = decode_operation("remote.operation", good);
  ASSERT_TRUE(std::holds_alternative<RemoteOperation>(op));
  EXPECT_EQ(std::get<RemoteOperation>(op), RemoteOperation(RemoteOperation::ShowConnections{}));
  auto bad = decode_operation("remote.operation", bytes(R"("EditConnection")"));
  ASSERT_TRUE(std::holds_alternative<std::string>(bad));
  EXPECT_EQ(std::get<std::string>(bad), "invalid type: unit variant, expected struct variant");
  auto empty = decode_operation("remote.operation", {});
  EXPECT_EQ(std::get<std::string>(empty), "EOF while parsing a value at line 1 column 0");
}

}  // namespace
}  // namespace remote::actions
