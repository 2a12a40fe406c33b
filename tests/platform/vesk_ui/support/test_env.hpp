#pragma once
// Shared set-up of the vesk_ui test programs: fontconfig pinned to the DejaVu
// fonts (so text metrics are the same on every machine) and LeakSanitizer told
// about the process-lifetime caches of fontconfig, Pango, GLib and SDL.
//
// Linking test_env.cpp is enough: the set-up runs before main.

namespace vesk_ui_test {

// The fonts.conf the tests use (set as FONTCONFIG_FILE before main).
const char* fonts_conf();

}  // namespace vesk_ui_test
