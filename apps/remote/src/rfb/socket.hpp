#pragma once
// TCP for the VNC worker: a connect that tries every resolved address, and a
// buffered socket stream. Every wait also watches a cancel signal, so a
// dropped session ends its worker at once, whatever it is waiting for.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/remote/src/rfb/error.hpp"
#include "apps/remote/src/rfb/stream.hpp"
#include "apps/remote/src/sync/cancel_signal.hpp"

namespace remote::rfb {

using CancelSignal = remote::sync::CancelSignal;

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& o) noexcept : fd_(o.release()) {}
  Socket& operator=(Socket&& o) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket();
  int fd() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Connects to the first address of host:port that accepts. A connect that
// shows no progress for `stall` fails with "Connection timed out".
Result<Socket> connect_tcp(const std::string& host, std::uint16_t port, const CancelSignal& cancel,
                           std::chrono::milliseconds stall);

class SocketStream final : public InputStream, public OutputSink {
 public:
  // The socket must be non-blocking; the stream does not own it.
  SocketStream(int fd, const CancelSignal& cancel);

  // When set, a read or write that makes no progress for this long fails
  // (kind Stalled); unset, waits are unbounded (the cancel signal still ends them).
  void set_stall_timeout(std::optional<std::chrono::milliseconds> stall) { stall_ = stall; }

  Result<std::span<const std::uint8_t>> read_view(std::size_t n) override;
  Result<void> write_all(std::span<const std::uint8_t> bytes) override;

  struct Ready {
    bool socket = false;  // a byte is buffered or the socket is readable
    bool extra = false;   // the extra descriptor is readable
  };
  // Waits at most `timeout` for the socket or `extra_fd` (ignored when < 0).
  Result<Ready> wait_readable(std::chrono::milliseconds timeout, int extra_fd);

 private:
  Result<void> wait_for(short events);
  std::size_t buffered() const { return end_ - begin_; }

  int fd_;
  const CancelSignal& cancel_;
  std::optional<std::chrono::milliseconds> stall_;
  std::vector<std::uint8_t> buf_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace remote::rfb
