#pragma once
// Small builders shared by the application-core tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/scoped_env.hpp"

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/samples.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "platform/vesk_ui/widget/layout.hpp"

namespace apptest {

using namespace remote;
using namespace remote::app;

// A loopback port with nobody listening: bound, then closed.
inline std::uint16_t closed_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline SavedConnection conn(std::string name, ConnectionKind kind, std::string host, std::uint16_t port,
                            AuthKind auth = AuthKind::Password, std::string user = "", bool favorite = false) {
  SavedConnection c;
  c.id = Uuid::new_v4();
  c.name = std::move(name);
  c.kind = kind;
  c.host = std::move(host);
  c.port = port;
  c.auth = auth;
  c.user = std::move(user);
  c.favorite = favorite;
  c.last_used = "Never";
  return c;
}

inline SavedConnection device_conn(std::string name, std::size_t sample_key = 0) {
  return conn(std::move(name), ConnectionKind::Vesk, sample_endpoint_id(sample_key), 0, AuthKind::DeviceIdentity);
}

// Lays the widget out in a window of this size, as the framework does.
inline void layout(RemoteApp& app, float width, float height) {
  vesk_ui::widget::LayoutTree tree;
  vesk_ui::widget::WidgetNodeMap map;
  const auto node = app.build_layout_node(tree, map);
  tree.compute_layout(node, width, height);
  app.apply_layout(tree, node, 0.0, 0.0);
}

inline vesk_ui::device_link::LinkEvent device_event(std::uint64_t id,
                                                    vesk_ui::device_link::DeviceLinkEvent::Connecting k) {
  return {vesk_ui::device_link::DeviceLinkEvent{id, k}};
}
template <class Kind>
vesk_ui::device_link::LinkEvent device_event(std::uint64_t id, Kind k) {
  return {vesk_ui::device_link::DeviceLinkEvent{id, std::move(k)}};
}

// Polls `done` until it holds or the time runs out.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

using ::ScopedEnv;

}  // namespace apptest
