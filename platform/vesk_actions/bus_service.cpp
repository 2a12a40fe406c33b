#include "platform/vesk_actions/bus_service.hpp"

#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/vesk_actions/tree_json.hpp"

namespace vesk_actions {

namespace {

// Remembered callers; the cache starts over when full (a uid never changes
// for a connection name, so entries are never stale, only many).
constexpr std::size_t kMaxKnownCallers = 256;
// Arguments of one invocation at most.
constexpr gsize kMaxArguments = 64;
// Operations followed for one client; older ones are forgotten (the target
// keeps no more settled ones either).
constexpr std::size_t kMaxFollowedOperations = 64;

constexpr const char* kErrorAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kErrorFailed = "org.freedesktop.DBus.Error.Failed";

std::string introspection_xml(const std::string& interface) {
  return "<node><interface name='" + interface +
         "'>"
         "<method name='Tree'><arg type='s' name='tree' direction='out'/></method>"
         "<method name='Invoke'>"
         "<arg type='s' name='resource_id' direction='in'/>"
         "<arg type='s' name='action_id' direction='in'/>"
         "<arg type='a{ss}' name='arguments' direction='in'/>"
         "<arg type='s' name='outcome' direction='out'/>"
         "<arg type='s' name='code' direction='out'/>"
         "<arg type='s' name='message' direction='out'/>"
         "<arg type='t' name='handle' direction='out'/>"
         "</method>"
         "<method name='Poll'>"
         "<arg type='t' name='handle' direction='in'/>"
         "<arg type='s' name='state' direction='out'/>"
         "<arg type='s' name='code' direction='out'/>"
         "<arg type='s' name='message' direction='out'/>"
         "</method>"
         "<method name='Cancel'><arg type='t' name='handle' direction='in'/></method>"
         "<method name='Detach'><arg type='t' name='handle' direction='in'/></method>"
         "<signal name='TreeChanged'/>"
         "</interface></node>";
}

struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};

// The tree is compared with the last one sent at most this often: building
// it is not free with many connections, and frames may come 60 a second.
constexpr guint kTreeCheckIntervalMs = 250;

}  // namespace

std::string bus_object_path(std::string_view app_id) {
  std::string path = "/";
  for (char c : app_id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    path += c == '.' ? '/' : (ok ? c : '_');
  }
  return path;
}

std::string bus_interface_name(std::string_view app_id) { return std::string(app_id) + ".Actions"; }

struct BusService::Impl {
  std::string app_id;
  std::string interface;
  std::string path;
  ActionTarget& target;
  std::unique_ptr<GDBusConnection, GObjectUnref> connection;
  GDBusNodeInfo* node = nullptr;
  guint registration = 0;
  guint name_owner = 0;
  guint self_uid = 0;
  struct Caller {
    guint32 uid = 0;
    std::string name;  // the calling program's name, for the provenance of its changes
  };
  std::map<std::string, Caller, std::less<>> callers;
  // The operations each client started, by its unique name: when it leaves
  // the bus they are cancelled, so that a client killed while it waits does
  // not hold the one operation slot until the operation times out.
  struct Starter {
    guint subscription = 0;  // its NameOwnerChanged
    std::vector<std::uint64_t> handles;
  };
  std::map<std::string, Starter, std::less<>> starters;
  std::optional<std::uint64_t> last_sent;
  std::function<void(const std::string&)> unavailable;
  bool frame_since_check = false;
  guint check_timer = 0;
  GCancellable* cancellable = g_cancellable_new();
  // Pending uid look-ups hold this; cleared when the service goes.
  std::shared_ptr<Impl*> alive;

  Impl(std::string id, ActionTarget& t) : app_id(std::move(id)), target(t) {
    interface = bus_interface_name(app_id);
    path = bus_object_path(app_id);
    self_uid = static_cast<guint>(::getuid());
  }

  ~Impl() {
    if (alive) *alive = nullptr;
    for (const auto& [name, starter] : starters) {
      if (connection) g_dbus_connection_signal_unsubscribe(connection.get(), starter.subscription);
    }
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
    if (check_timer) g_source_remove(check_timer);
    if (name_owner) g_bus_unown_name(name_owner);
    if (registration && connection) g_dbus_connection_unregister_object(connection.get(), registration);
    if (connection) g_dbus_connection_flush_sync(connection.get(), nullptr, nullptr);
    if (node) g_dbus_node_info_unref(node);
  }

  void handle(GDBusMethodInvocation* invocation);
  // The bus is there: export and ask for the name.
  std::expected<void, std::string> serve(GDBusConnection* bus);
  void emit_tree_changed();
  void check_tree();
  // The operation `handle` was started by `client`.
  void follow(const std::string& client, std::uint64_t handle);
  // The client went: its operations are cancelled.
  void client_left(std::string_view client);
  void detach(std::string_view client, std::uint64_t handle);
};

namespace {

void on_method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                    GDBusMethodInvocation* invocation, gpointer user_data);

// The short name the kernel keeps for a process ("remote-actions"), as
// valid UTF-8; empty when it cannot be read.
std::string program_name(guint32 pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) return {};
  return name;
}

struct UidLookup {
  std::shared_ptr<BusService::Impl*> alive;
  GDBusMethodInvocation* invocation;
  std::string sender;
};

void on_uid_reply(GObject* source, GAsyncResult* result, gpointer user_data) {
  std::unique_ptr<UidLookup> lookup(static_cast<UidLookup*>(user_data));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  BusService::Impl* impl = *lookup->alive;
  if (!reply) {
    g_dbus_method_invocation_return_dbus_error(lookup->invocation, kErrorAccessDenied,
                                               "the caller's user could not be determined");
    g_error_free(error);
    return;
  }
  GVariant* credentials = g_variant_get_child_value(reply, 0);
  guint32 uid = 0;
  guint32 pid = 0;
  const bool has_uid = g_variant_lookup(credentials, "UnixUserID", "u", &uid);
  const bool has_pid = g_variant_lookup(credentials, "ProcessID", "u", &pid);
  g_variant_unref(credentials);
  g_variant_unref(reply);
  if (!impl) {
    g_dbus_method_invocation_return_dbus_error(lookup->invocation, kErrorFailed, "the application is closing");
    return;
  }
  if (!has_uid) {
    g_dbus_method_invocation_return_dbus_error(lookup->invocation, kErrorAccessDenied,
                                               "the caller's user could not be determined");
    return;
  }
  if (impl->callers.size() >= kMaxKnownCallers) impl->callers.clear();
  impl->callers[lookup->sender] = {uid, has_pid ? program_name(pid) : std::string()};
  if (uid != impl->self_uid) {
    g_dbus_method_invocation_return_dbus_error(lookup->invocation, kErrorAccessDenied,
                                               "only the user running the application may use its actions");
    return;
  }
  impl->handle(lookup->invocation);
}

void on_method_call(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*, const gchar*,
                    GVariant*, GDBusMethodInvocation* invocation, gpointer user_data) {
  auto* impl = static_cast<BusService::Impl*>(user_data);
  if (!sender) {
    g_dbus_method_invocation_return_dbus_error(invocation, kErrorAccessDenied, "callers must come through the bus");
    return;
  }
  if (auto it = impl->callers.find(sender); it != impl->callers.end()) {
    if (it->second.uid != impl->self_uid) {
      g_dbus_method_invocation_return_dbus_error(invocation, kErrorAccessDenied,
                                                 "only the user running the application may use its actions");
      return;
    }
    impl->handle(invocation);
    return;
  }
  // Peer credentials of a bus connection are the daemon's; ask it who the
  // sender is.
  auto* lookup = new UidLookup{impl->alive, invocation, sender};
  g_dbus_connection_call(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "GetConnectionCredentials", g_variant_new("(s)", sender), G_VARIANT_TYPE("(a{sv})"),
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, on_uid_reply, lookup);
}

const GDBusInterfaceVTable kVtable = {on_method_call, nullptr, nullptr, {}};

void on_name_lost(GDBusConnection* connection, const gchar* name, gpointer) {
  if (!connection) return;  // the connection itself went; already reported by its closing
  std::fprintf(stderr,
               "vesk_actions: the bus name %s is owned by another process; actions are reachable only "
               "through this process's unique name\n",
               name);
}

}  // namespace

void BusService::Impl::handle(GDBusMethodInvocation* invocation) {
  const std::string_view method = g_dbus_method_invocation_get_method_name(invocation);
  GVariant* params = g_dbus_method_invocation_get_parameters(invocation);
  const std::string sender = g_dbus_method_invocation_get_sender(invocation);

  if (method == "Tree") {
    const std::vector<Resource> roots = target.tree();
    const std::string json = tree_json(roots);
    last_sent = tree_fingerprint(roots);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", json.c_str()));
    return;
  }
  if (method == "Invoke") {
    const gchar* resource_id = nullptr;
    const gchar* action_id = nullptr;
    GVariantIter* iter = nullptr;
    g_variant_get(params, "(&s&sa{ss})", &resource_id, &action_id, &iter);
    ActionArgs args;
    const gsize count = g_variant_iter_n_children(iter);
    const gchar* name = nullptr;
    const gchar* value = nullptr;
    while (g_variant_iter_next(iter, "{&s&s}", &name, &value)) args.set_text(name, value);
    g_variant_iter_free(iter);
    InvokeReply reply;
    if (count > kMaxArguments) {
      reply = {std::string(outcome::kRefused), "invalid_argument", "An invocation takes at most 64 arguments.", 0};
    } else {
      // The bus vouches for the connection name; the program name is
      // only what the caller calls itself.
      auto known = callers.find(sender);
      const std::string program = known != callers.end() ? known->second.name : std::string();
      reply = target.invoke(
          resource_id, action_id, args,
          ActionSource{sender, program.empty() ? "D-Bus client " + sender : program + " (D-Bus " + sender + ")"});
    }
    if (reply.outcome == outcome::kStarted && reply.handle != 0) follow(sender, reply.handle);
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(ssst)", reply.outcome.c_str(), reply.code.c_str(), reply.message.c_str(),
                                  static_cast<guint64>(reply.handle)));
    return;
  }
  if (method == "Poll") {
    guint64 handle = 0;
    g_variant_get(params, "(t)", &handle);
    const PollReply reply = target.poll(handle);
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(sss)", reply.state.c_str(), reply.code.c_str(), reply.message.c_str()));
    return;
  }
  if (method == "Cancel") {
    guint64 handle = 0;
    g_variant_get(params, "(t)", &handle);
    target.cancel(handle);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  if (method == "Detach") {
    guint64 handle = 0;
    g_variant_get(params, "(t)", &handle);
    detach(sender, handle);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no such method");
}

namespace {

void on_name_owner_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                           gpointer user_data) {
  const gchar* name = nullptr;
  const gchar* old_owner = nullptr;
  const gchar* new_owner = nullptr;
  g_variant_get(params, "(&s&s&s)", &name, &old_owner, &new_owner);
  if (*new_owner == '\0') static_cast<BusService::Impl*>(user_data)->client_left(name);
}

struct OwnerCheck {
  std::shared_ptr<BusService::Impl*> alive;
  std::string client;
};

// The client may have left before the subscription was in place; the bus
// answers this after it took the subscription, so nothing falls between.
void on_owner_checked(GObject* source, GAsyncResult* result, gpointer user_data) {
  std::unique_ptr<OwnerCheck> check(static_cast<OwnerCheck*>(user_data));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply) {
    g_variant_unref(reply);
    return;
  }
  const bool gone = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
  g_error_free(error);
  if (gone && *check->alive) (*check->alive)->client_left(check->client);
}

}  // namespace

void BusService::Impl::follow(const std::string& client, std::uint64_t handle) {
  auto [it, added] = starters.try_emplace(client);
  Starter& starter = it->second;
  starter.handles.push_back(handle);
  if (starter.handles.size() > kMaxFollowedOperations) starter.handles.erase(starter.handles.begin());
  if (!added) return;
  starter.subscription = g_dbus_connection_signal_subscribe(
      connection.get(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
      client.c_str(), G_DBUS_SIGNAL_FLAGS_NONE, on_name_owner_changed, this, nullptr);
  g_dbus_connection_call(connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "GetNameOwner", g_variant_new("(s)", client.c_str()), G_VARIANT_TYPE("(s)"),
                         G_DBUS_CALL_FLAGS_NONE, -1, cancellable, on_owner_checked, new OwnerCheck{alive, client});
}

void BusService::Impl::client_left(std::string_view client) {
  callers.erase(std::string(client));  // unique names are never given out again
  auto it = starters.find(client);
  if (it == starters.end()) return;
  const Starter starter = std::move(it->second);
  starters.erase(it);
  g_dbus_connection_signal_unsubscribe(connection.get(), starter.subscription);
  // Settled operations ignore the cancel.
  for (std::uint64_t handle : starter.handles) target.cancel(handle);
}

void BusService::Impl::detach(std::string_view client, std::uint64_t handle) {
  auto it = starters.find(client);
  if (it == starters.end()) return;
  std::erase(it->second.handles, handle);
  if (!it->second.handles.empty()) return;
  g_dbus_connection_signal_unsubscribe(connection.get(), it->second.subscription);
  starters.erase(it);
}

void BusService::Impl::emit_tree_changed() {
  GError* error = nullptr;
  if (!g_dbus_connection_emit_signal(connection.get(), nullptr, path.c_str(), interface.c_str(), "TreeChanged", nullptr,
                                     &error)) {
    std::fprintf(stderr, "vesk_actions: could not signal a tree change: %s\n", error->message);
    g_error_free(error);
  }
}

BusService::BusService(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
BusService::~BusService() = default;

namespace {

void on_bus_ready(GObject*, GAsyncResult* result, gpointer user_data) {
  using Alive = std::shared_ptr<BusService::Impl*>;
  std::unique_ptr<Alive> alive(static_cast<Alive*>(user_data));
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  BusService::Impl* impl = **alive;
  if (!impl) {  // the service went first
    if (bus) g_object_unref(bus);
    if (error) g_error_free(error);
    return;
  }
  if (!bus) {
    const std::string message = std::string("no session bus: ") + (error ? error->message : "unknown error");
    if (error) g_error_free(error);
    if (impl->unavailable) impl->unavailable(message);
    return;
  }
  if (auto served = impl->serve(bus); !served && impl->unavailable) impl->unavailable(served.error());
}

}  // namespace

std::expected<void, std::string> BusService::Impl::serve(GDBusConnection* bus) {
  connection.reset(bus);
  // A bus that goes away must not end the application.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  GError* error = nullptr;
  const std::string xml = introspection_xml(interface);
  node = g_dbus_node_info_new_for_xml(xml.c_str(), &error);
  if (!node) {
    std::string message = std::string("bad interface description: ") + error->message;
    g_error_free(error);
    return std::unexpected(message);
  }
  registration =
      g_dbus_connection_register_object(bus, path.c_str(), node->interfaces[0], &kVtable, this, nullptr, &error);
  if (!registration) {
    std::string message = std::string("could not export ") + path + ": " + error->message;
    g_error_free(error);
    return std::unexpected(message);
  }
  name_owner = g_bus_own_name_on_connection(bus, app_id.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, nullptr,
                                            on_name_lost, nullptr, nullptr);
  return {};
}

std::expected<std::unique_ptr<BusService>, std::string> BusService::start(
    std::string app_id, ActionTarget& target, std::function<void(const std::string&)> unavailable) {
  auto impl = std::make_unique<Impl>(std::move(app_id), target);
  impl->alive = std::make_shared<Impl*>(impl.get());
  impl->unavailable = std::move(unavailable);
  if (!g_dbus_is_name(impl->app_id.c_str()) || g_dbus_is_unique_name(impl->app_id.c_str()) ||
      !g_dbus_is_interface_name(impl->interface.c_str())) {
    return std::unexpected("the application id " + impl->app_id + " is not a bus name");
  }
  g_bus_get(G_BUS_TYPE_SESSION, impl->cancellable, on_bus_ready, new std::shared_ptr<Impl*>(impl->alive));
  return std::unique_ptr<BusService>(new BusService(std::move(impl)));
}

void BusService::Impl::check_tree() {
  frame_since_check = false;
  const std::uint64_t now = tree_fingerprint(target.tree());
  if (now == *last_sent) return;
  last_sent = now;
  emit_tree_changed();
}

void BusService::after_frame() {
  Impl& impl = *impl_;
  if (!impl.connection || !impl.last_sent) return;
  impl.frame_since_check = true;
  if (impl.check_timer) return;
  // The first frame after a quiet spell is checked at once; frames that
  // follow close behind are taken together by the timer.
  impl.check_tree();
  impl.check_timer = g_timeout_add(
      kTreeCheckIntervalMs,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<Impl*>(data);
        if (!self->frame_since_check) {
          self->check_timer = 0;
          return G_SOURCE_REMOVE;
        }
        self->check_tree();
        return G_SOURCE_CONTINUE;
      },
      &impl);
}

}  // namespace vesk_actions
