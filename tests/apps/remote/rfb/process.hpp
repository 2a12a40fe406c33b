#pragma once
// Child processes for the real-peer tests: started with posix_spawn, talked
// to through pipes, stopped by pid.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace rfb_test {

class Process {
 public:
  struct Options {
    std::vector<std::string> env;  // extra NAME=value entries
    bool pipe_stdin = false;
    bool pipe_stdout = false;
    int extra_fd_as_3 = -1;  // handed to the child as descriptor 3
    bool quiet = true;       // stderr to /dev/null
  };

  static std::optional<Process> start(const std::vector<std::string>& argv, const Options& opt) {
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
    if (opt.pipe_stdin && ::pipe2(in_pipe, O_CLOEXEC) != 0) return std::nullopt;
    if (opt.pipe_stdout && ::pipe2(out_pipe, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (opt.pipe_stdin)
      posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
    else
      posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (opt.pipe_stdout)
      posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    else
      posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    if (opt.quiet) posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (opt.extra_fd_as_3 >= 0) posix_spawn_file_actions_adddup2(&fa, opt.extra_fd_as_3, 3);

    std::vector<std::string> env_store;
    for (char** e = environ; *e != nullptr; ++e) env_store.emplace_back(*e);
    for (const auto& e : opt.env) env_store.push_back(e);
    std::vector<char*> envp, args;
    for (auto& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_store = argv;
    for (auto& a : argv_store) args.push_back(a.data());
    args.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (opt.pipe_stdin) ::close(in_pipe[0]);
    if (opt.pipe_stdout) ::close(out_pipe[1]);
    if (rc != 0) {
      if (opt.pipe_stdin) ::close(in_pipe[1]);
      if (opt.pipe_stdout) ::close(out_pipe[0]);
      return std::nullopt;
    }
    Process p;
    p.pid_ = pid;
    p.stdin_ = in_pipe[1];
    p.stdout_ = out_pipe[0];
    return p;
  }

  Process() = default;
  Process(Process&& o) noexcept { *this = std::move(o); }
  Process& operator=(Process&& o) noexcept {
    std::swap(pid_, o.pid_);
    std::swap(stdin_, o.stdin_);
    std::swap(stdout_, o.stdout_);
    return *this;
  }
  ~Process() { stop(); }

  pid_t pid() const { return pid_; }

  bool write_line(const std::string& s) {
    const std::string line = s + "\n";
    return stdin_ >= 0 && ::write(stdin_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  }
  void close_stdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }
  // One line of the child's output, without its line feed.
  std::optional<std::string> read_line(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || stdout_ < 0) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char c;
      if (::read(stdout_, &c, 1) != 1) return std::nullopt;
      if (c == '\n') return line;
      line.push_back(c);
    }
  }

  // Waits for the child to end by itself; its exit status, or nothing.
  std::optional<int> wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

  void stop() {
    close_stdin();
    if (stdout_ >= 0) ::close(stdout_);
    stdout_ = -1;
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!wait(std::chrono::seconds(5))) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(s);
    return 0;
  }
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

inline bool port_accepts(std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(s);
  return ok;
}

}  // namespace rfb_test
