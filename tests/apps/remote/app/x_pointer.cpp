#include "tests/apps/remote/app/x_pointer.hpp"

#include <X11/Xlib.h>

namespace apptest {

XPointer::XPointer(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}

XPointer::~XPointer() {
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

unsigned XPointer::buttons() const {
  if (!display_) return 0;
  auto* d = static_cast<Display*>(display_);
  Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  return ((mask & Button1Mask) ? kLeft : 0u) | ((mask & Button2Mask) ? kMiddle : 0u) |
         ((mask & Button3Mask) ? kRight : 0u);
}

}  // namespace apptest
