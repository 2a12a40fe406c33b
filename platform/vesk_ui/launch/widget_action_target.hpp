#pragma once
// The actions of the launcher's widget as clients outside the process use
// them: the tree built at each call, document actions decoded through the
// registry and dispatched through the widget's action host with the client
// as source, View operations run at once, Effect operations started and
// followed by the host's polling under a 64-bit client handle.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "platform/vesk_actions/action_target.hpp"
#include "platform/vesk_actions/host.hpp"
#include "platform/vesk_actions/registry.hpp"
#include "platform/vesk_ui/headless/widget_host.hpp"

namespace vesk_ui::launch {

class WidgetActionTarget final : public vesk_actions::ActionTarget {
 public:
  // Stores the document now; why it could not, when it could not.
  using Save = std::function<std::optional<std::string>()>;
  // `document` may be null (an application without one: document actions are
  // refused). `save` runs after a dispatch left pending heads; a change it
  // could not store answers failed with the widget's unsaved-change code.
  WidgetActionTarget(host::WidgetHost& host, const vesk_actions::ActionRegistry& registry, doc::Document* document,
                     Save save);
  ~WidgetActionTarget() override;

  std::vector<vesk_actions::Resource> tree() override;
  vesk_actions::InvokeReply invoke(std::string_view resource_id, std::string_view action_id,
                                   const vesk_actions::ActionArgs& args,
                                   const vesk_actions::ActionSource& caller) override;
  vesk_actions::PollReply poll(std::uint64_t handle) override;
  void cancel(std::uint64_t handle) override;

 private:
  struct Record {
    std::uint64_t handle = 0;
    widget::OperationHandle operation{};
    vesk_actions::PollReply state;
  };

  vesk_actions::InvokeReply start_effect(const vesk_actions::EncodedAction& encoded);
  vesk_actions::InvokeReply dispatch_document_action(const vesk_actions::EncodedAction& encoded,
                                                     const vesk_actions::ActionSource& caller);
  void settled(const widget::PollOutcome& outcome);
  Record* find(std::uint64_t handle);
  bool running_operation() const;
  void trim();

  host::WidgetHost& host_;
  const vesk_actions::ActionRegistry& registry_;
  doc::Document* document_;
  Save save_;
  // Used when the widget has no action host of its own.
  vesk_actions::ActionHost fallback_host_;
  std::uint64_t next_handle_ = 1;
  std::uint64_t handle_salt_ = 0;
  std::deque<Record> records_;
};

}  // namespace vesk_ui::launch
