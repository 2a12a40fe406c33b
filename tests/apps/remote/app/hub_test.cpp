// The session hub by kind and environment, layout and the flap, redraw and
// animation, and document synchronisation.
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;
namespace dl = vesk_ui::device_link;

// Every variable the hub reads, scoped; a private state directory.
struct AppHubFixture : ::testing::Test {
  AppHubFixture()
      : live("REMOTE_LIVE_SESSIONS", std::nullopt),
        pins("REMOTE_SSH_KNOWN_HOSTS", std::nullopt),
        password("REMOTE_SSH_PASSWORD", std::nullopt),
        key("REMOTE_SSH_KEY", std::nullopt),
        vnc_password("REMOTE_VNC_PASSWORD", std::nullopt),
        xdg("XDG_STATE_HOME"),
        home("HOME") {
    dir = std::filesystem::temp_directory_path() / ("remote-hub-" + Uuid::new_v4().to_string());
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    xdg.set(dir.string());
    home.set(dir.string());
    ssh = conn("shell", ConnectionKind::Ssh, "127.0.0.1", closed_port(), AuthKind::Password, "me");
    keyed = conn("keyed", ConnectionKind::Ssh, "127.0.0.1", closed_port(), AuthKind::PublicKey, "me");
    vnc = conn("desk", ConnectionKind::Vnc, "127.0.0.1", closed_port());
    rdp = conn("win", ConnectionKind::Rdp, "198.51.100.3", 3389);
    device = device_conn("bench");
    app = std::make_unique<RemoteApp>(std::vector{ssh, keyed, vnc, rdp, device}, std::vector<DiscoveredDevice>{});
  }
  ~AppHubFixture() override {
    app.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void open(const SavedConnection& c) { app->open_session(c.id); }
  SessionStatus status() const { return app->state().live_session->status(); }
  std::string last_used(const SavedConnection& c) const {
    return find_connection(app->state().connections, c.id)->last_used;
  }

  ScopedEnv live, pins, password, key, vnc_password, xdg, home;
  std::filesystem::path dir;
  SavedConnection ssh, keyed, vnc, rdp, device;
  std::unique_ptr<RemoteApp> app;
};

TEST_F(AppHubFixture, OpenByKindAndEnvironment) {
  struct Case {
    const char* name;
    std::function<void(AppHubFixture&)> env;
    SavedConnection AppHubFixture::*profile;
    SessionStatus want;
    bool touches_last_used;
  };
  const std::string ssh_capability = "SSH is installed, but this build has not been granted live network access.";
  const std::string vnc_capability = "VNC is installed, but this build has not been granted live network access.";
  const std::vector<Case> cases = {
      {"ssh, live sessions off", [](auto&) {}, &AppHubFixture::ssh, SessionStatus::unavailable(ssh_capability), false},
      {"vnc, live sessions off", [](auto&) {}, &AppHubFixture::vnc, SessionStatus::unavailable(vnc_capability), false},
      {"rdp", [](auto& f) { f.live.set(""); }, &AppHubFixture::rdp,
       SessionStatus::unavailable(std::string(Readiness(Readiness::BackendUnavailable).message(ConnectionKind::Rdp))),
       false},
      {"ssh without a password", [](auto& f) { f.live.set(""); }, &AppHubFixture::ssh,
       SessionStatus::failed("no SSH password: set REMOTE_SSH_PASSWORD"), true},
      {"ssh without a key", [](auto& f) { f.live.set(""); }, &AppHubFixture::keyed,
       SessionStatus::failed("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519"), true},
      {"ssh without a state directory",
       [](auto& f) {
         f.live.set("");
         f.xdg.unset();
         f.home.unset();
       },
       &AppHubFixture::ssh,
       SessionStatus::failed(
           "SSH host-key trust is unavailable: no private state directory is available for SSH host trust"),
       true},
      {"ssh started",
       [](auto& f) {
         f.live.set("1");
         f.password.set("pw");
       },
       &AppHubFixture::ssh, SessionStatus::connecting(), true},
      {"vnc started", [](auto& f) { f.live.set(""); }, &AppHubFixture::vnc, SessionStatus::connecting(), true},
      {"device", [](auto&) {}, &AppHubFixture::device, SessionStatus::connecting(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    live.unset();
    password.unset();
    xdg.set(dir.string());
    home.set(dir.string());
    c.env(*this);
    const SavedConnection& profile = this->*c.profile;
    const std::uint64_t serial = app->state().session_serial;
    app->state_mut().fullscreen = true;
    app->state_mut().vnc_button_mask = 5;
    app->state_mut().session_surface = Rect{0, 0, 1, 1};
    find_connection(app->state_mut().connections, profile.id)->last_used = "Never";
    open(profile);
    EXPECT_EQ(app->state().session_serial, serial + 1);
    EXPECT_EQ(app->state().session_connection, profile.id);
    EXPECT_EQ(app->state().screen, Screen::session(profile.id));
    EXPECT_FALSE(app->state().fullscreen);
    EXPECT_EQ(app->state().vnc_button_mask, 0);
    EXPECT_FALSE(app->state().session_surface);
    ASSERT_TRUE(app->state().live_session);
    // A started session may already have failed to reach the closed port.
    const SessionStatus got = status();
    if (c.want.is_connecting() && profile.kind != ConnectionKind::Vesk) {
      EXPECT_TRUE(got.is_connecting() || got.kind == SessionStatus::Kind::Failed) << got.message;
    } else {
      EXPECT_EQ(got, c.want);
    }
    EXPECT_EQ(last_used(profile), c.touches_last_used ? "just now" : "Never");
  }
}

TEST_F(AppHubFixture, VncToAClosedPortFails) {
  live.set("");
  open(vnc);
  ASSERT_TRUE(app->state().live_session->vnc());
  ASSERT_TRUE(eventually([&] { return status().kind == SessionStatus::Kind::Failed; }));
  EXPECT_FALSE(app->vnc_session());  // only a connected session is offered
  EXPECT_FALSE(app->vnc_pointer_position(0, 0));
}

TEST_F(AppHubFixture, UnknownIdsAndExhaustedSerials) {
  app->open_session(Uuid::new_v4());
  EXPECT_EQ(app->state().session_serial, 0u);
  EXPECT_FALSE(app->state().live_session);

  app->state_mut().session_serial = std::numeric_limits<std::uint64_t>::max();
  open(device);
  EXPECT_EQ(status(), SessionStatus::failed("remote session identity exhausted; restart the application"));
  EXPECT_EQ(app->state().session_serial, std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(last_used(device), "Never");
  EXPECT_TRUE(app->state().device_commands.empty());
  app->disconnect();
  EXPECT_EQ(app->state().session_serial, std::numeric_limits<std::uint64_t>::max());

  app->state_mut().session_serial = 0;
  app->state_mut().next_device_session_id = std::numeric_limits<std::uint64_t>::max();
  open(device);
  open(device);
  EXPECT_EQ(app->state().next_device_session_id, std::numeric_limits<std::uint64_t>::max());
}

TEST_F(AppHubFixture, DisconnectResetsTheViewButNotTheButtonMask) {
  open(device);
  app->state_mut().vnc_button_mask = 1;
  app->state_mut().fullscreen = true;
  const auto serial = app->state().session_serial;
  app->disconnect();
  EXPECT_FALSE(app->state().live_session);
  EXPECT_FALSE(app->state().session_connection);
  EXPECT_FALSE(app->state().fullscreen);
  EXPECT_EQ(app->state().screen, Screen::connection_list());
  EXPECT_EQ(app->state().session_serial, serial + 1);
  EXPECT_EQ(app->state().vnc_button_mask, 1);
  // The Open carried the endpoint key parsed from the host.
  const auto commands = app->take_commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(std::get<DeviceLinkCommand::Open>(commands[0].value).endpoint, EndpointId::parse(device.host)->bytes());
}

// ---- layout, flap, redraw and animation ----

TEST(AppLayout, NarrowBelow720AndTheFirstLayoutSnapsTheFlap) {
  struct Case {
    float width;
    bool narrow;
    double position;
  };
  for (const Case& c : {Case{720.0f, false, 1.0}, Case{719.9f, true, 0.0}, Case{1280.0f, false, 1.0}}) {
    auto app = RemoteApp::empty();
    layout(*app, c.width, 800);
    EXPECT_EQ(app->state().narrow, c.narrow) << c.width;
    EXPECT_EQ(app->state().flap.position, c.position) << c.width;
    EXPECT_EQ(app->bounds(), (Rect{0, 0, c.width, 800}));
    EXPECT_FALSE(app->wants_animation_frame());
  }
}

TEST(AppLayout, OverrideAndLaterChanges) {
  auto app = RemoteApp::empty();
  app->apply_layout_word("narrow-open");
  layout(*app, 600, 800);
  EXPECT_EQ(app->state().flap.open, FlapOpen::Open);
  EXPECT_EQ(app->state().flap.position, 1.0);
  EXPECT_FALSE(app->state().navigation_override);

  // Wide to narrow: automatic, position kept, frames wanted until it arrives.
  auto wide = RemoteApp::empty();
  layout(*wide, 1000, 800);
  wide->clear_redraw();
  layout(*wide, 600, 800);
  EXPECT_EQ(wide->state().flap.open, FlapOpen::Automatic);
  EXPECT_EQ(wide->state().flap.position, 1.0);
  EXPECT_FALSE(wide->state().redraw);  // layout never sets it
  EXPECT_TRUE(wide->wants_animation_frame());
  wide->state_mut().flap.position = 0.0005;
  EXPECT_FALSE(wide->wants_animation_frame());
  wide->state_mut().flap.position = 0.5;
  wide->set_reduced_motion(true);
  EXPECT_EQ(wide->state().flap.position, 0.0);
  wide->state_mut().flap.position = 0.5;
  EXPECT_FALSE(wide->wants_animation_frame());  // reduced motion never animates

  auto closed = RemoteApp::empty();
  closed->apply_layout_word("narrow");
  layout(*closed, 1000, 800);
  EXPECT_EQ(closed->state().flap.open, FlapOpen::Closed);
  EXPECT_EQ(closed->state().flap.position, 0.0);
}

TEST(AppLayout, AnimationFollowsTooltipsAndLiveSessions) {
  auto app = std::make_unique<RemoteApp>(std::vector{device_conn("d")}, std::vector<DiscoveredDevice>{});
  layout(*app, 1000, 800);
  EXPECT_FALSE(app->wants_animation_frame());
  app->state_mut().tooltip.on_pointer(vesk_ui::widget::tooltip::TooltipRequest{"tip", Rect{}},
                                      vesk_ui::widget::Clock::now());
  EXPECT_TRUE(app->wants_animation_frame());
  app->state_mut().tooltip.dismiss();
  EXPECT_FALSE(app->wants_animation_frame());
  app->open_session(app->state().connections[0].id);
  EXPECT_TRUE(app->wants_animation_frame());  // connecting
  app->state_mut().live_session = LiveSession{LiveSession::Review{SessionStatus::failed("x")}};
  EXPECT_TRUE(app->wants_animation_frame());  // the failure is not painted yet
  app->advance_frame(vesk_ui::widget::Clock::now());
  EXPECT_FALSE(app->wants_animation_frame());

  std::vector<Rect> damage;
  app->clear_redraw();
  app->invalidate_if_dirty(damage);
  EXPECT_TRUE(damage.empty());
  app->state_mut().redraw = true;
  app->invalidate_if_dirty(damage);
  EXPECT_EQ(damage, std::vector{app->bounds()});
}

TEST(AppWidget, NamesAndLoading) {
  auto app = RemoteApp::empty();
  EXPECT_EQ(app->type_name(), "remote::app::RemoteApp");
  EXPECT_EQ(app->widget_name(), "RemoteApp");
  EXPECT_EQ(app->as_device_link_host(), static_cast<vesk_ui::device_link::DeviceLinkHost*>(app.get()));
  EXPECT_TRUE(app->is_loading());
  Document d;
  app->sync_document(d);
  EXPECT_FALSE(app->is_loading());
}

TEST(AppFrame, TheFlapEasesTowardItsTargetAndSettlesExactly) {
  auto app = RemoteApp::empty();
  layout(*app, 1000, 800);
  layout(*app, 600, 800);  // target 0, position 1
  auto now = app->state().last_paint;
  app->clear_redraw();
  now += std::chrono::milliseconds(50);
  app->advance_frame(now);
  EXPECT_NEAR(app->state().flap.position, std::exp(-0.7), 1e-9);
  EXPECT_TRUE(app->state().redraw);
  // A long pause counts as 0.1 s.
  const double before = app->state().flap.position;
  now += std::chrono::seconds(10);
  app->advance_frame(now);
  EXPECT_NEAR(app->state().flap.position, before * std::exp(-1.4), 1e-9);
  for (int i = 0; i < 100 && app->state().flap.position != 0.0; ++i) {
    now += std::chrono::milliseconds(100);
    app->advance_frame(now);
  }
  EXPECT_EQ(app->state().flap.position, 0.0);
  app->clear_redraw();
  now += std::chrono::milliseconds(16);
  app->advance_frame(now);
  EXPECT_FALSE(app->state().redraw);
  EXPECT_FALSE(app->wants_animation_frame());
}

TEST(AppFrame, ConnectedProfilesShowOnlineWhileTheirSessionScreenIsShown) {
  SavedConnection d = device_conn("d");
  d.presence = Presence::Offline;
  auto app = std::make_unique<RemoteApp>(std::vector{d}, std::vector<DiscoveredDevice>{});
  app->open_session(d.id);
  const auto id = app->state().live_session->device()->id();
  app->advance_frame(vesk_ui::widget::Clock::now());
  EXPECT_EQ(app->state().connections[0].presence, Presence::Offline);  // still connecting
  app->on_device_event(device_event(id, vesk_ui::device_link::DeviceLinkEvent::Connected{8, 8}));
  app->state_mut().screen = Screen::connection_list();
  app->advance_frame(vesk_ui::widget::Clock::now());
  EXPECT_EQ(app->state().connections[0].presence, Presence::Offline);
  app->state_mut().screen = Screen::session(d.id);
  app->clear_redraw();
  app->advance_frame(vesk_ui::widget::Clock::now());
  EXPECT_EQ(app->state().connections[0].presence, Presence::Online);
  EXPECT_TRUE(app->state().redraw);
}

// ---- document synchronisation ----

TEST(AppSyncDocument, FirstSyncSeedsOrReplaces) {
  const SavedConnection a = conn("a", ConnectionKind::Ssh, "a.example.com", 22);
  const SavedConnection b = conn("b", ConnectionKind::Ssh, "b.example.com", 22);
  {
    auto app = std::make_unique<RemoteApp>(std::vector{a}, std::vector<DiscoveredDevice>{});
    Document d;
    app->clear_redraw();
    app->sync_document(d);
    EXPECT_EQ(doc::load_connections(d), std::vector{a});
    EXPECT_EQ(app->state().connections, std::vector{a});
    EXPECT_TRUE(app->state().loaded);
    EXPECT_TRUE(app->state().redraw);
  }
  {
    auto app = std::make_unique<RemoteApp>(std::vector{a}, std::vector<DiscoveredDevice>{});
    Document d;
    doc::write_connection(d, b);
    app->sync_document(d);
    EXPECT_EQ(app->state().connections, std::vector{b});
    EXPECT_EQ(app->state().selection, b.id);
  }
  {
    auto app = RemoteApp::empty();
    Document d;
    const auto heads = d.get_heads();
    app->clear_redraw();
    app->sync_document(d);
    EXPECT_EQ(d.get_heads(), heads);
    EXPECT_TRUE(app->state().loaded);
    EXPECT_TRUE(app->state().redraw);
  }
}

TEST(AppSyncDocument, LaterSyncsReplaceOnAnyDifference) {
  SavedConnection a = device_conn("a");
  const SavedConnection b = conn("b", ConnectionKind::Ssh, "b.example.com", 22);
  auto app = std::make_unique<RemoteApp>(std::vector{a, b}, std::vector<DiscoveredDevice>{});
  Document d;
  app->sync_document(d);
  app->sync_document(d);  // takes the document's order (by key)
  app->clear_redraw();
  app->sync_document(d);
  EXPECT_FALSE(app->state().redraw);

  // The selected and the live connection vanish from the document.
  app->open_session(a.id);
  ASSERT_EQ(app->state().selection, a.id);
  (void)app->take_commands();
  const std::uint64_t session_id = app->state().live_session->device()->id();
  doc::delete_connection(d, a.id);
  app->clear_redraw();
  app->sync_document(d);
  EXPECT_EQ(app->state().connections, std::vector{b});
  EXPECT_EQ(app->state().selection, b.id);
  EXPECT_FALSE(app->state().live_session);
  EXPECT_EQ(app->state().screen, Screen::connection_list());
  EXPECT_EQ(app->take_commands(), std::vector{DeviceLinkCommand::close(session_id)});
  EXPECT_TRUE(app->state().redraw);

  // A difference in one field replaces the list; a kept selection stays.
  SavedConnection renamed = b;
  renamed.name = "b2";
  doc::write_connection(d, renamed);
  app->sync_document(d);
  EXPECT_EQ(app->state().connections, std::vector{renamed});
  EXPECT_EQ(app->state().selection, b.id);
  app->state_mut().selection = a.id;  // not in the list: the first row instead
  doc::write_connection(d, b);
  app->sync_document(d);
  EXPECT_EQ(app->state().selection, b.id);
  doc::delete_connection(d, b.id);
  app->sync_document(d);
  EXPECT_FALSE(app->state().selection);
}

}  // namespace
