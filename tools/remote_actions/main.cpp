// remote-actions: lists and invokes the running application's actions over
// the session bus ("dev.vesk.remote", object "/dev/vesk/remote", interface
// "dev.vesk.remote.Actions").
#include <gio/gio.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tools/remote_actions/cli.hpp"

namespace {

constexpr const char* kBusName = "dev.vesk.remote";
constexpr const char* kObjectPath = "/dev/vesk/remote";
constexpr const char* kInterface = "dev.vesk.remote.Actions";
// How often --wait asks.
constexpr auto kPollInterval = std::chrono::milliseconds(50);

// The signal that asked a waiting invoke to stop; 0 while none did.
volatile std::sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int sig) {
  // A second signal while the cancel is on its way ends the client at once.
  if (g_stop_signal != 0) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
  }
  g_stop_signal = sig;
}

void catch_stop_signals() {
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int report_error(GError* error) {
  int status = remote_actions::kExitFailed;
  std::string message = error->message;
  if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
      g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED)) {
    status = remote_actions::kExitNoApp;
    message = std::string("no running application: ") + kBusName + " is not on the session bus";
  } else if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED)) {
    status = remote_actions::kExitRefused;
  }
  std::fprintf(stderr, "remote-actions: %s\n", message.c_str());
  g_error_free(error);
  return status;
}

// The reply, or nullptr after the error was printed into `status`.
GVariant* call(GDBusConnection* bus, const char* method, GVariant* params, const char* reply_type, int& status) {
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, kBusName, kObjectPath, kInterface, method, params, G_VARIANT_TYPE(reply_type),
                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, &error);
  if (!reply) status = report_error(error);
  return reply;
}

int run_tree(GDBusConnection* bus) {
  int status = 0;
  GVariant* reply = call(bus, "Tree", nullptr, "(s)", status);
  if (!reply) return status;
  const gchar* json = nullptr;
  g_variant_get(reply, "(&s)", &json);
  auto text = remote_actions::format_tree(json);
  g_variant_unref(reply);
  if (!text) {
    std::fprintf(stderr, "remote-actions: %s\n", text.error().c_str());
    return remote_actions::kExitFailed;
  }
  std::fputs(text->c_str(), stdout);
  return remote_actions::kExitDone;
}

// Polls once and prints a settled state: its exit status, or -1 while the
// operation runs. `cancelled_status` is the status of a cancelled one.
int poll_once(GDBusConnection* bus, guint64 handle, int cancelled_status) {
  int status = 0;
  GVariant* reply = call(bus, "Poll", g_variant_new("(t)", handle), "(sss)", status);
  if (!reply) return status;
  const gchar *state = nullptr, *code = nullptr, *message = nullptr;
  g_variant_get(reply, "(&s&s&s)", &state, &code, &message);
  const std::string s = state;
  int result = -1;
  if (s == "completed") {
    std::printf("completed\n");
    result = remote_actions::kExitDone;
  } else if (s == "failed") {
    std::fprintf(stderr, "failed: %s: %s\n", code, message);
    result = remote_actions::kExitFailed;
  } else if (s == "cancelled") {
    std::fprintf(cancelled_status == remote_actions::kExitDone ? stdout : stderr, "cancelled: %s\n", message);
    result = cancelled_status;
  }
  g_variant_unref(reply);
  return result;
}

int cancel(GDBusConnection* bus, guint64 handle) {
  int status = 0;
  GVariant* reply = call(bus, "Cancel", g_variant_new("(t)", handle), "()", status);
  if (!reply) return status;
  g_variant_unref(reply);
  return remote_actions::kExitDone;
}

int wait_for(GDBusConnection* bus, guint64 handle) {
  bool cancel_sent = false;
  for (;;) {
    if (g_stop_signal != 0 && !cancel_sent) {
      cancel_sent = true;
      if (const int sent = cancel(bus, handle); sent != remote_actions::kExitDone) return sent;
    }
    // Cancelled after a signal, the status says which signal; an operation
    // that cannot be cancelled (a text delivery) is still waited for.
    const int result = poll_once(
        bus, handle, cancel_sent ? remote_actions::kExitSignalBase + g_stop_signal : remote_actions::kExitFailed);
    if (result >= 0) return result;
    std::this_thread::sleep_for(kPollInterval);
  }
}

// remote-actions cancel: asks, then reports where the operation stands.
int run_cancel(GDBusConnection* bus, guint64 handle) {
  if (const int sent = cancel(bus, handle); sent != remote_actions::kExitDone) return sent;
  const int result = poll_once(bus, handle, remote_actions::kExitDone);
  if (result >= 0) return result;
  std::fprintf(stderr, "running: the operation cannot be cancelled; it ends by itself\n");
  return remote_actions::kExitFailed;
}

int run_invoke(GDBusConnection* bus, const remote_actions::Command& c) {
  // GVariant strings must be UTF-8; say so instead of sending nothing.
  auto utf8 = [](const std::string& s) { return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr); };
  if (!utf8(c.resource) || !utf8(c.action)) {
    std::fprintf(stderr, "refused: invalid_argument: resource and action ids must be valid UTF-8 text\n");
    return remote_actions::kExitRefused;
  }
  GVariantBuilder args;
  g_variant_builder_init(&args, G_VARIANT_TYPE("a{ss}"));
  for (const auto& [name, value] : c.arguments) {
    if (!utf8(name) || !utf8(value) || name.find('\0') != std::string::npos || value.find('\0') != std::string::npos) {
      g_variant_builder_clear(&args);
      std::fprintf(stderr, "refused: invalid_argument: argument \"%s\" is not valid UTF-8 text\n",
                   utf8(name) ? name.c_str() : "?");
      return remote_actions::kExitRefused;
    }
    g_variant_builder_add(&args, "{ss}", name.c_str(), value.c_str());
  }
  int status = 0;
  GVariant* reply =
      call(bus, "Invoke", g_variant_new("(ssa{ss})", c.resource.c_str(), c.action.c_str(), &args), "(ssst)", status);
  if (!reply) return status;
  const gchar *outcome = nullptr, *code = nullptr, *message = nullptr;
  guint64 handle = 0;
  g_variant_get(reply, "(&s&s&st)", &outcome, &code, &message, &handle);
  const std::string o = outcome;
  int result = remote_actions::kExitFailed;
  if (o == "applied" || o == "completed") {
    std::printf("%s\n", outcome);
    result = remote_actions::kExitDone;
  } else if (o == "started") {
    std::printf("started %llu\n", static_cast<unsigned long long>(handle));
    std::fflush(stdout);
    result = c.wait ? -1 : remote_actions::kExitDone;
    // Not waited for: the operation goes on after this client leaves.
    if (!c.wait) {
      GVariant* detached = call(bus, "Detach", g_variant_new("(t)", handle), "()", status);
      if (detached) g_variant_unref(detached);
    }
  } else if (o == "refused") {
    std::fprintf(stderr, "refused: %s: %s\n", code, message);
    result = remote_actions::kExitRefused;
  } else {
    std::fprintf(stderr, "failed: %s: %s\n", code, message);
  }
  g_variant_unref(reply);
  return result >= 0 ? result : wait_for(bus, handle);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto command = remote_actions::parse_command(args);
  if (!command) {
    std::fprintf(stderr, "remote-actions: %s\n%s", command.error().c_str(), remote_actions::usage().c_str());
    return remote_actions::kExitRefused;
  }
  if (command->kind == remote_actions::Command::Kind::Help) {
    std::fputs(remote_actions::usage().c_str(), stdout);
    return remote_actions::kExitDone;
  }
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    std::fprintf(stderr, "remote-actions: no running application: no session bus (%s)\n", error->message);
    g_error_free(error);
    return remote_actions::kExitNoApp;
  }
  if (command->kind == remote_actions::Command::Kind::Invoke && command->wait) catch_stop_signals();
  int status = remote_actions::kExitDone;
  switch (command->kind) {
    case remote_actions::Command::Kind::Tree: status = run_tree(bus); break;
    case remote_actions::Command::Kind::Invoke: status = run_invoke(bus, *command); break;
    case remote_actions::Command::Kind::Cancel: status = run_cancel(bus, command->handle); break;
    case remote_actions::Command::Kind::Help: break;
  }
  g_object_unref(bus);
  return status;
}
