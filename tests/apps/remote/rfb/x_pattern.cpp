// Draws a known picture on the root window of $DISPLAY: solid bands and a
// block of noise. After each line on stdin it scrolls the screen up by 40
// rows (an XCopyArea, which a VNC server sends as CopyRect) and fills the
// freed rows with one colour. Ends at the end of stdin. Prints "drawn" and
// "scrolled" when synced.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr int kScroll = 40;

unsigned long noise(int x, int y) {
  unsigned v = static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u;
  v ^= v >> 13;
  v *= 0x5bd1e995u;
  v ^= v >> 15;
  return v & 0xFFFFFF;
}

}  // namespace

int main() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) {
    std::fprintf(stderr, "cannot open display\n");
    return 1;
  }
  const int screen = DefaultScreen(dpy);
  const Window root = RootWindow(dpy, screen);
  const int w = DisplayWidth(dpy, screen);
  const int h = DisplayHeight(dpy, screen);
  GC gc = XCreateGC(dpy, root, 0, nullptr);

  const unsigned long bands[] = {0xC02020, 0x20C020, 0x2020C0, 0xE0E040, 0x40E0E0, 0xFFFFFF};
  const int band_h = h / 6 + 1;
  for (int i = 0; i < 6; ++i) {
    XSetForeground(dpy, gc, bands[i]);
    XFillRectangle(dpy, root, gc, 0, i * band_h, static_cast<unsigned>(w), static_cast<unsigned>(band_h));
  }
  const int nw = w / 3, nh = h / 3;
  char* data = static_cast<char*>(std::malloc(static_cast<std::size_t>(nw) * nh * 4));
  XImage* img = XCreateImage(dpy, DefaultVisual(dpy, screen), 24, ZPixmap, 0, data, static_cast<unsigned>(nw),
                             static_cast<unsigned>(nh), 32, 0);
  for (int y = 0; y < nh; ++y)
    for (int x = 0; x < nw; ++x) XPutPixel(img, x, y, noise(x, y));
  XPutImage(dpy, root, gc, img, 0, 0, w / 3, h / 3, static_cast<unsigned>(nw), static_cast<unsigned>(nh));
  XDestroyImage(img);
  XSync(dpy, False);
  std::cout << "drawn" << std::endl;

  std::string line;
  unsigned long strip = 0x804000;
  while (std::getline(std::cin, line)) {
    XCopyArea(dpy, root, root, gc, 0, kScroll, static_cast<unsigned>(w), static_cast<unsigned>(h - kScroll), 0, 0);
    XSetForeground(dpy, gc, strip);
    XFillRectangle(dpy, root, gc, 0, h - kScroll, static_cast<unsigned>(w), kScroll);
    XSync(dpy, False);
    std::cout << "scrolled" << std::endl;
    strip = (strip * 2654435761u + 0x1234) & 0xFFFFFF;
  }
  XFreeGC(dpy, gc);
  XCloseDisplay(dpy);
  return 0;
}
