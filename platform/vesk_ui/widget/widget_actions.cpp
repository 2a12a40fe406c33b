// The default of the one widget operation that needs the action framework's
// complete types.
#include "platform/vesk_actions/resource.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace vesk_ui::widget {

std::vector<vesk_actions::Resource> Widget::action_resources(const doc::Document& document) const {
  (void)document;
  return {};
}

}  // namespace vesk_ui::widget
