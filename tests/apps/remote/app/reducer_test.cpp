#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;

// Three profiles: an SSH one (not ready unless live sessions are on), a device
// (always ready) and a favourite VNC one.
struct AppReducerFixture : ::testing::Test {
  AppReducerFixture() : live("REMOTE_LIVE_SESSIONS", std::nullopt) {
    ssh = conn("alpha", ConnectionKind::Ssh, "alpha.example.com", 22, AuthKind::Password, "me");
    device = device_conn("bench");
    vnc = conn("zeta", ConnectionKind::Vnc, "192.0.2.5", 5900, AuthKind::Password, "", true);
    app = std::make_unique<RemoteApp>(std::vector{ssh, device, vnc}, sample_devices());
    // The decoder thread is irrelevant here; keep device sessions cheap.
    app->set_device_session_options(DeviceSessionOptions{});
  }

  void send(const UiMessage& m) { app->apply_message(m, document); }
  const AppState& s() const { return app->state(); }
  SavedConnection* entry(const Uuid& id) { return find_connection(app->state_mut().connections, id); }

  // The states a running device session can be in, by the event it got after opening.
  struct SessionState {
    const char* name;
    std::optional<vesk_ui::device_link::LinkEvent> event;
    bool running;  // connecting or connected
  };
  static std::vector<SessionState> session_states() {
    namespace dl = vesk_ui::device_link;
    return {
        {"connecting", std::nullopt, true},
        {"connected", device_event(0, dl::DeviceLinkEvent::Connected{64, 48}), true},
        {"ended", device_event(0, dl::DeviceLinkEvent::Closed{}), false},
    };
  }
  // Opens a device session of `id` and brings it to the state; its session id.
  std::uint64_t open_device_session(const Uuid& id, const SessionState& state) {
    send(UiMessage::open_session(id));
    if (!s().live_session || !s().live_session->device()) {
      ADD_FAILURE() << "no device session opened";
      return 0;
    }
    const std::uint64_t session_id = s().live_session->device()->id();
    if (state.event) {
      vesk_ui::device_link::LinkEvent event = *state.event;
      std::get<vesk_ui::device_link::DeviceLinkEvent>(event.value).session_id = session_id;
      app->on_device_event(event);
    }
    return session_id;
  }

  ScopedEnv live;
  SavedConnection ssh, device, vnc;
  std::unique_ptr<RemoteApp> app;
  Document document;
};

TEST_F(AppReducerFixture, RefusalsAndNoOpsByTable) {
  const Uuid unknown = Uuid::new_v4();
  struct Case {
    const char* name;
    std::function<UiMessage(AppReducerFixture&)> message;
    std::optional<std::string> notice;  // none: the notice stays unset
  };
  const std::vector<Case> cases = {
      {"cancel with nothing open", [](auto&) { return UiMessage::cancel_confirmation(); }, notice::kCancelled},
      {"connect unknown", [&](auto&) { return UiMessage::request_connect(unknown); }, notice::kConnectionGone},
      {"delete unknown", [&](auto&) { return UiMessage::request_delete(unknown); }, notice::kConnectionGone},
      {"trust without a key", [](auto& f) { return UiMessage::request_trust_host_key(f.ssh.id); },
       notice::kNoKeyToTrust},
      {"forget without a key", [](auto& f) { return UiMessage::request_forget_host_key(f.ssh.id); },
       notice::kNoKeyToForget},
      {"trust unknown id", [&](auto&) { return UiMessage::request_trust_host_key(unknown); }, std::nullopt},
      {"forget unknown id", [&](auto&) { return UiMessage::request_forget_host_key(unknown); }, std::nullopt},
      {"confirm with nothing open", [](auto&) { return UiMessage::confirm(); }, std::nullopt},
      {"edit unknown", [&](auto&) { return UiMessage::edit_connection(unknown); }, std::nullopt},
      {"favourite unknown", [&](auto&) { return UiMessage::toggle_favorite(unknown); }, std::nullopt},
      {"device index out of range", [](auto&) { return UiMessage::choose_discovered_device(4); }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app = std::make_unique<RemoteApp>(std::vector{ssh, device, vnc}, sample_devices());
    app->clear_redraw();
    const std::vector<SavedConnection> before = s().connections;
    send(c.message(*this));
    EXPECT_TRUE(s().redraw);
    EXPECT_EQ(s().notice, c.notice);
    EXPECT_EQ(s().screen, Screen::connection_list());
    EXPECT_FALSE(s().confirmation);
    EXPECT_FALSE(s().live_session);
    EXPECT_EQ(s().connections, before);
    EXPECT_EQ(s().form, ConnectionForm{});
  }
}

TEST_F(AppReducerFixture, ConnectConfirmationRechecksTheSignatureOnly) {
  app->state_mut().notice = "old";
  send(UiMessage::focus_field(InputField::Search));
  send(UiMessage::request_connect(device.id));
  ASSERT_TRUE(s().confirmation);
  EXPECT_EQ(s().confirmation->kind, Confirmation::Kind::Connect);
  EXPECT_EQ(s().confirmation->signature, connection_signature(device));
  EXPECT_FALSE(s().notice);
  EXPECT_FALSE(s().focused_input);

  // Renaming and starring do not touch the signature.
  entry(device.id)->name = "renamed";
  entry(device.id)->favorite = true;
  send(UiMessage::confirm());
  EXPECT_FALSE(s().confirmation);
  ASSERT_TRUE(s().live_session);
  EXPECT_NE(s().live_session->device(), nullptr);
  EXPECT_EQ(s().screen, Screen::session(device.id));
  EXPECT_FALSE(s().notice);

  // A changed port does (once the session is closed: a running one would be
  // shown again instead).
  send(UiMessage::disconnect());
  send(UiMessage::request_connect(device.id));
  entry(device.id)->port = 7;
  send(UiMessage::confirm());
  EXPECT_EQ(s().notice, notice::kChangedWhileOpen);

  send(UiMessage::request_delete(vnc.id));
  remove_connection(app->state_mut().connections, vnc.id);
  send(UiMessage::confirm());
  EXPECT_EQ(s().notice, notice::kRemovedBeforeConfirmation);
  EXPECT_FALSE(s().confirmation);
}

TEST_F(AppReducerFixture, ConnectRequestForAnUnreadyProfileShowsWhyAtOnce) {
  app->state_mut().notice = "kept";
  send(UiMessage::request_connect(ssh.id));
  EXPECT_FALSE(s().confirmation);
  EXPECT_EQ(s().notice, "kept");
  EXPECT_EQ(s().screen, Screen::session(ssh.id));
  ASSERT_TRUE(s().live_session);
  EXPECT_EQ(s().live_session->status(),
            SessionStatus::unavailable("SSH is installed, but this build has not been granted live network access."));
}

TEST_F(AppReducerFixture, AnUnreadyProfileDoesNotReplaceARunningSession) {
  const std::string why = "SSH is installed, but this build has not been granted live network access.";
  for (const SessionState& state : session_states()) {
    SCOPED_TRACE(state.name);
    app->state_mut().notice.reset();
    const std::uint64_t session_id = open_device_session(device.id, state);
    send(UiMessage::request_connect(ssh.id));
    EXPECT_FALSE(s().confirmation);
    if (state.running) {
      EXPECT_EQ(s().screen, Screen::session(device.id));
      ASSERT_TRUE(s().live_session && s().live_session->device());
      EXPECT_EQ(s().live_session->device()->id(), session_id);
      EXPECT_EQ(s().notice, why);
    } else {
      EXPECT_EQ(s().screen, Screen::session(ssh.id));
      EXPECT_EQ(s().live_session->status(), SessionStatus::unavailable(why));
      EXPECT_FALSE(s().notice);
    }
  }
}

TEST_F(AppReducerFixture, ConnectingAgainReturnsToTheRunningSession) {
  const SavedConnection second = device_conn("second", 1);
  app->state_mut().connections.push_back(second);
  for (const SessionState& state : session_states()) {
    SCOPED_TRACE(state.name);
    const std::uint64_t session_id = open_device_session(device.id, state);
    const std::uint64_t serial = s().session_serial;
    // The session's row is the selection, so Enter on the list leads back.
    EXPECT_EQ(s().selection, device.id);
    // Away from it, as Ctrl+F or Ctrl+N lead, then Enter on its row.
    send(UiMessage::show_connections());
    app->state_mut().notice = "kept";
    const std::size_t commands = s().device_commands.size();
    send(UiMessage::request_connect(device.id));
    if (state.running) {
      EXPECT_FALSE(s().confirmation);
      EXPECT_EQ(s().screen, Screen::session(device.id));
      EXPECT_EQ(s().session_serial, serial);
      ASSERT_TRUE(s().live_session && s().live_session->device());
      EXPECT_EQ(s().live_session->device()->id(), session_id);
      EXPECT_EQ(s().device_commands.size(), commands);
      EXPECT_EQ(s().notice, "kept");
      // Another connection still asks before replacing it.
      send(UiMessage::request_connect(second.id));
      ASSERT_TRUE(s().confirmation);
      EXPECT_EQ(s().confirmation->id, second.id);
      send(UiMessage::confirm());
      EXPECT_EQ(s().screen, Screen::session(second.id));
      EXPECT_NE(s().live_session->device()->id(), session_id);
    } else {
      // An ended session is connected anew, with the confirmation.
      ASSERT_TRUE(s().confirmation);
      EXPECT_EQ(s().screen, Screen::connection_list());
      send(UiMessage::cancel_confirmation());
    }
    send(UiMessage::disconnect());
  }
}

TEST_F(AppReducerFixture, ConfirmedDeleteClosesItsEditFormAndMovesTheSelection) {
  send(UiMessage::edit_connection(vnc.id));
  ASSERT_EQ(s().selection, vnc.id);  // the favourite is the first row
  send(UiMessage::request_delete(vnc.id));
  ASSERT_TRUE(s().confirmation);
  EXPECT_FALSE(s().focused_input);
  send(UiMessage::confirm());
  EXPECT_FALSE(find_connection(s().connections, vnc.id));
  // The form of a deleted profile is gone: nothing left to save it back.
  EXPECT_EQ(s().screen, Screen::connection_list());
  EXPECT_FALSE(s().focused_input);
  // First row by name: "alpha" before "bench".
  EXPECT_EQ(s().selection, ssh.id);
  const auto stored = doc::load_connections(document);
  EXPECT_TRUE(std::none_of(stored.begin(), stored.end(), [&](const auto& c) { return c.id == vnc.id; }));
}

TEST_F(AppReducerFixture, DeletingTheSelectedRowOfASearchedViewSelectsItsFirstRow) {
  app->state_mut().search = "zeta";
  send(UiMessage::select_connection(vnc.id));
  send(UiMessage::request_delete(vnc.id));
  send(UiMessage::confirm());
  EXPECT_FALSE(s().selection);  // the searched view is empty now
}

TEST_F(AppReducerFixture, ConfirmedDeleteOfTheLiveConnectionEndsItsSession) {
  send(UiMessage::open_session(device.id));
  ASSERT_TRUE(s().live_session);
  const std::uint64_t session_id = s().live_session->device()->id();
  (void)app->take_commands();
  send(UiMessage::request_delete(device.id));
  send(UiMessage::confirm());
  EXPECT_FALSE(s().live_session);
  EXPECT_FALSE(s().session_connection);
  EXPECT_EQ(s().screen, Screen::connection_list());
  EXPECT_EQ(app->take_commands(), std::vector{DeviceLinkCommand::close(session_id)});

  // From a form the form stays, but the session still ends.
  send(UiMessage::open_session(vnc.id));
  send(UiMessage::edit_connection(ssh.id));
  send(UiMessage::request_delete(vnc.id));
  send(UiMessage::confirm());
  EXPECT_FALSE(s().live_session);
  EXPECT_EQ(s().screen, Screen::edit_connection_form(ssh.id));
}

TEST_F(AppReducerFixture, ToggleFavoriteFlipsInMemoryAndInTheDocument) {
  doc::write_connections(document, s().connections);
  send(UiMessage::toggle_favorite(ssh.id));
  EXPECT_TRUE(find_connection(s().connections, ssh.id)->favorite);
  const std::vector<SavedConnection> in_document = doc::load_connections(document);
  EXPECT_TRUE(find_connection(in_document, ssh.id)->favorite);
  EXPECT_FALSE(s().notice);
}

TEST_F(AppReducerFixture, AFailedDispatchIsReportedButTheMemoryChangeStays) {
  const auto error = vesk_actions::ActionError::apply("the disk is full");
  app->action_host() = vesk_actions::ActionHost(
      [error](auto&, auto&, auto, auto&, auto,
              const auto&) -> std::expected<vesk_actions::DispatchOutcome, vesk_actions::ActionError> {
        return std::unexpected(error);
      });
  send(UiMessage::toggle_favorite(ssh.id));
  EXPECT_TRUE(find_connection(s().connections, ssh.id)->favorite);
  EXPECT_EQ(s().notice, "Could not save the change: " + error.to_string());
}

TEST_F(AppReducerFixture, SavingAnEditKeepsWhatTheFormDoesNotEdit) {
  entry(vnc.id)->presence = Presence::Online;
  entry(vnc.id)->last_used = "2h ago";
  send(UiMessage::edit_connection(vnc.id));
  EXPECT_EQ(s().screen, Screen::edit_connection_form(vnc.id));
  EXPECT_EQ(s().focused_input, InputField::Name);
  EXPECT_EQ(app->input(InputField::Host).text(), "192.0.2.5");
  app->state_mut().form.name = "zeta two";
  send(UiMessage::save_form());
  const SavedConnection* saved = find_connection(s().connections, vnc.id);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->name, "zeta two");
  EXPECT_TRUE(saved->favorite);
  EXPECT_EQ(saved->presence, Presence::Online);
  EXPECT_EQ(saved->last_used, "2h ago");
  EXPECT_EQ(s().screen, Screen::connection_list());
  EXPECT_FALSE(s().focused_input);
  // The document gets the form's fields only.
  const std::vector<SavedConnection> in_document = doc::load_connections(document);
  const SavedConnection* stored = find_connection(in_document, vnc.id);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->name, "zeta two");
  EXPECT_FALSE(stored->favorite);
}

TEST_F(AppReducerFixture, NewConnectionIsSavedUnderAFreshId) {
  send(UiMessage::new_connection());
  EXPECT_EQ(s().screen, Screen::new_connection_form());
  app->state_mut().form.name = "new box";
  app->state_mut().form.host = "new.example.com";
  send(UiMessage::save_form());
  ASSERT_EQ(s().connections.size(), 4u);
  const SavedConnection& added = s().connections.back();
  EXPECT_EQ(added.name, "new box");
  EXPECT_EQ(s().selection, added.id);
  EXPECT_EQ(doc::load_connections(document).size(), 1u);
}

TEST_F(AppReducerFixture, AFailedSaveShowsEveryProblemAndFocusesTheFirstFieldToFix) {
  struct Case {
    const char* name;
    ConnectionForm form;
    std::optional<InputField> focus;
  };
  ConnectionForm base;
  base.name = "n";
  base.host = "h.example.com";
  auto with = [&](auto change) {
    ConnectionForm f = base;
    change(f);
    return f;
  };
  const std::vector<Case> cases = {
      {"empty name", with([](auto& f) { f.name = "  "; }), InputField::Name},
      {"empty host", with([](auto& f) { f.host = ""; }), InputField::Host},
      {"device", with([](auto& f) {
         f.kind = ConnectionKind::Vesk;
         f.auth = AuthKind::DeviceIdentity;
         f.port = "";
       }),
       InputField::Host},
      {"empty port", with([](auto& f) { f.port = " "; }), InputField::Port},
      {"port zero", with([](auto& f) { f.port = "0"; }), InputField::User},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    send(UiMessage::new_connection());
    send(UiMessage::focus_field(InputField::User));
    app->state_mut().form = c.form;
    send(UiMessage::save_form());
    EXPECT_EQ(s().screen, Screen::new_connection_form());
    EXPECT_TRUE(s().form_visibility.save_attempted);
    EXPECT_EQ(s().focused_input, c.focus);
    EXPECT_EQ(app->shown_form_problems(), c.form.problems());
    EXPECT_FALSE(app->shown_form_problems().empty());
  }
}

TEST_F(AppReducerFixture, SetKindAdjustsPortAndMethod) {
  struct Case {
    ConnectionKind from;
    std::string port;
    AuthKind auth;
    ConnectionKind to;
    std::string want_port;
    AuthKind want_auth;
  };
  const std::vector<Case> cases = {
      {ConnectionKind::Ssh, "22", AuthKind::Password, ConnectionKind::Vnc, "22", AuthKind::Password},
      {ConnectionKind::Ssh, "22", AuthKind::PublicKey, ConnectionKind::Vnc, "22", AuthKind::Password},
      {ConnectionKind::Vesk, "0", AuthKind::DeviceIdentity, ConnectionKind::Ssh, "22", AuthKind::Password},
      {ConnectionKind::Vesk, "", AuthKind::DeviceIdentity, ConnectionKind::Rdp, "3389", AuthKind::Password},
      {ConnectionKind::Ssh, " ", AuthKind::Password, ConnectionKind::Vnc, "5900", AuthKind::Password},
      {ConnectionKind::Ssh, "2222", AuthKind::PublicKey, ConnectionKind::Vesk, "", AuthKind::DeviceIdentity},
  };
  for (const Case& c : cases) {
    send(UiMessage::new_connection());
    app->state_mut().form.kind = c.from;
    app->state_mut().form.port = c.port;
    app->state_mut().form.auth = c.auth;
    send(UiMessage::set_kind(c.to));
    EXPECT_EQ(s().form.kind, c.to);
    EXPECT_EQ(s().form.port, c.want_port) << c.to.label();
    EXPECT_EQ(s().form.auth, c.want_auth) << c.to.label();
    EXPECT_EQ(app->input(InputField::Port).text(), c.want_port);
    EXPECT_EQ(app->input(InputField::Host).placeholder(),
              c.to == ConnectionKind::Vesk ? "certified Vesk endpoint id" : "hostname or IP");
    EXPECT_EQ(s().focused_input, InputField::Name);
  }
  // A method the kind does not allow is stored unchanged and reported.
  send(UiMessage::set_auth(AuthKind::PublicKey));
  EXPECT_EQ(s().form.auth, AuthKind::PublicKey);
  EXPECT_FALSE(s().form.problems().empty());
}

TEST_F(AppReducerFixture, ChoosingADiscoveredDeviceFillsTheForm) {
  send(UiMessage::new_connection());
  app->state_mut().form.user = "kept";
  send(UiMessage::choose_discovered_device(3));  // offline, still usable
  EXPECT_EQ(s().form.name, "Garage Pi");
  EXPECT_EQ(s().form.host, sample_endpoint_id(3));
  EXPECT_EQ(s().form.kind, ConnectionKind::Vesk);
  EXPECT_EQ(s().form.auth, AuthKind::DeviceIdentity);
  EXPECT_EQ(s().form.port, "");
  EXPECT_EQ(s().form.user, "kept");
  EXPECT_EQ(app->input(InputField::Name).text(), "Garage Pi");
  EXPECT_EQ(app->input(InputField::Name).cursor_pos(), 9u);
}

TEST_F(AppReducerFixture, NavigationToggleAndNarrowClose) {
  layout(*app, 1000, 700);
  send(UiMessage::toggle_navigation());
  EXPECT_EQ(s().flap.open, FlapOpen::Closed);
  send(UiMessage::toggle_navigation());
  EXPECT_EQ(s().flap.open, FlapOpen::Open);

  layout(*app, 600, 700);  // narrow: automatic again
  EXPECT_EQ(s().flap.open, FlapOpen::Automatic);
  send(UiMessage::toggle_navigation());
  EXPECT_EQ(s().flap.open, FlapOpen::Open);
  send(UiMessage::new_connection());  // closes an open flap in narrow layout
  EXPECT_EQ(s().flap.open, FlapOpen::Closed);
  send(UiMessage::toggle_navigation());
  send(UiMessage::edit_connection(ssh.id));  // does not
  EXPECT_EQ(s().flap.open, FlapOpen::Open);
}

TEST_F(AppReducerFixture, ListMessagesCloseTheNarrowFlap) {
  layout(*app, 600, 700);
  for (const UiMessage& m : {UiMessage::show_connections(), UiMessage::cancel_form()}) {
    send(UiMessage::edit_connection(ssh.id));
    app->state_mut().flap.open = FlapOpen::Open;
    send(m);
    EXPECT_EQ(s().flap.open, FlapOpen::Closed) << static_cast<int>(m.tag);
    EXPECT_EQ(s().screen, Screen::connection_list());
  }
  // Wide: the flap is left as it is.
  layout(*app, 1000, 700);
  app->state_mut().flap.open = FlapOpen::Open;
  send(UiMessage::show_connections());
  EXPECT_EQ(s().flap.open, FlapOpen::Open);
}

TEST_F(AppReducerFixture, AFreshFormShowsNoProblemUntilTouched) {
  struct Case {
    const char* name;
    std::function<void()> before;  // where the user was
    UiMessage open;
  };
  const std::vector<Case> cases = {
      {"new from the list", [] {}, UiMessage::new_connection()},
      {"new while editing with Name focused", [&] { send(UiMessage::edit_connection(ssh.id)); },
       UiMessage::new_connection()},
      {"new from a new form after a failed save",
       [&] {
         send(UiMessage::new_connection());
         send(UiMessage::save_form());
       },
       UiMessage::new_connection()},
      {"edit while editing with Host focused",
       [&] {
         send(UiMessage::edit_connection(vnc.id));
         send(UiMessage::focus_field(InputField::Host));
       },
       UiMessage::edit_connection(ssh.id)},
      {"edit from a new form with Port focused",
       [&] {
         send(UiMessage::new_connection());
         send(UiMessage::focus_field(InputField::Port));
       },
       UiMessage::edit_connection(device.id)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    send(UiMessage::show_connections());
    c.before();
    app->state_mut().form_visibility = FormVisibility{true, true, true, true};
    send(c.open);
    EXPECT_EQ(s().form_visibility, FormVisibility{});
    EXPECT_EQ(s().focused_input, InputField::Name);
    if (c.open.tag == UiMessage::Tag::NewConnection) {
      EXPECT_EQ(app->shown_form_problems(), std::vector<std::string>{});
      // Focusing the focused field touches nothing; leaving it does.
      send(UiMessage::focus_field(InputField::Name));
      EXPECT_EQ(app->shown_form_problems(), std::vector<std::string>{});
      send(UiMessage::focus_field(InputField::Host));
      ASSERT_FALSE(app->shown_form_problems().empty());
      EXPECT_TRUE(app->shown_form_problems().front().starts_with("Name is required"));
    }
  }
}

TEST_F(AppReducerFixture, ViewTogglesAndDisconnect) {
  send(UiMessage::toggle_scale());
  EXPECT_FALSE(s().scale_to_fit);
  send(UiMessage::toggle_fullscreen());
  EXPECT_TRUE(s().fullscreen);
  send(UiMessage::open_session(device.id));
  EXPECT_FALSE(s().fullscreen);
  send(UiMessage::disconnect());
  EXPECT_FALSE(s().live_session);
  EXPECT_EQ(s().screen, Screen::connection_list());
}

TEST_F(AppReducerFixture, BlurMarksTouchedFieldsOnFormsOnly) {
  send(UiMessage::focus_field(InputField::Host));
  send(UiMessage::focus_field(InputField::Search));
  EXPECT_FALSE(s().form_visibility.host_touched);  // not on a form screen

  send(UiMessage::new_connection());
  EXPECT_TRUE(app->shown_form_problems().empty());
  send(UiMessage::focus_field(InputField::Host));  // leaves Name
  EXPECT_TRUE(s().form_visibility.name_touched);
  EXPECT_EQ(app->shown_form_problems(), std::vector<std::string>{"Name is required"});
  EXPECT_TRUE(app->input(InputField::Host).is_focused());
  EXPECT_FALSE(app->input(InputField::Name).is_focused());
  send(UiMessage::focus_field(InputField::Search));
  EXPECT_TRUE(s().form_visibility.host_touched);
  EXPECT_FALSE(s().form_visibility.port_touched);
}

TEST_F(AppReducerFixture, TypingIntoThePortKeepsDigitsOnly) {
  send(UiMessage::new_connection());
  app->state_mut().form.port = "";
  app->load_form_inputs();
  send(UiMessage::focus_field(InputField::Port));
  vesk_ui::widget::EventContext context;
  for (const char* ch : {"a", "1", "b", "2"}) {
    vesk_ui::event::Key key{std::string(ch), std::nullopt, std::string(ch), true, false};
    app->route_input_event(vesk_ui::event::Event{key}, context);
  }
  EXPECT_EQ(s().form.port, "12");
  EXPECT_EQ(app->input(InputField::Port).text(), "12");
  EXPECT_EQ(app->input(InputField::Port).cursor_pos(), 2u);

  app->blur_input();
  vesk_ui::event::Key key{std::string("x"), std::nullopt, std::string("x"), true, false};
  EXPECT_FALSE(app->route_input_event(vesk_ui::event::Event{key}, context));
}

TEST_F(AppReducerFixture, SyncInputsLeavesTheFocusedInputAlone) {
  send(UiMessage::new_connection());
  app->state_mut().form.name = "elsewhere";
  app->state_mut().form.host = "changed.example.com";
  app->sync_inputs();
  EXPECT_EQ(app->input(InputField::Name).text(), "");  // focused
  EXPECT_EQ(app->input(InputField::Host).text(), "changed.example.com");
}

}  // namespace
