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

namespace rfb {
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

namespace {

// One address: a non-blocking connect watched together with the cancel signal.
Result<Socket> connect_one(const addrinfo& ai, const CancelSignal& cancel, std::chrono::milliseconds stall) {
  Socket sock(::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol));
  if (sock.fd() < 0) return std::unexpected(os_error(errno));
  int rc;
  do {
    rc = ::connect(sock.fd(), ai.ai_addr, ai.ai_addrlen);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0 || errno == EISCONN) return sock;
  // After an interrupted call the connect carries on in the background.
  if (errno != EINPROGRESS && errno != EALREADY) return std::unexpected(os_error(errno));
  pollfd fds[2] = {{sock.fd(), POLLOUT, 0}, {cancel.fd(), POLLIN, 0}};
  for (;;) {
    rc = ::poll(fds, 2, static_cast<int>(stall.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return std::unexpected(os_error(errno));
    if (rc == 0) return std::unexpected(os_error(ETIMEDOUT));
    break;
  }
  if (fds[1].revents & POLLIN) return std::unexpected(cancelled());
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(sock.fd(), SOL_SOCKET, SO_ERROR, &err, &len) < 0) return std::unexpected(os_error(errno));
  if (err != 0) return std::unexpected(os_error(err));
  return sock;
}

}  // namespace

Result<Socket> connect_tcp(const std::string& host, std::uint16_t port, const CancelSignal& cancel,
                           std::chrono::milliseconds stall) {
  // The resolver would stop at a NUL and reach a host the text does not name.
  if (host.find('\0') != std::string::npos) return fail(ErrorKind::Os, "could not resolve to any addresses");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int gai = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (gai != 0) {
    if (gai == EAI_NONAME || gai == EAI_NODATA || gai == EAI_ADDRFAMILY) {
      return fail(ErrorKind::Os, "could not resolve to any addresses");
    }
    const std::string text = gai == EAI_SYSTEM ? std::system_category().message(errno) : ::gai_strerror(gai);
    return fail(ErrorKind::Os, "failed to look up address information: " + text);
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, &::freeaddrinfo);
  std::optional<Error> last;
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    auto sock = connect_one(*ai, cancel, stall);
    if (sock) return sock;
    if (sock.error().kind == ErrorKind::Cancelled) return sock;
    last = sock.error();
  }
  if (!last) return fail(ErrorKind::Os, "could not resolve to any addresses");
  return std::unexpected(*last);
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

}  // namespace rfb
