#include "platform/vesk_actions/host.hpp"

namespace vesk_actions {

namespace {

std::expected<DispatchOutcome, ActionError> standard_executor(vesk_ui::doc::Document& document, DocumentAction& action,
                                                              EncodedAction encoded, ActionTransport& transport,
                                                              std::vector<std::uint8_t> actor,
                                                              const std::optional<ActionContext>& context) {
  if (context) {
    return dispatch_by_with_context(document, action, std::move(encoded), transport, std::move(actor), *context);
  }
  return dispatch_by(document, action, std::move(encoded), transport, std::move(actor));
}

}  // namespace

ActionHost::ActionHost() : executor_(standard_executor) {}

ActionHost::ActionHost(Executor executor) : executor_(std::move(executor)) {}

std::expected<void, ActionError> ActionHost::dispatch(vesk_ui::doc::Document& document, DocumentAction& action,
                                                      EncodedAction encoded, std::optional<ActionContext> context) {
  std::optional<Heads> bracketed;
  if (bracket_.before) bracketed = bracket_.before(document);
  Heads before = bracketed ? *bracketed : document.get_heads();
  std::vector<std::uint8_t> actor = document.actor_bytes();

  std::optional<ActionContext> chosen;
  if (!own_context_) {
    chosen = std::move(context);
  } else if (!context) {
    chosen = own_context_;
  } else {
    chosen = context->enriched_by(*own_context_);
  }

  LocalTransport transport;
  auto outcome = executor_(document, action, encoded, transport, std::move(actor), chosen);
  if (!outcome) return std::unexpected(std::move(outcome.error()));

  if (bracketed && bracket_.report) bracket_.report(document, *bracketed, document.get_heads());
  if (!pending_heads_) pending_heads_ = std::move(before);
  last_action_ = std::move(encoded);
  return {};
}

std::optional<Heads> ActionHost::take_pending_heads() {
  std::optional<Heads> out = std::move(pending_heads_);
  pending_heads_.reset();
  return out;
}

}  // namespace vesk_actions
