#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <sstream>

#include "apps/remote/src/actions/dispatch.hpp"
#include "apps/remote/src/actions/invoke.hpp"
#include "apps/remote/src/actions/registration.hpp"
#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/store.hpp"

namespace remote::actions {
namespace {

using vesk_actions::ActionContext;
using vesk_actions::ActionError;
using vesk_actions::ActionHost;
using vesk_actions::ActionRegistry;
using vesk_actions::ActionSource;
using vesk_ui::doc::Document;

const Uuid kA = *Uuid::parse("00000000-0000-4000-8000-00000000000a");
const Uuid kB = *Uuid::parse("00000000-0000-4000-8000-00000000000b");

SavedConnection stored(const Uuid& id, std::string name) {
  SavedConnection c;
  c.id = id;
  c.name = std::move(name);
  c.host = "h.example";
  c.port = 22;
  c.user = "me";
  c.last_used = "yesterday";
  c.presence = Presence::Online;
  c.group = "lab";
  c.favorite = true;
  return c;
}

// Collects what the application logs.
class LogCapture {
 public:
  LogCapture() : previous_(spdlog::default_logger()) {
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
    sink->set_pattern("%l %v");
    spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", sink));
  }
  ~LogCapture() { spdlog::set_default_logger(previous_); }
  std::string text() const { return out_.str(); }

 private:
  std::ostringstream out_;
  std::shared_ptr<spdlog::logger> previous_;
};

ActionHost failing_host() {
  return ActionHost(
      [](Document&, vesk_actions::DocumentAction&, vesk_actions::EncodedAction, vesk_actions::ActionTransport&,
         std::vector<std::uint8_t>,
         const std::optional<ActionContext>&) -> std::expected<vesk_actions::DispatchOutcome, ActionError> {
        return std::unexpected(ActionError::apply("disk full"));
      });
}

TEST(RemoteActionApply, UpsertKeepsTheDocumentsOwnFields) {
  Document doc;
  doc::write_connection(doc, stored(kA, "Old"));

  // Known id: the eight carried fields change, favourite, presence and
  // last use stay.
  RemoteAction upsert =
      RemoteAction::UpsertConnection{kA, "New", "n.example", 2222, "root", ConnectionKind::Vnc, AuthKind::Password, ""};
  ASSERT_TRUE(upsert.apply(doc));
  auto after = doc::load_connections(doc);
  ASSERT_EQ(after.size(), 1u);
  SavedConnection expected = stored(kA, "New");
  expected.host = "n.example";
  expected.port = 2222;
  expected.user = "root";
  expected.kind = ConnectionKind::Vnc;
  expected.group = "";
  EXPECT_EQ(after[0], expected);

  // The same upsert again writes nothing.
  doc.commit();
  std::size_t changes = doc.changes().size();
  ASSERT_TRUE(upsert.apply(doc));
  EXPECT_EQ(doc.pending_ops(), 0u);
  EXPECT_EQ(doc.changes().size(), changes);

  // Unknown id: created with the defaults, whatever the caller's record says.
  RemoteAction create =
      RemoteAction::UpsertConnection{kB, "B", "b", 22, "", ConnectionKind::Ssh, AuthKind::PublicKey, "g"};
  ASSERT_TRUE(create.apply(doc));
  auto both = doc::load_connections(doc);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[1].id, kB);
  EXPECT_EQ(both[1].last_used, "Never");
  EXPECT_EQ(both[1].presence, Presence::Unknown);
  EXPECT_FALSE(both[1].favorite);
  EXPECT_EQ(both[1].auth, AuthKind::PublicKey);
}

TEST(RemoteActionApply, ChangesOfOneField) {
  Document doc;
  doc::write_connection(doc, stored(kA, "Old"));
  ASSERT_TRUE(RemoteAction::rename(kA, "Renamed").apply(doc));
  ASSERT_TRUE(RemoteAction(RemoteAction::SetFavorite{kA, false}).apply(doc));
  auto list = doc::load_connections(doc);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "Renamed");
  EXPECT_FALSE(list[0].favorite);

  // An id the document does not hold: nothing is created, and all succeed.
  ASSERT_TRUE(RemoteAction::rename(kB, "Ghost").apply(doc));
  ASSERT_TRUE(RemoteAction(RemoteAction::SetFavorite{kB, true}).apply(doc));
  ASSERT_TRUE(RemoteAction(RemoteAction::DeleteConnection{kB}).apply(doc));
  EXPECT_EQ(doc::load_connections(doc).size(), 1u);

  ASSERT_TRUE(RemoteAction(RemoteAction::DeleteConnection{kA}).apply(doc));
  EXPECT_TRUE(doc::load_connections(doc).empty());
}

// Actions the document refuses fail as apply errors and leave it as it was.
TEST(RemoteActionApply, RefusedWritesAreErrors) {
  struct Row {
    const char* what;
    RemoteAction action;
    const char* message;
  };
  const Row rows[] = {
      {"upsert, name",
       RemoteAction::UpsertConnection{kA, "\xff", "h", 22, "", ConnectionKind::Ssh, AuthKind::Password, ""},
       "name is not valid UTF-8"},
      {"upsert, host",
       RemoteAction::UpsertConnection{kA, "A", "h\xc3", 22, "", ConnectionKind::Ssh, AuthKind::Password, ""},
       "host is not valid UTF-8"},
      {"upsert, user",
       RemoteAction::UpsertConnection{kA, "A", "h", 22, "\xed\xa0\x80", ConnectionKind::Ssh, AuthKind::Password, ""},
       "user is not valid UTF-8"},
      {"upsert of a new id, group",
       RemoteAction::UpsertConnection{kB, "B", "h", 22, "", ConnectionKind::Ssh, AuthKind::Password, "\xc0\x80"},
       "group is not valid UTF-8"},
      {"rename", RemoteAction::rename(kA, "\xfe"), "name is not valid UTF-8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Document doc;
    doc::write_connection(doc, stored(kA, "Old"));
    doc.commit();
    const auto heads = doc.get_heads();
    RemoteAction action = row.action;
    const auto applied = action.apply(doc);
    ASSERT_FALSE(applied);
    EXPECT_EQ(applied.error().kind, ActionError::Kind::Apply);
    EXPECT_EQ(applied.error().message, row.message);
    EXPECT_EQ(doc.pending_ops(), 0u);
    EXPECT_EQ(doc.get_heads(), heads);
    EXPECT_EQ(doc::load_connections(doc), std::vector<SavedConnection>{stored(kA, "Old")});
  }
}

TEST(RemoteActionRegistration, DecoderIsRegisteredAndReplaced) {
  ActionRegistry registry;
  register_actions(registry);
  register_actions(registry);
  ASSERT_TRUE(registry.contains("remote.action"));

  auto encoded = encode_action(RemoteAction(RemoteAction::SetFavorite{kA, true}));
  EXPECT_EQ(encoded.kind, "remote.action");
  auto decoded = registry.decode(encoded);
  ASSERT_TRUE(decoded) << decoded.error().to_string();
  EXPECT_EQ((*decoded)->debug_text(), "SetFavorite { id: " + kA.to_string() + ", favorite: true }");
  EXPECT_FALSE((*decoded)->is_ephemeral());

  auto bare = registry.decode(vesk_actions::EncodedAction::from_text("remote.action", R"("SetFavorite")"));
  ASSERT_FALSE(bare);
  EXPECT_EQ(bare.error().kind, ActionError::Kind::Decode);
  EXPECT_EQ(bare.error().payload_kind, "remote.action");
  EXPECT_EQ(bare.error().message, "invalid type: unit variant, expected struct variant");
  EXPECT_FALSE(decode_remote_action({}));
}

TEST(RemoteActionRegistration, UpsertOfARecord) {
  SavedConnection c = stored(kA, "A");
  EXPECT_EQ(to_upsert_action(c), RemoteAction(RemoteAction::UpsertConnection{
                                     kA, "A", "h.example", 22, "me", ConnectionKind::Ssh, AuthKind::Password, "lab"}));
}

TEST(RemoteDispatch, RecordsProvenanceAndPendingHeads) {
  Document doc;
  doc::write_connection(doc, stored(kA, "A"));
  ActionHost host;
  auto before = doc.get_heads();

  RemoteAction favorite = RemoteAction::SetFavorite{kA, false};
  ActionContext context = context_for(favorite);
  EXPECT_EQ(context.label, "Set favorite");
  ASSERT_TRUE(dispatch_with_context(host, doc, "remote.action", favorite, context));

  auto change = doc.changes().back();
  auto provenance = vesk_actions::parse_provenance(change.message);
  ASSERT_TRUE(provenance && provenance->context);
  EXPECT_EQ(provenance->payload_kind, "remote.action");
  EXPECT_EQ(provenance->context->label, "Set favorite");
  EXPECT_EQ(provenance->context->source, (ActionSource{"dev.vesk.remote", "Remote"}));
  EXPECT_FALSE(doc::load_connections(doc)[0].favorite);
  ASSERT_TRUE(host.last_action());
  EXPECT_EQ(host.last_action()->payload_text(), *favorite.serialize());

  RemoteAction rename = RemoteAction::rename(kA, "B");
  ASSERT_TRUE(dispatch_with_context(host, doc, "remote.action", rename, context_for(rename)));
  EXPECT_EQ(vesk_actions::parse_provenance(doc.changes().back().message)->context->label, "Rename connection");
  EXPECT_EQ(host.take_pending_heads(), before);

  auto middle = doc.get_heads();
  RemoteAction del = RemoteAction::DeleteConnection{kA};
  ASSERT_TRUE(dispatch_with_context(host, doc, "remote.action", del, context_for(del)));
  EXPECT_EQ(host.take_pending_heads(), middle);
  EXPECT_TRUE(doc::load_connections(doc).empty());
}

TEST(RemoteDispatch, FailureIsLoggedAndReturned) {
  LogCapture log;
  Document doc;
  doc::write_connection(doc, stored(kA, "A"));
  ActionHost host = failing_host();
  RemoteAction favorite = RemoteAction::SetFavorite{kA, false};
  auto result = dispatch_with_context(host, doc, "remote.action", favorite, context_for(favorite));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().to_string(), "could not apply action: disk full");
  EXPECT_EQ(log.text(),
            "warning action dispatch failed error=\"could not apply action: disk full\" kind=remote.action\n");
  EXPECT_FALSE(host.pending_heads());
  EXPECT_FALSE(host.last_action());
  EXPECT_TRUE(doc::load_connections(doc)[0].favorite);
}

TEST(RemoteDispatch, UnserializableTextIsRefusedNotFatal) {
  LogCapture log;
  Document doc;
  ActionHost host;
  RemoteAction bad = RemoteAction::rename(kA, "\xff");
  auto result = dispatch_with_context(host, doc, "remote.action", bad, context_for(bad));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ActionError::Kind::Serialization);
  EXPECT_NE(log.text().find("action dispatch failed"), std::string::npos);
}

// Operations handed back by invoked actions.
class RecordingSink final : public OperationSink {
 public:
  std::expected<void, std::string> run_operation(OperationKind declared,
                                                 const vesk_actions::EncodedAction& encoded) override {
    runs.emplace_back(declared, std::string(encoded.payload_text()));
    if (refuse) return std::unexpected("saved connection no longer exists");
    return {};
  }
  std::vector<std::pair<OperationKind, std::string>> runs;
  bool refuse = false;
};

class Invoking : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("REMOTE_LIVE_SESSIONS");
    register_actions(registry);
    memory = {stored(kA, "A")};
    doc::write_connection(document, memory[0]);
  }

  InvocationEnv env(ActionHost& h, OperationSink* sink = nullptr) {
    return InvocationEnv{document, memory, session, registry, h, sink, ActionSource{"dev.example.client", "Client"}};
  }

  Document document;
  std::vector<SavedConnection> memory;
  std::optional<LiveSessionSummary> session;
  ActionRegistry registry;
  ActionHost host;
};

TEST_F(Invoking, DocumentActionIsDecodedAndDispatched) {
  auto e = env(host);
  const std::string resource = "remote.connection:" + kA.to_string();
  auto renamed = invoke_action(e, resource, "rename", {{"value", "Renamed"}});
  ASSERT_TRUE(renamed) << renamed.error().message;
  EXPECT_EQ(renamed->route, Invocation::Route::DocumentAction);
  EXPECT_EQ(doc::load_connections(document)[0].name, "Renamed");
  auto provenance = vesk_actions::parse_provenance(document.changes().back().message);
  ASSERT_TRUE(provenance && provenance->context);
  EXPECT_EQ(provenance->context->label, "Rename connection");
  EXPECT_EQ(provenance->context->source, (ActionSource{"dev.example.client", "Client"}));
  EXPECT_TRUE(host.pending_heads());

  // The favourite action is built from the flag at the time of the request.
  ASSERT_TRUE(invoke_action(e, resource, "favorite", {}));
  EXPECT_FALSE(doc::load_connections(document)[0].favorite);
  ASSERT_TRUE(invoke_action(e, resource, "favorite", {}));
  EXPECT_TRUE(doc::load_connections(document)[0].favorite);
}

TEST_F(Invoking, Refusals) {
  RecordingSink sink;
  auto e = env(host, &sink);
  const std::string resource = "remote.connection:" + kA.to_string();
  struct Case {
    std::string resource;
    std::string action;
    vesk_actions::ActionArgs args;
    InvocationError expected;
  };
  const Case cases[] = {
      {resource,
       "connect",
       {},
       {"live_session_capability_required",
        "SSH is installed, but this build has not been granted live network access."}},
      {resource,
       "rename",
       {{"value", "bad \xc3("}},
       {"invalid_argument", "argument \"value\" is not valid UTF-8 text"}},
      {resource, "rename", {{"\xff", "x"}}, {"invalid_argument", "argument names must be valid UTF-8 text"}},
      {"remote.connection:nope", "open", {}, {"unknown_resource", "no resource remote.connection:nope"}},
      {resource, "launch", {}, {"unknown_action", "no action launch on " + resource}},
      // A name the form could not save is not stored either.
      {resource, "rename", {}, {"remote.name_required", "Name is required"}},
      {resource, "rename", {{"value", " \t\u3000"}}, {"remote.name_required", "Name is required"}},
      {resource,
       "rename",
       {{"value", std::string(10 << 20, 'x')}},
       {"remote.name_too_long", "Name must be at most 1,024 bytes"}},
      {resource,
       "rename",
       {{"value", std::string(kMaxFieldBytes - 1, 'x') + "\u00e9"}},
       {"remote.name_too_long", "Name must be at most 1,024 bytes"}},
  };
  const auto heads = document.get_heads();
  for (const auto& c : cases) {
    auto result = invoke_action(e, c.resource, c.action, c.args);
    ASSERT_FALSE(result) << c.action;
    EXPECT_EQ(result.error(), c.expected) << c.action;
  }
  EXPECT_TRUE(sink.runs.empty());
  EXPECT_EQ(doc::load_connections(document)[0].name, "A");
  EXPECT_EQ(document.get_heads(), heads);
  // At the limit, to the byte, the name is taken.
  const std::string at_limit = std::string(kMaxFieldBytes - 2, 'x') + "\u00e9";
  ASSERT_TRUE(invoke_action(e, resource, "rename", {{"value", at_limit}}));
  EXPECT_EQ(doc::load_connections(document)[0].name, at_limit);
}

TEST_F(Invoking, OperationsGoToTheSink) {
  RecordingSink sink;
  auto e = env(host, &sink);
  auto shown = invoke_action(e, "remote.connections", "open", {});
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->route, Invocation::Route::Operation);
  ASSERT_EQ(sink.runs.size(), 1u);
  EXPECT_EQ(sink.runs[0], (std::pair<OperationKind, std::string>{OperationKind::View, R"("ShowConnections")"}));

  setenv("REMOTE_LIVE_SESSIONS", "1", 1);
  sink.refuse = true;
  auto failed = invoke_action(e, "remote.connection:" + kA.to_string(), "connect", {});
  unsetenv("REMOTE_LIVE_SESSIONS");
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), (InvocationError{"operation_failed", "saved connection no longer exists"}));
  EXPECT_EQ(sink.runs.back().first, OperationKind::Effect);

  // The session's send-text reads its argument; the in-memory list decides
  // whether the session resource exists.
  sink.refuse = false;
  session = LiveSessionSummary{kA, true, std::nullopt};
  auto with_session = env(host, &sink);
  ASSERT_TRUE(invoke_action(with_session, "remote.session:" + kA.to_string(), "send-text", {{"text", "uptime\n"}}));
  EXPECT_EQ(sink.runs.back().second, R"({"SendText":{"connection_id":")" + kA.to_string() + R"(","text":"uptime\n"}})");

  auto no_sink = env(host);
  auto refused = invoke_action(no_sink, "remote.connections", "new", {});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code, "operations_unavailable");
}

TEST_F(Invoking, FailedDispatchIsReported) {
  LogCapture log;
  ActionHost broken = failing_host();
  auto e = env(broken);
  auto result = invoke_action(e, "remote.connection:" + kA.to_string(), "delete", {});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), (InvocationError{"dispatch_failed", "could not apply action: disk full"}));
  EXPECT_NE(log.text().find("action dispatch failed"), std::string::npos);
  EXPECT_EQ(doc::load_connections(document).size(), 1u);
}

}  // namespace
}  // namespace remote::actions
