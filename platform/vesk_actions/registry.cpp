#include "platform/vesk_actions/registry.hpp"

namespace vesk_actions {

void ActionRegistry::register_namespace(std::string kind, ActionDecoder decoder) {
  decoders_.insert_or_assign(std::move(kind), std::move(decoder));
}

bool ActionRegistry::contains(std::string_view kind) const { return decoders_.find(kind) != decoders_.end(); }

std::expected<std::unique_ptr<DocumentAction>, ActionError> ActionRegistry::decode(const EncodedAction& encoded) const {
  auto it = decoders_.find(encoded.kind);
  if (it == decoders_.end()) return std::unexpected(ActionError::unknown_namespace(encoded.kind));
  return it->second(encoded.payload);
}

}  // namespace vesk_actions
