// Decoding from memory: the cost of applying one update to a 1920 × 1080
// framebuffer, against memcpy of the same number of bytes.

#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>

#include "apps/remote/src/rfb/decode.hpp"
#include "bench/rfb/streams.hpp"

namespace {

using namespace rfb_bench;

// Mode 0: nothing published. 1: the frame slot holds the previous frame,
// so every update starts from a new buffer and copies into it what it does
// not overwrite. 2: the same with recycling, as the worker runs: the buffer
// the slot let go of is brought up to date instead, again only where the
// update does not overwrite it.
void run_updates(benchmark::State& state, const Bytes& update, std::size_t payload, std::int64_t mode) {
  remote::rfb::Framebuffer fb(kWidth, kHeight);
  if (mode == 2) fb.enable_recycling();
  for (auto _ : state) {
    std::optional<remote::rfb::Framebuffer> slot;
    if (mode != 0) slot = fb;
    remote::rfb::MemoryStream in(update.v);
    auto n = remote::rfb::read_framebuffer_update(in, fb, remote::rfb::kClientPixelFormat);
    if (!n) state.SkipWithError(n.error().message.c_str());
    benchmark::DoNotOptimize(fb.pixels().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["updates/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Raw1080p(benchmark::State& state) {
  Bytes b;
  raw_update(b, 1, false);
  run_updates(state, b, std::size_t{kWidth} * kHeight * 4, state.range(0));
}
BENCHMARK(BM_Raw1080p)->Arg(0)->Arg(1)->Arg(2)->ArgName("mode");

// A 64 × 64 Raw tile, as typing or a moving cursor sends.
void BM_RawTile64(benchmark::State& state) {
  Bytes b;
  b.u8(0), b.u16(1), b.rect(640, 480, 64, 64, 0);
  for (int i = 0; i < 64 * 64; ++i) b.pixel(0x203040u + static_cast<std::uint32_t>(i));
  run_updates(state, b, 64 * 64 * 4, state.range(0));
}
BENCHMARK(BM_RawTile64)->Arg(0)->Arg(1)->Arg(2)->ArgName("mode");

void BM_Memcpy1080p(benchmark::State& state) {
  const std::size_t n = std::size_t{kWidth} * kHeight * 4;
  std::vector<std::uint8_t> src(n, 1), dst(n, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), n);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_Memcpy1080p);

void BM_CopyRectFullScreen(benchmark::State& state) {
  Bytes b;
  copy_rect_update(b, false);
  // Bytes here are framebuffer bytes moved.
  run_updates(state, b, std::size_t{kWidth} * kHeight * 4, state.range(0));
}
BENCHMARK(BM_CopyRectFullScreen)->Arg(0)->Arg(1)->Arg(2)->ArgName("mode");

void BM_Rre10kSubrects(benchmark::State& state) {
  Bytes b;
  rre_update(b, 7, false);
  run_updates(state, b, b.v.size(), state.range(0));
}
BENCHMARK(BM_Rre10kSubrects)->Arg(0)->Arg(1)->Arg(2)->ArgName("mode");

}  // namespace

BENCHMARK_MAIN();
