#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "apps/remote/src/rfb/session.hpp"
#include "apps/remote/src/rfb/wire.hpp"
#include "tests/apps/remote/rfb/scripted_server.hpp"

namespace {

namespace sync = remote::sync;

using namespace std::chrono_literals;
using remote::rfb::SessionStatus;
using remote::rfb::VncSession;
using rfb_test::Gate;
using rfb_test::Peer;
using rfb_test::rgba;
using rfb_test::ScriptedServer;
using rfb_test::Wire;
using Kind = SessionStatus::Kind;

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return pred();
}

VncSession spawn(std::uint16_t port, std::optional<std::string> password = std::nullopt) {
  auto s = VncSession::spawn({"127.0.0.1", std::move(password), port});
  if (!s) throw std::runtime_error(s.error());
  return std::move(*s);
}

// Reads client messages until `n` incremental update requests have come.
bool incremental_requests(Peer& peer, int n) {
  for (int seen = 0; seen < n;) {
    auto m = peer.read_client_message();
    if (!m) return false;
    if ((*m)[0] == remote::rfb::client_message::kFramebufferUpdateRequest && (*m)[1] == 1) ++seen;
  }
  return true;
}

bool settled(const VncSession& s) {
  const auto k = s.status().kind;
  return k == Kind::Ended || k == Kind::Failed;
}

TEST(RfbSession, FramesAreHandedOutByGeneration) {
  Gate send_updates, updates_applied;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(4, 2));
    send_updates.wait();
    Wire w;
    w.u8(0).update(1).rect(0, 0, 1, 1, 0).pixel(1, 1, 1);
    w.u8(0).update(1).rect(1, 0, 1, 1, 0).pixel(2, 2, 2);
    ASSERT_TRUE(peer.send(w));
    // The client asks for more after each update it applied.
    ASSERT_TRUE(incremental_requests(peer, 2));
    updates_applied.open();
    peer.wait_closed(10s);
  });
  VncSession session = spawn(server.port());
  ASSERT_TRUE(eventually([&] { return session.status().kind == Kind::Connected; }));
  auto first = session.take_frame();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->generation(), 0u);
  for (auto b : first->pixels()) ASSERT_EQ(b, 0);
  EXPECT_FALSE(session.take_frame());
  EXPECT_EQ(session.frame_size(), (remote::rfb::FrameSize{4, 2}));

  send_updates.open();
  ASSERT_TRUE(updates_applied.wait());
  ASSERT_TRUE(eventually([&] { return session.take_frame().has_value(); }));
  EXPECT_FALSE(session.take_frame());
  // The frame held from before never changed under us.
  for (auto b : first->pixels()) ASSERT_EQ(b, 0);
}

TEST(RfbSession, UpdatesTrickledInSmallPiecesAndTinyMessagesAllArrive) {
  // A slow server: a large update in small pieces, then a one-byte Bell and
  // a small update, each of which must be applied without waiting for more.
  constexpr std::uint16_t W = 200, H = 100;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(W, H));
    Wire w;
    w.u8(0).update(1).rect(0, 0, W, H, 0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) w.pixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 9);
    for (std::size_t at = 0; at < w.bytes.size(); at += 1000) {
      const auto end = std::min(w.bytes.size(), at + 1000);
      ASSERT_TRUE(peer.send(std::vector<std::uint8_t>(w.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                      w.bytes.begin() + static_cast<std::ptrdiff_t>(end))));
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(peer.send(Wire().u8(2)));  // Bell
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(peer.send(Wire().u8(0).update(1).rect(5, 5, 1, 1, 0).pixel(1, 2, 3)));
    peer.wait_closed(10s);
  });
  VncSession session = spawn(server.port());
  std::optional<remote::rfb::Framebuffer> frame;
  ASSERT_TRUE(eventually([&] {
    if (auto f = session.take_frame()) frame = std::move(f);
    return frame && frame->generation() == 2;
  }));
  EXPECT_EQ(frame->pixel(5, 5), rgba(1, 2, 3));
  EXPECT_EQ(frame->pixel(199, 99), rgba(199, 99, 9));
  EXPECT_EQ(frame->pixel(0, 0), rgba(0, 0, 9));
  EXPECT_EQ(session.status().kind, Kind::Connected);
}

TEST(RfbSession, TwoUpdatesBetweenTakesGiveOnlyTheNewer) {
  Gate updates_applied;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(2, 1));
    Wire w;
    w.u8(0).update(1).rect(0, 0, 1, 1, 0).pixel(1, 1, 1);
    w.u8(0).update(1).rect(1, 0, 1, 1, 0).pixel(2, 2, 2);
    ASSERT_TRUE(peer.send(w));
    ASSERT_TRUE(incremental_requests(peer, 2));
    updates_applied.open();
    peer.wait_closed(10s);
  });
  VncSession session = spawn(server.port());
  ASSERT_TRUE(updates_applied.wait());
  auto frame = session.take_frame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->generation(), 2u);
  EXPECT_EQ(frame->pixel(0, 0), rgba(1, 1, 1));
  EXPECT_EQ(frame->pixel(1, 0), rgba(2, 2, 2));
  EXPECT_FALSE(session.take_frame());
}

TEST(RfbSession, EachFrameSaysWhatChangedSinceTheOneHandedOutBefore) {
  Gate first_taken, updates_applied;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(8, 4));
    first_taken.wait();
    Wire w;
    w.u8(0).update(1).rect(1, 1, 2, 1, 0).pixel(1, 1, 1).pixel(2, 2, 2);
    w.u8(0).update(1).rect(6, 3, 1, 1, 0).pixel(3, 3, 3);
    ASSERT_TRUE(peer.send(w));
    ASSERT_TRUE(incremental_requests(peer, 2));
    updates_applied.open();
    peer.wait_closed(10s);
  });
  VncSession session = spawn(server.port());
  std::optional<remote::rfb::VncFrame> first;
  ASSERT_TRUE(eventually([&] { return (first = session.take_update()).has_value(); }));
  EXPECT_FALSE(first->changed) << "nothing was handed out before";
  first_taken.open();
  ASSERT_TRUE(updates_applied.wait());
  auto next = session.take_update();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->frame.generation(), 2u);
  // Both updates, the one in between included.
  EXPECT_EQ(next->changed, (std::vector<remote::rfb::Area>{{1, 1, 2, 1}, {6, 3, 1, 1}}));
  EXPECT_FALSE(session.take_update());
}

TEST(RfbSession, InputIsForwardedAndAQuietServerGetsIncrementalRequests) {
  Gate done;
  std::vector<std::vector<std::uint8_t>> received;
  std::vector<std::chrono::steady_clock::time_point> request_times;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(640, 480));
    const auto until = std::chrono::steady_clock::now() + 1600ms;
    while (std::chrono::steady_clock::now() < until) {
      auto m = peer.read_client_message(200ms);
      if (!m) continue;
      if ((*m)[0] == 3) request_times.push_back(std::chrono::steady_clock::now());
      received.push_back(*m);
    }
    done.open();
    peer.wait_closed(10s);
  });
  VncSession session = spawn(server.port());
  ASSERT_TRUE(eventually([&] { return session.status().kind == Kind::Connected; }));
  ASSERT_TRUE(session.send_input(remote::rfb::VncKey{true, 0xFF0D}));
  ASSERT_TRUE(session.send_input(remote::rfb::VncKey{false, 0xFF0D}));
  ASSERT_TRUE(session.send_input(remote::rfb::VncPointer{5, 300, 2}));
  ASSERT_TRUE(done.wait());

  std::vector<std::vector<std::uint8_t>> events;
  for (const auto& m : received) {
    if (m[0] == 3) {
      EXPECT_EQ(m, (std::vector<std::uint8_t>{3, 1, 0, 0, 0, 0, 0x02, 0x80, 0x01, 0xE0}));
    } else {
      events.push_back(m);
    }
  }
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], (std::vector<std::uint8_t>{4, 1, 0, 0, 0, 0, 0xFF, 0x0D}));
  EXPECT_EQ(events[1], (std::vector<std::uint8_t>{4, 0, 0, 0, 0, 0, 0xFF, 0x0D}));
  EXPECT_EQ(events[2], (std::vector<std::uint8_t>{5, 5, 0x01, 0x2C, 0, 2}));
  // About one request every half second, never a burst.
  EXPECT_GE(request_times.size(), 2u);
  EXPECT_LE(request_times.size(), 4u);
  for (std::size_t i = 1; i < request_times.size(); ++i) EXPECT_GE(request_times[i] - request_times[i - 1], 400ms);
}

TEST(RfbSession, ServerCloseEndsOrFailsByPhase) {
  struct Case {
    const char* name;
    std::function<void(Peer&)> script;
    SessionStatus expected;
  } cases[] = {
      {"during handshake",
       [](Peer& p) {
         p.send(Wire().text("RFB 003.008\n"));
         p.recv_exact(12);
       },
       SessionStatus::failed("failed to fill whole buffer")},
      {"after connected", [](Peer& p) { p.handshake(8, 8); }, SessionStatus::ended()},
      {"in the middle of an update",
       [](Peer& p) {
         p.handshake(8, 8);
         p.send(Wire().u8(0).update(2).rect(0, 0, 1, 1, 0).pixel(1, 2, 3).rect(0, 0, 8, 8, 0).zeros(40));
       },
       SessionStatus::ended()},
  };
  for (auto& c : cases) {
    ScriptedServer server(c.script);
    VncSession session = spawn(server.port());
    ASSERT_TRUE(eventually([&] { return settled(session); })) << c.name;
    EXPECT_EQ(session.status(), c.expected) << c.name;
    // Nothing of a half-applied update is published.
    if (auto f = session.take_frame()) {
      EXPECT_EQ(f->generation(), 0u) << c.name;
    }
    EXPECT_EQ(session.send_input(remote::rfb::VncKey{true, 65}).error(), remote::rfb::kInputClosedText) << c.name;
  }
}

TEST(RfbSession, HostileServersFailWithClearTexts) {
  struct Case {
    const char* name;
    std::function<void(Peer&)> script;
    const char* text;
  } cases[] = {
      {"bad version",
       [](Peer& p) {
         p.send(Wire().text("RFB 003.889\n"));
         // The client writes nothing and goes away.
         EXPECT_TRUE(p.wait_closed(10s));
       },
       "bad ProtocolVersion"},
      {"no security types, lying reason length",
       [](Peer& p) {
         p.send(Wire().text("RFB 003.008\n").u8(0).u32(0xFFFFFFFF).text("partial"));
         p.recv_exact(12);
       },
       "the VNC server refused the connection"},
      {"huge rectangle",
       [](Peer& p) {
         p.handshake(8, 8);
         p.send(Wire().u8(0).update(1).rect(0, 0, 65535, 65535, 0));
         p.wait_closed(10s);
       },
       "RFB raw rectangle is too large"},
      {"too many rectangles",
       [](Peer& p) {
         p.handshake(8, 8);
         p.send(Wire().u8(0).update(65535));
         p.wait_closed(10s);
       },
       "RFB update has too many rectangles"},
      {"too many subrectangles",
       [](Peer& p) {
         p.handshake(8, 8);
         p.send(Wire().u8(0).update(1).rect(0, 0, 8, 8, 2).u32(0xFFFFFFFF));
         p.wait_closed(10s);
       },
       "RFB RRE update has too many subrectangles"},
      {"unknown message",
       [](Peer& p) {
         p.handshake(8, 8);
         p.send(Wire().u8(9));
         p.wait_closed(10s);
       },
       "unknown server message 9"},
      {"oversized desktop",
       [](Peer& p) {
         p.send(Wire().text("RFB 003.008\n").u8(1).u8(1));
         p.recv_exact(13);
         p.send(Wire().u32(0));
         p.recv_exact(1);
         p.send(Wire().server_init(65535, 65535));
         p.wait_closed(10s);
       },
       "RFB framebuffer dimensions exceed the 16 megapixel limit"},
  };
  for (auto& c : cases) {
    ScriptedServer server(c.script);
    VncSession session = spawn(server.port());
    ASSERT_TRUE(eventually([&] { return settled(session); })) << c.name;
    EXPECT_EQ(session.status(), SessionStatus::failed(c.text)) << c.name;
  }
}

TEST(RfbSession, CutTextColourMapsAndBellAreSkipped) {
  Gate done;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(2, 2));
    Wire w;
    w.u8(3).zeros(3).u32(3'000'000).zeros(3'000'000);  // cut text, skipped in chunks
    w.u8(1).u8(0).u16(0).u16(3).zeros(18);             // colour map entries
    w.u8(2);                                           // bell
    w.u8(0).update(1).rect(0, 0, 1, 1, 0).pixel(7, 8, 9);
    ASSERT_TRUE(peer.send(w));
    done.wait();
  });
  VncSession session = spawn(server.port());
  std::optional<remote::rfb::Framebuffer> frame;
  ASSERT_TRUE(eventually([&] {
    if (auto f = session.take_frame(); f && f->generation() == 1) frame = f;
    return frame.has_value();
  }));
  EXPECT_EQ(frame->pixel(0, 0), rgba(7, 8, 9));
  EXPECT_EQ(session.status().kind, Kind::Connected);
  done.open();
}

TEST(RfbSession, StalledUpdateFillsTheInputQueueAndDroppingEndsTheWorker) {
  Gate closed_seen;
  bool worker_closed = false;
  std::atomic<std::size_t> received_after_stall{0};
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(100, 100));
    // Half an update, then silence: the worker waits inside the message.
    ASSERT_TRUE(peer.send(Wire().u8(0).update(1).rect(0, 0, 100, 100, 0).zeros(1000)));
    while (auto byte = peer.recv_exact(1, 20s)) ++received_after_stall;
    worker_closed = true;  // the client closed (or 20 s passed, which fails below)
    closed_seen.open();
  });
  auto session = std::make_unique<VncSession>(spawn(server.port()));
  ASSERT_TRUE(eventually([&] { return session->status().kind == Kind::Connected; }));
  // One event that never reaches the server shows the worker is stuck in the update.
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(session->send_input(remote::rfb::VncPointer{0, 1, 1}));
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(received_after_stall.load(), 0u) << "the worker was not waiting inside the update";
  for (std::size_t i = 1; i < remote::rfb::kInputQueueCapacity; ++i) {
    ASSERT_TRUE(session->send_input(remote::rfb::VncPointer{0, 1, 1})) << i;
  }
  auto busy = session->send_input(remote::rfb::VncPointer{0, 2, 2});  // the 257th
  ASSERT_FALSE(busy);
  EXPECT_EQ(busy.error(), remote::rfb::kInputBusyText);

  const auto dropped_at = std::chrono::steady_clock::now();
  session.reset();
  ASSERT_TRUE(closed_seen.wait(25s));
  EXPECT_TRUE(worker_closed);
  EXPECT_LT(std::chrono::steady_clock::now() - dropped_at, 2s);
  EXPECT_EQ(received_after_stall.load(), 0u);  // the queued events died with the session
}

TEST(RfbSession, DroppedSessionLeavesTheStatusAlone) {
  // Run the thread body directly to watch its slots after the handle is gone.
  for (const bool in_handshake : {false, true}) {
    Gate closed_seen;
    ScriptedServer server([&](Peer& peer) {
      if (!in_handshake) {
        ASSERT_TRUE(peer.handshake(8, 8));
      }  // else: accept and say nothing
      peer.wait_closed(20s);
      closed_seen.open();
    });
    auto status = std::make_shared<sync::LatestSlot<SessionStatus>>(SessionStatus::connecting());
    auto frames = std::make_shared<sync::LatestSlot<remote::rfb::Framebuffer>>();
    auto cancel = remote::rfb::CancelSignal::create().value();
    auto [tx, rx] = sync::bounded_queue<remote::rfb::VncInput>(remote::rfb::kInputQueueCapacity);
    std::thread worker(remote::rfb::run_vnc_session, remote::rfb::VncTarget{"127.0.0.1", std::nullopt, server.port()},
                       status, frames, std::move(rx), cancel, remote::rfb::SessionTimings{});
    const auto expected = in_handshake ? Kind::Connecting : Kind::Connected;
    if (!in_handshake) {
      ASSERT_TRUE(eventually([&] { return status->get()->kind == Kind::Connected; }));
    } else {
      std::this_thread::sleep_for(200ms);
    }
    const auto dropped_at = std::chrono::steady_clock::now();
    cancel->fire();
    tx.reset();
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - dropped_at, 2s) << in_handshake;
    EXPECT_EQ(status->get()->kind, expected) << in_handshake;
    EXPECT_TRUE(closed_seen.wait(10s));
  }
}

TEST(RfbSession, SilentServerFailsTheHandshakeAfterTheStallLimit) {
  ScriptedServer server([](Peer& peer) { peer.wait_closed(20s); });
  auto status = std::make_shared<sync::LatestSlot<SessionStatus>>(SessionStatus::connecting());
  auto frames = std::make_shared<sync::LatestSlot<remote::rfb::Framebuffer>>();
  auto cancel = remote::rfb::CancelSignal::create().value();
  auto [tx, rx] = sync::bounded_queue<remote::rfb::VncInput>(remote::rfb::kInputQueueCapacity);
  remote::rfb::SessionTimings timings;
  timings.handshake_stall = 300ms;
  remote::rfb::run_vnc_session({"127.0.0.1", std::nullopt, server.port()}, status, frames, std::move(rx), cancel,
                               timings);
  EXPECT_EQ(*status->get(), SessionStatus::failed("the VNC server made no progress for 0.3 seconds"));
}

TEST(RfbSession, TriesEveryResolvedAddress) {
  // "localhost" may resolve to ::1 first, where nothing listens.
  Gate done;
  ScriptedServer server([&](Peer& peer) {
    ASSERT_TRUE(peer.handshake(4, 4));
    done.wait();
  });
  auto session = VncSession::spawn({"localhost", std::nullopt, server.port()});
  ASSERT_TRUE(session);
  EXPECT_TRUE(eventually([&] { return session->status().kind == Kind::Connected; })) << session->status().message;
  done.open();
}

TEST(RfbSession, ConnectFailures) {
  // A port that was just free: nothing listens there.
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(probe);
  VncSession refused = spawn(ntohs(addr.sin_port));
  ASSERT_TRUE(eventually([&] { return settled(refused); }));
  EXPECT_EQ(refused.status(), SessionStatus::failed("Connection refused"));

  // A NUL inside the host is refused, not cut short to "127.0.0.1".
  auto with_nul = VncSession::spawn({std::string("127.0.0.1\0.evil", 15), std::nullopt, ntohs(addr.sin_port)});
  ASSERT_TRUE(with_nul);
  ASSERT_TRUE(eventually([&] { return settled(*with_nul); }));
  EXPECT_EQ(with_nul->status(), SessionStatus::failed("could not resolve to any address"));

  auto unresolvable = VncSession::spawn({"no-such-host.invalid", std::nullopt, 5900});
  ASSERT_TRUE(unresolvable);
  ASSERT_TRUE(eventually([&] { return settled(*unresolvable); }));
  EXPECT_EQ(unresolvable->status().kind, Kind::Failed);
  EXPECT_FALSE(unresolvable->status().message.empty());
  EXPECT_FALSE(unresolvable->frame_size());
}

}  // namespace
