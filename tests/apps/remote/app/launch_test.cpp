// Start-up, the launch description, sample data and the review scenes.
#include <gtest/gtest.h>

#include "apps/remote/src/app/launch.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;

RemoteApp& as_app(const vesk_ui::launch::AppBox& box) { return static_cast<RemoteApp&>(*box); }

TEST(AppLaunch, SampleModeOnlyForExactlyOne) {
  ScopedEnv sample("VESK_REMOTE_SAMPLE");
  const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
      {"1", true}, {"true", false}, {"01", false}, {"1 ", false}, {"", false}, {std::nullopt, false}, {"\xff", false},
  };
  for (const auto& [value, on] : cases) {
    if (value)
      sample.set(*value);
    else
      sample.unset();
    EXPECT_EQ(sample_mode_requested(), on) << value.value_or("<unset>");
    auto built = build_app_for_scene(vesk_ui::launch::LaunchContext{std::string("form"), "id"});
    ASSERT_TRUE(built.has_value());
    const RemoteApp& app = as_app(*built);
    EXPECT_EQ(app.state().connections.size(), on ? 8u : 0u);
    // Review scenes only in sample mode.
    EXPECT_EQ(app.state().screen, on ? Screen::new_connection_form() : Screen::connection_list());
  }
}

TEST(AppLaunch, LaunchModesHoldInBothModes) {
  ScopedEnv sample("VESK_REMOTE_SAMPLE");
  for (const char* value : {"1", "0"}) {
    sample.set(value);
    auto narrow = build_app_for_scene(vesk_ui::launch::LaunchContext{std::string("narrow"), "id"});
    EXPECT_EQ(as_app(*narrow).state().navigation_override, FlapOpen::Closed);
    EXPECT_EQ(as_app(*narrow).state().screen, Screen::connection_list());
    EXPECT_FALSE(as_app(*narrow).state().confirmation);
    auto open = build_app_for_scene(vesk_ui::launch::LaunchContext{std::string("narrow-open"), "id"});
    EXPECT_EQ(as_app(*open).state().navigation_override, FlapOpen::Open);
    auto absent = build_app_for_scene(vesk_ui::launch::LaunchContext{std::nullopt, "id"});
    EXPECT_FALSE(as_app(*absent).state().navigation_override);
    auto unknown = build_app_for_scene(vesk_ui::launch::LaunchContext{std::string("Narrow"), "id"});
    EXPECT_FALSE(as_app(*unknown).state().navigation_override);
  }
  // The default builder reads nothing.
  auto plain = build_default_app();
  EXPECT_TRUE(plain->state().connections.empty());
}

TEST(AppLaunch, DescriptorAndRegistration) {
  const vesk_ui::launch::LaunchDescriptor d = launch_descriptor();
  EXPECT_EQ(d.app_id, "dev.vesk.remote");
  EXPECT_EQ(d.app_name, "Remote");
  EXPECT_TRUE(d.capabilities.empty() && d.optional_capabilities.empty() && d.url_schemes.empty() &&
              d.file_types.empty());
  EXPECT_EQ(d.review_scenes,
            (std::vector<std::string>{"narrow", "narrow-open", "form", "form-vesk", "session-ssh", "session-vnc",
                                      "session-rdp", "session-vesk", "session-connecting", "session-failed",
                                      "confirm-connect", "confirm-delete", "confirm-ssh-trust"}));
  EXPECT_EQ(d.initial_window_size().width, 1280u);
  EXPECT_EQ(d.initial_window_size().height, 800u);
  EXPECT_TRUE(d.wants_document());
  EXPECT_TRUE(d.open_document);
  EXPECT_TRUE(d.resizable);
  EXPECT_FALSE(d.fullscreen);
  EXPECT_TRUE(d.high_dpi);
  EXPECT_TRUE(d.vsync);

  vesk_ui::launch::App app;
  auto built = vesk_ui::launch::build_app(d, vesk_ui::launch::LaunchContext{std::nullopt, d.app_id}, app);
  ASSERT_TRUE(built.has_value());
  EXPECT_TRUE(app.action_registry().contains("remote.action"));
  EXPECT_FALSE(app.action_registry().contains("remote.operation"));
}

TEST(AppSamples, ConnectionsDevicesAndKeys) {
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::nullopt);
  auto app = RemoteApp::with_sample_data();
  const auto& list = app->state().connections;
  std::vector<std::string> names;
  for (const auto& c : list) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Build Box", "Studio Node", "Office NAS", "Win Workstation",
                                             "Edge Gateway", "Pi Cluster Head", "Workshop Laptop", "Backup Vault"}));
  std::vector<std::string> shown;
  for (const auto* c : filtered_connections(list, "")) shown.push_back(c->name);
  EXPECT_EQ(shown, (std::vector<std::string>{"Build Box", "Studio Node", "Backup Vault", "Edge Gateway", "Office NAS",
                                             "Pi Cluster Head", "Win Workstation", "Workshop Laptop"}));
  EXPECT_EQ(app->state().selection, list[0].id);
  for (const auto& c : list) EXPECT_FALSE(c.validate_target()) << c.name;

  const auto& devices = app->state().discovered_devices;
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].endpoint_id, list[1].host);
  EXPECT_EQ(devices[1].endpoint_id, list[6].host);
  EXPECT_FALSE(devices[3].online);
  for (const auto& d : devices) {
    EXPECT_EQ(d.endpoint_id.size(), 64u);
    EXPECT_EQ(d.endpoint_id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(EndpointId::parse(d.endpoint_id));
  }
  // Ids are new every run; endpoint ids never change.
  auto again = RemoteApp::with_sample_data();
  EXPECT_NE(again->state().connections[0].id, list[0].id);
  EXPECT_EQ(again->state().discovered_devices, devices);
  EXPECT_EQ(sample_endpoint_id(0), EndpointId::from_seed(kSampleDeviceSeeds[0]).to_string());
}

TEST(AppSamples, EachReviewSceneBuildsItsState) {
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::nullopt);
  auto id_of = [](const RemoteApp& app, std::string_view name) {
    for (const auto& c : app.state().connections) {
      if (c.name == name) return c.id;
    }
    return Uuid{};
  };
  struct Case {
    const char* word;
    std::function<void(const RemoteApp&)> check;
  };
  const std::vector<Case> cases = {
      {"form",
       [](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::new_connection_form());
         EXPECT_EQ(app.state().focused_input, InputField::Name);
       }},
      {"form-vesk",
       [](const RemoteApp& app) {
         EXPECT_EQ(app.state().form.kind, ConnectionKind::Vesk);
         EXPECT_EQ(app.state().form.port, "");
         EXPECT_EQ(app.state().form.auth, AuthKind::DeviceIdentity);
       }},
      {"session-ssh",
       [&](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::session(id_of(app, "Build Box")));
         EXPECT_EQ(
             app.state().live_session->status(),
             SessionStatus::unavailable("SSH is installed, but this build has not been granted live network access."));
         EXPECT_EQ(app.state().session_serial, 1u);
       }},
      {"session-vnc",
       [&](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::session(id_of(app, "Office NAS")));
         EXPECT_EQ(app.state().live_session->status().kind, SessionStatus::Kind::Unavailable);
       }},
      {"session-rdp",
       [&](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::session(id_of(app, "Win Workstation")));
         EXPECT_EQ(
             app.state().live_session->status(),
             SessionStatus::unavailable("RDP profiles are preserved, but this Vesk build has no RDP client backend."));
         EXPECT_EQ(app.state().session_serial, 0u);
       }},
      {"session-vesk",
       [&](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::session(id_of(app, "Studio Node")));
         EXPECT_EQ(app.state().live_session->status(), SessionStatus::connecting());
         EXPECT_TRUE(app.state().device_commands.empty());
       }},
      {"session-connecting",
       [&](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::session(id_of(app, "Build Box")));
         EXPECT_EQ(app.state().live_session->status(), SessionStatus::connecting());
       }},
      {"session-failed",
       [&](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::session(id_of(app, "Office NAS")));
         EXPECT_EQ(app.state().live_session->status(), SessionStatus::failed("Connection refused"));
       }},
      {"confirm-connect",
       [&](const RemoteApp& app) {
         ASSERT_TRUE(app.state().confirmation);
         EXPECT_EQ(app.state().confirmation->kind, Confirmation::Kind::Connect);
         EXPECT_EQ(app.state().confirmation->id, id_of(app, "Studio Node"));
         EXPECT_EQ(app.state().screen, Screen::connection_list());
       }},
      {"confirm-delete",
       [&](const RemoteApp& app) {
         ASSERT_TRUE(app.state().confirmation);
         EXPECT_EQ(app.state().confirmation->kind, Confirmation::Kind::Delete);
         EXPECT_EQ(app.state().confirmation->id, id_of(app, "Build Box"));
       }},
      {"confirm-ssh-trust",
       [&](const RemoteApp& app) {
         ASSERT_TRUE(app.state().confirmation);
         EXPECT_EQ(app.state().confirmation->kind, Confirmation::Kind::TrustSshHostKey);
         EXPECT_EQ(app.state().confirmation->id, id_of(app, "Build Box"));
         EXPECT_EQ(app.state().confirmation->identity,
                   (ssh::HostKeyIdentity{"ssh-ed25519", "SHA256:DemoFingerprintForVisualReviewOnly"}));
         EXPECT_FALSE(app.state().live_session);
       }},
      {"narrow",
       [](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::connection_list());
         EXPECT_FALSE(app.state().confirmation);
         EXPECT_EQ(app.state().navigation_override, FlapOpen::Closed);
       }},
      {"",
       [](const RemoteApp& app) {
         EXPECT_EQ(app.state().screen, Screen::connection_list());
         EXPECT_FALSE(app.state().live_session);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    auto app = build_sample_app(c.word);
    c.check(*app);
    EXPECT_FALSE(app->state().notice);
    EXPECT_TRUE(app->state().redraw);
  }

  // Confirming the demo trust finds no live key to match.
  auto trust = build_sample_app("confirm-ssh-trust");
  Document d;
  trust->apply_message(UiMessage::confirm(), d);
  EXPECT_EQ(trust->state().notice, notice::kTrustStale);
  EXPECT_FALSE(trust->state().confirmation);

  // A scene never writes the real document.
  auto form = build_sample_app("form-vesk");
  Document real;
  form->sync_document(real);
  EXPECT_EQ(doc::load_connections(real).size(), 8u);
}

}  // namespace
