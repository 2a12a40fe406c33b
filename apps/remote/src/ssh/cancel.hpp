#pragma once
// The "handle dropped" signal of one SSH session: an eventfd that every wait
// of the worker polls, so a dropped session ends its worker at once whatever
// it waits for (the server's window, a stalled socket, the handshake).

#include <expected>
#include <memory>
#include <string>
#include <utility>

namespace remote::ssh {

// Once fired, stays readable for good.
class CancelSignal {
 public:
  // Fails with the system's message when no eventfd can be made.
  static std::expected<std::shared_ptr<CancelSignal>, std::string> create();
  ~CancelSignal();
  CancelSignal(const CancelSignal&) = delete;
  CancelSignal& operator=(const CancelSignal&) = delete;

  void fire() const;
  bool fired() const;
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

}  // namespace remote::ssh
