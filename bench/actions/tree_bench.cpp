// Tree() at 10,000 saved connections: building the published tree, writing
// it as JSON, and the whole call over a real session bus (a private
// dbus-daemon, the service dispatched on its own thread's default context).

#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_actions/bus_service.hpp"
#include "platform/vesk_actions/tree_json.hpp"
#include "bench/support/connections.hpp"

namespace {

constexpr int kConnections = 10'000;

struct Fixture {
  vesk_ui::doc::Document document;
  std::unique_ptr<remote::app::RemoteApp> app = remote::app::RemoteApp::empty();
  Fixture() {
    remote::doc::write_connections(document, bench_support::make_connections(kConnections));
    app->sync_document(document);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_ActionResources(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(f.app->action_resources(f.document));
}
BENCHMARK(BM_ActionResources)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TreeJson(benchmark::State& state) {
  Fixture& f = fixture();
  const auto tree = f.app->action_resources(f.document);
  for (auto _ : state) benchmark::DoNotOptimize(vesk_actions::tree_json(tree));
}
BENCHMARK(BM_TreeJson)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The in-process part of Tree().
void BM_TreeCall(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(vesk_actions::tree_json(f.app->action_resources(f.document)));
}
BENCHMARK(BM_TreeCall)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The TreeChanged check after painted frames, once a client holds a tree
// (at most every 250 ms while frames are painted).
void BM_TreeChangedCheck(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(vesk_actions::tree_fingerprint(f.app->action_resources(f.document)));
}
BENCHMARK(BM_TreeChangedCheck)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Fingerprint(benchmark::State& state) {
  Fixture& f = fixture();
  const auto tree = f.app->action_resources(f.document);
  for (auto _ : state) benchmark::DoNotOptimize(vesk_actions::tree_fingerprint(tree));
}
BENCHMARK(BM_Fingerprint)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The target the service calls, over the fixture's application.
class BenchTarget final : public vesk_actions::ActionTarget {
 public:
  std::vector<vesk_actions::Resource> tree() override { return fixture().app->action_resources(fixture().document); }
  vesk_actions::InvokeReply invoke(std::string_view, std::string_view, const vesk_actions::ActionArgs&,
                                   const vesk_actions::ActionSource&) override {
    return {"refused", "unknown_action", "", 0};
  }
  vesk_actions::PollReply poll(std::uint64_t) override { return {"failed", "unknown_operation", ""}; }
  void cancel(std::uint64_t) override {}
};

// A private dbus-daemon with the service on it, dispatched by a thread of
// its own; set up once (GLib keeps one session-bus connection per process).
struct BusEnv {
  pid_t daemon = -1;
  std::string address;
  BenchTarget target;
  GMainLoop* loop = nullptr;
  std::unique_ptr<vesk_actions::BusService> service;
  std::thread ui;
  GDBusConnection* client = nullptr;
  std::string error;

  BusEnv() {
    int fds[2];
    if (pipe(fds) != 0) {
      error = "pipe";
      return;
    }
    daemon = fork();
    if (daemon == 0) {
      close(fds[0]);
      const std::string fd = "--print-address=" + std::to_string(fds[1]);
      execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", fd.c_str(), nullptr);
      _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') address += c;
    close(fds[0]);
    if (address.empty()) {
      error = "no dbus-daemon";
      return;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    fixture();
    loop = g_main_loop_new(nullptr, FALSE);
    ui = std::thread([this] {
      g_main_context_acquire(g_main_context_default());
      auto started = vesk_actions::BusService::start("dev.vesk.remote", target, nullptr);
      if (started) service = std::move(*started);
      g_main_loop_run(loop);
      service.reset();
      g_main_context_release(g_main_context_default());
    });
    client = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    // Until the name is owned.
    for (int i = 0; i < 500 && client; ++i) {
      GVariant* r = g_dbus_connection_call_sync(
          client, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
          g_variant_new("(s)", "dev.vesk.remote"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      gboolean owned = FALSE;
      if (r) {
        g_variant_get(r, "(b)", &owned);
        g_variant_unref(r);
      }
      if (owned) return;
      g_usleep(10'000);
    }
    error = "the service never owned its name";
  }

  ~BusEnv() {
    if (client) g_object_unref(client);
    if (loop) {
      g_main_loop_quit(loop);
      g_main_context_wakeup(g_main_context_default());
      ui.join();
      g_main_loop_unref(loop);
    }
    if (daemon > 0) {
      kill(daemon, SIGTERM);
      waitpid(daemon, nullptr, 0);
    }
  }
};

// The whole call as a client sees it.
void BM_TreeOverSessionBus(benchmark::State& state) {
  static BusEnv env;
  if (!env.error.empty()) {
    state.SkipWithError(env.error.c_str());
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    GError* error = nullptr;
    GVariant* r = g_dbus_connection_call_sync(env.client, "dev.vesk.remote", "/dev/vesk/remote",
                                              "dev.vesk.remote.Actions", "Tree", nullptr, G_VARIANT_TYPE("(s)"),
                                              G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!r) {
      state.SkipWithError(error->message);
      g_error_free(error);
      break;
    }
    const gchar* json = nullptr;
    g_variant_get(r, "(&s)", &json);
    bytes = std::strlen(json);
    g_variant_unref(r);
  }
  state.counters["json_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TreeOverSessionBus)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
