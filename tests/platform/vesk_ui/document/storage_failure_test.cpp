// The persisted document when the disk or the file lets it down: a full
// disk, a read-only folder, a file the user may not read, damaged files and
// things that are not files at all. Each case: what the handle reports, what
// is on disk afterwards, and that nothing in memory or on disk was lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/vesk_ui/document/autosave.hpp"
#include "platform/vesk_ui/document/persist.hpp"
#include "platform/vesk_ui/document/watch.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vesk_ui;
using namespace std::chrono_literals;
using doc::ObjId;
using doc::Scalar;
using AutoSave = persist::AutoSave;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "docl-storage-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// A small tmpfs of its own; none when mounting is not permitted here.
struct SmallDisk {
  TempDir mount_point;
  bool mounted = false;
  explicit SmallDisk(const char* options) {
    mounted = ::mount("tmpfs", mount_point.path.c_str(), "tmpfs", 0, options) == 0;
  }
  bool remount_read_only() {
    return ::mount("tmpfs", mount_point.path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount2(mount_point.path.c_str(), MNT_DETACH);
  }
  const fs::path& path() const { return mount_point.path; }
};

std::vector<uint8_t> read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const fs::path& p, const std::vector<uint8_t>& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Fills the file system holding `dir` until a write fails.
void fill_up(const fs::path& dir) {
  std::ofstream out(dir / "filler", std::ios::binary);
  const std::string block(4096, 'f');
  while (out.write(block.data(), block.size())) out.flush();
}

// A saved document with one key per name.
std::vector<uint8_t> saved_with(std::initializer_list<const char*> keys) {
  doc::Document d;
  for (const char* k : keys) EXPECT_TRUE(d.put(ObjId::root(), k, Scalar::int_(1)));
  return d.save();
}

std::vector<std::string> keys_of(const persist::PersistedDocument& p) { return p.document().keys(ObjId::root()); }

// Makes `f` run in a child process as the unprivileged user 65534; its exit
// status (0: every check held) or -1 when it died.
int as_nobody(const std::function<int()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    ::_exit(f());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Something that is not a regular file, made at the path.
using Maker = std::function<bool(const fs::path&)>;
bool make_fifo(const fs::path& p) { return ::mkfifo(p.c_str(), 0600) == 0; }
bool make_folder(const fs::path& p) { return ::mkdir(p.c_str(), 0700) == 0; }
bool make_symlink(const fs::path& p) { return ::symlink("/etc/hostname", p.c_str()) == 0; }
bool make_socket(const fs::path& p) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (p.string().size() >= sizeof a.sun_path) return false;
  std::strcpy(a.sun_path, p.c_str());
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

TEST(StorageAtOpen, DamagedFilesAndNonFilesAreSetAsideAndReported) {
  const std::vector<uint8_t> valid = saved_with({"k"});
  struct Case {
    const char* what;
    std::optional<std::vector<uint8_t>> bytes;  // a regular file with these bytes
    Maker make;                                 // or this instead
    const char* reason_part;
  };
  std::vector<uint8_t> flipped = valid;
  flipped[flipped.size() / 2] ^= 0x10;
  const Case cases[] = {
      {"truncated", std::vector<uint8_t>(valid.begin(), valid.begin() + valid.size() / 2), {}, ""},
      {"flipped", flipped, {}, ""},
      {"empty", std::vector<uint8_t>{}, {}, ""},
      {"another format", std::vector<uint8_t>{'{', '}', '\n'}, {}, "not a saved document"},
      {"named pipe", std::nullopt, make_fifo, "named pipe"},
      {"socket", std::nullopt, make_socket, "socket"},
      {"folder", std::nullopt, make_folder, "folder"},
      {"symbolic link", std::nullopt, make_symlink, "symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const fs::path file = tmp.path / persist::kDocumentFile;
    if (c.bytes) {
      write_bytes(file, *c.bytes);
    } else {
      ASSERT_TRUE(c.make(file));
    }
    // Never blocks (a pipe without a writer would hang a blocking open).
    auto p = persist::open_directory(tmp.path);
    ASSERT_TRUE(p) << p.error().message;
    ASSERT_TRUE(p->set_aside_path());
    EXPECT_FALSE(p->unreadable());
    EXPECT_FALSE(p->set_aside_reason().empty());
    EXPECT_NE(p->set_aside_reason().find(c.reason_part), std::string::npos) << p->set_aside_reason();
    EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
    if (c.bytes) {
      EXPECT_EQ(read_bytes(*p->set_aside_path()), *c.bytes);
    }
    // The new document is stored beside what was kept.
    ASSERT_TRUE(p->document().put(ObjId::root(), "new", Scalar::int_(2)));
    ASSERT_TRUE(p->save());
    EXPECT_TRUE(fs::exists(fs::symlink_status(*p->set_aside_path())));
  }
}

TEST(StorageAtOpen, AFileThatCannotBeReadIsLeftAloneAndNeverWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "reading as another user needs root";
  const std::vector<uint8_t> valid = saved_with({"mine"});
  TempDir tmp;
  ASSERT_EQ(::chown(tmp.path.c_str(), 65534, 65534), 0);
  const fs::path file = tmp.path / persist::kDocumentFile;
  write_bytes(file, valid);
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  // Each check is one exit code, so a failure says which one broke.
  const int status = as_nobody([&] {
    auto p = persist::open_directory(tmp.path);
    if (!p) return 1;
    if (!p->unreadable() || p->unreadable()->find("Permission denied") == std::string::npos) return 2;
    if (p->set_aside_path() || !keys_of(*p).empty()) return 3;
    // Changes stay in memory; saving refuses to write over the file.
    if (!p->document().put(ObjId::root(), "typed", Scalar::int_(1))) return 4;
    AutoSave autosave(*p, AutoSave::Clock::now(), [](std::string_view) {});
    if (autosave.state() != AutoSave::State::Unreadable) return 5;
    if (autosave.save_now(AutoSave::Clock::now()).state != AutoSave::State::Unreadable) return 6;
    if (p->refresh().has_value()) return 7;  // refresh reports it too
    // Fixed by its owner: the next attempt reads the file, merges, stores both.
    if (::chmod(file.c_str(), 0600) != 0) return 8;
    const AutoSave::Attempt fixed = autosave.save_now(AutoSave::Clock::now());
    if (fixed.state != AutoSave::State::Stored || !fixed.recovered) return 9;
    if (keys_of(*p) != std::vector<std::string>{"mine", "typed"}) return 10;
    return 0;
  });
  ASSERT_EQ(status, 0);
  // Until it was fixed the file was never moved or rewritten; now it holds both.
  auto after = persist::open_directory(tmp.path);
  ASSERT_TRUE(after);
  EXPECT_EQ(keys_of(*after), (std::vector<std::string>{"mine", "typed"}));
  for (const auto& e : fs::directory_iterator(tmp.path)) {
    EXPECT_EQ(e.path().filename().string().find("unreadable"), std::string::npos) << e.path();
  }
}

TEST(StorageAtOpen, ANonFileThatCannotBeMovedIsUnreadable) {
  if (::geteuid() != 0) GTEST_SKIP() << "a read-only mount needs root";
  SmallDisk disk("size=64k");
  if (!disk.mounted) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  const fs::path file = disk.path() / persist::kDocumentFile;
  ASSERT_TRUE(make_fifo(file));
  ASSERT_TRUE(disk.remount_read_only());
  auto p = persist::open_directory(disk.path());
  ASSERT_TRUE(p) << p.error().message;
  ASSERT_TRUE(p->unreadable());
  EXPECT_NE(p->unreadable()->find("named pipe"), std::string::npos) << *p->unreadable();
  EXPECT_NE(p->unreadable()->find("could not be moved aside"), std::string::npos) << *p->unreadable();
  EXPECT_TRUE(fs::is_fifo(file));
}

TEST(StorageWhileRunning, AFullDiskOrReadOnlyFolderKeepsChangesInMemoryAndTheFileIntact) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  struct Case {
    const char* what;
    std::function<bool(SmallDisk&)> break_it;
    std::function<bool(SmallDisk&)> fix_it;
    const char* reason_part;
  };
  const Case cases[] = {
      {"full disk",
       [](SmallDisk& d) {
         fill_up(d.path());
         return true;
       },
       [](SmallDisk& d) { return fs::remove(d.path() / "filler"); }, "No space left on device"},
      {"read-only folder", [](SmallDisk& d) { return d.remount_read_only(); },
       [](SmallDisk& d) { return ::mount("tmpfs", d.path().c_str(), "tmpfs", MS_REMOUNT, nullptr) == 0; },
       "Read-only file system"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallDisk disk("size=64k");
    if (!disk.mounted) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    auto p = persist::open_directory(disk.path());
    ASSERT_TRUE(p);
    ASSERT_TRUE(p->document().put(ObjId::root(), "stored", Scalar::str(std::string(8000, 's'))));
    ASSERT_TRUE(p->save());
    const std::vector<uint8_t> on_disk = read_bytes(p->file_path());
    ASSERT_TRUE(c.break_it(disk));

    std::vector<std::string> log;
    const auto t0 = AutoSave::Clock::now();
    AutoSave autosave(*p, t0, [&](std::string_view l) { log.emplace_back(l); });
    ASSERT_TRUE(p->document().put(ObjId::root(), "typed", Scalar::str(std::string(20000, 't'))));
    const auto failed = autosave.turn(t0);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->state, AutoSave::State::Failing);
    EXPECT_NE(failed->reason.find(c.reason_part), std::string::npos) << failed->reason;
    EXPECT_EQ(read_bytes(p->file_path()), on_disk);
    EXPECT_EQ(p->unsaved_change_messages().size(), 1u);
    // Nothing half-written is left behind.
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(disk.path())) {
      const std::string name = e.path().filename().string();
      EXPECT_TRUE(name == persist::kDocumentFile || name == persist::kLockFile || name == "filler") << name;
      ++entries;
    }
    EXPECT_LE(entries, 3u);

    ASSERT_TRUE(c.fix_it(disk));
    const auto recovered = autosave.turn(t0 + AutoSave::kMaxRetry);
    ASSERT_TRUE(recovered);
    EXPECT_EQ(recovered->state, AutoSave::State::Stored);
    EXPECT_TRUE(recovered->recovered);
    EXPECT_TRUE(p->unsaved_change_messages().empty());
    auto again = persist::open_directory(disk.path());
    ASSERT_TRUE(again);
    EXPECT_EQ(keys_of(*again), (std::vector<std::string>{"stored", "typed"}));
    // One line when it started failing, one when it recovered.
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find(c.reason_part), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("again"), std::string::npos) << log[1];
  }
}

TEST(StorageWhileRunning, ANonFileSwappedInIsSetAsideWithoutBlocking) {
  const Maker makers[] = {make_fifo, make_folder, make_socket};
  for (const Maker& make : makers) {
    TempDir tmp;
    auto p = persist::open_directory(tmp.path);
    ASSERT_TRUE(p);
    persist::DocumentWatch watch(tmp.path);
    ASSERT_TRUE(p->document().put(ObjId::root(), "mine", Scalar::int_(1)));
    ASSERT_TRUE(p->save());
    ASSERT_TRUE(fs::remove(p->file_path()));
    ASSERT_TRUE(make(p->file_path()));
    // With inotify the event says so; without it, the file is due by time.
    EXPECT_FALSE(watch.poll(*p, persist::DocumentWatch::Clock::now() + persist::DocumentWatch::kPollInterval));
    ASSERT_TRUE(p->set_aside_path());
    EXPECT_FALSE(fs::exists(fs::symlink_status(p->file_path())));
    EXPECT_EQ(keys_of(*p), std::vector<std::string>{"mine"});
    // What we had is to be stored again, without another change.
    EXPECT_TRUE(p->dirty());
    ASSERT_TRUE(p->save());
    auto again = persist::open_directory(tmp.path);
    ASSERT_TRUE(again);
    EXPECT_EQ(keys_of(*again), std::vector<std::string>{"mine"});
  }
}

// The schedule of retries, with time as an input: a folder replaced by a file
// makes every save fail, for root too.
TEST(AutoSaveSchedule, RetriesBackOffToThirtySecondsAndComeSoonAfterAChange) {
  TempDir tmp;
  const fs::path dir = tmp.path / "app";
  auto p = persist::open_directory(dir);
  ASSERT_TRUE(p);
  std::vector<std::string> log;
  const auto t0 = AutoSave::Clock::now();
  AutoSave autosave(*p, t0, [&](std::string_view l) { log.emplace_back(l); });
  EXPECT_FALSE(autosave.turn(t0));  // nothing to save
  ASSERT_TRUE(fs::remove_all(dir));
  write_bytes(dir, {'x'});
  ASSERT_TRUE(p->document().put(ObjId::root(), "k", Scalar::int_(1)));

  // Each failure waits twice as long, up to kMaxRetry; nothing in between.
  auto t = t0;
  std::vector<long> waits;
  for (int i = 0; i < 9; ++i) {
    const auto a = autosave.turn(t);
    ASSERT_TRUE(a) << i;
    EXPECT_EQ(a->state, AutoSave::State::Failing);
    EXPECT_NE(a->reason.find("is not a folder"), std::string::npos) << a->reason;
    const auto next = *autosave.next_retry();
    EXPECT_FALSE(autosave.turn(next - 1ms)) << i;
    waits.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(next - t).count());
    t = next;
  }
  EXPECT_EQ(waits, (std::vector<long>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000}));

  // A change brings the retry to a second after the last attempt, and the
  // wait starts over; a flood of changes still gives one attempt a second.
  const auto last = t - 30s;  // the last attempt
  ASSERT_TRUE(p->document().put(ObjId::root(), "k2", Scalar::int_(2)));
  EXPECT_FALSE(autosave.turn(last + 500ms));
  ASSERT_TRUE(p->document().put(ObjId::root(), "k3", Scalar::int_(3)));
  EXPECT_FALSE(autosave.turn(last + 900ms));
  ASSERT_TRUE(autosave.turn(last + 1000ms));
  EXPECT_EQ(*autosave.next_retry(), last + 2000ms);

  // Fixed: the next due attempt stores everything, once said in the log.
  ASSERT_TRUE(fs::remove(dir));
  const auto ok = autosave.turn(last + 2000ms);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(ok->recovered);
  EXPECT_FALSE(autosave.next_retry());
  EXPECT_FALSE(p->dirty());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("could not save"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find("again"), std::string::npos) << log[1];
}

}  // namespace
