#include "tests/apps/remote/app/x_pointer.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

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

XTypedKeys::XTypedKeys(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
  if (!display_) return;
  auto* d = static_cast<Display*>(display_);
  const int screen = DefaultScreen(d);
  XSetWindowAttributes attributes{};
  attributes.event_mask = KeyPressMask | StructureNotifyMask;
  window_ = XCreateWindow(d, RootWindow(d, screen), 0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen), 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWEventMask, &attributes);
  XMapWindow(d, window_);
  for (XEvent e; XWindowEvent(d, window_, StructureNotifyMask, &e), e.type != MapNotify;) {
  }
  XSetInputFocus(d, window_, RevertToParent, CurrentTime);
  XSync(d, False);
}

XTypedKeys::~XTypedKeys() {
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

void XTypedKeys::pump() {
  if (!display_) return;
  auto* d = static_cast<Display*>(display_);
  XSync(d, False);
  while (XPending(d) > 0) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type != KeyPress) continue;
    // Asked of the server for each press: it adds keysyms for characters
    // outside its layout as they come, which a cached mapping may not show.
    int per_code = 0;
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(e.xkey.keycode), 1, &per_code);
    KeySym keysym = NoSymbol;
    if (syms) {
      const int level = (e.xkey.state & ShiftMask) && per_code > 1 && syms[1] != NoSymbol ? 1 : 0;
      if (per_code > 0) keysym = syms[level];
      XFree(syms);
    }
    if (IsModifierKey(keysym) || keysym == XK_Caps_Lock) continue;
    const unsigned state = ((e.xkey.state & ShiftMask) ? kShift : 0u) | ((e.xkey.state & LockMask) ? kLock : 0u) |
                           ((e.xkey.state & ControlMask) ? kControl : 0u) | ((e.xkey.state & Mod1Mask) ? kAlt : 0u);
    presses_.push_back(Press{keysym, state});
  }
}

bool XTypedKeys::modifier_held() const {
  if (!display_) return false;
  auto* d = static_cast<Display*>(display_);
  char keys[32];
  XQueryKeymap(d, keys);
  XModifierKeymap* map = XGetModifierMapping(d);
  bool held = false;
  for (int i = 0; i < 8 * map->max_keypermod; ++i) {
    const KeyCode code = map->modifiermap[i];
    if (code != 0 && (keys[code / 8] & (1 << (code % 8)))) held = true;
  }
  XFreeModifiermap(map);
  return held;
}

bool XTypedKeys::caps_lock_on() const {
  if (!display_) return false;
  XkbStateRec state{};
  XkbGetState(static_cast<Display*>(display_), XkbUseCoreKbd, &state);
  return (state.locked_mods & LockMask) != 0;
}

}  // namespace apptest
