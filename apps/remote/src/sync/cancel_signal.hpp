#pragma once
// The "handle dropped" signal of one session: an eventfd that every wait of
// its worker polls, so a dropped session ends its worker at once whatever it
// waits for (a connect, a stalled socket, the server's window).

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

namespace remote::sync {

// Once fired, stays readable for good.
class CancelSignal {
 public:
  // Fails with the system's message when no eventfd can be made.
  static std::expected<std::shared_ptr<CancelSignal>, std::string> create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return std::unexpected(std::system_category().message(errno));
    return std::shared_ptr<CancelSignal>(new CancelSignal(fd));
  }
  ~CancelSignal() { ::close(fd_); }
  CancelSignal(const CancelSignal&) = delete;
  CancelSignal& operator=(const CancelSignal&) = delete;

  void fire() const {
    // Never read, so the descriptor stays readable once fired.
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
  }
  bool fired() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
  }
  int fd() const { return fd_; }

 private:
  explicit CancelSignal(int fd) : fd_(fd) {}
  int fd_;
};

// Fires its signal when destroyed or overwritten; a moved-from one fires nothing.
class CancelOnDrop {
 public:
  CancelOnDrop() = default;
  explicit CancelOnDrop(std::shared_ptr<CancelSignal> signal) : signal_(std::move(signal)) {}
  CancelOnDrop(CancelOnDrop&&) noexcept = default;
  CancelOnDrop& operator=(CancelOnDrop&& other) noexcept {
    if (this != &other) {
      fire();
      signal_ = std::move(other.signal_);
    }
    return *this;
  }
  ~CancelOnDrop() { fire(); }

 private:
  void fire() {
    if (signal_) signal_->fire();
    signal_.reset();
  }
  std::shared_ptr<CancelSignal> signal_;
};

}  // namespace remote::sync
