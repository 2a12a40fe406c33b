// Frames through the headless host, painted the way the launcher paints them:
// only when the application asks. What a worker changes on its own reaches
// the screen without input, and an idle window asks for nothing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::event::NamedKey;

// A loopback port with nobody listening: bound, then closed.
std::uint16_t closed_port() {
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

std::unique_ptr<vesk_ui::headless::HeadlessHost> host_for(std::unique_ptr<RemoteApp> app, std::uint32_t width = 1280,
                                                          std::uint32_t height = 800) {
  vesk_ui::headless::HeadlessOptions options;
  options.width = width;
  options.height = height;
  options.stub_text = true;
  auto host = std::make_unique<vesk_ui::headless::HeadlessHost>(std::move(app), options);
  host->paint();
  return host;
}

bool painted_text_contains(const vesk_ui::scene::Scene& scene, std::string_view needle) {
  for (const auto& command : scene.commands()) {
    if (const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command)) {
      if (text->run.text.find(needle) != std::string::npos) return true;
    }
  }
  return false;
}

// Paints as the launcher does, at most 16 frames a second of host time, until
// nothing asks for a frame; the number of frames painted.
int paint_while_wanted(vesk_ui::headless::HeadlessHost& host, int limit = 100) {
  int frames = 0;
  while (host.wants_frame() && frames < limit) {
    host.advance(std::chrono::milliseconds(16));
    host.paint();
    ++frames;
  }
  return frames;
}

TEST(AppFrames, AFailedConnectIsPaintedWithoutInput) {
  ScopedEnv live{"REMOTE_LIVE_SESSIONS", "1"};
  ScopedEnv password{"REMOTE_SSH_PASSWORD", "pw"};
  ScopedEnv key{"REMOTE_SSH_KEY", std::nullopt};
  const std::vector<SavedConnection> profiles = {
      conn("shell", ConnectionKind::Ssh, "127.0.0.1", closed_port(), AuthKind::Password, "me"),
      conn("desk", ConnectionKind::Vnc, "127.0.0.1", closed_port()),
  };
  for (const SavedConnection& profile : profiles) {
    SCOPED_TRACE(profile.name);
    auto host = host_for(std::make_unique<RemoteApp>(std::vector{profile}, std::vector<DiscoveredDevice>{}));
    RemoteApp& app = host->widget_as<RemoteApp>();
    app.open_session(profile.id);
    ASSERT_TRUE(app.state().live_session);
    // The worker reports on its own; the loop only paints when asked.
    std::string painted_failure;
    ASSERT_TRUE(eventually([&] {
      const bool failed = app.state().live_session->status().kind == SessionStatus::Kind::Failed;
      if (!host->wants_frame()) return false;
      const auto& scene = host->paint();
      return failed && painted_text_contains(scene, "Connection failed");
    })) << "the failure never reached the screen";
    // Then the window is idle.
    EXPECT_LE(paint_while_wanted(*host), 1);
    EXPECT_FALSE(host->wants_frame());
  }
}

}  // namespace
