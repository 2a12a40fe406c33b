// The demo widget in a real window, for the window-system acceptance test.
// VESK_UI_DEMO_DATA names the folder of its persisted document.

#include <dlfcn.h>

#include <cstdlib>

#include "platform/vesk_ui/launch/launch.hpp"
#include "tests/platform/vesk_ui/support/demo_widget.hpp"

// SDL loads the X and GL libraries (and Mesa its driver) itself and unloads them at exit, after which
// LeakSanitizer can no longer name (or be told to ignore) what they keep for
// the life of the process. Holding them loaded keeps their names.
void pin_x_libraries() {
  for (const char* lib :
       {"libX11.so.6", "libX11-xcb.so.1", "libxcb.so.1", "libXext.so.6", "libXcursor.so.1", "libXi.so.6",
        "libXrandr.so.2", "libXfixes.so.3", "libXrender.so.1", "libXss.so.1", "libxkbcommon.so.0", "libGL.so.1",
        "libGLX_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"}) {
    (void)dlopen(lib, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
  }
}

int main() {
  pin_x_libraries();
  vesk_ui::launch::LaunchDescriptor d;
  d.app_id = "org.vesk.demo";
  d.build_for_scene = [](const vesk_ui::launch::LaunchContext&) -> std::expected<vesk_ui::launch::AppBox, std::string> {
    return std::make_unique<vesk_ui_test::DemoWidget>();
  };
  d.register_actions = [](vesk_ui::launch::App& app) { (void)app.action_registry_mut(); };
  d.initial_window_size = [] { return vesk_ui::launch::WindowSize{640, 480}; };
  d.wants_document = [] { return std::getenv("VESK_UI_DEMO_DATA") != nullptr; };
  d.open_document = [](std::string) { return vesk_ui::persist::open_directory(std::getenv("VESK_UI_DEMO_DATA")); };
  return vesk_ui::launch::run_or_exit(d);
}
