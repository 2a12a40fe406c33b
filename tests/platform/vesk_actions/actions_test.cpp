#include <gtest/gtest.h>

#include "platform/vesk_actions/context.hpp"
#include "platform/vesk_actions/executor.hpp"
#include "platform/vesk_actions/host.hpp"
#include "platform/vesk_actions/registry.hpp"
#include "platform/vesk_actions/resource.hpp"

namespace vesk_actions {
namespace {

using vesk_ui::doc::Document;
using vesk_ui::doc::ObjId;
using vesk_ui::doc::Scalar;

// Writes one counter-like value into the root map; counts its applications.
class PutAction final : public DocumentAction {
 public:
  PutAction(std::string key, std::int64_t value) : key_(std::move(key)), value_(value) {}

  std::expected<std::string, std::string> serialize() const {
    return "{\"Put\":{\"key\":\"" + key_ + "\",\"value\":" + std::to_string(value_) + "}}";
  }
  nlohmann::ordered_json to_json_value() const {
    return nlohmann::ordered_json{{"Put", {{"key", key_}, {"value", value_}}}};
  }
  std::string debug_text() const override { return "Put"; }
  std::expected<void, ActionError> apply(Document& doc) override {
    ++applied;
    if (fail) return std::unexpected(ActionError::apply("refused"));
    auto r = doc.put(ObjId::root(), key_, Scalar::int_(value_));
    if (!r) return std::unexpected(ActionError::apply(r.error().message));
    return {};
  }

  int applied = 0;
  bool fail = false;

 private:
  std::string key_;
  std::int64_t value_;
};

class Unencodable final : public DocumentAction {
 public:
  std::expected<std::string, std::string> serialize() const { return std::unexpected("no JSON form"); }
  std::string debug_text() const override { return "Unencodable"; }
  std::expected<void, ActionError> apply(Document&) override {
    ++applied;
    return {};
  }
  int applied = 0;
};

class FailingTransport final : public ActionTransport {
 public:
  std::expected<void, ActionError> replicate(const EncodedAction&, const std::optional<ActionContext>&) override {
    return std::unexpected(ActionError::transport("offline"));
  }
  bool is_local() const override { return false; }
};

TEST(HumanizeIdentifier, Labels) {
  const std::pair<std::string, std::string> cases[] = {
      {"SetFavorite", "Set favorite"},
      {"UpsertConnection", "Upsert connection"},
      {"DeleteConnection", "Delete connection"},
      {"setFavorite", "Set favorite"},
      {"upsert_connection", "Upsert connection"},
      {"remote.connect-failed", "Remote connect failed"},
      {"SSHKey", "SSH key"},
      {"TrustSshHostKey", "Trust ssh host key"},
      {"Update", "Update"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(humanize_identifier(in), out) << in;
}

TEST(ActionContextTest, LabelFromJsonValueAndEnrichment) {
  EXPECT_EQ(ActionContext::for_json_value(nlohmann::ordered_json("ShowConnections")).label, "Show connections");
  EXPECT_EQ(ActionContext::for_json_value(nlohmann::ordered_json{{"SetFavorite", {{"id", "x"}}}}).label,
            "Set favorite");
  EXPECT_EQ(ActionContext::for_json_value(nlohmann::ordered_json{{"a", 1}, {"b", 2}}).label, "Update");
  EXPECT_EQ(ActionContext::for_json_value(nlohmann::ordered_json::array()).label, "Update");
  EXPECT_EQ(ActionContext::for_json_value(nlohmann::ordered_json::parse("not json", nullptr, false)).label, "Update");

  ActionContext typed = ActionContext::for_typed_action("dev.example", "Example", PutAction("k", 1));
  EXPECT_EQ(typed.label, "Put");
  ASSERT_TRUE(typed.source);
  EXPECT_EQ(*typed.source, (ActionSource{"dev.example", "Example"}));

  ActionContext mine{"", std::nullopt, "asked", std::nullopt};
  ActionContext host{"Host", ActionSource{"h", "H"}, "other", "c-1"};
  ActionContext both = mine.enriched_by(host);
  EXPECT_EQ(both, (ActionContext{"Host", ActionSource{"h", "H"}, "asked", "c-1"}));
}

TEST(ActionSpecTest, BuildersAndContracts) {
  EXPECT_EQ(ActionContract::defaults_for(OperationKind::View).settings, (std::array<std::uint8_t, 5>{0, 0, 0, 0, 1}));
  EXPECT_EQ(ActionContract::defaults_for(OperationKind::Effect).settings, (std::array<std::uint8_t, 5>{0, 2, 0, 1, 3}));
  EXPECT_EQ(ActionContract::defaults_for(OperationKind::None).settings, (std::array<std::uint8_t, 5>{0, 2, 0, 1, 3}));
  ActionContract d = ActionContract::defaults_for(OperationKind::Effect);
  EXPECT_TRUE(d.capabilities.empty());
  EXPECT_FALSE(d.unavailable);
  EXPECT_EQ(d.scope, 0);
  EXPECT_EQ(d.lifetime.value, 5);
  EXPECT_EQ(d.latency, 5);

  auto typed = ActionSpec::typed_action("put", "Put", "demo.action", PutAction("k", 7));
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->operation_kind, OperationKind::None);
  EXPECT_FALSE(typed->operation_type);
  EncodedAction first = typed->invoke(ActionArgs{});
  EXPECT_EQ(first.kind, "demo.action");
  EXPECT_EQ(first.payload_text(), R"({"Put":{"key":"k","value":7}})");
  EXPECT_GE(EncodedAction::from_action("demo.action", PutAction("k", 7))->payload.capacity(), kPayloadReserve);
  EXPECT_EQ(typed->invoke(ActionArgs{{"value", "ignored"}}), first);

  auto op = ActionSpec::typed_operation("op", "Op", OperationKind::View, "demo.operation", PutAction("k", 1));
  ASSERT_TRUE(op);
  EXPECT_EQ(op->operation_kind, OperationKind::View);
  EXPECT_EQ(*op->operation_type, "demo.operation");
  EXPECT_EQ(op->contract, ActionContract::defaults_for(OperationKind::View));

  auto refused = ActionSpec::typed_action("bad", "Bad", "demo.action", Unencodable{});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, ActionError::Kind::Serialization);

  ActionSpec encoder = ActionSpec::operation_with_encoder(
      "send", "Send", OperationKind::Effect, "demo.operation", {ActionParameter{"text", "What to send"}}, "hint",
      [](const ActionArgs& args) { return EncodedAction::from_text("wrong.kind", args.text("text").value_or("")); });
  EncodedAction sent = encoder.invoke(ActionArgs{{"text", "hello"}});
  EXPECT_EQ(sent.kind, "demo.operation");
  EXPECT_EQ(sent.payload_text(), "hello");
  EXPECT_EQ(encoder.input.hint, "hint");
  ASSERT_EQ(encoder.input.parameters.size(), 1u);

  ActionSpec text = ActionSpec::text_input("rename", "Rename", "New name", "name", false, [](std::string value) {
    return EncodedAction::from_text("demo.action", "[" + value + "]");
  });
  EXPECT_EQ(text.invoke(ActionArgs{}).payload_text(), "[]");
  EXPECT_EQ(text.invoke(ActionArgs{{"value", "x"}}).payload_text(), "[x]");
  EXPECT_EQ(text.parameters, (std::vector<ActionParameter>{{"value", "New name", "text"}}));

  text.unavailable("a", "first").unavailable("b", "second").destructive().with_description("d");
  EXPECT_EQ(*text.contract.unavailable, (Unavailability{"b", "second"}));
  EXPECT_TRUE(text.is_destructive);
  EXPECT_EQ(*text.description, "d");
}

TEST(ResourceTest, FindsFirstMatchDepthFirst) {
  Resource root("root", "k", "Root");
  Resource a("a", "k", "A");
  a.with_children({Resource("dup", "k", "first")});
  root.with_children({std::move(a)});
  root.with_children({Resource("dup", "k", "second")});
  ASSERT_TRUE(root.find("dup"));
  EXPECT_EQ(root.find("dup")->title, "first");
  EXPECT_EQ(root.find("missing"), nullptr);
  EXPECT_EQ(root.children.size(), 2u);
}

TEST(ActionRegistryTest, RegisterReplacesEarlierDecoder) {
  ActionRegistry registry;
  EncodedAction encoded = EncodedAction::from_text("demo.action", "x");
  auto missing = registry.decode(encoded);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ActionError::Kind::UnknownNamespace);
  EXPECT_EQ(missing.error().to_string(), "no decoder registered for demo.action");

  registry.register_namespace("demo.action", [](std::span<const std::uint8_t>) {
    return std::expected<std::unique_ptr<DocumentAction>, ActionError>(std::make_unique<PutAction>("first", 1));
  });
  registry.register_namespace("demo.action", [](std::span<const std::uint8_t> bytes) {
    return std::expected<std::unique_ptr<DocumentAction>, ActionError>(
        std::make_unique<PutAction>("second", static_cast<std::int64_t>(bytes.size())));
  });
  auto decoded = registry.decode(encoded);
  ASSERT_TRUE(decoded);
  Document doc;
  ASSERT_TRUE((*decoded)->apply(doc));
  EXPECT_TRUE(doc.get(ObjId::root(), "second").value().has_value());
  EXPECT_FALSE(doc.get(ObjId::root(), "first").value().has_value());
}

TEST(ExecutorTest, AppliesOnceAndRecordsOneChangeWithProvenance) {
  Document doc;
  ASSERT_TRUE(doc.put(ObjId::root(), "earlier", Scalar::boolean(true)));  // left open on purpose
  PutAction action("k", 5);
  LocalTransport transport;
  ActionContext context{"Put value", ActionSource{"dev.example", "Example"}, std::nullopt, std::nullopt};
  auto outcome = dispatch_by_with_context(doc, action, EncodedAction::from_text("demo.action", "{}"), transport,
                                          doc.actor_bytes(), context);
  ASSERT_TRUE(outcome) << outcome.error().to_string();
  EXPECT_EQ(action.applied, 1);
  auto changes = doc.changes();
  ASSERT_EQ(changes.size(), 2u);  // the earlier edit, then the action
  EXPECT_EQ(parse_provenance(changes[0].message), std::nullopt);
  auto provenance = parse_provenance(changes[1].message);
  ASSERT_TRUE(provenance);
  EXPECT_EQ(*provenance, (Provenance{"demo.action", context}));
  EXPECT_EQ(outcome->change, changes[1].hash);
  EXPECT_EQ(outcome->heads_after, doc.get_heads());
  EXPECT_EQ(changes[1].op_count, 1u);

  // Without a context the change still names the payload kind.
  PutAction second("k", 6);
  ASSERT_TRUE(dispatch_by(doc, second, EncodedAction::from_text("demo.action", "{}"), transport, doc.actor_bytes()));
  EXPECT_EQ(parse_provenance(doc.changes().back().message), (Provenance{"demo.action", std::nullopt}));

  // An action that changes nothing records nothing.
  Unencodable noop;
  auto unchanged = dispatch_by(doc, noop, EncodedAction::from_text("demo.action", "{}"), transport, doc.actor_bytes());
  ASSERT_TRUE(unchanged);
  EXPECT_EQ(noop.applied, 1);
  EXPECT_EQ(unchanged->change, std::nullopt);
  EXPECT_EQ(doc.changes().size(), 3u);
}

TEST(ExecutorTest, ProvenanceOfClientTextNeverThrows) {
  Document doc;
  PutAction action("k", 1);
  LocalTransport transport;
  ActionContext context{"bad \xff label", ActionSource{"id", "\xc3"}, std::nullopt, std::nullopt};
  auto outcome = dispatch_by_with_context(doc, action, EncodedAction::from_text("demo.action", "{}"), transport,
                                          doc.actor_bytes(), context);
  ASSERT_TRUE(outcome);
  auto provenance = parse_provenance(doc.changes().back().message);
  ASSERT_TRUE(provenance && provenance->context);
  EXPECT_EQ(provenance->context->label, "bad \xef\xbf\xbd label");
}

TEST(ExecutorTest, FailuresAreReported) {
  Document doc;
  LocalTransport local;
  PutAction refusing("k", 1);
  refusing.fail = true;
  auto refused = dispatch_by(doc, refusing, EncodedAction::from_text("demo.action", "{}"), local, doc.actor_bytes());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().to_string(), "could not apply action: refused");
  EXPECT_TRUE(doc.changes().empty());

  PutAction action("k", 1);
  EXPECT_FALSE(dispatch_by(doc, action, EncodedAction::from_text("demo.action", "{}"), local, {1, 2, 3}));
  EXPECT_EQ(action.applied, 0);

  FailingTransport offline;
  auto unsent = dispatch_by(doc, action, EncodedAction::from_text("demo.action", "{}"), offline, doc.actor_bytes());
  ASSERT_FALSE(unsent);
  EXPECT_EQ(unsent.error().kind, ActionError::Kind::Transport);
}

TEST(ActionHostTest, PendingHeadsAndLastAction) {
  Document doc;
  ActionHost host;
  auto heads0 = doc.get_heads();
  PutAction first("a", 1);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", first, std::nullopt));
  auto heads1 = doc.get_heads();
  PutAction second("b", 2);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", second, std::nullopt));
  ASSERT_TRUE(host.last_action());
  EXPECT_EQ(host.last_action()->payload_text(), R"({"Put":{"key":"b","value":2}})");
  // Two dispatches before taking: the heads from before the first.
  EXPECT_EQ(host.take_pending_heads(), heads0);
  EXPECT_EQ(host.take_pending_heads(), std::nullopt);
  auto heads2 = doc.get_heads();
  EXPECT_NE(heads1, heads2);
  PutAction third("c", 3);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", third, std::nullopt));
  EXPECT_EQ(host.take_pending_heads(), heads2);
}

TEST(ActionHostTest, FailedDispatchChangesNothing) {
  Document doc;
  int calls = 0;
  ActionHost host([&](Document&, DocumentAction&, EncodedAction, ActionTransport&, std::vector<std::uint8_t>,
                      const std::optional<ActionContext>&) -> std::expected<DispatchOutcome, ActionError> {
    ++calls;
    return std::unexpected(ActionError::apply("executor down"));
  });
  PutAction action("a", 1);
  auto result = host.dispatch_typed_action(doc, "demo.action", action, std::nullopt);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().to_string(), "could not apply action: executor down");
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(host.pending_heads());
  EXPECT_FALSE(host.last_action());

  // An action that cannot be encoded never reaches the executor.
  Unencodable bad;
  ActionHost normal;
  auto unencoded = normal.dispatch_typed_action(doc, "demo.action", bad, std::nullopt);
  ASSERT_FALSE(unencoded);
  EXPECT_EQ(unencoded.error().kind, ActionError::Kind::Serialization);
  EXPECT_EQ(bad.applied, 0);
  EXPECT_FALSE(normal.pending_heads());
}

TEST(ActionHostTest, ContextChoiceAndBracket) {
  Document doc;
  std::optional<ActionContext> seen;
  ActionHost host([&](Document& d, DocumentAction& a, EncodedAction e, ActionTransport& t,
                      std::vector<std::uint8_t> actor,
                      const std::optional<ActionContext>& c) -> std::expected<DispatchOutcome, ActionError> {
    seen = c;
    if (c) return dispatch_by_with_context(d, a, std::move(e), t, std::move(actor), *c);
    return dispatch_by(d, a, std::move(e), t, std::move(actor));
  });
  PutAction a("a", 1);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", a, std::nullopt));
  EXPECT_EQ(seen, std::nullopt);

  host.set_context(ActionContext{"Own", ActionSource{"own", "Own"}, std::nullopt, "c-9"});
  PutAction b("b", 1);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", b, std::nullopt));
  EXPECT_EQ(seen->label, "Own");
  PutAction c("c", 1);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", c,
                                         ActionContext{"Given", std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(*seen, (ActionContext{"Given", ActionSource{"own", "Own"}, std::nullopt, "c-9"}));

  // A bracketing framework supplies the before heads and is told after.
  Heads fake{vesk_ui::doc::ChangeHash{}};
  int reports = 0;
  host.set_bracket(DispatchBracket{[&](Document&) { return std::optional<Heads>(fake); },
                                   [&](Document& d, const Heads& before, const Heads& after) {
                                     ++reports;
                                     EXPECT_EQ(before, fake);
                                     EXPECT_EQ(after, d.get_heads());
                                   }});
  host.take_pending_heads();
  PutAction e("e", 1);
  ASSERT_TRUE(host.dispatch_typed_action(doc, "demo.action", e, std::nullopt));
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(host.take_pending_heads(), fake);
}

}  // namespace
}  // namespace vesk_actions
