#pragma once
// Bounded multi-producer, single-consumer queue between the UI thread and a
// worker. The UI side only ever uses the non-blocking calls; a worker may block.
// Dropping the receiver closes the queue for every sender; the receiver sees
// Closed once every sender is gone and the queue is empty.

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace remote::sync {

enum class SendError { Full, Closed };
enum class RecvError { Empty, Closed };

namespace detail {

template <class T>
struct QueueState {
  explicit QueueState(std::size_t cap)
      : capacity(cap == 0 ? 1 : cap),
        wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        wake_errno(wake < 0 ? errno : 0) {}
  ~QueueState() {
    if (wake >= 0) ::close(wake);
  }
  QueueState(const QueueState&) = delete;
  QueueState& operator=(const QueueState&) = delete;

  // Makes the eventfd readable; a poll()-based worker waits on it.
  void signal() const {
    if (wake < 0) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
  }

  std::mutex mutex;
  std::condition_variable not_empty;
  std::condition_variable not_full;
  std::deque<T> items;
  const std::size_t capacity;
  std::size_t senders = 0;
  bool receiver_alive = true;
  const int wake;
  const int wake_errno;  // why `wake` is -1
};

}  // namespace detail

template <class T>
class QueueSender {
 public:
  QueueSender() = default;
  explicit QueueSender(std::shared_ptr<detail::QueueState<T>> state) : state_(std::move(state)) {
    if (state_) {
      std::lock_guard lock(state_->mutex);
      ++state_->senders;
    }
  }
  QueueSender(const QueueSender& other) : QueueSender(other.state_) {}
  QueueSender(QueueSender&& other) noexcept : state_(std::move(other.state_)) {}
  QueueSender& operator=(QueueSender other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  ~QueueSender() { reset(); }

  // Never blocks.
  std::expected<void, SendError> try_send(T item) {
    if (!state_) return std::unexpected(SendError::Closed);
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver_alive) return std::unexpected(SendError::Closed);
      if (state_->items.size() >= state_->capacity) return std::unexpected(SendError::Full);
      state_->items.push_back(std::move(item));
    }
    state_->not_empty.notify_one();
    state_->signal();
    return {};
  }

  // Waits for room; false when the receiver is gone. Workers only.
  bool send_blocking(T item) {
    if (!state_) return false;
    {
      std::unique_lock lock(state_->mutex);
      state_->not_full.wait(lock, [&] { return !state_->receiver_alive || state_->items.size() < state_->capacity; });
      if (!state_->receiver_alive) return false;
      state_->items.push_back(std::move(item));
    }
    state_->not_empty.notify_one();
    state_->signal();
    return true;
  }

  // Waits for room at most `timeout`; Full when it ran out.
  template <class Rep, class Period>
  std::expected<void, SendError> send_for(T item, std::chrono::duration<Rep, Period> timeout) {
    if (!state_) return std::unexpected(SendError::Closed);
    {
      std::unique_lock lock(state_->mutex);
      bool ready = state_->not_full.wait_for(
          lock, timeout, [&] { return !state_->receiver_alive || state_->items.size() < state_->capacity; });
      if (!state_->receiver_alive) return std::unexpected(SendError::Closed);
      if (!ready) return std::unexpected(SendError::Full);
      state_->items.push_back(std::move(item));
    }
    state_->not_empty.notify_one();
    state_->signal();
    return {};
  }

  bool is_closed() const {
    if (!state_) return true;
    std::lock_guard lock(state_->mutex);
    return !state_->receiver_alive;
  }

  void reset() {
    if (!state_) return;
    bool last = false;
    {
      std::lock_guard lock(state_->mutex);
      last = --state_->senders == 0;
    }
    if (last) {
      state_->not_empty.notify_all();
      state_->signal();
    }
    state_.reset();
  }

 private:
  std::shared_ptr<detail::QueueState<T>> state_;
};

template <class T>
class QueueReceiver {
 public:
  QueueReceiver() = default;
  explicit QueueReceiver(std::shared_ptr<detail::QueueState<T>> state) : state_(std::move(state)) {}
  QueueReceiver(const QueueReceiver&) = delete;
  QueueReceiver& operator=(const QueueReceiver&) = delete;
  QueueReceiver(QueueReceiver&& other) noexcept : state_(std::move(other.state_)) {}
  QueueReceiver& operator=(QueueReceiver&& other) noexcept {
    if (this != &other) {
      close();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~QueueReceiver() { close(); }

  // Never blocks.
  std::expected<T, RecvError> try_recv() {
    if (!state_) return std::unexpected(RecvError::Closed);
    std::unique_lock lock(state_->mutex);
    return pop_locked(lock);
  }

  // Blocks until an item arrives; nullopt once every sender is gone and nothing is left.
  std::optional<T> recv() {
    if (!state_) return std::nullopt;
    std::unique_lock lock(state_->mutex);
    state_->not_empty.wait(lock, [&] { return !state_->items.empty() || state_->senders == 0; });
    auto item = pop_locked(lock);
    if (!item) return std::nullopt;
    return std::move(*item);
  }

  // Like recv(), but gives up after `timeout` (Empty) or when closed (Closed).
  template <class Rep, class Period>
  std::expected<T, RecvError> recv_for(std::chrono::duration<Rep, Period> timeout) {
    if (!state_) return std::unexpected(RecvError::Closed);
    std::unique_lock lock(state_->mutex);
    state_->not_empty.wait_for(lock, timeout, [&] { return !state_->items.empty() || state_->senders == 0; });
    return pop_locked(lock);
  }

  // An eventfd that becomes readable after each send and when the last sender
  // drops; -1 if the system refused one. Call drain_wake() after waking.
  int wake_fd() const { return state_ ? state_->wake : -1; }
  void drain_wake() const {
    if (!state_ || state_->wake < 0) return;
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(state_->wake, &count, sizeof count);
  }

  std::size_t size() const {
    if (!state_) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->items.size();
  }

  void close() {
    if (!state_) return;
    std::deque<T> left;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      left.swap(state_->items);
    }
    state_->not_full.notify_all();
    state_.reset();
    // `left` is destroyed outside the lock: items may own other queue ends.
  }

 private:
  std::expected<T, RecvError> pop_locked(std::unique_lock<std::mutex>& lock) {
    if (state_->items.empty()) {
      return std::unexpected(state_->senders == 0 ? RecvError::Closed : RecvError::Empty);
    }
    T item = std::move(state_->items.front());
    state_->items.pop_front();
    lock.unlock();
    state_->not_full.notify_one();
    return item;
  }

  std::shared_ptr<detail::QueueState<T>> state_;
};

// A queue holding at most `capacity` items (at least 1).
template <class T>
std::pair<QueueSender<T>, QueueReceiver<T>> bounded_queue(std::size_t capacity) {
  auto state = std::make_shared<detail::QueueState<T>>(capacity);
  return {QueueSender<T>(state), QueueReceiver<T>(state)};
}

// Like bounded_queue, for a receiver that waits on wake_fd(): fails with the
// system's message when the eventfd cannot be made, as such a receiver would
// never wake.
template <class T>
std::expected<std::pair<QueueSender<T>, QueueReceiver<T>>, std::string> bounded_queue_with_wake(std::size_t capacity) {
  auto state = std::make_shared<detail::QueueState<T>>(capacity);
  if (state->wake < 0) return std::unexpected(std::system_category().message(state->wake_errno));
  return std::pair{QueueSender<T>(state), QueueReceiver<T>(state)};
}

}  // namespace remote::sync
