// The session view against a real OpenSSH server on 127.0.0.1, driven
// through the headless host: keys typed on the session screen reach the
// shell and its output is painted; on the list screen keys stay local while
// the output is still drained every frame.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "apps/remote/src/doc/list.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/headless_util.hpp"
#include "tests/apps/remote/app/ssh_peer_fixture.hpp"

namespace {

using namespace apptest;
using vesk_ui::event::NamedKey;

std::string screen_text(const remote::vt::Terminal& terminal) {
  std::string out;
  for (const auto& row : terminal.visible_rows()) {
    remote::vt::push_cell_chars(out, row);
    out += '\n';
  }
  return out;
}

class AppViewsSshPeer : public SshPeerFixture {
 protected:
  void SetUp() override {
    if (!start_peer()) GTEST_SKIP() << "needs root to create the test account";
    ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", sshd->host_fingerprint()}));
    host = host_for(std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{}));
  }
  void TearDown() override {
    host.reset();
    // The detached worker says goodbye before the process (and its crypto
    // library) goes away.
    eventually([] {
      std::size_t workers = 0;
      for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "remote-ssh") ++workers;
      }
      return workers == 0;
    });
  }

  RemoteApp& app() { return host->widget_as<RemoteApp>(); }
  const remote::vt::Terminal& terminal() { return app().state().live_session->ssh()->session->terminal(); }
  // Paints frames (which drain the session's output) until `done` holds.
  bool paint_until(const std::function<bool()>& done) {
    return eventually([&] {
      host->advance(std::chrono::milliseconds(16));
      host->paint();
      return done();
    });
  }

  std::unique_ptr<vesk_ui::headless::HeadlessHost> host;
};

TEST_F(AppViewsSshPeer, KeysReachTheShellOnlyWhileItsScreenIsShown) {
  // Enter on the selected row asks, Enter in the dialog confirms.
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(app().state().confirmation);
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(paint_until([&] { return app().state().live_session->status().is_connected(); }));
  EXPECT_EQ(app().state().screen, Screen::session(profile.id));

  host->type_text("echo views-$((6*7))");
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(paint_until([&] { return screen_text(terminal()).find("views-42") != std::string::npos; }))
      << screen_text(terminal());

  // Output that arrives while the list is shown is still taken in.
  host->type_text("sleep 1; echo later-$((2*3))");
  host->key_named(NamedKey::Enter);
  // Escape would go to the shell; the rail leaves the session screen, the session stays.
  const auto rail = app().hit_rect(UiMessage::show_connections());
  ASSERT_TRUE(rail);
  host->click(rail->center().x, rail->center().y);
  ASSERT_EQ(app().state().screen, Screen::connection_list());
  ASSERT_TRUE(app().state().live_session);
  ASSERT_TRUE(paint_until([&] { return screen_text(terminal()).find("later-6") != std::string::npos; }));

  // Keys on the list stay local: none of them reach the shell.
  host->type_text("qqq");
  host->key_named(NamedKey::Backspace);
  app().state_mut().screen = Screen::session(profile.id);
  host->type_text("echo after-$((3*3))");
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(paint_until([&] { return screen_text(terminal()).find("after-9") != std::string::npos; }));
  EXPECT_EQ(screen_text(terminal()).find("qq"), std::string::npos) << screen_text(terminal());

  // Control+C interrupts, Control+W disconnects.
  host->type_text("sleep 30");
  host->key_named(NamedKey::Enter);
  // Interrupting before the shell has started the command would race with its line reading.
  ASSERT_TRUE(paint_until([&] { return screen_text(terminal()).find("sleep 30\n") != std::string::npos; }));
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  paint_until([&] { return std::chrono::steady_clock::now() > until; });
  host->set_modifiers({.control = true});
  host->key_char("c");
  host->set_modifiers({});
  host->type_text("echo done-$((4*4))");
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(paint_until([&] { return screen_text(terminal()).find("done-16") != std::string::npos; }))
      << screen_text(terminal());
  host->set_modifiers({.control = true});
  host->key_char("w");
  EXPECT_FALSE(app().state().live_session);
}

// The session card's host-key button, per observation, clicked through the window.
class AppViewsSshHostKeys : public SshPeerFixture {
 protected:
  void SetUp() override {
    if (!start_peer()) GTEST_SKIP() << "needs root to create the test account";
  }
};

TEST_F(AppViewsSshHostKeys, TheCardOffersTheKeyButtonOfItsObservation) {
  using Tag = UiMessage::Tag;
  enum class Observed { Unknown, Changed, StoreUnavailable };
  struct Case {
    const char* name;
    Observed observed;
    std::vector<Tag> buttons;  // the card's, in order
    // The session's buttons in the accessibility tree, as (label, verb of
    // "remote.connection:{id}:…" or the whole id).
    std::vector<std::pair<std::string, std::string>> nodes;
  };
  const std::vector<Case> cases = {
      {"unknown",
       Observed::Unknown,
       {Tag::RequestTrustHostKey, Tag::Disconnect},
       {{"Trust key", "trust-host-key"}, {"Back to list", "remote.session.disconnect"}}},
      {"changed",
       Observed::Changed,
       {Tag::RequestForgetHostKey, Tag::Disconnect},
       {{"Forget key", "forget-host-key"}, {"Back to list", "remote.session.disconnect"}}},
      {"store unavailable",
       Observed::StoreUnavailable,
       {Tag::RequestConnect, Tag::Disconnect},
       {{"Retry connection", "connect"}, {"Back to list", "remote.session.disconnect"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(pins);
    if (c.observed == Observed::Changed) {
      ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", "SHA256:old"}));
    }
    if (c.observed == Observed::StoreUnavailable) {
      ASSERT_EQ(::chmod(pins.parent_path().c_str(), 0755), 0);
    }
    auto owned = host_for(std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{}));
    auto& host = *owned;
    RemoteApp& app = host.widget_as<RemoteApp>();
    host.key_named(NamedKey::Enter);
    host.key_named(NamedKey::Enter);
    ASSERT_TRUE(eventually([&] {
      host.advance(std::chrono::milliseconds(16));
      host.paint();
      return app.state().live_session->status().kind == SessionStatus::Kind::Failed;
    }));
    host.paint();
    if (c.observed == Observed::StoreUnavailable) {
      ASSERT_EQ(::chmod(pins.parent_path().c_str(), 0700), 0);
    }
    std::vector<Tag> buttons;
    for (const HitRegion& r : app.state().hit_regions) {
      if (r.message.tag != Tag::ShowConnections && r.message.tag != Tag::NewConnection)
        buttons.push_back(r.message.tag);
    }
    EXPECT_EQ(buttons, c.buttons);

    // The tree offers what the card shows, each button with the region the
    // painter recorded for it.
    const vesk_ui::access::AccessNode tree = host.accessibility_tree();
    const vesk_ui::access::AccessNode* session = nullptr;
    for (const auto& child : tree.children) {
      if (child.label == "Remote session") session = &child;
    }
    ASSERT_NE(session, nullptr);
    std::vector<std::pair<std::string, std::string>> nodes;
    const std::string prefix = "remote.connection:" + profile.id.to_string() + ":";
    for (const auto& node : session->children) {
      if (node.role != vesk_ui::access::Role::Button) continue;
      std::string id = node.action_id.value_or("");
      if (id.starts_with(prefix)) id = id.substr(prefix.size());
      nodes.emplace_back(node.label.value_or(""), id);
      ASSERT_TRUE(node.bounds) << id;
      const auto region = std::find_if(app.state().hit_regions.begin(), app.state().hit_regions.end(),
                                       [&](const HitRegion& r) { return r.rect == *node.bounds; });
      ASSERT_NE(region, app.state().hit_regions.end()) << id;
      EXPECT_EQ(region->message.tag, c.buttons[nodes.size() - 1]) << id;
    }
    EXPECT_EQ(nodes, c.nodes);
    if (c.observed == Observed::StoreUnavailable) continue;

    // Through the tree, the key button opens its dialog, which then takes
    // only its own two actions.
    const std::string key_id = prefix + c.nodes[0].second;
    ASSERT_TRUE(host.perform(key_id, {vesk_ui::access::ActionKind::Activate, {}}));
    ASSERT_TRUE(app.state().confirmation);
    EXPECT_EQ(app.state().confirmation->kind, c.observed == Observed::Unknown ? Confirmation::Kind::TrustSshHostKey
                                                                              : Confirmation::Kind::ForgetSshHostKey);
    host.paint();
    EXPECT_FALSE(host.perform(key_id, {vesk_ui::access::ActionKind::Activate, {}}));
    ASSERT_TRUE(host.perform("remote.confirmation.cancel", {vesk_ui::access::ActionKind::Activate, {}}));
    ASSERT_FALSE(app.state().confirmation);
    host.paint();

    // The key button asks, the dialog's confirm acts.
    const HitRegion key = app.state().hit_regions.front();
    host.click(key.rect.center().x, key.rect.center().y);
    host.paint();
    ASSERT_TRUE(app.state().confirmation);
    const auto confirm = app.hit_rect(UiMessage::confirm());
    ASSERT_TRUE(confirm);
    host.click(confirm->center().x, confirm->center().y);
    if (c.observed == Observed::Unknown) {
      ASSERT_TRUE(eventually([&] {
        host.advance(std::chrono::milliseconds(16));
        host.paint();
        return app.state().live_session && app.state().live_session->status().is_connected();
      }));
    } else {
      EXPECT_EQ(app.state().notice, notice::kForgot);
      EXPECT_EQ(app.state().screen, Screen::connection_list());
    }
  }
}

// A refused changed key, painted in a wide and the narrowest window: both
// fingerprints whole (each wider than a narrow card), "Connection blocked."
// and the fixed line on the card, the card and its Forget key inside the
// window. In a window too short for all of it, the fingerprints still are.
TEST_F(AppViewsSshHostKeys, AChangedKeyIsShownWholeAtEveryWidth) {
  const std::string pinned = "SHA256:FJCGq1o2XzT3b4N5c6V7d8M9e0L1f2K3g4J5h6H7FQo";
  ASSERT_TRUE(ssh::KnownHosts::trust(pins, "127.0.0.1", sshd->port(), {"ssh-ed25519", pinned}));
  const auto squeezed = [](std::string s) {
    std::erase_if(s, [](char c) { return c == ' ' || c == '\n'; });
    return s;
  };
  struct Size {
    std::uint32_t width, height;
    bool roomy;
  };
  for (const Size size : {Size{1280, 800, true}, Size{360, 800, true}, Size{360, 420, false}}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    auto owned = host_for(std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{}),
                          size.width, size.height);
    auto& host = *owned;
    RemoteApp& app = host.widget_as<RemoteApp>();
    app.open_session(profile.id);
    ASSERT_TRUE(eventually([&] {
      host.advance(std::chrono::milliseconds(16));
      host.paint();
      return app.state().live_session->status().kind == SessionStatus::Kind::Failed;
    }));
    const auto& scene = host.paint();
    std::string painted;
    const Rect window{0, 0, static_cast<double>(size.width), static_cast<double>(size.height)};
    for (const auto& command : scene.commands()) {
      const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command);
      if (!text) continue;
      painted += text->run.text;
      const double w = host.text().measure(text->run.text, text->run.size, text->run.max_width).width;
      EXPECT_GE(text->run.transform.e, 0);
      EXPECT_LE(text->run.transform.e + w, window.x1 + 1e-6) << text->run.text;
    }
    EXPECT_NE(squeezed(painted).find(squeezed(pinned)), std::string::npos);
    EXPECT_NE(squeezed(painted).find(squeezed(sshd->host_fingerprint())), std::string::npos) << painted;
    const auto forget = app.hit_rect(UiMessage::request_forget_host_key(profile.id));
    ASSERT_TRUE(forget);
    if (!size.roomy) continue;
    EXPECT_NE(squeezed(painted).find("Connectionblocked."), std::string::npos);
    EXPECT_NE(squeezed(painted).find(squeezed("This is the real error \u2014 nothing is simulated.")),
              std::string::npos);
    EXPECT_LE(forget->y1, window.y1);
  }
}

TEST_F(AppViewsSshPeer, OutputLeftWhenTheSessionEndsKeepsFramesComing) {
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(app().state().confirmation);
  host->key_named(NamedKey::Enter);
  ASSERT_TRUE(paint_until([&] { return app().state().live_session->status().is_connected(); }));
  // One small slice per frame, so that output is left when the session ends
  // however fast the machine applies it.
  ssh::SshSession& session = *app().state_mut().live_session->ssh()->session;
  session.set_pump_timings({.budget = std::chrono::microseconds(0), .slice_bytes = 1024});
  // Costly output (each sequence erases the whole grid), far more than a
  // frame applies, then the shell ends while the list is shown.
  host->type_text("yes \"$(printf '\\033[2J')\" | head -c 200000; exit");
  host->key_named(NamedKey::Enter);
  const auto rail = app().hit_rect(UiMessage::show_connections());
  ASSERT_TRUE(rail);
  host->click(rail->center().x, rail->center().y);
  ASSERT_EQ(app().state().screen, Screen::connection_list());
  ASSERT_TRUE(paint_until([&] { return app().state().live_session->status() == SessionStatus::ended(); }));
  ASSERT_TRUE(session.output_pending());
  // An ended session asks for no animation; what is left still gets frames.
  for (int frame = 0; frame < 100000 && host->wants_frame(); ++frame) {
    host->advance(std::chrono::milliseconds(16));
    host->paint();
  }
  EXPECT_FALSE(session.output_pending());
}

}  // namespace
