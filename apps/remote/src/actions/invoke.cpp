#include "apps/remote/src/actions/invoke.hpp"

#include <nlohmann/json.hpp>

#include "apps/remote/src/actions/dispatch.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::actions {

namespace {

std::unexpected<InvocationError> refuse(std::string code, std::string message) {
  return std::unexpected(InvocationError{std::move(code), std::move(message)});
}

}  // namespace

std::expected<Invocation, InvocationError> invoke_action(InvocationEnv& env, std::string_view resource_id,
                                                         std::string_view action_id,
                                                         const vesk_actions::ActionArgs& args) {
  // Argument texts end up in JSON payloads and in the document; anything
  // that is not UTF-8 is refused here, before any handler sees it.
  for (const auto& [name, value] : args.entries()) {
    if (!vesk_ui::utf8::is_valid(name)) return refuse("invalid_argument", "argument names must be valid UTF-8 text");
    if (!vesk_ui::utf8::is_valid(value)) {
      return refuse("invalid_argument", "argument \"" + name + "\" is not valid UTF-8 text");
    }
  }
  if (!vesk_ui::utf8::is_valid(resource_id) || !vesk_ui::utf8::is_valid(action_id)) {
    return refuse("invalid_argument", "action ids must be valid UTF-8 text");
  }

  std::vector<Resource> tree = action_resources(env.document, env.connections, env.live_session);
  const Resource* resource = nullptr;
  for (const auto& root : tree) {
    if ((resource = root.find(resource_id))) break;
  }
  if (!resource) return refuse("unknown_resource", "no resource " + std::string(resource_id));
  const ActionSpec* action_spec = resource->find_action(action_id);
  if (!action_spec) {
    return refuse("unknown_action", "no action " + std::string(action_id) + " on " + std::string(resource_id));
  }
  if (action_spec->contract.unavailable) {
    return refuse(action_spec->contract.unavailable->reason_code, action_spec->contract.unavailable->message);
  }

  if (auto refusal = action_spec->check_arguments(args)) {
    return refuse(std::move(refusal->reason_code), std::move(refusal->message));
  }

  EncodedAction encoded = action_spec->invoke(args);

  if (action_spec->operation_kind == OperationKind::None) {
    auto action = env.registry.decode(encoded);
    if (!action) return refuse("decode_failed", action.error().to_string());
    // Labelled like a typed dispatch of the same action.
    auto value = nlohmann::ordered_json::parse(encoded.payload_text(), nullptr, false);
    vesk_actions::ActionContext context = vesk_actions::ActionContext::for_json_value(value);
    context.source =
        env.client ? *env.client : vesk_actions::ActionSource{std::string(kAppIdentifier), std::string(kAppName)};
    auto dispatched = env.host.dispatch(env.document, **action, encoded, std::move(context));
    if (!dispatched) {
      warn_dispatch_failed(dispatched.error(), encoded.kind);
      return refuse("dispatch_failed", dispatched.error().to_string());
    }
    return Invocation{Invocation::Route::DocumentAction, std::move(encoded)};
  }

  if (!env.operations) return refuse("operations_unavailable", "operations are not served here");
  auto ran = env.operations->run_operation(action_spec->operation_kind, encoded);
  if (!ran) return refuse("operation_failed", std::move(ran.error()));
  return Invocation{Invocation::Route::Operation, std::move(encoded)};
}

}  // namespace remote::actions
