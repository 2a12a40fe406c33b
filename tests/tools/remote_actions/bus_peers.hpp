#pragma once
// The running application as a client sees it: an Xvfb server and a session
// bus daemon of the test's own, the real application binary on them with a
// fresh data and state folder, and remote-actions and gdbus run against it.
// Every child is stopped by pid.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bustest {

class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& o) noexcept;
  Child& operator=(Child&& o) noexcept;
  ~Child() { stop(); }

  // stdout and stderr go to `log` (appended); `keep_fd` stays open in the child.
  static Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& log = "/dev/null", int keep_fd = -1);
  pid_t pid() const { return pid_; }
  bool running();
  std::optional<int> wait_exit(std::chrono::milliseconds limit);
  void signal(int sig);
  // SIGTERM, then SIGKILL when it does not end within 10 s.
  void stop();

 private:
  pid_t pid_ = -1;
};

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a command to its end with the extra environment.
Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
           std::chrono::seconds limit = std::chrono::seconds(60));

// Reads a child's announcement (a display number, a bus address) from a pipe.
std::optional<std::string> read_line(int fd, std::chrono::seconds limit);

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(30));

// Starts the application into `app` and waits up to a minute until
// `answers` (a client call) succeeds; why not, with the log, when it does not.
std::optional<std::string> start_until_answering(Child& app, const std::vector<std::string>& argv,
                                                 const std::vector<std::string>& env, const std::string& log,
                                                 const std::function<bool()>& answers);

// The resource id of the saved connection with this title in a printed tree.
std::optional<std::string> connection_id(const std::string& printed_tree, const std::string& title);

// An Xvfb display and a session bus, for one test.
class Desktop {
 public:
  // `any_user`: the bus lets processes of every user connect (the
  // application must then refuse them itself).
  explicit Desktop(std::filesystem::path dir, bool any_user = false);
  ~Desktop();
  bool ok() const { return !display_.empty() && !bus_.empty(); }
  const std::string& display() const { return display_; }
  const std::string& bus_address() const { return bus_; }
  // DISPLAY and DBUS_SESSION_BUS_ADDRESS.
  std::vector<std::string> env() const;

 private:
  std::filesystem::path dir_;
  Child xvfb_;
  Child dbus_;
  std::string display_;
  std::string bus_;
};

std::string slurp(const std::filesystem::path& path);

}  // namespace bustest
