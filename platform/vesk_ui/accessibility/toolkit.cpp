#include "platform/vesk_ui/accessibility/toolkit.hpp"

#include <atk-bridge.h>
#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>

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

// How atk-bridge names the objects it publishes, and where it keeps an
// object's reference number (GObject data of that key).
constexpr std::string_view kObjectPathPrefix = "/org/a11y/atspi/accessible/";
constexpr const char* kBridgeReferenceKey = "spi-dbus-id";
constexpr const char* kActionInterface = "org.a11y.atspi.Action";
constexpr const char* kApplicationInterface = "org.a11y.atspi.Application";

BridgeObjectLookup& action_lookup() {
  static BridgeObjectLookup find;
  return find;
}
DBusConnection* g_answering_on = nullptr;

std::optional<std::uint32_t> reference_in_path(std::string_view path) {
  if (!path.starts_with(kObjectPathPrefix)) return std::nullopt;
  const std::string_view digits = path.substr(kObjectPathPrefix.size());
  std::uint32_t ref = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), ref);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return ref;
}

void reply_with(DBusConnection* bus, DBusMessage* message, int type, const void* value) {
  if (DBusMessage* reply = dbus_message_new_method_return(message)) {
    dbus_message_append_args(reply, type, value, DBUS_TYPE_INVALID);
    dbus_connection_send(bus, reply, nullptr);
    dbus_message_unref(reply);
  }
}

// Runs on the UI thread: the accessibility bus is dispatched from GLib's
// default main context, which the UI loop iterates.
DBusHandlerResult answer_do_action(DBusConnection* bus, DBusMessage* message, void*) {
  // A client asks for a private connection to the application, whose calls
  // no filter of ours would see: it is told there is none and stays on the
  // accessibility bus.
  if (dbus_message_is_method_call(message, kApplicationInterface, "GetApplicationBusAddress")) {
    const char* none = "";
    reply_with(bus, message, DBUS_TYPE_STRING, &none);
    return DBUS_HANDLER_RESULT_HANDLED;
  }
  if (!dbus_message_is_method_call(message, kActionInterface, "DoAction")) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  const char* path = dbus_message_get_path(message);
  const auto ref = path ? reference_in_path(path) : std::nullopt;
  AtkObject* object = ref && action_lookup() ? action_lookup()(*ref) : nullptr;
  dbus_int32_t index = 0;
  // Anything else (a malformed call, an object not ours) is left to the bridge.
  if (!object || !ATK_IS_ACTION(object) ||
      !dbus_message_get_args(message, nullptr, DBUS_TYPE_INT32, &index, DBUS_TYPE_INVALID)) {
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  }
  g_object_ref(object);  // the action may drop the publisher's reference
  const dbus_bool_t done = atk_action_do_action(ATK_ACTION(object), index) ? TRUE : FALSE;
  g_object_unref(object);
  reply_with(bus, message, DBUS_TYPE_BOOLEAN, &done);
  return DBUS_HANDLER_RESULT_HANDLED;
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

void stop_bridge() {
  stop_answering_actions();
  atk_bridge_adaptor_cleanup();
}

bool answer_actions(BridgeObjectLookup find) {
  stop_answering_actions();
  // The connection atk-bridge itself uses (libatspi keeps one per process).
  DBusConnection* bus = atspi_get_a11y_bus();
  if (!bus || !dbus_connection_add_filter(bus, answer_do_action, nullptr, nullptr)) return false;
  action_lookup() = std::move(find);
  g_answering_on = bus;
  return true;
}

void stop_answering_actions() {
  if (!g_answering_on) return;
  dbus_connection_remove_filter(g_answering_on, answer_do_action, nullptr);
  g_answering_on = nullptr;
  action_lookup() = nullptr;
}

std::optional<std::uint32_t> bridge_reference(AtkObject* object) {
  if (!object) return std::nullopt;
  const gpointer data = g_object_get_data(G_OBJECT(object), kBridgeReferenceKey);
  if (!data) return std::nullopt;
  return GPOINTER_TO_UINT(data);
}

}  // namespace vesk_ui::accessibility
