// Invoking a published action without a window: what the framework does for
// an automation client, and what tests use.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "apps/remote/src/actions/tree.hpp"
#include "platform/vesk_actions/context.hpp"
#include "platform/vesk_actions/host.hpp"
#include "platform/vesk_actions/registry.hpp"
#include "platform/vesk_actions/resource.hpp"

namespace remote::actions {

// Runs the operations that invoked actions hand back; the application core
// implements it.
class OperationSink {
 public:
  virtual ~OperationSink() = default;
  // The error is the sentence to show the client.
  virtual std::expected<void, std::string> run_operation(OperationKind declared,
                                                         const vesk_actions::EncodedAction& encoded) = 0;
};

struct InvocationError {
  // "invalid_argument", "unknown_resource", "unknown_action", an
  // unavailability reason code, an argument check's code
  // ("remote.name_required"), "decode_failed", "dispatch_failed",
  // "operations_unavailable" or "operation_failed".
  std::string code;
  std::string message;

  friend bool operator==(const InvocationError&, const InvocationError&) = default;
};

struct Invocation {
  enum class Route { DocumentAction, Operation };
  Route route;
  vesk_actions::EncodedAction encoded;
};

struct InvocationEnv {
  vesk_ui::doc::Document& document;
  std::span<const SavedConnection> connections;  // the in-memory list
  std::optional<LiveSessionSummary> live_session;
  const vesk_actions::ActionRegistry& registry;
  vesk_actions::ActionHost& host;
  OperationSink* operations = nullptr;  // none: operation actions are refused
  // Who invokes; the application itself when none.
  std::optional<vesk_actions::ActionSource> client;
};

// Rebuilds the tree, finds the resource (first match) and its action, refuses
// an unavailable one with its reason and arguments its check refuses, runs the
// handler and routes the result:
// a document action is decoded through the registry and dispatched; an
// operation goes to the sink. Argument texts must be valid UTF-8.
std::expected<Invocation, InvocationError> invoke_action(InvocationEnv& env, std::string_view resource_id,
                                                         std::string_view action_id,
                                                         const vesk_actions::ActionArgs& args);

}  // namespace remote::actions
