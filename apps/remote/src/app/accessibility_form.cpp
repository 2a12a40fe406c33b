// The accessibility of the connection form: protocol, discovered devices,
// fields, authentication, problems and the form's buttons.
#include "apps/remote/src/app/accessibility_screens.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::Role;

AccessNode form_screen_node(const RemoteApp& app, const AccessBuilder& b) {
  const AppState& state = app.state();
  const ConnectionForm& form = state.form;
  const bool edit = state.screen.kind == Screen::Kind::EditConnectionForm;
  const std::string title = edit ? "Edit connection" : "New connection";
  AccessNode form_screen = group(Role::Group, title);
  form_screen.children.push_back(
      passive(Role::Heading, title, "remote.form.heading", vesk_ui::access::kTextMarkerDefault));

  AccessNode protocol = group(Role::Group, "Protocol", "remote.form.protocol");
  for (ConnectionKind kind : {ConnectionKind::Ssh, ConnectionKind::Vnc, ConnectionKind::Vesk}) {
    AccessNode option = b.interactive(Role::Option, std::string(kind.label()),
                                      remote::text::fill("remote.kind:{}", {kind.as_str()}), UiMessage::set_kind(kind));
    option.toggled = form.kind == kind;
    protocol.children.push_back(std::move(option));
  }
  form_screen.children.push_back(std::move(protocol));

  if (form.kind == ConnectionKind::Rdp) {
    form_screen.children.push_back(passive(Role::Text,
                                           "Legacy RDP profile. RDP has no client backend in this build; select SSH, "
                                           "VNC, or Vesk to migrate this profile.",
                                           "remote.form.legacy-rdp", vesk_ui::access::kTextMarkerStatus));
  }
  const bool vesk = form.kind == ConnectionKind::Vesk;
  if (vesk) {
    AccessNode devices = group(Role::List, "Discovered Vesk devices", "remote.form.devices");
    for (std::size_t k = 0; k < state.discovered_devices.size(); ++k) {
      const DiscoveredDevice& d = state.discovered_devices[k];
      AccessNode item =
          b.interactive(Role::ListItem, d.display_name, remote::text::fill("remote.device:{}", {std::to_string(k)}),
                        UiMessage::choose_discovered_device(k));
      item.value = d.endpoint_id;
      item.description = d.online ? "Online" : "Offline";
      item.selected = form.host == d.endpoint_id;
      devices.children.push_back(std::move(item));
    }
    form_screen.children.push_back(std::move(devices));
    form_screen.children.push_back(passive(Role::Text,
                                           "Authentication: Vesk device identity. No password is stored or requested.",
                                           "remote.form.vesk-authentication", vesk_ui::access::kTextMarkerDefault));
  }
  const auto add_field = [&](InputField field, std::string label, const std::string& value) {
    AccessNode node =
        b.interactive(Role::TextInput, std::move(label), remote::text::fill("remote.field:{}", {field.as_str()}),
                      UiMessage::focus_field(field));
    node.value = value;
    node.focused = has_keyboard_focus(state, field);
    form_screen.children.push_back(std::move(node));
  };
  add_field(InputField::Name, "Connection name", form.name);
  add_field(InputField::Host, vesk ? "Device node" : "Host name or IP address", form.host);
  if (!vesk) add_field(InputField::Port, "Port", form.port);
  if (form.kind == ConnectionKind::Ssh || form.kind == ConnectionKind::Rdp)
    add_field(InputField::User, "User name", form.user);
  if (!vesk) add_field(InputField::Group, "Group", form.group);

  if (!vesk) {
    AccessNode auth = group(Role::Group, "Authentication", "remote.form.authentication");
    for (AuthKind method : form.kind.allowed_auths()) {
      AccessNode option =
          b.interactive(Role::Option, std::string(method.label()),
                        remote::text::fill("remote.auth:{}", {method.id_word()}), UiMessage::set_auth(method));
      option.toggled = form.auth == method;
      auth.children.push_back(std::move(option));
    }
    form_screen.children.push_back(std::move(auth));
  }
  const std::vector<std::string> problems = app.shown_form_problems();
  if (!problems.empty()) {
    std::string joined;
    for (const std::string& problem : problems) {
      if (!joined.empty()) joined += ". ";
      joined += problem;
    }
    form_screen.children.push_back(
        passive(Role::Text, joined, "remote.form.problems", vesk_ui::access::kTextMarkerStatus));
  }
  AccessNode actions = group(Role::ButtonGroup, "Form actions", "remote.form.actions");
  actions.children.push_back(b.button("Cancel", "remote.form.cancel", UiMessage::cancel_form()));
  actions.children.push_back(b.button("Save connection", "remote.form.save", UiMessage::save_form()));
  if (edit) {
    actions.children.push_back(
        b.button("Delete connection", remote::text::fill("remote.connection:{}:delete", {state.screen.id.to_string()}),
                 UiMessage::request_delete(state.screen.id)));
  }
  form_screen.children.push_back(std::move(actions));
  return form_screen;
}

}  // namespace remote::app
