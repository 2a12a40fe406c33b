#pragma once
// The launcher's actions on the session bus: the widget's actions served
// under the application id. Without a session bus the application runs as
// before and one warning is logged.

#include <functional>
#include <memory>
#include <string>

#include "platform/vesk_actions/bus_service.hpp"
#include "platform/vesk_ui/launch/widget_action_target.hpp"

namespace vesk_ui::launch {

class ActionBus {
 public:
  // None (after the warning) when the bus cannot be used. `on_ui_thread`:
  // GLib's default context is dispatched by the calling (UI) thread.
  static std::unique_ptr<ActionBus> start(bool on_ui_thread, const std::string& app_id, host::WidgetHost& host,
                                          const vesk_actions::ActionRegistry& registry, doc::Document* document,
                                          WidgetActionTarget::Save save);

  // After each painted frame.
  void after_frame() { service_->after_frame(); }

 private:
  ActionBus(host::WidgetHost& host, const vesk_actions::ActionRegistry& registry, doc::Document* document,
            WidgetActionTarget::Save save)
      : target_(host, registry, document, std::move(save)) {}

  WidgetActionTarget target_;
  std::unique_ptr<vesk_actions::BusService> service_;  // goes first: it calls the target
};

}  // namespace vesk_ui::launch
