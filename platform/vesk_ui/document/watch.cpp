#include "platform/vesk_ui/document/watch.hpp"

#include <spdlog/spdlog.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vesk_ui::persist {

DocumentWatch::DocumentWatch(const std::filesystem::path& directory) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    spdlog::warn("document watch: inotify unavailable ({}); looking at the file every second", std::strerror(errno));
    return;
  }
  // Saves replace the file by a rename; writes in place close it.
  if (::inotify_add_watch(fd_, directory.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0) {
    spdlog::warn("document watch: cannot watch {} ({}); looking at the file every second", directory.string(),
                 std::strerror(errno));
    ::close(fd_);
    fd_ = -1;
  }
}

DocumentWatch::DocumentWatch(DocumentWatch&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), next_look_(o.next_look_), last_error_(std::move(o.last_error_)) {}

DocumentWatch& DocumentWatch::operator=(DocumentWatch&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(o.fd_, -1);
    next_look_ = o.next_look_;
    last_error_ = std::move(o.last_error_);
  }
  return *this;
}

DocumentWatch::~DocumentWatch() {
  if (fd_ >= 0) ::close(fd_);
}

// Reads every queued event; true when one concerns the document file (or
// events were lost, so it may).
bool DocumentWatch::drain_events() {
  alignas(inotify_event) char buffer[4096];
  bool touched = false;
  while (true) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: nothing more queued
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((ev->mask & IN_Q_OVERFLOW) != 0) touched = true;
      if (ev->len > 0 && std::string_view(ev->name) == kDocumentFile) touched = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  return touched;
}

bool DocumentWatch::poll(PersistedDocument& document, Clock::time_point now) {
  if (fd_ >= 0) {
    if (!drain_events()) return false;
  } else {
    if (now < next_look_) return false;
    next_look_ = now + kPollInterval;
  }
  // Our own saves are noticed too; refresh sees the file as it left it and
  // reads nothing.
  auto merged = document.refresh();
  if (!merged) {
    // Said once per problem: the file stays as it is until someone fixes it.
    if (merged.error().message != last_error_) {
      spdlog::warn("document watch: could not take in {}: {}", document.file_path().string(), merged.error().message);
      last_error_ = merged.error().message;
    }
    return false;
  }
  last_error_.clear();
  return *merged;
}

}  // namespace vesk_ui::persist
