#include "apps/remote/src/rfb/socket.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "apps/remote/src/sync/tcp_connect.hpp"

namespace remote::rfb {
namespace {

// Socket reads go through a buffer of at least this size.
constexpr std::size_t kReadBuffer = 256 * 1024;

Error cancelled() { return Error{ErrorKind::Cancelled, "VNC session closed"}; }
Error stalled(std::chrono::milliseconds limit) {
  const auto ms = limit.count();
  char text[96];
  if (ms % 1000 == 0) {
    std::snprintf(text, sizeof text, "the VNC server made no progress for %lld seconds",
                  static_cast<long long>(ms / 1000));
  } else {
    std::snprintf(text, sizeof text, "the VNC server made no progress for %.1f seconds",
                  static_cast<double>(ms) / 1000);
  }
  return Error{ErrorKind::Stalled, text};
}

int poll_timeout(std::optional<std::chrono::milliseconds> t) { return t ? static_cast<int>(t->count()) : -1; }

}  // namespace

Error os_error(int e) {
  if (e == ECONNREFUSED) return Error{ErrorKind::ConnectionRefused, "Connection refused"};
  if (e == ETIMEDOUT) return Error{ErrorKind::TimedOut, "Connection timed out"};
  return Error{ErrorKind::Os, std::system_category().message(e)};
}

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.release();
  }
  return *this;
}

Socket::~Socket() {
  if (fd_ >= 0) ::close(fd_);
}

Result<Socket> connect_tcp(const std::string& host, std::uint16_t port, const CancelSignal& cancel,
                           std::chrono::milliseconds stall) {
  auto connected = remote::sync::connect_tcp(host, port, cancel, stall);
  if (connected) return Socket(*connected);
  const remote::sync::TcpConnectError& e = connected.error();
  using Kind = remote::sync::TcpConnectError::Kind;
  switch (e.kind) {
    case Kind::Cancelled: return std::unexpected(cancelled());
    case Kind::Lookup: return fail(ErrorKind::Os, "failed to look up address information: " + e.message);
    case Kind::NoAddress: return fail(ErrorKind::Os, e.message);
    case Kind::Os: break;
  }
  if (e.code != 0) return std::unexpected(os_error(e.code));
  return fail(ErrorKind::Os, e.message);
}

SocketStream::SocketStream(int fd, const CancelSignal& cancel) : fd_(fd), cancel_(cancel), buf_(kReadBuffer) {}

Result<void> SocketStream::wait_for(short events) {
  pollfd fds[2] = {{fd_, events, 0}, {cancel_.fd(), POLLIN, 0}};
  for (;;) {
    const int rc = ::poll(fds, 2, poll_timeout(stall_));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return std::unexpected(os_error(errno));
    if (rc == 0) return std::unexpected(stalled(*stall_));
    if (fds[1].revents & POLLIN) return std::unexpected(cancelled());
    return {};
  }
}

Result<std::span<const std::uint8_t>> SocketStream::read_view(std::size_t n) {
  if (buffered() < n) {
    // Move the buffered bytes to the front only when the rest would not fit
    // behind them, and grow the buffer only for a view larger than it.
    if (buf_.size() - begin_ < n) {
      std::memmove(buf_.data(), buf_.data() + begin_, buffered());
      end_ -= begin_;
      begin_ = 0;
      if (buf_.size() < n) buf_.resize(n);
    }
    while (end_ - begin_ < n) {
      const ssize_t got = ::recv(fd_, buf_.data() + end_, buf_.size() - end_, MSG_DONTWAIT);
      if (got > 0) {
        end_ += static_cast<std::size_t>(got);
        continue;
      }
      if (got == 0) return std::unexpected(end_of_stream());
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return std::unexpected(os_error(errno));
      if (auto w = wait_for(POLLIN); !w) return std::unexpected(w.error());
    }
  }
  std::span<const std::uint8_t> view(buf_.data() + begin_, n);
  begin_ += n;
  if (begin_ == end_) begin_ = end_ = 0;
  return view;
}

Result<void> SocketStream::write_all(std::span<const std::uint8_t> bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return std::unexpected(os_error(errno));
    if (auto w = wait_for(POLLOUT); !w) return std::unexpected(w.error());
  }
  return {};
}

Result<SocketStream::Ready> SocketStream::wait_readable(std::chrono::milliseconds timeout, int extra_fd) {
  Ready ready;
  if (buffered() > 0) {
    ready.socket = true;
    return ready;
  }
  pollfd fds[3] = {{fd_, POLLIN, 0}, {cancel_.fd(), POLLIN, 0}, {extra_fd, POLLIN, 0}};
  const nfds_t count = extra_fd >= 0 ? 3 : 2;
  for (;;) {
    const int rc = ::poll(fds, count, static_cast<int>(timeout.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return std::unexpected(os_error(errno));
    break;
  }
  if (fds[1].revents & POLLIN) return std::unexpected(cancelled());
  ready.socket = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  ready.extra = count == 3 && (fds[2].revents & POLLIN) != 0;
  return ready;
}

}  // namespace remote::rfb
