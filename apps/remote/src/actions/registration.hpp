// The decoder of "remote.action" payloads and the action of a saved form.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "apps/remote/src/actions/remote_action.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "platform/vesk_actions/registry.hpp"

namespace remote::actions {

// Registers the "remote.action" decoder, replacing an earlier one.
void register_actions(vesk_actions::ActionRegistry& registry);

// Payload bytes to a boxed RemoteAction, or the decode error with the kind
// and the reader's message.
std::expected<std::unique_ptr<vesk_actions::DocumentAction>, vesk_actions::ActionError> decode_remote_action(
    std::span<const std::uint8_t> payload);

// The upsert of a record: the eight fields the form edits.
RemoteAction to_upsert_action(const SavedConnection& record);

}  // namespace remote::actions
