#pragma once
// A one-connection RFB server on 127.0.0.1 (port 0) whose behaviour is a
// script run on its own thread. Every read has a deadline, so a script never
// hangs a test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tests/apps/remote/rfb/wire.hpp"

namespace rfb_test {

using namespace std::chrono_literals;

// A flag the test and the script wait on.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(m_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool wait(std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, timeout, [&] { return open_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer() { close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool send(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool send(const Wire& w) { return send(w.bytes); }

  // Exactly n bytes, or nothing when the client closed or the deadline passed.
  std::optional<std::vector<std::uint8_t>> recv_exact(std::size_t n, std::chrono::milliseconds timeout = 10s) {
    std::vector<std::uint8_t> out(n);
    std::size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      const ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
      if (r <= 0) return std::nullopt;
      got += static_cast<std::size_t>(r);
    }
    return out;
  }

  // True when the client closes its side within the timeout; data is discarded.
  bool wait_closed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buf[4096];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
      if (r <= 0) return true;
    }
  }

  // One client message: its type byte followed by its body.
  std::optional<std::vector<std::uint8_t>> read_client_message(std::chrono::milliseconds timeout = 10s) {
    auto type = recv_exact(1, timeout);
    if (!type) return std::nullopt;
    std::size_t body = 0;
    switch ((*type)[0]) {
      case 0: body = 19; break;
      case 3: body = 9; break;
      case 4: body = 7; break;
      case 5: body = 5; break;
      default: return std::nullopt;
    }
    auto rest = recv_exact(body, timeout);
    if (!rest) return std::nullopt;
    type->insert(type->end(), rest->begin(), rest->end());
    return type;
  }

  // A 3.8 handshake with security None, up to and including the client's
  // first (non-incremental) update request.
  bool handshake(std::uint16_t width, std::uint16_t height) {
    if (!send(Wire().text("RFB 003.008\n").u8(1).u8(1))) return false;
    if (!recv_exact(12) || !recv_exact(1)) return false;
    if (!send(Wire().u32(0))) return false;
    if (!recv_exact(1)) return false;  // ClientInit
    if (!send(Wire().server_init(width, height))) return false;
    return recv_exact(20 + 16 + 10).has_value();
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class ScriptedServer {
 public:
  explicit ScriptedServer(std::function<void(Peer&)> script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 10'000) <= 0) return;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      Peer peer(fd);
      script(peer);
      done_ = true;
    });
  }
  ~ScriptedServer() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t port() const { return port_; }
  bool script_done() const { return done_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace rfb_test
