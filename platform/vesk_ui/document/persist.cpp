#include "platform/vesk_ui/document/persist.hpp"

#include <fcntl.h>
#include <spdlog/spdlog.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "platform/atomic_file/atomic_file.hpp"

namespace vesk_ui::persist {
namespace {

// A document file larger than this is not read into memory.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kDirMode = 0700;

Error os_error(std::string_view what, const std::filesystem::path& p, int err) {
  return Error{std::string(what) + " " + p.string() + ": " + std::strerror(err)};
}

// Usable as a base directory: set, absolute and valid UTF-8.
std::optional<std::filesystem::path> env_dir(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v != '/' || !doc::valid_utf8(v)) return std::nullopt;
  return std::filesystem::path(v);
}

class FileLock {
 public:
  // A save must hold the lock. A read may go on without it when the folder
  // lets nobody create or open the lock file (a read-only folder: nobody can
  // write the document there either).
  enum class Need : uint8_t { ForWriting, ForReading };

  static Result<FileLock> acquire(const std::filesystem::path& path, Need need) {
    // Non-blocking open: something other than a regular file at the path
    // must not stop us here.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kFileMode);
    if (fd < 0 && need == Need::ForReading) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
      if (need == Need::ForReading) return FileLock(-1);
      return std::unexpected(os_error("open lock file", path, errno));
    }
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int e = errno;
        ::close(fd);
        if (need == Need::ForReading) return FileLock(-1);
        return std::unexpected(os_error("lock", path, e));
      }
    }
    return FileLock(fd);
  }
  FileLock(FileLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  FileLock& operator=(FileLock&&) = delete;
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the flock
  }
  bool held() const { return fd_ >= 0; }

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_;
};

// What was found at the document's path.
struct FileRead {
  enum class State : uint8_t {
    Absent,
    Read,        // bytes hold the whole file
    Damaged,     // not a usable document file: set it aside
    Unreadable,  // a regular file we may not or cannot read: leave it alone
  };
  State state = State::Absent;
  std::vector<uint8_t> bytes;
  struct stat st {};
  std::string problem;
};

std::string kind_of_non_regular(mode_t mode) {
  if (S_ISFIFO(mode)) return "it is a named pipe, not a file";
  if (S_ISSOCK(mode)) return "it is a socket, not a file";
  if (S_ISDIR(mode)) return "it is a folder, not a file";
  if (S_ISLNK(mode)) return "it is a symbolic link, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
  return "it is not a regular file";
}

// Reads the whole file without ever waiting on it: it is looked at before it
// is opened, opened non-blocking and looked at again through the descriptor,
// so a pipe, socket or device put there (even between the two looks) is
// reported, not read.
FileRead read_file(const std::filesystem::path& path) {
  FileRead r;
  if (::lstat(path.c_str(), &r.st) != 0) {
    if (errno == ENOENT) return r;
    r.state = FileRead::State::Unreadable;
    r.problem = std::strerror(errno);
    return r;
  }
  if (!S_ISREG(r.st.st_mode)) {
    r.state = FileRead::State::Damaged;
    r.problem = kind_of_non_regular(r.st.st_mode);
    return r;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT) return r;
    if (e == ELOOP) {
      r.state = FileRead::State::Damaged;
      r.problem = kind_of_non_regular(S_IFLNK);
    } else {
      r.state = FileRead::State::Unreadable;
      r.problem = std::strerror(e);
    }
    return r;
  }
  r.state = FileRead::State::Read;
  if (::fstat(fd, &r.st) != 0) {
    r.state = FileRead::State::Unreadable;
    r.problem = std::strerror(errno);
  } else if (!S_ISREG(r.st.st_mode)) {
    r.state = FileRead::State::Damaged;
    r.problem = kind_of_non_regular(r.st.st_mode);
  } else if (static_cast<uint64_t>(r.st.st_size) > kMaxFileBytes) {
    r.state = FileRead::State::Damaged;
    r.problem = "the file is too large";
  } else {
    r.bytes.resize(static_cast<size_t>(r.st.st_size));
    size_t done = 0;
    while (true) {
      if (done == r.bytes.size()) r.bytes.resize(done + 4096);  // grew while we read
      ssize_t n = ::read(fd, r.bytes.data() + done, r.bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        r.state = FileRead::State::Unreadable;
        r.problem = std::strerror(errno);
        break;
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
      if (done > kMaxFileBytes) {
        r.state = FileRead::State::Damaged;
        r.problem = "the file is too large";
        break;
      }
    }
    r.bytes.resize(done);
  }
  ::close(fd);
  return r;
}

template <class Stamp>
Stamp stamp_of(const struct stat& st) {
  Stamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = static_cast<uint64_t>(st.st_size);
  s.mtime_ns = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  s.ctime_ns = int64_t{st.st_ctim.tv_sec} * 1'000'000'000 + st.st_ctim.tv_nsec;
  return s;
}

// Moves an unusable file out of the way under a new name, never replacing
// another file.
Result<std::filesystem::path> set_aside(const std::filesystem::path& file) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
  for (int n = 0; n < 1000; ++n) {
    std::string name = file.filename().string() + ".unreadable-" + stamp;
    if (n > 0) {
      name += '-';
      name += std::to_string(n);
    }
    std::filesystem::path target = file.parent_path() / name;
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return target;
    }
    if (errno != EEXIST) return std::unexpected(Error{std::strerror(errno)});
  }
  return std::unexpected(Error{"no free name"});
}

// Creates the folder (and missing parents) with owner-only access. A folder
// that exists keeps the mode its owner gave it.
Result<void> ensure_private_dir(const std::filesystem::path& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return std::unexpected(Error{dir.string() + " is not a folder"});
    return {};
  }
  if (errno != ENOENT) return std::unexpected(os_error("stat", dir, errno));
  std::filesystem::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) {
    if (auto ok = ensure_private_dir(parent); !ok) return ok;
  }
  if (::mkdir(dir.c_str(), kDirMode) != 0) {
    if (errno == EEXIST) return {};  // another process made it first
    return std::unexpected(os_error("create folder", dir, errno));
  }
  // Under a umask that takes bits away the folder may lack some of kDirMode.
  if (::chmod(dir.c_str(), kDirMode) != 0) return std::unexpected(os_error("chmod", dir, errno));
  return {};
}

}  // namespace

Result<std::filesystem::path> data_directory(std::string_view app_folder) {
  if (app_folder.empty() || app_folder == "." || app_folder == ".." || app_folder.find('/') != std::string_view::npos ||
      app_folder.find('\0') != std::string_view::npos || !doc::valid_utf8(app_folder)) {
    return std::unexpected(Error{"invalid application folder name \"" + std::string(app_folder) + "\""});
  }
  std::filesystem::path base;
  if (auto xdg = env_dir("XDG_DATA_HOME")) {
    base = *xdg;
  } else if (auto home = env_dir("HOME")) {
    base = *home / ".local" / "share";
  } else {
    return std::unexpected(Error{"no data directory: neither XDG_DATA_HOME nor HOME is usable"});
  }
  return base / "vesk" / std::string(app_folder);
}

PersistedDocument::PersistedDocument(PersistedDocument&&) noexcept = default;
PersistedDocument& PersistedDocument::operator=(PersistedDocument&&) noexcept = default;
PersistedDocument::~PersistedDocument() = default;

bool PersistedDocument::dirty() const { return doc_.get_heads() != saved_heads_; }

std::vector<std::string> PersistedDocument::unsaved_change_messages() const {
  const std::vector<doc::ChangeInfo> all = doc_.changes();
  std::map<doc::ChangeHash, const doc::ChangeInfo*> by_hash;
  for (const doc::ChangeInfo& c : all) by_hash[c.hash] = &c;
  // Everything the saved heads reach is in the file.
  std::set<doc::ChangeHash> saved;
  std::vector<doc::ChangeHash> todo(saved_heads_.begin(), saved_heads_.end());
  while (!todo.empty()) {
    doc::ChangeHash h = todo.back();
    todo.pop_back();
    if (!saved.insert(h).second) continue;
    if (auto it = by_hash.find(h); it != by_hash.end())
      todo.insert(todo.end(), it->second->deps.begin(), it->second->deps.end());
  }
  std::vector<std::string> out;
  for (const doc::ChangeInfo& c : all) {
    if (!saved.contains(c.hash)) out.push_back(c.message);
  }
  return out;
}

Result<bool> PersistedDocument::merge_from_disk_locked() {
  struct stat st {};
  if (::lstat(file_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !unreadable_ && seen_ &&
      *seen_ == stamp_of<FileStamp>(st)) {
    return false;
  }
  FileRead r = read_file(file_);
  std::string problem = r.problem;
  switch (r.state) {
    case FileRead::State::Absent: unreadable_.reset(); return false;
    case FileRead::State::Unreadable:
      if (!unreadable_) spdlog::warn("document {} cannot be read ({}); it is left as it is", file_.string(), problem);
      unreadable_ = problem;
      return std::unexpected(Error{problem});
    case FileRead::State::Read: {
      auto loaded = doc::Document::load_owned(std::move(r.bytes));
      if (!loaded) {
        problem = loaded.error().message;
        break;
      }
      if (doc_.get_heads().empty()) {
        doc_ = std::move(*loaded);  // nothing of ours to keep
      } else if (auto ok = doc_.merge(*loaded); !ok) {
        return std::unexpected(Error{"merge " + file_.string() + ": " + ok.error().message});
      }
      unreadable_.reset();
      seen_ = stamp_of<FileStamp>(r.st);
      return true;
    }
    case FileRead::State::Damaged: break;
  }
  auto moved = set_aside(file_);
  if (!moved) {
    // Kept where it is, so nothing may be written over it.
    std::string why = problem + "; it could not be moved aside: " + moved.error().message;
    if (!unreadable_) spdlog::warn("document {} could not be read ({})", file_.string(), why);
    unreadable_ = why;
    return std::unexpected(Error{why});
  }
  spdlog::warn("document {} could not be read ({}); moved it to {}", file_.string(), problem, moved->string());
  set_aside_ = *moved;
  set_aside_reason_ = problem;
  unreadable_.reset();
  seen_.reset();
  // The file no longer holds what we have: the next save writes it all.
  saved_heads_.clear();
  return false;
}

Result<bool> PersistedDocument::save() {
  if (!dirty()) return false;
  if (auto folder = ensure_private_dir(dir_); !folder) return std::unexpected(folder.error());
  auto lock = FileLock::acquire(lock_, FileLock::Need::ForWriting);
  if (!lock) return std::unexpected(lock.error());
  if (auto merged = merge_from_disk_locked(); !merged) return std::unexpected(merged.error());
  std::vector<uint8_t> bytes = doc_.save();
  auto written = atomic_file::write_with_mode(file_, bytes, kFileMode);
  if (!written) return std::unexpected(Error{written.error()});
  if (written->warning) spdlog::warn("document saved, but {}", *written->warning);
  struct stat st {};
  if (::stat(file_.c_str(), &st) == 0) {
    seen_ = stamp_of<FileStamp>(st);
  } else {
    seen_.reset();
  }
  saved_heads_ = doc_.get_heads();
  return true;
}

Result<bool> PersistedDocument::refresh() {
  bool was_clean = !dirty();
  auto lock = FileLock::acquire(lock_, FileLock::Need::ForReading);
  if (!lock) return std::unexpected(lock.error());
  auto merged = merge_from_disk_locked();
  if (!merged) return merged;
  if (*merged && was_clean) saved_heads_ = doc_.get_heads();
  return merged;
}

Result<PersistedDocument> open_directory(const std::filesystem::path& dir) {
  if (dir.empty()) return std::unexpected(Error{"empty document folder"});
  // A folder we cannot make is the first save's failure, not the open's:
  // the window runs and says why nothing is stored.
  if (auto ok = ensure_private_dir(dir); !ok) spdlog::warn("document folder: {}", ok.error().message);
  PersistedDocument p;
  p.dir_ = dir;
  p.file_ = dir / std::string(kDocumentFile);
  p.lock_ = dir / std::string(kLockFile);
  auto lock = FileLock::acquire(p.lock_, FileLock::Need::ForReading);
  if (!lock) return std::unexpected(lock.error());
  // Under the lock no save is running, so any temporary file is a crash's leftover.
  if (lock->held()) {
    if (size_t n = atomic_file::remove_stale_temporaries(p.file_); n > 0) {
      spdlog::info("removed {} unfinished temporary file(s) in {}", n, dir.string());
    }
  }
  // An unreadable file is kept in unreadable(); the handle opens empty.
  (void)p.merge_from_disk_locked();
  if (p.set_aside_ || p.unreadable_) {
    spdlog::warn("starting with an empty document in {}", dir.string());
  }
  p.saved_heads_ = p.doc_.get_heads();
  return p;
}

Result<PersistedDocument> open(std::string app_folder) {
  auto dir = data_directory(app_folder);
  if (!dir) return std::unexpected(dir.error());
  return open_directory(*dir);
}

}  // namespace vesk_ui::persist
