// The application's actions on the session bus, end to end: the real
// application binary on an Xvfb display and a session bus of the test's own,
// driven through remote-actions and gdbus.

// GCC 12 at -O3 misreads `"literal" + std::string` as an overlapping copy.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"
#include "platform/vesk_actions/executor.hpp"
#include "platform/vesk_ui/document/persist.hpp"
#include "tests/apps/remote/ssh/peers.hpp"
#include "tests/tools/remote_actions/bus_peers.hpp"

namespace {

using namespace std::chrono_literals;
using bustest::Child;
using bustest::Result;

constexpr const char* kBusName = "dev.vesk.remote";
constexpr const char* kPath = "/dev/vesk/remote";
constexpr const char* kInterface = "dev.vesk.remote.Actions";

class ActionBus : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("remote_actions_bus_" + std::to_string(getpid()) + "_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_ / "data");
    std::filesystem::create_directories(dir_ / "state");
    std::filesystem::permissions(dir_ / "state", std::filesystem::perms::owner_all);
    desktop_.emplace(dir_, any_user_bus_);
    ASSERT_TRUE(desktop_->ok()) << "no Xvfb display or session bus; see " << dir_;
  }

  void TearDown() override {
    app_.stop();
    desktop_.reset();
    std::error_code ec;
    if (!HasFailure()) std::filesystem::remove_all(dir_, ec);
  }

  std::vector<std::string> env(std::vector<std::string> extra = {}) const {
    std::vector<std::string> e = desktop_->env();
    e.push_back(std::string("LSAN_OPTIONS=suppressions=") + REMOTE_TEST_LSAN_SUPPRESSIONS);
    e.insert(e.end(), extra.begin(), extra.end());
    return e;
  }

  std::vector<std::string> app_env() const {
    std::vector<std::string> e =
        env({"XDG_DATA_HOME=" + (dir_ / "data").string(), "XDG_STATE_HOME=" + (dir_ / "state").string(),
             "REMOTE_SSH_KNOWN_HOSTS=" + (dir_ / "state" / "known-hosts.json").string(), "SDL_VIDEODRIVER=x11",
             "SDL_AUDIODRIVER=dummy", "SDL_RENDER_DRIVER=software",
             // Actions only: these apps stay off the accessibility bus.
             "NO_AT_BRIDGE=1", std::string("FONTCONFIG_FILE=") + REMOTE_TEST_FONTS_CONF,
             "VESK_UI_DUMP_SCENE=" + scene_path().string()});
    e.insert(e.end(), app_extra_.begin(), app_extra_.end());
    return e;
  }

  std::filesystem::path scene_path() const { return dir_ / "scene.txt"; }
  std::filesystem::path app_log() const { return dir_ / "app.log"; }

  // Starts the application and waits until it answers on the bus.
  void start_app() {
    const auto failed = bustest::start_until_answering(app_, {REMOTE_APP}, app_env(), app_log().string(),
                                                       [&] { return tree().status == 0; });
    ASSERT_FALSE(failed) << *failed;
  }

  Result cli(std::vector<std::string> args) {
    args.insert(args.begin(), REMOTE_ACTIONS);
    return bustest::run(args, env());
  }
  Result tree() { return cli({"tree"}); }

  Result gdbus(const std::string& method, std::vector<std::string> args = {}) {
    std::vector<std::string> argv{"gdbus",  "call",     "--session",
                                  "--dest", kBusName,   "--object-path",
                                  kPath,    "--method", std::string(kInterface) + "." + method};
    argv.insert(argv.end(), args.begin(), args.end());
    return bustest::run(argv, env());
  }

  // The ids of the saved connections, in tree order.
  std::vector<std::string> connection_ids() {
    const Result t = tree();
    std::vector<std::string> ids;
    const std::regex line(R"(^  (remote\.connection:[0-9a-f-]{36})  \(remote\.connection\))");
    std::istringstream in(t.out);
    for (std::string l; std::getline(in, l);) {
      std::smatch m;
      if (std::regex_search(l, m, line)) ids.push_back(m[1]);
    }
    return ids;
  }

  // The resource id of the saved connection with this title.
  std::string id_of(const std::string& title) {
    const Result t = tree();
    if (auto id = bustest::connection_id(t.out, title)) return *id;
    ADD_FAILURE() << "no connection titled " << title << " in\n" << t.out;
    return "remote.connection:missing";
  }

  // The line of one action of one resource in a printed tree.
  static std::string action_line(const std::string& printed, const std::string& resource, const std::string& action) {
    std::istringstream in(printed);
    bool inside = false;
    for (std::string l; std::getline(in, l);) {
      const std::size_t indent = l.find_first_not_of(' ');
      const std::string body = l.substr(indent);
      if (body.rfind("remote.", 0) == 0) {
        inside = body.rfind(resource + "  (", 0) == 0;
        continue;
      }
      if (inside && body.rfind(action + "  ", 0) == 0) return body;
    }
    return {};
  }
  std::string action_line(const std::string& resource, const std::string& action) {
    return action_line(tree().out, resource, action);
  }

  // Stops the application (SIGTERM: it writes the last frame's display list).
  std::string stop_and_read_scene() {
    app_.stop();
    return bustest::slurp(scene_path());
  }

  std::filesystem::path dir_;
  std::optional<bustest::Desktop> desktop_;
  std::vector<std::string> app_extra_{"VESK_REMOTE_SAMPLE=1"};
  bool any_user_bus_ = false;
  Child app_;
};

TEST_F(ActionBus, TreeListsTheConnectionsWithTheirActionsAndAvailability) {
  start_app();
  const Result t = tree();
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_NE(t.out.find("remote.connections  (remote.connection-list)  \"Remote connections\""), std::string::npos)
      << t.out;
  EXPECT_NE(t.out.find("  new  \"New connection\"  view  available"), std::string::npos) << t.out;
  const std::vector<std::string> ids = connection_ids();
  ASSERT_EQ(ids.size(), 8u) << t.out;  // the sample profiles
  for (const std::string& id : ids) {
    for (const char* action : {"open", "connect", "rename", "favorite", "delete"}) {
      EXPECT_FALSE(action_line(t.out, id, action).empty()) << id << " " << action << "\n" << t.out;
    }
  }
  // Availability by readiness: SSH without live sessions, RDP, a device.
  const std::string box = id_of("Build Box");
  EXPECT_NE(action_line(box, "connect").find("unavailable live_session_capability_required: SSH is installed"),
            std::string::npos)
      << action_line(box, "connect");
  EXPECT_NE(action_line(id_of("Win Workstation"), "connect").find("unavailable transport_backend_unavailable: "),
            std::string::npos);
  EXPECT_NE(action_line(id_of("Studio Node"), "connect").find("effect  available"), std::string::npos);
  EXPECT_NE(action_line(box, "rename").find("value=<New name>  available"), std::string::npos);
  EXPECT_NE(action_line(box, "favorite").find("\"Remove from favourites\""), std::string::npos);
  EXPECT_NE(action_line(box, "delete").find("document destructive"), std::string::npos);

  // The same through gdbus: the JSON with contracts and parameters.
  const Result g = gdbus("Tree");
  ASSERT_EQ(g.status, 0) << g.err;
  for (const char* part : {"\"id\":\"remote.connections\"", "\"operation_kind\":\"effect\"",
                           "\"operation_type\":\"remote.operation\"", "\"capabilities\":[\"network\",\"session\"]",
                           "\"code\":\"live_session_capability_required\"", "\"input_hint\":\"connection name\""}) {
    EXPECT_NE(g.out.find(part), std::string::npos) << part;
  }
}

TEST_F(ActionBus, NewOpensTheFormInTheWindow) {
  start_app();
  const Result r = cli({"invoke", "remote.connections", "new"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "completed\n");
  // The window painted the form: its last frame holds the form's Save button.
  std::this_thread::sleep_for(300ms);
  const std::string scene = stop_and_read_scene();
  EXPECT_NE(scene.find("\"Save\""), std::string::npos) << scene.substr(0, 2000);
  EXPECT_NE(scene.find("\"New connection\""), std::string::npos);
}

TEST_F(ActionBus, RenameIsSavedAtOnceAndSurvivesARestart) {
  start_app();
  const std::string id = id_of("Office NAS");
  const Result r = cli({"invoke", id, "rename", "value=Archive Box"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "applied\n");
  EXPECT_NE(tree().out.find(id + "  (remote.connection)  \"Archive Box\""), std::string::npos);
  // Killed without a chance to save on the way out: the action was stored already.
  app_.signal(SIGKILL);
  ASSERT_TRUE(app_.wait_exit(10s).has_value());
  start_app();
  EXPECT_NE(tree().out.find(id + "  (remote.connection)  \"Archive Box\""), std::string::npos) << tree().out;
  // The stored change names the client that asked for it.
  app_.stop();
  auto stored = vesk_ui::persist::open_directory(dir_ / "data" / "vesk" / kBusName);
  ASSERT_TRUE(stored.has_value());
  std::optional<vesk_actions::Provenance> rename;
  for (const auto& change : stored->document().changes()) {
    if (auto p = vesk_actions::parse_provenance(change.message);
        p && p->context && p->context->label == "Rename connection") {
      rename = p;
    }
  }
  ASSERT_TRUE(rename.has_value());
  EXPECT_EQ(rename->payload_kind, "remote.action");
  ASSERT_TRUE(rename->context->source.has_value());
  EXPECT_EQ(rename->context->source->identifier.rfind(":1.", 0), 0u) << rename->context->source->identifier;
  EXPECT_EQ(rename->context->source->name.rfind("remote-actions (D-Bus :1.", 0), 0u) << rename->context->source->name;
}

TEST_F(ActionBus, TreeChangedFollowsRealChangesOnly) {
  start_app();
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      desktop_->bus_address().c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  int signals = 0;
  const guint sub = g_dbus_connection_signal_subscribe(
      bus, kBusName, kInterface, "TreeChanged", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer count) {
        ++*static_cast<int*>(count);
      },
      &signals, nullptr);
  auto pump_for = [&](std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
      while (g_main_context_iteration(context, FALSE)) {
      }
      std::this_thread::sleep_for(10ms);
    }
  };
  // No client has a tree yet: changes are not signalled.
  const std::string id = id_of("Office NAS");  // this Tree call sets the baseline
  pump_for(500ms);
  EXPECT_EQ(signals, 0);
  // A view that leaves the tree as it was: no signal.
  EXPECT_EQ(cli({"invoke", "remote.connections", "new"}).status, 0);
  pump_for(700ms);
  EXPECT_EQ(signals, 0);
  // A real change: one signal, then quiet while nothing changes.
  EXPECT_EQ(cli({"invoke", id, "favorite"}).status, 0);
  pump_for(1500ms);
  EXPECT_EQ(signals, 1);
  g_dbus_connection_signal_unsubscribe(bus, sub);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  g_object_unref(bus);
}

TEST_F(ActionBus, ConnectOnAProfileThatIsNotReadyIsRefused) {
  start_app();
  const std::string id = id_of("Build Box");  // SSH, live sessions not enabled
  const Result r = cli({"invoke", id, "connect", "--wait"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("refused: live_session_capability_required: "), std::string::npos) << r.err;
  const Result g = gdbus("Invoke", {id, "connect", "{}"});
  ASSERT_EQ(g.status, 0) << g.err;
  EXPECT_EQ(g.out.rfind("('refused', 'live_session_capability_required', ", 0), 0u) << g.out;
}

TEST_F(ActionBus, BadInputIsRefusedAndTheWindowGoesOn) {
  start_app();
  const std::string id = id_of("Build Box");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"invoke", "remote.connection:00000000-0000-4000-8000-000000000000", "open"}, 2, "refused: unknown_resource: "},
      {{"invoke", "remote.connections", "launch"}, 2, "refused: unknown_action: "},
      {{"invoke", id, "rename"}, 2, "refused: missing_argument: "},
      {{"invoke", id, "rename", "value=x", "colour=red"}, 2, "refused: invalid_argument: "},
      {{"invoke", id, "rename", "value=\xff\xfe"}, 2, "refused: invalid_argument: "},
      {{"invoke", "remote.connections\xc3", "new"}, 2, "refused: invalid_argument: "},
      {{"invoke", id}, 2, "invoke needs a resource and an action"},
      {{"frobnicate"}, 2, "unknown command"},
  };
  for (const Case& c : cases) {
    const Result r = cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  // Straight over the bus, where the client's own checks do not run.
  const Result missing = gdbus("Invoke", {id, "rename", "{}"});
  EXPECT_EQ(missing.out.rfind("('refused', 'missing_argument', ", 0), 0u) << missing.out;
  const Result poll = gdbus("Poll", {"12345"});
  EXPECT_EQ(poll.out.rfind("('failed', 'unknown_operation', ", 0), 0u) << poll.out;
  EXPECT_EQ(gdbus("Cancel", {"12345"}).status, 0);
  const Result wrong_types = gdbus("Invoke", {"1", "2"});
  EXPECT_NE(wrong_types.status, 0);

  // Nothing changed, and the window still answers and paints.
  EXPECT_NE(tree().out.find(id + "  (remote.connection)  \"Build Box\""), std::string::npos);
  ASSERT_TRUE(app_.running());
  EXPECT_EQ(cli({"invoke", "remote.connections", "new"}).status, 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(stop_and_read_scene().find("\"Save\""), std::string::npos);
}

// Every file under a folder with its bytes: what is on disk, compared whole.
std::map<std::string, std::string> files_under(const std::filesystem::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) out[entry.path().string()] = bustest::slurp(entry.path());
  }
  return out;
}

TEST_F(ActionBus, RenamesTheFormCouldNotSaveAreRefusedAndNothingIsStored) {
  // A first run stores the sample connections; the second starts from them.
  start_app();
  const std::string id = id_of("Office NAS");
  app_.stop();
  const auto before = files_under(dir_ / "data");
  ASSERT_FALSE(before.empty());
  start_app();
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return "value@=" + (dir_ / name).string();
  };
  std::string over_by_a_character;  // 513 two-byte characters: 1,026 bytes
  for (int i = 0; i < 513; ++i) over_by_a_character += "\u00e9";
  const std::string too_long = "refused: remote.name_too_long: Name must be at most 1,024 bytes\n";
  const std::string required = "refused: remote.name_required: Name is required\n";
  const struct Case {
    const char* what;
    std::string argument;
    std::string err;
  } cases[] = {
      {"10 MB", write("huge", std::string(10 << 20, 'x')), too_long},
      {"one character over", write("over", over_by_a_character), too_long},
      {"empty", "value=", required},
      {"only white space", "value=  \\t ", required},
  };
  for (const Case& c : cases) {
    const Result r = cli({"invoke", id, "rename", c.argument});
    EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
    EXPECT_EQ(r.err, c.err) << c.what;
  }
  // Straight over the bus, where remote-actions checks nothing.
  const Result blank = gdbus("Invoke", {id, "rename", "{'value': ''}"});
  EXPECT_EQ(blank.out, "('refused', 'remote.name_required', 'Name is required', uint64 0)\n") << blank.err;

  EXPECT_NE(tree().out.find(id + "  (remote.connection)  \"Office NAS\""), std::string::npos);
  app_.stop();  // saves on the way out, if it had anything to save
  EXPECT_TRUE(files_under(dir_ / "data") == before) << "the stored document changed";

  // At the limit the name is taken.
  start_app();
  const std::string at_limit = over_by_a_character.substr(2);
  const Result applied = cli({"invoke", id, "rename", write("at-limit", at_limit)});
  EXPECT_EQ(applied.status, 0) << applied.err;
  EXPECT_NE(tree().out.find(id + "  (remote.connection)  \"" + at_limit + "\""), std::string::npos);
}

TEST_F(ActionBus, WithoutARunningApplicationTheClientSaysSo) {
  const Result r = cli({"tree"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("no running application"), std::string::npos) << r.err;
  const Result none =
      bustest::run({REMOTE_ACTIONS, "tree"}, env({"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"}));
  EXPECT_EQ(none.status, 3);
}

TEST_F(ActionBus, WithoutASessionBusTheApplicationRunsAndWarnsOnce) {
  app_extra_.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "no-bus").string());
  app_ = Child::spawn({REMOTE_APP}, app_env(), app_log().string());
  // The window is titled with the application's name, not its id.
  const Result found = bustest::run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Remote$"}, env(), 30s);
  EXPECT_EQ(found.status, 0) << "no window appeared: " << bustest::slurp(app_log());
  // Painted: the screen is no longer the server's black.
  EXPECT_TRUE(bustest::wait_until([&] {
    const Result mean = bustest::run(
        {"import", "-window", "root", "-colorspace", "gray", "-format", "%[fx:mean]", "info:"}, env(), 30s);
    return mean.status == 0 && std::strtod(mean.out.c_str(), nullptr) > 0.02;
  }));
  ASSERT_TRUE(app_.running());
  const std::string scene = stop_and_read_scene();
  EXPECT_NE(scene.find("\"Build Box\""), std::string::npos);
  const std::string log = bustest::slurp(app_log());
  const std::string warning = "actions are not published on the session bus";
  ASSERT_NE(log.find(warning), std::string::npos) << log;
  EXPECT_EQ(log.find(warning, log.find(warning) + 1), std::string::npos) << log;
}

class OpenBus : public ActionBus {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "running a client as another user needs root";
    any_user_bus_ = true;
    ActionBus::SetUp();
  }
};

TEST_F(OpenBus, OnlyTheUserRunningTheApplicationIsServed) {
  start_app();
  const std::string id = id_of("Office NAS");
  // The same calls as another user (nobody), on a bus that lets it in.
  auto as_nobody = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return bustest::run(argv, env());
  };
  const Result tree_call = as_nobody({"gdbus", "call", "--session", "--dest", kBusName, "--object-path", kPath,
                                      "--method", std::string(kInterface) + ".Tree"});
  EXPECT_NE(tree_call.status, 0);
  EXPECT_NE(tree_call.err.find("only the user running the application may use its actions"), std::string::npos)
      << tree_call.err;
  const Result rename = as_nobody({REMOTE_ACTIONS, "invoke", id, "rename", "value=Taken over"});
  EXPECT_EQ(rename.status, 2) << rename.err;
  // Nothing changed; the owner is still served.
  EXPECT_NE(tree().out.find(id + "  (remote.connection)  \"Office NAS\""), std::string::npos);
}

// Live sessions against a real sshd whose key is pinned.
class LiveActionBus : public ActionBus {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the sshd test account needs root";
    ActionBus::SetUp();
    user_ = sshtest::ensure_test_user();
    sshd_ = std::make_unique<sshtest::Sshd>();
    const auto pins = dir_ / "state" / "known-hosts.json";
    ASSERT_TRUE(
        remote::ssh::KnownHosts::trust(pins, "127.0.0.1", sshd_->port(), {"ssh-ed25519", sshd_->host_fingerprint()}));
    // The document holds one SSH profile for the server.
    remote::SavedConnection c;
    c.id = remote::Uuid::new_v4();
    c.name = "Loopback shell";
    c.host = "127.0.0.1";
    c.port = sshd_->port();
    c.user = user_.name;
    c.kind = remote::ConnectionKind::Ssh;
    c.auth = remote::AuthKind::Password;
    c.last_used = "Never";
    id_ = c.id.to_string();
    auto opened = vesk_ui::persist::open_directory(dir_ / "data" / "vesk" / kBusName);
    ASSERT_TRUE(opened.has_value());
    remote::doc::write_connections(opened->document(), {c});
    ASSERT_TRUE(opened->save().has_value());
    app_extra_ = {"REMOTE_LIVE_SESSIONS=1", "REMOTE_SSH_PASSWORD=" + user_.password};
  }

  sshtest::TestUser user_;
  std::unique_ptr<sshtest::Sshd> sshd_;
  std::string id_;
};

TEST_F(LiveActionBus, ConnectAndSendTextComplete) {
  start_app();
  const std::string resource = "remote.connection:" + id_;
  EXPECT_NE(action_line(resource, "connect").find("  available"), std::string::npos) << tree().out;
  const Result connect = cli({"invoke", resource, "connect", "--wait"});
  ASSERT_EQ(connect.status, 0) << connect.out << connect.err;
  EXPECT_NE(connect.out.find("completed"), std::string::npos);

  const std::string session = "remote.session:" + id_;
  EXPECT_NE(action_line(session, "send-text").find("  available"), std::string::npos) << tree().out;
  const Result sent = cli({"invoke", session, "send-text", "text=echo hi-from-the-bus\\n", "--wait"});
  ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
  EXPECT_NE(sent.out.find("completed"), std::string::npos);
  // The terminal shows the shell's echo: the command and its output line.
  std::this_thread::sleep_for(1s);
  const std::string scene = stop_and_read_scene();
  EXPECT_NE(scene.find("hi-from-the-bus"), std::string::npos) << scene.substr(0, 4000);
}

TEST_F(LiveActionBus, OneEffectAtATimeCancelAndAClientThatLeaves) {
  start_app();
  const std::string resource = "remote.connection:" + id_;
  // A stopped server takes the TCP connection but never speaks: the attempt stays running.
  sshd_->pause();
  const Result started = cli({"invoke", resource, "connect"});
  ASSERT_EQ(started.status, 0) << started.err;
  ASSERT_EQ(started.out.rfind("started ", 0), 0u) << started.out;
  const std::string handle = started.out.substr(8, started.out.find('\n') - 8);
  EXPECT_EQ(gdbus("Poll", {handle}).out, "('running', '', '')\n");

  const Result second = cli({"invoke", resource, "connect"});
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("refused: operation_in_flight: another remote operation is still running"),
            std::string::npos)
      << second.err;

  ASSERT_EQ(gdbus("Cancel", {handle}).status, 0);
  EXPECT_EQ(gdbus("Poll", {handle}).out, "('cancelled', '', 'remote connection attempt cancelled')\n");

  // A client that goes away while it waits: its attempt is cancelled and the
  // slot is free for the next connect, which reaches the resumed server.
  Child waiter =
      Child::spawn({REMOTE_ACTIONS, "invoke", resource, "connect", "--wait"}, env(), (dir_ / "waiter.log").string());
  ASSERT_TRUE(
      bustest::wait_until([&] { return bustest::slurp(dir_ / "waiter.log").find("started") != std::string::npos; }));
  waiter.signal(SIGKILL);
  waiter.wait_exit(5s);
  sshd_->resume();
  ASSERT_TRUE(bustest::wait_until([&] { return cli({"invoke", resource, "connect"}).status == 0; }, 20s));
  const std::string session = "remote.session:" + id_;
  ASSERT_TRUE(bustest::wait_until([&] {
    return action_line(session, "send-text").find("  available") != std::string::npos;
  })) << tree().out;
  const Result sent = cli({"invoke", session, "send-text", "text=true\\n", "--wait"});
  EXPECT_EQ(sent.status, 0) << sent.err;
  ASSERT_TRUE(app_.running());
}

// One SSH profile whose server takes the TCP connection and never speaks. A connect
// attempt then stays running until the SSH step limit of 30 s, unless it is
// cancelled.
class SilentServerBus : public ActionBus {
 protected:
  void SetUp() override {
    ActionBus::SetUp();
    remote::SavedConnection c;
    c.id = remote::Uuid::new_v4();
    c.name = "Silent box";
    c.host = "127.0.0.1";
    c.port = listener_.port();
    c.user = "nobody";
    c.kind = remote::ConnectionKind::Ssh;
    c.auth = remote::AuthKind::Password;
    c.last_used = "Never";
    resource_ = "remote.connection:" + c.id.to_string();
    auto opened = vesk_ui::persist::open_directory(dir_ / "data" / "vesk" / kBusName);
    ASSERT_TRUE(opened.has_value());
    remote::doc::write_connections(opened->document(), {c});
    ASSERT_TRUE(opened->save().has_value());
    app_extra_ = {"REMOTE_LIVE_SESSIONS=1", "REMOTE_SSH_PASSWORD=unused"};
  }

  // The handle a started invoke printed ("started 7").
  static std::string handle_in(const std::string& out) {
    const std::size_t at = out.find("started ");
    if (at == std::string::npos) return {};
    return out.substr(at + 8, out.find('\n', at) - at - 8);
  }
  std::string poll(const std::string& handle) { return gdbus("Poll", {handle}).out; }

  // Starts a waiting connect and returns once it printed its handle.
  Child start_waiter(const std::string& log, std::string& handle) {
    Child waiter = Child::spawn({REMOTE_ACTIONS, "invoke", resource_, "connect", "--wait"}, env(), log);
    EXPECT_TRUE(bustest::wait_until([&] { return !handle_in(bustest::slurp(log)).empty(); })) << bustest::slurp(log);
    handle = handle_in(bustest::slurp(log));
    return waiter;
  }

  // The slot is free when a new connect starts: well before the step limit
  // would have freed it. The started attempt is cancelled again.
  bool next_effect_accepted() {
    std::string started;
    const bool ok = bustest::wait_until(
        [&] {
          const Result r = cli({"invoke", resource_, "connect"});
          started = handle_in(r.out);
          return r.status == 0;
        },
        15s);
    if (ok) gdbus("Cancel", {started});
    return ok;
  }

  sshtest::SilentListener listener_;
  std::string resource_;
};

constexpr const char* kCancelledPoll = "('cancelled', '', 'remote connection attempt cancelled')\n";

TEST_F(SilentServerBus, AClientThatLeavesTheBusHasItsOperationCancelled) {
  start_app();
  struct Leaving {
    const char* what;
    std::function<std::string()> start_and_leave;  // gives the handle
  } rows[] = {
      {"remote-actions --wait, killed",
       [&] {
         std::string handle;
         Child waiter = start_waiter((dir_ / "killed.log").string(), handle);
         waiter.signal(SIGKILL);
         waiter.wait_exit(10s);
         return handle;
       }},
      // gdbus starts the operation and ends; it never said to keep it.
      {"a gdbus call",
       [&] {
         const Result r = gdbus("Invoke", {resource_, "connect", "{}"});
         const std::size_t at = r.out.find("uint64 ");
         return at == std::string::npos ? std::string() : r.out.substr(at + 7, r.out.find(')', at) - at - 7);
       }},
  };
  for (const Leaving& row : rows) {
    const std::string handle = row.start_and_leave();
    ASSERT_FALSE(handle.empty()) << row.what;
    EXPECT_TRUE(bustest::wait_until([&] { return poll(handle) == kCancelledPoll; }, 15s))
        << row.what << ": " << poll(handle);
    EXPECT_TRUE(next_effect_accepted()) << row.what;
  }
  ASSERT_TRUE(app_.running());
}

TEST_F(SilentServerBus, ASignalToAWaitingInvokeCancelsItsOperation) {
  start_app();
  const std::pair<int, int> rows[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& [sig, status] : rows) {
    const std::string log = (dir_ / ("signal-" + std::to_string(sig) + ".log")).string();
    std::string handle;
    Child waiter = start_waiter(log, handle);
    ASSERT_FALSE(handle.empty());
    EXPECT_EQ(poll(handle), "('running', '', '')\n");
    waiter.signal(sig);
    EXPECT_EQ(waiter.wait_exit(20s), status) << sig;
    EXPECT_NE(bustest::slurp(log).find("cancelled: remote connection attempt cancelled\n"), std::string::npos)
        << bustest::slurp(log);
    EXPECT_EQ(poll(handle), kCancelledPoll);
    EXPECT_TRUE(next_effect_accepted()) << sig;
  }
  // The window is back on the list, not on a session still connecting.
  std::this_thread::sleep_for(300ms);
  const std::string scene = stop_and_read_scene();
  EXPECT_NE(scene.find("\"Silent box\""), std::string::npos);
  EXPECT_EQ(scene.find("Connecting"), std::string::npos) << scene.substr(0, 2000);
}

TEST_F(SilentServerBus, CancelStopsAnOperationStartedWithoutWaiting) {
  start_app();
  // Without --wait the operation outlives remote-actions.
  const Result started = cli({"invoke", resource_, "connect"});
  ASSERT_EQ(started.status, 0) << started.err;
  const std::string handle = handle_in(started.out);
  ASSERT_FALSE(handle.empty()) << started.out;
  EXPECT_EQ(poll(handle), "('running', '', '')\n");

  const struct Case {
    std::string handle;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {handle, 0, "cancelled: remote connection attempt cancelled\n", ""},
      // Again: it stays cancelled.
      {handle, 0, "cancelled: remote connection attempt cancelled\n", ""},
      {"12345", 1, "", "failed: unknown_operation: There is no operation with handle 12345.\n"},
      {"twelve", 2, "", "is not an operation handle"},
  };
  for (const Case& c : cases) {
    const Result r = cli({"cancel", c.handle});
    EXPECT_EQ(r.status, c.status) << c.handle << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.handle;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.handle << ": " << r.err;
  }
  EXPECT_EQ(poll(handle), kCancelledPoll);
  EXPECT_TRUE(next_effect_accepted());
}

}  // namespace
