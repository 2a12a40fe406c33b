#include "platform/vesk_ui/document/watch.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace vesk_ui;
using doc::ObjId;
using doc::Scalar;
using Clock = persist::DocumentWatch::Clock;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "docl-watch-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// Another process opens the document, puts the key and saves.
void save_in_another_process(const fs::path& dir, const std::string& key) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto p = persist::open_directory(dir);
    if (!p || !p->document().put(ObjId::root(), key, Scalar::int_(1))) ::_exit(2);
    ::_exit(p->save() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Polls as a window's loop would, for up to a second; true once it took changes in.
bool poll_within_a_second(persist::DocumentWatch& watch, persist::PersistedDocument& p) {
  const auto until = Clock::now() + std::chrono::seconds(1);
  while (Clock::now() < until) {
    if (watch.poll(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(DocumentWatch, AnotherProcessesSaveIsMergedWithinASecond) {
  TempDir tmp;
  auto mine = persist::open_directory(tmp.path);
  ASSERT_TRUE(mine);
  persist::DocumentWatch watch(tmp.path);
  EXPECT_TRUE(watch.notified());
  EXPECT_FALSE(watch.poll(*mine));

  // Our own save is not taken for another's.
  ASSERT_TRUE(mine->document().put(ObjId::root(), "mine", Scalar::int_(0)));
  ASSERT_TRUE(*mine->save());
  EXPECT_FALSE(watch.poll(*mine));

  // The file is there already: a save replaces it.
  save_in_another_process(tmp.path, "theirs");
  ASSERT_TRUE(poll_within_a_second(watch, *mine));
  EXPECT_EQ(mine->document().keys(ObjId::root()), (std::vector<std::string>{"mine", "theirs"}));
  EXPECT_FALSE(mine->dirty());
  EXPECT_FALSE(watch.poll(*mine));

  // Unsaved edits of ours survive the merge and stay to be saved.
  ASSERT_TRUE(mine->document().put(ObjId::root(), "unsaved", Scalar::int_(0)));
  save_in_another_process(tmp.path, "again");
  ASSERT_TRUE(poll_within_a_second(watch, *mine));
  EXPECT_EQ(mine->document().keys(ObjId::root()).size(), 4u);
  EXPECT_TRUE(mine->dirty());
}

TEST(DocumentWatch, FirstSaveIntoAnEmptyFolderIsSeen) {
  TempDir tmp;
  auto mine = persist::open_directory(tmp.path);
  ASSERT_TRUE(mine);
  persist::DocumentWatch watch(tmp.path);
  save_in_another_process(tmp.path, "theirs");
  ASSERT_TRUE(poll_within_a_second(watch, *mine));
  EXPECT_EQ(mine->document().keys(ObjId::root()), std::vector<std::string>{"theirs"});
}

TEST(DocumentWatch, WithoutAFolderToWatchItLooksOnceASecond) {
  TempDir tmp;
  auto mine = persist::open_directory(tmp.path);
  ASSERT_TRUE(mine);
  persist::DocumentWatch watch(tmp.path / "missing");  // inotify refuses the folder
  EXPECT_FALSE(watch.notified());
  const auto t0 = Clock::now();
  EXPECT_FALSE(watch.poll(*mine, t0));
  save_in_another_process(tmp.path, "theirs");
  EXPECT_FALSE(watch.poll(*mine, t0 + std::chrono::milliseconds(500)));  // not due yet
  EXPECT_TRUE(watch.poll(*mine, t0 + persist::DocumentWatch::kPollInterval));
  EXPECT_EQ(mine->document().keys(ObjId::root()), std::vector<std::string>{"theirs"});
}

}  // namespace
