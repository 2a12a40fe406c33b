#include "apps/remote/src/ssh/cancel.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace remote::ssh {

std::expected<std::shared_ptr<CancelSignal>, std::string> CancelSignal::create() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return std::unexpected(std::system_category().message(errno));
  return std::shared_ptr<CancelSignal>(new CancelSignal(fd));
}

CancelSignal::~CancelSignal() { ::close(fd_); }

void CancelSignal::fire() const {
  // Never read, so the descriptor stays readable once fired.
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

bool CancelSignal::fired() const {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

}  // namespace remote::ssh
