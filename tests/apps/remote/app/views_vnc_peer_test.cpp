// The session view against TigerVNC's Xvnc on 127.0.0.1, through the
// headless host: connecting from the keyboard, the picture shown to fit or at
// its own size, and the pointer mapped into it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>

#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"
#include "tests/apps/remote/app/x_pointer.hpp"

#define RFB_X_PATTERN "unused"  // the pattern client is not needed here
#include "tests/apps/remote/rfb/peers.hpp"

namespace {

using namespace apptest;
using vesk_ui::event::NamedKey;

// Xvnc on 127.0.0.1 with one saved connection to it, and the application in
// the headless host, for each test.
struct AppViewsVncPeer : ::testing::Test {
  std::optional<rfb_test::Xvnc> server = rfb_test::Xvnc::start({"-SecurityTypes", "None"}, 320, 240);
  ScopedEnv live{"REMOTE_LIVE_SESSIONS", std::string("1")};
  ScopedEnv password{"REMOTE_VNC_PASSWORD", std::nullopt};
  SavedConnection desk = conn("desk", ConnectionKind::Vnc, "127.0.0.1", server ? server->port : 0);
  std::unique_ptr<vesk_ui::headless::HeadlessHost> owned =
      host_for(std::make_unique<RemoteApp>(std::vector{desk}, std::vector<DiscoveredDevice>{}));
  vesk_ui::headless::HeadlessHost& host = *owned;
  RemoteApp& app = host.widget_as<RemoteApp>();
  Document doc;

  // Opens a new session and waits until it is connected and painted.
  bool connect() {
    app.apply_message(UiMessage::open_session(desk.id), doc);
    return eventually([&] {
      host.advance(std::chrono::milliseconds(16));
      host.paint();
      return app.state().session_surface.has_value() && app.vnc_session() != nullptr;
    });
  }
};

TEST_F(AppViewsVncPeer, PictureFitsOrKeepsItsSizeAndThePointerMapsIntoIt) {
  ASSERT_TRUE(server) << "Xvnc did not start";
  host.key_named(NamedKey::Enter);
  host.key_named(NamedKey::Enter);
  ASSERT_TRUE(eventually([&] {
    host.advance(std::chrono::milliseconds(16));
    host.paint();
    return app.state().session_surface.has_value();
  }));
  // Fit: 320 × 240 scaled by min(1216 / 320, 752 / 240) under the header, centred.
  const Rect area{64, 48, 1280, 800};
  const double s = std::min(area.width() / 320, area.height() / 240);
  Rect shown = *app.state().session_surface;
  EXPECT_NEAR(shown.width(), 320 * s, 1e-9);
  EXPECT_NEAR(shown.height(), 240 * s, 1e-9);
  EXPECT_NEAR(shown.center().x, area.center().x, 1e-9);

  const auto scale = app.hit_rect(UiMessage::toggle_scale());
  ASSERT_TRUE(scale);
  host.click(scale->center().x, scale->center().y);
  EXPECT_FALSE(app.state().scale_to_fit);
  host.paint();
  shown = *app.state().session_surface;
  EXPECT_DOUBLE_EQ(shown.width(), 320);
  EXPECT_DOUBLE_EQ(shown.height(), 240);

  using P = std::pair<std::uint16_t, std::uint16_t>;
  EXPECT_EQ(app.vnc_pointer_position(shown.x0 + 160.5, shown.y0 + 10.5), (P{160, 10}));
  // The edges: just inside the right and bottom ones gives w − 1 and h − 1; on them nothing maps.
  EXPECT_EQ(app.vnc_pointer_position(shown.x1 - 0.001, shown.y1 - 0.001), (P{319, 239}));
  EXPECT_EQ(app.vnc_pointer_position(shown.x1, shown.y0), std::nullopt);
  EXPECT_EQ(app.vnc_pointer_position(shown.x0, shown.y1), std::nullopt);
  // A press on the picture goes to the server (held in the mask), not to a region.
  host.pointer_move(shown.x0 + 5, shown.y0 + 5);
  EXPECT_TRUE(host.press());
  EXPECT_EQ(app.state().vnc_button_mask, 1);
  EXPECT_TRUE(host.release());
  EXPECT_EQ(app.state().vnc_button_mask, 0);
  // Keys go to the server while its screen is shown; Control+W disconnects.
  EXPECT_TRUE(host.key_char("a"));
  host.set_modifiers({.control = true});
  host.key_char("w");
  EXPECT_FALSE(app.state().live_session);
}

// A button pressed in the picture comes up on the server whatever happens
// before the user lets go: released outside the picture, the window losing
// focus, the list shown, a dialog opened, the session disconnected.
TEST_F(AppViewsVncPeer, ButtonPressedInThePictureIsAlwaysReleasedOnTheServer) {
  ASSERT_TRUE(server) << "Xvnc did not start";
  XPointer x(server->display_name());
  ASSERT_TRUE(x.connected());
  struct Case {
    const char* how;
    std::function<void()> stop;
  };
  const Case cases[] = {
      {"released outside the picture",
       [&] {
         const Rect shown = *app.state().session_surface;
         host.pointer_move(shown.x0 - 1, shown.y0 - 1);
         host.release();
       }},
      {"window focus lost", [&] { host.send(vesk_ui::event::WindowFocus{false}); }},
      {"list shown", [&] { app.apply_message(UiMessage::show_connections(), doc); }},
      {"dialog opened", [&] { app.apply_message(UiMessage::request_delete(desk.id), doc); }},
      {"disconnected",
       [&] {
         host.set_modifiers({.control = true});
         host.key_char("w");
         host.set_modifiers({});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    app.state_mut().confirmation.reset();
    ASSERT_TRUE(connect());
    const Rect shown = *app.state().session_surface;
    host.pointer_move(shown.x0 + 20, shown.y0 + 20);
    ASSERT_TRUE(host.press());
    ASSERT_TRUE(eventually([&] { return x.buttons() == XPointer::kLeft; }, std::chrono::seconds(5)));
    c.stop();
    EXPECT_EQ(app.state().vnc_button_mask, 0);
    EXPECT_TRUE(eventually([&] { return x.buttons() == 0; }, std::chrono::seconds(5)));
    host.release();  // the user lets go at last
  }
}

// Keys as the user types them: Shift, Control, Alt and Super travel as their
// own keys, so the server's layout makes what was typed of them, never
// faking a Shift or latching Caps Lock itself; held ones come up with the rest.
TEST_F(AppViewsVncPeer, TypedTextAndControlKeysArriveAsTyped) {
  using vesk_ui::event::Key;
  using vesk_ui::event::Modifiers;
  ASSERT_TRUE(server) << "Xvnc did not start";
  XTypedKeys typed(server->display_name());
  ASSERT_TRUE(typed.connected());
  ASSERT_TRUE(connect());
  auto key = [&](Key k, Modifiers held) {
    host.set_modifiers(held);
    host.send(k);
  };
  auto stroke = [&](const std::string& character, std::optional<std::string> text, Modifiers held) {
    key(Key{character, std::nullopt, text, true, false}, held);
    key(Key{character, std::nullopt, std::nullopt, false, false}, held);
  };
  const Modifiers none{};
  const Modifiers shift{.shift = true};
  const Modifiers control{.control = true};
  const Key shift_down{NamedKey::Shift, "ShiftLeft", std::nullopt, true, false};
  const Key shift_up{NamedKey::Shift, "ShiftLeft", std::nullopt, false, false};
  const Key control_down{NamedKey::Control, "ControlRight", std::nullopt, true, false};
  const Key control_up{NamedKey::Control, "ControlRight", std::nullopt, false, false};

  const Modifiers alt{.alt = true};
  const Key alt_down{NamedKey::Alt, "AltLeft", std::nullopt, true, false};
  const Key alt_up{NamedKey::Alt, "AltLeft", std::nullopt, false, false};
  const Key altgr_down{NamedKey::Alt, "AltRight", std::nullopt, true, false};
  const Key altgr_up{NamedKey::Alt, "AltRight", std::nullopt, false, false};

  // "Zжő", Ctrl+C, Alt+x, and "@" composed with AltGr.
  key(shift_down, shift);
  key(shift_down, shift);  // key repeat
  stroke("z", "Z", shift);
  key(shift_up, none);
  stroke("\u0436", "\u0436", none);
  stroke("\u0151", "\u0151", none);
  key(control_down, control);
  stroke("c", std::nullopt, control);
  key(control_up, none);
  key(alt_down, alt);
  stroke("x", "x", alt);
  key(alt_up, none);
  key(altgr_down, alt);
  stroke("q", "@", alt);
  key(altgr_up, none);
  ASSERT_TRUE(eventually([&] {
    typed.pump();
    return typed.presses().size() >= 6;
  }));
  const auto& got = typed.presses();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].keysym, 0x5Au);  // Z
  EXPECT_EQ(got[0].state, XTypedKeys::kShift);
  // The server's own keysym for a character may be the legacy or the Unicode one.
  auto one_of = [](unsigned long keysym, std::initializer_list<unsigned long> wanted) {
    return std::find(wanted.begin(), wanted.end(), keysym) != wanted.end();
  };
  EXPECT_TRUE(one_of(got[1].keysym, {0x6C6, 0x1000436})) << std::hex << got[1].keysym;  // ж, not Ж
  EXPECT_EQ(got[1].state, 0u);
  EXPECT_TRUE(one_of(got[2].keysym, {0x1F5, 0x1000151})) << std::hex << got[2].keysym;  // ő, not Ő
  EXPECT_EQ(got[2].state, 0u);
  EXPECT_EQ(got[3].keysym, 0x63u);  // c, with Control held: Ctrl+C
  EXPECT_EQ(got[3].state, XTypedKeys::kControl);
  EXPECT_EQ(got[4].keysym, 0x78u);  // x, with Alt held: Meta+x
  EXPECT_EQ(got[4].state, XTypedKeys::kAlt);
  EXPECT_EQ(got[5].keysym, 0x40u);  // @, without Alt
  EXPECT_EQ(got[5].state & (XTypedKeys::kAlt | XTypedKeys::kControl), 0u);
  EXPECT_FALSE(typed.caps_lock_on());
  EXPECT_TRUE(eventually([&] { return !typed.modifier_held(); }, std::chrono::seconds(5)));

  // A held modifier comes up when input stops going to the session.
  struct Case {
    const char* how;
    std::function<void()> stop;
  };
  const Case cases[] = {
      {"window focus lost", [&] { host.send(vesk_ui::event::WindowFocus{false}); }},
      {"list shown", [&] { app.apply_message(UiMessage::show_connections(), doc); }},
      {"dialog opened", [&] { app.apply_message(UiMessage::request_delete(desk.id), doc); }},
      {"disconnected", [&] { app.apply_message(UiMessage::disconnect(), doc); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    app.state_mut().confirmation.reset();
    ASSERT_TRUE(connect());
    key(shift_down, shift);
    ASSERT_TRUE(eventually([&] { return typed.modifier_held(); }, std::chrono::seconds(5)));
    c.stop();
    EXPECT_TRUE(eventually([&] { return !typed.modifier_held(); }, std::chrono::seconds(5)));
    key(shift_up, none);  // the user lets go at last: nothing more is sent
  }
}

}  // namespace
