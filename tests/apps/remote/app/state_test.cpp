#include <gtest/gtest.h>

#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;

TEST(AppState, EmptyApplication) {
  auto app = RemoteApp::empty();
  const AppState& s = app->state();
  EXPECT_FALSE(s.selection);
  EXPECT_FALSE(s.live_session);
  EXPECT_EQ(s.screen, Screen::connection_list());
  EXPECT_TRUE(s.scale_to_fit);
  EXPECT_EQ(s.session_serial, 0u);
  EXPECT_EQ(s.next_device_session_id, 1u);
  EXPECT_TRUE(s.redraw);
  EXPECT_FALSE(s.loaded);
  EXPECT_EQ(s.flap.position, 1.0);
  EXPECT_EQ(s.flap.open, FlapOpen::Automatic);
  EXPECT_EQ(s.tooltip.delay(), std::chrono::milliseconds(500));
  EXPECT_EQ(s.list_metrics.stacked_row_height, 116);
  EXPECT_FALSE(app->hit_rect(UiMessage::new_connection()));
  for (InputField f : InputField::ALL) {
    EXPECT_EQ(app->input(f).placeholder(), f.placeholder());
    EXPECT_EQ(app->input(f).text_size(), 14.0f);
  }
}

TEST(AppState, SelectionIsTheFirstRowOfTheList) {
  const auto plain = conn("a", ConnectionKind::Ssh, "h", 22);
  const auto fav_b = conn("b", ConnectionKind::Ssh, "h", 22, AuthKind::Password, "", true);
  const auto fav_a = conn("A", ConnectionKind::Ssh, "h", 22, AuthKind::Password, "", true);
  EXPECT_EQ(RemoteApp({plain, fav_b}, {}).state().selection, fav_b.id);
  EXPECT_EQ(RemoteApp({plain, fav_b, fav_a}, {}).state().selection, fav_a.id);

  // By list order, not by the screen's order.
  const auto vnc1 = conn("z", ConnectionKind::Vnc, "h", 5900);
  const auto vnc2 = conn("a", ConnectionKind::Vnc, "h", 5900, AuthKind::Password, "", true);
  RemoteApp app({plain, vnc1, vnc2}, {});
  EXPECT_EQ(app.first_connection_of_kind(ConnectionKind::Vnc), vnc1.id);
  EXPECT_FALSE(app.first_connection_of_kind(ConnectionKind::Rdp));
  app.state_mut().live_session = LiveSession{LiveSession::Review{SessionStatus::connected()}};
  EXPECT_FALSE(app.vnc_session());
}

TEST(AppState, SignaturesLeaveOutNameGroupAndFlags) {
  auto c = conn("n", ConnectionKind::Ssh, "h.example.com", 2222, AuthKind::PublicKey, "me");
  EXPECT_EQ(connection_signature(c), "SSH|h.example.com|2222|me|Public key");
  auto d = device_conn("dev");
  EXPECT_EQ(connection_signature(d), "Vesk|" + d.host + "|0||Device identity");
  const std::string before = connection_signature(c);
  c.name = "other";
  c.group = "g";
  c.favorite = true;
  c.presence = Presence::Online;
  c.last_used = "just now";
  EXPECT_EQ(connection_signature(c), before);
}

TEST(AppState, HitRegionsTopmostFirst) {
  const Uuid id = Uuid::new_v4();
  const std::vector<HitRegion> regions = {
      {UiMessage::select_connection(id), Rect{0, 0, 100, 100}},
      {UiMessage::request_connect(id), Rect{10, 10, 20, 20}},
      {UiMessage::select_connection(id), Rect{50, 50, 60, 60}},
  };
  EXPECT_EQ(find_hit_region_bounds(regions, UiMessage::select_connection(id)), (Rect{50, 50, 60, 60}));
  EXPECT_FALSE(find_hit_region_bounds(regions, UiMessage::select_connection(Uuid::new_v4())));
  EXPECT_EQ(find_hit_region_at(regions, 15, 15), UiMessage::request_connect(id));
  EXPECT_EQ(find_hit_region_at(regions, 20, 15), UiMessage::select_connection(id));  // x1 is outside
  EXPECT_FALSE(find_hit_region_at(regions, 100, 5));
  EXPECT_NE(UiMessage::set_kind(ConnectionKind::Ssh), UiMessage::set_kind(ConnectionKind::Vnc));
  EXPECT_NE(UiMessage::focus_field(InputField::Name), UiMessage::focus_field(InputField::Host));
  EXPECT_EQ(UiMessage::choose_discovered_device(2), UiMessage::choose_discovered_device(2));
}

TEST(AppState, VisibleProblemsFollowTheTouchedFields) {
  const std::vector<std::string> problems = {"Name is required", "Host is required", "Port must be 1\u201365535",
                                             "SSH profiles support password or public-key authentication."};
  struct Case {
    FormVisibility visibility;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      {{}, {}},
      {{false, true, false, false}, {problems[0]}},
      {{false, false, true, true}, {problems[1], problems[2]}},
      {{true, false, false, false}, problems},
  };
  for (const Case& c : cases) EXPECT_EQ(visible_form_problems(problems, c.visibility), c.shown);
  EXPECT_EQ(
      visible_form_problems({"Vesk device node must be an exact certified endpoint id."}, {false, false, true, false}),
      std::vector<std::string>{"Vesk device node must be an exact certified endpoint id."});
}

}  // namespace
