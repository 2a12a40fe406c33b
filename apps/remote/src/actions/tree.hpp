// The tree of resources and actions the application publishes: the list of
// saved connections, one resource per connection, and the live session.
// Built from the document and a summary of the application state; the
// application reuses what has not changed since its last request (tree_cache.hpp).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "apps/remote/src/actions/remote_action.hpp"
#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"
#include "platform/vesk_actions/resource.hpp"
#include "platform/vesk_ui/document/document.hpp"

namespace remote::actions {

using vesk_actions::ActionArgs;
using vesk_actions::ActionContract;
using vesk_actions::ActionHandler;
using vesk_actions::ActionSpec;
using vesk_actions::EncodedAction;
using vesk_actions::Resource;

// What the tree needs to know of the live session.
struct LiveSessionSummary {
  Uuid connection_id;
  // An SSH session whose status is Connected.
  bool ssh_terminal_connected = false;
  // Why the SSH session's last offered server key was refused, if it was.
  std::optional<ssh::HostKeyObservation> host_key;
};

// The whole tree: exactly one root. `connections` is the in-memory list; the
// session resource is added only when it holds the live session's connection.
std::vector<Resource> action_resources(const vesk_ui::doc::Document& document,
                                       std::span<const SavedConnection> connections,
                                       const std::optional<LiveSessionSummary>& live_session);

// The root with its open and new actions and one child per stored connection.
std::vector<Resource> connections_resource(const vesk_ui::doc::Document& document);
// The same root over connection resources already built, in load order.
std::vector<Resource> connections_resource(std::vector<Resource> children);
// Appends the session resource to the root when `connections` holds the live
// session's connection.
void add_session_resource(std::vector<Resource>& tree, std::span<const SavedConnection> connections,
                          const std::optional<LiveSessionSummary>& live_session);
Resource connection_resource(const SavedConnection& connection);
Resource session_resource(const SavedConnection& connection, bool terminal_connected,
                          const std::optional<ssh::HostKeyObservation>& observation);

// Reason code and message of an unavailable connect; none when Ready.
std::optional<vesk_actions::Unavailability> connect_unavailability(const SavedConnection& connection);
// The same for a readiness already computed.
std::optional<vesk_actions::Unavailability> connect_unavailability(const SavedConnection& connection,
                                                                   Readiness readiness);

// The named contracts of the tree.
ActionContract live_session_contract();
ActionContract session_end_contract();
ActionContract terminal_input_contract();
ActionContract host_key_trust_contract();
ActionContract host_key_forget_contract();

ActionSpec operation_spec(std::string id, std::string label, OperationKind kind, const RemoteOperation& operation);
ActionSpec remote_action_spec(std::string id, std::string label, const RemoteAction& action);

// Encodes under "remote.operation"; an empty payload if that ever fails.
EncodedAction encode_operation(const RemoteOperation& operation);
// Encodes under "remote.action"; stops the program if that fails (texts are
// checked for UTF-8 where they enter, so it cannot).
EncodedAction encode_action(const RemoteAction& action);

// Result of decoding an operation payload.
struct NotAnOperation {
  friend bool operator==(const NotAnOperation&, const NotAnOperation&) = default;
};
using DecodedOperation = std::variant<NotAnOperation, RemoteOperation, std::string>;
DecodedOperation decode_operation(std::string_view payload_kind, std::span<const std::uint8_t> payload);

// Handlers stored in the actions.
ActionHandler replay_encoded_handler(EncodedAction encoded);
ActionHandler encoded_operation_handler(RemoteOperation operation, std::string type_name);
ActionHandler disconnect_handler(Uuid connection_id, std::string type_name);
ActionHandler send_text_handler(Uuid connection_id, std::string type_name);
ActionHandler text_value_handler(std::function<EncodedAction(std::string)> encoder);
std::function<EncodedAction(std::string)> encode_rename(Uuid connection_id);

}  // namespace remote::actions
