#include "tests/platform/vesk_ui/support/test_env.hpp"

#include <cstdlib>

#ifndef VESK_UI_TEST_FONTS_CONF
#error "VESK_UI_TEST_FONTS_CONF must name the generated fonts.conf"
#endif

namespace vesk_ui_test {

const char* fonts_conf() { return VESK_UI_TEST_FONTS_CONF; }

namespace {
struct PinFonts {
  PinFonts() { ::setenv("FONTCONFIG_FILE", VESK_UI_TEST_FONTS_CONF, 1); }
};
const PinFonts pin_fonts;
}  // namespace

}  // namespace vesk_ui_test

// Font and windowing libraries keep caches for the life of the process and
// never free them; those are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n"
         "leak:libpango\n"
         "leak:libpangoft2\n"
         "leak:libpangocairo\n"
         "leak:libharfbuzz\n"
         "leak:libglib\n"
         "leak:libgobject\n"
         "leak:libcairo\n"
         "leak:libfreetype\n"
         "leak:libSDL2\n"
         "leak:libX11\n"
         "leak:libxcb\n"
         "leak:libXext\n"
         "leak:libXi\n"
         "leak:libXrandr\n"
         "leak:libXcursor\n"
         "leak:libXrender\n"
         "leak:libXfixes\n"
         "leak:libxkbcommon\n"
         "leak:libGL\n"
         "leak:libGLX\n"
         "leak:libEGL\n"
         "leak:libdrm\n"
         "leak:_dri.so\n"
         "leak:libdbus\n";
}
