// Keeps a persisted document stored from a window's loop. While saving works,
// every change is written at the next turn. When a save fails (a full disk, a
// read-only folder) or the file cannot be read, the changes stay in memory and
// saving is retried: soon after each change, otherwise with a delay that grows
// to kMaxRetry, never in a tight loop. One log line says when saving starts
// failing and one when it works again. Time is an argument, so tests need not
// wait.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vesk_ui/document/persist.hpp"

namespace vesk_ui::persist {

class AutoSave {
 public:
  using Clock = std::chrono::steady_clock;
  // The first retry after a failure, and the longest wait for one after a change.
  static constexpr std::chrono::milliseconds kFirstRetry{1000};
  // Each failure doubles the wait up to this.
  static constexpr std::chrono::milliseconds kMaxRetry{30000};

  enum class State : std::uint8_t {
    Stored,      // nothing unsaved, or the last attempt stored it
    Failing,     // the last save failed; the changes are in memory only
    Unreadable,  // the file cannot be read, so nothing is written over it
  };

  // What an attempt found.
  struct Attempt {
    State state = State::Stored;
    std::string reason;      // Failing and Unreadable
    bool recovered = false;  // Stored after Failing or Unreadable
  };

  // `log` receives the two lines (default: standard error, "vesk_ui: ..." ).
  explicit AutoSave(PersistedDocument& document, Clock::time_point now, std::function<void(std::string_view)> log = {});

  // One turn of the loop: an attempt when one is due. Unsaved changes are due
  // at once while saving works, and when the retry time came while it fails;
  // an unreadable file is looked at again when its retry time came.
  std::optional<Attempt> turn(Clock::time_point now);
  // An attempt now, whatever the schedule (a client waits for the answer, or
  // the window closes).
  Attempt save_now(Clock::time_point now);

  State state() const { return state_; }
  const std::string& reason() const { return reason_; }
  // When the next retry is due (none while everything is stored).
  std::optional<Clock::time_point> next_retry() const;

 private:
  Attempt attempt(Clock::time_point now);

  PersistedDocument& document_;
  std::function<void(std::string_view)> log_;
  State state_ = State::Stored;
  std::string reason_;
  std::chrono::milliseconds delay_ = kFirstRetry;
  Clock::time_point next_{};
  Clock::time_point last_attempt_{};
  std::vector<doc::ChangeHash> heads_at_attempt_;
};

}  // namespace vesk_ui::persist
