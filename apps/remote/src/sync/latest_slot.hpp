#pragma once
// A value shared between a worker and the UI thread where only the newest
// matters (status, frame, host-key observation). Share it with std::shared_ptr.

#include <mutex>
#include <optional>
#include <utility>

namespace remote::sync {

template <class T>
class LatestSlot {
 public:
  LatestSlot() = default;
  explicit LatestSlot(T initial) : value_(std::move(initial)) {}
  LatestSlot(const LatestSlot&) = delete;
  LatestSlot& operator=(const LatestSlot&) = delete;

  void set(T value) {
    std::optional<T> old;
    {
      std::lock_guard lock(mutex_);
      old = std::exchange(value_, std::move(value));
    }
  }

  // A copy of the current value.
  std::optional<T> get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  // Moves the value out and leaves the slot empty.
  std::optional<T> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(value_, std::nullopt);
  }

  void clear() { take(); }

  // Runs `f` on the stored optional under the lock (for in-place updates).
  template <class F>
  decltype(auto) with(F&& f) {
    std::lock_guard lock(mutex_);
    return std::forward<F>(f)(value_);
  }

 private:
  mutable std::mutex mutex_;
  std::optional<T> value_;
};

}  // namespace remote::sync
