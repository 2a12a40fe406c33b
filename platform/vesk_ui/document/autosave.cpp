#include "platform/vesk_ui/document/autosave.hpp"

#include <algorithm>
#include <cstdio>

namespace vesk_ui::persist {

AutoSave::AutoSave(PersistedDocument& document, Clock::time_point now, std::function<void(std::string_view)> log)
    : document_(document), log_(std::move(log)) {
  if (!log_) {
    log_ = [](std::string_view line) {
      std::fprintf(stderr, "vesk_ui: %.*s\n", static_cast<int>(line.size()), line.data());
      std::fflush(stderr);
    };
  }
  if (document_.unreadable()) {
    state_ = State::Unreadable;
    reason_ = *document_.unreadable();
    next_ = now + delay_;
    log_(document_.file_path().string() + " cannot be read (" + reason_ + "); nothing is saved until this is fixed");
  }
}

std::optional<AutoSave::Clock::time_point> AutoSave::next_retry() const {
  if (state_ == State::Stored) return std::nullopt;
  return next_;
}

std::optional<AutoSave::Attempt> AutoSave::turn(Clock::time_point now) {
  if (state_ == State::Stored) {
    // A refresh may have found the file unreadable meanwhile.
    if (!document_.dirty() && !document_.unreadable()) return std::nullopt;
    return attempt(now);
  }
  // A change since the last attempt brings the retry forward, but never to
  // less than kFirstRetry after the last attempt.
  if (state_ == State::Failing || document_.dirty()) {
    std::vector<doc::ChangeHash> heads = document_.document().get_heads();
    if (heads != heads_at_attempt_) {
      next_ = std::min(next_, std::max(now, last_attempt_ + kFirstRetry));
      delay_ = kFirstRetry;
      heads_at_attempt_ = std::move(heads);
    }
  }
  if (now < next_) return std::nullopt;
  return attempt(now);
}

AutoSave::Attempt AutoSave::save_now(Clock::time_point now) { return attempt(now); }

AutoSave::Attempt AutoSave::attempt(Clock::time_point now) {
  last_attempt_ = now;
  Attempt out;
  std::optional<std::string> failure;
  // An unreadable file is read again first: once it reads, its content is
  // merged in and our changes are written with it.
  if (document_.unreadable()) (void)document_.refresh();
  if (document_.unreadable()) {
    failure = *document_.unreadable();
  } else if (auto saved = document_.save(); !saved) {
    failure = saved.error().message;
  }
  heads_at_attempt_ = document_.document().get_heads();

  const State was = state_;
  if (!failure) {
    out.recovered = was != State::Stored;
    state_ = State::Stored;
    reason_.clear();
    delay_ = kFirstRetry;
    if (out.recovered) log_("saved " + document_.file_path().string() + " again");
    return out;
  }
  state_ = document_.unreadable() ? State::Unreadable : State::Failing;
  reason_ = document_.unreadable() ? *document_.unreadable() : *failure;
  if (was == State::Stored) {
    if (state_ == State::Unreadable) {
      log_(document_.file_path().string() + " cannot be read (" + reason_ + "); nothing is saved until this is fixed");
    } else {
      log_("could not save " + document_.file_path().string() + ": " + reason_ +
           "; the changes stay in memory and saving is retried");
    }
    delay_ = kFirstRetry;
  }
  next_ = now + delay_;
  delay_ = std::min<std::chrono::milliseconds>(delay_ * 2, kMaxRetry);
  out.state = state_;
  out.reason = reason_;
  return out;
}

}  // namespace vesk_ui::persist
