#include "apps/remote/src/sync/named_thread.hpp"

#include <pthread.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace remote::sync {

namespace {

class Workers {
 public:
  // The thread handle is stored before the thread may end, so a worker's end
  // always finds its own entry.
  std::expected<void, std::string> spawn(std::string name, std::move_only_function<void()> body) {
    std::vector<std::thread> finished;
    std::unique_lock lock(mutex_);
    take_finished(finished);
    auto entry = entries_.emplace(entries_.end());
    ++running_;
    try {
      entry->thread = std::thread(
          [this, entry, name = std::move(name), body = std::move(body)]() mutable { run(entry, name, body); });
    } catch (const std::exception& e) {
      entries_.erase(entry);
      --running_;
      lock.unlock();
      join_all(finished);
      return std::unexpected(std::string(e.what()));
    }
    lock.unlock();
    join_all(finished);
    return {};
  }

  bool wait(std::chrono::milliseconds timeout) {
    std::vector<std::thread> finished;
    bool all = false;
    {
      std::unique_lock lock(mutex_);
      all = ended_.wait_for(lock, timeout, [&] { return running_ == 0; });
      take_finished(finished);
    }
    join_all(finished);
    return all;
  }

  std::size_t running() {
    std::lock_guard lock(mutex_);
    return running_;
  }

 private:
  struct Entry {
    std::thread thread;
    bool done = false;
  };

  void run(std::list<Entry>::iterator entry, const std::string& name, std::move_only_function<void()>& body) {
    // A naming failure is not a start failure.
    (void)pthread_setname_np(pthread_self(), system_thread_name(name).c_str());
    try {
      body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "thread %s ended by an exception: %s\n", name.c_str(), e.what());
    } catch (...) {
      std::fprintf(stderr, "thread %s ended by an exception\n", name.c_str());
    }
    // What the body captured goes while the worker still counts as running.
    body = nullptr;
    std::lock_guard lock(mutex_);
    entry->done = true;
    --running_;
    ended_.notify_all();
  }

  void take_finished(std::vector<std::thread>& out) {
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->done) {
        out.push_back(std::move(it->thread));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }

  static void join_all(std::vector<std::thread>& threads) {
    for (std::thread& t : threads) {
      if (t.joinable()) t.join();
    }
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  std::list<Entry> entries_;
  std::size_t running_ = 0;
};

// Never destroyed: workers may still use it while static objects go away.
Workers& workers() {
  static Workers* const all = [] {
    auto* w = new Workers;
    std::atexit([] {
      if (!workers().wait(kExitWaitForWorkers)) {
        std::fprintf(stderr, "%zu worker thread(s) still running at exit\n", workers().running());
      }
    });
    return w;
  }();
  return *all;
}

}  // namespace

std::string system_thread_name(const std::string& name) {
  std::string cut = name.substr(0, kThreadNameMax);
  // Never leave half a UTF-8 sequence at the end.
  while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) cut.pop_back();
  if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80)) cut.pop_back();
  return cut;
}

std::expected<void, std::string> spawn_named(std::string name, std::move_only_function<void()> body) {
  return workers().spawn(std::move(name), std::move(body));
}

bool wait_for_workers(std::chrono::milliseconds timeout) { return workers().wait(timeout); }

std::size_t running_workers() { return workers().running(); }

}  // namespace remote::sync
