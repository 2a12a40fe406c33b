#include "apps/remote/src/sync/tcp_connect.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

namespace sync = remote::sync;
using Kind = sync::TcpConnectError::Kind;

// A loopback listener on a free port; `backlog` 0 and no accept leaves later
// connects pending once the first has filled the queue.
struct Listener {
  int fd = -1;
  std::uint16_t port = 0;
  explicit Listener(int backlog, bool listening = true) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) return;
    if (listening && ::listen(fd, backlog) != 0) return;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
};

std::shared_ptr<sync::CancelSignal> make_cancel() { return sync::CancelSignal::create().value(); }

TEST(SyncTcpConnect, ConnectsNonBlockingToALoopbackListener) {
  Listener listener(8);
  ASSERT_NE(listener.port, 0);
  auto cancel = make_cancel();
  auto fd = sync::connect_tcp("127.0.0.1", listener.port, *cancel, std::nullopt);
  ASSERT_TRUE(fd) << fd.error().message;
  EXPECT_NE(::fcntl(*fd, F_GETFL) & O_NONBLOCK, 0);
  ::close(*fd);
}

TEST(SyncTcpConnect, FailuresCarryTheirKindAndText) {
  Listener closed(0, /*listening=*/false);  // bound, never listening: refused
  ASSERT_NE(closed.port, 0);
  auto cancel = make_cancel();
  struct Case {
    std::string host;
    std::uint16_t port;
    Kind kind;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", closed.port, Kind::Os, ECONNREFUSED, "Connection refused"},
      {std::string("127.0.0.1\0.example", 18), 22, Kind::NoAddress, 0, sync::kNoAddressText},
  };
  for (const Case& c : cases) {
    auto fd = sync::connect_tcp(c.host, c.port, *cancel, std::nullopt);
    ASSERT_FALSE(fd) << c.message;
    EXPECT_EQ(fd.error().kind, c.kind) << c.message;
    EXPECT_EQ(fd.error().code, c.code) << c.message;
    EXPECT_EQ(fd.error().message, c.message);
  }
}

TEST(SyncTcpConnect, APendingConnectEndsOnCancelOrStall) {
  Listener full(0);
  ASSERT_NE(full.port, 0);
  auto idle = make_cancel();
  // Fill the accept queue (one entry at backlog 0); later connects stay pending.
  std::vector<int> queued;
  if (auto fd = sync::connect_tcp("127.0.0.1", full.port, *idle, 5s)) queued.push_back(*fd);
  auto stalled = sync::connect_tcp("127.0.0.1", full.port, *idle, 50ms);
  if (stalled) {
    ::close(*stalled);
    for (int fd : queued) ::close(fd);
    GTEST_SKIP() << "this kernel accepts beyond the listen backlog";
  }
  EXPECT_EQ(stalled.error().code, ETIMEDOUT);
  EXPECT_EQ(stalled.error().message, "Connection timed out");

  auto cancel = make_cancel();
  cancel->fire();
  auto cancelled = sync::connect_tcp("127.0.0.1", full.port, *cancel, std::nullopt);
  ASSERT_FALSE(cancelled);
  EXPECT_EQ(cancelled.error().kind, Kind::Cancelled);
  for (int fd : queued) ::close(fd);
}

}  // namespace
