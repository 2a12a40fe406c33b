// Typed dispatch of document actions raised by the user interface.
#pragma once

#include <expected>
#include <string_view>

#include "apps/remote/src/actions/remote_action.hpp"
#include "platform/vesk_actions/context.hpp"
#include "platform/vesk_actions/host.hpp"
#include "platform/vesk_ui/document/document.hpp"

namespace remote::actions {

// Source of the application's own dispatches.
inline constexpr std::string_view kAppIdentifier = "dev.vesk.remote";
inline constexpr std::string_view kAppName = "Remote";

// Labelled by the variant ("Set favorite"), with the application as source.
vesk_actions::ActionContext context_for(const RemoteAction& action);

// Logs "action dispatch failed" with the error and the payload kind.
void warn_dispatch_failed(const vesk_actions::ActionError& error, std::string_view payload_kind);

// Dispatches through the host. A failure is logged as a warning and also
// returned, so that the caller can tell the user the change was not stored.
[[nodiscard]] std::expected<void, vesk_actions::ActionError> dispatch_with_context(vesk_actions::ActionHost& host,
                                                                                   vesk_ui::doc::Document& document,
                                                                                   std::string_view payload_kind,
                                                                                   RemoteAction& action,
                                                                                   vesk_actions::ActionContext context);

}  // namespace remote::actions
