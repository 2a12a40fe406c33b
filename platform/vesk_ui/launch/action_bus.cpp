#include "platform/vesk_ui/launch/action_bus.hpp"

#include <cstdio>

namespace vesk_ui::launch {

std::unique_ptr<ActionBus> ActionBus::start(bool on_ui_thread, const std::string& app_id, host::WidgetHost& host,
                                            const vesk_actions::ActionRegistry& registry, doc::Document* document,
                                            WidgetActionTarget::Save save) {
  auto warn = [](const std::string& reason) {
    std::fprintf(stderr, "vesk_ui: actions are not published on the session bus: %s\n", reason.c_str());
  };
  if (!on_ui_thread) {
    warn("another thread runs GLib's main context");
    return nullptr;
  }
  std::unique_ptr<ActionBus> bus(new ActionBus(host, registry, document, std::move(save)));
  auto service = vesk_actions::BusService::start(app_id, bus->target_, warn);
  if (!service) {
    warn(service.error());
    return nullptr;
  }
  bus->service_ = std::move(*service);
  return bus;
}

}  // namespace vesk_ui::launch
