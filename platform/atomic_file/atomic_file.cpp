#include "platform/atomic_file/atomic_file.hpp"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace atomic_file {
namespace {

std::string os_error(const char* step, const std::filesystem::path& p, int err) {
  return std::string(step) + " " + p.string() + ": " + std::strerror(err);
}

// Closes on scope exit unless released; unlinks the temporary file while armed.
struct TempGuard {
  int fd = -1;
  std::string path;
  bool armed = true;
  ~TempGuard() {
    if (fd >= 0) ::close(fd);
    if (armed && !path.empty()) ::unlink(path.c_str());
  }
};

bool write_all(int fd, std::span<const uint8_t> bytes, int& err) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

int fsync_retry(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

std::string temp_prefix(const std::filesystem::path& path) {
  std::string prefix = ".";
  prefix += path.filename().string();
  prefix += ".tmp-";
  return prefix;
}

}  // namespace

std::expected<Replaced, std::string> write_with_mode(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                                                     mode_t mode) {
  if (path.empty() || !path.has_filename()) {
    return std::unexpected("write " + path.string() + ": " + std::strerror(EINVAL));
  }
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";

  // A random suffix keeps concurrent writers of one path apart.
  char suffix[17];
  uint8_t rnd[8];
  if (sodium_init() < 0) return std::unexpected(std::string("libsodium initialisation failed"));
  randombytes_buf(rnd, sizeof rnd);
  for (size_t i = 0; i < sizeof rnd; ++i) std::snprintf(suffix + 2 * i, 3, "%02x", rnd[i]);

  TempGuard tmp;
  tmp.path = (dir / (temp_prefix(path) + suffix)).string();
  // Created with no permissions for others from the start; fchmod sets the final bits.
  tmp.fd = ::open(tmp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (tmp.fd < 0) {
    int err = errno;
    tmp.path.clear();  // nothing was created
    return std::unexpected(os_error("create temporary file in", dir, err));
  }
  int err = 0;
  if (!write_all(tmp.fd, bytes, err)) return std::unexpected(os_error("write", tmp.path, err));
  if (::fchmod(tmp.fd, mode) != 0) return std::unexpected(os_error("chmod", tmp.path, errno));
  if ((err = fsync_retry(tmp.fd)) != 0) return std::unexpected(os_error("fsync", tmp.path, err));
  int fd = tmp.fd;
  tmp.fd = -1;
  if (::close(fd) != 0 && errno != EINTR) return std::unexpected(os_error("close", tmp.path, errno));
  if (::rename(tmp.path.c_str(), path.c_str()) != 0) {
    return std::unexpected(os_error("rename to", path, errno));
  }
  tmp.armed = false;

  // The rename is durable only once the folder itself is synced. The file is
  // replaced either way, so a failure here is only a warning.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return Replaced{os_error("open folder", dir, errno)};
  err = fsync_retry(dfd);
  ::close(dfd);
  if (err != 0 && err != EINVAL) return Replaced{os_error("fsync folder", dir, err)};
  return Replaced{};
}

size_t remove_stale_temporaries(const std::filesystem::path& path) {
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  const std::string prefix = temp_prefix(path);
  size_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() == prefix.size() + 16 && name.compare(0, prefix.size(), prefix) == 0 &&
        ::unlink(it->path().c_str()) == 0) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace atomic_file
