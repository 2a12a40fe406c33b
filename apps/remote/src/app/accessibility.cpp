// The accessibility tree (it mirrors what the paint pass shows) and the
// semantic actions whose targets are its element ids.
#include <algorithm>
#include <charconv>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

using vesk_ui::access::AccessNode;
using vesk_ui::access::ActionKind;
using vesk_ui::access::Role;

namespace {

// The list's New connection button shares its action id with the rail's Add
// connection; its node id is made from this text instead.
constexpr std::string_view kListNewConnectionNode = "remote.list.new-connection";

AccessNode passive(Role role, std::string label, std::string_view id_text, std::uint8_t marker) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  n.id = vesk_ui::access::node_id(id_text);
  n.text_marker = marker;
  return n;
}

AccessNode interactive(Role role, std::string label, const std::string& action_id, std::optional<Rect> bounds) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  n.action_id = action_id;
  n.id = vesk_ui::access::node_id(action_id);
  n.bounds = bounds;
  return n;
}

AccessNode group(Role role, std::string label, std::optional<std::string_view> id_text = std::nullopt) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  if (id_text) n.id = vesk_ui::access::node_id(*id_text);
  return n;
}

std::string_view presence_word(Presence presence) {
  switch (presence) {
    case Presence::Online: return "online";
    case Presence::Offline: return "offline";
    case Presence::Unknown: break;
  }
  return "status unknown";
}

std::string readiness_text(const SavedConnection& c, Readiness readiness) {
  if (readiness == Readiness::Ready) return "ready to connect";
  if (readiness == Readiness::InvalidProfile) {
    if (auto problem = c.validate_target()) return *problem;
  }
  return std::string(readiness.message(c.kind));
}

std::optional<InputField> field_for_word(std::string_view word) {
  for (InputField field : InputField::ALL) {
    if (field.as_str() == word) return field;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> parse_decimal(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

AccessNode RemoteApp::accessibility_tree() const {
  // While a dialog is open the keys go to it, whichever input keeps its place.
  const auto has_keyboard_focus = [this](InputField field) {
    return state_.focused_input == field && !state_.confirmation;
  };
  const auto button = [this](std::string label, const std::string& action_id, const UiMessage& message) {
    return interactive(Role::Button, std::move(label), action_id, hit_rect(message));
  };

  // "remote.connection.new" is both the rail's Add and the list's New: each
  // node takes the region of its own control. The rail's lies in its strip
  // (the topmost there); the list's header button is the first one outside it.
  const auto new_connection_bounds = [this](bool rail) -> std::optional<Rect> {
    const double rail_x1 = bounds_.x0 + kRailWidth;
    const auto ours = [&](const HitRegion& r) {
      return r.message == UiMessage::new_connection() && (r.rect.x1 <= rail_x1) == rail;
    };
    const auto& regions = state_.hit_regions;
    if (rail) {
      const auto it = std::find_if(regions.rbegin(), regions.rend(), ours);
      return it == regions.rend() ? std::nullopt : std::optional<Rect>(it->rect);
    }
    const auto it = std::find_if(regions.begin(), regions.end(), ours);
    return it == regions.end() ? std::nullopt : std::optional<Rect>(it->rect);
  };

  AccessNode root = group(Role::Root, "Remote");
  root.bounds = bounds_;

  // Navigation.
  AccessNode nav = group(Role::ButtonGroup, "Remote navigation");
  const bool flap_open = state_.flap.open == FlapOpen::Open;
  if (state_.narrow) {
    AccessNode toggle =
        button(flap_open ? "Close navigation" : "Open navigation", "remote.nav.toggle", UiMessage::toggle_navigation());
    toggle.description = "Show Connections and Add connection";
    toggle.expanded = flap_open;
    nav.children.push_back(std::move(toggle));
  }
  if (!state_.narrow || flap_open) {
    nav.children.push_back(button("Connections", "remote.nav.list", UiMessage::show_connections()));
    nav.children.push_back(
        interactive(Role::Button, "Add connection", "remote.connection.new", new_connection_bounds(true)));
  }
  root.children.push_back(std::move(nav));

  const Screen::Normalized screen = state_.screen.normalized();
  if (screen.kind == Screen::Normalized::Kind::List) {
    AccessNode list_screen = group(Role::Group, "Connections");
    list_screen.children.push_back(
        passive(Role::Heading, "Remote Machines", "remote.list.heading", vesk_ui::access::kTextMarkerDefault));
    AccessNode create =
        interactive(Role::Button, "New connection", "remote.connection.new", new_connection_bounds(false));
    create.id = vesk_ui::access::node_id(kListNewConnectionNode);
    list_screen.children.push_back(std::move(create));
    AccessNode search = interactive(Role::TextInput, "Search saved connections", "remote.field:search",
                                    hit_rect(UiMessage::focus_field(InputField::Search)));
    search.description = "Shortcut: slash or Control F";
    search.value = state_.search;
    search.focused = has_keyboard_focus(InputField::Search);
    list_screen.children.push_back(std::move(search));

    AccessNode list = group(Role::List, "Saved connections", "remote.list");
    const ListCache& cached = list_results();
    const std::vector<std::size_t>& rows = cached.order();
    // Only rows painted in the last frame have regions; the others need no lookup.
    std::vector<HitRegion> row_regions;
    std::vector<Uuid> painted;
    for (const HitRegion& region : state_.hit_regions) {
      if (const Uuid* id = std::get_if<Uuid>(&region.message.payload)) {
        row_regions.push_back(region);
        painted.push_back(*id);
      }
    }
    std::sort(painted.begin(), painted.end());
    // Thousands of rows: made again only when something they show changed.
    list.children = list_cache_.rows_node_list(state_.selection, std::move(row_regions), [&] {
      const auto n = static_cast<std::uint32_t>(rows.size());
      std::vector<AccessNode> made_rows;
      made_rows.reserve(n);
      for (std::uint32_t i = 0; i < n; ++i) {
        const SavedConnection& c = state_.connections[rows[i]];
        const Readiness readiness = cached.readiness(rows[i]);
        // The texts and ids of a row change only with its record: made once.
        AccessNode row = list_cache_.row_node(rows[i], [&] {
          const std::string id = c.id.to_string();
          AccessNode made = interactive(
              Role::ListItem,
              remote::text::fill("{}, {}, {}, {}, last used {}", {c.name, c.kind.label(), presence_word(c.presence),
                                                                  readiness_text(c, readiness), c.last_used}),
              remote::text::fill("remote.connection:{}:select", {id}), std::nullopt);
          made.value = c.target_label();
          AccessNode star = interactive(Role::ToggleButton, c.favorite ? "Remove from favourites" : "Add to favourites",
                                        remote::text::fill("remote.connection:{}:favorite", {id}), std::nullopt);
          star.toggled = c.favorite;
          made.children.push_back(std::move(star));
          made.children.push_back(interactive(Role::Button, "Edit connection",
                                              remote::text::fill("remote.connection:{}:edit", {id}), std::nullopt));
          if (readiness == Readiness::Ready) {
            made.children.push_back(interactive(
                Role::Button, "Connect", remote::text::fill("remote.connection:{}:connect", {id}), std::nullopt));
          }
          return made;
        });
        row.set_size = n;
        row.position_in_set = i + 1;
        row.selected = state_.selection == c.id;
        if (std::binary_search(painted.begin(), painted.end(), c.id)) {
          row.bounds = hit_rect(UiMessage::select_connection(c.id));
          row.children[0].bounds = hit_rect(UiMessage::toggle_favorite(c.id));
          row.children[1].bounds = hit_rect(UiMessage::edit_connection(c.id));
          if (row.children.size() > 2) row.children[2].bounds = hit_rect(UiMessage::request_connect(c.id));
        }
        made_rows.push_back(std::move(row));
      }
      return vesk_ui::access::NodeList(std::move(made_rows));
    });
    list_screen.children.push_back(std::move(list));
    if (rows.empty()) {
      list_screen.children.push_back(passive(
          Role::Text,
          state_.connections.empty() ? "No machines yet. Add a connection to reach it over SSH, VNC, or the Vesk relay."
                                     : "No machines match your search.",
          "remote.list.empty", vesk_ui::access::kTextMarkerStatus));
    }
    root.children.push_back(std::move(list_screen));
  } else if (screen.kind == Screen::Normalized::Kind::Form) {
    const ConnectionForm& form = state_.form;
    const bool edit = state_.screen.kind == Screen::Kind::EditConnectionForm;
    const std::string title = edit ? "Edit connection" : "New connection";
    AccessNode form_screen = group(Role::Group, title);
    form_screen.children.push_back(
        passive(Role::Heading, title, "remote.form.heading", vesk_ui::access::kTextMarkerDefault));

    AccessNode protocol = group(Role::Group, "Protocol", "remote.form.protocol");
    for (ConnectionKind kind : {ConnectionKind::Ssh, ConnectionKind::Vnc, ConnectionKind::Vesk}) {
      AccessNode option =
          interactive(Role::Option, std::string(kind.label()), remote::text::fill("remote.kind:{}", {kind.as_str()}),
                      hit_rect(UiMessage::set_kind(kind)));
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
      for (std::size_t k = 0; k < state_.discovered_devices.size(); ++k) {
        const DiscoveredDevice& d = state_.discovered_devices[k];
        AccessNode item =
            interactive(Role::ListItem, d.display_name, remote::text::fill("remote.device:{}", {std::to_string(k)}),
                        hit_rect(UiMessage::choose_discovered_device(k)));
        item.value = d.endpoint_id;
        item.description = d.online ? "Online" : "Offline";
        item.selected = form.host == d.endpoint_id;
        devices.children.push_back(std::move(item));
      }
      form_screen.children.push_back(std::move(devices));
      form_screen.children.push_back(
          passive(Role::Text, "Authentication: Vesk device identity. No password is stored or requested.",
                  "remote.form.vesk-authentication", vesk_ui::access::kTextMarkerDefault));
    }
    const auto add_field = [&](InputField field, std::string label, const std::string& value) {
      AccessNode node =
          interactive(Role::TextInput, std::move(label), remote::text::fill("remote.field:{}", {field.as_str()}),
                      hit_rect(UiMessage::focus_field(field)));
      node.value = value;
      node.focused = has_keyboard_focus(field);
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
        AccessNode option = interactive(Role::Option, std::string(method.label()),
                                        remote::text::fill("remote.auth:{}", {method.id_word()}),
                                        hit_rect(UiMessage::set_auth(method)));
        option.toggled = form.auth == method;
        auth.children.push_back(std::move(option));
      }
      form_screen.children.push_back(std::move(auth));
    }
    const std::vector<std::string> problems = shown_form_problems();
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
    actions.children.push_back(button("Cancel", "remote.form.cancel", UiMessage::cancel_form()));
    actions.children.push_back(button("Save connection", "remote.form.save", UiMessage::save_form()));
    if (edit) {
      actions.children.push_back(
          button("Delete connection", remote::text::fill("remote.connection:{}:delete", {state_.screen.id.to_string()}),
                 UiMessage::request_delete(state_.screen.id)));
    }
    form_screen.children.push_back(std::move(actions));
    root.children.push_back(std::move(form_screen));
  } else {
    AccessNode session = group(Role::Group, "Remote session");
    const Uuid id = state_.screen.id;
    const SavedConnection* c = find_connection(state_.connections, id);
    std::optional<SessionStatus> status;
    if (state_.live_session) status = state_.live_session->status();
    session.children.push_back(passive(Role::Heading, c ? c->name : "Remote session", "remote.session.heading",
                                       vesk_ui::access::kTextMarkerDefault));
    std::string status_text = "Not connected";
    if (status) {
      switch (status->kind) {
        case SessionStatus::Kind::Connecting: status_text = "Connecting"; break;
        case SessionStatus::Kind::Connected: status_text = "Connected"; break;
        case SessionStatus::Kind::Ended: status_text = "Session ended"; break;
        case SessionStatus::Kind::Unavailable:
          status_text = remote::text::fill("Not available: {}", {status->message});
          break;
        case SessionStatus::Kind::Failed:
          status_text = remote::text::fill("Connection failed: {}", {status->message});
          break;
      }
    }
    AccessNode status_node =
        passive(Role::Text, status_text, "remote.session.status", vesk_ui::access::kTextMarkerStatus);
    // The card shows a long reason cut short; the whole text is here.
    if (status && !status->message.empty()) status_node.description = status->message;
    session.children.push_back(std::move(status_node));
    const bool connected = status && status->is_connected();
    if (connected) {
      const bool ssh = c && c->kind == ConnectionKind::Ssh;
      AccessNode surface = passive(ssh ? Role::Terminal : Role::RemotePicture,
                                   ssh ? "Interactive SSH terminal" : "Interactive remote desktop",
                                   "remote.session.surface", vesk_ui::access::kTextMarkerDefault);
      surface.description = "Keyboard and pointer input are sent to the remote machine";
      session.children.push_back(std::move(surface));
      if (c && !ssh) {
        AccessNode scale = interactive(Role::ToggleButton, "Scale remote desktop to fit", "remote.session.scale",
                                       hit_rect(UiMessage::toggle_scale()));
        scale.toggled = state_.scale_to_fit;
        session.children.push_back(std::move(scale));
        session.children.push_back(button(state_.fullscreen ? "Exit fullscreen" : "Enter fullscreen",
                                          "remote.session.fullscreen", UiMessage::toggle_fullscreen()));
      }
    }
    // The card's first button: the host-key button whenever the card shows
    // one (it takes Retry's place), else Retry for a failure.
    const auto observation = c && c->kind == ConnectionKind::Ssh && !connected ? pending_host_key(id) : std::nullopt;
    if (observation && observation->unknown()) {
      session.children.push_back(button("Trust key",
                                        remote::text::fill("remote.connection:{}:trust-host-key", {id.to_string()}),
                                        UiMessage::request_trust_host_key(id)));
    } else if (observation && observation->changed()) {
      session.children.push_back(button("Forget key",
                                        remote::text::fill("remote.connection:{}:forget-host-key", {id.to_string()}),
                                        UiMessage::request_forget_host_key(id)));
    } else if (status && status->kind == SessionStatus::Kind::Failed) {
      session.children.push_back(button("Retry connection",
                                        remote::text::fill("remote.connection:{}:connect", {id.to_string()}),
                                        UiMessage::request_connect(id)));
    }
    if (status && status->kind == SessionStatus::Kind::Unavailable) {
      session.children.push_back(button("Edit connection",
                                        remote::text::fill("remote.connection:{}:edit", {id.to_string()}),
                                        UiMessage::edit_connection(id)));
    }
    session.children.push_back(
        button(connected ? "Disconnect" : "Back to list", "remote.session.disconnect", UiMessage::disconnect()));
    root.children.push_back(std::move(session));
  }

  if (state_.confirmation) {
    const Confirmation& confirmation = *state_.confirmation;
    const SavedConnection* c = find_connection(state_.connections, confirmation.id);
    const std::string name = c ? c->name : "this saved connection";
    AccessNode dialog;
    dialog.role = Role::Dialog;
    dialog.modal = true;
    dialog.bounds = bounds_;
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
        dialog.description = remote::text::fill(
            "Verify {} {} out of band. This device-private trust is checked again before connecting.",
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
    dialog.children.push_back(button("Cancel", "remote.confirmation.cancel", UiMessage::cancel_confirmation()));
    dialog.children.push_back(button(confirm_label, "remote.confirmation.confirm", UiMessage::confirm()));
    root.children.push_back(std::move(dialog));
  }
  if (state_.notice) {
    root.children.push_back(
        passive(Role::Text, *state_.notice, "remote.action.notice", vesk_ui::access::kTextMarkerStatus));
  }
  return root;
}

bool RemoteApp::perform_semantic_action(std::string_view action_id, const vesk_ui::access::SemanticAction& action,
                                        vesk_ui::doc::Document* document) {
  const ActionKind kind = action.kind;
  const auto send = [&](const UiMessage& message) {
    if (document) {
      apply_message(message, *document);
    } else {
      apply_view_message(message);
    }
    return true;
  };
  const bool activate = kind == ActionKind::Activate;
  // Only what is shown can be acted on: a hidden form, a row filtered out or a
  // toggle the layout lacks is not a target.
  if (!accessibility_tree().find_by_action_id(action_id)) return false;

  if (state_.confirmation) {
    if (!activate) return false;
    if (action_id == "remote.confirmation.cancel") return send(UiMessage::cancel_confirmation());
    if (action_id == "remote.confirmation.confirm") return send(UiMessage::confirm());
    return false;
  }

  if (action_id.starts_with("remote.field:")) {
    const auto field = field_for_word(action_id.substr(13));
    if (!field) return false;
    if (activate || kind == ActionKind::Focus) {
      focus_input(*field);
      state_.redraw = true;
      return true;
    }
    if (kind != ActionKind::SetValue) return false;
    std::string value = vesk_ui::widget::text_input::single_line(action.value.value_or(std::string()));
    if (*field == InputField::Port) {
      std::erase_if(value, [](char ch) { return ch < '0' || ch > '9'; });
    }
    // A value the input could not hold is refused whole rather than cut: the
    // client learns it was not taken.
    if (field_length_problem(*field, value)) return false;
    std::string& target = *field == InputField::Search ? state_.search
                          : *field == InputField::Name ? state_.form.name
                          : *field == InputField::Host ? state_.form.host
                          : *field == InputField::Port ? state_.form.port
                          : *field == InputField::User ? state_.form.user
                                                       : state_.form.group;
    TextInput& input = input_mut(*field);
    input.set_text(value);
    // The widget keeps one clean line; the state holds what it shows.
    target = input.text();
    input.set_cursor_pos(target.size());
    focus_input(*field);
    if (*field == InputField::Search) {
      const ConnectionView view = filtered_connections(state_.connections, state_.search);
      state_.selection = view.empty() ? std::nullopt : std::optional<Uuid>(view.front()->id);
      state_.list_scroll = 0;
    }
    state_.redraw = true;
    return true;
  }
  if (action_id.starts_with("remote.kind:")) {
    if (!activate && kind != ActionKind::Toggle) return false;
    return send(UiMessage::set_kind(ConnectionKind::parse(action_id.substr(12))));
  }
  if (action_id.starts_with("remote.auth:")) {
    if (!activate && kind != ActionKind::Toggle) return false;
    const std::string_view word = action_id.substr(12);
    const AuthKind method = word == "public-key"        ? AuthKind::PublicKey
                            : word == "device-identity" ? AuthKind::DeviceIdentity
                                                        : AuthKind::Password;
    if (!method.allowed_for(state_.form.kind)) return false;
    return send(UiMessage::set_auth(method));
  }
  if (action_id.starts_with("remote.device:")) {
    if (!activate && kind != ActionKind::Focus) return false;
    const auto index = parse_decimal(action_id.substr(14));
    if (!index) return false;
    return send(UiMessage::choose_discovered_device(*index));
  }
  if (action_id.starts_with("remote.connection:")) {
    const std::string_view rest = action_id.substr(18);
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) return false;
    const auto id = Uuid::parse(rest.substr(0, colon));
    if (!id) return false;
    const std::string_view verb = rest.substr(colon + 1);
    if (verb == "select") {
      if (kind == ActionKind::Select) {
        const std::vector<Uuid> rows = collect_connection_ids(filtered_connections(state_.connections, state_.search));
        const auto at = std::find(rows.begin(), rows.end(), *id);
        if (at == rows.end()) return false;
        state_.selection = *id;
        scroll_selection_into_view(static_cast<std::size_t>(at - rows.begin()), rows.size());
        state_.redraw = true;
        return true;
      }
      if (activate || kind == ActionKind::Focus) return send(UiMessage::select_connection(*id));
      return false;
    }
    if (verb == "favorite" && (activate || kind == ActionKind::Toggle)) return send(UiMessage::toggle_favorite(*id));
    if (!activate) return false;
    if (verb == "edit") return send(UiMessage::edit_connection(*id));
    if (verb == "connect") return send(UiMessage::request_connect(*id));
    if (verb == "delete") return send(UiMessage::request_delete(*id));
    if (verb == "trust-host-key") return send(UiMessage::request_trust_host_key(*id));
    if (verb == "forget-host-key") return send(UiMessage::request_forget_host_key(*id));
    return false;
  }
  if (action_id == "remote.session.scale" && (activate || kind == ActionKind::Toggle)) {
    return send(UiMessage::toggle_scale());
  }
  if (!activate) return false;
  if (action_id == "remote.nav.toggle") return send(UiMessage::toggle_navigation());
  if (action_id == "remote.nav.list") return send(UiMessage::show_connections());
  if (action_id == "remote.connection.new") return send(UiMessage::new_connection());
  if (action_id == "remote.form.cancel") return send(UiMessage::cancel_form());
  if (action_id == "remote.form.save") return send(UiMessage::save_form());
  if (action_id == "remote.session.disconnect") return send(UiMessage::disconnect());
  if (action_id == "remote.session.fullscreen") return send(UiMessage::toggle_fullscreen());
  return false;
}

}  // namespace remote::app
