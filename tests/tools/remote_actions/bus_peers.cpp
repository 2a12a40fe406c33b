#include "tests/tools/remote_actions/bus_peers.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace bustest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The process's environment with `extra` on top; a later entry of the same
// name replaces an earlier one.
std::vector<std::string> merged_env(const std::vector<std::string>& extra) {
  std::vector<std::string> out;
  auto put = [&](const std::string& kv) {
    const std::string key = kv.substr(0, kv.find('=') + 1);
    std::erase_if(out, [&](const std::string& e) { return e.compare(0, key.size(), key) == 0; });
    out.push_back(kv);
  };
  for (char** e = environ; *e; ++e) out.emplace_back(*e);
  for (const std::string& x : extra) put(x);
  return out;
}

pid_t fork_exec(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& out_path,
                const std::string& err_path, int keep_fd) {
  std::vector<std::string> env_store = merged_env(env);
  std::vector<char*> envp, args;
  for (std::string& s : env_store) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_store = argv;
  for (std::string& s : argv_store) args.push_back(s.data());
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, STDIN_FILENO);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int err = out_path == err_path ? out : open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) dup2(out, STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != keep_fd) close(fd);
    }
    signal(SIGPIPE, SIG_DFL);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

Child::Child(Child&& o) noexcept : pid_(std::exchange(o.pid_, -1)) {}
Child& Child::operator=(Child&& o) noexcept {
  if (this != &o) {
    stop();
    pid_ = std::exchange(o.pid_, -1);
  }
  return *this;
}

Child Child::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
                   int keep_fd) {
  Child c;
  c.pid_ = fork_exec(argv, env, log, log, keep_fd);
  return c;
}

bool Child::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

std::optional<int> Child::wait_exit(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (Clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(20ms);
  }
  return std::nullopt;
}

void Child::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

void Child::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!wait_exit(10s)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::chrono::seconds limit) {
  char out_tmpl[] = "/tmp/bustest_outXXXXXX";
  char err_tmpl[] = "/tmp/bustest_errXXXXXX";
  const int out_fd = mkstemp(out_tmpl);
  const int err_fd = mkstemp(err_tmpl);
  close(out_fd);
  close(err_fd);
  Result r;
  {
    // Child::spawn sends both streams to one file; this needs two.
    const pid_t pid = fork_exec(argv, env, out_tmpl, err_tmpl, -1);
    int status = 0;
    const auto deadline = Clock::now() + limit;
    for (;;) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (Clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        r.status = -2;
        break;
      }
      std::this_thread::sleep_for(5ms);
    }
  }
  r.out = slurp(out_tmpl);
  r.err = slurp(err_tmpl);
  unlink(out_tmpl);
  unlink(err_tmpl);
  return r;
}

std::optional<std::string> read_line(int fd, std::chrono::seconds limit) {
  std::string line;
  pollfd p{fd, POLLIN, 0};
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (poll(&p, 1, 100) > 0) {
      char c;
      if (read(fd, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
  }
  return std::nullopt;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

std::optional<std::string> start_until_answering(Child& app, const std::vector<std::string>& argv,
                                                 const std::vector<std::string>& env, const std::string& log,
                                                 const std::function<bool()>& answers) {
  app = Child::spawn(argv, env, log);
  if (!wait_until([&] { return answers() || !app.running(); }, 60s)) {
    return "the application never answered; log:\n" + slurp(log);
  }
  if (!app.running()) return "the application ended; log:\n" + slurp(log);
  return std::nullopt;
}

std::optional<std::string> connection_id(const std::string& printed_tree, const std::string& title) {
  const std::string tail = "  (remote.connection)  \"" + title + "\"";
  std::istringstream in(printed_tree);
  for (std::string l; std::getline(in, l);) {
    constexpr std::string_view kIndent = "  remote.connection:";
    if (l.rfind(kIndent, 0) != 0 || l.size() != 2 + 18 + 36 + tail.size()) continue;
    if (l.compare(l.size() - tail.size(), tail.size(), tail) == 0) return l.substr(2, 18 + 36);
  }
  return std::nullopt;
}

Desktop::Desktop(std::filesystem::path dir, bool any_user) : dir_(std::move(dir)) {
  // Both servers pick what is free and say so on a pipe, so parallel tests
  // never race for a display or a bus.
  int fds[2];
  if (pipe(fds) != 0) return;
  xvfb_ = Child::spawn(
      {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "1280x800x24", "-noreset"}, {},
      (dir_ / "xvfb.log").string(), fds[1]);
  close(fds[1]);
  auto number = read_line(fds[0], 20s);
  close(fds[0]);
  if (!number) return;
  display_ = ":" + *number;

  // The daemon that dbus-run-session starts, run directly so the test holds its pid.
  std::string config = "--session";
  if (any_user) {
    const auto file = dir_ / "any-user-bus.conf";
    std::ofstream(file)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    config = "--config-file=" + file.string();
  }
  if (pipe(fds) != 0) return;
  dbus_ = Child::spawn({"dbus-daemon", config, "--nofork", "--nopidfile", "--print-address=" + std::to_string(fds[1])},
                       {}, (dir_ / "dbus.log").string(), fds[1]);
  close(fds[1]);
  auto address = read_line(fds[0], 20s);
  close(fds[0]);
  if (address) bus_ = *address;
}

Desktop::~Desktop() {
  dbus_.stop();
  xvfb_.stop();
}

std::vector<std::string> Desktop::env() const { return {"DISPLAY=" + display_, "DBUS_SESSION_BUS_ADDRESS=" + bus_}; }

}  // namespace bustest
