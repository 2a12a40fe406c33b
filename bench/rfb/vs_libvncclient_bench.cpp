// The same server stream replayed to this client and to libvncclient in one
// run: CPU time of the client thread per update, and equal final pictures.
// Streams: one recorded from TigerVNC's Xvnc (an X client drawing and
// scrolling, so Raw, RRE and CopyRect), and generated ones of one encoding
// each after a full-screen Raw picture.

#include <benchmark/benchmark.h>
#include <rfb/rfbclient.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <pthread.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "apps/remote/src/rfb/decode.hpp"
#include "apps/remote/src/rfb/handshake.hpp"
#include "apps/remote/src/rfb/messages.hpp"
#include "apps/remote/src/rfb/session.hpp"
#include "apps/remote/src/rfb/socket.hpp"
#include "bench/rfb/streams.hpp"
#include "tests/apps/remote/rfb/peers.hpp"

namespace {

namespace sync = remote::sync;

using namespace rfb_bench;

double thread_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Sends a 3.8 handshake (security None) and the first recorded update to one
// client on 127.0.0.1, waits until the client asks for an incremental update
// (it has applied the first one and is idle), notes the CPU time of the
// client's thread then, and sends the rest byte for byte. What the client
// sends is otherwise discarded. Every client is measured from that mark, so
// the handshake, the first picture and allocating the framebuffer are left out.
class ReplayServer {
 public:
  ReplayServer(const std::vector<std::uint8_t>& updates, std::size_t first_end, clockid_t client_clock) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 1) != 0)
      std::abort();
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, &updates, first_end, client_clock] {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      Bytes hs;
      for (char c : std::string("RFB 003.008\n")) hs.u8(static_cast<std::uint8_t>(c));
      hs.u8(1), hs.u8(1), hs.u32(0);
      hs.u16(kWidth), hs.u16(kHeight);
      for (std::uint8_t b : remote::rfb::kClientPixelFormat.to_wire()) hs.u8(b);
      hs.u32(6);
      for (char c : std::string("replay")) hs.u8(static_cast<std::uint8_t>(c));
      std::thread drain([this, fd] { drain_client(fd); });
      send_all(fd, hs.v.data(), hs.v.size());
      send_all(fd, updates.data(), first_end);
      {
        std::unique_lock lock(mutex_);
        asked_.wait_for(lock, std::chrono::seconds(10), [this] { return asked_incremental_; });
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the client settles into its wait
      timespec ts{};
      clock_gettime(client_clock, &ts);
      mark_ = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
      send_all(fd, updates.data() + first_end, updates.size() - first_end);
      ::shutdown(fd, SHUT_WR);  // the client reads everything, then sees the end
      drain.join();
      ::close(fd);
    });
  }
  ~ReplayServer() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t port() const { return port_; }
  // The client thread's CPU time when it had applied the first update; valid
  // once the client has seen the end of the stream.
  double mark() const { return mark_; }

 private:
  static void send_all(int fd, const std::uint8_t* b, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
      const ssize_t n = ::send(fd, b + sent, size - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  // Reads the client's messages until it closes, and tells the sender about
  // the first incremental FramebufferUpdateRequest.
  void drain_client(int fd) {
    std::vector<std::uint8_t> in;
    std::size_t at = 12 + 1 + 1;  // ProtocolVersion, security type, ClientInit
    bool parsing = true;
    std::uint8_t buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      if (!parsing) continue;
      in.insert(in.end(), buf, buf + n);
      for (;;) {
        if (at >= in.size()) break;
        const std::size_t left = in.size() - at;
        std::size_t size = 0;
        switch (in[at]) {
          case 0: size = 20; break;
          case 2: size = left >= 4 ? 4 + 4 * std::size_t((in[at + 2] << 8) | in[at + 3]) : 0; break;
          case 3: size = 10; break;
          case 4: size = 8; break;
          case 5: size = 6; break;
          case 6:
            size = left >= 8
                       ? 8 + ((std::size_t{in[at + 4]} << 24) | (in[at + 5] << 16) | (in[at + 6] << 8) | in[at + 7])
                       : 0;
            break;
          default:  // not understood: stop looking, and do not hold the stream back
            parsing = false;
            notify_asked();
            break;
        }
        if (!parsing || size == 0 || left < size) break;
        if (in[at] == 3 && in[at + 1] == 1) notify_asked();
        at += size;
      }
    }
    notify_asked();
  }
  void notify_asked() {
    std::lock_guard lock(mutex_);
    asked_incremental_ = true;
    asked_.notify_all();
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable asked_;
  bool asked_incremental_ = false;
  double mark_ = 0;
  std::thread thread_;
};

clockid_t this_thread_clock() {
  clockid_t id{};
  pthread_getcpuclockid(pthread_self(), &id);
  return id;
}

struct Run {
  double cpu_per_update = 0;  // seconds, updates after the first
  std::vector<std::uint8_t> rgb;
  bool ok = false;
};

// This client's own loop, as the worker runs it minus publication.
Run run_ours(const std::vector<std::uint8_t>& stream, std::size_t first_end, int updates) {
  Run run;
  ReplayServer server(stream, first_end, this_thread_clock());
  auto cancel = remote::rfb::CancelSignal::create().value();
  auto sock = remote::rfb::connect_tcp("127.0.0.1", server.port(), *cancel, std::chrono::seconds(10));
  if (!sock) return run;
  remote::rfb::SocketStream s(sock->fd(), *cancel);
  auto init = remote::rfb::run_handshake(s, s, std::nullopt);
  if (!init) return run;
  remote::rfb::Framebuffer fb(init->width, init->height);
  if (!remote::rfb::request_update(s, false, fb)) return run;
  for (int i = 0; i < updates; ++i) {
    auto type = s.read_u8();
    if (!type || *type != 0) return run;
    if (!remote::rfb::read_framebuffer_update(s, fb, remote::rfb::kClientPixelFormat)) return run;
    if (!remote::rfb::request_update(s, true, fb)) return run;
  }
  const double end = thread_cpu_seconds();
  if (!s.read_u8()) {  // the end of the stream: the mark is set
    run.cpu_per_update = (end - server.mark()) / (updates - 1);
  }
  const auto px = fb.pixels();
  // Stored as B, G, R, A.
  for (std::size_t i = 0; i < px.size(); i += 4) run.rgb.insert(run.rgb.end(), {px[i + 2], px[i + 1], px[i]});
  run.ok = run.cpu_per_update > 0;
  return run;
}

// The whole worker thread body, publication included, up to its end at the
// end of the stream (which frees its buffers). Gives the CPU time per update.
double worker_cpu(const std::vector<std::uint8_t>& stream, std::size_t first_end, int updates) {
  ReplayServer server(stream, first_end, this_thread_clock());
  auto status =
      std::make_shared<sync::LatestSlot<remote::rfb::SessionStatus>>(remote::rfb::SessionStatus::connecting());
  auto frames = std::make_shared<sync::LatestSlot<remote::rfb::Framebuffer>>();
  auto [tx, rx] = sync::bounded_queue<remote::rfb::VncInput>(remote::rfb::kInputQueueCapacity);
  remote::rfb::run_vnc_session({"127.0.0.1", std::nullopt, server.port()}, status, frames, std::move(rx),
                               remote::rfb::CancelSignal::create().value());
  const double end = thread_cpu_seconds();
  const auto frame = frames->get();
  if (!frame || frame->generation() != static_cast<std::uint64_t>(updates)) return 1;
  return (end - server.mark()) / (updates - 1);
}

int g_finished = 0;
int g_expected = 0;
double g_end = 0;
void on_finished(rfbClient*) {
  if (++g_finished == g_expected) g_end = thread_cpu_seconds();
}
void quiet(const char*, ...) {}

Run run_libvncclient(const std::vector<std::uint8_t>& stream, std::size_t first_end, int updates) {
  Run run;
  ReplayServer server(stream, first_end, this_thread_clock());
  rfbClientLog = rfbClientErr = quiet;
  rfbClient* cl = rfbGetClient(8, 3, 4);
  // The same pixel layout as ours on the wire, so one stream serves both.
  cl->format.redShift = 16;
  cl->format.greenShift = 8;
  cl->format.blueShift = 0;
  cl->appData.encodingsString = "copyrect rre raw";
  cl->serverHost = strdup("127.0.0.1");
  cl->serverPort = server.port();
  cl->FinishedFrameBufferUpdate = on_finished;
  g_finished = 0;
  g_expected = updates;
  if (!rfbInitClient(cl, nullptr, nullptr)) return run;  // frees the client on failure
  while (g_finished < updates) {
    const int r = WaitForMessage(cl, 5'000'000);
    if (r <= 0 || !HandleRFBServerMessage(cl)) break;
  }
  if (g_finished == updates) {
    // Read on to the end of the stream, so the mark is set.
    while (WaitForMessage(cl, 5'000'000) > 0 && HandleRFBServerMessage(cl)) {
    }
    run.cpu_per_update = (g_end - server.mark()) / (updates - 1);
    const std::uint8_t* p = cl->frameBuffer;
    for (std::size_t i = 0; i < std::size_t{kWidth} * kHeight; ++i, p += 4)
      run.rgb.insert(run.rgb.end(), {p[2], p[1], p[0]});
    run.ok = run.cpu_per_update > 0;
  }
  std::free(cl->frameBuffer);
  rfbClientCleanup(cl);
  return run;
}

// Server messages after the handshake, the end of the first update in them,
// and the number of updates.
struct Recording {
  std::vector<std::uint8_t> bytes;
  std::size_t first_end = 0;
  int updates = 0;
};

template <class AddUpdate>
Recording generate(int updates, AddUpdate add_update) {
  Recording rec;
  Bytes b;
  raw_update(b, 99);
  rec.first_end = b.v.size();
  for (int i = 1; i < updates; ++i) add_update(b, i);
  rec.bytes = std::move(b.v);
  rec.updates = updates;
  return rec;
}

// Keeps a copy of every byte read through it.
class RecordingStream final : public remote::rfb::InputStream {
 public:
  RecordingStream(remote::rfb::InputStream& inner, std::vector<std::uint8_t>& out) : inner_(inner), out_(out) {}
  remote::rfb::Result<std::span<const std::uint8_t>> read_view(std::size_t n) override {
    auto v = inner_.read_view(n);
    if (v) out_.insert(out_.end(), v->begin(), v->end());
    return v;
  }

 private:
  remote::rfb::InputStream& inner_;
  std::vector<std::uint8_t>& out_;
};

// Records Xvnc at 1920 × 1080 while our X client draws and scrolls 40 times.
Recording record_xvnc() {
  Recording rec;
  auto server = rfb_test::Xvnc::start({"-SecurityTypes", "None"}, kWidth, kHeight);
  if (!server) return rec;
  auto painter = server->draw_pattern();
  if (!painter) return rec;
  auto cancel = remote::rfb::CancelSignal::create().value();
  auto sock = remote::rfb::connect_tcp("127.0.0.1", server->port, *cancel, std::chrono::seconds(10));
  if (!sock) return rec;
  remote::rfb::SocketStream s(sock->fd(), *cancel);
  auto init = remote::rfb::run_handshake(s, s, std::nullopt);
  if (!init || init->width != kWidth || init->height != kHeight) return rec;
  remote::rfb::Framebuffer fb(init->width, init->height);
  if (!remote::rfb::request_update(s, false, fb)) return rec;
  RecordingStream recorder(s, rec.bytes);
  auto pump = [&] {
    for (;;) {
      auto ready = s.wait_readable(std::chrono::milliseconds(400), -1);
      if (!ready) return false;
      if (!ready->socket) return true;
      auto type = recorder.read_u8();
      if (!type || *type != 0) return false;
      if (!remote::rfb::read_framebuffer_update(recorder, fb, remote::rfb::kClientPixelFormat)) return false;
      if (++rec.updates == 1) rec.first_end = rec.bytes.size();
      if (!remote::rfb::request_update(s, true, fb)) return false;
    }
  };
  if (!pump()) return {};
  for (int i = 0; i < 40; ++i) {
    if (!painter->write_line("scroll") || painter->read_line() != "scrolled" || !pump()) return {};
  }
  return rec;
}

void compare(benchmark::State& state, const Recording& rec) {
  if (rec.updates < 2) {
    state.SkipWithError("no recording");
    return;
  }
  // The least of the runs: what the code costs, with the least interference
  // from whatever else the machine does. The three run back to back in every
  // iteration, so they see the same machine.
  double ours = 1e9, theirs = 1e9, worker = 1e9;
  bool equal = true;
  for (auto _ : state) {
    const Run a = run_ours(rec.bytes, rec.first_end, rec.updates);
    const Run b = run_libvncclient(rec.bytes, rec.first_end, rec.updates);
    const double w = worker_cpu(rec.bytes, rec.first_end, rec.updates);
    if (!a.ok || !b.ok || w >= 1) {
      state.SkipWithError("a replay failed");
      return;
    }
    equal = equal && a.rgb == b.rgb;
    ours = std::min(ours, a.cpu_per_update);
    theirs = std::min(theirs, b.cpu_per_update);
    worker = std::min(worker, w);
    state.SetIterationTime(a.cpu_per_update);
  }
  state.counters["updates"] = rec.updates;
  state.counters["ours_us"] = ours * 1e6;
  state.counters["worker_us"] = worker * 1e6;
  state.counters["libvncclient_us"] = theirs * 1e6;
  state.counters["libvnc_over_ours"] = theirs / ours;
  state.counters["libvnc_over_worker"] = theirs / worker;
  state.counters["frames_equal"] = equal ? 1 : 0;
}

void BM_ReplayRecordedXvnc(benchmark::State& state) {
  static const Recording rec = record_xvnc();
  compare(state, rec);
}
void BM_ReplayRaw(benchmark::State& state) {
  static const Recording rec = generate(16, [](Bytes& b, int i) { raw_update(b, static_cast<std::uint32_t>(i)); });
  compare(state, rec);
}
void BM_ReplayCopyRect(benchmark::State& state) {
  static const Recording rec = generate(400, [](Bytes& b, int) { copy_rect_update(b); });
  compare(state, rec);
}
void BM_ReplayRre(benchmark::State& state) {
  static const Recording rec = generate(200, [](Bytes& b, int i) { rre_update(b, static_cast<std::uint32_t>(i)); });
  compare(state, rec);
}
BENCHMARK(BM_ReplayRecordedXvnc)->UseManualTime()->Iterations(9)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplayRaw)->UseManualTime()->Iterations(9)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplayCopyRect)->UseManualTime()->Iterations(9)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplayRre)->UseManualTime()->Iterations(9)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
