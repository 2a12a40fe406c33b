#include "tests/apps/remote/ssh/peers.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace sshtest {

namespace {

constexpr const char* kUserName = "remotesshtest";
constexpr const char* kUserPassword = "remote-test-password-7";
constexpr const char* kUserHome = "/tmp/remotesshtest-home";
constexpr const char* kUserLock = "/tmp/remotesshtest.lock";

std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::uint16_t free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("bind");
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace

SilentListener::SilentListener(bool nonblocking) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 16) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
}

SilentListener::~SilentListener() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

bool port_accepts(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// The server dies with the test process, even one that crashed: setpriv
// sets the parent-death signal and then runs it (same pid). posix_spawn
// rather than fork, so nothing runs between fork and exec in a threaded,
// sanitized process.
pid_t spawn(const std::vector<std::string>& argv, const std::filesystem::path& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> full{"/usr/bin/setpriv", "--pdeathsig", "TERM", "--"};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (const auto& a : full) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

// False once the child has ended (and reaps it).
bool alive(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

void kill_and_reap(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGCONT);
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 250; ++i) {
    if (::waitpid(pid, &status, WNOHANG) != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
}

}  // namespace

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

std::optional<std::string> run_command(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = ::pclose(pipe);
  if (status != 0) return std::nullopt;
  return out;
}

TestUser ensure_test_user() {
  int lock = ::open(kUserLock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock the test account");
  std::string name = kUserName;
  if (!run_command("id -u " + name + " >/dev/null 2>&1")) {
    if (!run_command("useradd -M -d " + std::string(kUserHome) + " -s /bin/sh " + name + " 2>&1")) {
      ::close(lock);
      throw std::runtime_error("useradd failed");
    }
  }
  run_command("echo '" + name + ":" + kUserPassword + "' | chpasswd");
  std::filesystem::create_directories(kUserHome);
  run_command("chown " + name + " " + kUserHome);
  // sshd's privilege-separation folder.
  std::filesystem::create_directories("/run/sshd");
  ::chmod("/run/sshd", 0755);
  ::close(lock);
  return TestUser{name, kUserPassword};
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "remote-ssh-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
  ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string keygen_fingerprint(const std::filesystem::path& public_key) {
  auto out = run_command("ssh-keygen -lf '" + public_key.string() + "'");
  if (!out) throw std::runtime_error("ssh-keygen -lf failed");
  std::istringstream in(*out);
  std::string bits, fingerprint;
  in >> bits >> fingerprint;
  return fingerprint;
}

void make_key(const std::filesystem::path& file, const std::string& type, const std::string& passphrase) {
  std::error_code ec;
  std::filesystem::remove(file, ec);
  std::filesystem::remove(file.string() + ".pub", ec);
  if (!run_command("ssh-keygen -q -t " + type + " -N '" + passphrase + "' -C remote-test -f '" + file.string() +
                   "' </dev/null")) {
    throw std::runtime_error("ssh-keygen failed");
  }
}

Sshd::Sshd(SshdOptions options) : options_(std::move(options)) {
  ensure_test_user();
  host_key_ = dir() / "host_key";
  make_key(host_key_, options_.host_key_type);
  std::filesystem::create_directory(out_dir());
  ::chmod(out_dir().c_str(), 0777);
  std::ofstream(dir() / "authorized_keys").close();
  ::chmod((dir() / "authorized_keys").c_str(), 0644);
  for (int attempt = 0; attempt < 10; ++attempt) {
    port_ = free_port();
    write_config();
    launch();
    if (pid_ > 0) return;
  }
  throw std::runtime_error("sshd did not start");
}

Sshd::~Sshd() { stop(); }

void Sshd::write_config() {
  std::ofstream out(dir() / "sshd_config");
  out << "ListenAddress 127.0.0.1:" << port_ << "\n"
      << "HostKey " << host_key_.string() << "\n"
      << "PidFile " << (dir() / "sshd.pid").string() << "\n"
      << "UsePAM no\n"
      << "PasswordAuthentication yes\n"
      << "KbdInteractiveAuthentication no\n"
      << "PubkeyAuthentication yes\n"
      << "AuthorizedKeysFile " << (dir() / "authorized_keys").string() << "\n"
      << "StrictModes no\n"
      << "PermitRootLogin no\n"
      << "AllowUsers " << kUserName << "\n"
      << "MaxStartups 100\n"
      << "LogLevel DEBUG1\n"
      << "PermitTTY " << (options_.permit_tty ? "yes" : "no") << "\n";
  if (options_.max_auth_tries > 0) out << "MaxAuthTries " << options_.max_auth_tries << "\n";
  out << options_.extra_config;
  if (!options_.force_command.empty()) {
    std::string command = options_.force_command;
    for (auto at = command.find("{out}"); at != std::string::npos; at = command.find("{out}")) {
      command.replace(at, 5, out_dir().string());
    }
    out << "ForceCommand " << command << "\n";
  }
}

void Sshd::launch() {
  auto log = dir() / "sshd.log";
  std::error_code ec;
  std::filesystem::remove(log, ec);
  pid_ = spawn({"/usr/sbin/sshd", "-D", "-e", "-f", (dir() / "sshd_config").string()}, log);
  std::string listening = "Server listening on 127.0.0.1 port " + std::to_string(port_);
  bool up = wait_until([&] { return slurp(log).find(listening) != std::string::npos || !alive(pid_); },
                       std::chrono::seconds(10));
  // alive() reaps an ended server, whose pid must then never be signalled.
  const bool running = alive(pid_);
  if (!up || !running) {
    if (running) kill_and_reap(pid_);
    pid_ = -1;
  }
}

void Sshd::stop() {
  kill_and_reap(pid_);
  pid_ = -1;
}

void Sshd::authorize(const std::filesystem::path& public_key) {
  std::ofstream out(dir() / "authorized_keys", std::ios::app);
  out << slurp(public_key);
}

void Sshd::replace_host_key(const std::string& type) {
  stop();
  options_.host_key_type = type;
  make_key(host_key_, type);
  for (int attempt = 0; attempt < 50 && pid_ <= 0; ++attempt) {
    launch();  // same port; a moment may pass before it is free again
    if (pid_ <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (pid_ <= 0) throw std::runtime_error("sshd did not restart");
}

namespace {

// Every process whose parent chain reaches `root`, read from /proc.
std::vector<pid_t> descendants(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> parent_of;  // (pid, ppid)
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = slurp(entry.path() / "stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state;
    pid_t ppid;
    if (rest >> state >> ppid) parent_of.emplace_back(std::stoi(name), ppid);
  }
  std::vector<pid_t> found{root};
  for (std::size_t i = 0; i < found.size(); ++i) {
    for (auto [pid, ppid] : parent_of) {
      if (ppid == found[i]) found.push_back(pid);
    }
  }
  found.erase(found.begin());
  return found;
}

}  // namespace

void Sshd::kill_sessions() {
  for (pid_t pid : descendants(pid_)) ::kill(pid, SIGKILL);
}

void Sshd::pause_sessions() {
  for (pid_t pid : descendants(pid_)) ::kill(pid, SIGSTOP);
}
void Sshd::resume_sessions() {
  for (pid_t pid : descendants(pid_)) ::kill(pid, SIGCONT);
}
bool Sshd::has_sessions() const { return !descendants(pid_).empty(); }

void Sshd::pause() { ::kill(pid_, SIGSTOP); }
void Sshd::resume() { ::kill(pid_, SIGCONT); }

Dropbear::Dropbear() {
  ensure_test_user();
  host_key_ = dir_.path() / "host_key";
  if (!run_command("dropbearkey -t ed25519 -f '" + host_key_.string() + "' >/dev/null 2>&1")) {
    throw std::runtime_error("dropbearkey failed");
  }
  for (int attempt = 0; attempt < 10 && pid_ <= 0; ++attempt) {
    port_ = free_port();
    auto log = dir_.path() / "dropbear.log";
    pid_ = spawn({"/usr/sbin/dropbear", "-F", "-E", "-p", "127.0.0.1:" + std::to_string(port_), "-r",
                  host_key_.string(), "-P", (dir_.path() / "dropbear.pid").string()},
                 log);
    bool up = wait_until([&] { return port_accepts(port_) || !alive(pid_); }, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bool running = alive(pid_);
    if (!up || !running || slurp(log).find("Failed listening") != std::string::npos) {
      if (running) kill_and_reap(pid_);
      pid_ = -1;
    }
  }
  if (pid_ <= 0) throw std::runtime_error("dropbear did not start");
}

Dropbear::~Dropbear() { kill_and_reap(pid_); }

std::string Dropbear::host_fingerprint() const {
  auto out = run_command("dropbearkey -y -f '" + host_key_.string() + "' 2>/dev/null | grep '^ssh-'");
  if (!out) throw std::runtime_error("dropbearkey -y failed");
  auto pub = dir_.path() / "host_key.pub";
  std::ofstream(pub) << *out;
  return keygen_fingerprint(pub);
}

}  // namespace sshtest
