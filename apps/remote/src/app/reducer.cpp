// The message reducer: every change the user makes to the application state.
#include <algorithm>

#include "apps/remote/src/actions/dispatch.hpp"
#include "apps/remote/src/actions/registration.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"

namespace remote::app {

void RemoteApp::close_navigation_if_narrow() {
  if (state_.narrow && state_.flap.open == FlapOpen::Open) state_.flap.open = FlapOpen::Closed;
}

void RemoteApp::apply_message(const UiMessage& message, Document& document) {
  using Tag = UiMessage::Tag;
  const ReleaseWhenInactive release_after(*this);
  state_.redraw = true;
  const std::optional<std::string> notice_before = state_.notice;
  switch (message.tag) {
    case Tag::ShowConnections:
    case Tag::CancelForm:
      state_.screen = Screen::connection_list();
      blur_input();
      close_navigation_if_narrow();
      break;
    case Tag::NewConnection:
      // The old screen's field is left first, so the new form starts untouched.
      blur_input();
      state_.form = ConnectionForm{};
      state_.form_visibility = FormVisibility{};
      state_.screen = Screen::new_connection_form();
      load_form_inputs();
      focus_input(InputField::Name);
      close_navigation_if_narrow();
      break;
    case Tag::EditConnection: {
      const SavedConnection* c = find_connection(state_.connections, message.id().value_or(Uuid{}));
      if (!c) break;
      blur_input();
      state_.form = ConnectionForm::from_connection(*c);
      state_.form_visibility = FormVisibility{};
      state_.screen = Screen::edit_connection_form(c->id);
      load_form_inputs();
      focus_input(InputField::Name);
      break;
    }
    case Tag::OpenSession:
      if (auto id = message.id()) open_session(*id);
      break;
    case Tag::RequestConnect:
      if (auto id = message.id()) request_connect(*id);
      break;
    case Tag::SelectConnection:
      if (auto id = message.id()) state_.selection = *id;
      break;
    case Tag::ToggleFavorite: {
      auto id = message.id();
      const SavedConnection* c = id ? find_connection(state_.connections, *id) : nullptr;
      if (!c) break;
      const bool favorite = !c->favorite;
      toggle_favorite(state_.connections, *id);
      dispatch_action(document, RemoteAction::SetFavorite{*id, favorite});
      break;
    }
    case Tag::RequestDelete:
      if (auto id = message.id()) request_delete(*id);
      break;
    case Tag::RequestTrustHostKey:
    case Tag::RequestForgetHostKey: request_host_key(message); break;
    case Tag::Confirm: confirm(document); break;
    case Tag::CancelConfirmation:
      state_.confirmation.reset();
      state_.notice = notice::kCancelled;
      break;
    case Tag::FocusField:
      if (auto field = message.field()) focus_input(*field);
      break;
    case Tag::SetKind:
      if (auto kind = message.kind()) set_kind(*kind);
      break;
    case Tag::SetAuth:
      if (auto auth = message.auth()) state_.form.auth = *auth;
      break;
    case Tag::SaveForm: save_form(document); break;
    case Tag::ToggleScale: state_.scale_to_fit = !state_.scale_to_fit; break;
    case Tag::ToggleFullscreen: state_.fullscreen = !state_.fullscreen; break;
    case Tag::Disconnect: disconnect(); break;
    case Tag::ChooseDiscoveredDevice:
      if (auto index = message.device_index()) choose_discovered_device(*index);
      break;
    case Tag::ToggleNavigation: {
      const FlapState& flap = state_.flap;
      const bool open =
          flap.open == FlapOpen::Automatic ? (flap.automatic_default && !state_.narrow) : flap.open == FlapOpen::Open;
      state_.flap.open = open ? FlapOpen::Closed : FlapOpen::Open;
      break;
    }
  }
  keep_storage_notice(notice_before);
}

void RemoteApp::request_connect(const Uuid& id) {
  const SavedConnection* c = find_connection(state_.connections, id);
  if (!c) {
    state_.notice = notice::kConnectionGone;
    return;
  }
  if (return_to_live_session(id)) return;
  if (const Readiness readiness = c->readiness(); readiness != Readiness::Ready) {
    // A running session of another connection is not given up for one that
    // cannot start: the reason becomes the notice instead.
    if (state_.live_session && state_.session_connection && *state_.session_connection != id) {
      const SessionStatus status = state_.live_session->status();
      if (status.is_connecting() || status.is_connected()) {
        std::optional<std::string> problem;
        if (readiness == Readiness::InvalidProfile) problem = c->validate_target();
        state_.notice = problem.value_or(std::string(readiness.message(c->kind)));
        return;
      }
    }
    open_session(id);  // shows why it cannot connect
    return;
  }
  state_.notice.reset();
  state_.confirmation = Confirmation::connect(connection_signature(*c), id);
  blur_input();
}

bool RemoteApp::return_to_live_session(const Uuid& id) {
  if (!state_.live_session || state_.session_connection != id) return false;
  const SessionStatus status = state_.live_session->status();
  if (!status.is_connecting() && !status.is_connected()) return false;
  // The running session is the one asked for: connecting again would drop
  // it, and with it whatever the remote program had not saved.
  state_.screen = Screen::session(id);
  state_.redraw = true;
  blur_input();
  close_navigation_if_narrow();
  return true;
}

void RemoteApp::request_delete(const Uuid& id) {
  const SavedConnection* c = find_connection(state_.connections, id);
  if (!c) {
    state_.notice = notice::kConnectionGone;
    return;
  }
  state_.notice.reset();
  state_.confirmation = Confirmation::remove(connection_signature(*c), id);
  blur_input();
}

void RemoteApp::request_host_key(const UiMessage& message) {
  auto id = message.id();
  const SavedConnection* c = id ? find_connection(state_.connections, *id) : nullptr;
  if (!c) return;
  const auto observation = pending_host_key(*id);
  if (message.tag == UiMessage::Tag::RequestTrustHostKey) {
    if (observation && observation->unknown()) {
      state_.confirmation =
          Confirmation::trust_ssh_host_key(connection_signature(*c), observation->unknown()->presented, *id);
    } else {
      state_.notice = notice::kNoKeyToTrust;
    }
    return;
  }
  if (observation && observation->changed()) {
    state_.confirmation = Confirmation::forget_ssh_host_key(connection_signature(*c), *id);
  } else {
    state_.notice = notice::kNoKeyToForget;
  }
}

void RemoteApp::confirm(Document& document) {
  auto taken = std::exchange(state_.confirmation, std::nullopt);
  if (!taken) return;
  const Confirmation& confirmation = *taken;
  const SavedConnection* found = find_connection(state_.connections, confirmation.id);
  if (!found) {
    state_.notice = notice::kRemovedBeforeConfirmation;
    return;
  }
  if (connection_signature(*found) != confirmation.signature) {
    state_.notice = notice::kChangedWhileOpen;
    return;
  }
  const SavedConnection profile = *found;
  switch (confirmation.kind) {
    case Confirmation::Kind::Connect: open_session(profile.id); break;
    case Confirmation::Kind::Delete: {
      remove_connection(state_.connections, profile.id);
      dispatch_action(document, RemoteAction::DeleteConnection{profile.id});
      if (state_.selection == profile.id) {
        state_.selection = list_results().first_listed(state_.connections);
      }
      // A live session of a deleted profile would otherwise run on unseen.
      if (state_.live_session && state_.session_connection == profile.id) {
        const Screen screen = state_.screen;
        disconnect();
        if (!screen.is_session_of(profile.id)) state_.screen = screen;
      }
      // Saving the open edit form would bring the deleted profile back.
      if (state_.screen.kind == Screen::Kind::EditConnectionForm && state_.screen.id == profile.id) {
        blur_input();
        state_.screen = Screen::connection_list();
      }
      break;
    }
    case Confirmation::Kind::TrustSshHostKey: confirm_trust(confirmation, profile); break;
    case Confirmation::Kind::ForgetSshHostKey: confirm_forget(profile); break;
  }
}

void RemoteApp::confirm_trust(const Confirmation& confirmation, const SavedConnection& profile) {
  const auto at = pending_host_key_at(profile.id);
  const ssh::UnknownHostKey* unknown = at ? at->observation.unknown() : nullptr;
  // The key must be the one approved, seen at the target the profile names now.
  if (!unknown || !confirmation.identity || unknown->presented != *confirmation.identity || at->host != profile.host ||
      at->port != profile.port) {
    state_.notice = notice::kTrustStale;
    return;
  }
  auto path = ssh::known_hosts_path();
  if (!path) {
    state_.notice = remote::text::fill(notice::kStorageUnavailable, {path.error()});
    return;
  }
  if (auto trusted = ssh::KnownHosts::trust(*path, at->host, at->port, unknown->presented); !trusted) {
    state_.notice = remote::text::fill(notice::kTrustFailed, {trusted.error()});
    return;
  }
  open_session(profile.id);
}

void RemoteApp::confirm_forget(const SavedConnection& profile) {
  const auto at = pending_host_key_at(profile.id);
  if (!at || !at->observation.changed() || at->host != profile.host || at->port != profile.port) {
    state_.notice = notice::kForgetStale;
    return;
  }
  auto path = ssh::known_hosts_path();
  if (!path) {
    state_.notice = remote::text::fill(notice::kStorageUnavailable, {path.error()});
    return;
  }
  auto forgot = ssh::KnownHosts::forget(*path, at->host, at->port);
  if (!forgot) {
    state_.notice = remote::text::fill(notice::kForgetFailed, {forgot.error()});
    return;
  }
  if (*forgot) {
    state_.notice = notice::kForgot;
    disconnect();
  } else {
    state_.notice = notice::kNoPin;
  }
}

void RemoteApp::save_form(Document& document) {
  const std::vector<std::string> problems = state_.form.problems();
  if (problems.empty()) {
    const Uuid id = state_.screen.kind == Screen::Kind::EditConnectionForm ? state_.screen.id : Uuid::new_v4();
    SavedConnection record = state_.form.to_connection(id);
    if (const SavedConnection* existing = find_connection(state_.connections, id)) {
      record.favorite = existing->favorite;
      record.presence = existing->presence;
      record.last_used = existing->last_used;
    }
    RemoteAction action = actions::to_upsert_action(record);
    upsert_connection(state_.connections, std::move(record));
    dispatch_action(document, std::move(action));
    state_.selection = id;
    state_.screen = Screen::connection_list();
    blur_input();
    return;
  }
  state_.form_visibility.save_attempted = true;
  const ConnectionForm& form = state_.form;
  if (text::trim(form.name).empty()) {
    focus_input(InputField::Name);
  } else if (text::trim(form.host).empty() || form.kind == ConnectionKind::Vesk) {
    focus_input(InputField::Host);
  } else if (text::trim(form.port).empty()) {
    focus_input(InputField::Port);
  }
}

void RemoteApp::set_kind(ConnectionKind kind) {
  ConnectionForm& form = state_.form;
  form.kind = kind;
  if (kind == ConnectionKind::Vesk) {
    form.port.clear();
    form.auth = AuthKind::DeviceIdentity;
  } else {
    const std::string_view port = text::trim(form.port);
    if (port.empty() || port == "0") {
      if (auto p = kind.default_port()) form.port = std::to_string(*p);
    }
  }
  if (!form.auth.allowed_for(kind)) form.auth = kind.allowed_auths().front();
  load_form_inputs();
}

void RemoteApp::choose_discovered_device(std::uint64_t index) {
  if (index >= state_.discovered_devices.size()) return;
  const DiscoveredDevice& device = state_.discovered_devices[static_cast<std::size_t>(index)];
  state_.form.name = device.display_name;
  state_.form.host = device.endpoint_id;
  state_.form.auth = AuthKind::DeviceIdentity;
  state_.form.kind = ConnectionKind::Vesk;
  state_.form.port.clear();
  load_form_inputs();
  focus_input(InputField::Name);
}

void RemoteApp::dispatch_action(Document& document, RemoteAction action) {
  auto context = actions::context_for(action);
  auto dispatched =
      actions::dispatch_with_context(action_host_, document, kRemoteActionKind, action, std::move(context));
  // The in-memory change stays; the next synchronisation brings the list back
  // in line with the document. The user must know the change was not stored.
  if (!dispatched) state_.notice = remote::text::fill(notice::kSaveFailed, {dispatched.error().to_string()});
}

void RemoteApp::apply_view_message(const UiMessage& message) {
  Document scratch;
  apply_message(message, scratch);
}

// ---- text inputs ----

void RemoteApp::focus_input(InputField field) {
  // Focusing the focused field leaves it: nothing is touched.
  if (state_.focused_input != field) blur_input();
  state_.focused_input = field;
  input_mut(field).set_focused(true);
  state_.redraw = true;  // the focus ring moves
}

void RemoteApp::blur_input() {
  auto field = std::exchange(state_.focused_input, std::nullopt);
  if (!field) return;
  input_mut(*field).set_focused(false);
  if (state_.screen.is_form()) {
    switch (*field) {
      case InputField::Name: state_.form_visibility.name_touched = true; break;
      case InputField::Host: state_.form_visibility.host_touched = true; break;
      case InputField::Port: state_.form_visibility.port_touched = true; break;
      default: break;
    }
  }
  state_.redraw = true;
}

namespace {

std::string& field_string(AppState& state, InputField field) {
  switch (field) {
    case InputField::Search: return state.search;
    case InputField::Name: return state.form.name;
    case InputField::Host: return state.form.host;
    case InputField::Port: return state.form.port;
    case InputField::User: return state.form.user;
    case InputField::Group: return state.form.group;
  }
  return state.search;
}

}  // namespace

void RemoteApp::load_form_inputs() {
  input_mut(InputField::Host)
      .set_placeholder(state_.form.kind == ConnectionKind::Vesk
                           ? std::string(kVeskHostPlaceholder)
                           : std::string(InputField(InputField::Host).placeholder()));
  for (InputField field : InputField::ALL) {
    const std::string& value = field_string(state_, field);
    TextInput& input = input_mut(field);
    input.set_text(value);
    input.set_cursor_pos(value.size());
  }
}

void RemoteApp::sync_inputs() {
  for (InputField field : InputField::ALL) {
    if (state_.focused_input == field) continue;
    input_mut(field).set_text(field_string(state_, field));
  }
}

bool RemoteApp::route_input_event(const vesk_ui::event::Event& event, vesk_ui::widget::EventContext& context) {
  if (!state_.focused_input) return false;
  const InputField field = *state_.focused_input;
  TextInput& input = input_mut(field);
  const std::string before = input.text();
  input.set_focused(true);
  const bool handled = input.handle_event(event, context);
  if (input.text() != before) {
    std::string value = input.text();
    if (field == InputField::Port) {
      std::string digits;
      for (char ch : value) {
        if (ch >= '0' && ch <= '9') digits.push_back(ch);
      }
      if (digits.size() != value.size()) {
        input.set_text(digits);
        input.set_cursor_pos(digits.size());
      }
      value = std::move(digits);
    }
    field_string(state_, field) = std::move(value);
  }
  state_.redraw = true;
  return handled;
}

std::vector<std::string> RemoteApp::shown_form_problems() const {
  return visible_form_problems(state_.form.problems(), state_.form_visibility);
}

}  // namespace remote::app
