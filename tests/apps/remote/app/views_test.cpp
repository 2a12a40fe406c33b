// The views driven through the headless host: what each screen records as
// hit regions, and what pointer presses and keys do to the state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "apps/remote/src/app/launch.hpp"
#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::event::NamedKey;
using Tag = UiMessage::Tag;

RemoteApp& app_of(vesk_ui::headless::HeadlessHost& host) { return host.widget_as<RemoteApp>(); }

std::size_t count_tag(const std::vector<HitRegion>& regions, Tag tag) {
  return static_cast<std::size_t>(
      std::count_if(regions.begin(), regions.end(), [&](const HitRegion& r) { return r.message.tag == tag; }));
}

std::vector<Tag> tags(const std::vector<HitRegion>& regions) {
  std::vector<Tag> out;
  for (const HitRegion& r : regions) out.push_back(r.message.tag);
  return out;
}

bool click_message(vesk_ui::headless::HeadlessHost& host, const UiMessage& message) {
  auto rect = app_of(host).hit_rect(message);
  if (!rect) return false;
  const auto c = rect->center();
  host.click(c.x, c.y);
  host.paint();
  return true;
}

std::vector<SavedConnection> three_profiles() {
  return {conn("alpha", ConnectionKind::Ssh, "alpha.example.com", 22, AuthKind::Password, "me"),
          conn("bravo", ConnectionKind::Rdp, "198.51.100.4", 3389), device_conn("charlie", 1)};
}

// ---- connection list ----

TEST(AppListView, RegionsFollowPaintOrderAndOnlyReadyRowsConnect) {
  auto host = host_for(std::make_unique<RemoteApp>(three_profiles(), std::vector<DiscoveredDevice>{}));
  const auto& regions = app_of(*host).state().hit_regions;
  // Header, then each row in list order (row, star, connect when ready, edit), then the rail.
  const std::vector<Tag> expected = {
      Tag::NewConnection,    Tag::FocusField,     Tag::SelectConnection, Tag::ToggleFavorite,   Tag::EditConnection,
      Tag::SelectConnection, Tag::ToggleFavorite, Tag::EditConnection,   Tag::SelectConnection, Tag::ToggleFavorite,
      Tag::RequestConnect,   Tag::EditConnection, Tag::ShowConnections,  Tag::NewConnection};
  EXPECT_EQ(tags(regions), expected);
  // The rows are in list order: names compared case-insensitively (no favourites here).
  const auto view = filtered_connections(app_of(*host).state().connections, "");
  EXPECT_EQ(regions[2].message.id(), view[0]->id);
  EXPECT_EQ(view[2]->name, "charlie");  // the only ready profile: a device
  // The star lies over its row and is recorded after it.
  EXPECT_TRUE(regions[2].rect.contains(regions[3].rect.center()));
}

TEST(AppListView, PressesReachTheReducer) {
  auto app = std::make_unique<RemoteApp>(three_profiles(), std::vector<DiscoveredDevice>{});
  const auto connections = app->state().connections;
  const Uuid device = connections[2].id;
  const Uuid ssh = connections[0].id;
  struct Case {
    UiMessage press;
    std::function<bool(const RemoteApp&, vesk_ui::headless::HeadlessHost&)> holds;
  };
  const std::vector<Case> cases = {
      {UiMessage::select_connection(ssh), [&](const RemoteApp& a, auto&) { return a.state().selection == ssh; }},
      {UiMessage::toggle_favorite(ssh),
       [&](const RemoteApp& a, vesk_ui::headless::HeadlessHost& h) {
         const auto stored = remote::doc::load_connections(h.document());
         const auto it = std::find_if(stored.begin(), stored.end(), [&](const auto& c) { return c.id == ssh; });
         return find_connection(a.state().connections, ssh)->favorite && it != stored.end() && it->favorite;
       }},
      {UiMessage::edit_connection(ssh),
       [&](const RemoteApp& a, auto&) { return a.state().screen == Screen::edit_connection_form(ssh); }},
      {UiMessage::request_connect(device),
       [&](const RemoteApp& a, auto&) {
         return a.state().confirmation && a.state().confirmation->kind == Confirmation::Kind::Connect;
       }},
      {UiMessage::focus_field(InputField::Search),
       [&](const RemoteApp& a, auto&) { return a.state().focused_input == InputField::Search; }},
      {UiMessage::new_connection(),
       [&](const RemoteApp& a, auto&) { return a.state().screen == Screen::new_connection_form(); }},
  };
  for (const Case& c : cases) {
    auto host = host_for(std::make_unique<RemoteApp>(connections, std::vector<DiscoveredDevice>{}));
    ASSERT_TRUE(click_message(*host, c.press)) << static_cast<int>(c.press.tag);
    EXPECT_TRUE(c.holds(app_of(*host), *host)) << static_cast<int>(c.press.tag);
  }
}

TEST(AppListView, EmptyAndNoMatchStates) {
  auto empty = host_for(RemoteApp::empty());
  // The header button, the search field, the empty state's own button, the rail.
  EXPECT_EQ(tags(app_of(*empty).state().hit_regions),
            (std::vector<Tag>{Tag::NewConnection, Tag::FocusField, Tag::NewConnection, Tag::ShowConnections,
                              Tag::NewConnection}));
  auto host = host_for(std::make_unique<RemoteApp>(three_profiles(), std::vector<DiscoveredDevice>{}));
  app_of(*host).state_mut().list_scroll = 50;
  app_of(*host).state_mut().search = "no such machine";
  host->paint();
  EXPECT_EQ(app_of(*host).state().list_scroll, 0);
  EXPECT_EQ(count_tag(app_of(*host).state().hit_regions, Tag::SelectConnection), 0u);
}

TEST(AppListView, HeaderAndRowsFollowTheContentWidth) {
  vesk_ui::text::StubTextRenderer text;
  const std::vector<SavedConnection> none;
  // Content width 519 is compact, 520 is not.
  const auto compact = list_header_geometry(text, Rect{0, 0, 519, 800}, none);
  EXPECT_EQ(compact.title, "Remote");
  EXPECT_EQ(compact.new_label, "+ New");
  EXPECT_GE(compact.new_button.width(), 88);
  const auto full = list_header_geometry(text, Rect{0, 0, 520, 800}, none);
  EXPECT_EQ(full.title, "Remote Machines");
  EXPECT_GE(full.new_button.width(), 150);

  // Three ready profiles, none online: two numbers; with an RDP one among them: three.
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::string("1"));
  std::vector<SavedConnection> ready = {conn("a", ConnectionKind::Ssh, "a.example.com", 22, AuthKind::Password, "me"),
                                        conn("b", ConnectionKind::Vnc, "b.example.com", 5900), device_conn("c")};
  EXPECT_EQ(list_counts_text(ready), "3 saved \u00b7 0 online");
  ready[1] = conn("b", ConnectionKind::Rdp, "b.example.com", 3389);
  EXPECT_EQ(list_counts_text(ready), "3 saved \u00b7 0 online \u00b7 2 connectable here");

  const ListMetrics m = compute_list_metrics(text);
  EXPECT_GE(m.wide_row_height, 72);
  EXPECT_GE(m.stacked_row_height, 116);
}

TEST(AppListView, RowsScrolledUnderTheHeaderTakeNoPresses) {
  std::vector<SavedConnection> many;
  for (int i = 0; i < 30; ++i) many.push_back(device_conn("device " + std::to_string(100 + i), i % 3));
  auto host = host_for(std::make_unique<RemoteApp>(many, std::vector<DiscoveredDevice>{}));
  RemoteApp& a = app_of(*host);
  const auto search = a.hit_rect(UiMessage::focus_field(InputField::Search));
  ASSERT_TRUE(search);
  const double list_top = a.state().list_metrics.list_top;
  // Scroll by less than a row at a time so that rows end half under the header.
  for (double scroll = 5; scroll < 400; scroll += 7) {
    a.state_mut().list_scroll = scroll;
    host->paint();
    for (const HitRegion& r : a.state().hit_regions) {
      if (r.message.tag == Tag::FocusField || r.message.tag == Tag::NewConnection ||
          r.message.tag == Tag::ShowConnections) {
        continue;
      }
      EXPECT_GE(r.rect.y0, list_top) << scroll;
      EXPECT_FALSE(r.rect.is_empty()) << scroll;
    }
  }
  // A press on the visible search field focuses it, whatever lies under it.
  a.state_mut().list_scroll = 40;
  host->paint();
  const auto selection = a.state().selection;
  host->click(search->center().x, search->y1 - 1);
  EXPECT_EQ(a.state().focused_input, InputField::Search);
  EXPECT_EQ(a.state().selection, selection);
  EXPECT_EQ(a.state().screen, Screen::connection_list());
  EXPECT_FALSE(a.state().confirmation);
  // The rows' accessible bounds are the clipped regions too.
  const auto tree = host->accessibility_tree();
  for (const SavedConnection& c : many) {
    const auto* node = tree.find_by_action_id("remote.connection:" + c.id.to_string() + ":select");
    ASSERT_TRUE(node);
    if (node->bounds) {
      EXPECT_GE(node->bounds->y0, list_top);
    }
  }
}

TEST(AppListView, WheelAndKeyboardScrollingShareTheRowGeometry) {
  std::vector<SavedConnection> many;
  for (int i = 0; i < 10; ++i)
    many.push_back(conn("host" + std::to_string(i), ConnectionKind::Ssh, "h.example.com", 22));
  // Default metrics: wide rows of 72 (pitch 80) below a list top of 124; a
  // window 524 high leaves a viewport of 400.
  auto app = std::make_unique<RemoteApp>(many, std::vector<DiscoveredDevice>{});
  layout(*app, 1280, 524);
  app->scroll_selection_into_view(9, 10);
  EXPECT_DOUBLE_EQ(app->state().list_scroll, 9 * 80 + 72 - 400);
  EXPECT_DOUBLE_EQ(app->state().list_scroll_max, 392);
  app->scroll_selection_into_view(0, 10);
  EXPECT_DOUBLE_EQ(app->state().list_scroll, 0);

  auto host = host_for(std::make_unique<RemoteApp>(many, std::vector<DiscoveredDevice>{}), 1280, 524);
  RemoteApp& a = app_of(*host);
  const double max = a.state().list_scroll_max;
  ASSERT_GT(max, 48);
  host->pointer_move(600, 300);
  EXPECT_TRUE(host->wheel_lines(0, -1));  // toward the user: content moves up
  EXPECT_DOUBLE_EQ(a.state().list_scroll, 48);
  host->wheel_lines(0, 1);
  host->wheel_lines(0, 1);
  EXPECT_DOUBLE_EQ(a.state().list_scroll, 0);
  host->wheel_lines(0, -100);
  EXPECT_DOUBLE_EQ(a.state().list_scroll, max);
  a.state_mut().list_scroll = 5000;
  host->paint();
  EXPECT_DOUBLE_EQ(a.state().list_scroll, max);
  // Rows scrolled out of view record no region.
  const auto& regions = a.state().hit_regions;
  const auto first = filtered_connections(a.state().connections, "").front()->id;
  EXPECT_FALSE(a.hit_rect(UiMessage::select_connection(first)));
  EXPECT_GT(count_tag(regions, Tag::SelectConnection), 0u);
}

// ---- keys on the list and the form ----

TEST(AppKeys, ListShortcutsSearchAndArrows) {
  auto host = host_for(std::make_unique<RemoteApp>(three_profiles(), std::vector<DiscoveredDevice>{}));
  RemoteApp& a = app_of(*host);
  const auto rows = collect_connection_ids(filtered_connections(a.state().connections, ""));
  // ArrowDown with the selection filtered out selects the second row.
  a.state_mut().selection = std::nullopt;
  host->key_named(NamedKey::ArrowDown);
  EXPECT_EQ(a.state().selection, rows[1]);
  host->key_named(NamedKey::ArrowUp);
  host->key_named(NamedKey::ArrowUp);
  EXPECT_EQ(a.state().selection, rows[0]);

  host->key_char("/");
  EXPECT_EQ(a.state().focused_input, InputField::Search);
  host->type_text("char");
  EXPECT_EQ(a.state().search, "char");
  host->key_named(NamedKey::Escape);
  EXPECT_EQ(a.state().search, "");
  EXPECT_EQ(a.state().focused_input, std::nullopt);

  // Control+W on the list is no shortcut; Control+N opens the form; Control+F comes back to the search.
  host->set_modifiers({.control = true});
  EXPECT_FALSE(host->key_char("w"));
  EXPECT_EQ(a.state().screen, Screen::connection_list());
  host->key_char("n");
  EXPECT_EQ(a.state().screen, Screen::new_connection_form());
  host->key_char("F");
  EXPECT_EQ(a.state().screen, Screen::connection_list());
  EXPECT_EQ(a.state().focused_input, InputField::Search);
  host->set_modifiers({});

  // Enter on the list asks to connect the selection (a confirmation for the ready device).
  a.blur_input();
  a.state_mut().selection = rows[2];
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(a.state().confirmation);
  // While it is open a press beside the dialog does nothing; Escape cancels.
  host->paint();
  EXPECT_TRUE(host->click(5, 795));
  EXPECT_TRUE(a.state().confirmation);
  host->key_named(NamedKey::Escape);
  EXPECT_FALSE(a.state().confirmation);
  EXPECT_EQ(a.state().notice, std::string(notice::kCancelled));
}

TEST(AppKeys, ComposedTextGoesToTheFocusedInput) {
  auto host = host_for(RemoteApp::empty());
  RemoteApp& a = app_of(*host);
  host->set_modifiers({.control = true});
  host->key_char("n");
  host->set_modifiers({});
  ASSERT_EQ(a.state().focused_input, InputField::Name);
  host->ime_commit("\u65e5\u672c");
  EXPECT_EQ(a.state().form.name, "\u65e5\u672c");
  // Once the pointer leaves the window nothing is hovered.
  host->pointer_move(200, 200);
  host->send(vesk_ui::event::PointerLeft{});
  EXPECT_FALSE(std::isfinite(a.state().pointer_x));
}

TEST(AppKeys, TabFollowsTheFormOrderOfEachKind) {
  struct Case {
    ConnectionKind kind;
    std::optional<InputField> focused;
    InputField next;
  };
  const std::vector<Case> cases = {
      {ConnectionKind::Ssh, std::nullopt, InputField::Name},
      {ConnectionKind::Ssh, InputField::Port, InputField::User},
      {ConnectionKind::Ssh, InputField::Group, InputField::Name},
      {ConnectionKind::Vnc, InputField::Port, InputField::Group},
      {ConnectionKind::Vnc, InputField::User, InputField::Host},  // outside the order: the second entry
      {ConnectionKind::Vesk, InputField::Host, InputField::Name},
      {ConnectionKind::Rdp, InputField::User, InputField::Group},
  };
  for (const Case& c : cases) {
    auto host = host_for(RemoteApp::empty());
    RemoteApp& a = app_of(*host);
    Document scratch;
    a.apply_message(UiMessage::new_connection(), scratch);
    a.apply_message(UiMessage::set_kind(c.kind), scratch);
    if (c.focused)
      a.focus_input(*c.focused);
    else
      a.blur_input();
    EXPECT_TRUE(host->key_named(NamedKey::Tab));
    EXPECT_EQ(a.state().focused_input, c.next) << c.kind << " from " << (c.focused ? c.focused->as_str() : "none");
  }
}

TEST(AppKeys, TypingAndEnterSaveANewConnection) {
  auto host = host_for(RemoteApp::empty());
  RemoteApp& a = app_of(*host);
  host->set_modifiers({.control = true});
  host->key_char("n");
  host->set_modifiers({});
  host->paint();
  host->type_text("Lab box");
  host->key_named(NamedKey::Tab);
  host->type_text("lab.example.com");
  host->key_named(NamedKey::Tab);
  host->key_named(NamedKey::Backspace);
  host->key_named(NamedKey::Backspace);
  host->type_text("a2b2");
  EXPECT_EQ(a.state().form.port, "22");
  host->key_named(NamedKey::Enter);
  EXPECT_EQ(a.state().screen, Screen::connection_list());
  ASSERT_EQ(a.state().connections.size(), 1u);
  EXPECT_EQ(a.state().connections[0].host, "lab.example.com");
  EXPECT_EQ(remote::doc::load_connections(host->document()).size(), 1u);
}

// ---- the form ----

TEST(AppFormView, RegionsPerKind) {
  struct Case {
    ConnectionKind kind;
    std::vector<InputField> fields;
    std::vector<AuthKind> auths;
  };
  const std::vector<Case> cases = {
      {ConnectionKind::Ssh,
       {InputField::Name, InputField::Host, InputField::Port, InputField::User, InputField::Group},
       {AuthKind::Password, AuthKind::PublicKey}},
      {ConnectionKind::Vnc,
       {InputField::Name, InputField::Host, InputField::Port, InputField::Group},
       {AuthKind::Password}},
      {ConnectionKind::Rdp,
       {InputField::Name, InputField::Host, InputField::Port, InputField::User, InputField::Group},
       {AuthKind::Password}},
      {ConnectionKind::Vesk, {InputField::Name, InputField::Host}, {}},
  };
  for (const Case& c : cases) {
    auto host = host_for(RemoteApp::with_sample_data());
    RemoteApp& a = app_of(*host);
    Document scratch;
    a.apply_message(UiMessage::new_connection(), scratch);
    a.apply_message(UiMessage::set_kind(c.kind), scratch);
    host->paint();
    std::vector<InputField> fields;
    std::vector<AuthKind> auths;
    std::size_t devices = 0, kinds = 0;
    for (const HitRegion& r : a.state().hit_regions) {
      if (r.message.tag == Tag::FocusField) fields.push_back(*r.message.field());
      if (r.message.tag == Tag::SetAuth) auths.push_back(*r.message.auth());
      if (r.message.tag == Tag::ChooseDiscoveredDevice) ++devices;
      if (r.message.tag == Tag::SetKind) ++kinds;
    }
    EXPECT_EQ(fields, c.fields) << c.kind;
    EXPECT_EQ(auths, c.auths) << c.kind;
    EXPECT_EQ(kinds, 3u) << c.kind;
    EXPECT_EQ(devices, c.kind == ConnectionKind::Vesk ? a.state().discovered_devices.size() : 0u) << c.kind;
    EXPECT_FALSE(a.hit_rect(UiMessage::request_delete(Uuid{})));
    EXPECT_TRUE(a.hit_rect(UiMessage::save_form()) && a.hit_rect(UiMessage::cancel_form()));
  }
}

TEST(AppFormView, ColumnAndRdpWarningGeometry) {
  vesk_ui::text::StubTextRenderer text;
  ConnectionForm form;
  const auto wide = form_geometry(text, Rect{0, 0, 700, 800}, form, 0, false);
  EXPECT_DOUBLE_EQ(wide.w, 560);
  EXPECT_DOUBLE_EQ(wide.x, 70);
  const auto narrow = form_geometry(text, Rect{0, 0, 500, 800}, form, 0, false);
  EXPECT_DOUBLE_EQ(narrow.w, 452);
  EXPECT_DOUBLE_EQ(narrow.x, 24);
  form.kind = ConnectionKind::Rdp;
  const auto rdp = form_geometry(text, Rect{0, 0, 700, 800}, form, 0, true);
  ASSERT_TRUE(rdp.rdp_warning);
  EXPECT_DOUBLE_EQ(rdp.fields[0].second.y0 - wide.fields[0].second.y0, 66);
  ASSERT_TRUE(rdp.remove);
  EXPECT_DOUBLE_EQ(rdp.remove->x0, rdp.x);
}

TEST(AppFormView, EditFormDeletesTheEditedConnectionAndDevicesAreChosen) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  const Uuid id = a.state().connections[0].id;
  Document scratch;
  a.apply_message(UiMessage::edit_connection(id), scratch);
  host->paint();
  ASSERT_TRUE(click_message(*host, UiMessage::request_delete(id)));
  ASSERT_TRUE(a.state().confirmation);
  EXPECT_EQ(a.state().confirmation->kind, Confirmation::Kind::Delete);
  EXPECT_EQ(a.state().confirmation->id, id);

  a.apply_message(UiMessage::cancel_confirmation(), scratch);
  a.apply_message(UiMessage::new_connection(), scratch);
  a.apply_message(UiMessage::set_kind(ConnectionKind::Vesk), scratch);
  host->paint();
  ASSERT_TRUE(click_message(*host, UiMessage::choose_discovered_device(1)));
  EXPECT_EQ(a.state().form.host, a.state().discovered_devices[1].endpoint_id);
}

// ---- navigation ----

TEST(AppNavigation, NarrowFlapTogglesAndClosesOnAPressOutside) {
  auto host = host_for(RemoteApp::with_sample_data(), 560, 800);
  RemoteApp& a = app_of(*host);
  ASSERT_TRUE(a.state().narrow);
  EXPECT_FALSE(a.hit_rect(UiMessage::show_connections()));  // rail closed: not painted
  ASSERT_TRUE(click_message(*host, UiMessage::toggle_navigation()));
  EXPECT_EQ(a.state().flap.open, FlapOpen::Open);
  host->advance(std::chrono::seconds(1));
  host->paint();
  ASSERT_TRUE(a.hit_rect(UiMessage::show_connections()));
  // A press on a row outside the 64-wide strip only closes the flap.
  const Uuid before = *a.state().selection;
  host->click(400, 300);
  EXPECT_EQ(a.state().flap.open, FlapOpen::Closed);
  EXPECT_EQ(a.state().selection, before);
  EXPECT_EQ(a.state().screen, Screen::connection_list());
}

TEST(AppNavigation, HalfRevealedFlapMovesTheContentAndSlidesTheRail) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  a.state_mut().flap.open = FlapOpen::Closed;
  a.state_mut().flap.position = 0.5;
  host->paint();  // the host's clock stands still: the flap does not move
  ASSERT_DOUBLE_EQ(a.state().flap.position, 0.5);
  EXPECT_DOUBLE_EQ(a.hit_rect(UiMessage::focus_field(InputField::Search))->x0, 32 + 24);
  const double slide = 1 - 0.5 * 0.5 * 0.5;
  EXPECT_DOUBLE_EQ(a.hit_rect(UiMessage::show_connections())->x0, -(1 - slide) * 64 + 12);
  EXPECT_TRUE(a.wants_animation_frame());
  host->advance(std::chrono::seconds(5));  // one step covers at most 0.1 s
  host->paint();
  EXPECT_NEAR(a.state().flap.position, 0.5 * std::exp(-1.4), 1e-9);
}

TEST(AppNavigation, TooltipsNameTheControls) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  struct Case {
    UiMessage message;
    std::string text;
  };
  const SavedConnection& first = *filtered_connections(a.state().connections, "").front();
  const std::vector<Case> cases = {
      {UiMessage::show_connections(), "Connections"},
      {UiMessage::toggle_favorite(first.id), first.favorite ? "Remove from favourites" : "Add to favourites"},
  };
  for (const Case& c : cases) {
    const auto rect = a.hit_rect(c.message);
    ASSERT_TRUE(rect);
    host->pointer_move(rect->center().x, rect->center().y);
    ASSERT_TRUE(a.state().tooltip.request());
    EXPECT_EQ(a.state().tooltip.request()->text, c.text);
    // A pending tooltip keeps frames coming; once one shows, the next shows at once.
    EXPECT_TRUE(a.state().tooltip.shown() || a.wants_animation_frame());
    host->advance(std::chrono::seconds(1));
    host->paint();
    EXPECT_TRUE(a.state().tooltip.shown());
  }
  host->key_named(NamedKey::Escape);
  EXPECT_FALSE(a.state().tooltip.shown());
}

// ---- session screens ----

TEST(AppSessionView, CardButtonsPerStatus) {
  struct Case {
    const char* word;
    std::vector<Tag> buttons;
    double first_offset;  // first button's x0 relative to the card's centre
  };
  const std::vector<Case> cases = {
      {"session-failed", {Tag::RequestConnect, Tag::Disconnect}, -124},
      {"session-rdp", {Tag::EditConnection, Tag::Disconnect}, -124},
      {"session-connecting", {Tag::Disconnect}, -66},
  };
  for (const Case& c : cases) {
    auto host = host_for(remote::app::build_sample_app(c.word));
    RemoteApp& a = app_of(*host);
    std::vector<Tag> buttons;
    std::optional<Rect> first;
    for (const HitRegion& r : a.state().hit_regions) {
      if (r.message.tag == Tag::ShowConnections || r.message.tag == Tag::NewConnection) continue;  // the rail
      buttons.push_back(r.message.tag);
      if (!first) first = r.rect;
    }
    EXPECT_EQ(buttons, c.buttons) << c.word;
    const Rect content{64, 0, 1280, 800};
    const double cx = (content.x0 + content.x1) / 2.0;
    ASSERT_TRUE(first);
    EXPECT_DOUBLE_EQ(first->x0 - cx, c.first_offset) << c.word;
  }
}

TEST(AppSessionView, ConnectedPictureHeaderAndFullscreen) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  a.show_session_status(ConnectionKind::Vnc, SessionStatus::connected());
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(1920) * 1080 * 4, 200);
  a.state_mut().session_picture = vesk_ui::scene::Image::from_rgba(pixels, 1920, 1080);
  host->paint();
  EXPECT_EQ(tags(a.state().hit_regions), (std::vector<Tag>{Tag::Disconnect, Tag::ToggleFullscreen, Tag::ToggleScale,
                                                           Tag::ShowConnections, Tag::NewConnection}));
  // Fit: the picture keeps its aspect inside the area under the header.
  ASSERT_TRUE(a.state().session_surface);
  const Rect area{64, 48, 1280, 800};
  EXPECT_NEAR(a.state().session_surface->width() / a.state().session_surface->height(), 1920.0 / 1080.0, 1e-9);
  EXPECT_DOUBLE_EQ(a.state().session_surface->width(), area.width());
  ASSERT_TRUE(click_message(*host, UiMessage::toggle_fullscreen()));
  EXPECT_TRUE(a.state().fullscreen);
  // Fullscreen: no header, no rail; Escape leaves it.
  EXPECT_TRUE(a.state().hit_regions.empty());
  EXPECT_DOUBLE_EQ(a.state().session_surface->height(), 1280.0 * 1080.0 / 1920.0);
  host->key_named(NamedKey::Escape);
  EXPECT_FALSE(a.state().fullscreen);
  EXPECT_TRUE(a.state().screen.kind == Screen::Kind::Session);
}

TEST(AppSessionView, TerminalRunsShareStyleAndAdvanceByCells) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  a.show_session_status(ConnectionKind::Ssh, SessionStatus::connected());
  remote::vt::Terminal terminal(kTerminalColumns, kTerminalRows);
  terminal.feed("\x1b[31mab\x1b[0;1mcd");
  a.state_mut().review_terminal = std::move(terminal);
  const auto& scene = host->paint();
  std::vector<vesk_ui::scene::TextRun> runs;
  for (const auto& command : scene.commands()) {
    if (const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command)) {
      if (text->run.family == vesk_ui::scene::FontFamily::Mono) runs.push_back(text->run);
    }
  }
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].text, "ab");
  EXPECT_EQ(runs[0].weight, 0);
  EXPECT_EQ(runs[0].color, vesk_ui::tokens::TerminalPalette::dark().colors[1]);
  EXPECT_EQ(runs[1].text, "cd");
  EXPECT_EQ(runs[1].weight, 3);
  EXPECT_EQ(runs[1].color, vesk_ui::tokens::TerminalPalette::dark().foreground);
  EXPECT_NEAR(runs[1].transform.e - runs[0].transform.e, 16.8, 1e-9);
  // Origin 16 inside the area under the 48-high header.
  EXPECT_DOUBLE_EQ(runs[0].transform.e, 64 + 16);
  EXPECT_DOUBLE_EQ(runs[0].transform.f, 48 + 16);
  // No picture controls for a shell.
  EXPECT_FALSE(a.hit_rect(UiMessage::toggle_fullscreen()));
  EXPECT_TRUE(a.hit_rect(UiMessage::disconnect()));
}

// Wide and combining characters keep one cell each: every one is drawn alone
// at its own column, so the text after five CJK characters starts at column 5,
// not where the font's advances would put it.
TEST(AppSessionView, TerminalCellsStayOnTheirColumnsWhateverTheGlyph) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  a.show_session_status(ConnectionKind::Ssh, SessionStatus::connected());
  remote::vt::Terminal terminal(kTerminalColumns, kTerminalRows);
  terminal.feed(
      "\u4e2d\u6587\u4e2d\u6587\u4e2d"
      "ab e\u0301\x1b[31mx\u00e9y");
  a.state_mut().review_terminal = std::move(terminal);
  const auto& scene = host->paint();
  std::vector<std::pair<std::string, double>> runs;
  for (const auto& command : scene.commands()) {
    if (const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command)) {
      if (text->run.family == vesk_ui::scene::FontFamily::Mono) {
        runs.emplace_back(text->run.text, (text->run.transform.e - 64 - 16) / 8.4);
      }
    }
  }
  const std::vector<std::pair<std::string, double>> expected = {
      {"\u4e2d", 0}, {"\u6587", 1}, {"\u4e2d", 2}, {"\u6587", 3},  {"\u4e2d", 4},
      {"ab e", 5},   {"\u0301", 9}, {"x", 10},     {"\u00e9", 11}, {"y", 12}};
  ASSERT_EQ(runs.size(), expected.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].first, expected[i].first) << i;
    EXPECT_NEAR(runs[i].second, expected[i].second, 1e-9) << i;
  }
}

TEST(AppSessionView, LongTextsStayInsideTheirBoxes) {
  // The device's connecting line is wider than a narrow card: it is broken into lines.
  auto host = host_for(remote::app::build_sample_app("session-vesk"), 560, 800);
  RemoteApp& a = app_of(*host);
  const auto& scene = host->paint();
  std::size_t lines = 0;
  for (const auto& command : scene.commands()) {
    const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command);
    if (!text) continue;
    const double x0 = text->run.transform.e;
    const double w = host->text().measure(text->run.text, text->run.size, text->run.max_width).width;
    EXPECT_GE(x0, 64) << text->run.text;
    EXPECT_LE(x0 + w, 560) << text->run.text;
    if (text->run.text.starts_with("Opening") || text->run.text.ends_with("surface\u2026")) ++lines;
  }
  EXPECT_GE(lines, 2u);
  EXPECT_TRUE(a.hit_rect(UiMessage::disconnect()));

  // A connected header keeps its name and subtitle clear of its buttons.
  a.show_session_status(ConnectionKind::Vesk, SessionStatus::connected());
  const auto& connected = host->paint();
  const auto scale = a.hit_rect(UiMessage::toggle_scale());
  ASSERT_TRUE(scale);
  bool clipped = false;
  for (const auto& command : connected.commands()) {
    if (const auto* layer = std::get_if<vesk_ui::scene::PushLayerCmd>(&command)) {
      if (const auto* clip = std::get_if<Rect>(&layer->clip); clip && clip->y1 == 48) {
        clipped = clip->x1 <= scale->x0;
      }
    }
  }
  EXPECT_TRUE(clipped);
}

std::vector<vesk_ui::scene::TextRun> text_runs(const vesk_ui::scene::Scene& scene) {
  std::vector<vesk_ui::scene::TextRun> runs;
  for (const auto& command : scene.commands()) {
    if (const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command)) runs.push_back(text->run);
  }
  return runs;
}

const vesk_ui::scene::TextRun* run_starting(const std::vector<vesk_ui::scene::TextRun>& runs, std::string_view start) {
  for (const auto& run : runs) {
    if (run.text.starts_with(start)) return &run;
  }
  return nullptr;
}

// The bottom of a run as painted (wrapped at its own width).
double run_bottom(vesk_ui::headless::HeadlessHost& host, const vesk_ui::scene::TextRun& run) {
  return run.transform.f + host.text().measure_weighted(run.text, run.size, run.max_width, run.weight).height;
}

TEST(AppSessionView, ALongFailureReasonAndNameStayOnTheCard) {
  std::string reason;
  while (reason.size() < 4096) reason += "server said no because of reasons ";
  for (std::uint32_t width : {1280u, 560u}) {
    SCOPED_TRACE(width);
    auto host = host_for(RemoteApp::with_sample_data(), width, 800);
    RemoteApp& a = app_of(*host);
    a.show_session_status(ConnectionKind::Vnc, SessionStatus::failed(reason));
    find_connection(a.state_mut().connections, a.state().screen.id)->name =
        "A machine whose name is far too long for any card at size twenty";
    const auto runs = text_runs(host->paint());
    std::vector<const vesk_ui::scene::TextRun*> reason_lines;
    for (const auto& run : runs) {
      if (run.text.find("said") != std::string::npos || run.text.find("because") != std::string::npos ||
          run.text.find("reasons") != std::string::npos) {
        reason_lines.push_back(&run);
      }
    }
    ASSERT_FALSE(reason_lines.empty());
    // The card grows with the reason as far as the window lets it; the rest
    // of the reason is cut there, and the fixed line still closes the card.
    EXPECT_GT(reason_lines.size(), 4u);
    EXPECT_LE(run_bottom(*host, *reason_lines.back()), 800);
    EXPECT_TRUE(reason_lines.back()->text.ends_with("\u2026")) << reason_lines.back()->text;
    EXPECT_TRUE(run_starting(runs, "This is the real error"));
    // Every button is inside the window.
    for (Tag tag : {Tag::RequestConnect, Tag::Disconnect}) {
      const auto rect = a.hit_rect(tag == Tag::Disconnect ? UiMessage::disconnect()
                                                          : UiMessage::request_connect(a.state().screen.id));
      ASSERT_TRUE(rect);
      EXPECT_LE(rect->y1, 800);
    }
    // The name is cut to the card, which is at most 460 wide and centred in the content.
    const auto* name = run_starting(runs, "A machine");
    ASSERT_TRUE(name);
    EXPECT_TRUE(name->text.ends_with("\u2026"));
    const double card_w = std::min((width - 64.0) - 40.0, 460.0);
    EXPECT_LE(host->text().measure_weighted(name->text, 20.0f, std::nullopt, 3).width, card_w - 48.0 + 1e-9);
    // The whole reason is still there for assistive technology.
    const auto tree = host->accessibility_tree();
    const auto* status = tree.find_by_id(vesk_ui::access::node_id("remote.session.status"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->description, reason);
  }
}

TEST(AppOverlays, LongTextsGrowOrMoveTheirBoxes) {
  // The legacy RDP warning's second line stays in its box at every width.
  for (std::uint32_t width : {1280u, 560u, 400u}) {
    SCOPED_TRACE(width);
    auto host = host_for(RemoteApp::with_sample_data(), width, 800);
    RemoteApp& a = app_of(*host);
    Document scratch;
    a.apply_message(UiMessage::edit_connection(*a.first_connection_of_kind(ConnectionKind::Rdp)), scratch);
    const auto runs = text_runs(host->paint());
    const auto* title = run_starting(runs, "Legacy RDP profile");
    const auto* body = run_starting(runs, "RDP has no client backend");
    ASSERT_TRUE(title && body);
    const Rect content{64, 0, static_cast<double>(width), 800};
    const FormGeometry g =
        form_geometry(host->text(), content, a.state().form, a.state().discovered_devices.size(), true);
    ASSERT_TRUE(g.rdp_warning);
    EXPECT_LE(run_bottom(*host, *body), g.rdp_warning->y1) << width;
    EXPECT_GE(g.rdp_warning->height(), 54);
  }

  // A dialog title that wraps pushes the target and body down.
  {
    auto host = host_for(remote::app::build_sample_app("confirm-connect"), 560, 800);
    RemoteApp& a = app_of(*host);
    SavedConnection* c = find_connection(a.state_mut().connections, a.state().confirmation->id);
    c->name = "a device with a name long enough to wrap the dialog title onto more lines";
    const auto runs = text_runs(host->paint());
    const auto* title = run_starting(runs, "Connect to a device");
    // The list under the dialog shows the same target: the dialog's is painted last.
    const vesk_ui::scene::TextRun* target = nullptr;
    for (const auto& run : runs) {
      if (run.text == c->target_label()) target = &run;
    }
    const auto* body = run_starting(runs, "This opens a live remote session");
    ASSERT_TRUE(title && target && body);
    EXPECT_LE(run_bottom(*host, *title), target->transform.f);
    EXPECT_LE(run_bottom(*host, *target), body->transform.f);
    // The buttons stay below the body.
    const auto cancel = a.hit_rect(UiMessage::cancel_confirmation());
    ASSERT_TRUE(cancel);
    EXPECT_LE(run_bottom(*host, *body), cancel->y0);
  }

  // The notice toast is opaque and grows with its text.
  for (std::uint32_t width : {1280u, 560u}) {
    SCOPED_TRACE(width);
    auto host = host_for(RemoteApp::with_sample_data(), width, 800);
    RemoteApp& a = app_of(*host);
    a.state_mut().notice = notice::kForgot;  // "…before trusting it."
    a.state_mut().notice = *a.state().notice + " " + *a.state().notice;
    const auto& scene = host->paint();
    const auto runs = text_runs(scene);
    const auto* heading = run_starting(runs, "Action needs review");
    const auto* text = run_starting(runs, "Forgot the local");
    ASSERT_TRUE(heading && text);
    const double x0 = heading->transform.e - 12.0;
    const double y0 = heading->transform.f - 9.0;
    std::optional<Rect> toast;
    bool opaque = false;
    for (const auto& command : scene.commands()) {
      const auto* fill = std::get_if<vesk_ui::scene::FillCmd>(&command);
      if (!fill) continue;
      const auto* shape = std::get_if<vesk_ui::scene::RoundedRect>(&fill->shape);
      const auto* colour = std::get_if<Color>(&fill->brush);
      if (!shape || !colour || shape->rect.x0 != x0 || shape->rect.y0 != y0) continue;
      if (!toast) {
        toast = shape->rect;
        opaque = colour->to_rgba8().a == 255;  // the first fill is the ground
      }
    }
    ASSERT_TRUE(toast);
    EXPECT_TRUE(opaque);
    EXPECT_LE(run_bottom(*host, *text), toast->y1);
    EXPECT_DOUBLE_EQ(toast->y1, 800 - 16);
  }

  // An unfocused field whose text is longer than the field shows its start.
  {
    auto host = host_for(RemoteApp::with_sample_data(), 560, 800);
    RemoteApp& a = app_of(*host);
    Document scratch;
    a.apply_message(UiMessage::new_connection(), scratch);
    a.apply_message(UiMessage::set_kind(ConnectionKind::Vesk), scratch);
    a.apply_message(UiMessage::choose_discovered_device(0), scratch);  // a long endpoint id, Name focused
    host->paint();
    ASSERT_EQ(a.state().focused_input, InputField::Name);
    ASSERT_GT(host->text().measure(a.state().form.host, 14.0f, std::nullopt).width,
              a.input(InputField::Host).rect().width());
    EXPECT_EQ(a.input(InputField::Host).scroll_x(), 0.0);
  }
}

// The painters only read; the frame keeps what they recorded.
TEST(AppFrame, AFrameKeepsWhatItsPaintersRecorded) {
  auto host = host_for(RemoteApp::with_sample_data(), 560, 800);
  RemoteApp& a = app_of(*host);
  a.state_mut().hit_regions.push_back({UiMessage::confirm(), Rect{}});
  host->paint();
  EXPECT_EQ(count_tag(a.state().hit_regions, UiMessage::confirm().tag), 0u);  // the frame before's are gone

  // A focused field too short for its text keeps its place and the scroll
  // that shows the caret, for the next frame and for presses.
  Document scratch;
  a.apply_message(UiMessage::new_connection(), scratch);
  a.apply_message(UiMessage::set_kind(ConnectionKind::Vesk), scratch);
  a.apply_message(UiMessage::choose_discovered_device(0), scratch);  // a long endpoint id
  a.focus_input(InputField::Host);
  a.input_mut(InputField::Host).set_cursor_pos(a.state().form.host.size());
  host->paint();
  const auto field = a.hit_rect(UiMessage::focus_field(InputField::Host));
  ASSERT_TRUE(field);
  const Rect placed = a.input(InputField::Host).rect();
  EXPECT_DOUBLE_EQ(placed.x0, field->x0 + 12.0);
  EXPECT_DOUBLE_EQ(placed.x1, field->x1 - 12.0);
  EXPECT_DOUBLE_EQ(placed.y0, field->y0);
  EXPECT_DOUBLE_EQ(placed.y1, field->y1);
  EXPECT_GT(a.input(InputField::Host).scroll_x(), 0.0);
}

TEST(AppSessionView, PictureRectangles) {
  struct Case {
    Rect area;
    std::uint32_t w, h;
    bool fit;
    double shown_w, shown_h;
  };
  const std::vector<Case> cases = {
      {Rect{0, 0, 960, 600}, 1920, 1080, true, 960, 540}, {Rect{0, 0, 960, 600}, 1920, 1080, false, 960, 600},
      {Rect{0, 0, 960, 600}, 640, 480, false, 640, 480},  {Rect{0, 0, 960, 600}, 640, 480, true, 800, 600},
      {Rect{0, 0, 960, 600}, 0, 0, false, 1, 1},
  };
  for (const Case& c : cases) {
    const Rect r = picture_rect(c.area, c.w, c.h, c.fit);
    EXPECT_DOUBLE_EQ(r.width(), c.shown_w);
    EXPECT_DOUBLE_EQ(r.height(), c.shown_h);
    EXPECT_DOUBLE_EQ(r.center().x, c.area.center().x);
    EXPECT_DOUBLE_EQ(r.center().y, c.area.center().y);
  }
}

TEST(AppSessionView, ConnectedDeviceTakesKeysAndPointerOnlyWhileShown) {
  SavedConnection d = device_conn("bench");
  auto host = host_for(std::make_unique<RemoteApp>(std::vector{d}, std::vector<DiscoveredDevice>{}));
  RemoteApp& a = app_of(*host);
  a.open_session(d.id);
  const auto id = a.state().live_session->device()->id();
  a.on_device_event(device_event(id, vesk_ui::device_link::DeviceLinkEvent::Connected{101, 50}));
  (void)a.take_commands();  // the open command
  a.state_mut().session_surface = Rect{100, 100, 201, 150};
  host->pointer_move(150.5, 125);  // halfway across 101 pixels
  host->press();
  host->release();
  host->key(vesk_ui::event::Key{std::string("a"), std::string("KeyA"), std::string("a"), true, false});
  host->key(vesk_ui::event::Key{std::string("a"), std::string("KeyA"), std::string("a"), false, false});
  host->key(vesk_ui::event::Key{std::string("."), std::string("Period"), std::string("."), true, false});
  std::vector<DeviceInputEvent> sent;
  for (const DeviceLinkCommand& command : a.take_commands()) {
    if (const auto* input = std::get_if<DeviceLinkCommand::Input>(&command.value)) sent.push_back(input->event);
  }
  const std::vector<DeviceInputEvent> expected = {
      DeviceInputEvent::pointer_move(50.5, 25), DeviceInputEvent::activate(),    DeviceInputEvent::button(true, 272),
      DeviceInputEvent::button(false, 272),     DeviceInputEvent::key(true, 30), DeviceInputEvent::key(false, 30),
  };
  EXPECT_EQ(sent, expected);
  // On the list the device gets nothing and keys work as usual.
  a.state_mut().screen = Screen::connection_list();
  host->key_char("/", std::string("Slash"));
  EXPECT_EQ(a.state().focused_input, InputField::Search);
  host->pointer_move(160, 130);
  EXPECT_TRUE(a.take_commands().empty());
}

// ---- overlays ----

TEST(AppOverlays, DialogAndNoticeGeometry) {
  EXPECT_DOUBLE_EQ(dialog_geometry(Rect{0, 0, 300, 600}).panel.width(), 280);
  EXPECT_DOUBLE_EQ(dialog_geometry(Rect{0, 0, 1280, 800}).panel.width(), 460);
  EXPECT_DOUBLE_EQ(dialog_geometry(Rect{0, 0, 1280, 800}).panel.height(), 224);
  EXPECT_EQ(dialog_geometry(Rect{0, 0, 1280, 800}).panel.center(), (Point{640, 400}));
  const Rect notice = notice_rect(Rect{0, 0, 400, 600});
  EXPECT_DOUBLE_EQ(notice.width(), 368);
  EXPECT_DOUBLE_EQ(notice.x0, 400 - 384);
  EXPECT_DOUBLE_EQ(notice_rect(Rect{0, 0, 1280, 800}).width(), 520);
}

TEST(AppOverlays, OpenDialogLeavesOnlyItsButtonsOnTop) {
  auto host = host_for(remote::app::build_sample_app("confirm-delete"), 560, 800);
  RemoteApp& a = app_of(*host);
  a.state_mut().flap.open = FlapOpen::Open;
  host->paint();
  const auto& regions = a.state().hit_regions;
  ASSERT_GE(regions.size(), 2u);
  EXPECT_EQ(regions[regions.size() - 2].message.tag, Tag::CancelConfirmation);
  EXPECT_EQ(regions.back().message.tag, Tag::Confirm);
  EXPECT_FALSE(a.hit_rect(UiMessage::toggle_navigation()));  // no toggle or rail over a dialog
  const std::size_t before = a.state().connections.size();
  ASSERT_TRUE(click_message(*host, UiMessage::confirm()));
  EXPECT_EQ(a.state().connections.size(), before - 1);
}

// ---- shared painters ----

TEST(AppPaintHelpers, AlphaAndShortLabels) {
  const Color c = Color::from_rgba8(10, 20, 30);
  EXPECT_EQ(colour_with_alpha(c, 0.999f).to_rgba8().a, 254);
  EXPECT_EQ(colour_with_alpha(c, 1.5f).to_rgba8().a, 255);
  EXPECT_EQ(colour_with_alpha(c, -1.0f).to_rgba8().a, 0);
  EXPECT_EQ(colour_with_alpha(c, 0.5f).to_rgba8().r, 10);
  EXPECT_EQ(shorten_label("abcdefghijkl"), "abcdefghijkl");
  EXPECT_EQ(shorten_label("abcdefghijklm"), "abcdefghijkl\u2026");
  EXPECT_EQ(shorten_label("\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"),
            "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u2026");
  EXPECT_EQ(remote::text::fill("{} of {}", {std::to_string(3), std::string("x")}), "3 of x");
}

}  // namespace

namespace {

// Random presses, moves, wheels and keys over every review scene: no frame
// may fail, and every frame's layers are balanced.
TEST(AppViewsRobustness, RandomInputNeverBreaksAFrame) {
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::nullopt);  // nothing may reach a network
  std::vector<std::string> words = {""};
  for (std::string_view w : kReviewScenes) words.emplace_back(w);
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  const std::vector<NamedKey> keys = {NamedKey::Enter,   NamedKey::Tab,       NamedKey::Escape, NamedKey::ArrowDown,
                                      NamedKey::ArrowUp, NamedKey::Backspace, NamedKey::Delete, NamedKey::Space};
  for (const std::string& word : words) {
    for (std::uint32_t width : {1280u, 560u}) {
      auto host = host_for(remote::app::build_sample_app(word), width, 800);
      for (int step = 0; step < 150; ++step) {
        const double x = next() % (width + 40) - 20.0;
        const double y = next() % 840 - 20.0;
        switch (next() % 7) {
          case 0:
          case 1: host->click(x, y); break;
          case 2: host->pointer_move(x, y); break;
          case 3: host->wheel_lines(0, static_cast<float>(next() % 7) - 3.0f); break;
          case 4: host->key_named(keys[next() % keys.size()]); break;
          case 5: host->key_char(std::string(1, static_cast<char>('a' + next() % 26))); break;
          case 6:
            host->set_modifiers({.control = true});
            host->key_char(next() % 2 ? "f" : "n");
            host->set_modifiers({});
            break;
        }
        host->advance(std::chrono::milliseconds(40));
        const auto& scene = host->paint();
        ASSERT_TRUE(scene.balanced()) << word << " step " << step;
        for (const HitRegion& r : app_of(*host).state().hit_regions) {
          ASSERT_LE(r.rect.x0, r.rect.x1) << word;
          ASSERT_LE(r.rect.y0, r.rect.y1) << word;
        }
        (void)host->accessibility_tree();
      }
    }
  }
}

}  // namespace
