#include "apps/remote/src/actions/tree.hpp"

#include "apps/remote/src/actions/fatal.hpp"
#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::actions {

namespace {

const std::string kOperationType(kRemoteOperationKind);

ActionContract networked(std::vector<std::string> capabilities, std::array<std::uint8_t, 5> settings) {
  ActionContract c;
  c.capabilities = std::move(capabilities);
  c.scope = 1;
  c.lifetime = {6, false};
  c.latency = 8;
  c.settings = settings;
  return c;
}

// A new name must be one the form could save: not blank, within the field limit.
std::optional<vesk_actions::Unavailability> refuse_bad_name(const ActionArgs& args) {
  const std::string name = args.text("value").value_or("");
  auto problem = name_problem(name);
  if (!problem) return std::nullopt;
  const bool blank = text::trim(name).empty();
  return vesk_actions::Unavailability{blank ? "remote.name_required" : "remote.name_too_long", std::move(*problem)};
}

// Document actions keep their default contract with the first setting 1.
void mark_document_action(ActionSpec& action_spec) { action_spec.contract.settings[0] = 1; }

}  // namespace

ActionContract live_session_contract() { return networked({"network", "session"}, {0, 2, 0, 3, 1}); }

ActionContract session_end_contract() {
  ActionContract c;
  c.capabilities = {"network", "session"};
  c.settings = {0, 0, 0, 1, 3};
  return c;
}

ActionContract terminal_input_contract() { return networked({"remote-input", "session"}, {0, 2, 0, 3, 3}); }

ActionContract host_key_trust_contract() { return networked({"ssh", "host-key", "device-private"}, {0, 2, 0, 3, 3}); }

ActionContract host_key_forget_contract() { return networked({"ssh", "host-key", "device-private"}, {0, 2, 0, 2, 3}); }

EncodedAction encode_operation(const RemoteOperation& operation) {
  auto encoded = EncodedAction::from_operation(kRemoteOperationKind, operation);
  if (!encoded) return EncodedAction{kOperationType, {}};
  return std::move(*encoded);
}

EncodedAction encode_action(const RemoteAction& action) {
  auto encoded = EncodedAction::from_action(kRemoteActionKind, action);
  if (!encoded) fatal("RemoteAction is always serializable");
  return std::move(*encoded);
}

DecodedOperation decode_operation(std::string_view payload_kind, std::span<const std::uint8_t> payload) {
  if (payload_kind != kRemoteOperationKind) return NotAnOperation{};
  std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
  auto op = RemoteOperation::deserialize(text);
  if (!op) return std::move(op.error());
  return std::move(*op);
}

ActionHandler replay_encoded_handler(EncodedAction encoded) {
  return [encoded = std::move(encoded)](const ActionArgs&) { return encoded; };
}

ActionHandler encoded_operation_handler(RemoteOperation operation, std::string type_name) {
  return [operation = std::move(operation), type_name = std::move(type_name)](const ActionArgs&) {
    return vesk_actions::enforce_operation_type(encode_operation(operation), type_name);
  };
}

ActionHandler disconnect_handler(Uuid connection_id, std::string type_name) {
  return [connection_id, type_name = std::move(type_name)](const ActionArgs&) {
    return vesk_actions::enforce_operation_type(encode_operation(RemoteOperation::Disconnect{connection_id}),
                                                type_name);
  };
}

ActionHandler send_text_handler(Uuid connection_id, std::string type_name) {
  return [connection_id, type_name = std::move(type_name)](const ActionArgs& args) {
    RemoteOperation op = RemoteOperation::SendText{connection_id, args.text("text").value_or("")};
    return vesk_actions::enforce_operation_type(encode_operation(op), type_name);
  };
}

ActionHandler text_value_handler(std::function<EncodedAction(std::string)> encoder) {
  return [encoder = std::move(encoder)](const ActionArgs& args) { return encoder(args.text("value").value_or("")); };
}

std::function<EncodedAction(std::string)> encode_rename(Uuid connection_id) {
  // Arguments are checked where they enter; should one arrive unchecked,
  // it is repaired rather than allowed to stop the program.
  return [connection_id](std::string name) {
    return encode_action(RemoteAction::rename(connection_id, vesk_ui::utf8::repair(name)));
  };
}

ActionSpec operation_spec(std::string id, std::string label, OperationKind kind, const RemoteOperation& operation) {
  auto action_spec = ActionSpec::typed_operation(id, label, kind, kOperationType, operation);
  if (action_spec) return std::move(*action_spec);
  // Encode at each invocation instead.
  return ActionSpec::operation_with_encoder(std::move(id), std::move(label), kind, kOperationType, {}, "",
                                            encoded_operation_handler(operation, kOperationType));
}

ActionSpec remote_action_spec(std::string id, std::string label, const RemoteAction& action) {
  auto action_spec = ActionSpec::typed_action(std::move(id), std::move(label), kRemoteActionKind, action);
  if (!action_spec) fatal("encode remote action");
  return std::move(*action_spec);
}

std::optional<vesk_actions::Unavailability> connect_unavailability(const SavedConnection& connection) {
  return connect_unavailability(connection, connection.readiness());
}

std::optional<vesk_actions::Unavailability> connect_unavailability(const SavedConnection& connection,
                                                                   Readiness readiness) {
  switch (readiness) {
    case Readiness::Ready: return std::nullopt;
    case Readiness::CapabilityRequired:
      return vesk_actions::Unavailability{"live_session_capability_required",
                                          std::string(readiness.message(connection.kind))};
    case Readiness::BackendUnavailable:
      return vesk_actions::Unavailability{"transport_backend_unavailable",
                                          std::string(readiness.message(connection.kind))};
    case Readiness::InvalidProfile:
      return vesk_actions::Unavailability{
          "invalid_connection_profile",
          connection.validate_target().value_or(std::string(readiness.message(connection.kind)))};
  }
  return std::nullopt;
}

Resource connection_resource(const SavedConnection& c) {
  std::string title = text::trim(c.name).empty() ? c.host : c.name;
  Resource r("remote.connection:" + c.id.to_string(), "remote.connection", std::move(title));

  ActionSpec open =
      operation_spec("open", "Open connection settings", OperationKind::View, RemoteOperation::EditConnection{c.id});

  const Readiness readiness = c.readiness();
  ActionSpec connect = operation_spec("connect", "Connect", OperationKind::Effect, RemoteOperation::Connect{c.id});
  connect.with_description("Open a live session to this saved connection. " + std::string(readiness.message(c.kind)));
  connect.with_contract(live_session_contract());
  if (auto reason = connect_unavailability(c, readiness)) connect.unavailable(reason->reason_code, reason->message);

  ActionSpec rename =
      ActionSpec::text_input("rename", "Rename connection", "New name", "connection name", false, encode_rename(c.id));
  rename.with_argument_check(refuse_bad_name);
  mark_document_action(rename);

  ActionSpec favorite = remote_action_spec("favorite", c.favorite ? "Remove from favourites" : "Add to favourites",
                                           RemoteAction::SetFavorite{c.id, !c.favorite});
  mark_document_action(favorite);

  ActionSpec del = remote_action_spec("delete", "Delete connection", RemoteAction::DeleteConnection{c.id});
  del.destructive();
  mark_document_action(del);

  r.with_action(std::move(open));
  r.with_action(std::move(connect));
  r.with_action(std::move(rename));
  r.with_action(std::move(favorite));
  r.with_action(std::move(del));
  return r;
}

Resource session_resource(const SavedConnection& c, bool terminal_connected,
                          const std::optional<ssh::HostKeyObservation>& observation) {
  auto typed = ActionSpec::typed_operation("disconnect", "Disconnect session", OperationKind::Effect, kOperationType,
                                           RemoteOperation(RemoteOperation::Disconnect{c.id}));
  ActionSpec disconnect =
      typed ? std::move(*typed)
            : ActionSpec::operation_with_encoder("disconnect", "Disconnect session", OperationKind::Effect,
                                                 kOperationType, {}, "", disconnect_handler(c.id, kOperationType));
  disconnect.with_contract(session_end_contract());

  ActionSpec send_text = ActionSpec::operation_with_encoder(
      "send-text", "Send text to session", OperationKind::Effect, kOperationType,
      {vesk_actions::ActionParameter{"text", "Text to deliver to the connected SSH terminal", "text"}},
      "command or text", send_text_handler(c.id, kOperationType));
  send_text.with_contract(terminal_input_contract());

  Resource r("remote.session:" + c.id.to_string(), "remote.session", c.name + " session");
  r.with_action(std::move(disconnect));
  if (!terminal_connected)
    send_text.unavailable("terminal_not_connected", "Text input requires a connected SSH terminal");
  r.with_action(std::move(send_text));

  if (observation) {
    if (const auto* unknown = observation->unknown()) {
      ActionSpec trust = operation_spec("trust-host-key", "Trust SSH host key", OperationKind::Effect,
                                        RemoteOperation::TrustSshHostKey{c.id, unknown->presented});
      trust.with_description("Explicitly trust " + unknown->presented.algorithm + " " + unknown->presented.fingerprint +
                             " for this device only after out-of-band verification.");
      trust.with_contract(host_key_trust_contract());
      r.with_action(std::move(trust));
    } else if (observation->changed()) {
      ActionSpec forget = operation_spec("forget-host-key", "Forget SSH host key", OperationKind::Effect,
                                         RemoteOperation::ForgetSshHostKey{c.id});
      forget.with_description("Remove this device's stale SSH host-key pin; reconnect to inspect a replacement key.");
      forget.with_contract(host_key_forget_contract());
      r.with_action(std::move(forget));
    }
  }
  return r;
}

std::vector<Resource> connections_resource(const vesk_ui::doc::Document& document) {
  std::vector<SavedConnection> stored = doc::load_connections(document);
  std::vector<Resource> children;
  children.reserve(stored.size());
  for (const auto& c : stored) children.push_back(connection_resource(c));
  return connections_resource(std::move(children));
}

std::vector<Resource> connections_resource(std::vector<Resource> children) {
  Resource root("remote.connections", "remote.connection-list", "Remote connections");
  root.with_action(operation_spec("open", "Show connections", OperationKind::View, RemoteOperation::ShowConnections{}));
  root.with_action(operation_spec("new", "New connection", OperationKind::View, RemoteOperation::NewConnectionForm{}));
  root.with_children(std::move(children));
  std::vector<Resource> out;
  out.push_back(std::move(root));
  return out;
}

void add_session_resource(std::vector<Resource>& tree, std::span<const SavedConnection> connections,
                          const std::optional<LiveSessionSummary>& live_session) {
  if (!live_session) return;
  for (const auto& c : connections) {
    if (c.id == live_session->connection_id) {
      std::vector<Resource> session;
      session.push_back(session_resource(c, live_session->ssh_terminal_connected, live_session->host_key));
      tree.front().with_children(std::move(session));
      return;
    }
  }
}

std::vector<Resource> action_resources(const vesk_ui::doc::Document& document,
                                       std::span<const SavedConnection> connections,
                                       const std::optional<LiveSessionSummary>& live_session) {
  std::vector<Resource> out = connections_resource(document);
  add_session_resource(out, connections, live_session);
  return out;
}

}  // namespace remote::actions
