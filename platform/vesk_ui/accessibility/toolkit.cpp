#include "platform/vesk_ui/accessibility/toolkit.hpp"

#include <atk-bridge.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace vesk_ui::accessibility {

namespace {

// Start-up waits at most this long for the accessibility bus's address.
constexpr int kBusCallTimeoutMs = 3000;

AtkObject* g_root = nullptr;

struct Listener {
  guint signal_id = 0;
  gulong hook_id = 0;
};
std::map<guint, Listener>& listeners() {
  static std::map<guint, Listener> m;
  return m;
}
guint g_next_listener = 1;

AtkObject* util_get_root() { return g_root; }
const gchar* util_get_toolkit_name() { return "vesk_ui"; }
const gchar* util_get_toolkit_version() { return "1.0"; }

// event_type is "Toolkit:AtkType:signal[:detail]" (window events have no
// type of ours, so they get no listener).
guint util_add_global_event_listener(GSignalEmissionHook listener, const gchar* event_type) {
  if (!listener || !event_type) return 0;
  gchar** parts = g_strsplit(event_type, ":", 4);
  std::unique_ptr<gchar*, decltype(&g_strfreev)> hold(parts, g_strfreev);
  if (!parts[0] || !parts[1] || !parts[2]) return 0;
  const GType type = g_type_from_name(parts[1]);
  if (type == 0) return 0;
  const guint signal_id = g_signal_lookup(parts[2], type);
  if (signal_id == 0) return 0;
  const GQuark detail = parts[3] ? g_quark_from_string(parts[3]) : 0;
  const gulong hook = g_signal_add_emission_hook(signal_id, detail, listener, nullptr, nullptr);
  const guint id = g_next_listener++;
  listeners()[id] = Listener{signal_id, hook};
  return id;
}

void util_remove_global_event_listener(guint id) {
  auto it = listeners().find(id);
  if (it == listeners().end()) return;
  g_signal_remove_emission_hook(it->second.signal_id, it->second.hook_id);
  listeners().erase(it);
}

std::string session_bus_address() {
  if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return a;
  // The user's bus of a systemd session, where GLib would look too.
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/') {
    const std::string path = std::string(run) + "/bus";
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + path;
  }
  return {};
}

}  // namespace

std::expected<void, std::string> accessibility_bus_reachable() {
  if (const char* off = std::getenv("NO_AT_BRIDGE"); off && std::string_view(off) == "1") {
    return std::unexpected(std::string("NO_AT_BRIDGE=1"));
  }
  if (const char* a = std::getenv("AT_SPI_BUS_ADDRESS"); a && *a) return {};
  const std::string address = session_bus_address();
  if (address.empty()) return std::unexpected(std::string("no session bus"));
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!bus) {
    std::string why = std::string("session bus: ") + (error ? error->message : "unreachable");
    g_clear_error(&error);
    return std::unexpected(why);
  }
  GVariant* reply =
      g_dbus_connection_call_sync(bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
                                  G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, &error);
  std::expected<void, std::string> out;
  if (!reply) {
    out = std::unexpected(std::string("org.a11y.Bus: ") + (error ? error->message : "no answer"));
    g_clear_error(&error);
  } else {
    g_variant_unref(reply);
  }
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
  return out;
}

void install_toolkit(AtkObject* application) {
  static bool installed = false;
  g_root = application;
  if (installed) return;
  installed = true;
  auto* klass = static_cast<AtkUtilClass*>(g_type_class_ref(ATK_TYPE_UTIL));
  klass->get_root = util_get_root;
  klass->get_toolkit_name = util_get_toolkit_name;
  klass->get_toolkit_version = util_get_toolkit_version;
  klass->add_global_event_listener = util_add_global_event_listener;
  klass->remove_global_event_listener = util_remove_global_event_listener;
  // The bridge looks the interface types up by name.
  g_type_ensure(ATK_TYPE_OBJECT);
  g_type_ensure(ATK_TYPE_COMPONENT);
  g_type_ensure(ATK_TYPE_TEXT);
  g_type_ensure(ATK_TYPE_ACTION);
  g_type_ensure(ATK_TYPE_EDITABLE_TEXT);
  g_type_ensure(ATK_TYPE_SELECTION);
  g_type_ensure(ATK_TYPE_WINDOW);
}

bool start_bridge() { return atk_bridge_adaptor_init(nullptr, nullptr) == 0; }

void stop_bridge() { atk_bridge_adaptor_cleanup(); }

}  // namespace vesk_ui::accessibility
