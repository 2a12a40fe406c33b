// The paint pass of the real application at 1280x800, per frame: the display
// list (RemoteApp::draw through the host) plus its raster, two ways:
//   Full:    every frame rasterised whole (what the launcher used to do);
//   Changed: what the launcher does now: compare with the last frame and
//            rasterise only the damaged rectangles (nothing when unchanged).
// Screens: the list with 8, 1,000 and 10,000 connections, the new-connection
// form, a connected SSH screen of coloured text (static, one new line per
// frame, a new screen per frame) and a 1920x1080 VNC picture in the
// framebuffer's layout (unchanged, new every frame with nothing known of what
// changed, one 64x64 tile changed per frame). Each frame is timed on its own;
// p50_ms and p99_ms are the median and 99th percentile over the frames of a
// run, and p50_cpu_ms the median of their CPU time.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/samples.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "platform/vesk_ui/render/cairo_renderer.hpp"
// The same file measures an older tree, without damage tracking, for a baseline.
#if __has_include("platform/vesk_ui/render/damage.hpp")
#include "platform/vesk_ui/render/damage.hpp"
#define PAINT_BENCH_DAMAGE 1
#endif

namespace {

using remote::ConnectionKind;
using remote::app::RemoteApp;
using remote::app::SessionStatus;
using remote::app::UiMessage;
using namespace std::chrono_literals;

constexpr std::uint32_t kWidth = 1280, kHeight = 800;
constexpr int kFrames = 400;

std::vector<remote::SavedConnection> connections(int n) {
  std::vector<remote::SavedConnection> out;
  out.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    remote::SavedConnection c;
    c.id = remote::Uuid::new_v4();
    c.name = "Machine " + std::to_string(i);
    switch (i % 4) {
      case 0:
        c.kind = ConnectionKind::Ssh;
        c.host = "host-" + std::to_string(i) + ".example.net";
        c.port = 22;
        c.user = "admin";
        break;
      case 1:
        c.kind = ConnectionKind::Vnc;
        c.host = "192.0.2." + std::to_string(i % 250);
        c.port = 5900;
        break;
      case 2:
        c.kind = ConnectionKind::Rdp;
        c.host = "desk-" + std::to_string(i) + ".example.org";
        c.port = 3389;
        c.user = "ops";
        break;
      default:
        c.kind = ConnectionKind::Vesk;
        c.host = remote::app::sample_endpoint_id(static_cast<std::size_t>(i / 4) % 4);
        c.auth = remote::AuthKind::DeviceIdentity;
        break;
    }
    c.last_used = "Never";
    c.group = i % 10 == 0 ? "Lab" : "";
    c.favorite = i % 17 == 0;
    out.push_back(std::move(c));
  }
  return out;
}

// This thread's CPU time: on a busy machine a frame's wall time includes
// waiting for a core, its CPU time does not.
double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A line of coloured shell-like text, different for every n.
std::string coloured_line(std::uint64_t n) {
  std::string s;
  for (int k = 0; k < 8; ++k) {
    s += "\x1b[1;3" + std::to_string(1 + (n + k) % 7) + "m" + "item-" + std::to_string(n * 8 + k) + "\x1b[0m ";
  }
  return s;
}

constexpr std::uint32_t kPictureWidth = 1920, kPictureHeight = 1080, kTile = 64;

// A desktop-like pattern, B, G, R, A bytes as the VNC framebuffer keeps them.
std::shared_ptr<std::vector<std::uint8_t>> pattern() {
  auto px = std::make_shared<std::vector<std::uint8_t>>(std::size_t{kPictureWidth} * kPictureHeight * 4);
  for (std::uint32_t y = 0; y < kPictureHeight; ++y) {
    for (std::uint32_t x = 0; x < kPictureWidth; ++x) {
      std::uint8_t* p = px->data() + (std::size_t{y} * kPictureWidth + x) * 4;
      p[0] = static_cast<std::uint8_t>(x ^ y);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x);
      p[3] = 255;
    }
  }
  return px;
}

vesk_ui::scene::Image picture() {
  static const vesk_ui::scene::PixelBuffer pixels = pattern();
  return vesk_ui::scene::Image::from_bgra(pixels, kPictureWidth, kPictureHeight);
}

// Pictures as a VNC session hands them over while one tile changes per
// frame: two buffers taking turns (the worker recycles them), each brought up
// to date before its tile is drawn, and what changed since the picture before.
class TileStream {
 public:
  vesk_ui::scene::Image next(const std::optional<vesk_ui::scene::Image>& shown) {
    auto& buffer = buffers_[turn_++ % 2];
    if (shown) std::memcpy(buffer->data(), shown->pixels->data(), buffer->size());
    const std::uint32_t tx = kTile * (turn_ % (kPictureWidth / kTile));
    const std::uint32_t ty = kTile * ((turn_ / (kPictureWidth / kTile)) % (kPictureHeight / kTile));
    for (std::uint32_t y = ty; y < ty + kTile; ++y) {
      for (std::uint32_t x = tx; x < tx + kTile; ++x) {
        std::uint8_t* p = buffer->data() + (std::size_t{y} * kPictureWidth + x) * 4;
        p[0] = static_cast<std::uint8_t>(turn_ * 40);
        p[1] = static_cast<std::uint8_t>(turn_ * 70 + x);
        p[2] = static_cast<std::uint8_t>(y);
      }
    }
    auto image = vesk_ui::scene::Image::from_bgra(buffer, kPictureWidth, kPictureHeight);
    if (shown) image.set_changed_since(*shown, {{tx, ty, kTile, kTile}});
    return image;
  }

 private:
  std::shared_ptr<std::vector<std::uint8_t>> buffers_[2] = {pattern(), pattern()};
  std::uint64_t turn_ = 0;
};

enum class Screen { List, Form, SshStatic, SshLine, SshScreen, VncUnchanged, VncNew, VncTile };
enum class Mode { Full, Changed };

std::unique_ptr<RemoteApp> build(Screen screen, int count) {
  auto app = std::make_unique<RemoteApp>(connections(count), remote::app::sample_devices());
  auto& state = app->state_mut();
  remote::app::Document scratch;
  switch (screen) {
    case Screen::List: break;
    case Screen::Form: app->apply_message(UiMessage::new_connection(), scratch); break;
    case Screen::SshStatic:
    case Screen::SshLine:
    case Screen::SshScreen: {
      app->show_session_status(ConnectionKind::Ssh, SessionStatus::connected());
      remote::vt::Terminal terminal(remote::app::kTerminalColumns, remote::app::kTerminalRows);
      for (std::uint64_t i = 0; i < remote::app::kTerminalRows; ++i) terminal.feed(coloured_line(i) + "\r\n");
      state.review_terminal = std::move(terminal);
      break;
    }
    case Screen::VncUnchanged:
    case Screen::VncNew:
    case Screen::VncTile:
      app->show_session_status(ConnectionKind::Vnc, SessionStatus::connected());
      state.session_picture = picture();
      break;
  }
  return app;
}

// What changes on the screen before frame n.
void step(RemoteApp& app, Screen screen, std::uint64_t n, TileStream& tiles) {
  auto& state = app.state_mut();
  switch (screen) {
    case Screen::SshLine:
      state.review_terminal->feed(coloured_line(1000 + n) + "\r\n");
      state.redraw = true;
      break;
    case Screen::SshScreen:
      for (std::uint64_t i = 0; i < remote::app::kTerminalRows; ++i) {
        state.review_terminal->feed(coloured_line(n * 100 + i) + "\r\n");
      }
      state.redraw = true;
      break;
    case Screen::VncNew:
      state.session_picture = picture();
      state.redraw = true;
      break;
    case Screen::VncTile:
      state.session_picture = tiles.next(state.session_picture);
      state.redraw = true;
      break;
    default: break;
  }
}

void BM_Paint(benchmark::State& bench, Screen screen, int count, Mode mode) {
  vesk_ui::headless::HeadlessOptions options;
  options.width = kWidth;
  options.height = kHeight;
  vesk_ui::headless::HeadlessHost host(build(screen, count), options);
  auto& app = host.widget_as<RemoteApp>();
  vesk_ui::render::CairoRenderer renderer(host.pango());
  vesk_ui::render::Frame frame(kWidth, kHeight);
#ifdef PAINT_BENCH_DAMAGE
  vesk_ui::render::DamageTracker tracker;
#endif
  auto one_frame = [&] {
    host.advance(16ms);
    const auto& scene = host.paint();
    if (mode == Mode::Full) {
      vesk_ui::render::render_frame(renderer, scene, frame, 1.0, vesk_ui::scene::Color::black());
    } else {
#ifdef PAINT_BENCH_DAMAGE
      const auto damage =
          tracker.update(scene, host.pango(), vesk_ui::scene::Affine::identity(), kWidth, kHeight, false);
      vesk_ui::render::render_damage(renderer, scene, frame, 1.0, vesk_ui::scene::Color::black(), damage,
                                     tracker.bounds());
#endif
    }
    benchmark::DoNotOptimize(frame.surface());
  };
  // Let the first frame (document seeding, flap, caches) settle.
  for (int i = 0; i < 20; ++i) one_frame();
  std::vector<double> ms, cpu_ms;
  std::uint64_t n = 0;
  TileStream tiles;
  for (auto _ : bench) {
    step(app, screen, n++, tiles);
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = thread_cpu_ms();
    one_frame();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    // Only the frame counts, not the change made before it.
    bench.SetIterationTime(took.count());
    ms.push_back(took.count() * 1000.0);
    cpu_ms.push_back(thread_cpu_ms() - cpu0);
  }
  std::sort(ms.begin(), ms.end());
  std::sort(cpu_ms.begin(), cpu_ms.end());
  if (!ms.empty()) {
    bench.counters["p50_ms"] = ms[ms.size() / 2];
    bench.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    bench.counters["p50_cpu_ms"] = cpu_ms[cpu_ms.size() / 2];
  }
}

void register_all() {
  struct Case {
    const char* name;
    Screen screen;
    int count;
  };
  const Case cases[] = {
      {"List8", Screen::List, 8},
      {"List1000", Screen::List, 1000},
      {"List10000", Screen::List, 10000},
      {"Form", Screen::Form, 8},
      {"SshStatic", Screen::SshStatic, 8},
      {"SshNewLine", Screen::SshLine, 8},
      {"SshNewScreen", Screen::SshScreen, 8},
      {"VncUnchanged", Screen::VncUnchanged, 8},
      {"VncNewPicture", Screen::VncNew, 8},
      {"VncTileChanged", Screen::VncTile, 8},
  };
  for (const Case& c : cases) {
    for (Mode mode : {Mode::Full, Mode::Changed}) {
#ifndef PAINT_BENCH_DAMAGE
      if (mode == Mode::Changed) continue;
#endif
      const std::string name = std::string("Paint/") + c.name + (mode == Mode::Full ? "/Full" : "/Changed");
      benchmark::RegisterBenchmark(name.c_str(), BM_Paint, c.screen, c.count, mode)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(kFrames)
          ->UseManualTime();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
