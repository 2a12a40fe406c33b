#pragma once
// A single result handed from one thread to another. The receiver sees Closed
// when the sender is dropped without sending (for example a worker that ended).

#include <chrono>
#include <condition_variable>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "apps/remote/src/sync/bounded_queue.hpp"

namespace remote::sync {

namespace detail {

template <class T>
struct OneshotState {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<T> value;
  bool sender_alive = true;
  bool receiver_alive = true;
  bool taken = false;
};

}  // namespace detail

template <class T>
class OneshotSender {
 public:
  OneshotSender() = default;
  explicit OneshotSender(std::shared_ptr<detail::OneshotState<T>> state) : state_(std::move(state)) {}
  OneshotSender(const OneshotSender&) = delete;
  OneshotSender& operator=(const OneshotSender&) = delete;
  OneshotSender(OneshotSender&& other) noexcept : state_(std::move(other.state_)) {}
  OneshotSender& operator=(OneshotSender&& other) noexcept {
    if (this != &other) {
      drop();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~OneshotSender() { drop(); }

  // Delivers the value; false when the receiver is already gone (or it was sent before).
  bool send(T value) {
    if (!state_) return false;
    bool delivered = false;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->receiver_alive) {
        state_->value = std::move(value);
        delivered = true;
      }
      state_->sender_alive = false;
    }
    state_->ready.notify_all();
    state_.reset();
    return delivered;
  }

  bool is_closed() const {
    if (!state_) return true;
    std::lock_guard lock(state_->mutex);
    return !state_->receiver_alive;
  }

  explicit operator bool() const { return static_cast<bool>(state_); }

 private:
  void drop() {
    if (!state_) return;
    {
      std::lock_guard lock(state_->mutex);
      state_->sender_alive = false;
    }
    state_->ready.notify_all();
    state_.reset();
  }

  std::shared_ptr<detail::OneshotState<T>> state_;
};

template <class T>
class OneshotReceiver {
 public:
  OneshotReceiver() = default;
  explicit OneshotReceiver(std::shared_ptr<detail::OneshotState<T>> state) : state_(std::move(state)) {}
  OneshotReceiver(const OneshotReceiver&) = delete;
  OneshotReceiver& operator=(const OneshotReceiver&) = delete;
  OneshotReceiver(OneshotReceiver&& other) noexcept : state_(std::move(other.state_)) {}
  OneshotReceiver& operator=(OneshotReceiver&& other) noexcept {
    if (this != &other) {
      drop();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~OneshotReceiver() { drop(); }

  // Empty while the sender may still send; Closed once it is gone or the value was taken.
  std::expected<T, RecvError> try_recv() {
    if (!state_) return std::unexpected(RecvError::Closed);
    std::lock_guard lock(state_->mutex);
    return take_locked();
  }

  std::optional<T> recv() {
    if (!state_) return std::nullopt;
    std::unique_lock lock(state_->mutex);
    state_->ready.wait(lock, [&] { return state_->value.has_value() || !state_->sender_alive; });
    auto v = take_locked();
    if (!v) return std::nullopt;
    return std::move(*v);
  }

  template <class Rep, class Period>
  std::expected<T, RecvError> recv_for(std::chrono::duration<Rep, Period> timeout) {
    if (!state_) return std::unexpected(RecvError::Closed);
    std::unique_lock lock(state_->mutex);
    state_->ready.wait_for(lock, timeout, [&] { return state_->value.has_value() || !state_->sender_alive; });
    return take_locked();
  }

 private:
  std::expected<T, RecvError> take_locked() {
    if (state_->value) {
      state_->taken = true;
      return std::exchange(state_->value, std::nullopt).value();
    }
    if (state_->taken || !state_->sender_alive) return std::unexpected(RecvError::Closed);
    return std::unexpected(RecvError::Empty);
  }

  void drop() {
    if (!state_) return;
    std::optional<T> left;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      left = std::exchange(state_->value, std::nullopt);
    }
    state_.reset();
  }

  std::shared_ptr<detail::OneshotState<T>> state_;
};

template <class T>
std::pair<OneshotSender<T>, OneshotReceiver<T>> oneshot() {
  auto state = std::make_shared<detail::OneshotState<T>>();
  return {OneshotSender<T>(state), OneshotReceiver<T>(state)};
}

}  // namespace remote::sync
