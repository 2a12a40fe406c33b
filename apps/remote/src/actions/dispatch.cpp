#include "apps/remote/src/actions/dispatch.hpp"

#include <spdlog/spdlog.h>

namespace remote::actions {

vesk_actions::ActionContext context_for(const RemoteAction& action) {
  return vesk_actions::ActionContext::for_typed_action(kAppIdentifier, kAppName, action);
}

void warn_dispatch_failed(const vesk_actions::ActionError& error, std::string_view payload_kind) {
  spdlog::warn("action dispatch failed error=\"{}\" kind={}", error.to_string(), payload_kind);
}

std::expected<void, vesk_actions::ActionError> dispatch_with_context(vesk_actions::ActionHost& host,
                                                                     vesk_ui::doc::Document& document,
                                                                     std::string_view payload_kind,
                                                                     RemoteAction& action,
                                                                     vesk_actions::ActionContext context) {
  auto result = host.dispatch_typed_action(document, payload_kind, action, std::move(context));
  if (!result) warn_dispatch_failed(result.error(), payload_kind);
  return result;
}

}  // namespace remote::actions
