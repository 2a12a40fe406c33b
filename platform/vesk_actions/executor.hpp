// Applies document actions: exactly once per dispatch, recorded as one change
// of the document whose message carries the provenance (label and source).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vesk_actions/context.hpp"
#include "platform/vesk_actions/encoded_action.hpp"
#include "platform/vesk_actions/registry.hpp"
#include "platform/vesk_ui/document/document.hpp"

namespace vesk_actions {

// Where a dispatched action goes after it was applied locally.
class ActionTransport {
 public:
  virtual ~ActionTransport() = default;
  virtual std::expected<void, ActionError> replicate(const EncodedAction& encoded,
                                                     const std::optional<ActionContext>& context) = 0;
  // True when the transport keeps actions on this device only.
  virtual bool is_local() const = 0;
};

// Nothing leaves the device: the document's own sync carries the change.
class LocalTransport final : public ActionTransport {
 public:
  std::expected<void, ActionError> replicate(const EncodedAction&, const std::optional<ActionContext>&) override {
    return {};
  }
  bool is_local() const override { return true; }
};

struct DispatchOutcome {
  // The change that recorded the action; none when the action changed nothing.
  std::optional<vesk_ui::doc::ChangeHash> change;
  std::vector<vesk_ui::doc::ChangeHash> heads_after;
};

// The provenance that a dispatch records in its change message.
struct Provenance {
  std::string payload_kind;
  std::optional<ActionContext> context;

  friend bool operator==(const Provenance&, const Provenance&) = default;
};

// Message text of a change recorded by a dispatch (compact JSON).
std::string provenance_message(const Provenance& provenance);
// Reads it back; nullopt for a change not recorded by a dispatch.
std::optional<Provenance> parse_provenance(std::string_view message);

// Applies `action` to the document as `actor`, then commits its operations as
// one change carrying the context, then hands the encoded action to the
// transport. An open transaction of earlier edits is committed separately
// first, so the change holds this action's operations only. When applying
// fails, nothing is committed and the error is returned.
std::expected<DispatchOutcome, ActionError> dispatch_by_with_context(vesk_ui::doc::Document& document,
                                                                     DocumentAction& action, EncodedAction encoded,
                                                                     ActionTransport& transport,
                                                                     std::vector<std::uint8_t> actor,
                                                                     ActionContext context);

// The same without a context: the change carries the payload kind only.
std::expected<DispatchOutcome, ActionError> dispatch_by(vesk_ui::doc::Document& document, DocumentAction& action,
                                                        EncodedAction encoded, ActionTransport& transport,
                                                        std::vector<std::uint8_t> actor);

}  // namespace vesk_actions
