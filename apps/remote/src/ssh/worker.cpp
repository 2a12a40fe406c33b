#include "apps/remote/src/doc/text.hpp"
#include "apps/remote/src/ssh/worker.hpp"

#include <fcntl.h>
#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string_view>
#include <variant>

#include "platform/vesk_ui/utf8/utf8.hpp"
#include "apps/remote/src/sync/tcp_connect.hpp"

namespace remote::ssh {

namespace {

struct SessionDeleter {
  void operator()(ssh_session s) const { ssh_free(s); }
};
struct ChannelDeleter {
  void operator()(ssh_channel c) const { ssh_channel_free(c); }
};
struct KeyDeleter {
  void operator()(ssh_key k) const { ssh_key_free(k); }
};
using SessionPtr = std::unique_ptr<ssh_session_struct, SessionDeleter>;
using ChannelPtr = std::unique_ptr<ssh_channel_struct, ChannelDeleter>;
using KeyPtr = std::unique_ptr<ssh_key_struct, KeyDeleter>;

using Clock = std::chrono::steady_clock;

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd, o.fd);
    return *this;
  }
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

// The connected socket once libssh was handed it. From ssh_connect on libssh
// owns it and closes it (ssh_disconnect, a failed key exchange, ssh_free);
// this closes it only when libssh never did, which it tells by the socket's
// identity: the number may meanwhile name another thread's new descriptor,
// which must survive.
class HandedSocket {
 public:
  explicit HandedSocket(Fd fd) : fd_(fd.release()) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
  }
  HandedSocket(const HandedSocket&) = delete;
  HandedSocket& operator=(const HandedSocket&) = delete;
  ~HandedSocket() {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Failed: the descriptor reported an error or is no longer open (or poll
// itself failed); waiting on it again would only spin.
enum class Wait { Ready, Cancelled, TimedOut, Failed };

// Waits until `fd` shows one of `events`, `extra_fd` (when >= 0) is readable,
// the cancel signal fires or `deadline` passes.
Wait wait_for(int fd, short events, const CancelSignal& cancel, int extra_fd,
              std::optional<Clock::time_point> deadline) {
  std::array<pollfd, 3> fds{{{fd, events, 0}, {cancel.fd(), POLLIN, 0}, {extra_fd, POLLIN, 0}}};
  const nfds_t count = extra_fd >= 0 ? 3 : 2;
  while (true) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return Wait::TimedOut;
      timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
    }
    const int rc = ::poll(fds.data(), count, timeout);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return Wait::Failed;
    if (rc == 0) return Wait::TimedOut;
    if (fds[1].revents & POLLIN) return Wait::Cancelled;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents & (POLLNVAL | POLLERR)) return Wait::Failed;
    }
    return Wait::Ready;
  }
}

// libssh closes its socket when the server disconnects or the connection
// breaks, and marks the session failed; from then on the number may name
// another thread's descriptor, so it is never waited on again.
bool session_closed(ssh_session s, int sock) {
  return ssh_get_fd(s) != sock || (ssh_get_status(s) & (SSH_CLOSED | SSH_CLOSED_ERROR)) != 0;
}

// The socket as libssh wants it watched: readable, and writable while it
// holds output. A session libssh has closed is not waited on at all.
Wait wait_session(ssh_session s, int sock, const CancelSignal& cancel, int extra_fd,
                  std::optional<Clock::time_point> deadline) {
  if (session_closed(s, sock)) return Wait::Failed;
  short events = POLLIN;
  if (ssh_get_poll_flags(s) & SSH_WRITE_PENDING) events |= POLLOUT;
  return wait_for(sock, events, cancel, extra_fd, deadline);
}

// The shared connect, with no time limit of its own, as with a blocking
// connect. The socket is handed back blocking, as libssh expects a
// descriptor it is given.
Result<Fd> connect_tcp(const std::string& host, std::uint16_t port, const CancelSignal& cancel) {
  auto connected = sync::connect_tcp(host, port, cancel, std::nullopt);
  if (!connected) {
    if (connected.error().kind == sync::TcpConnectError::Kind::Cancelled) return cancelled();
    return failure("connect: " + connected.error().message);
  }
  Fd fd(*connected);
  const int flags = ::fcntl(fd.fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return failure(std::string("connect: ") + std::strerror(errno));
  }
  return fd;
}

// The numeric address of the peer: libssh wants a host name for its own
// bookkeeping, and the profile's text may hold forms it would reinterpret.
std::string peer_address(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  char text[NI_MAXHOST] = {0};
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) {
    return "localhost";
  }
  return text;
}

std::string library_error(ssh_session session) {
  const char* text = ssh_get_error(session);
  if (text == nullptr || *text == '\0') return "SSH session failed";
  // The text may quote a server's disconnect description.
  return vesk_ui::utf8::repair(text);
}

// Why a connection libssh gave up on, or whose socket reported an error,
// ended: libssh's text (which quotes a server's disconnect reason), else the
// socket's own error.
std::string broken_connection_error(ssh_session s, int sock) {
  const char* text = ssh_get_error(s);
  if (text != nullptr && *text != '\0') return library_error(s);
  int err = 0;
  socklen_t len = sizeof err;
  if (!session_closed(s, sock) && ::getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0) {
    return std::strerror(err);
  }
  return "the connection to the SSH server broke";
}

// A server that ends the connection instead of answering a credential (as
// OpenSSH does once MaxAuthTries is used up) has refused it; its reason is
// kept after the refusal.
std::string refused_by_disconnect(ssh_session s) {
  static constexpr std::string_view kDisconnect = "Received SSH_MSG_DISCONNECT: ";
  std::string text = library_error(s);
  if (text.starts_with(kDisconnect)) {
    // "code:description"
    const auto colon = text.find(':', kDisconnect.size());
    text = colon == std::string::npos ? text.substr(kDisconnect.size()) : text.substr(colon + 1);
  }
  return text.empty() ? std::string("Authentication failed") : "Authentication failed: " + text;
}

std::expected<void, std::string> configure(ssh_session s, int fd, const std::string& address,
                                           const SshSessionParams& params) {
  int no = 0;
  long timeout = kHandshakeTimeoutSeconds;
  std::uint64_t rekey_bytes = kRekeyBytes;
  std::uint32_t rekey_seconds = kRekeySeconds;
  struct Setting {
    ssh_options_e option;
    const void* value;
  };
  const std::array<Setting, 17> settings{{
      {SSH_OPTIONS_PROCESS_CONFIG, &no},
      {SSH_OPTIONS_FD, &fd},
      {SSH_OPTIONS_HOST, address.c_str()},
      // After HOST, which would take a "user@" prefix as the user.
      {SSH_OPTIONS_USER, params.user.c_str()},
      {SSH_OPTIONS_KNOWNHOSTS, "/dev/null"},
      {SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null"},
      {SSH_OPTIONS_KEY_EXCHANGE,
       "curve25519-sha256,curve25519-sha256@libssh.org,diffie-hellman-group-exchange-sha256,"
       "diffie-hellman-group18-sha512,diffie-hellman-group16-sha512,diffie-hellman-group14-sha256"},
      {SSH_OPTIONS_HOSTKEYS,
       "ssh-ed25519,ecdsa-sha2-nistp256,ecdsa-sha2-nistp384,ecdsa-sha2-nistp521,rsa-sha2-512,rsa-sha2-256,ssh-rsa"},
      {SSH_OPTIONS_CIPHERS_C_S,
       "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes256-ctr,aes192-ctr,aes128-ctr"},
      {SSH_OPTIONS_CIPHERS_S_C,
       "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes256-ctr,aes192-ctr,aes128-ctr"},
      {SSH_OPTIONS_HMAC_C_S, "hmac-sha2-512-etm@openssh.com,hmac-sha2-256-etm@openssh.com,hmac-sha2-512,hmac-sha2-256"},
      {SSH_OPTIONS_HMAC_S_C, "hmac-sha2-512-etm@openssh.com,hmac-sha2-256-etm@openssh.com,hmac-sha2-512,hmac-sha2-256"},
      {SSH_OPTIONS_COMPRESSION_C_S, "none,zlib@openssh.com,zlib"},
      {SSH_OPTIONS_COMPRESSION_S_C, "none,zlib@openssh.com,zlib"},
      {SSH_OPTIONS_TIMEOUT, &timeout},
      {SSH_OPTIONS_REKEY_DATA, &rekey_bytes},
      {SSH_OPTIONS_REKEY_TIME, &rekey_seconds},
  }};
  for (const auto& setting : settings) {
    if (ssh_options_set(s, setting.option, setting.value) != SSH_OK) {
      return std::unexpected("connect: " + library_error(s));
    }
  }
  return {};
}

// OpenSSL would otherwise prompt on the terminal for a missing passphrase.
int refuse_prompt(const char*, char*, size_t, int, int, void*) { return SSH_ERROR; }

std::expected<KeyPtr, std::string> load_private_key(const KeyCredentials& key) {
  const std::string shown = key.path.string();
  auto fail = [&](std::string why) { return std::unexpected(text::fill("load key {}: {}", {shown, why})); };
  Fd fd(::open(key.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.fd < 0) return fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.fd, &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  if (static_cast<std::uint64_t>(st.st_size) > kMaxKeyFileBytes) return fail("the file is larger than 1 MiB");
  std::string text;
  char buffer[8192];
  while (true) {
    ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::strerror(errno));
    }
    if (n == 0) break;
    if (text.size() + static_cast<std::uint64_t>(n) > kMaxKeyFileBytes) return fail("the file is larger than 1 MiB");
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ssh_key loaded = nullptr;
  const char* passphrase = key.passphrase ? key.passphrase->c_str() : nullptr;
  if (ssh_pki_import_privkey_base64(text.c_str(), passphrase, refuse_prompt, nullptr, &loaded) != SSH_OK ||
      loaded == nullptr) {
    // libssh gives no reason of its own.
    return fail(key.passphrase ? "cannot decode the private key with the given passphrase"
                               : "cannot decode the private key (an encrypted key needs REMOTE_SSH_KEY_PASSPHRASE)");
  }
  return KeyPtr(loaded);
}

// The session runs libssh without blocking: every call that would wait
// answers "again", and the worker waits itself, watching the cancel signal.
struct Driver {
  ssh_session s;
  int sock;
  const CancelSignal& cancel;

  // Repeats `call` while it answers `again`, for at most kHandshakeTimeoutSeconds.
  template <class Call>
  Result<int> run(int again, Call&& call) const {
    const auto deadline = Clock::now() + std::chrono::seconds(kHandshakeTimeoutSeconds);
    while (true) {
      const int rc = call();
      if (rc != again) return rc;
      switch (wait_session(s, sock, cancel, -1, deadline)) {
        case Wait::Cancelled: return cancelled();
        case Wait::TimedOut:
          return failure(text::fill("the SSH server did not answer within {} seconds",
                                    {std::to_string(kHandshakeTimeoutSeconds)}));
        // The server's disconnect reason, or what broke the connection.
        case Wait::Failed: return failure(broken_connection_error(s, sock));
        case Wait::Ready: break;
      }
    }
  }
};

Result<void> authenticate(const Driver& driver, const SshCredentials& credentials) {
  ssh_session s = driver.s;
  Result<int> rc;
  if (const auto* password = std::get_if<PasswordCredentials>(&credentials)) {
    rc = driver.run(SSH_AUTH_AGAIN, [&] { return ssh_userauth_password(s, nullptr, password->password.c_str()); });
  } else {
    auto key = load_private_key(std::get<KeyCredentials>(credentials));
    if (!key) return failure(std::move(key.error()));
    // libssh picks the RSA signature hash from the server's server-sig-algs.
    rc = driver.run(SSH_AUTH_AGAIN, [&] { return ssh_userauth_publickey(s, nullptr, key->get()); });
  }
  if ((!rc || *rc == SSH_AUTH_ERROR) && session_closed(s, driver.sock)) return failure(refused_by_disconnect(s));
  if (!rc) return std::unexpected(std::move(rc.error()));
  if (*rc == SSH_AUTH_SUCCESS) return {};
  if (*rc == SSH_AUTH_ERROR) return failure(library_error(s));
  return failure("Authentication failed");
}

// A refused request (SSH_REQUEST_DENIED) is not fatal: the server says no,
// the session goes on and ends when the server closes the channel.
Result<void> request_result(ssh_session s, Result<int> rc) {
  if (!rc) return std::unexpected(std::move(rc.error()));
  if (*rc == SSH_OK) return {};
  if (ssh_get_error_code(s) == SSH_REQUEST_DENIED) return {};
  return failure(library_error(s));
}

// libssh 0.10 queues the disconnect message and closes the socket at once, so
// the message is lost unless the socket takes it on the spot. Hand over what
// libssh still holds, then let one more poll turn find the socket writable
// with nothing queued: libssh then writes the next packet directly. A second
// descriptor of our own keeps the connection open past libssh's close, so it
// ends with a FIN after the message, not with a reset (for unread data) that
// could make the server drop the message unread.
void disconnect(ssh_session s) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kGoodbyeMilliseconds);
  auto left = [&] {
    return std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
  };
  // A connection libssh already closed takes no goodbye.
  if (ssh_get_fd(s) < 0 || (ssh_get_status(s) & (SSH_CLOSED | SSH_CLOSED_ERROR)) != 0) {
    ssh_disconnect(s);
    return;
  }
  ssh_event event = ssh_event_new();
  if (event != nullptr && ssh_event_add_session(event, s) == SSH_OK) {
    while (true) {
      const bool pending = (ssh_get_poll_flags(s) & SSH_WRITE_PENDING) != 0;
      if (pending && left() == 0) break;
      if (ssh_event_dopoll(event, pending ? static_cast<int>(left()) : 0) == SSH_ERROR) break;
      if (!pending) break;
    }
    ssh_event_remove_session(event, s);
  }
  if (event != nullptr) ssh_event_free(event);
  // Only while libssh still holds the connection: a closed one's number may
  // already be another thread's.
  const int held = ssh_get_fd(s);
  Fd own(held >= 0 ? ::fcntl(held, F_DUPFD_CLOEXEC, 0) : -1);
  ssh_disconnect(s);  // reason 11, by application
  if (own.fd < 0) return;
  // Our last bytes are out; wait briefly for the server to close its side.
  ::shutdown(own.fd, SHUT_WR);
  std::array<char, 4096> scratch;
  while (true) {
    pollfd p{own.fd, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) break;
    const ssize_t n = ::read(own.fd, scratch.data(), scratch.size());
    if (n <= 0 && !(n < 0 && errno == EINTR)) break;
  }
}

// Woken by libssh whenever channel traffic was processed, so the loop never
// sleeps on the socket while data sits in libssh's buffers.
struct LoopSignals {
  bool activity = false;
};

int on_channel_data(ssh_session, ssh_channel, void*, uint32_t, int, void* userdata) {
  static_cast<LoopSignals*>(userdata)->activity = true;
  return 0;  // leave the bytes in the channel buffer for the reads below
}
void on_channel_eof(ssh_session, ssh_channel, void* userdata) { static_cast<LoopSignals*>(userdata)->activity = true; }
void on_channel_close(ssh_session, ssh_channel, void* userdata) {
  static_cast<LoopSignals*>(userdata)->activity = true;
}

enum class LoopEnd { ChannelDone, OutputClosed, InputClosed, Cancelled };

std::expected<LoopEnd, std::string> session_loop(const Driver& driver, ssh_channel channel,
                                                 sync::QueueSender<OutputChunk>& output,
                                                 sync::QueueReceiver<SshInput>& input) {
  ssh_session s = driver.s;
  LoopSignals signals;
  ssh_channel_callbacks_struct callbacks{};
  callbacks.userdata = &signals;
  callbacks.channel_data_function = on_channel_data;
  callbacks.channel_eof_function = on_channel_eof;
  callbacks.channel_close_function = on_channel_close;
  ssh_callbacks_init(&callbacks);
  ssh_set_channel_callbacks(channel, &callbacks);
  struct Unset {
    ssh_channel c;
    ssh_channel_callbacks cb;
    ~Unset() { ssh_remove_channel_callbacks(c, cb); }
  } unset{channel, &callbacks};

  // The item being written, a window's worth at a time, and how far.
  std::optional<SshInput> writing;
  std::size_t written = 0;
  // A write that cannot finish fails the item and the session alike.
  auto write_failed = [&]() {
    std::string text = library_error(s);
    if (writing->ack) writing->ack->send(std::unexpected(text));
    return std::unexpected(std::move(text));
  };

  std::vector<std::uint8_t> buffer(kOutputChunkBytes);
  while (true) {
    if (driver.cancel.fired()) return LoopEnd::Cancelled;
    signals.activity = false;
    bool progressed = false;

    // Received bytes, both streams, a bounded number of chunks per pass.
    for (int n = 0; n < kOutputChunksPerPass; ++n) {
      bool got = false;
      for (int is_stderr = 0; is_stderr < 2; ++is_stderr) {
        // Gather what is already waiting into one chunk: the UI drains the
        // queue once per frame, so fuller chunks mean more output per frame.
        std::size_t filled = 0;
        bool broken = false;
        while (filled < buffer.size()) {
          int r = ssh_channel_read_nonblocking(channel, buffer.data() + filled,
                                               static_cast<uint32_t>(buffer.size() - filled), is_stderr);
          if (r == SSH_ERROR) {
            broken = true;
            break;
          }
          if (r <= 0) break;
          filled += static_cast<std::size_t>(r);
        }
        if (filled > 0) {
          got = true;
          OutputChunk chunk(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(filled));
          if (!output.send_blocking(std::move(chunk))) return LoopEnd::OutputClosed;
        }
        if (broken) {
          // Broken under an unfinished write: that write failed.
          if (writing) return write_failed();
          return LoopEnd::ChannelDone;  // after what arrived
        }
      }
      if (!got) break;
      progressed = true;
    }
    if (ssh_channel_is_eof(channel) || ssh_channel_is_closed(channel)) {
      // Bytes that arrived ahead of the end are still delivered; a pass that
      // read nothing means there are none left.
      if (!progressed) return LoopEnd::ChannelDone;
      continue;
    }

    // One input item at a time, so neither direction starves the other.
    if (!writing) {
      input.drain_wake();
      auto item = input.try_recv();
      if (item) {
        writing = std::move(*item);
        written = 0;
      } else if (item.error() == sync::RecvError::Closed) {
        ssh_channel_send_eof(channel);
        return LoopEnd::InputClosed;
      }
    }
    if (writing) {
      // Nothing is written once the handle is gone.
      if (driver.cancel.fired()) return LoopEnd::Cancelled;
      const auto& bytes = writing->bytes;
      // Takes what the server's window allows, 0 while it is shut.
      const int n = ssh_channel_write(channel, bytes.data() + written, static_cast<uint32_t>(bytes.size() - written));
      if (n == SSH_ERROR) return write_failed();
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        progressed = true;
      }
      if (written == bytes.size()) {
        if (writing->ack) writing->ack->send(AckResult{});
        writing.reset();
      }
    }

    if (progressed || signals.activity) continue;
    // The input queue wakes the loop only when it would take an item.
    switch (wait_session(s, driver.sock, driver.cancel, writing ? -1 : input.wake_fd(), std::nullopt)) {
      case Wait::Cancelled: return LoopEnd::Cancelled;
      // The connection is gone: a write under way failed, otherwise the
      // session just ended.
      case Wait::Failed:
        if (writing) return write_failed();
        return LoopEnd::ChannelDone;
      case Wait::Ready:
      case Wait::TimedOut: break;
    }
  }
}

}  // namespace

bool RemoteSshHandler::check_server_key(const HostKeyIdentity& presented) const {
  std::optional<HostKeyObservation> verdict;
  auto store = KnownHosts::load(known_hosts);
  if (!store) {
    verdict = HostKeyObservation{HostKeyStoreUnavailable{store.error()}};
  } else {
    verdict = store->check(host, port, presented);
  }
  if (!verdict) return true;
  observation->set(std::move(*verdict));
  return false;
}

HostKeyIdentity HostKeyIdentity::from_public_key(ssh_key_struct* key) {
  HostKeyIdentity identity;
  const char* name = ssh_key_type_to_char(ssh_key_type(key));
  identity.algorithm = name != nullptr ? name : "unknown";
  unsigned char* hash = nullptr;
  size_t hash_len = 0;
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hash_len) == SSH_OK) {
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hash_len);
    if (text != nullptr) {
      identity.fingerprint = text;
      ssh_string_free_char(text);
    }
    ssh_clean_pubkey_hash(&hash);
  }
  return identity;
}

Result<void> run_session(SshSessionParams params, const std::shared_ptr<StatusSlot>& status,
                         const std::shared_ptr<ObservationSlot>& observation, sync::QueueSender<OutputChunk> output,
                         sync::QueueReceiver<SshInput> input, const CancelSignal& cancel) {
  // libssh would refuse an empty user with a bare "Invalid argument".
  if (params.user.empty()) {
    return failure("No user name for the SSH login: the profile names none and USER is empty");
  }
  auto connected = connect_tcp(params.host, params.port, cancel);
  if (!connected) return std::unexpected(std::move(connected.error()));
  const std::string address = peer_address(connected->fd);
  // Declared before the session, so it is looked at after ssh_free.
  HandedSocket sock(std::move(*connected));
  SessionPtr session(ssh_new());
  if (!session) return failure("connect: cannot create an SSH session");
  ssh_session s = session.get();
  if (auto ok = configure(s, sock.fd(), address, params); !ok) return failure(std::move(ok.error()));
  ssh_set_blocking(s, 0);
  const Driver driver{s, sock.fd(), cancel};

  if (auto rc = driver.run(SSH_AGAIN, [&] { return ssh_connect(s); }); !rc || *rc != SSH_OK) {
    if (!rc && rc.error().kind == ErrorKind::Cancelled) return std::unexpected(std::move(rc.error()));
    return failure("connect: " + (rc ? library_error(s) : rc.error().message));
  }

  // The server's key is judged before any credential leaves.
  {
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(s, &raw) != SSH_OK || raw == nullptr) {
      return failure("connect: " + library_error(s));
    }
    KeyPtr server_key(raw);
    RemoteSshHandler handler{params.host, params.known_hosts, observation, params.port};
    if (!handler.check_server_key(HostKeyIdentity::from_public_key(server_key.get()))) {
      disconnect(s);
      auto verdict = observation->get();
      if (verdict) return failure(verdict->message(params.host, params.port));
      return failure("connect: the server's host key was refused");
    }
  }

  if (auto ok = authenticate(driver, params.credentials); !ok) return ok;

  ChannelPtr channel(ssh_channel_new(s));
  if (!channel) return failure(library_error(s));
  if (auto ok = request_result(s, driver.run(SSH_AGAIN, [&] { return ssh_channel_open_session(channel.get()); }));
      !ok) {
    return ok;
  }
  if (auto ok = request_result(s, driver.run(SSH_AGAIN,
                                             [&] {
                                               return ssh_channel_request_pty_size(channel.get(), "xterm-256color",
                                                                                   params.cols, params.rows);
                                             }));
      !ok) {
    return ok;
  }
  if (auto ok = request_result(s, driver.run(SSH_AGAIN, [&] { return ssh_channel_request_shell(channel.get()); }));
      !ok) {
    return ok;
  }

  status->set(SessionStatus::connected());

  auto end = session_loop(driver, channel.get(), output, input);
  if (!end) return failure(std::move(end.error()));  // a failed write: no disconnect, no Ended
  if (*end == LoopEnd::Cancelled) ssh_channel_send_eof(channel.get());

  // ssh_disconnect frees every channel of the session, so ours goes first.
  channel.reset();
  disconnect(s);
  // Refuse input before saying Ended, so a send seen after Ended is never
  // taken and silently lost.
  input.close();
  status->with([](std::optional<SessionStatus>& value) {
    if (value && value->is_connected()) value = SessionStatus::ended();
  });
  return {};
}

void run_session_thread(SshSessionParams params, std::shared_ptr<StatusSlot> status,
                        std::shared_ptr<ObservationSlot> observation, sync::QueueSender<OutputChunk> output,
                        sync::QueueReceiver<SshInput> input, std::shared_ptr<CancelSignal> cancel) {
  auto fail = [&](std::string text) {
    status->with([&](std::optional<SessionStatus>& value) {
      // A session dropped before it connected fails for nobody.
      if (value && value->kind == SessionStatus::Kind::Connecting && cancel->fired()) return;
      if (!value || !value->is_failed()) value = SessionStatus::failed(std::move(text));
    });
  };
  // A write to a connection the server already closed must fail, not
  // raise SIGPIPE in the whole process; a blocked SIGPIPE caused by this
  // thread's own write is discarded with the thread.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  try {
    auto result = run_session(std::move(params), status, observation, std::move(output), std::move(input), *cancel);
    if (!result) fail(std::move(result.error().message));
  } catch (const std::exception& e) {
    fail(std::string("SSH worker stopped: ") + e.what());
  } catch (...) {
    fail("SSH worker stopped by an unexpected error");
  }
}

}  // namespace remote::ssh
