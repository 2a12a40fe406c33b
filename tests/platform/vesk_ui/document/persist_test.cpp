#include "platform/vesk_ui/document/persist.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace vesk_ui;
using doc::ObjId;
using doc::Scalar;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "docl-persist-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// Restores an environment variable when the test ends.
struct EnvGuard {
  std::string name;
  std::optional<std::string> old;
  explicit EnvGuard(std::string n) : name(std::move(n)) {
    if (const char* v = std::getenv(name.c_str())) old = v;
  }
  void set(const char* v) {
    if (v) {
      ::setenv(name.c_str(), v, 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  ~EnvGuard() { set(old ? old->c_str() : nullptr); }
};

mode_t mode_of(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

std::vector<uint8_t> read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& p, const std::vector<uint8_t>& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<std::string> dir_names(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PersistLocation, DataDirectoryFromEnvironment) {
  EnvGuard xdg("XDG_DATA_HOME"), home("HOME");
  struct Case {
    const char* xdg;
    const char* home;
    const char* folder;
    const char* want;  // nullptr: an error
  };
  const Case cases[] = {
      {"/x/data", "/h", "remote", "/x/data/vesk/remote"},
      {nullptr, "/h", "remote", "/h/.local/share/vesk/remote"},
      {"", "/h", "remote", "/h/.local/share/vesk/remote"},
      {"relative/dir", "/h", "remote", "/h/.local/share/vesk/remote"},
      {"/bad\xff", "/h", "remote", "/h/.local/share/vesk/remote"},
      {"/bad\xff", "/h\xfe", "remote", nullptr},
      {nullptr, nullptr, "remote", nullptr},
      {"/x", "/h", "a/b", nullptr},
      {"/x", "/h", "..", nullptr},
      {"/x", "/h", "", nullptr},
  };
  for (const Case& c : cases) {
    xdg.set(c.xdg);
    home.set(c.home);
    auto dir = persist::data_directory(c.folder);
    if (c.want) {
      ASSERT_TRUE(dir) << dir.error().message;
      EXPECT_EQ(dir->string(), c.want);
    } else {
      EXPECT_FALSE(dir) << dir->string();
    }
  }
}

TEST(PersistOpen, CreatesPrivateFolderAndFile) {
  TempDir tmp;
  EnvGuard xdg("XDG_DATA_HOME");
  xdg.set(tmp.path.c_str());
  auto p = persist::open("remote");
  ASSERT_TRUE(p) << p.error().message;
  EXPECT_EQ(p->directory(), tmp.path / "vesk" / "remote");
  EXPECT_EQ(mode_of(tmp.path / "vesk"), 0700u);
  EXPECT_EQ(mode_of(p->directory()), 0700u);
  EXPECT_FALSE(p->dirty());
  EXPECT_EQ(*p->save(), false);

  ASSERT_TRUE(p->document().put(ObjId::root(), "k", Scalar::str("v")));
  EXPECT_TRUE(p->dirty());
  auto saved = p->save();
  ASSERT_TRUE(saved) << saved.error().message;
  EXPECT_TRUE(*saved);
  EXPECT_EQ(mode_of(p->file_path()), 0600u);
  EXPECT_FALSE(p->dirty());
  EXPECT_EQ(*p->save(), false);

  // An existing folder keeps the mode its owner gave it, through saves too.
  TempDir other;
  fs::path open_dir = other.path / "app";
  fs::create_directory(open_dir);
  ::chmod(open_dir.c_str(), 0755);
  auto shared = persist::open_directory(open_dir);
  ASSERT_TRUE(shared);
  ASSERT_TRUE(shared->document().put(ObjId::root(), "k", Scalar::int_(1)));
  ASSERT_TRUE(shared->save());
  EXPECT_EQ(mode_of(open_dir), 0755u);
}

TEST(PersistOpen, ReopenSeesSavedStateAndSavesOnlyChanges) {
  TempDir tmp;
  {
    auto p = persist::open_directory(tmp.path);
    ASSERT_TRUE(p);
    auto& d = p->document();
    auto conns = *d.put_object(ObjId::root(), "connections", doc::ObjType::Map);
    auto name = *d.put_object(conns, "name", doc::ObjType::Text);
    ASSERT_TRUE(d.splice_text(name, 0, 0, "Büro"));
    ASSERT_TRUE(p->save());
  }
  auto before = fs::last_write_time(tmp.path / persist::kDocumentFile);
  auto p = persist::open_directory(tmp.path);
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->set_aside_path());
  auto conns = (*p->document().get(ObjId::root(), "connections"))->object_id();
  ASSERT_TRUE(conns);
  auto name = (*p->document().get(*conns, "name"))->object_id();
  EXPECT_EQ(*p->document().text(*name), "Büro");
  EXPECT_EQ(*p->save(), false);
  EXPECT_EQ(fs::last_write_time(tmp.path / persist::kDocumentFile), before);
}

TEST(PersistOpen, UnreadableFileIsSetAsideNotOverwritten) {
  std::vector<uint8_t> valid;
  {
    doc::Document d;
    ASSERT_TRUE(d.put(ObjId::root(), "k", Scalar::int_(1)));
    valid = d.save();
  }
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"garbage", {'n', 'o', 't', ' ', 'a', ' ', 'd', 'o', 'c'}},
      {"torn", std::vector<uint8_t>(valid.begin(), valid.begin() + valid.size() / 2)},
      {"empty", {}},
      {"one bit",
       [&] {
         auto b = valid;
         b[b.size() / 2] ^= 1;
         return b;
       }()},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    fs::path file = tmp.path / persist::kDocumentFile;
    write_bytes(file, c.bytes);
    auto p = persist::open_directory(tmp.path);
    ASSERT_TRUE(p) << c.what << ": " << p.error().message;
    ASSERT_TRUE(p->set_aside_path()) << c.what;
    EXPECT_EQ(read_bytes(*p->set_aside_path()), c.bytes) << c.what;
    EXPECT_FALSE(fs::exists(file)) << c.what;
    EXPECT_TRUE(p->document().keys(ObjId::root()).empty());
    ASSERT_TRUE(p->document().put(ObjId::root(), "new", Scalar::int_(2)));
    ASSERT_TRUE(p->save());
    EXPECT_EQ(read_bytes(*p->set_aside_path()), c.bytes) << c.what;

    // A second damaged file in the same second gets its own name.
    write_bytes(file, c.bytes);
    auto q = persist::open_directory(tmp.path);
    ASSERT_TRUE(q);
    ASSERT_TRUE(q->set_aside_path());
    EXPECT_NE(*q->set_aside_path(), *p->set_aside_path());
    EXPECT_EQ(read_bytes(*p->set_aside_path()), c.bytes);
  }
}

TEST(PersistSharing, HandlesMergeWhatTheOtherSaved) {
  TempDir tmp;
  auto a = persist::open_directory(tmp.path);
  auto b = persist::open_directory(tmp.path);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(a->document().put(ObjId::root(), "from-a", Scalar::int_(1)));
  ASSERT_TRUE(*a->save());
  ASSERT_TRUE(b->document().put(ObjId::root(), "from-b", Scalar::int_(2)));
  ASSERT_TRUE(*b->save());  // merges a's change before writing
  EXPECT_EQ(b->document().keys(ObjId::root()), (std::vector<std::string>{"from-a", "from-b"}));
  auto refreshed = a->refresh();
  ASSERT_TRUE(refreshed);
  EXPECT_TRUE(*refreshed);
  EXPECT_FALSE(a->dirty());
  EXPECT_EQ(a->document().keys(ObjId::root()), (std::vector<std::string>{"from-a", "from-b"}));
  EXPECT_EQ(*a->refresh(), false);
  // A stale writer does not drop the newer file's changes.
  ASSERT_TRUE(b->document().put(ObjId::root(), "b-again", Scalar::int_(3)));
  ASSERT_TRUE(*b->save());
  ASSERT_TRUE(a->document().put(ObjId::root(), "a-again", Scalar::int_(4)));
  ASSERT_TRUE(*a->save());
  auto c = persist::open_directory(tmp.path);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->document().keys(ObjId::root()).size(), 4u);
}

TEST(PersistSharing, TwoProcessesKeepEachOthersChanges) {
  TempDir tmp;
  constexpr int kWriters = 3, kRounds = 15;
  std::vector<pid_t> kids;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto p = persist::open_directory(tmp.path);
      if (!p) ::_exit(2);
      for (int i = 0; i < kRounds; ++i) {
        auto key = "w" + std::to_string(w) + "-" + std::to_string(i);
        if (!p->document().put(ObjId::root(), key, Scalar::int_(i))) ::_exit(3);
        if (!p->save()) ::_exit(4);
      }
      ::_exit(0);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  auto p = persist::open_directory(tmp.path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->document().keys(ObjId::root()).size(), size_t{kWriters * kRounds});
}

TEST(PersistCrash, KilledWriterLeavesALoadableState) {
  TempDir tmp;
  std::mt19937 rng(42);
  size_t last_count = 0;
  for (int round = 0; round < 12; ++round) {
    // The writer says when its first save of the round is done, so that a
    // slow start on a busy machine cannot leave every round without one.
    int saved[2];
    ASSERT_EQ(::pipe(saved), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(saved[0]);
      auto p = persist::open_directory(tmp.path);
      if (!p) ::_exit(2);
      auto& d = p->document();
      size_t next = d.keys(ObjId::root()).size();
      std::string filler(2000, 'x');  // make each file large enough to be caught mid-write
      for (;;) {
        if (!d.put(ObjId::root(), std::string("k").append(std::to_string(next)), Scalar::str(filler))) ::_exit(3);
        ++next;
        if (!p->save()) ::_exit(4);
        if (saved[1] >= 0) {
          (void)!::write(saved[1], "s", 1);
          ::close(saved[1]);
          saved[1] = -1;
        }
      }
    }
    ::close(saved[1]);
    pollfd first{saved[0], POLLIN, 0};
    ASSERT_EQ(::poll(&first, 1, 30000), 1) << "the writer saved nothing in 30 s";
    ::close(saved[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 60));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself: " << status;

    auto p = persist::open_directory(tmp.path);
    ASSERT_TRUE(p) << p.error().message;
    ASSERT_FALSE(p->set_aside_path()) << "round " << round;
    // Keys k0..k{n-1}: some prefix of what the writer did, never less than before.
    auto keys = p->document().keys(ObjId::root());
    std::set<std::string> have(keys.begin(), keys.end());
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_TRUE(have.count(std::string("k").append(std::to_string(i))));
    EXPECT_GE(keys.size(), last_count);
    last_count = keys.size();
    // Temporary files of the killed writer are cleared away.
    for (const auto& name : dir_names(tmp.path)) {
      EXPECT_TRUE(name == persist::kDocumentFile || name == persist::kLockFile) << name;
    }
  }
  EXPECT_GT(last_count, 0u);
}

}  // namespace
