// Semantic actions: a client acts on a node of the tree by its action id, and
// the node's message is what the action sends.
#include <algorithm>

#include "apps/remote/src/app/accessibility_screens.hpp"
#include "apps/remote/src/app/remote_app.hpp"

namespace remote::app {

using vesk_ui::access::ActionKind;

bool RemoteApp::perform_semantic_action(std::string_view action_id, const vesk_ui::access::SemanticAction& action,
                                        vesk_ui::doc::Document* document) {
  // Only what is shown can be acted on: a hidden form, a row filtered out or a
  // toggle the layout lacks is not a target. The tree is made now, for the
  // state as it is; its rows are looked up rather than made.
  AccessTargets shown;
  (void)build_accessibility_tree(*this, &shown, AccessRows::Omitted);
  std::optional<RowTarget> row;
  const UiMessage* found = shown.find(action_id);
  if (!found && (row = shown_row_target(*this, action_id))) found = &row->message;
  if (!found) return false;
  const UiMessage message = *found;

  const ActionKind kind = action.kind;
  const bool activate = kind == ActionKind::Activate;
  const bool toggle = activate || kind == ActionKind::Toggle;
  const auto send = [&](const UiMessage& m) {
    if (document) {
      apply_message(m, *document);
    } else {
      apply_view_message(m);
    }
    return true;
  };

  if (state_.confirmation) {
    const bool in_dialog = message.tag == UiMessage::Tag::CancelConfirmation || message.tag == UiMessage::Tag::Confirm;
    return activate && in_dialog && send(message);
  }

  switch (message.tag) {
    case UiMessage::Tag::FocusField: {
      const InputField field = *message.field();
      if (activate || kind == ActionKind::Focus) {
        focus_input(field);
        state_.redraw = true;
        return true;
      }
      if (kind != ActionKind::SetValue) return false;
      std::string value = vesk_ui::widget::text_input::single_line(action.value.value_or(std::string()));
      if (field == InputField::Port) {
        std::erase_if(value, [](char ch) { return ch < '0' || ch > '9'; });
      }
      // A value the input could not hold is refused whole rather than cut: the
      // client learns it was not taken.
      if (field_length_problem(field, value)) return false;
      std::string& target = field == InputField::Search ? state_.search
                            : field == InputField::Name ? state_.form.name
                            : field == InputField::Host ? state_.form.host
                            : field == InputField::Port ? state_.form.port
                            : field == InputField::User ? state_.form.user
                                                        : state_.form.group;
      TextInput& input = input_mut(field);
      input.set_text(value);
      // The widget keeps one clean line; the state holds what it shows.
      target = input.text();
      input.set_cursor_pos(target.size());
      focus_input(field);
      if (field == InputField::Search) {
        state_.selection = list_results().first_listed(state_.connections);
        state_.list_scroll = 0;
      }
      state_.redraw = true;
      return true;
    }
    case UiMessage::Tag::SelectConnection:
      if (kind == ActionKind::Select && row) {
        state_.selection = *message.id();
        scroll_selection_into_view(row->position, list_results().order().size());
        state_.redraw = true;
        return true;
      }
      return (activate || kind == ActionKind::Focus) && send(message);
    case UiMessage::Tag::ChooseDiscoveredDevice: return (activate || kind == ActionKind::Focus) && send(message);
    case UiMessage::Tag::SetAuth: return toggle && message.auth()->allowed_for(state_.form.kind) && send(message);
    case UiMessage::Tag::SetKind:
    case UiMessage::Tag::ToggleFavorite:
    case UiMessage::Tag::ToggleScale: return toggle && send(message);
    default: return activate && send(message);
  }
}

}  // namespace remote::app
