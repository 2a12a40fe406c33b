#pragma once
// The window loop's wait: sleeps until the window system has input, GLib's
// default main context has work (D-Bus, accessibility), another thread asks
// for a turn, or the timeout passes; then dispatches what GLib has ready.
// Whatever GLib dispatches runs on the thread that waits, the UI thread.

#include <SDL.h>
#include <glib.h>

#include <atomic>
#include <vector>

namespace vesk_ui::launch {

class GlibLoop {
 public:
  // The window gives the X11 connection to watch; elsewhere the wait sleeps in
  // short slices so that SDL's own events are still noticed.
  explicit GlibLoop(SDL_Window* window);
  ~GlibLoop();
  GlibLoop(const GlibLoop&) = delete;
  GlibLoop& operator=(const GlibLoop&) = delete;

  // False when another thread already iterates GLib's default context: what
  // it dispatches would then run there, not on the UI thread.
  bool owns_context() const { return owner_; }

  // Any thread: the current or next wait returns at once.
  void wake();

  // Waits at most `timeout_ms` (0: not at all) and dispatches GLib's ready
  // sources. Returns at once when SDL already holds events.
  void wait(int timeout_ms);

 private:
  GMainContext* context_ = nullptr;
  bool owner_ = false;  // the context was acquired here
  int window_fd_ = -1;
  int wake_fd_ = -1;
  std::vector<GPollFD> glib_fds_;
};

}  // namespace vesk_ui::launch
