#include "platform/vesk_ui/launch/widget_action_target.hpp"

#include <algorithm>
#include <cstdio>
#include <random>

#include <nlohmann/json.hpp>

#include "platform/vesk_ui/text/text_renderer.hpp"

namespace vesk_ui::launch {

namespace {

using vesk_actions::InvokeReply;
using vesk_actions::PollReply;
namespace outcome = vesk_actions::outcome;
namespace op_state = vesk_actions::op_state;

// Settled operations kept for late polls; the oldest settled go first.
constexpr std::size_t kMaxRecords = 64;

InvokeReply refused(std::string code, std::string message) {
  return {std::string(outcome::kRefused), std::move(code), std::move(message), 0};
}
InvokeReply failed(std::string code, std::string message) {
  return {std::string(outcome::kFailed), std::move(code), std::move(message), 0};
}

bool valid_utf8(std::string_view s) { return text::is_nul_free_utf8(s); }

std::string in_quotes(std::string_view s) { return "\"" + std::string(s) + "\""; }

}  // namespace

WidgetActionTarget::WidgetActionTarget(host::WidgetHost& host, const vesk_actions::ActionRegistry& registry,
                                       doc::Document* document, Save save)
    : host_(host), registry_(registry), document_(document), save_(std::move(save)) {
  // Handles of different runs differ, so a stale handle of an earlier run is
  // never taken for a new operation.
  std::random_device rd;
  handle_salt_ = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
  host_.on_operation_settled = [this](const widget::PollOutcome& out) { settled(out); };
}

WidgetActionTarget::~WidgetActionTarget() { host_.on_operation_settled = nullptr; }

std::vector<vesk_actions::Resource> WidgetActionTarget::tree() {
  if (document_) return host_.widget().action_resources(*document_);
  doc::Document empty;
  return host_.widget().action_resources(empty);
}

InvokeReply WidgetActionTarget::invoke(std::string_view resource_id, std::string_view action_id,
                                       const vesk_actions::ActionArgs& args, const vesk_actions::ActionSource& caller) {
  // Texts end up in JSON payloads and in the document: refused here unless UTF-8.
  if (!valid_utf8(resource_id) || !valid_utf8(action_id)) {
    return refused("invalid_argument", "Resource and action ids must be valid UTF-8 text.");
  }
  for (const auto& [name, value] : args.entries()) {
    if (!valid_utf8(name)) return refused("invalid_argument", "Argument names must be valid UTF-8 text.");
    if (!valid_utf8(value))
      return refused("invalid_argument", "Argument " + in_quotes(name) + " is not valid UTF-8 text.");
  }

  const std::vector<vesk_actions::Resource> roots = tree();
  const vesk_actions::Resource* resource = nullptr;
  for (const auto& root : roots) {
    if ((resource = root.find(resource_id))) break;
  }
  if (!resource) return refused("unknown_resource", "There is no resource " + in_quotes(resource_id) + ".");
  const vesk_actions::ActionSpec* chosen = resource->find_action(action_id);
  if (!chosen) {
    return refused("unknown_action",
                   "Resource " + in_quotes(resource_id) + " has no action " + in_quotes(action_id) + ".");
  }
  if (chosen->contract.unavailable) {
    return refused(chosen->contract.unavailable->reason_code, chosen->contract.unavailable->message);
  }
  for (const auto& [name, value] : args.entries()) {
    const bool known = std::any_of(chosen->parameters.begin(), chosen->parameters.end(),
                                   [&](const vesk_actions::ActionParameter& p) { return p.name == name; });
    if (!known) {
      return refused("invalid_argument",
                     "Action " + in_quotes(action_id) + " takes no argument " + in_quotes(name) + ".");
    }
  }
  for (const vesk_actions::ActionParameter& p : chosen->parameters) {
    if (!args.text(p.name)) {
      return refused("missing_argument", "Action " + in_quotes(action_id) + " needs the argument " + in_quotes(p.name) +
                                             " (" + p.description + ").");
    }
  }

  if (auto refusal = chosen->check_arguments(args)) return refused(refusal->reason_code, refusal->message);

  const vesk_actions::EncodedAction encoded = chosen->invoke(args);
  switch (chosen->operation_kind) {
    case vesk_actions::OperationKind::None: return dispatch_document_action(encoded, caller);
    case vesk_actions::OperationKind::View: {
      const widget::RunOutcome ran = host_.widget().run_operation(vesk_actions::OperationKind::View, encoded);
      switch (ran.kind) {
        case widget::RunOutcome::Kind::Handled: return {std::string(outcome::kCompleted), {}, {}, 0};
        case widget::RunOutcome::Kind::Failed: return failed("operation_failed", ran.message);
        case widget::RunOutcome::Kind::NotHandled: break;
      }
      return refused("operation_not_handled", "The application does not serve this operation.");
    }
    case vesk_actions::OperationKind::Effect: return start_effect(encoded);
  }
  return refused("operation_not_handled", "The application does not serve this operation.");
}

InvokeReply WidgetActionTarget::dispatch_document_action(const vesk_actions::EncodedAction& encoded,
                                                         const vesk_actions::ActionSource& caller) {
  if (!document_) return refused("no_document", "The application keeps no document.");
  auto action = registry_.decode(encoded);
  if (!action) return failed("decode_failed", action.error().to_string());
  // Labelled like the application's own typed dispatch of the same action.
  const auto value = nlohmann::ordered_json::parse(encoded.payload_text(), nullptr, false);
  vesk_actions::ActionContext context = vesk_actions::ActionContext::for_json_value(value);
  context.source = caller;
  vesk_actions::ActionHost* host = host_.widget().document_action_host();
  if (!host) host = &fallback_host_;
  auto dispatched = host->dispatch(*document_, **action, encoded, std::move(context));
  if (!dispatched) {
    std::fprintf(stderr, "vesk_ui: action dispatch failed: %s (%s)\n", dispatched.error().to_string().c_str(),
                 encoded.kind.c_str());
    return failed("dispatch_failed", dispatched.error().to_string());
  }
  // The framework takes the heads from before the change and stores the
  // document at once, so an applied action survives a crash right after.
  std::vector<doc::ChangeHash> heads = host_.widget().take_pending_heads();
  if (host == &fallback_host_) {
    if (auto own = fallback_host_.take_pending_heads()) heads = std::move(*own);
  }
  if (!heads.empty() && save_) {
    // Applied in memory only: the client must not take it for stored.
    if (std::optional<std::string> unsaved = save_()) {
      return failed(host_.widget().unsaved_change_code(),
                    "the change is kept in memory but could not be saved: " + *unsaved + "; saving is retried");
    }
  }
  return {std::string(outcome::kApplied), {}, {}, 0};
}

InvokeReply WidgetActionTarget::start_effect(const vesk_actions::EncodedAction& encoded) {
  const bool busy = running_operation();
  Record record;
  record.handle = next_handle_++;
  const std::uint64_t salted = record.handle ^ handle_salt_;
  for (int i = 0; i < 8; ++i) {
    record.operation[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(salted >> (8 * i));
    record.operation[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(record.handle >> (8 * i));
  }
  const widget::StartOutcome started =
      host_.start_operation(record.operation, vesk_actions::OperationKind::Effect, encoded);
  switch (started.kind) {
    case widget::StartOutcome::Kind::Pending:
      record.state = {std::string(op_state::kRunning), {}, {}};
      records_.push_back(record);
      trim();
      return {std::string(outcome::kStarted), {}, {}, record.handle};
    case widget::StartOutcome::Kind::Completed: return {std::string(outcome::kCompleted), {}, {}, 0};
    case widget::StartOutcome::Kind::Failed:
      // With an operation of ours in flight, a refused start is the
      // one-at-a-time rule: nothing was tried.
      if (busy) return refused("operation_in_flight", started.message);
      return failed("operation_failed", started.message);
    case widget::StartOutcome::Kind::NotHandled: break;
  }
  return refused("operation_not_handled", "The application does not serve this operation.");
}

void WidgetActionTarget::settled(const widget::PollOutcome& out) {
  auto it = std::find_if(records_.begin(), records_.end(), [&](const Record& r) { return r.operation == out.handle; });
  if (it == records_.end()) return;
  switch (out.kind) {
    case widget::PollOutcome::Kind::Completed: it->state = {std::string(op_state::kCompleted), {}, {}}; break;
    case widget::PollOutcome::Kind::Failed: it->state = {std::string(op_state::kFailed), out.code, out.message}; break;
    case widget::PollOutcome::Kind::Cancelled: it->state = {std::string(op_state::kCancelled), {}, out.message}; break;
    case widget::PollOutcome::Kind::NoUpdate: return;
  }
}

WidgetActionTarget::Record* WidgetActionTarget::find(std::uint64_t handle) {
  for (Record& r : records_) {
    if (r.handle == handle) return &r;
  }
  return nullptr;
}

bool WidgetActionTarget::running_operation() const {
  return std::any_of(records_.begin(), records_.end(),
                     [](const Record& r) { return r.state.state == op_state::kRunning; });
}

void WidgetActionTarget::trim() {
  while (records_.size() > kMaxRecords) {
    auto it = std::find_if(records_.begin(), records_.end(),
                           [](const Record& r) { return r.state.state != op_state::kRunning; });
    if (it == records_.end()) return;
    records_.erase(it);
  }
}

PollReply WidgetActionTarget::poll(std::uint64_t handle) {
  // Fresh, not as of the last loop turn.
  host_.poll_operations();
  if (const Record* r = find(handle)) return r->state;
  return {std::string(op_state::kFailed), "unknown_operation",
          "There is no operation with handle " + std::to_string(handle) + "."};
}

void WidgetActionTarget::cancel(std::uint64_t handle) {
  if (const Record* r = find(handle); r && r->state.state == op_state::kRunning) {
    host_.cancel_operation(r->operation);
  }
}

}  // namespace vesk_ui::launch
