// The accessibility of the confirmation dialog over any screen.
#include "apps/remote/src/app/accessibility_screens.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::Role;

std::optional<AccessNode> confirmation_node(const RemoteApp& app, const AccessBuilder& b) {
  const AppState& state = app.state();
  if (!state.confirmation) return std::nullopt;
  const Confirmation& confirmation = *state.confirmation;
  const SavedConnection* c = find_connection(state.connections, confirmation.id);
  const std::string name = c ? c->name : "this saved connection";
  AccessNode dialog;
  dialog.role = Role::Dialog;
  dialog.modal = true;
  dialog.bounds = app.bounds();
  std::string confirm_label;
  switch (confirmation.kind) {
    case Confirmation::Kind::Connect:
      dialog.label = remote::text::fill("Connect to {}?", {name});
      dialog.description = "The target and access are rechecked before a remote session opens.";
      confirm_label = "Connect";
      break;
    case Confirmation::Kind::Delete:
      dialog.label = remote::text::fill("Delete {}?", {name});
      dialog.description = "This removes the shared saved profile, not the remote machine.";
      confirm_label = "Delete";
      break;
    case Confirmation::Kind::TrustSshHostKey:
      dialog.label = remote::text::fill("Trust SSH key for {}?", {name});
      dialog.description =
          remote::text::fill("Verify {} {} out of band. This device-private trust is checked again before connecting.",
                             {confirmation.identity ? confirmation.identity->algorithm : std::string(),
                              confirmation.identity ? confirmation.identity->fingerprint : std::string()});
      confirm_label = "Trust key";
      break;
    case Confirmation::Kind::ForgetSshHostKey:
      dialog.label = remote::text::fill("Forget SSH key for {}?", {name});
      dialog.description =
          "Remove this device-private pin, then reconnect to inspect a replacement key before trusting it.";
      confirm_label = "Forget key";
      break;
  }
  dialog.children.push_back(b.button("Cancel", "remote.confirmation.cancel", UiMessage::cancel_confirmation()));
  dialog.children.push_back(b.button(confirm_label, "remote.confirmation.confirm", UiMessage::confirm()));
  return dialog;
}

}  // namespace remote::app
