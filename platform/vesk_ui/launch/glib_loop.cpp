#include "platform/vesk_ui/launch/glib_loop.hpp"

#include <SDL_syswm.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace vesk_ui::launch {

namespace {

// Without a window-system descriptor SDL can only be asked, not waited on.
constexpr int kBlindSliceMs = 5;
// GLib's descriptors at the start; the vector grows when it reports more.
constexpr std::size_t kInitialGlibFds = 16;

int x11_fd(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info)) return -1;
  if (info.subsystem != SDL_SYSWM_X11 || !info.info.x11.display) return -1;
  return ConnectionNumber(info.info.x11.display);
}

bool sdl_has_events() { return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0; }

}  // namespace

GlibLoop::GlibLoop(SDL_Window* window) : window_fd_(x11_fd(window)) {
  context_ = g_main_context_default();
  owner_ = g_main_context_acquire(context_) != FALSE;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  glib_fds_.resize(kInitialGlibFds);
}

GlibLoop::~GlibLoop() {
  if (owner_) g_main_context_release(context_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void GlibLoop::wake() {
  if (wake_fd_ < 0) return;
  const std::uint64_t one = 1;
  // A full counter still wakes the waiter; nothing to do on failure.
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void GlibLoop::wait(int timeout_ms) {
  // Xlib may hold events it already read from the socket; the socket would
  // then stay quiet, so SDL takes them in first.
  SDL_PumpEvents();
  if (sdl_has_events()) timeout_ms = 0;

  gint priority = 0;
  gint glib_timeout = -1;
  int n = 0;
  if (owner_) {
    if (g_main_context_prepare(context_, &priority)) timeout_ms = 0;
    for (;;) {
      n = g_main_context_query(context_, priority, &glib_timeout, glib_fds_.data(),
                               static_cast<gint>(glib_fds_.size()));
      if (n <= static_cast<int>(glib_fds_.size())) break;
      glib_fds_.resize(static_cast<std::size_t>(n));
    }
    if (glib_timeout >= 0) timeout_ms = std::min(timeout_ms, static_cast<int>(glib_timeout));
  }
  if (window_fd_ < 0) timeout_ms = std::min(timeout_ms, kBlindSliceMs);

  std::vector<pollfd> fds;
  fds.reserve(static_cast<std::size_t>(n) + 2);
  for (int i = 0; i < n; ++i) {
    fds.push_back(pollfd{glib_fds_[static_cast<std::size_t>(i)].fd,
                         static_cast<short>(glib_fds_[static_cast<std::size_t>(i)].events), 0});
  }
  if (window_fd_ >= 0) fds.push_back(pollfd{window_fd_, POLLIN, 0});
  if (wake_fd_ >= 0) fds.push_back(pollfd{wake_fd_, POLLIN, 0});
  int ready = ::poll(fds.data(), fds.size(), std::max(0, timeout_ms));
  if (ready < 0 && errno != EINTR) ready = 0;

  for (int i = 0; i < n; ++i) {
    glib_fds_[static_cast<std::size_t>(i)].revents = static_cast<gushort>(fds[static_cast<std::size_t>(i)].revents);
  }
  if (wake_fd_ >= 0 && (fds.back().revents & POLLIN)) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t r = ::read(wake_fd_, &count, sizeof count);
  }
  if (owner_ && g_main_context_check(context_, priority, glib_fds_.data(), n)) g_main_context_dispatch(context_);
}

}  // namespace vesk_ui::launch
