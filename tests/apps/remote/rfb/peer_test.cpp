// The client against real servers: TigerVNC's Xvnc with an X client drawing
// a known picture, and x11vnc serving a raw framebuffer file at every RFB
// version it can announce.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "apps/remote/src/rfb/decode.hpp"
#include "apps/remote/src/rfb/handshake.hpp"
#include "apps/remote/src/rfb/messages.hpp"
#include "apps/remote/src/rfb/session.hpp"
#include "apps/remote/src/rfb/socket.hpp"
#include "tests/apps/remote/rfb/peers.hpp"

namespace {

using namespace std::chrono_literals;
using remote::rfb::SessionStatus;
using rfb_test::eventually;
using rfb_test::Process;
using rfb_test::run;
using rfb_test::TempDir;
using rfb_test::Xvnc;
using Kind = SessionStatus::Kind;
namespace fs = std::filesystem;

constexpr std::uint16_t kXvncWidth = 320;
constexpr std::uint16_t kXvncHeight = 240;

// Pixels whose red, green and blue differ from an RGB picture of the same size.
std::size_t mismatches(const remote::rfb::Framebuffer& fb, const std::vector<std::uint8_t>& rgb) {
  const auto px = fb.pixels();
  if (rgb.size() != px.size() / 4 * 3) return static_cast<std::size_t>(-1);
  std::size_t bad = 0;
  // The buffer stores B, G, R, A.
  for (std::size_t i = 0, j = 0; i < px.size(); i += 4, j += 3) {
    if (px[i + 2] != rgb[j] || px[i + 1] != rgb[j + 1] || px[i] != rgb[j + 2]) ++bad;
  }
  return bad;
}

// The library's parts driven by hand, to watch which encodings arrive.
struct DirectClient {
  std::shared_ptr<remote::rfb::CancelSignal> cancel = remote::rfb::CancelSignal::create().value();
  remote::rfb::Socket socket;
  std::unique_ptr<remote::rfb::SocketStream> stream;
  std::optional<remote::rfb::Framebuffer> fb;
  remote::rfb::UpdateStats stats;

  remote::rfb::Result<void> connect(std::uint16_t port, const std::optional<std::string>& password = std::nullopt) {
    auto s = remote::rfb::connect_tcp("127.0.0.1", port, *cancel, 10s);
    if (!s) return std::unexpected(s.error());
    socket = std::move(*s);
    stream = std::make_unique<remote::rfb::SocketStream>(socket.fd(), *cancel);
    auto init = remote::rfb::run_handshake(*stream, *stream, password);
    if (!init) return std::unexpected(init.error());
    fb.emplace(init->width, init->height);
    return remote::rfb::request_update(*stream, false, *fb);
  }

  // Applies updates until the server has been quiet for `quiet`.
  remote::rfb::Result<void> pump(std::chrono::milliseconds quiet = 700ms, std::chrono::milliseconds limit = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      auto ready = stream->wait_readable(quiet, -1);
      if (!ready) return std::unexpected(ready.error());
      if (!ready->socket) return {};
      auto type = stream->read_u8();
      if (!type) return std::unexpected(type.error());
      if (*type == 0) {
        auto n = remote::rfb::read_framebuffer_update(*stream, *fb, remote::rfb::kClientPixelFormat, &stats);
        if (!n) return std::unexpected(n.error());
        if (auto r = remote::rfb::request_update(*stream, true, *fb); !r) return r;
      } else if (*type == 3) {
        if (auto pad = stream->read_view(3); !pad) return std::unexpected(pad.error());
        auto len = stream->read_u32();
        if (!len) return std::unexpected(len.error());
        if (auto r = stream->skip(*len); !r) return r;
      } else if (*type != 2) {
        return remote::rfb::invalid_data("unexpected message " + std::to_string(*type));
      }
    }
    return remote::rfb::invalid_data("the server never went quiet");
  }
};

TEST(RfbXvnc, RawRreAndCopyRectMatchTheServersScreenshot) {
  auto server = Xvnc::start({"-SecurityTypes", "None"});
  ASSERT_TRUE(server) << "Xvnc did not start";
  auto painter = server->draw_pattern();
  ASSERT_TRUE(painter);
  TempDir dir;

  DirectClient client;
  auto connected = client.connect(server->port);
  ASSERT_TRUE(connected) << connected.error().message;
  ASSERT_EQ(client.fb->width(), kXvncWidth);
  ASSERT_TRUE(client.pump()) << "first picture";
  EXPECT_EQ(mismatches(*client.fb, server->screenshot(dir)), 0u);
  EXPECT_GT(client.stats.raw, 0u);

  ASSERT_TRUE(painter->write_line("scroll"));
  ASSERT_EQ(painter->read_line(), "scrolled");
  ASSERT_TRUE(client.pump()) << "after the scroll";
  // The scroll arrives as CopyRect; the freed rows, one solid colour, as RRE.
  EXPECT_GT(client.stats.copy_rect, 0u);
  EXPECT_GT(client.stats.rre, 0u);
  EXPECT_EQ(mismatches(*client.fb, server->screenshot(dir)), 0u);
}

TEST(RfbXvnc, SessionWithPasswordShowsTheScreen) {
  TempDir dir;
  const auto passwd = dir / "passwd";
  ASSERT_TRUE(run("printf 'secret\\n' | vncpasswd -f > " + passwd.string()));
  auto server = Xvnc::start({"-SecurityTypes", "VncAuth", "-PasswordFile", passwd.string()});
  ASSERT_TRUE(server) << "Xvnc did not start";
  auto painter = server->draw_pattern();
  ASSERT_TRUE(painter);
  const auto expected = server->screenshot(dir);

  auto session = remote::rfb::VncSession::spawn({"127.0.0.1", "secret", server->port});
  ASSERT_TRUE(session);
  // The painter's view: keep the newest frame, wait until it shows the screen.
  std::optional<remote::rfb::Framebuffer> shown;
  EXPECT_TRUE(eventually([&] {
    if (auto f = session->take_frame()) shown = f;
    return shown && mismatches(*shown, expected) == 0;
  })) << "status "
      << session->status().message;
  EXPECT_EQ(session->status().kind, Kind::Connected);
  EXPECT_EQ(session->frame_size(), (remote::rfb::FrameSize{kXvncWidth, kXvncHeight}));
  // Input reaches the server without trouble.
  EXPECT_TRUE(session->send_input(remote::rfb::VncPointer{0, 10, 10}));
  EXPECT_TRUE(session->send_input(remote::rfb::VncKey{true, 0x61}));
  EXPECT_TRUE(session->send_input(remote::rfb::VncKey{false, 0x61}));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(session->status().kind, Kind::Connected);

  // Wrong and missing passwords, again and again: refused every time, with
  // the server's reason (the blacklist is off).
  for (const std::optional<std::string>& wrong : {std::optional<std::string>("wrong"), std::optional<std::string>()}) {
    for (int i = 0; i < 3; ++i) {
      auto refused = remote::rfb::VncSession::spawn({"127.0.0.1", wrong, server->port});
      ASSERT_TRUE(refused);
      ASSERT_TRUE(eventually([&] { return refused->status().kind == Kind::Failed; }));
      EXPECT_EQ(refused->status().message, "Authentication failure");
    }
  }
}

TEST(RfbXvnc, BlacklistRefusalCarriesTheServersReason) {
  TempDir dir;
  const auto passwd = dir / "passwd";
  ASSERT_TRUE(run("printf 'secret\\n' | vncpasswd -f > " + passwd.string()));
  // Later options win: this server blacklists after two failures.
  auto server = Xvnc::start({"-SecurityTypes", "VncAuth", "-PasswordFile", passwd.string(), "-UseBlacklist=1",
                             "-BlacklistThreshold=2", "-BlacklistTimeout=60"});
  ASSERT_TRUE(server) << "Xvnc did not start";
  std::vector<std::string> texts;
  for (int i = 0; i < 4; ++i) {
    auto refused = remote::rfb::VncSession::spawn({"127.0.0.1", "wrong", server->port});
    ASSERT_TRUE(refused);
    ASSERT_TRUE(eventually([&] { return refused->status().kind == Kind::Failed; }));
    texts.push_back(refused->status().message);
  }
  EXPECT_EQ(texts.front(), "Authentication failure");
  EXPECT_EQ(texts.back(), "Too many security failures");
}

// --- x11vnc -rawfb ------------------------------------------------------------

constexpr std::uint16_t kRawWidth = 160;
constexpr std::uint16_t kRawHeight = 120;

// A picture in the file's layout (B, G, R, X) and the RGB it shows.
void write_raw_picture(const fs::path& file, std::vector<std::uint8_t>& rgb) {
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < kRawHeight; ++y) {
    for (int x = 0; x < kRawWidth; ++x) {
      const std::uint8_t r = static_cast<std::uint8_t>(x * 7 + y), g = static_cast<std::uint8_t>(y * 5),
                         b = static_cast<std::uint8_t>(x ^ y);
      raw.insert(raw.end(), {b, g, r, 0});
      rgb.insert(rgb.end(), {r, g, b});
    }
  }
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
}

std::optional<Process> start_x11vnc(const fs::path& file, std::uint16_t port, const std::string& version,
                                    const std::optional<fs::path>& passwd) {
  std::vector<std::string> argv{
      "x11vnc",
      "-rawfb",
      "map:" + file.string() + "@" + std::to_string(kRawWidth) + "x" + std::to_string(kRawHeight) + "x32",
      "-rfbport",
      std::to_string(port),
      "-localhost",
      "-rfbversion",
      version,
      "-forever",
      "-shared",
      "-nocursor",
      "-q"};
  if (passwd) {
    argv.insert(argv.end(), {"-rfbauth", passwd->string()});
  } else {
    argv.push_back("-nopw");
  }
  auto p = Process::start(argv, {});
  if (!p || !eventually([&] { return rfb_test::port_accepts(port); }, 15s)) return std::nullopt;
  return p;
}

TEST(RfbX11vnc, EveryAnnouncedVersionGivesTheSamePicture) {
  TempDir dir;
  std::vector<std::uint8_t> rgb;
  write_raw_picture(dir / "fb.raw", rgb);
  const auto passwd = dir / "passwd";
  ASSERT_TRUE(run("x11vnc -storepasswd secret " + passwd.string() + " > /dev/null 2>&1"));
  struct Case {
    const char* version;
    bool with_password;
  } cases[] = {{"3.3", false}, {"3.7", false}, {"3.8", false}, {"4.1", false},
               {"3.3", true},  {"3.7", true},  {"3.8", true}};
  for (const auto& c : cases) {
    const std::string name = std::string(c.version) + (c.with_password ? " with password" : "");
    const std::uint16_t port = rfb_test::free_port();
    auto server =
        start_x11vnc(dir / "fb.raw", port, c.version, c.with_password ? std::optional<fs::path>(passwd) : std::nullopt);
    ASSERT_TRUE(server) << name << ": x11vnc did not start";
    auto session = remote::rfb::VncSession::spawn(
        {"127.0.0.1", c.with_password ? std::optional<std::string>("secret") : std::nullopt, port});
    ASSERT_TRUE(session);
    std::optional<remote::rfb::Framebuffer> shown;
    EXPECT_TRUE(eventually([&] {
      if (auto f = session->take_frame()) shown = f;
      return shown && mismatches(*shown, rgb) == 0;
    })) << name
        << ": status " << session->status().message;
    if (c.with_password) {
      auto refused = remote::rfb::VncSession::spawn({"127.0.0.1", "wrong", port});
      ASSERT_TRUE(refused);
      ASSERT_TRUE(eventually([&] { return refused->status().kind == Kind::Failed; })) << name;
      EXPECT_FALSE(refused->status().message.empty()) << name;
    }
    // Stopping the server ends the session: a clean close, or a reset when
    // x11vnc goes with our requests still unread.
    server->stop();
    EXPECT_TRUE(eventually([&] {
      const auto st = session->status();
      return st.kind == Kind::Ended || st == SessionStatus::failed("Connection reset by peer");
    })) << name
        << ": " << session->status().message;
  }
}

}  // namespace
