// One application's door to the executor: encodes and dispatches document
// actions and keeps the bookkeeping the framework asks for afterwards (the
// heads from before the first dispatch since they were last taken, and the
// last action dispatched).
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/vesk_actions/context.hpp"
#include "platform/vesk_actions/encoded_action.hpp"
#include "platform/vesk_actions/executor.hpp"
#include "platform/vesk_actions/registry.hpp"
#include "platform/vesk_ui/document/document.hpp"

namespace vesk_actions {

using Heads = std::vector<vesk_ui::doc::ChangeHash>;

// Hooks of a framework that brackets typed dispatches (for example to group
// them with a user gesture). Both may be left empty.
struct DispatchBracket {
  // Heads to record as "before" instead of the document's current heads.
  std::function<std::optional<Heads>(vesk_ui::doc::Document&)> before;
  // Called after a successful dispatch when `before` gave heads.
  std::function<void(vesk_ui::doc::Document&, const Heads& before, const Heads& after)> report;
};

class ActionHost {
 public:
  using Executor = std::function<std::expected<DispatchOutcome, ActionError>(
      vesk_ui::doc::Document&, DocumentAction&, EncodedAction, ActionTransport&, std::vector<std::uint8_t>,
      const std::optional<ActionContext>&)>;

  // The standard executor (dispatch_by_with_context / dispatch_by).
  ActionHost();
  // Another executor, for instance one that refuses, in tests.
  explicit ActionHost(Executor executor);

  void set_bracket(DispatchBracket bracket) { bracket_ = std::move(bracket); }
  // A context that enriches every dispatch.
  void set_context(std::optional<ActionContext> context) { own_context_ = std::move(context); }

  // Dispatches an already encoded document action.
  std::expected<void, ActionError> dispatch(vesk_ui::doc::Document& document, DocumentAction& action,
                                            EncodedAction encoded, std::optional<ActionContext> context);

  // Encodes `action` under `kind` and dispatches it. Nothing happens when
  // encoding fails.
  template <class T>
  requires JsonEncodable<T> && std::derived_from<T, DocumentAction> std::expected<void, ActionError>
  dispatch_typed_action(vesk_ui::doc::Document& document, std::string_view kind, T& action,
                        std::optional<ActionContext> context) {
    auto encoded = EncodedAction::from_action(kind, action);
    if (!encoded) return std::unexpected(std::move(encoded.error()));
    return dispatch(document, action, std::move(*encoded), std::move(context));
  }

  // The heads from before the first dispatch since the last take; leaves none.
  std::optional<Heads> take_pending_heads();
  const std::optional<Heads>& pending_heads() const { return pending_heads_; }
  const std::optional<EncodedAction>& last_action() const { return last_action_; }

 private:
  Executor executor_;
  DispatchBracket bracket_;
  std::optional<Heads> pending_heads_;
  std::optional<EncodedAction> last_action_;
  std::optional<ActionContext> own_context_;
};

}  // namespace vesk_actions
