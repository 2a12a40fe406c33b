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
  static Result<FileLock> acquire(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
    if (fd < 0) return std::unexpected(os_error("open lock file", path, errno));
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int e = errno;
        ::close(fd);
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

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_;
};

struct FileRead {
  bool exists = false;
  std::vector<uint8_t> bytes;
  struct stat st {};
  std::optional<std::string> unreadable;  // why the content cannot be used
};

// Reads the whole file. Open or read failures other than absence make the
// file "unreadable" (to be set aside), not a failure of the caller.
FileRead read_file(const std::filesystem::path& path) {
  FileRead r;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return r;
    r.exists = true;
    r.unreadable = os_error("open", path, errno).message;
    return r;
  }
  r.exists = true;
  if (::fstat(fd, &r.st) != 0) {
    r.unreadable = os_error("stat", path, errno).message;
  } else if (!S_ISREG(r.st.st_mode)) {
    r.unreadable = path.string() + " is not a regular file";
  } else if (static_cast<uint64_t>(r.st.st_size) > kMaxFileBytes) {
    r.unreadable = path.string() + " is too large";
  } else {
    r.bytes.resize(static_cast<size_t>(r.st.st_size));
    size_t done = 0;
    while (true) {
      if (done == r.bytes.size()) r.bytes.resize(done + 4096);  // grew while we read
      ssize_t n = ::read(fd, r.bytes.data() + done, r.bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        r.unreadable = os_error("read", path, errno).message;
        break;
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
      if (done > kMaxFileBytes) {
        r.unreadable = path.string() + " is too large";
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
    if (errno != EEXIST) return std::unexpected(os_error("set aside", file, errno));
  }
  return std::unexpected(Error{"set aside " + file.string() + ": no free name"});
}

Result<void> ensure_private_dir(const std::filesystem::path& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return std::unexpected(Error{dir.string() + " is not a folder"});
    if ((st.st_mode & 07777) != kDirMode && st.st_uid == ::geteuid()) {
      if (::chmod(dir.c_str(), kDirMode) != 0) return std::unexpected(os_error("chmod", dir, errno));
    }
    return {};
  }
  if (errno != ENOENT) return std::unexpected(os_error("stat", dir, errno));
  std::filesystem::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) {
    struct stat pst {};
    if (::stat(parent.c_str(), &pst) != 0) {
      if (errno != ENOENT) return std::unexpected(os_error("stat", parent, errno));
      if (auto ok = ensure_private_dir(parent); !ok) return ok;
    }
  }
  if (::mkdir(dir.c_str(), kDirMode) != 0 && errno != EEXIST) {
    return std::unexpected(os_error("create folder", dir, errno));
  }
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

Result<bool> PersistedDocument::merge_from_disk_locked() {
  struct stat st {};
  if (::stat(file_.c_str(), &st) != 0) {
    if (errno == ENOENT) return false;
    return std::unexpected(os_error("stat", file_, errno));
  }
  if (seen_ && *seen_ == stamp_of<FileStamp>(st)) return false;
  FileRead r = read_file(file_);
  if (!r.exists) return false;
  std::optional<std::string> problem = r.unreadable;
  if (!problem) {
    auto loaded = doc::Document::load_owned(std::move(r.bytes));
    if (loaded) {
      if (doc_.get_heads().empty()) {
        doc_ = std::move(*loaded);  // nothing of ours to keep
      } else if (auto ok = doc_.merge(*loaded); !ok) {
        return std::unexpected(Error{"merge " + file_.string() + ": " + ok.error().message});
      }
      seen_ = stamp_of<FileStamp>(r.st);
      return true;
    }
    problem = loaded.error().message;
  }
  auto moved = set_aside(file_);
  if (!moved) return std::unexpected(moved.error());
  spdlog::warn("document {} could not be read ({}); moved it to {}", file_.string(), *problem, moved->string());
  set_aside_ = *moved;
  seen_.reset();
  return false;
}

Result<bool> PersistedDocument::save() {
  if (!dirty()) return false;
  auto lock = FileLock::acquire(lock_);
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
  auto lock = FileLock::acquire(lock_);
  if (!lock) return std::unexpected(lock.error());
  auto merged = merge_from_disk_locked();
  if (!merged) return merged;
  if (*merged && was_clean) saved_heads_ = doc_.get_heads();
  return merged;
}

Result<PersistedDocument> open_directory(const std::filesystem::path& dir) {
  if (dir.empty()) return std::unexpected(Error{"empty document folder"});
  if (auto ok = ensure_private_dir(dir); !ok) return std::unexpected(ok.error());
  PersistedDocument p;
  p.dir_ = dir;
  p.file_ = dir / std::string(kDocumentFile);
  p.lock_ = dir / std::string(kLockFile);
  auto lock = FileLock::acquire(p.lock_);
  if (!lock) return std::unexpected(lock.error());
  // Under the lock no save is running, so any temporary file is a crash's leftover.
  if (size_t n = atomic_file::remove_stale_temporaries(p.file_); n > 0) {
    spdlog::info("removed {} unfinished temporary file(s) in {}", n, dir.string());
  }
  auto merged = p.merge_from_disk_locked();
  if (!merged) return std::unexpected(merged.error());
  if (p.set_aside_) {
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
