#pragma once
// Real SSH servers for the tests: OpenSSH's sshd and dropbear, each started
// on 127.0.0.1 on a free port with its own host keys and config in a fresh
// temporary folder, and stopped by pid. Safe under ctest -j: every server has
// its own port and folder, and the shared test account is created once under
// a file lock.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sshtest {

// The local account the servers log in as (password authentication works
// through /etc/shadow with UsePAM no).
struct TestUser {
  std::string name;
  std::string password;
};
// Creates the account if needed; every caller gets the same one.
TestUser ensure_test_user();

// A temporary folder removed at destruction; world-searchable so the test
// account can read authorized_keys and write its output files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs a shell command; its standard output, or nullopt on a non-zero exit.
std::optional<std::string> run_command(const std::string& command);

// "SHA256:..." of a public key file, as ssh-keygen -lf prints it.
std::string keygen_fingerprint(const std::filesystem::path& public_key);

// Makes a key pair with ssh-keygen ("ed25519", "ecdsa"); empty passphrase for none.
void make_key(const std::filesystem::path& file, const std::string& type, const std::string& passphrase = "");

struct SshdOptions {
  std::string host_key_type = "ed25519";
  bool permit_tty = true;
  std::string force_command;   // empty: the account's shell; "{out}" names out_dir()
  int max_auth_tries = 0;      // 0: sshd's default
  std::string extra_config{};  // further sshd_config lines, as they are
};

class Sshd {
 public:
  explicit Sshd(SshdOptions options = {});
  ~Sshd();
  Sshd(const Sshd&) = delete;
  Sshd& operator=(const Sshd&) = delete;

  std::uint16_t port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  // A folder the test account may write to.
  std::filesystem::path out_dir() const { return dir() / "out"; }
  std::filesystem::path host_public_key() const { return host_key_.string() + ".pub"; }
  std::string host_fingerprint() const { return keygen_fingerprint(host_public_key()); }
  // Lets the key's public half log in.
  void authorize(const std::filesystem::path& public_key);
  // Restarts the server on the same port with a new host key of `type`.
  void replace_host_key(const std::string& type);
  // SIGSTOP / SIGCONT: a stopped server accepts TCP (the kernel's backlog) but never speaks.
  void pause();
  void resume();
  // SIGKILL to every process below the listener: the open connections break
  // without a goodbye.
  void kill_sessions();
  // SIGSTOP / SIGCONT to every process below the listener: a stopped session
  // reads nothing, so the connection's buffers and the SSH window fill.
  void pause_sessions();
  void resume_sessions();
  bool has_sessions() const;
  pid_t pid() const { return pid_; }

 private:
  void write_config();
  void launch();
  void stop();

  SshdOptions options_;
  TempDir dir_;
  std::filesystem::path host_key_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

class Dropbear {
 public:
  Dropbear();
  ~Dropbear();
  Dropbear(const Dropbear&) = delete;
  Dropbear& operator=(const Dropbear&) = delete;

  std::uint16_t port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  std::string host_fingerprint() const;

 private:
  TempDir dir_;
  std::filesystem::path host_key_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Polls `done` every 20 ms until it holds or `limit` passes.
// A TCP listener on 127.0.0.1 that never accepts: the kernel completes the
// handshake from its backlog and nobody ever speaks. Closed at destruction.
class SilentListener {
 public:
  // `nonblocking`: accept on fd() answers at once.
  explicit SilentListener(bool nonblocking = false);
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int fd() const { return fd_; }
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace sshtest
