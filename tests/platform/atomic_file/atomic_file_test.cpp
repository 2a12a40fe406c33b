#include "platform/atomic_file/atomic_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/without_permission_override.hpp"

namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "docl-atomic-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path = tmpl;
  }
  ~TempDir() {
    ::chmod(path.c_str(), 0700);
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::span<const uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(AtomicFile, WritesExactBytesWithMode) {
  struct Case {
    mode_t mode;
    std::string content;
  };
  const Case cases[] = {
      {0600, "{\n  \"pins\": []\n}"},
      {0640, ""},
      {0400, std::string("\0binary\xff", 8)},
      {0755, std::string(3 * 1024 * 1024 + 17, 'z')},  // several write() calls
  };
  for (const Case& c : cases) {
    TempDir tmp;
    fs::path file = tmp.path / "known-hosts.json";
    auto r = atomic_file::write_with_mode(file, bytes_of(c.content), c.mode);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(read_text(file), c.content);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(tmp.names(), std::vector<std::string>{"known-hosts.json"});
  }
}

TEST(AtomicFile, ReplacesWholeFileReadersKeepOldContent) {
  TempDir tmp;
  fs::path file = tmp.path / "f";
  ASSERT_TRUE(atomic_file::write_with_mode(file, bytes_of("old content"), 0644));
  int reader = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(atomic_file::write_with_mode(file, bytes_of("new"), 0600));
  EXPECT_EQ(read_text(file), "new");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // An open reader still sees the complete old file, never a mix.
  char buf[64] = {};
  ssize_t n = ::read(reader, buf, sizeof buf);
  ::close(reader);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0))), "old content");
  EXPECT_EQ(tmp.names(), std::vector<std::string>{"f"});
}

TEST(AtomicFile, FailuresCarryTheSystemTextAndLeaveNothing) {
  TempDir tmp;
  // Folder that does not exist.
  auto r = atomic_file::write_with_mode(tmp.path / "missing" / "f", bytes_of("x"), 0600);
  ASSERT_FALSE(r);
  EXPECT_NE(r.error().find(std::strerror(ENOENT)), std::string::npos) << r.error();
  EXPECT_NE(r.error().find((tmp.path / "missing").string()), std::string::npos) << r.error();

  // Target is a folder: the rename fails after the temporary file was written.
  fs::create_directory(tmp.path / "dir");
  ASSERT_TRUE(atomic_file::write_with_mode(tmp.path / "dir" / "inner", bytes_of("y"), 0600));
  r = atomic_file::write_with_mode(tmp.path / "dir", bytes_of("x"), 0600);
  ASSERT_FALSE(r);
  EXPECT_TRUE(r.error().find(std::strerror(EISDIR)) != std::string::npos ||
              r.error().find(std::strerror(ENOTEMPTY)) != std::string::npos ||
              r.error().find(std::strerror(EEXIST)) != std::string::npos)
      << r.error();
  EXPECT_EQ(tmp.names(), std::vector<std::string>{"dir"});
  EXPECT_EQ(read_text(tmp.path / "dir" / "inner"), "y");

  // A path naming no file.
  EXPECT_FALSE(atomic_file::write_with_mode("", bytes_of("x"), 0600));

  // A folder we may not write to (not enforced for root).
  if (::geteuid() != 0) {
    fs::path ro = tmp.path / "ro";
    fs::create_directory(ro);
    ASSERT_TRUE(atomic_file::write_with_mode(ro / "f", bytes_of("keep"), 0600));
    ::chmod(ro.c_str(), 0500);
    r = atomic_file::write_with_mode(ro / "f", bytes_of("lost"), 0600);
    ::chmod(ro.c_str(), 0700);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find(std::strerror(EACCES)), std::string::npos) << r.error();
    EXPECT_EQ(read_text(ro / "f"), "keep");
  }
}

TEST(AtomicFile, FolderThatCannotBeSyncedAfterTheRenameIsOnlyAWarning) {
  TempDir tmp;
  fs::path dir = tmp.path / "blind";
  fs::create_directory(dir);
  fs::path file = dir / "f";
  ASSERT_TRUE(atomic_file::write_with_mode(file, bytes_of("old"), 0600));
  // Files can be made and renamed in it, but the folder cannot be opened.
  ::chmod(dir.c_str(), 0300);
  std::expected<atomic_file::Replaced, std::string> r;
  testsupport::run_without_permission_override([&] { r = atomic_file::write_with_mode(file, bytes_of("new"), 0640); });
  ::chmod(dir.c_str(), 0700);
  ASSERT_TRUE(r) << r.error();
  ASSERT_TRUE(r->warning);
  EXPECT_EQ(*r->warning, "open folder " + dir.string() + ": " + std::strerror(EACCES));
  EXPECT_EQ(read_text(file), "new");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left

  // A folder that syncs gives no warning.
  auto clean = atomic_file::write_with_mode(file, bytes_of("again"), 0600);
  ASSERT_TRUE(clean) << clean.error();
  EXPECT_EQ(clean->warning, std::nullopt);
}

TEST(AtomicFile, RemovesStaleTemporariesOnly) {
  TempDir tmp;
  fs::path file = tmp.path / "doc";
  ASSERT_TRUE(atomic_file::write_with_mode(file, bytes_of("x"), 0600));
  std::ofstream(tmp.path / ".doc.tmp-0123456789abcdef") << "half";
  std::ofstream(tmp.path / ".other.tmp-0123456789abcdef") << "not ours";
  std::ofstream(tmp.path / ".doc.tmp-short") << "not ours";
  EXPECT_EQ(atomic_file::remove_stale_temporaries(file), 1u);
  EXPECT_EQ(tmp.names(), (std::vector<std::string>{".doc.tmp-short", ".other.tmp-0123456789abcdef", "doc"}));
}

}  // namespace
