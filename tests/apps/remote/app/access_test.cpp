// The key maps, the accessibility tree and semantic actions, and rendered
// review scenes checked for their colours at known points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "apps/remote/src/app/key_maps.hpp"
#include "apps/remote/src/app/launch.hpp"
#include "apps/remote/src/app/samples.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::access::AccessNode;
using vesk_ui::access::ActionKind;
using vesk_ui::access::Role;
using vesk_ui::access::SemanticAction;
using vesk_ui::event::Key;
using vesk_ui::event::NamedKey;
using vesk_ui::scene::Color;

RemoteApp& app_of(vesk_ui::headless::HeadlessHost& host) { return host.widget_as<RemoteApp>(); }

const AccessNode* find(const AccessNode& root, std::string_view action_id) { return root.find_by_action_id(action_id); }
const AccessNode* find_id(const AccessNode& root, std::string_view id_text) {
  return root.find_by_id(vesk_ui::access::node_id(id_text));
}

// ---- key maps ----

using vesk_ui::event::Modifiers;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }
Key named(NamedKey key) { return Key{key, {}, {}, true, false}; }

TEST(AppKeyMaps, SshBytes) {
  const Modifiers none{};
  const Modifiers control{.control = true};
  const Modifiers alt{.alt = true};
  const Modifiers shift{.shift = true};
  const Modifiers alt_shift{.shift = true, .alt = true};
  const Modifiers control_alt{.control = true, .alt = true};
  struct Case {
    const char* label;
    Key key;
    Modifiers modifiers;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"Enter", named(NamedKey::Enter), none, {0x0D}},
      {"Backspace", named(NamedKey::Backspace), none, {0x7F}},
      {"Left", named(NamedKey::ArrowLeft), none, bytes_of("\x1b[D")},
      {"Home", named(NamedKey::Home), none, bytes_of("\x1b[H")},
      {"Delete", named(NamedKey::Delete), none, bytes_of("\x1b[3~")},
      {"F1", named(NamedKey::F1), none, bytes_of("\x1bOP")},
      {"Shift+Tab", named(NamedKey::Tab), shift, bytes_of("\x1b[Z")},
      {"Shift+Enter", named(NamedKey::Enter), shift, {0x0D}},
      {"Ctrl+c", Key{std::string("c"), {}, {}, true, false}, control, {0x03}},
      {"Ctrl+Z", Key{std::string("Z"), {}, {}, true, false}, control, {26}},
      {"Ctrl+1", Key{std::string("1"), {}, std::string("1"), true, false}, control, {'1'}},
      {"e acute", Key{std::string("e"), {}, std::string("\u00e9"), true, false}, none, {0xC3, 0xA9}},
      {"no text", Key{std::string("q"), {}, {}, true, false}, none, {'q'}},
      // Meta: ESC first.
      {"Alt+x", Key{std::string("x"), {}, std::string("x"), true, false}, alt, bytes_of("\x1bx")},
      {"Alt+Shift+x", Key{std::string("x"), {}, std::string("X"), true, false}, alt_shift, bytes_of("\x1bX")},
      {"Alt+.", Key{std::string("."), {}, std::string("."), true, false}, alt, bytes_of("\x1b.")},
      {"Alt+Backspace", named(NamedKey::Backspace), alt, bytes_of("\x1b\x7f")},
      {"Alt+Left", named(NamedKey::ArrowLeft), alt, bytes_of("\x1b\x1b[D")},
      {"Ctrl+Alt+x", Key{std::string("x"), {}, {}, true, false}, control_alt, bytes_of("\x1b\x18")},
      // AltGr composing a character is not Meta.
      {"AltGr+q", Key{std::string("q"), {}, std::string("@"), true, false}, alt, bytes_of("@")},
      {"AltGr+e", Key{std::string("e"), {}, std::string("\u20ac"), true, false}, alt, bytes_of("\u20ac")},
      {"Alt alone", named(NamedKey::Alt), alt, {}},
      {"Shift alone", named(NamedKey::Shift), shift, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ssh_bytes_for_key(c.key, c.modifiers, false), c.bytes) << c.label;

  // Application cursor keys (DECCKM): the arrows, Home and End only.
  const std::vector<std::pair<NamedKey, Bytes>> application = {
      {NamedKey::ArrowUp, bytes_of("\x1bOA")},    {NamedKey::ArrowDown, bytes_of("\x1bOB")},
      {NamedKey::ArrowRight, bytes_of("\x1bOC")}, {NamedKey::ArrowLeft, bytes_of("\x1bOD")},
      {NamedKey::Home, bytes_of("\x1bOH")},       {NamedKey::End, bytes_of("\x1bOF")},
      {NamedKey::PageUp, bytes_of("\x1b[5~")},    {NamedKey::Delete, bytes_of("\x1b[3~")},
      {NamedKey::F5, bytes_of("\x1b[15~")},       {NamedKey::Enter, {0x0D}},
  };
  for (const auto& [key, bytes] : application) {
    EXPECT_EQ(ssh_bytes_for_named_key(key, true, false), bytes) << named_key_name(key);
    EXPECT_EQ(ssh_bytes_for_key(named(key), none, true), bytes) << named_key_name(key);
  }
  EXPECT_EQ(ssh_bytes_for_key(named(NamedKey::ArrowUp), alt, true), bytes_of("\x1b\x1bOA"));

  // What tells AltGr composing from Alt as Meta, for both protocols.
  EXPECT_TRUE(composed_with_alt(Key{std::string("q"), {}, std::string("@"), true, false}, alt));
  EXPECT_FALSE(composed_with_alt(Key{std::string("q"), {}, std::string("@"), true, false}, none));
  EXPECT_FALSE(composed_with_alt(Key{std::string("x"), {}, std::string("X"), true, false}, alt_shift));
  EXPECT_FALSE(composed_with_alt(Key{std::string("x"), {}, {}, true, false}, alt));
  EXPECT_FALSE(composed_with_alt(named(NamedKey::Enter), alt));
}

TEST(AppKeyMaps, VncKeysymsAndDeviceCodes) {
  EXPECT_EQ(vnc_keysym_for_key(named(NamedKey::Enter), false), 0xFF0Du);
  EXPECT_EQ(vnc_keysym_for_key(Key{NamedKey::Space, {}, std::string(" "), true, false}, false), 0x20u);
  EXPECT_EQ(vnc_keysym_for_key(named(NamedKey::Delete), false), 0xFFFFu);
  EXPECT_EQ(vnc_keysym_for_key(named(NamedKey::Home), false), std::nullopt);
  EXPECT_EQ(vnc_keysym_for_key(Key{std::string("a"), {}, std::string("\u00e9x"), true, false}, false), 0xE9u);
  EXPECT_EQ(vnc_keysym_for_key(Key{std::string("a"), {}, {}, true, false}, false), std::nullopt);
  // Typed case is kept: Shift travels as its own key.
  EXPECT_EQ(vnc_keysym_for_key(Key{std::string("z"), {}, std::string("Z"), true, false}, false), 0x5Au);
  EXPECT_EQ(vnc_keysym_for_key(Key{std::string("\u0436"), {}, std::string("\u0436"), true, false}, false), 0x01000436u);
  // With Control no text is typed; the character goes, Control is held.
  EXPECT_EQ(vnc_keysym_for_key(Key{std::string("c"), {}, {}, true, false}, true), 0x63u);
  EXPECT_EQ(vnc_keysym_for_key(named(NamedKey::Control), true), std::nullopt);

  const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> codes = {
      {"KeyA", 30},
      {"KeyZ", 44},
      {"KeyM", 50},
      {"Digit1", 2},
      {"Digit9", 10},
      {"Digit0", 11},
      {"Escape", 1},
      {"Enter", 28},
      {"ControlRight", 97},
      {"AltRight", 100},
      {"ArrowDown", 108},
      {"Space", 57},
      {"Delete", std::nullopt},
      {"Home", std::nullopt},
      {"F1", std::nullopt},
      {"Numpad1", std::nullopt},
      {"Keya", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [code, linux_code] : codes) EXPECT_EQ(device_key_code(code), linux_code) << code;
}

// Every entry of the three tables, so that a wrong constant anywhere fails.
TEST(AppKeyMaps, WholeTables) {
  const std::vector<std::pair<NamedKey, std::vector<std::uint8_t>>> ssh = {
      {NamedKey::Enter, {0x0D}},
      {NamedKey::Tab, {0x09}},
      {NamedKey::Space, {0x20}},
      {NamedKey::Backspace, {0x7F}},
      {NamedKey::Escape, {0x1B}},
      {NamedKey::ArrowUp, {0x1B, 0x5B, 0x41}},
      {NamedKey::ArrowDown, {0x1B, 0x5B, 0x42}},
      {NamedKey::ArrowRight, {0x1B, 0x5B, 0x43}},
      {NamedKey::ArrowLeft, {0x1B, 0x5B, 0x44}},
      {NamedKey::Home, {0x1B, 0x5B, 0x48}},
      {NamedKey::End, {0x1B, 0x5B, 0x46}},
      {NamedKey::Delete, {0x1B, 0x5B, 0x33, 0x7E}},
      {NamedKey::Insert, {0x1B, 0x5B, 0x32, 0x7E}},
      {NamedKey::PageUp, {0x1B, 0x5B, 0x35, 0x7E}},
      {NamedKey::PageDown, {0x1B, 0x5B, 0x36, 0x7E}},
      {NamedKey::F1, {0x1B, 0x4F, 0x50}},
      {NamedKey::F2, {0x1B, 0x4F, 0x51}},
      {NamedKey::F3, {0x1B, 0x4F, 0x52}},
      {NamedKey::F4, {0x1B, 0x4F, 0x53}},
      {NamedKey::F5, {0x1B, 0x5B, 0x31, 0x35, 0x7E}},
      {NamedKey::F6, {0x1B, 0x5B, 0x31, 0x37, 0x7E}},
      {NamedKey::F7, {0x1B, 0x5B, 0x31, 0x38, 0x7E}},
      {NamedKey::F8, {0x1B, 0x5B, 0x31, 0x39, 0x7E}},
      {NamedKey::F9, {0x1B, 0x5B, 0x32, 0x30, 0x7E}},
      {NamedKey::F10, {0x1B, 0x5B, 0x32, 0x31, 0x7E}},
      {NamedKey::F11, {0x1B, 0x5B, 0x32, 0x33, 0x7E}},
      {NamedKey::F12, {0x1B, 0x5B, 0x32, 0x34, 0x7E}},
  };
  for (const auto& [key, bytes] : ssh) {
    EXPECT_EQ(ssh_bytes_for_named_key(key, false, false), bytes) << named_key_name(key);
    EXPECT_EQ(ssh_bytes_for_key(Key{key, {}, {}, true, false}, {}, false), bytes) << named_key_name(key);
  }
  for (NamedKey key : {NamedKey::Shift, NamedKey::Control, NamedKey::Alt, NamedKey::Super, NamedKey::CapsLock}) {
    EXPECT_EQ(ssh_bytes_for_named_key(key, false, false), std::nullopt) << named_key_name(key);
  }

  const std::vector<std::pair<NamedKey, std::optional<std::uint32_t>>> vnc = {
      {NamedKey::Enter, 0xFF0D},     {NamedKey::Tab, 0xFF09},        {NamedKey::Space, 0x0020},
      {NamedKey::Backspace, 0xFF08}, {NamedKey::Escape, 0xFF1B},     {NamedKey::ArrowLeft, 0xFF51},
      {NamedKey::ArrowUp, 0xFF52},   {NamedKey::ArrowRight, 0xFF53}, {NamedKey::ArrowDown, 0xFF54},
      {NamedKey::Delete, 0xFFFF},    {NamedKey::Home, std::nullopt}, {NamedKey::End, std::nullopt},
  };
  for (const auto& [key, keysym] : vnc) {
    EXPECT_EQ(vnc_keysym_for_named_key(key), keysym) << static_cast<int>(key);
    EXPECT_EQ(vnc_keysym_for_key(Key{key, {}, {}, true, false}, false), keysym) << static_cast<int>(key);
  }
  EXPECT_EQ(vnc_keysym_for_named_key(NamedKey::F1), std::nullopt);

  // Modifiers, left and right by the physical key.
  struct Modifier {
    NamedKey key;
    std::optional<std::string> code;
    std::optional<std::uint32_t> keysym;
  };
  const std::vector<Modifier> modifiers = {
      {NamedKey::Shift, "ShiftLeft", 0xFFE1},     {NamedKey::Shift, "ShiftRight", 0xFFE2},
      {NamedKey::Control, "ControlLeft", 0xFFE3}, {NamedKey::Control, "ControlRight", 0xFFE4},
      {NamedKey::Alt, "AltLeft", 0xFFE9},         {NamedKey::Alt, "AltRight", 0xFFEA},
      {NamedKey::Super, "MetaLeft", 0xFFEB},      {NamedKey::Super, "MetaRight", 0xFFEC},
      {NamedKey::Shift, std::nullopt, 0xFFE1},    {NamedKey::CapsLock, "CapsLock", std::nullopt},
      {NamedKey::Enter, "Enter", std::nullopt},
  };
  for (const auto& m : modifiers) {
    EXPECT_EQ(vnc_modifier_keysym(Key{m.key, m.code, {}, true, false}), m.keysym) << m.code.value_or("none");
    EXPECT_EQ(vnc_modifier_keysym(Key{m.key, m.code, {}, false, false}), m.keysym) << m.code.value_or("none");
  }
  EXPECT_EQ(vnc_modifier_keysym(Key{std::string("a"), "KeyA", std::string("a"), true, false}), std::nullopt);

  std::vector<std::pair<std::string, std::uint32_t>> device;
  for (int d = 1; d <= 9; ++d) device.emplace_back("Digit" + std::to_string(d), static_cast<std::uint32_t>(d + 1));
  device.emplace_back("Digit0", 11);
  const std::uint32_t letters[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                     49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
  for (int i = 0; i < 26; ++i) device.emplace_back(std::string("Key") + static_cast<char>('A' + i), letters[i]);
  for (const auto& [code, linux_code] : std::vector<std::pair<std::string, std::uint32_t>>{{"Escape", 1},
                                                                                           {"Backspace", 14},
                                                                                           {"Tab", 15},
                                                                                           {"Enter", 28},
                                                                                           {"ControlLeft", 29},
                                                                                           {"ControlRight", 97},
                                                                                           {"ShiftLeft", 42},
                                                                                           {"ShiftRight", 54},
                                                                                           {"AltLeft", 56},
                                                                                           {"AltRight", 100},
                                                                                           {"Space", 57},
                                                                                           {"ArrowUp", 103},
                                                                                           {"ArrowLeft", 105},
                                                                                           {"ArrowRight", 106},
                                                                                           {"ArrowDown", 108}}) {
    device.emplace_back(code, linux_code);
  }
  for (const auto& [code, linux_code] : device) EXPECT_EQ(device_key_code(code), linux_code) << code;
  for (const char* dropped : {"Minus", "Period", "F5", "MetaLeft", "MetaRight", "NumpadEnter", "End", "PageUp"}) {
    EXPECT_EQ(device_key_code(dropped), std::nullopt) << dropped;
  }
}

// ---- accessibility tree ----

TEST(AppAccessibility, NodeIdsAndNavigationByWidth) {
  EXPECT_EQ(vesk_ui::access::node_id("remote.list"), 0xBA95AAA87B281E10ull);
  auto wide = host_for(RemoteApp::with_sample_data());
  const AccessNode tree = wide->accessibility_tree();
  ASSERT_EQ(tree.role, Role::Root);
  EXPECT_EQ(tree.bounds, app_of(*wide).bounds());
  const AccessNode& nav = tree.children.at(0);
  ASSERT_EQ(nav.children.size(), 2u);
  EXPECT_EQ(nav.children[0].action_id, "remote.nav.list");
  EXPECT_EQ(nav.children[0].bounds, app_of(*wide).hit_rect(UiMessage::show_connections()));
  EXPECT_FALSE(find(tree, "remote.nav.toggle"));

  auto narrow = host_for(RemoteApp::with_sample_data(), 560);
  const AccessNode small = narrow->accessibility_tree();
  ASSERT_EQ(small.children.at(0).children.size(), 1u);
  const AccessNode& toggle = small.children[0].children[0];
  EXPECT_EQ(toggle.label, "Open navigation");
  EXPECT_EQ(toggle.expanded, false);
  EXPECT_TRUE(toggle.bounds);
  // The heading keeps its full name though the painted title is shortened.
  EXPECT_EQ(find_id(small, "remote.list.heading")->label, "Remote Machines");
}

TEST(AppAccessibility, AddAndNewConnectionAreTwoNodesWithTheirOwnBounds) {
  struct Case {
    const char* name;
    std::unique_ptr<RemoteApp> app;
    std::uint32_t width;
  };
  std::vector<Case> cases;
  cases.push_back({"wide list", RemoteApp::with_sample_data(), 1280});
  cases.push_back({"empty list", RemoteApp::empty(), 1280});
  auto open = RemoteApp::with_sample_data();
  open->apply_layout_word("narrow-open");
  cases.push_back({"narrow, flap open", std::move(open), 560});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = host_for(std::move(c.app), c.width);
    const auto& regions = app_of(*host).state().hit_regions;
    std::vector<Rect> news;  // in paint order: the list's first, the rail's last
    for (const HitRegion& r : regions) {
      if (r.message == UiMessage::new_connection()) news.push_back(r.rect);
    }
    ASSERT_GE(news.size(), 2u);
    const AccessNode tree = host->accessibility_tree();
    std::vector<const AccessNode*> nodes;
    std::function<void(const AccessNode&)> walk = [&](const AccessNode& n) {
      if (n.action_id == "remote.connection.new") nodes.push_back(&n);
      for (const AccessNode& child : n.children) walk(child);
    };
    walk(tree);
    ASSERT_EQ(nodes.size(), 2u);
    const AccessNode& rail = *nodes[0];  // navigation comes first
    const AccessNode& list = *nodes[1];
    EXPECT_EQ(rail.label, "Add connection");
    EXPECT_EQ(list.label, "New connection");
    EXPECT_EQ(rail.id, vesk_ui::access::node_id("remote.connection.new"));
    EXPECT_NE(list.id, rail.id);
    EXPECT_EQ(rail.bounds, news.back());
    EXPECT_EQ(list.bounds, news.front());
  }
}

TEST(AppAccessibility, ListRowsAndEmptyTexts) {
  auto empty = host_for(RemoteApp::empty());
  EXPECT_EQ(find_id(empty->accessibility_tree(), "remote.list.empty")->label,
            "No machines yet. Add a connection to reach it over SSH, VNC, or the Vesk relay.");

  std::vector<SavedConnection> list = {
      conn("shell", ConnectionKind::Ssh, "a.example.com", 22, AuthKind::Password, "me"), device_conn("bench", 1)};
  list[0].last_used = "2h ago";
  auto host = host_for(std::make_unique<RemoteApp>(list, std::vector<DiscoveredDevice>{}));
  const AccessNode tree = host->accessibility_tree();
  const AccessNode* rows = find_id(tree, "remote.list");
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->children.size(), 2u);
  const AccessNode* shell = find(tree, "remote.connection:" + list[0].id.to_string() + ":select");
  ASSERT_TRUE(shell);
  EXPECT_EQ(shell->children.size(), 2u);  // needs a capability: favourite and edit only
  EXPECT_EQ(shell->value, "me@a.example.com:22");
  EXPECT_EQ(shell->set_size, 2u);
  EXPECT_TRUE(shell->label->starts_with("shell, SSH, status unknown, "));
  EXPECT_TRUE(shell->label->ends_with(", last used 2h ago"));
  const AccessNode* bench = find(tree, "remote.connection:" + list[1].id.to_string() + ":select");
  ASSERT_EQ(bench->children.size(), 3u);  // ready: favourite, edit, connect
  EXPECT_EQ(bench->children[2].bounds, app_of(*host).hit_rect(UiMessage::request_connect(list[1].id)));

  app_of(*host).state_mut().search = "zzz";
  EXPECT_EQ(find_id(host->accessibility_tree(), "remote.list.empty")->label, "No machines match your search.");
}

TEST(AppAccessibility, RdpFormAndSessionNodes) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  const Uuid rdp = *a.first_connection_of_kind(ConnectionKind::Rdp);
  Document scratch;
  a.apply_message(UiMessage::edit_connection(rdp), scratch);
  host->paint();
  const AccessNode tree = host->accessibility_tree();
  EXPECT_TRUE(find_id(tree, "remote.form.legacy-rdp"));
  const AccessNode* protocol = find_id(tree, "remote.form.protocol");
  ASSERT_EQ(protocol->children.size(), 3u);
  for (const AccessNode& option : protocol->children) EXPECT_EQ(option.toggled, false);
  EXPECT_EQ(find_id(tree, "remote.form.authentication")->children.size(), 1u);
  EXPECT_TRUE(find(tree, "remote.connection:" + rdp.to_string() + ":delete"));

  auto session = host_for(remote::app::build_sample_app("session-failed"));
  const AccessNode s = session->accessibility_tree();
  EXPECT_EQ(find_id(s, "remote.session.status")->label, "Connection failed: Connection refused");
  EXPECT_EQ(find(s, "remote.session.disconnect")->label, "Back to list");
  EXPECT_TRUE(find(s, "remote.session.disconnect")->bounds);
  EXPECT_EQ(find(s, "remote.connection:" + app_of(*session).state().screen.id.to_string() + ":connect")->label,
            "Retry connection");

  auto trust = host_for(remote::app::build_sample_app("confirm-ssh-trust"));
  const AccessNode t = trust->accessibility_tree();
  const AccessNode& dialog = t.children.at(2);
  EXPECT_EQ(dialog.role, Role::Dialog);
  EXPECT_TRUE(dialog.modal);
  EXPECT_EQ(dialog.description,
            "Verify ssh-ed25519 SHA256:DemoFingerprintForVisualReviewOnly out of band. This device-private trust is "
            "checked again before connecting.");
  EXPECT_EQ(dialog.children.at(1).label, "Trust key");
}

// ---- semantic actions ----

TEST(AppSemanticActions, FormFieldsKindsAndMethods) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  ASSERT_TRUE(host->perform("remote.connection.new", {ActionKind::Activate, {}}));
  EXPECT_EQ(a.state().screen, Screen::new_connection_form());
  struct Case {
    const char* id;
    SemanticAction action;
    bool handled;
    std::function<bool(const RemoteApp&)> holds;
  };
  const std::vector<Case> cases = {
      // Only the options shown are targets: no RDP option, and ids are exact.
      {"remote.kind:RDP",
       {ActionKind::Activate, {}},
       false,
       [](const RemoteApp& r) { return r.state().form.kind == ConnectionKind::Ssh; }},
      {"remote.kind:ssh",
       {ActionKind::Toggle, {}},
       false,
       [](const RemoteApp& r) { return r.state().form.kind == ConnectionKind::Ssh; }},
      {"remote.kind:VNC",
       {ActionKind::Activate, {}},
       true,
       [](const RemoteApp& r) { return r.state().form.kind == ConnectionKind::Vnc; }},
      {"remote.auth:public-key",
       {ActionKind::Activate, {}},
       false,
       [](const RemoteApp& r) { return r.state().form.auth == AuthKind::Password; }},
      {"remote.field:port",
       {ActionKind::SetValue, std::string("12ab3")},
       true,
       [](const RemoteApp& r) {
         return r.state().form.port == "123" && r.input(InputField::Port).text() == "123" &&
                r.state().focused_input == InputField::Port;
       }},
      {"remote.field:name",
       {ActionKind::Focus, {}},
       true,
       [](const RemoteApp& r) { return r.state().focused_input == InputField::Name; }},
      {"remote.field:nickname", {ActionKind::Focus, {}}, false, [](const RemoteApp&) { return true; }},
      {"remote.device:x1", {ActionKind::Activate, {}}, false, [](const RemoteApp&) { return true; }},
      // Devices are offered only on a Vesk form.
      {"remote.device:1",
       {ActionKind::Activate, {}},
       false,
       [](const RemoteApp& r) { return r.state().form.kind == ConnectionKind::Vnc; }},
      {"remote.kind:Vesk",
       {ActionKind::Toggle, {}},
       true,
       [](const RemoteApp& r) { return r.state().form.kind == ConnectionKind::Vesk; }},
      {"remote.device:1",
       {ActionKind::Activate, {}},
       true,
       [](const RemoteApp& r) {
         return r.state().form.kind == ConnectionKind::Vesk &&
                r.state().form.host == r.state().discovered_devices[1].endpoint_id;
       }},
      {"remote.form.save", {ActionKind::Toggle, {}}, false, [](const RemoteApp&) { return true; }},
      {"remote.form.cancel",
       {ActionKind::Activate, {}},
       true,
       [](const RemoteApp& r) { return r.state().screen == Screen::connection_list(); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host->perform(c.id, c.action), c.handled) << c.id;
    EXPECT_TRUE(c.holds(a)) << c.id;
  }
}

// Every text input of the form takes at most kMaxFieldBytes, whichever way
// the text comes: a paste stops there between two characters, a semantic
// value over it is refused whole, and a form filled to the limit saves.
TEST(AppSemanticActions, FieldLimitsHoldForPastesAndValues) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  ASSERT_TRUE(host->perform("remote.connection.new", {ActionKind::Activate, {}}));
  auto repeat = [](std::string_view unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  struct Case {
    InputField field;
    std::string pasted;
    std::string kept;
  } cases[] = {
      {InputField::Name, std::string(1 << 20, 'n'), std::string(kMaxFieldBytes, 'n')},
      // 1,024 is not a multiple of 3: the character that would cross it is left out.
      {InputField::Host, repeat("\u20ac", 400), repeat("\u20ac", 341)},
      {InputField::User, repeat("\U0001F600", 300), repeat("\U0001F600", 256)},
      {InputField::Group, "line\n" + std::string(2000, 'g'), "line " + std::string(kMaxFieldBytes - 5, 'g')},
  };
  const std::string word_of[] = {"search", "name", "host", "port", "user", "group"};
  for (const Case& c : cases) {
    const std::string id = "remote.field:" + word_of[c.field.number()];
    ASSERT_TRUE(host->perform(id, {ActionKind::Focus, {}})) << id;
    host->clipboard().set_text(c.pasted);
    host->set_modifiers({false, true, false, false});
    host->key_char("v");
    host->set_modifiers({});
    // Compared whole, reported by size: the texts are long.
    EXPECT_EQ(a.input(c.field).text().size(), c.kept.size()) << id;
    EXPECT_TRUE(a.input(c.field).text() == c.kept) << id;
    // No room for a two-byte character now.
    host->type_text("\u00e9");
    EXPECT_TRUE(a.input(c.field).text() == c.kept) << id;
  }
  EXPECT_TRUE(a.state().form.name == std::string(kMaxFieldBytes, 'n'));
  EXPECT_TRUE(a.state().form.host == repeat("\u20ac", 341));

  // Set-value: over the limit refused with nothing changed, at it taken.
  EXPECT_FALSE(host->perform("remote.field:name", {ActionKind::SetValue, std::string(kMaxFieldBytes + 1, 'v')}));
  EXPECT_TRUE(a.state().form.name == std::string(kMaxFieldBytes, 'n'));
  ASSERT_TRUE(host->perform("remote.field:name", {ActionKind::SetValue, std::string(kMaxFieldBytes, 'v')}));
  EXPECT_TRUE(a.state().form.name == std::string(kMaxFieldBytes, 'v'));

  // The form at the limit is saved as it is.
  const std::size_t before = a.state().connections.size();
  ASSERT_TRUE(host->perform("remote.form.save", {ActionKind::Activate, {}}));
  ASSERT_EQ(a.state().connections.size(), before + 1);
  const auto stored = remote::doc::load_connections(host->document());
  EXPECT_TRUE(std::any_of(stored.begin(), stored.end(),
                          [](const SavedConnection& c) { return c.name == std::string(kMaxFieldBytes, 'v'); }));
}

TEST(AppSemanticActions, RowsAndConfirmations) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  const auto view = filtered_connections(a.state().connections, "");
  const SavedConnection last = *view.back();  // a copy: the list changes below
  const std::string select = "remote.connection:" + last.id.to_string() + ":select";
  ASSERT_TRUE(host->perform("remote.field:search", {ActionKind::SetValue, std::string(last.name)}));
  EXPECT_EQ(a.state().selection, last.id);
  EXPECT_EQ(a.state().list_scroll, 0);
  ASSERT_TRUE(host->perform("remote.field:search", {ActionKind::SetValue, std::string("zzz")}));
  EXPECT_FALSE(host->perform(select, {ActionKind::Select, {}}));  // hidden by the search
  EXPECT_FALSE(host->perform(select, {ActionKind::Activate, {}}));
  ASSERT_TRUE(host->perform("remote.field:search", {ActionKind::SetValue, std::string()}));
  EXPECT_TRUE(host->perform(select, {ActionKind::Activate, {}}));
  EXPECT_FALSE(host->perform("remote.connection:not-a-uuid:edit", {ActionKind::Activate, {}}));
  EXPECT_FALSE(host->perform("remote.connection:" + last.id.to_string() + ":rename", {ActionKind::Activate, {}}));
  EXPECT_FALSE(host->perform("remote.connection:" + last.id.to_string() + ":edit", {ActionKind::Toggle, {}}));

  // Delete is offered by the edit form only.
  EXPECT_FALSE(host->perform("remote.connection:" + last.id.to_string() + ":delete", {ActionKind::Activate, {}}));
  ASSERT_TRUE(host->perform("remote.connection:" + last.id.to_string() + ":edit", {ActionKind::Activate, {}}));
  host->paint();
  ASSERT_TRUE(host->perform("remote.connection:" + last.id.to_string() + ":delete", {ActionKind::Activate, {}}));
  ASSERT_TRUE(a.state().confirmation);
  EXPECT_FALSE(host->perform("remote.form.save", {ActionKind::Activate, {}}));
  EXPECT_FALSE(host->perform("remote.confirmation.confirm", {ActionKind::Toggle, {}}));
  EXPECT_TRUE(host->perform("remote.confirmation.confirm", {ActionKind::Activate, {}}));
  EXPECT_FALSE(find_connection(a.state().connections, last.id)) << a.state().notice.value_or("");
  EXPECT_EQ(remote::doc::load_connections(host->document()).size(), a.state().connections.size());
}

TEST(AppSemanticActions, OnlyWhatTheCurrentScreenShowsIsActedOn) {
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  const SavedConnection first = *filtered_connections(a.state().connections, "").front();
  // Edit a profile, change its name, cancel: the stale form stays in memory.
  ASSERT_TRUE(host->perform("remote.connection:" + first.id.to_string() + ":edit", {ActionKind::Activate, {}}));
  ASSERT_TRUE(host->perform("remote.field:name", {ActionKind::SetValue, std::string("stale copy")}));
  ASSERT_TRUE(host->perform("remote.form.cancel", {ActionKind::Activate, {}}));
  host->paint();
  ASSERT_EQ(a.state().screen, Screen::connection_list());
  const auto before = a.state().connections;
  const auto stored = remote::doc::load_connections(host->document());
  const FlapState flap = a.state().flap;
  struct Case {
    const char* id;
    SemanticAction action;
  };
  const std::vector<Case> hidden = {
      {"remote.form.save", {ActionKind::Activate, {}}},
      {"remote.field:name", {ActionKind::SetValue, std::string("changed behind the list")}},
      {"remote.kind:VNC", {ActionKind::Activate, {}}},
      {"remote.nav.toggle", {ActionKind::Activate, {}}},  // wide: there is no toggle
      {"remote.session.disconnect", {ActionKind::Activate, {}}},
  };
  for (const Case& c : hidden) {
    EXPECT_FALSE(host->perform(c.id, c.action)) << c.id;
    EXPECT_EQ(a.state().screen, Screen::connection_list()) << c.id;
  }
  EXPECT_EQ(a.state().connections, before);
  EXPECT_EQ(remote::doc::load_connections(host->document()), stored);
  EXPECT_EQ(a.state().form.name, "stale copy");
  EXPECT_EQ(a.state().form.kind, first.kind);
  EXPECT_EQ(a.state().flap.open, flap.open);
}

// A client acts on the ids of the tree it was last given, which the state may
// have left since: an id is a target only while the tree made now has it.
// Each id below was in the tree, then the state changed without a frame.
TEST(AppSemanticActions, IdsTheTreeNoLongerHasAreRefused) {
  struct Case {
    const char* label;
    std::function<std::string(const RemoteApp&)> id;
    SemanticAction action;
    std::function<void(RemoteApp&)> change;
  };
  const auto first_row = [](const RemoteApp& r) { return *filtered_connections(r.state().connections, "").front(); };
  const auto row_id = [&](std::string verb) {
    return [=](const RemoteApp& r) { return "remote.connection:" + first_row(r).id.to_string() + ":" + verb; };
  };
  const auto ready_ssh = [](const RemoteApp& r) -> const SavedConnection& {
    const auto& list = r.state().connections;
    return *std::find_if(list.begin(), list.end(), [](const SavedConnection& c) {
      return c.kind == ConnectionKind::Ssh && c.readiness() == Readiness::Ready;
    });
  };
  const std::vector<Case> cases = {
      {"a row the search hides now",
       row_id("select"),
       {ActionKind::Select, {}},
       [](RemoteApp& r) { r.state_mut().search = "no machine is called this"; }},
      {"a row whose record is gone",
       row_id("edit"),
       {ActionKind::Activate, {}},
       [&](RemoteApp& r) { remove_connection(r.state_mut().connections, first_row(r).id); }},
      {"Connect of a row that is no longer ready",
       [&](const RemoteApp& r) { return "remote.connection:" + ready_ssh(r).id.to_string() + ":connect"; },
       {ActionKind::Activate, {}},
       [&](RemoteApp& r) {
         const Uuid id = ready_ssh(r).id;
         for (SavedConnection& c : r.state_mut().connections)
           if (c.id == id) c.auth = AuthKind::DeviceIdentity;  // not an SSH method
       }},
      {"a rail button the narrow layout folded away",
       [](const RemoteApp&) { return std::string("remote.nav.list"); },
       {ActionKind::Activate, {}},
       [](RemoteApp& r) { r.state_mut().narrow = true; }},
      {"a row under a dialog opened since",
       row_id("favorite"),
       {ActionKind::Toggle, {}},
       [&](RemoteApp& r) {
         const SavedConnection c = first_row(r);
         r.state_mut().confirmation = Confirmation::remove(connection_signature(c), c.id);
       }},
  };
  setenv("REMOTE_LIVE_SESSIONS", "1", 1);  // rows of SSH profiles offer Connect
  for (const Case& c : cases) {
    auto host = host_for(RemoteApp::with_sample_data());
    RemoteApp& a = app_of(*host);
    host->paint();
    const std::string id = c.id(a);
    ASSERT_TRUE(find(a.accessibility_tree(), id)) << c.label << ": " << id;
    c.change(a);
    const auto selection = a.state().selection;
    const auto connections = a.state().connections;
    const bool dialog = a.state().confirmation.has_value();
    EXPECT_FALSE(host->perform(id, c.action)) << c.label;
    EXPECT_EQ(a.state().selection, selection) << c.label;
    EXPECT_EQ(a.state().screen, Screen::connection_list()) << c.label;
    EXPECT_EQ(a.state().connections, connections) << c.label;
    EXPECT_EQ(a.state().confirmation.has_value(), dialog) << c.label;
  }
  unsetenv("REMOTE_LIVE_SESSIONS");

  // Ids are exact: the id of a shown row in another case or with more after it is no target.
  auto host = host_for(RemoteApp::with_sample_data());
  RemoteApp& a = app_of(*host);
  host->paint();
  std::string upper = first_row(a).id.to_string();
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char ch) { return std::toupper(ch); });
  for (const std::string& id :
       {"remote.connection:" + upper + ":select", "remote.connection:" + first_row(a).id.to_string() + ":select:select",
        "remote.connection:" + first_row(a).id.to_string()}) {
    EXPECT_FALSE(host->perform(id, {ActionKind::Activate, {}})) << id;
  }
}

// Selecting a row puts it in view wherever it is in the order: the last row
// scrolls the list to its end, the first back to the top.
TEST(AppSemanticActions, SelectingARowScrollsToItsPlaceInTheOrder) {
  std::vector<SavedConnection> list;
  for (int i = 10; i < 70; ++i) list.push_back(conn("m" + std::to_string(i), ConnectionKind::Ssh, "h.example.com", 22));
  auto host = host_for(std::make_unique<RemoteApp>(list, std::vector<DiscoveredDevice>{}));
  RemoteApp& a = app_of(*host);
  host->paint();
  const auto select = [&](const SavedConnection& c) {
    return host->perform("remote.connection:" + c.id.to_string() + ":select", {ActionKind::Select, {}});
  };
  ASSERT_TRUE(select(list.back()));
  EXPECT_EQ(a.state().selection, list.back().id);
  EXPECT_GT(a.state().list_scroll, 0);
  EXPECT_EQ(a.state().list_scroll, a.state().list_scroll_max);
  ASSERT_TRUE(select(list.front()));
  EXPECT_EQ(a.state().selection, list.front().id);
  EXPECT_EQ(a.state().list_scroll, 0);
  // A search moves the rows: the one it leaves first is at the top.
  ASSERT_TRUE(host->perform("remote.field:search", {ActionKind::SetValue, std::string("m6")}));
  EXPECT_EQ(a.state().selection, list[50].id);
  ASSERT_FALSE(select(list[49]));
  ASSERT_TRUE(select(list[59]));
  EXPECT_EQ(a.state().selection, list[59].id);
}

// Every way the keyboard focus leaves the search field leaves the tree with
// it; nothing reads as focused that the keys no longer reach.
TEST(AppSemanticActions, FocusStatesFollowEveryWayTheFocusLeaves) {
  const auto focused_ids = [](const AccessNode& root) {
    std::vector<std::string> out;
    std::vector<const AccessNode*> todo{&root};
    while (!todo.empty()) {
      const AccessNode* n = todo.back();
      todo.pop_back();
      if (n->focused) out.push_back(n->action_id.value_or("?"));
      for (const AccessNode& c : n->children) todo.push_back(&c);
    }
    return out;
  };
  struct Case {
    const char* way;
    std::function<void(vesk_ui::headless::HeadlessHost&, RemoteApp&)> leave;
    std::vector<std::string> focused_after;
  };
  const std::vector<Case> cases = {
      {"Escape", [](auto& host, auto&) { host.key_named(NamedKey::Escape); }, {}},
      {"a press outside",
       [](auto& host, auto& a) {
         const auto search = a.hit_rect(UiMessage::focus_field(InputField::Search));
         host.click(search->center().x, search->y0 - 30.0);  // the title above it
       },
       {}},
      {"another screen",
       [](auto& host, auto&) {
         host.perform("remote.connection.new", {ActionKind::Activate, {}});
       },
       {"remote.field:name"}},
      {"a dialog",
       [](auto& host, auto& a) {
         const Uuid ready = *a.first_connection_of_kind(ConnectionKind::Vesk);
         host.perform("remote.connection:" + ready.to_string() + ":connect", {ActionKind::Activate, {}});
         ASSERT_TRUE(a.state().confirmation);
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    auto host = host_for(RemoteApp::with_sample_data());
    RemoteApp& a = app_of(*host);
    host->key_char("/");
    host->paint();
    ASSERT_EQ(focused_ids(host->accessibility_tree()), std::vector<std::string>{"remote.field:search"});
    c.leave(*host, a);
    host->paint();
    EXPECT_EQ(focused_ids(host->accessibility_tree()), c.focused_after);
  }
  // An input that keeps its place behind a dialog has no keys while it is open.
  auto host = host_for(remote::app::build_sample_app("confirm-ssh-trust"));
  RemoteApp& a = app_of(*host);
  a.state_mut().screen = Screen::connection_list();
  a.state_mut().focused_input = InputField::Search;
  host->paint();
  EXPECT_TRUE(focused_ids(host->accessibility_tree()).empty());
  EXPECT_FALSE(host->perform("remote.connection.new", {ActionKind::Activate, {}}));
}

// ---- rendered review scenes ----

bool near(vesk_ui::scene::Rgba8 got, const Color& want, int tolerance = 4) {
  const auto w = want.to_rgba8();
  return std::abs(got.r - w.r) <= tolerance && std::abs(got.g - w.g) <= tolerance && std::abs(got.b - w.b) <= tolerance;
}

TEST(AppReviewScenes, EveryWordRendersItsScreen) {
  const vesk_ui::tokens::Colors colours = vesk_ui::tokens::Colors::dark();
  std::vector<std::string> words = {""};
  for (std::string_view w : kReviewScenes) words.emplace_back(w);
  for (const std::string& word : words) {
    auto host = host_for(remote::app::build_sample_app(word), 1280, 800, /*stub_text=*/false);
    RemoteApp& a = app_of(*host);
    host->advance(std::chrono::seconds(1));  // let the flap arrive
    const auto& frame = host->render();
    const bool dialog = a.state().confirmation.has_value();
    // The rail is painted except over a dialog and when the launch word closed it.
    const Color rail = dialog             ? colours.background.mix(colours.scrim, 0.62f)
                       : word == "narrow" ? colours.background
                                          : colours.surface;
    EXPECT_TRUE(near(frame.pixel(4, 400), rail, 6)) << word;
    // The screen's main control in its own colour: the confirm button over a
    // dialog, otherwise the primary button of the screen.
    std::optional<Rect> main;
    Color want = colours.accent;
    if (dialog) {
      main = a.hit_rect(UiMessage::confirm());
      if (a.state().confirmation->kind == Confirmation::Kind::Delete) want = colours.danger;
    } else if (a.state().screen.is_form()) {
      main = a.hit_rect(UiMessage::save_form());
    } else if (a.state().screen.kind == Screen::Kind::Session) {
      main = a.hit_rect(UiMessage::disconnect());
    } else {
      main = app_of(*host).state().hit_regions.front().rect;  // "+ New connection"
    }
    ASSERT_TRUE(main) << word;
    const auto px = frame.pixel(static_cast<std::uint32_t>(main->x0 + 5), static_cast<std::uint32_t>(main->center().y));
    EXPECT_TRUE(near(px, want)) << word << " " << int(px.r) << "," << int(px.g) << "," << int(px.b);
  }
}

TEST(AppReviewScenes, ConnectedPictureIsPaintedFromTheSessionPicture) {
  auto host = host_for(RemoteApp::with_sample_data(), 1280, 800, /*stub_text=*/false);
  RemoteApp& a = app_of(*host);
  a.show_session_status(ConnectionKind::Vnc, SessionStatus::connected());
  // A 4 × 2 picture: left half red, right half green.
  auto pixels = std::make_shared<std::vector<std::uint8_t>>();
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool left = x < 2;
      pixels->insert(pixels->end(), {std::uint8_t(left ? 255 : 0), std::uint8_t(left ? 0 : 255), 0, 255});
    }
  }
  a.state_mut().session_picture = vesk_ui::scene::Image::from_rgba(pixels, 4, 2);
  const auto& frame = host->render();
  ASSERT_TRUE(a.state().session_surface);
  const Rect s = *a.state().session_surface;
  EXPECT_TRUE(
      near(frame.pixel(static_cast<std::uint32_t>(s.x0 + s.width() * 0.2), static_cast<std::uint32_t>(s.center().y)),
           Color::from_rgba8(255, 0, 0)));
  EXPECT_TRUE(
      near(frame.pixel(static_cast<std::uint32_t>(s.x0 + s.width() * 0.8), static_cast<std::uint32_t>(s.center().y)),
           Color::from_rgba8(0, 255, 0)));
  // The header bar above it.
  EXPECT_TRUE(near(frame.pixel(600, 10), vesk_ui::tokens::Colors::dark().surface));
}

}  // namespace
