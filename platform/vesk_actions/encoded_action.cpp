#include "platform/vesk_actions/encoded_action.hpp"

#include <algorithm>

namespace vesk_actions {

std::string_view operation_kind_name(OperationKind kind) {
  switch (kind) {
    case OperationKind::None: return "None";
    case OperationKind::Effect: return "Effect";
    case OperationKind::View: return "View";
  }
  return "None";
}

ActionError ActionError::serialization(std::string message) {
  return ActionError{Kind::Serialization, {}, {}, std::move(message)};
}
ActionError ActionError::decode(std::string payload_kind, std::string message) {
  return ActionError{Kind::Decode, std::move(payload_kind), {}, std::move(message)};
}
ActionError ActionError::unknown_namespace(std::string payload_kind) {
  return ActionError{Kind::UnknownNamespace, std::move(payload_kind), {}, {}};
}
ActionError ActionError::apply(std::string message) { return ActionError{Kind::Apply, {}, {}, std::move(message)}; }
ActionError ActionError::transport(std::string message) {
  return ActionError{Kind::Transport, {}, {}, std::move(message)};
}
ActionError ActionError::not_found(std::string message) {
  return ActionError{Kind::NotFound, {}, {}, std::move(message)};
}
ActionError ActionError::unavailable(std::string code, std::string message) {
  return ActionError{Kind::Unavailable, {}, std::move(code), std::move(message)};
}
ActionError ActionError::invalid_argument(std::string message) {
  return ActionError{Kind::InvalidArgument, {}, {}, std::move(message)};
}

std::string ActionError::to_string() const {
  switch (kind) {
    case Kind::Serialization: return "could not encode action: " + message;
    case Kind::Decode: return "could not decode " + payload_kind + " payload: " + message;
    case Kind::UnknownNamespace: return "no decoder registered for " + payload_kind;
    case Kind::Apply: return "could not apply action: " + message;
    case Kind::Transport: return "could not replicate action: " + message;
    case Kind::NotFound: return message;
    case Kind::Unavailable: return message + " (" + code + ")";
    case Kind::InvalidArgument: return "invalid argument: " + message;
  }
  return message;
}

EncodedAction EncodedAction::from_text(std::string kind, std::string_view text) {
  EncodedAction out;
  out.kind = std::move(kind);
  out.payload.reserve(std::max(kPayloadReserve, text.size()));
  out.payload.assign(text.begin(), text.end());
  return out;
}

}  // namespace vesk_actions
