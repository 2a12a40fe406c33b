#include "apps/remote/src/sync/tcp_connect.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

namespace remote::sync {
namespace {

using Result = std::expected<int, TcpConnectError>;

Result os_failure(int e) {
  return std::unexpected(TcpConnectError{TcpConnectError::Kind::Os, e, std::system_category().message(e)});
}

// Closes the descriptor unless it is handed out.
struct OwnedFd {
  int fd;
  explicit OwnedFd(int f) : fd(f) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

Result connect_one(const addrinfo& ai, const CancelSignal& cancel, std::optional<std::chrono::milliseconds> stall) {
  OwnedFd sock(::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol));
  if (sock.fd < 0) return os_failure(errno);
  int rc;
  do {
    rc = ::connect(sock.fd, ai.ai_addr, ai.ai_addrlen);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0 || errno == EISCONN) return sock.release();
  // After an interrupted call the connect carries on in the background.
  if (errno != EINPROGRESS && errno != EALREADY) return os_failure(errno);
  pollfd fds[2] = {{sock.fd, POLLOUT, 0}, {cancel.fd(), POLLIN, 0}};
  for (;;) {
    rc = ::poll(fds, 2, stall ? static_cast<int>(stall->count()) : -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return os_failure(errno);
    if (rc == 0) return os_failure(ETIMEDOUT);
    break;
  }
  if (fds[1].revents & POLLIN) return std::unexpected(TcpConnectError{TcpConnectError::Kind::Cancelled, 0, {}});
  // A refused connect shows as an error on the socket; its text says why.
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(sock.fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return os_failure(errno);
  if (err != 0) return os_failure(err);
  if ((fds[0].revents & (POLLERR | POLLHUP)) != 0 && (fds[0].revents & POLLOUT) == 0) {
    return std::unexpected(TcpConnectError{TcpConnectError::Kind::Os, 0, "the connection failed"});
  }
  return sock.release();
}

}  // namespace

Result connect_tcp(const std::string& host, std::uint16_t port, const CancelSignal& cancel,
                   std::optional<std::chrono::milliseconds> stall) {
  const TcpConnectError no_address{TcpConnectError::Kind::NoAddress, 0, kNoAddressText};
  // The resolver would stop at a NUL and reach a host the text does not name.
  if (host.find('\0') != std::string::npos) return std::unexpected(no_address);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int gai = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (gai != 0) {
    if (gai == EAI_NONAME || gai == EAI_NODATA || gai == EAI_ADDRFAMILY || gai == EAI_FAMILY) {
      return std::unexpected(no_address);
    }
    const std::string text = gai == EAI_SYSTEM ? std::system_category().message(errno) : ::gai_strerror(gai);
    return std::unexpected(TcpConnectError{TcpConnectError::Kind::Lookup, 0, text});
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, &::freeaddrinfo);
  std::optional<TcpConnectError> last;
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    auto fd = connect_one(*ai, cancel, stall);
    if (fd || fd.error().kind == TcpConnectError::Kind::Cancelled) return fd;
    last = std::move(fd.error());
  }
  return std::unexpected(last.value_or(no_address));
}

}  // namespace remote::sync
