#include "apps/remote/src/actions/registration.hpp"

#include <string>

namespace remote::actions {

namespace {

std::expected<std::unique_ptr<vesk_actions::DocumentAction>, vesk_actions::ActionError> decode_as(
    const std::string& kind, std::span<const std::uint8_t> payload) {
  std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
  auto action = RemoteAction::deserialize(text);
  if (!action) return std::unexpected(vesk_actions::ActionError::decode(kind, std::move(action.error())));
  return std::make_unique<RemoteAction>(std::move(*action));
}

}  // namespace

void register_actions(vesk_actions::ActionRegistry& registry) {
  std::string kind(kRemoteActionKind);
  registry.register_namespace(kind, [kind](std::span<const std::uint8_t> payload) { return decode_as(kind, payload); });
}

std::expected<std::unique_ptr<vesk_actions::DocumentAction>, vesk_actions::ActionError> decode_remote_action(
    std::span<const std::uint8_t> payload) {
  static const std::string kind(kRemoteActionKind);
  return decode_as(kind, payload);
}

RemoteAction to_upsert_action(const SavedConnection& r) {
  return RemoteAction::UpsertConnection{r.id, r.name, r.host, r.port, r.user, r.kind, r.auth, r.group};
}

}  // namespace remote::actions
