// Notices when another process saved the persisted document and merges its
// changes, so two running instances see each other's saves without saving
// themselves first.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/vesk_ui/document/persist.hpp"

namespace vesk_ui::persist {

class DocumentWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // Without inotify the file is looked at this often.
  static constexpr std::chrono::milliseconds kPollInterval{1000};

  // Watches the document's folder with inotify; when that is unavailable,
  // falls back to looking at the file every kPollInterval.
  explicit DocumentWatch(const std::filesystem::path& directory);
  DocumentWatch(DocumentWatch&&) noexcept;
  DocumentWatch& operator=(DocumentWatch&&) noexcept;
  DocumentWatch(const DocumentWatch&) = delete;
  DocumentWatch& operator=(const DocumentWatch&) = delete;
  ~DocumentWatch();

  // Never blocks on the folder: merges the file into the document when it was
  // replaced since the last call (reported by inotify, or due by time). True
  // when the document took in changes; a failed merge is logged (once until
  // the problem changes) and retried at the next change. Something other than
  // a regular file put at the path never blocks: it is set aside (or, when it
  // cannot be moved, reported by PersistedDocument::unreadable()).
  bool poll(PersistedDocument& document, Clock::time_point now = Clock::now());
  // Whether inotify watches the folder.
  bool notified() const { return fd_ >= 0; }

 private:
  bool drain_events();

  int fd_ = -1;
  Clock::time_point next_look_{};
  std::string last_error_;
};

}  // namespace vesk_ui::persist
