#include "platform/vesk_actions/executor.hpp"

#include <nlohmann/json.hpp>

namespace vesk_actions {

namespace {

using vesk_ui::doc::Document;

std::expected<DispatchOutcome, ActionError> run(Document& document, DocumentAction& action,
                                                const EncodedAction& encoded, ActionTransport& transport,
                                                const std::vector<std::uint8_t>& actor,
                                                const std::optional<ActionContext>& context) {
  auto actor_id = vesk_ui::doc::ActorId::from_bytes(actor);
  if (!actor_id) return std::unexpected(ActionError::apply("invalid actor id: " + actor_id.error().message));

  // Earlier edits get their own change; this action's change holds only
  // what the action did.
  document.commit();
  if (document.actor() != *actor_id) document.set_actor(*actor_id);

  if (auto applied = action.apply(document); !applied) return std::unexpected(applied.error());

  DispatchOutcome outcome;
  if (document.pending_ops() > 0) {
    document.commit(provenance_message(Provenance{encoded.kind, context}));
    auto changes = document.changes();
    if (!changes.empty()) outcome.change = changes.back().hash;
  }
  if (!action.is_ephemeral()) {
    if (auto sent = transport.replicate(encoded, context); !sent) return std::unexpected(sent.error());
  }
  outcome.heads_after = document.get_heads();
  return outcome;
}

}  // namespace

std::string provenance_message(const Provenance& p) {
  nlohmann::ordered_json j;
  j["kind"] = p.payload_kind;
  if (p.context) {
    const ActionContext& c = *p.context;
    j["label"] = c.label;
    if (c.source) j["source"] = {{"identifier", c.source->identifier}, {"name", c.source->name}};
    if (c.reason) j["reason"] = *c.reason;
    if (c.correlation) j["correlation"] = *c.correlation;
  }
  // Texts from clients are not trusted to be UTF-8; replace, never throw.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<Provenance> parse_provenance(std::string_view message) {
  auto j = nlohmann::json::parse(message, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  auto kind = j.find("kind");
  if (kind == j.end() || !kind->is_string()) return std::nullopt;
  Provenance p;
  p.payload_kind = kind->get<std::string>();
  auto label = j.find("label");
  if (label != j.end() && label->is_string()) {
    ActionContext c;
    c.label = label->get<std::string>();
    auto source = j.find("source");
    if (source != j.end() && source->is_object()) {
      ActionSource s;
      if (auto id = source->find("identifier"); id != source->end() && id->is_string()) {
        s.identifier = id->get<std::string>();
      }
      if (auto name = source->find("name"); name != source->end() && name->is_string()) {
        s.name = name->get<std::string>();
      }
      c.source = s;
    }
    if (auto r = j.find("reason"); r != j.end() && r->is_string()) c.reason = r->get<std::string>();
    if (auto r = j.find("correlation"); r != j.end() && r->is_string()) c.correlation = r->get<std::string>();
    p.context = c;
  }
  return p;
}

std::expected<DispatchOutcome, ActionError> dispatch_by_with_context(Document& document, DocumentAction& action,
                                                                     EncodedAction encoded, ActionTransport& transport,
                                                                     std::vector<std::uint8_t> actor,
                                                                     ActionContext context) {
  return run(document, action, encoded, transport, actor, std::optional<ActionContext>(std::move(context)));
}

std::expected<DispatchOutcome, ActionError> dispatch_by(Document& document, DocumentAction& action,
                                                        EncodedAction encoded, ActionTransport& transport,
                                                        std::vector<std::uint8_t> actor) {
  return run(document, action, encoded, transport, actor, std::nullopt);
}

}  // namespace vesk_actions
